#pragma once

#include <QString>

#include "ExitCode.h"
#include "SettingsPatch.h"

// What Wireshark asks of the extcap, one function per request. Results go to standard output
// in the extcap's line format; problems to standard error in kalvessa100ctl's words, with its
// exit codes.
namespace extcapcommands {

ExitCode listInterfaces();
ExitCode listLinkTypes(const QString &interfaceValue);
ExitCode printConfig(const QString &interfaceValue);

struct CaptureRequest
{
    QString interfaceValue;
    QString fifo;
    QString captureFilter;
    SettingsPatch settings;  // empty: the tap's settings are left as they are
    bool store = false;
};
// Applies the settings as kalvessa100ctl apply does (nothing written when the tap holds them),
// lets the tap go, then captures through the helper until Wireshark stops it.
ExitCode capture(const CaptureRequest &request);

}  // namespace extcapcommands
