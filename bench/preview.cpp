// Benchmark: kalvessa100ctl preview over a generated capture file, against tcpdump reading the
// same file through the expression filter-expression prints, on the same machine in the same
// run. Needs no tap:
//   build/bench/bench_preview [--megabytes N]      (default 1024; the file lives in a temporary
//                                                   folder and is removed afterwards)
// Prints frames per second of both (goal: preview at least as fast as tcpdump) and the peak
// memory of preview on the whole file and on a file a sixteenth its size (goal: under 50 MB
// whatever the size).

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr long GoalKiB = 50 * 1024;
constexpr int Repeats = 2;  // the best of each, so neither pays for a cold cache alone

// Keep UDP from one /16 that is not the most common; much traffic is cut short by the
// capture's snap length, as on a capture server that keeps headers only.
const QStringList Settings = QStringLiteral("--filter=on --match=keep --ethertype=08:00 "
                                            "--ip-proto=11 --ip-src=10.1.*.*")
                                 .split(QLatin1Char(' '));

struct Measured
{
    bool ok = false;
    double seconds = 0;
    long peakKiB = 0;
};

// Runs a program with its output thrown away; the wall time and its peak resident set.
Measured measure(const QString &program, const QStringList &arguments)
{
    std::vector<QByteArray> storage{program.toLocal8Bit()};
    for (const QString &argument : arguments)
        storage.push_back(argument.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &argument : storage)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    QElapsedTimer clock;
    clock.start();
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    Measured measured;
    if (child > 0 && wait4(child, &status, 0, &usage) == child) {
        measured.seconds = clock.nsecsElapsed() / 1e9;
        measured.peakKiB = usage.ru_maxrss;
        // tcpdump ends with 1 on no error of its own either when it was killed; a clean end is 0.
        measured.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    return measured;
}

Measured bestOf(const QString &program, const QStringList &arguments)
{
    Measured best;
    for (int i = 0; i < Repeats; ++i) {
        const Measured run = measure(program, arguments);
        if (!run.ok)
            return run;
        if (!best.ok || run.seconds < best.seconds)
            best = run;
    }
    return best;
}

void put32(std::vector<uint8_t> &out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// A capture of mixed traffic: frame sizes as on a busy link (many small, some full), a few
// hundred hosts of which some talk far more than others, IPv4 mostly UDP or TCP, some IPv6.
// A third of the records are cut to 64 bytes by the capture's snap length, as tcpdump -s 64
// leaves them. Returns the number of frames.
uint64_t generate(const QString &path, uint64_t bytes)
{
    std::FILE *file = std::fopen(qPrintable(path), "wb");
    if (file == nullptr)
        return 0;
    std::mt19937 random(27);
    std::vector<uint8_t> out;
    put32(out, 0xa1b2c3d4);
    out.insert(out.end(), {2, 0, 4, 0});
    put32(out, 0);
    put32(out, 0);
    put32(out, 65535);
    put32(out, 1);
    if (std::fwrite(out.data(), 1, out.size(), file) != out.size()) {
        std::fclose(file);
        return 0;
    }
    const int sizes[] = {64, 64, 64, 64, 64, 64, 64, 576, 576, 576, 576, 1514};
    std::geometric_distribution<int> host(0.05);
    uint64_t written = 0;
    uint64_t frames = 0;
    std::vector<uint8_t> frame(1514);
    while (written < bytes) {
        const uint32_t length = static_cast<uint32_t>(sizes[random() % std::size(sizes)]);
        const bool snapped = random() % 3 == 0 && length > 64;
        const uint32_t captured = snapped ? 64 : length;
        const uint8_t source = static_cast<uint8_t>(host(random) % 250 + 1);
        const uint8_t destination = static_cast<uint8_t>(host(random) % 250 + 1);
        const bool ipv6 = random() % 10 == 0;
        const uint8_t header[] = {0x00,
                                  0x0e,
                                  0xc6,
                                  0x00,
                                  0x00,
                                  destination,  // destination
                                  0x00,
                                  0x16,
                                  0x3e,
                                  0x00,
                                  0x00,
                                  source,  // source
                                  static_cast<uint8_t>(ipv6 ? 0x86 : 0x08),
                                  static_cast<uint8_t>(ipv6 ? 0xdd : 0x00),
                                  0x45,
                                  0,
                                  0,
                                  0,
                                  0,
                                  0,
                                  0,
                                  0,
                                  64,
                                  static_cast<uint8_t>(random() % 2 ? 17 : 6),
                                  0,
                                  0,
                                  10,
                                  static_cast<uint8_t>(source % 4),
                                  0,
                                  source,
                                  10,
                                  static_cast<uint8_t>(destination % 4),
                                  0,
                                  destination};
        std::copy(std::begin(header), std::end(header), frame.begin());
        out.clear();
        put32(out, static_cast<uint32_t>(frames));
        put32(out, 0);
        put32(out, captured);
        put32(out, length);
        out.insert(out.end(), frame.begin(), frame.begin() + captured);
        if (std::fwrite(out.data(), 1, out.size(), file) != out.size())
            break;
        written += out.size();
        ++frames;
    }
    return std::fclose(file) == 0 && written >= bytes ? frames : 0;
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const int flag = arguments.indexOf(QStringLiteral("--megabytes"));
    const uint64_t megabytes = flag > 0 ? arguments.value(flag + 1).toULongLong() : 1024;
    const QString ctl = QStringLiteral(KALVESSA100CTL);
    const QString tcpdump = QStandardPaths::findExecutable(QStringLiteral("tcpdump"));

    QTemporaryDir dir;
    const QString large = dir.filePath(QStringLiteral("large.pcap"));
    const QString small = dir.filePath(QStringLiteral("small.pcap"));
    const uint64_t frames = generate(large, megabytes << 20);
    if (frames == 0 || generate(small, (megabytes << 20) / 16) == 0) {
        std::fprintf(stderr, "the capture files cannot be made in %s\n", qPrintable(dir.path()));
        return 2;
    }

    QProcess print;
    print.start(ctl, QStringList{QStringLiteral("filter-expression")} + Settings);
    print.waitForFinished();
    const QString expression = QString::fromLocal8Bit(print.readAllStandardOutput()).trimmed();
    std::printf("file: %llu MB, %llu frames; expression: %s\n",
                static_cast<unsigned long long>(megabytes), static_cast<unsigned long long>(frames),
                qPrintable(expression));

    const QStringList preview = QStringList{QStringLiteral("preview"), QStringLiteral("--pcap")};
    const Measured ours = bestOf(ctl, preview + QStringList{large} + Settings);
    const Measured ourSmall = bestOf(ctl, preview + QStringList{small} + Settings);
    if (!ours.ok || !ourSmall.ok) {
        std::fprintf(stderr, "kalvessa100ctl preview failed\n");
        return 1;
    }
    std::printf("preview: %.2f s, %.0f frames/s; peak memory %.1f MB (%.1f MB on a file of "
                "%llu MB); goal < %ld MB: %s\n",
                ours.seconds, frames / ours.seconds, ours.peakKiB / 1024.0,
                ourSmall.peakKiB / 1024.0, static_cast<unsigned long long>(megabytes / 16),
                GoalKiB / 1024,
                std::max(ours.peakKiB, ourSmall.peakKiB) < GoalKiB ? "met" : "MISSED");

    if (tcpdump.isEmpty()) {
        std::printf("tcpdump: missing (apt-get install tcpdump), no comparison\n");
        return 0;
    }
    const Measured theirs = bestOf(tcpdump,
                                   {QStringLiteral("-r"), large, QStringLiteral("-w"),
                                    QStringLiteral("/dev/null"), expression});
    if (!theirs.ok) {
        std::fprintf(stderr, "tcpdump failed\n");
        return 1;
    }
    std::printf("tcpdump -r FILE -w /dev/null EXPRESSION: %.2f s, %.0f frames/s, peak memory "
                "%.1f MB\npreview against tcpdump: %.2f times its speed; goal >= 1: %s\n",
                theirs.seconds, frames / theirs.seconds, theirs.peakKiB / 1024.0,
                theirs.seconds / ours.seconds, ours.seconds <= theirs.seconds ? "met" : "MISSED");
    return 0;
}
