#include <QDir>

#include "Commands.h"
#include "Console.h"
#include "SettingOptions.h"
#include "SettingsFile.h"
#include "TapAccess.h"
#include "TapOperations.h"

namespace {

using console::tr;

constexpr int LabelWidth = 12;

}  // namespace

TapReading readTap(const QString &selector)
{
    TapReading reading;
    // With several taps attached, reading one the user did not mean would show (or save) the
    // wrong tap's settings without a word, so the user is asked to name it.
    const tapaccess::Taken taken = tapaccess::take(selector, tapaccess::Choice::OnlyOne);
    if (!taken.tap) {
        reading.code = taken.failure;
        return reading;
    }
    reading.interfaceName = taken.tap->interfaceName();
    reading.address = taken.tap->address();
    reading.generation = taken.tap->generation();
    const TapOutcome read = tapoperation::readSettings(*taken.tap, &reading.settings);
    reading.code = tapaccess::exitCodeOf(read);
    if (read.failed()) {
        console::err(tr("%1: the settings cannot be read: %2")
                         .arg(reading.interfaceName, read.failure.text()));
    }
    return reading;
}

ExitCode showSettings(const QString &selector, QJsonObject *document)
{
    const TapReading reading = readTap(selector);
    if (reading.code != ExitCode::Success)
        return reading.code;
    if (console::jsonMode()) {
        *document = SettingsFile::toJson(reading.settings);
        return ExitCode::Success;
    }
    console::out(tapaccess::tapLine(reading.interfaceName, reading.address,
                                    tr("generation %1, firmware %2")
                                        .arg(reading.generation)
                                        .arg(tapaccess::firmwareText(reading.settings))));
    // Named as the options name them, so a line can be given back to apply as it stands.
    for (const SettingSyntax &syntax : settingSyntaxes()) {
        console::out(settingoptions::nameOf(syntax.setting).leftJustified(LabelWidth)
                     + formatSetting(syntax.setting, settingOf(reading.settings, syntax.setting)));
    }
    return ExitCode::Success;
}

ExitCode saveProfile(const QString &selector, const QString &path, bool intoFolder,
                     QJsonObject *document)
{
    const TapReading reading = readTap(selector);
    if (reading.code != ExitCode::Success)
        return reading.code;
    if (path == StandardStream && !intoFolder) {
        console::write(QString::fromUtf8(SettingsFile::serialize(reading.settings)));
        return ExitCode::Success;
    }
    const QString file =
        intoFolder ? QDir(path).filePath(tapaccess::profileFileName(reading.address)) : path;
    QString error;
    if (intoFolder && !QDir().mkpath(path)) {
        console::err(tr("%1: the folder cannot be made.").arg(path));
        return ExitCode::BadInput;
    }
    if (!SettingsFile::save(file, reading.settings, &error)) {
        console::err(error);
        return ExitCode::BadInput;
    }
    *document = {{QStringLiteral("file"), file}};
    console::info(tr("Saved the settings of %1 to %2.").arg(reading.interfaceName, file));
    return ExitCode::Success;
}
