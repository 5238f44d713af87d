#pragma once

#include <QList>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>

#include "DeviceSettings.h"
#include "FrequentPairs.h"

// What the tap's filter, as TapFilterModel models it, keeps of a capture file: counts of the
// frames kept, discarded and undecided, the pairs that talk most among the kept ones, and if
// asked the kept frames written out as pcap. The file is streamed, so memory stays flat
// whatever its size.
class FilterPreview
{
public:
    static constexpr int TopPairCount = 5;

    struct Tally
    {
        uint64_t frames = 0;
        uint64_t bytes = 0;  // as long as the frames were on the link

        void add(uint32_t wireLength)
        {
            ++frames;
            bytes += wireLength;
        }
    };

    struct Result
    {
        Tally kept;
        Tally discarded;
        // Cut short by the capture's snap length before a compared byte; libpcap's filter
        // drops such a frame, even under "not".
        Tally undecided;
        // 1 when the file ends inside a record, with libpcap's words for it; the frames
        // before it are counted.
        uint64_t truncatedRecords = 0;
        QString truncation;
        QList<FrequentPairs::Count> topPairs;
        bool pairsApproximate = false;

        uint64_t frames() const { return kept.frames + discarded.frames + undecided.frames; }
    };

    struct Options
    {
        QString keptPath;  // empty: the kept frames are not written
        // Called every so often with how far into the file the run is and the file's size.
        std::function<void(int64_t done, int64_t total)> progress;
        const std::atomic_bool *cancel = nullptr;  // set by another thread to stop the run
        size_t pairCapacity = FrequentPairs::DefaultCapacity;
    };

    explicit FilterPreview(const DeviceSettings &settings) : m_settings(settings) {}

    // Nothing, with *error saying why, when the file cannot be read as an Ethernet capture, is
    // damaged before its end, the kept frames cannot be written, or the run was cancelled (an
    // empty *error). An earlier file at keptPath is then left as it was.
    std::optional<Result> run(const QString &capturePath, const Options &options,
                              QString *error) const;

private:
    const DeviceSettings m_settings;
};
