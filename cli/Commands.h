#pragma once

#include <QString>

#include "ExitCode.h"
#include "SettingsPatch.h"

// The tool's commands, each run once the command line has been read whole. Each prints its
// results on standard output and its problems on standard error.

ExitCode listTaps(bool json);
ExitCode showSettings(const QString &interfaceName, bool json);
ExitCode saveProfile(const QString &interfaceName, const QString &path);

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
