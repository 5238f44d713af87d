// Benchmark: a whole generation-4 firmware update against the simulated tap.
// Run inside a private network namespace:
//   tools/testbed/in-netns.sh build/bench/bench_firmware_update [runs]
// Prints the wall time of each run and the median; the goal is at most 1.5 s.

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "FirmwareImage.h"
#include "MV1Device_v4.h"
#include "BenchTap.h"

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    constexpr int DefaultRuns = 5;
    constexpr double GoalMs = 1500.0;
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : DefaultRuns;

    const std::unique_ptr<TapTestBed> bed = startBenchTap();
    if (!bed)
        return 2;

    MV1Device_v4 dev(qPrintable(bed->hostInterface()));
    std::vector<double> times;
    for (int r = 0; r < runs; ++r) {
        QElapsedTimer timer;
        timer.start();
        const bool ok = dev.updateFirmware(firmwareImage, firmwareImageLength);
        const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
        if (!ok) {
            std::fprintf(stderr, "run %d: update failed\n", r + 1);
            return 1;
        }
        std::printf("run %d: %.1f ms\n", r + 1, ms);
        times.push_back(ms);
    }

    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    std::printf("generation-4 firmware update (768 pages, %d runs): median %.1f ms, "
                "min %.1f ms, max %.1f ms; goal <= %.0f ms: %s\n",
                runs, median, times.front(), times.back(), GoalMs,
                median <= GoalMs ? "met" : "MISSED");
    return 0;
}
