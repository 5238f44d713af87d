// What a tool holding the tap costs the host while it does nothing: ordinary frames (neither
// address zero) flood into the tap's interface from the far end of the veth pair, and the
// sending thread's processor time per frame is measured with no tool, with a device whose
// capture is parked after an exchange (made and given up chunk by chunk against no tool), and
// with the window's worker idle after it has given its capture up. The receive work of a veth
// pair runs on the sending thread, so what a capture attached to the interface costs shows
// there. Then the first exchange after the
// capture was given up, against one on a parked capture.
//
// Runs inside a private network namespace (made by tools/testbed/in-netns.sh, which
// bench/run-all.sh uses) against the simulated tap. Prints figures; asserts nothing.
//
//   bench_idle_capture [--rounds N] [--frames N] [--exchanges N]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <net/if.h>
#include <netpacket/packet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include "BenchTap.h"
#include "Detection.h"
#include "MV1Device_v4.h"
#include "SettingsRegisterMap.h"

namespace {

constexpr int FrameLength = 64;
constexpr int WarmUpFrames = 20000;
constexpr int ChunkFrames = 10000;
constexpr int GiveUpMs = 20000;
constexpr int PollMs = 20;
constexpr double NanosecondsPerSecond = 1e9;

double quantile(std::vector<double> values, double q)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(q * double(values.size() - 1))];
}

double median(const std::vector<double> &values)
{
    return quantile(values, 0.5);
}

// Of a run's chunks: the host's other work only ever adds to a chunk's cost, so the cheaper
// chunks tell the cost of the frames themselves best.
constexpr double ChunkQuantile = 0.25;

// Frames between two locally administered addresses, of an experimental EtherType: traffic the
// tap's interface carries and the tool's filter throws away.
class Flood
{
public:
    explicit Flood(const QString &interfaceName)
        : m_fd(::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0))
    {
        m_to.sll_family = AF_PACKET;
        m_to.sll_ifindex = static_cast<int>(if_nametoindex(qPrintable(interfaceName)));
        m_to.sll_halen = 6;
        const uint8_t header[] = {0x02, 0, 0, 0, 0, 0x02, 0x02, 0, 0, 0, 0, 0x01, 0x88, 0xB5};
        std::memcpy(m_frame.data(), header, sizeof header);
    }
    ~Flood()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Flood(const Flood &) = delete;
    Flood &operator=(const Flood &) = delete;

    bool ready() const { return m_fd >= 0 && m_to.sll_ifindex > 0; }

    // Sends `count` frames; the sending thread's processor nanoseconds per frame sent (0 when
    // none went).
    double sendChunk(int count)
    {
        const double cpuBefore = threadCpuSeconds();
        int sent = 0;
        for (int i = 0; i < count; ++i) {
            if (::sendto(m_fd, m_frame.data(), m_frame.size(), 0,
                         reinterpret_cast<const sockaddr *>(&m_to), sizeof m_to)
                == static_cast<ssize_t>(m_frame.size()))
                ++sent;
        }
        m_sent += sent;
        return sent > 0 ? (threadCpuSeconds() - cpuBefore) * NanosecondsPerSecond / sent : 0;
    }
    // `count` frames in chunks: the lower quartile of the chunks' cost per frame.
    double send(int count)
    {
        std::vector<double> perFrame;
        for (int done = 0; done < count; done += ChunkFrames)
            perFrame.push_back(sendChunk(std::min(ChunkFrames, count - done)));
        return quantile(perFrame, ChunkQuantile);
    }
    int sent() const { return m_sent; }

private:
    static double threadCpuSeconds()
    {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return double(now.tv_sec) + double(now.tv_nsec) / NanosecondsPerSecond;
    }

    const int m_fd;
    sockaddr_ll m_to{};
    std::vector<uint8_t> m_frame = std::vector<uint8_t>(FrameLength, 0);
    int m_sent = 0;
};

template <typename Condition> bool waitFor(Condition condition)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > GiveUpMs)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(PollMs));
    }
    return true;
}

// A device whose capture is parked after an exchange, against none, chunk by chunk: the
// capture is made and given up between chunks, so that both sides meet the same host. The
// ratio of their medians; 0 when the tap did not answer.
double parkedAgainstNone(TapTestBed &bed, Flood &flood, int frames, bool parkedFirst,
                         std::vector<double> *parked, std::vector<double> *none)
{
    MV1Device_v4 device(qPrintable(bed.hostInterface()));
    std::vector<double> with, without;
    for (int chunk = 0; chunk * ChunkFrames < 2 * frames; ++chunk) {
        const bool withCapture = (chunk % 2 == 0) == parkedFirst;
        uint8_t value = 0;
        if (withCapture && !device.readRegister(reg::Control, &value, false))
            return 0;
        if (!withCapture)
            device.releaseCapture();
        flood.sendChunk(ChunkFrames / 10);  // settles what the change stirred up
        (withCapture ? with : without).push_back(flood.sendChunk(ChunkFrames));
    }
    const double withCost = quantile(with, ChunkQuantile);
    const double withoutCost = quantile(without, ChunkQuantile);
    parked->push_back(withCost);
    none->push_back(withoutCost);
    return withCost / withoutCost;
}

