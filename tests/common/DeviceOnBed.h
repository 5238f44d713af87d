#pragma once

#include <QString>

#include <memory>

#include "MV1Device_v4.h"
#include "TapBed.h"

// A generation-4 device on a simulated tap made afresh for each test, started with the tap's
// options as one space-separated string. The old device goes before the tap it talks to, and
// the old tap before the new one takes its interface's name.
struct DeviceOnBed
{
    std::unique_ptr<TapBed> bed;
    std::unique_ptr<MV1Device_v4> dev;

    bool startTap(const QString &options = {})
    {
        dev.reset();
        bed.reset();
        bed = TapBed::make();
        if (!bed->plug() || !bed->startTap(options.split(QLatin1Char(' '), Qt::SkipEmptyParts)))
            return false;
        dev = std::make_unique<MV1Device_v4>(qPrintable(bed->hostInterface()), bed->link());
        return true;
    }
};
