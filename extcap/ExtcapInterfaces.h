#pragma once

#include <QString>

#include <optional>

#include "HostInterfaces.h"

// How the extcap names a tap to Wireshark: by its MAC address, which stays the same when the
// tap comes back under another interface name, so a capture's saved options keep their tap.
namespace extcapinterfaces {

QString valueOf(const MacAddress &address);  // "kalvessa100-000ec6123456"
// The MAC address such a name carries; nothing for a name this extcap does not give.
std::optional<MacAddress> addressOf(const QString &value);
// "Kalvessa 100 on kvtap0 (00:0e:c6:12:34:56)"
QString displayOf(const TapInterface &tap);

}  // namespace extcapinterfaces
