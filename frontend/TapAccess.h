#pragma once

#include <QString>

#include <QList>
#include <QStringList>

#include <memory>
#include <optional>

#include "DeviceSettings.h"
#include "ExitCode.h"
#include "MV1Device.h"
#include "TapOutcome.h"
#include "TapService.h"

// Finding the tap a command works on and taking it, through the same discovery, lock and
// generation probe as the window; when it cannot be had, telling people why and how to fix it.
namespace tapaccess {

enum class Choice {
    FirstAvailable,  // without --interface: the first listed tap that can be taken, as the window
    OnlyOne,  // without --interface: the one tap attached; several are refused
};

struct Taken
{
    std::unique_ptr<HeldTap> tap;  // null when not taken; the reason has been printed
    ExitCode failure = ExitCode::Success;
};

// `selector` names the tap by interface or MAC address (see macOf); empty: choose by `choice`.
Taken take(const QString &selector, Choice choice);

// The MAC address a selector gives, in any of the notations people write one in
// (00:0e:c6:12:34:56, 00-0E-C6-12-34-56, 000ec6123456, 000e.c612.3456); nothing for a name.
std::optional<MacAddress> macOf(const QString &selector);
// The name of the file that holds one tap's settings among others': 00-0e-c6-12-34-56.json.
QString profileFileName(const MacAddress &address);

struct Target
{
    QString interfaceName;
    MacAddress address{};
};
// The taps the selectors name, each once in the order first named, or with `all` every tap
// attached. Nothing, with the reason printed and *failure set, when one cannot be found.
std::optional<QList<Target>> targets(const QStringList &selectors, bool all, ExitCode *failure);

ExitCode exitCodeOf(TapOpening::Result result);
// Sent but not confirmed counts as done: a tap that answers nothing can tell no more.
ExitCode exitCodeOf(const TapOutcome &outcome);
// How to grant the capture privilege, for a tap that cannot be captured on for want of it (and
// only then: a privilege is no cure for a link that is down).
QString privilegeHint();
bool wantsPrivilege(const TapOpening &opening);
QString noInterfaceListText();
QString noTapText();
// Why the tap on this interface was not taken, in one line (without the interface's name).
QString problemText(const TapOpening &opening);
QString macText(const MacAddress &address);
// "4.0 (type 0x220C)", with a note when the tool does not recognise the firmware.
QString firmwareText(const DeviceSettings &status);
QString firmwareVersionText(uint16_t version);
QString firmwareTypeText(uint16_t typeCode);
// One line naming a tap, for lists and headers: "kvtap0  00:0e:c6:12:34:56  <details>".
QString tapLine(const QString &interfaceName, const MacAddress &address, const QString &details);

}  // namespace tapaccess
