#pragma once

#include <QList>
#include <QString>

#include <optional>

#include "DeviceAbilities.h"
#include "DeviceSettings.h"
#include "TapService.h"

// A tap interface is listed, but no tap is held for it.
struct TapProblem
{
    enum class Kind {
        None,
        Unreachable,  // its interface cannot carry the exchange (no privilege, link down): reason
        InUse,  // another program holds it: ownerPid when known
        Unsettled,  // answers came that could not be told from other traffic: reason
    };
    Kind kind = Kind::None;
    QString interfaceName;
    QString reason;
    // Unreachable: what the link said; only NoPrivilege is mended by granting the privilege.
    LinkError::Kind cause = LinkError::Kind::Other;
    qint64 ownerPid = 0;

    bool operator==(const TapProblem &) const = default;
};

// An attached tap as the window lists it for choosing. Its generation and firmware are known
// only once this window has held it: no other tap is taken or probed to fill them in.
struct ListedTap
{
    QString interfaceName;
    MacAddress address{};
    int generation = 0;  // 4 or 3 when known, else 0
    std::optional<DeviceSettings> firmware;  // its status words, when known
    bool held = false;  // the tap this window holds
    bool inUse = false;  // another program holds it: ownerPid when known
    qint64 ownerPid = 0;

    bool operator==(const ListedTap &) const = default;
};

// What the worker knows of the tap, published at the end of every step it takes.
struct TapSnapshot
{
    bool present = false;
    int generation = 0;  // 4 or 3 while present
    DeviceAbilities abilities;  // what the tap held can be asked to do
    QString interfaceName;
    std::optional<MacAddress> address;
    DeviceSettings settings;  // as last read from the tap or written to it
    // Its status words were read: false for a tap that cannot be read back, and for one whose
    // reads failed (a noisy line), whose firmware is unknown until a read succeeds.
    bool firmwareKnown = false;
    // Counts the taps taken in this run: a new number with the same address is the tap taken
    // anew (its link went and came back), however quickly that happened.
    int taking = 0;
    TapProblem problem;  // set only while no tap is held
    QList<ListedTap> taps;  // every attached tap, in list order
};
