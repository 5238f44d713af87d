#pragma once

#include <cstdio>
#include <memory>

#include <QStringList>

#include "TapTestBed.h"

// Whether a benchmark runs where it can make its own tap; says why not on standard error.
inline bool benchNamespaceReady()
{
    QString why;
    if (TapTestBed::namespaceReady(&why))
        return true;
    std::fprintf(stderr, "needs a private network namespace (run bench/run-all.sh): %s\n",
                 qPrintable(why));
    return false;
}

// A simulated tap for a benchmark, or null after saying on standard error why there is none.
// Benchmarks run inside the private network namespace that tools/testbed/in-netns.sh makes.
inline std::unique_ptr<TapTestBed> startBenchTap(const QStringList &options = {})
{
    if (!benchNamespaceReady())
        return nullptr;
    auto bed = std::make_unique<TapTestBed>();
    if (!bed->plug() || !bed->startTap(options)) {
        std::fprintf(stderr, "could not start the simulated tap\n");
        return nullptr;
    }
    return bed;
}
