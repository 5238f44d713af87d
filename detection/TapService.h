#pragma once

#include <QList>
#include <QString>

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
            const MacAddress &address);
    ~HeldTap();
    HeldTap(const HeldTap &) = delete;
    HeldTap &operator=(const HeldTap &) = delete;

    MV1Device &device() const { return *m_device; }
    int generation() const;
    DeviceAbilities abilities() const;
    QString interfaceName() const;
    const MacAddress &address() const { return m_address; }
    void setAddress(const MacAddress &address) { m_address = address; }

private:
    std::unique_ptr<TapLock> m_lock;  // released after the device is gone
    std::unique_ptr<MV1Device> m_device;
    MacAddress m_address;
};

struct TapOpening
{
    enum class Result {
        Opened,  // tap holds the device of the generation the probe found
        NotATap,  // no interface of that name carries the tap's prefix
        InUse,  // another program holds the tap; ownerPid when known
        Unreachable,  // no capture on the interface (no privilege, link down); reason
        Unsettled,  // answers came that could not be told from other traffic; try again
    };
    Result result = Result::NotATap;
    std::unique_ptr<HeldTap> tap;
    QString reason;
    qint64 ownerPid = 0;
};

// Takes the tap on this interface: its lock first (nothing is sent to a tap another program
// holds), then a capture, then the generation probe. A generation-4 tap acknowledges the probe
// write and reads the register back as written; a tap is only taken for generation 3 when no
// frame that could have been an answer came in all three probes and the capture still opens.
TapOpening openTap(const QString &interfaceName);

namespace probe {
constexpr int Attempts = 3;
constexpr unsigned long RetrySleepMs = 100;
constexpr uint8_t Value = 0xFF;
}  // namespace probe
