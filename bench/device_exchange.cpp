// Benchmark: one generation-4 register exchange against the simulated tap.
// Run inside a private network namespace:
//   tools/testbed/in-netns.sh build/bench/bench_device_exchange [exchanges]
// Prints median and 95th percentile of:
//   session  - readRegister as the program does it (session opened and closed per exchange)
//   plain    - the same exchange over a capture opened with pcap_open_live instead
//   held     - the request and reply alone, over one capture left open throughout
//   helper   - readRegister as "session", through the capture helper (kalvessa100-link), as a
//              program without the capture privilege of its own does it
// with the context switches each session and helper exchange costs this program and its
// children (the simulated tap, the helper): what a loaded machine cannot blur,
// and how long setting up and tearing down the kernel capture take on their own (the session
// does each once, not per exchange), directly and through the helper (which starts it).
// The goal for "session" is a median of at most 1 ms.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <pcap/pcap.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include <unistd.h>

#include "FrameLayout.h"
#include "HelperFrameLink.h"
#include "MV1Device_v4.h"
#include "PacketSession.h"
#include "PcapFrameLink.h"
#include "BenchTap.h"

namespace {

constexpr int DefaultExchanges = 500;
constexpr double GoalMedianMs = 1.0;
constexpr int Address = 0x70001;
constexpr int PlainMissBudget = 10;

using Request = std::array<uint8_t, frame::RequestLength>;

Request readRequest()
{
    Request r{};
    r[frame::OpcodeOffset] = opcode::ReadRegister;
    frame::putAddress(r.data(), Address);
    return r;
}

struct Figures
{
    double median;
    double p95;
};

Figures figures(std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    const size_t p95 = std::min(ms.size() - 1, (ms.size() * 95 + 99) / 100 - 1);
    return {ms[ms.size() / 2], ms[p95]};
}

// Times `count` runs of `step`; false from a step stops the run.
bool timeRuns(int count, const std::function<bool()> &step, std::vector<double> *ms)
{
    for (int i = 0; i < count; ++i) {
        QElapsedTimer timer;
        timer.start();
        if (!step())
            return false;
        ms->push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    return true;
}

// Context switches so far of this process and of its children still running, from the
// kernel's account.
long contextSwitches()
{
    long total = 0;
    const QDir proc(QStringLiteral("/proc"));
    for (const QString &entry : proc.entryList(QDir::Dirs)) {
        bool number = false;
        const pid_t pid = entry.toInt(&number);
        QFile stat(proc.filePath(entry + QStringLiteral("/stat")));
        if (!number || !stat.open(QIODevice::ReadOnly))
            continue;
        // pid (comm) state ppid ...
        const QByteArray line = stat.readAll();
        const QList<QByteArray> after = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (pid != ::getpid() && (after.size() < 2 || after[1].toInt() != ::getpid()))
            continue;
        QFile status(proc.filePath(entry + QStringLiteral("/status")));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &field : status.readAll().split('\n')) {
            if (field.contains("ctxt_switches:"))
                total += field.mid(field.indexOf(':') + 1).trimmed().toLong();
        }
    }
    return total;
}

bool isReply(const u_char *d, int captured)
{
    if (captured < frame::ValueOffset + 1)
        return false;
    for (int i = 0; i < frame::HeaderLength; ++i)
        if (d[i] != 0)
            return false;
    return d[frame::OpcodeOffset] == reply::ReadRegister;
}

using SendFn = std::function<bool(const Request &)>;
// 1 with the frame and its captured length, 0 on a quiet line, negative on an error.
using NextFn = std::function<int(const u_char **, int *)>;

// Sends the request and waits for the read's answer, allowing the usual miss budget.
bool sendAndWait(const Request &request, const SendFn &send, const NextFn &next)
{
    if (!send(request))
        return false;
    for (int misses = 0; misses <= PlainMissBudget;) {
        const u_char *d = nullptr;
        int captured = 0;
        const int r = next(&d, &captured);
        if (r < 0)
            return false;
        if (r == 1 && isReply(d, captured))
            return true;
        ++misses;
    }
    return false;
}

bool plainExchange(const char *interfaceName, const Request &request)
{
    char errorText[PCAP_ERRBUF_SIZE];
    errorText[0] = '\0';
    pcap_t *p = pcap_open_live(interfaceName, PcapFrameLink::SnapshotLength,
                               PcapFrameLink::Promiscuous, PcapFrameLink::ReadTimeoutMs, errorText);
    if (p == nullptr)
        return false;
    struct bpf_program program
    {};
    bool ok =
        pcap_compile(p, &program, PcapFrameLink::FilterExpression, 1, PCAP_NETMASK_UNKNOWN) == 0;
    if (ok) {
        ok = pcap_setfilter(p, &program) == 0;
        pcap_freecode(&program);
    }
    ok = ok
        && sendAndWait(
             request,
             [p](const Request &r) {
                 return pcap_sendpacket(p, r.data(), frame::RequestLength) == 0;
             },
             [p](const u_char **d, int *captured) {
                 struct pcap_pkthdr *h = nullptr;
                 const int r = pcap_next_ex(p, &h, d);
                 *captured = r == 1 ? static_cast<int>(h->caplen) : 0;
                 return r;
             });
    pcap_close(p);
    return ok;
}

void print(const char *what, int count, const std::vector<double> &ms)
{
    const Figures f = figures(ms);
    std::printf("%-8s %4d exchanges: median %7.3f ms, p95 %7.3f ms\n", what, count, f.median,
                f.p95);
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : DefaultExchanges;

    const std::unique_ptr<TapTestBed> bed = startBenchTap();
    if (!bed)
        return 2;
    const QByteArray host = bed->hostInterface().toLocal8Bit();
    const Request request = readRequest();

    MV1Device_v4 dev(host.constData());
    std::vector<double> session;
    uint8_t value = 0;
    long switches = contextSwitches();
    if (!timeRuns(
            count, [&] { return dev.readRegister(Address, &value, false); }, &session)) {
        std::fprintf(stderr, "session exchange failed\n");
        return 1;
    }
    const double sessionSwitches = double(contextSwitches() - switches) / count;

    const auto helperLink = [&host] {
        return std::make_unique<HelperFrameLink>(host.toStdString(), KALVESSA_LINK_HELPER_BUILT);
    };
    MV1Device_v4 viaHelper(host.constData(), helperLink());
    std::vector<double> helper;
    // The helper's start and opening are left out of the count.
    if (!viaHelper.readRegister(Address, &value, false))
        return 1;
    switches = contextSwitches();
    if (!timeRuns(
            count, [&] { return viaHelper.readRegister(Address, &value, false); }, &helper)) {
        std::fprintf(stderr, "exchange through the helper failed\n");
        return 1;
    }
    const double helperSwitches = double(contextSwitches() - switches) / count;

    // Set-up and tear-down of a capture: {opening, closing}.
    const auto setUpAndTearDown = [count](PacketSession &s, std::vector<double> *opening,
                                          std::vector<double> *closing) {
        for (int i = 0; i < count / 5 + 1; ++i) {
            QElapsedTimer timer;
            timer.start();
            if (!s.open())
                return false;
            opening->push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
            timer.restart();
            s.release();
            closing->push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        }
        return true;
    };
    std::vector<double> opening, closing, helperOpening, helperClosing;
    PacketSession viaHelperSession(host.constData(), helperLink());
    if (!setUpAndTearDown(viaHelperSession, &helperOpening, &helperClosing))
        return 1;
    PacketSession s(host.constData());
    if (!setUpAndTearDown(s, &opening, &closing))
        return 1;

    std::vector<double> held;
    if (!s.open())
        return 1;
    const bool heldOk = timeRuns(
        count,
        [&] {
            return sendAndWait(
                request,
                [&s](const Request &r) {
                    return s.send(r.data(), frame::RequestLength) == frame::RequestLength;
                },
                [&s](const u_char **d, int *captured) {
                    const LinkReception got = s.receive();
                    *d = got.bytes;
                    *captured = got.captured;
                    return got.result == LinkReception::Result::Frame ? 1
                        : got.result == LinkReception::Result::Quiet  ? 0
                                                                      : -1;
                });
        },
        &held);
    s.close();
    if (!heldOk) {
        std::fprintf(stderr, "held-open exchange failed\n");
        return 1;
    }

    std::vector<double> plain;
    if (!timeRuns(
            count, [&] { return plainExchange(host.constData(), request); }, &plain)) {
        std::fprintf(stderr, "plain-open exchange failed\n");
        return 1;
    }

    print("session", count, session);
    print("plain", count, plain);
    print("held", count, held);
    print("helper", count, helper);
    std::printf("helper/session median: %.2fx\n", figures(helper).median / figures(session).median);
    std::printf("context switches per exchange: session %.2f, helper %.2f\n", sessionSwitches,
                helperSwitches);
    const auto printSetUp = [](const char *what, const std::vector<double> &open,
                               const std::vector<double> &close) {
        const Figures o = figures(open);
        const Figures c = figures(close);
        std::printf("%s set-up: median %.3f ms, p95 %.3f ms; tear-down: median %.3f ms, p95 %.3f "
                    "ms\n",
                    what, o.median, o.p95, c.median, c.p95);
    };
    printSetUp("capture", opening, closing);
    printSetUp("helper's capture", helperOpening, helperClosing);
    const double median = figures(session).median;
    std::printf("goal: session median <= %.1f ms: %s\n", GoalMedianMs,
                median <= GoalMedianMs ? "met" : "MISSED");
    return 0;
}