// The window's worker holding the tap, idle once its capture is gone, against no tool: whole
// runs, one after the other. The ratio; 0 when the worker did not take the tap.
double idleWorkerAgainstNone(TapTestBed &bed, Flood &flood, int frames, bool workerFirst,
                             std::vector<double> *idle, std::vector<double> *none)
{
    double with = 0, without = 0;
    for (int run = 0; run < 2; ++run) {
        if ((run == 0) != workerFirst) {
            flood.send(WarmUpFrames);
            without = flood.send(frames);
            continue;
        }
        Detection worker;
        worker.start();
        // Taken, probed and read; then the worker's own idle look gives the capture up.
        if (!waitFor([&] { return worker.deviceGeneration() == 4; })
            || !waitFor([&] { return bed.capturesHeld() == 0; }))
            return 0;
        flood.send(WarmUpFrames);
        with = flood.send(frames);
    }
    idle->push_back(with);
    none->push_back(without);
    return with / without;
}

std::string spread(const std::vector<double> &ratios)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.3f (%.3f..%.3f)", median(ratios),
                  *std::min_element(ratios.begin(), ratios.end()),
                  *std::max_element(ratios.begin(), ratios.end()));
    return text;
}

void measureFlood(TapTestBed &bed, int rounds, int frames)
{
    Flood flood(bed.tapInterface());
    if (!flood.ready()) {
        std::printf("flood: cannot send on %s\n", qPrintable(bed.tapInterface()));
        return;
    }
    std::vector<double> none, parked, idle, parkedRatio, idleRatio;
    QElapsedTimer wall;
    wall.start();
    for (int round = 0; round < rounds; ++round) {
        // Alternating pairs, the order swapped every round so that drift on the host falls on
        // both sides.
        const bool toolFirst = round % 2 == 1;
        const double p = parkedAgainstNone(bed, flood, frames, toolFirst, &parked, &none);
        const double i = idleWorkerAgainstNone(bed, flood, frames, toolFirst, &idle, &none);
        if (p > 0)
            parkedRatio.push_back(p);
        if (i > 0)
            idleRatio.push_back(i);
    }
    if (parkedRatio.empty() || idleRatio.empty()) {
        std::printf("flood: the tap was not taken\n");
        return;
    }
    std::printf("flood of %d-byte ordinary frames into %s, %d frames per configuration and "
                "round, %d rounds of alternating pairs, %.0f frames/s on average\n",
                FrameLength, qPrintable(bed.hostInterface()), frames, rounds,
                flood.sent() / (double(wall.elapsed()) / 1000));
    std::printf("sender CPU per frame (lower quartile of 10,000-frame chunks), medians: no tool "
                "%.0f ns; capture parked %.0f ns; "
                "window idle, capture given up %.0f ns\n",
                median(none), median(parked), median(idle));
    std::printf("ratio to no tool, median of pairs (min..max): capture parked %s; window idle, "
                "capture given up %s (goal: given up <= 1.02)\n",
                spread(parkedRatio).c_str(), spread(idleRatio).c_str());
}

// A register read on a parked capture, against one that first makes its capture afresh, as
// the first request after the capture was given up does.
void measureFirstExchange(TapTestBed &bed, int exchanges)
{
    MV1Device_v4 device(qPrintable(bed.hostInterface()));
    uint8_t value = 0;
    std::vector<double> parked, fresh;
    QElapsedTimer clock;
    for (int i = 0; i < exchanges; ++i) {
        device.readRegister(reg::Control, &value, false);  // parks the capture
        clock.start();
        const bool parkedRead = device.readRegister(reg::Control, &value, false);
        const double parkedUs = double(clock.nsecsElapsed()) / 1000;
        device.releaseCapture();
        clock.start();
        const bool freshRead = device.readRegister(reg::Control, &value, false);
        const double freshUs = double(clock.nsecsElapsed()) / 1000;
        if (parkedRead && freshRead) {
            parked.push_back(parkedUs);
            fresh.push_back(freshUs);
        }
    }
    if (parked.empty()) {
        std::printf("first exchange: the tap did not answer\n");
        return;
    }
    std::printf("register read, %d pairs: on a parked capture median %.0f us, max %.0f us; "
                "first after the capture was given up median %.0f us, max %.0f us (+%.0f us)\n",
                int(parked.size()), median(parked), *std::max_element(parked.begin(), parked.end()),
                median(fresh), *std::max_element(fresh.begin(), fresh.end()),
                median(fresh) - median(parked));
}

int intOption(const QStringList &arguments, const QString &name, int fallback)
{
    const qsizetype at = arguments.indexOf(name);
    return at >= 0 && at + 1 < arguments.size() ? arguments.at(at + 1).toInt() : fallback;
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const int rounds = intOption(arguments, QStringLiteral("--rounds"), 6);
    const int frames = intOption(arguments, QStringLiteral("--frames"), 300000);
    const int exchanges = intOption(arguments, QStringLiteral("--exchanges"), 30);
    const std::unique_ptr<TapTestBed> bed = startBenchTap();
    if (!bed)
        return 1;
    std::printf("the capture is given up %d ms after its last exchange\n",
                PacketSession::IdleReleaseMs);
    measureFlood(*bed, rounds, frames);
    measureFirstExchange(*bed, exchanges);
    return 0;
}
