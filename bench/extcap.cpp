// Frames per second that reach a capture file through the extcap (tshark -> kalvessa100-extcap
// -> the capture helper's FIFO) against tshark capturing on the tap's interface directly, while
// ordinary frames go into the interface from the far end of the veth pair, once as fast as the
// sender manages (a flood: the extcap's path then shares the processors with one more program,
// the helper) and once at a steady rate a busy link carries. The rate is taken from the captured frames' own timestamps, first to last,
// so the extcap's start (the settings read, the helper started) does not count against it.
//
// Runs inside a private network namespace (bench/run-all.sh) next to the simulated tap, with
// the extcap put into tshark's extcap folder over the namespace's private mounts. Prints
// figures; asserts nothing.
//
//   bench_extcap [--rounds N] [--seconds S] [--rate FRAMES_PER_SECOND]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include <net/if.h>
#include <netpacket/packet.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "BenchTap.h"

namespace {

constexpr int FrameLength = 60;
constexpr int GlobalHeader = 24;
constexpr int RecordHeader = 16;
constexpr double Goal = 0.9;

struct Measured
{
    quint64 frames = 0;
    double perSecond = 0;
};

// Frames and their rate, first timestamp to last, of a pcap file.
Measured measure(const QByteArray &file)
{
    Measured result;
    double first = 0, last = 0;
    for (qsizetype at = GlobalHeader; file.size() - at >= RecordHeader;) {
        quint32 word[4];
        memcpy(word, file.constData() + at, sizeof word);
        const double time = word[0] + word[1] / 1e6;
        if (result.frames++ == 0)
            first = time;
        last = time;
        at += RecordHeader + word[2];
    }
    if (result.frames > 1 && last > first)
        result.perSecond = double(result.frames - 1) / (last - first);
    return result;
}

// Ordinary frames (broadcast, a foreign source) into the tap's interface until told to stop;
// `rate` frames a second in bursts each millisecond, or with 0 as fast as they go.
void flood(const char *interface, int rate, const std::atomic<bool> &stop,
           std::atomic<quint64> &sent)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const int s = ::socket(AF_PACKET, SOCK_RAW, 0);
    sockaddr_ll to{};
    to.sll_family = AF_PACKET;
    to.sll_ifindex = int(if_nametoindex(interface));
    to.sll_halen = 6;
    unsigned char frame[FrameLength] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x02,
                                        0x4b, 0x56, 0x4a, 0x4e, 0x4b, 0x88, 0xb5};
    while (!stop.load()) {
        if (rate > 0) {
            const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
            if (double(sent.load()) >= elapsed * rate) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                continue;
            }
        }
        if (::sendto(s, frame, sizeof frame, 0, reinterpret_cast<sockaddr *>(&to), sizeof to) > 0)
            sent.fetch_add(1);
    }
    ::close(s);
}

Measured capture(const QString &tshark, const QString &interface, int seconds, int rate,
                 const QString &output, const char *farEnd)
{
    QFile::remove(output);
    std::atomic<bool> stop{false};
    std::atomic<quint64> sent{0};
    std::thread sender(flood, farEnd, rate, std::cref(stop), std::ref(sent));
    QProcess process;
    process.start(tshark,
                  {QStringLiteral("-i"), interface, QStringLiteral("-a"),
                   QStringLiteral("duration:%1").arg(seconds), QStringLiteral("-F"),
                   QStringLiteral("pcap"), QStringLiteral("-w"), output});
    process.waitForFinished(60000 + seconds * 1000);
    stop = true;
    sender.join();
    QFile file(output);
    file.open(QIODevice::ReadOnly);
    return measure(file.readAll());
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int rounds = 3;
    int seconds = 3;
    int steadyRate = 100000;
    const QStringList arguments = QCoreApplication::arguments();
    for (int i = 1; i + 1 < arguments.size(); i += 2) {
        if (arguments[i] == QLatin1String("--rounds"))
            rounds = std::max(1, arguments[i + 1].toInt());
        else if (arguments[i] == QLatin1String("--seconds"))
            seconds = std::max(1, arguments[i + 1].toInt());
        else if (arguments[i] == QLatin1String("--rate"))
            steadyRate = std::max(1, arguments[i + 1].toInt());
    }
    const QString tshark = QStandardPaths::findExecutable(QStringLiteral("tshark"));
    if (tshark.isEmpty()) {
        std::fprintf(stderr, "tshark is missing (scripts/install-deps.sh installs it)\n");
        return 0;
    }
    const auto bed = startBenchTap();
    if (!bed)
        return 0;

    QTemporaryDir scratch;
    QProcess folders;
    folders.start(tshark, {QStringLiteral("-G"), QStringLiteral("folders")});
    folders.waitForFinished();
    const QRegularExpressionMatch found =
        QRegularExpression(QStringLiteral("Extcap path:\\s*(\\S+)"))
            .match(QString::fromLocal8Bit(folders.readAllStandardOutput()));
    const QString extcapDir = scratch.filePath(QStringLiteral("extcap"));
    QDir().mkpath(extcapDir);
    QFile::link(QStringLiteral(KALVESSA100_EXTCAP),
                extcapDir + QStringLiteral("/kalvessa100-extcap"));
    if (!found.hasMatch()
        || ::mount(QFile::encodeName(extcapDir).constData(),
                   QFile::encodeName(found.captured(1)).constData(), nullptr, MS_BIND, nullptr)
            != 0) {
        std::fprintf(stderr, "cannot put the extcap into tshark's extcap folder\n");
        return 0;
    }

    const QByteArray farEnd = bed->tapInterface().toLocal8Bit();
    const QString output = scratch.filePath(QStringLiteral("capture.pcap"));
    for (const int rate : {0, steadyRate}) {
        std::vector<double> direct, through;
        for (int round = 0; round < rounds; ++round) {
            const Measured d =
                capture(tshark, bed->hostInterface(), seconds, rate, output, farEnd.constData());
            const Measured e = capture(tshark, QStringLiteral("kalvessa100-000ec6123456"), seconds,
                                       rate, output, farEnd.constData());
            direct.push_back(d.perSecond);
            through.push_back(e.perSecond);
            std::printf("%s round %d: direct %.0f frames/s (%llu frames), extcap %.0f frames/s "
                        "(%llu frames)\n",
                        rate == 0 ? "flood" : "steady", round + 1, d.perSecond,
                        static_cast<unsigned long long>(d.frames), e.perSecond,
                        static_cast<unsigned long long>(e.frames));
        }
        const double ratio = median(direct) > 0 ? median(through) / median(direct) : 0;
        const QString offered =
            rate == 0 ? QStringLiteral("a flood") : QStringLiteral("%1 frames/s offered").arg(rate);
        std::printf("%s, median over %d rounds of %d s: direct %.0f frames/s, through the extcap "
                    "%.0f frames/s: %.2f of direct (goal >= %.1f)\n",
                    qPrintable(offered), rounds, seconds, median(direct), median(through), ratio,
                    Goal);
    }
    return 0;
}
