#include "FilterPreview.h"

#include <QCoreApplication>

#include <memory>

#include "CaptureReader.h"
#include "KeptFramesWriter.h"
#include "TapFilterModel.h"

namespace {

// Progress and cancelling are looked at every so many frames: often enough for a person, rare
// enough to cost nothing per frame.
constexpr uint64_t FramesPerLook = 4096;

QString tr(const char *text)
{
    return QCoreApplication::translate("FilterPreview", text);
}

}  // namespace

std::optional<FilterPreview::Result>
FilterPreview::run(const QString &capturePath, const Options &options, QString *error) const
{
    const std::unique_ptr<CaptureReader> reader = CaptureReader::open(capturePath, error);
    if (!reader)
        return std::nullopt;
    std::optional<KeptFramesWriter> writer;
    if (!options.keptPath.isEmpty()) {
        writer.emplace(options.keptPath);
        if (!writer->begin(reader->snapLength(), error))
            return std::nullopt;
    }

    const TapFilterModel model(m_settings);
    FrequentPairs pairs(options.pairCapacity);
    Result result;
    CaptureReader::Frame frame;
    for (CaptureReader::Next next = reader->next(&frame); next != CaptureReader::Next::End;
         next = reader->next(&frame)) {
        if (next == CaptureReader::Next::Truncated) {
            result.truncatedRecords = 1;
            result.truncation = reader->problem();
            break;
        }
        if (next == CaptureReader::Next::Damaged) {
            *error = tr("%1 is damaged after frame %2: %3")
                         .arg(capturePath)
                         .arg(result.frames())
                         .arg(reader->problem());
            return std::nullopt;
        }
        switch (model.decide(frame.data, frame.capturedLength, frame.wireLength)) {
        case TapFilterModel::Verdict::Keep: {
            result.kept.add(frame.wireLength);
            TrafficPair pair;
            if (TrafficPair::of(frame.data, frame.capturedLength, &pair))
                pairs.add(pair);
            if (writer && !writer->write(frame)) {
                writer->finish(error);
                return std::nullopt;
            }
            break;
        }
        case TapFilterModel::Verdict::Discard: result.discarded.add(frame.wireLength); break;
        case TapFilterModel::Verdict::Undecided: result.undecided.add(frame.wireLength); break;
        }
        if (result.frames() % FramesPerLook == 0) {
            if (options.cancel != nullptr && options.cancel->load(std::memory_order_relaxed)) {
                error->clear();
                return std::nullopt;
            }
            if (options.progress)
                options.progress(reader->position(), reader->size());
        }
    }
    if (writer && !writer->finish(error))
        return std::nullopt;
    if (options.progress)
        options.progress(reader->size(), reader->size());
    result.topPairs = pairs.top(TopPairCount);
    result.pairsApproximate = pairs.approximate();
    return result;
}
