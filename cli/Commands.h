#pragma once

#include <QJsonObject>
#include <QLatin1String>
#include <QString>

#include <optional>

#include "DeviceSettings.h"
#include "ExitCode.h"
#include "TapService.h"
#include "SettingsApply.h"
#include "SettingsPatch.h"

// The tool's commands, each run once the command line has been read whole. Each prints its
// results on standard output and its problems on standard error. A command that works on one
// tap is given it as the command line named it (`selector`: an interface name or a MAC address;
// empty when none was named) and, under --json, puts its result into *document instead of
// printing it, so that a command serving several taps can gather one document of them all.

ExitCode listTaps();

// The working copy of a tap, as the window reads it; the reason has been printed when the code
// is not Success.
struct TapReading
{
    ExitCode code = ExitCode::Success;
    QString interfaceName;
    MacAddress address{};
    int generation = 0;
    DeviceSettings settings;
};
TapReading readTap(const QString &selector);
ExitCode showSettings(const QString &selector, QJsonObject *document);
// Into `path` ("-": standard output), or with `intoFolder` into the file named by the tap's
// MAC address in the folder `path`.
ExitCode saveProfile(const QString &selector, const QString &path, bool intoFolder,
                     QJsonObject *document);

// Where a settings file is read from: a path, or "-" for standard input.
constexpr QLatin1String StandardStream("-");

// What a settings file (when a path is given) and setting options give, the options winning;
// nothing, with the reason printed, when the file cannot be had.
std::optional<SettingsPatch> givenSettings(const QString &profilePath,
                                           const SettingsPatch &options);
// The same for apply, which also needs to be given something.
std::optional<SettingsPatch> requestedSettings(const QString &profilePath,
                                               const SettingsPatch &options);

// The settings file a folder declares for the tap: the one named by its MAC address, else
// default.json, else none (the tap is left as it is, with a note). The file's "store" adds to
// request.store; the options in request.settings win over the file's.
ExitCode applyDeclared(const QString &selector, const QString &folder, const ApplyRequest &request,
                       QJsonObject *document);

struct UpdateRequest
{
    bool confirmed = false;  // --yes
    bool forceStandIn = false;
    bool force = false;  // also into a tap that answers as firmware 4.0 already
    bool wait = false;  // then wait for the tap to restart and say what it answers as
    int timeoutSeconds = 120;  // of that wait
};
// Whether this program may write its image at all; the reason has been printed when not.
bool updateAllowed(const UpdateRequest &request);
ExitCode updateFirmware(const QString &selector, const UpdateRequest &request,
                        QJsonObject *document);

// Where the filter commands take the settings from: the tap's (with `tap`), overlaid by a
// settings file and then by setting options, as apply would leave them.
struct FilterSource
{
    bool tap = false;
    QString selector;
    QString profilePath;
    SettingsPatch options;
};
ExitCode printFilterExpression(const FilterSource &source);

struct PreviewRequest
{
    FilterSource source;
    QString capturePath;
    QString keptPath;  // empty: the kept frames are not written
};
ExitCode previewCapture(const PreviewRequest &request);
