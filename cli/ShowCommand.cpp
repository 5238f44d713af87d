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

TapReading readTap(const QString &interfaceName)
{
    TapReading reading;
    const tapaccess::Taken taken =
        tapaccess::take(interfaceName, tapaccess::Choice::FirstAvailable);
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

ExitCode showSettings(const QString &interfaceName, bool json)
{
    const TapReading reading = readTap(interfaceName);
    if (reading.code != ExitCode::Success)
        return reading.code;
    if (json) {
        console::json(SettingsFile::toJson(reading.settings));
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

ExitCode saveProfile(const QString &interfaceName, const QString &path)
{
    const TapReading reading = readTap(interfaceName);
    if (reading.code != ExitCode::Success)
        return reading.code;
    QString error;
    if (!SettingsFile::save(path, reading.settings, &error)) {
        console::err(error);
        return ExitCode::BadInput;
    }
    console::out(tr("Saved the settings of %1 to %2.").arg(reading.interfaceName, path));
    return ExitCode::Success;
}
