// What a tool holding the tap costs the host while it does nothing: ordinary frames (neither
// address zero) flood into the tap's interface from the far end of the veth pair, and the
// sending thread's processor time per frame is measured with no tool, with a device whose
// capture is parked after an exchange, and with the window's worker idle after it has given
// its capture up. The receive work of a veth pair runs on the sending thread, so what a
// capture attached to the interface costs shows there. Then the first exchange after the
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
constexpr int GiveUpMs = 20000;
constexpr int PollMs = 20;
constexpr double NanosecondsPerSecond = 1e9;

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

    // Sends `count` frames; the sending thread's processor nanoseconds per frame sent, and
    // the frames sent per second of wall time.
    std::pair<double, double> send(int count)
    {
        const double cpuBefore = threadCpuSeconds();
        QElapsedTimer wall;
        wall.start();
        int sent = 0;
        for (int i = 0; i < count; ++i) {
            if (::sendto(m_fd, m_frame.data(), m_frame.size(), 0,
                         reinterpret_cast<const sockaddr *>(&m_to), sizeof m_to)
                == static_cast<ssize_t>(m_frame.size()))
                ++sent;
        }
        const double cpu = threadCpuSeconds() - cpuBefore;
        const double seconds = double(wall.nsecsElapsed()) / NanosecondsPerSecond;
        if (sent == 0)
            return {0, 0};
        return {cpu * NanosecondsPerSecond / sent, sent / seconds};
    }

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

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

enum class Tool { None, Parked, IdleWorker };

// The sender's cost per frame while `tool` stands beside the interface; 0 when it could not be
// set up.
std::pair<double, double> measure(TapTestBed &bed, Flood &flood, Tool tool, int frames)
{
    std::unique_ptr<MV1Device_v4> device;
    std::unique_ptr<Detection> worker;
    switch (tool) {
    case Tool::None: break;
    case Tool::Parked: {
        device = std::make_unique<MV1Device_v4>(qPrintable(bed.hostInterface()));
        uint8_t value = 0;
        if (!device->readRegister(reg::Control, &value, false) || bed.capturesHeld() != 1)
            return {0, 0};
        break;
    }
    case Tool::IdleWorker:
        worker = std::make_unique<Detection>();
        worker->start();
        // Taken, probed and read; then the worker's own idle look gives the capture up.
        if (!waitFor([&] { return worker->deviceGeneration() == 4; })
            || !waitFor([&] { return bed.capturesHeld() == 0; }))
            return {0, 0};
        break;
    }
    flood.send(WarmUpFrames);
    return flood.send(frames);
}

void measureFlood(TapTestBed &bed, int rounds, int frames)
{
    Flood flood(bed.tapInterface());
    if (!flood.ready()) {
        std::printf("flood: cannot send on %s\n", qPrintable(bed.tapInterface()));
        return;
    }
    std::vector<double> none, parked, idle, parkedRatio, idleRatio, rate;
    for (int round = 0; round < rounds; ++round) {
        // Alternating pairs, each tool against a run without one just before or after it, the
        // order swapped every round so that drift on the host falls on both sides.
        const bool toolFirst = round % 2 == 1;
        for (Tool tool : {Tool::Parked, Tool::IdleWorker}) {
            std::pair<double, double> with, without;
            if (toolFirst) {
                with = measure(bed, flood, tool, frames);
                without = measure(bed, flood, Tool::None, frames);
            } else {
                without = measure(bed, flood, Tool::None, frames);
                with = measure(bed, flood, tool, frames);
            }
            if (with.first <= 0 || without.first <= 0) {
                std::printf("flood: round %d could not set up the tool\n", round);
                continue;
            }
            none.push_back(without.first);
            rate.push_back(without.second);
            (tool == Tool::Parked ? parked : idle).push_back(with.first);
            (tool == Tool::Parked ? parkedRatio : idleRatio).push_back(with.first / without.first);
        }
    }
    if (parkedRatio.empty() || idleRatio.empty())
        return;
    std::printf("flood of %d-byte ordinary frames into %s, %d frames per run, %d rounds of "
                "alternating pairs; sender %.0f frames/s without a tool\n",
                FrameLength, qPrintable(bed.hostInterface()), frames, rounds, median(rate));
    std::printf("sender CPU per frame, medians: no tool %.0f ns; capture parked %.0f ns; "
                "window idle, capture given up %.0f ns\n",
                median(none), median(parked), median(idle));
    std::printf("ratio to no tool, median of pairs (min..max): capture parked %.3f "
                "(%.3f..%.3f); capture given up %.3f (%.3f..%.3f) (goal: given up <= 1.02)\n",
                median(parkedRatio), *std::min_element(parkedRatio.begin(), parkedRatio.end()),
                *std::max_element(parkedRatio.begin(), parkedRatio.end()), median(idleRatio),
                *std::min_element(idleRatio.begin(), idleRatio.end()),
                *std::max_element(idleRatio.begin(), idleRatio.end()));
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
