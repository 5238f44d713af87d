#pragma once

#include <QJsonObject>
#include <QString>

#include "ExitCode.h"
#include "SettingsPatch.h"

// Putting settings into a tap as `kalvessa100ctl apply` does, shared by every front end that
// writes them (the command-line tool, the extcap), so they agree on what is written and when:
// a tap that can be read back is written only where it differs, one that cannot (generation 3)
// must be given every setting. What happens is told through console::, and under --json put
// into *document.
struct ApplyRequest
{
    SettingsPatch settings;  // what the file and the options give
    bool store = false;
    bool check = false;
};

// `selector` names the tap by interface or MAC address; empty: the one tap attached. The tap is
// held (with its lock) only for the call.
ExitCode applySettings(const QString &selector, const ApplyRequest &request, QJsonObject *document);
