// Benchmark: how much memory a generation-4 firmware update adds to the process.
// Run inside a private network namespace:
//   tools/testbed/in-netns.sh build/bench/bench_firmware_memory
// Prints the growth of the peak resident set (ru_maxrss) across one update and the heap still
// in use afterwards (after one and after a second update); the goal is a peak growth under 1 MB.

#include <QCoreApplication>

#include <cstdio>
#include <malloc.h>
#include <sys/resource.h>

#include "FirmwareImage.h"
#include "MV1Device_v4.h"
#include "BenchTap.h"

namespace {

long peakResidentKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;  // KiB on Linux
}

long long heapInUse()
{
    return static_cast<long long>(mallinfo2().uordblks);
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    constexpr long GoalKiB = 1024;

    const std::unique_ptr<TapTestBed> bed = startBenchTap();
    if (!bed)
        return 2;

    MV1Device_v4 dev(qPrintable(bed->hostInterface()));
    // One exchange first, so that the capture library's one-time set-up is not counted.
    uint8_t value = 0;
    dev.readRegister(0x70300, &value, false);

    const long peakBefore = peakResidentKiB();
    const long long heapBefore = heapInUse();
    const bool ok = dev.updateFirmware(firmwareImage, firmwareImageLength);
    const long peakAfter = peakResidentKiB();
    const long long heapAfter = heapInUse();

    // A second run tells one-time growth (library caches) from growth per update.
    const bool okAgain = dev.updateFirmware(firmwareImage, firmwareImageLength);
    const long long heapAfterSecond = heapInUse();

    if (!ok || !okAgain) {
        std::fprintf(stderr, "update failed\n");
        return 1;
    }
    const long growth = peakAfter - peakBefore;
    std::printf("generation-4 firmware update: peak resident growth %ld KiB (before %ld KiB, "
                "after %ld KiB), heap in use afterwards %+lld bytes, after a second update "
                "%+lld bytes more; goal < %ld KiB: %s\n",
                growth, peakBefore, peakAfter, heapAfter - heapBefore, heapAfterSecond - heapAfter,
                GoalKiB, growth < GoalKiB ? "met" : "MISSED");
    return 0;
}
