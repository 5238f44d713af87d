#pragma once

#include <QString>
#include <QStringList>

#include <optional>

#include "DeviceSettings.h"
#include "SettingValues.h"

// The tap's capture settings as the options of an extcap interface: the lines that
// --extcap-config prints, so that Wireshark's dialog offers every setting (prefilled with what
// the tap holds, when it can be read) and refuses a malformed value itself.
namespace extcapoptions {

// The option that asks for the settings to be stored in the tap as well (Flash).
QString storeOptionName();  // "store"

// The regular expression Wireshark checks a setting's text against; empty for settings chosen
// from a list. It admits an empty text (the setting not given) and the notations people most
// often write; the extcap itself reads every notation kalvessa100ctl reads.
QString validationPattern(Setting setting);

// What the dialog says about the settings as a whole when it cannot show the tap's own.
struct ConfigNote
{
    QString text;  // empty: the settings shown are the tap's
};

// The arg and value lines. `current`: the tap's working copy, the default of every option;
// nothing: no defaults, with `note` saying why.
QStringList configLines(const std::optional<DeviceSettings> &current, const ConfigNote &note);

}  // namespace extcapoptions
