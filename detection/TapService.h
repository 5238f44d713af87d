#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>

#include "HostInterfaces.h"
#include "DeviceAbilities.h"

class MV1Device;
class TapLock;

// Every tap interface of this host, in the capture library's list order. Nothing when the list
// cannot be had ("Error in pcap_findalldevs: <reason>" is then logged).
std::optional<QList<TapInterface>> listTapInterfaces();

// A tap taken for talking to: the device object of its generation, and the lock that keeps
// other programs off the tap for as long as this is held.
class HeldTap
{
public:
    HeldTap(std::unique_ptr<MV1Device> device, std::unique_ptr<TapLock> lock,
            const MacAddress &address, int interfaceIndex = 0);
    ~HeldTap();
    HeldTap(const HeldTap &) = delete;
    HeldTap &operator=(const HeldTap &) = delete;

    MV1Device &device() const { return *m_device; }
    int generation() const;
    DeviceAbilities abilities() const;
    QString interfaceName() const;
    const MacAddress &address() const { return m_address; }
    void setAddress(const MacAddress &address) { m_address = address; }
    // The kernel's index of the interface, which a rename keeps (0: not known).
    int interfaceIndex() const { return m_index; }
    // The interface was renamed: the same tap, its lock and generation kept, now talked to
    // under its new name.
    void followRename(const QString &newName);

private:
    std::unique_ptr<TapLock> m_lock;  // released after the device is gone
    std::unique_ptr<MV1Device> m_device;
    MacAddress m_address;
    int m_index = 0;
};

struct TapOpening
{
    enum class Result {
        Opened,  // tap holds the device of the generation the probe found
        NotATap,  // no interface of that name carries the tap's prefix
        InUse,  // another program holds the tap; ownerPid when known
        // Its interface cannot carry the exchange (no privilege, link down, MTU too small,
        // the tap's answers not heard); reason, and in cause what the link said
        Unreachable,
        Unsettled,  // answers came that could not be told from other traffic; try again
    };
    Result result = Result::NotATap;
    std::unique_ptr<HeldTap> tap;
    QString reason;
    LinkError::Kind cause = LinkError::Kind::Other;  // Unreachable: NoPrivilege wants the privilege
    qint64 ownerPid = 0;
    // What the capture library had to settle for on this interface, each led by its name; for
    // the front ends to pass on.
    QStringList warnings;
};

// Takes the tap on this interface: its lock first (nothing is sent to a tap another program
// holds), then a capture, then the generation probe. A generation-4 tap acknowledges the probe
// write and reads the register back as written; a tap is only taken for generation 3 when no
// frame that could have been an answer came in all three probes, from a capture that opened as
// asked (a warning such as no promiscuous mode may mean that the answers never arrive) and
// still opens.
TapOpening openTap(const QString &interfaceName);

namespace probe {
constexpr int Attempts = 3;
constexpr unsigned long RetrySleepMs = 100;
constexpr uint8_t Value = 0xFF;
}  // namespace probe
