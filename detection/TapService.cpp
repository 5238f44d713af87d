#include "TapService.h"

#include <QThread>

#include "DetectionLog.h"
#include "HostInterfaces.h"
#include "InterfaceDiscovery.h"
#include "MV1Device_v3.h"
#include "MV1Device_v4.h"
#include "PacketSession.h"
#include "SettingsRegisterMap.h"
#include "TapLock.h"

namespace {

enum class Probe { Generation4, Silent, Unsettled, Unreachable };

// The capture library's reason when no capture can be had on the interface; empty when it can.
QString captureProblem(const QString &interfaceName)
{
    const QByteArray name = interfaceName.toLocal8Bit();
    PacketSession session(name.constData(), HostInterfaces::current().linkFor(interfaceName));
    session.setQuiet(true);  // the caller decides how often to say it
    if (session.open())
        return {};  // the session releases its capture when it goes
    return QString::fromStdString(session.lastError());
}

// The probe write is acknowledged by a code any frame on the line could carry; reading the
// register back as written (twice, the same) is what a silent tap cannot be made to fake.
bool readsBackProbeValue(MV1Device_v4 &candidate)
{
    uint8_t first = 0, second = 0;
    return candidate.readRegister(reg::Control, &first, false)
        && candidate.readRegister(reg::Control, &second, false) && first == second
        && (first & ControlByteReadMask) == (probe::Value & ControlByteReadMask);
}

Probe probeGeneration(MV1Device_v4 &candidate, QString *reason)
{
    bool heard = false;
    for (int attempt = 1; attempt <= probe::Attempts; ++attempt) {
        if (candidate.writeRegister(reg::Control, probe::Value, false)) {
            if (readsBackProbeValue(candidate))
                return Probe::Generation4;
            heard = true;
            *reason = QStringLiteral("the probe was acknowledged, but the register did not read "
                                     "back: %1")
                          .arg(candidate.lastFailure().text());
        } else {
            const DeviceFailure &failure = candidate.lastFailure();
            using Cause = DeviceFailure::Cause;
            if (failure.cause == Cause::CannotOpen || failure.cause == Cause::CannotSend) {
                *reason = QString::fromStdString(failure.detail);
                return Probe::Unreachable;
            }
            // Someone answered, though not as the tap would: it may be the tap behind the
            // monitored network's traffic, so silence can no longer be claimed.
            if (failure.heardReply) {
                heard = true;
                *reason = failure.at(DeviceFailure::Step::Probe).text();
            }
        }
        if (attempt < probe::Attempts)
            QThread::msleep(probe::RetrySleepMs);
    }
    return heard ? Probe::Unsettled : Probe::Silent;
}

}  // namespace

std::optional<QList<TapInterface>> listTapInterfaces()
{
    return HostInterfaces::current().listTaps();
}

HeldTap::HeldTap(std::unique_ptr<MV1Device> device, std::unique_ptr<TapLock> lock,
                 const MacAddress &address)
    : m_lock(std::move(lock))
    , m_device(std::move(device))
    , m_address(address)
{
}

HeldTap::~HeldTap() = default;

int HeldTap::generation() const
{
    return m_device->generation();
}

DeviceAbilities HeldTap::abilities() const
{
    return m_device->abilities();
}

QString HeldTap::interfaceName() const
{
    return QString::fromLocal8Bit(m_device->interfaceName());
}

TapOpening openTap(const QString &interfaceName)
{
    TapOpening opening;
    HostInterfaces &interfaces = HostInterfaces::current();
    const QByteArray name = interfaceName.toLocal8Bit();
    MacAddress address{};
    if (!interfaces.hardwareAddress(interfaceName, &address) || !isTapAddress(address.data()))
        return opening;

    std::unique_ptr<TapLock> lock;
    QString lockError;
    switch (TapLock::acquire(address, &lock, &opening.ownerPid, &lockError)) {
    case TapLock::Result::Taken: break;
    case TapLock::Result::InUse: opening.result = TapOpening::Result::InUse; return opening;
    case TapLock::Result::Unavailable:
        qCWarning(lcDetection) << "going on without a lock for" << interfaceName << ":"
                               << lockError;
        break;
    }

    opening.reason = captureProblem(interfaceName);
    if (!opening.reason.isEmpty()) {
        opening.result = TapOpening::Result::Unreachable;
        return opening;
    }

    std::unique_ptr<MV1Device> device =
        std::make_unique<MV1Device_v4>(name.constData(), interfaces.linkFor(interfaceName));
    switch (probeGeneration(static_cast<MV1Device_v4 &>(*device), &opening.reason)) {
    case Probe::Generation4: break;
    case Probe::Unsettled:
        qCDebug(lcDetection) << "generation of the tap on" << interfaceName
                             << "not settled:" << opening.reason;
        opening.result = TapOpening::Result::Unsettled;
        return opening;
    case Probe::Unreachable: opening.result = TapOpening::Result::Unreachable; return opening;
    case Probe::Silent:
        // Silence means generation 3 only while the capture still opens: a tap whose link
        // went down during the probe would otherwise swallow every later write.
        opening.reason = captureProblem(interfaceName);
        if (!opening.reason.isEmpty()) {
            opening.result = TapOpening::Result::Unreachable;
            return opening;
        }
        device =
            std::make_unique<MV1Device_v3>(name.constData(), interfaces.linkFor(interfaceName));
        break;
    }
    opening.result = TapOpening::Result::Opened;
    opening.reason.clear();
    opening.tap = std::make_unique<HeldTap>(std::move(device), std::move(lock), address);
    return opening;
}
