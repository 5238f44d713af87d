// Benchmark: a whole generation-4 settings write (28 registers) and read (32 registers)
// against the simulated tap, as the worker does them on "Apply" and "Read Current Setup".
// Run inside a private network namespace:
//   tools/testbed/in-netns.sh build/bench/bench_device_settings [runs]
// The goal is at most 40 ms for each.

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "DeviceSettings.h"
#include "MV1Device_v4.h"
#include "BenchTap.h"

namespace {

constexpr int DefaultRuns = 10;
constexpr double GoalMs = 40.0;

bool report(const char *what, int runs, const std::function<bool()> &step)
{
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        if (!step()) {
            std::fprintf(stderr, "%s failed\n", what);
            return false;
        }
        ms.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    const double median = ms[ms.size() / 2];
    std::printf(
        "%-15s %3d runs: median %8.1f ms, min %8.1f ms, max %8.1f ms; goal <= %.0f ms: %s\n", what,
        runs, median, ms.front(), ms.back(), GoalMs, median <= GoalMs ? "met" : "MISSED");
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : DefaultRuns;

    const std::unique_ptr<TapTestBed> bed = startBenchTap();
    if (!bed)
        return 2;

    MV1Device_v4 dev(qPrintable(bed->hostInterface()));
    DeviceSettings settings;
    settings.setFilterMode(1, 1);
    settings.setControlByte(0xFF);
    settings.setDstMacMask(0x3F);
    const uint8_t mac[DeviceSettings::MacLength] = {0x00, 0x0e, 0xc6, 0x01, 0x02, 0x03};
    settings.setDstMac(mac);

    DeviceSettings back;
    const bool ok =
        report("settings write", runs, [&] { return dev.writeSettings(settings, false); })
        && report("settings read", runs, [&] {
               dev.readSettings(back, false);
               return back.filterEnabled() == 1;  // the read's own result says nothing
           });
    return ok ? 0 : 1;
}
