#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>

#include <optional>

#include "Commands.h"
#include "Console.h"
#include "FilterPreview.h"
#include "ProgressDisplay.h"
#include "SettingsFile.h"
#include "TapFilterModel.h"

namespace {

using console::tr;

constexpr int LabelWidth = 12;
constexpr qint64 ProgressAfterMs = 1000;  // a run over a small file says nothing in between
constexpr qint64 BytesPerMegabyte = 1000 * 1000;

std::optional<DeviceSettings> settingsOf(const FilterSource &source, ExitCode *failure)
{
    *failure = ExitCode::BadInput;
    const std::optional<SettingsPatch> given = givenSettings(source.profilePath, source.options);
    if (!given)
        return std::nullopt;
    const SettingsPatch &patch = *given;
    if (source.tap) {
        const TapReading reading = readTap(source.selector);
        if (reading.code != ExitCode::Success) {
            *failure = reading.code;
            return std::nullopt;
        }
        return patch.appliedTo(reading.settings);
    }
    // Without a tap to start from, a filter whose switch or rule is not given would be guessed.
    const std::optional<SettingValue> &enabled = patch.value(Setting::FilterEnabled);
    if (patch.isEmpty()) {
        console::err(tr("No settings given: take a tap's with --tap, a settings file with "
                        "--profile, or give setting options."));
        return std::nullopt;
    }
    if (!enabled) {
        console::err(tr("Whether the filter is on is not given: add --filter on or off, or --tap "
                        "to start from the settings a tap holds."));
        return std::nullopt;
    }
    if (std::get<bool>(*enabled) && !patch.value(Setting::Match)) {
        console::err(tr("The filter is on, but whether it keeps or discards what matches is not "
                        "given: add --match keep or discard."));
        return std::nullopt;
    }
    return patch.appliedTo(DeviceSettings());
}

QJsonObject tallyJson(const FilterPreview::Tally &tally)
{
    return {{QStringLiteral("frames"), qint64(tally.frames)},
            {QStringLiteral("bytes"), qint64(tally.bytes)}};
}

QString tallyText(const FilterPreview::Tally &tally)
{
    const QString frames = tally.frames == 1 ? tr("1 frame") : tr("%1 frames").arg(tally.frames);
    return tr("%1, %2 bytes").arg(frames).arg(tally.bytes);
}

QJsonObject resultJson(const PreviewRequest &request, const QString &expression,
                       const FilterPreview::Result &result)
{
    QJsonArray pairs;
    for (const FrequentPairs::Count &count : result.topPairs) {
        pairs.append(QJsonObject{{QStringLiteral("source"), count.pair.sourceText()},
                                 {QStringLiteral("destination"), count.pair.destinationText()},
                                 {QStringLiteral("frames"), qint64(count.frames)},
                                 {QStringLiteral("overstated_by"), qint64(count.overstatedBy)}});
    }
    QJsonObject json{{QStringLiteral("capture"), request.capturePath},
                     {QStringLiteral("expression"), expression},
                     {QStringLiteral("kept"), tallyJson(result.kept)},
                     {QStringLiteral("discarded"), tallyJson(result.discarded)},
                     {QStringLiteral("undecided"), tallyJson(result.undecided)},
                     {QStringLiteral("truncated_records"), qint64(result.truncatedRecords)},
                     {QStringLiteral("top_pairs"), pairs},
                     {QStringLiteral("pairs_approximate"), result.pairsApproximate},
                     {QStringLiteral("written"),
                      request.keptPath.isEmpty() ? QJsonValue() : QJsonValue(request.keptPath)}};
    if (result.truncatedRecords > 0)
        json.insert(QStringLiteral("truncation"), result.truncation);
    return json;
}

void printResult(const PreviewRequest &request, const QString &expression,
                 const FilterPreview::Result &result)
{
    const auto line = [](const QString &label, const QString &text) {
        console::out(label.leftJustified(LabelWidth) + text);
    };
    line(tr("expression"), expression.isEmpty() ? tr("(empty: every frame)") : expression);
    line(tr("kept"), tallyText(result.kept));
    line(tr("discarded"), tallyText(result.discarded));
    if (result.undecided.frames > 0) {
        line(tr("undecided"),
             tr("%1: cut short by the capture's snap length before a compared byte; libpcap's "
                "filter drops such frames, even under \"not\"")
                 .arg(tallyText(result.undecided)));
    }
    if (result.truncatedRecords > 0) {
        line(tr("truncated"),
             tr("%1 record cut short at the end of the file (%2); the frames "
                "before it are counted")
                 .arg(result.truncatedRecords)
                 .arg(result.truncation));
    }
    if (!result.topPairs.isEmpty()) {
        console::out(result.pairsApproximate
                         ? tr("Most frequent kept pairs (approximate: more pairs than can be "
                              "counted exactly):")
                         : tr("Most frequent kept pairs:"));
        for (const FrequentPairs::Count &count : result.topPairs) {
            console::out(QStringLiteral("  %1  %2 -> %3")
                             .arg(count.frames, LabelWidth)
                             .arg(count.pair.sourceText(), count.pair.destinationText()));
        }
    }
    if (!request.keptPath.isEmpty())
        console::info(tr("Kept frames written to %1.").arg(request.keptPath));
}

}  // namespace

ExitCode printFilterExpression(const FilterSource &source)
{
    ExitCode failure = ExitCode::Success;
    const std::optional<DeviceSettings> settings = settingsOf(source, &failure);
    if (!settings)
        return failure;
    const TapFilterModel model(*settings);
    if (console::jsonMode()) {
        console::json({{QStringLiteral("expression"), model.expression()},
                       {QStringLiteral("keeps_everything"), model.keepsEverything()}});
        return ExitCode::Success;
    }
    console::out(model.expression());
    if (model.keepsEverything())
        console::note(tr("The filter keeps every frame: an empty expression captures everything."));
    return ExitCode::Success;
}

ExitCode previewCapture(const PreviewRequest &request)
{
    ExitCode failure = ExitCode::Success;
    const std::optional<DeviceSettings> settings = settingsOf(request.source, &failure);
    if (!settings)
        return failure;

    FilterPreview::Options options;
    options.keptPath = request.keptPath;
    std::optional<ProgressDisplay> progress;
    QElapsedTimer clock;
    clock.start();
    if (console::informing() && console::outputIsTerminal()) {
        options.progress = [&](int64_t done, int64_t total) {
            if (clock.elapsed() < ProgressAfterMs)
                return;
            if (!progress)
                progress.emplace(true);
            progress->show(
                tr("%1 of %2 MB").arg(done / BytesPerMegabyte).arg(total / BytesPerMegabyte),
                static_cast<int>(done / BytesPerMegabyte),
                static_cast<int>(total / BytesPerMegabyte));
        };
    }
    QString error;
    const std::optional<FilterPreview::Result> result =
        FilterPreview(*settings).run(request.capturePath, options, &error);
    progress.reset();
    if (!result) {
        console::err(error);
        return ExitCode::BadInput;
    }
    const QString expression = TapFilterModel(*settings).expression();
    if (console::jsonMode())
        console::json(resultJson(request, expression, *result));
    else
        printResult(request, expression, *result);
    return ExitCode::Success;
}
