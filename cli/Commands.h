#pragma once

#include <QString>

#include <optional>

#include "DeviceSettings.h"
#include "ExitCode.h"
#include "TapService.h"
#include "SettingsPatch.h"

// The tool's commands, each run once the command line has been read whole. Each prints its
// results on standard output and its problems on standard error.

ExitCode listTaps(bool json);

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
TapReading readTap(const QString &interfaceName);
ExitCode showSettings(const QString &interfaceName, bool json);
ExitCode saveProfile(const QString &interfaceName, const QString &path);

// What a settings file (when a path is given) and setting options give, the options winning;
// nothing, with the reason printed, when the file cannot be had.
std::optional<SettingsPatch> givenSettings(const QString &profilePath,
                                           const SettingsPatch &options);

struct ApplyRequest
{
    QString interfaceName;
    QString profilePath;  // empty: no settings file
    SettingsPatch options;  // given on the command line; they win over the file
    bool store = false;
    bool check = false;
    bool json = false;
};
ExitCode applySettings(const ApplyRequest &request);

struct UpdateRequest
{
    QString interfaceName;
    bool confirmed = false;  // --yes
    bool forceStandIn = false;
};
ExitCode updateFirmware(const UpdateRequest &request);

// Where the filter commands take the settings from: the tap's (with `tap`), overlaid by a
// settings file and then by setting options, as apply would leave them.
struct FilterSource
{
    bool tap = false;
    QString interfaceName;
    QString profilePath;
    SettingsPatch options;
};
ExitCode printFilterExpression(const FilterSource &source);

struct PreviewRequest
{
    FilterSource source;
    QString capturePath;
    QString keptPath;  // empty: the kept frames are not written
    bool json = false;
};
ExitCode previewCapture(const PreviewRequest &request);
