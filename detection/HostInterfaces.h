#pragma once

#include <QList>
#include <QString>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>

#include "FrameLink.h"

using MacAddress = std::array<uint8_t, 6>;

// An interface whose hardware address carries the tap's prefix.
struct TapInterface
{
    QString name;
    MacAddress address{};
};

// Tells whoever waits on fd() that interfaces appeared, went away or changed.
class LinkChanges
{
public:
    virtual ~LinkChanges() = default;
    // Readable when something changed; -1 when no notice can be had (a regular look must do).
    virtual int fd() const = 0;
    // Takes every notice waiting; true when one of them was about a link.
    virtual bool drain() = 0;
};

// The host's network interfaces as the tap service sees them: which carry the tap's prefix, an
// interface's address, a frame link to it, and notice of changes. Normally the kernel's (the
// capture library's list, SIOCGIFHWADDR, captures of this process, rtnetlink); a test may put
// simulated taps in their place for the whole process.
class HostInterfaces
{
public:
    virtual ~HostInterfaces() = default;

    // Every tap interface, in list order; nothing when the list cannot be had.
    virtual std::optional<QList<TapInterface>> listTaps() = 0;
    // Whether any interface may carry the tap's prefix: cheaper than the list, for a look every
    // second; true when it cannot tell.
    virtual bool anyTap() = 0;
    // False, leaving *out alone, when the interface has no address to tell.
    virtual bool hardwareAddress(const QString &interfaceName, MacAddress *out) = 0;
    // The interface's index, which stays with it when it is renamed; an interface made later
    // (the same tap plugged in again) gets another. 0 when there is no interface of that name.
    virtual int interfaceIndex(const QString &interfaceName) = 0;
    // Whether the interface is there and up. A tap held while its link went down is probed
    // anew once it is back: a replug may have started other firmware.
    virtual bool linkUp(const QString &interfaceName) = 0;
    // The name the interface of that index has now; empty when it is gone.
    virtual QString interfaceName(int index) = 0;
    // The link a device on this interface talks through (not opened yet).
    virtual std::unique_ptr<FrameLink> linkFor(const QString &interfaceName) = 0;
    virtual std::unique_ptr<LinkChanges> watchLinks() = 0;

    // The interfaces in use: the kernel's unless others were put in place.
    static HostInterfaces &current();
    // Puts `interfaces` (null: the kernel's) in place and returns what was in place before.
    // Done before any thread looks, as a test's set-up does.
    static HostInterfaces *putInPlace(HostInterfaces *interfaces);
};
