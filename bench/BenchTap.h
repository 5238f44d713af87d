#pragma once

#include <cstdio>
#include <memory>

#include <QStringList>

#include "TapTestBed.h"

// A simulated tap for a benchmark, or null after saying on standard error why there is none.
// Benchmarks run inside the private network namespace that tools/testbed/in-netns.sh makes.
inline std::unique_ptr<TapTestBed> startBenchTap(const QStringList &options = {})
{
    QString why;
    if (!TapTestBed::namespaceReady(&why)) {
        std::fprintf(stderr, "needs a private network namespace (run through "
                             "tools/testbed/in-netns.sh): %s\n", qPrintable(why));
        return nullptr;
    }
    auto bed = std::make_unique<TapTestBed>();
    if (!bed->plug() || !bed->startTap(options)) {
        std::fprintf(stderr, "could not start the simulated tap\n");
        return nullptr;
    }
    return bed;
}
