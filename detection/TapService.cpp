#include "TapService.h"

#include <QCoreApplication>
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

// Whether a capture can be had on the interface, and what it had to settle for.
struct CaptureCheck
{
    QString problem;  // why none can be had; empty when it can
    LinkError::Kind cause = LinkError::Kind::Other;
    QStringList warnings;
};

// Why the interface failed: with the fix, where the failure is one of the interface's own,
// else in the capture library's words.
QString interfaceReason(const DeviceFailure &failure)
{
    using Cause = DeviceFailure::Cause;
    const bool interfacesOwn = failure.cause == Cause::FrameTooLong
        || failure.cause == Cause::InterfaceDown || failure.cause == Cause::InterfaceGone;
    return interfacesOwn ? failure.at(DeviceFailure::Step::None).text()
                         : QString::fromStdString(failure.detail);
}

CaptureCheck checkCapture(const QString &interfaceName)
{
    const QByteArray name = interfaceName.toLocal8Bit();
    PacketSession session(name.constData(), HostInterfaces::current().linkFor(interfaceName));
    session.setQuiet(true);  // the caller decides how often to say it
    CaptureCheck check;
    if (session.open()) {
        for (const std::string &warning : session.openWarnings())
            check.warnings << QString::fromStdString(warning);
        return check;  // the session releases its capture when it goes
    }
    check.cause = session.lastErrorKind();
    check.problem = interfaceReason(DeviceFailure().ofLink({check.cause, session.lastError()},
                                                           name.toStdString(), 0,
                                                           DeviceFailure::Cause::CannotOpen));
    return check;
}

TapOpening unreachable(TapOpening opening, const CaptureCheck &check)
{
    opening.result = TapOpening::Result::Unreachable;
    opening.reason = check.problem;
    opening.cause = check.cause;
    return opening;
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

Probe probeGeneration(MV1Device_v4 &candidate, QString *reason, LinkError::Kind *cause)
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
            if (failure.interfaceFault()) {
                *reason = interfaceReason(failure);
                *cause = failure.link;
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

// The device object of this generation, talking through the link the interfaces give.
std::unique_ptr<MV1Device> makeDevice(int generation, const QString &interfaceName)
{
    const QByteArray name = interfaceName.toLocal8Bit();
    std::unique_ptr<FrameLink> link = HostInterfaces::current().linkFor(interfaceName);
    if (generation == 3)
        return std::make_unique<MV1Device_v3>(name.constData(), std::move(link));
    return std::make_unique<MV1Device_v4>(name.constData(), std::move(link));
}

}  // namespace

std::optional<QList<TapInterface>> listTapInterfaces()
{
    return HostInterfaces::current().listTaps();
}

HeldTap::HeldTap(std::unique_ptr<MV1Device> device, std::unique_ptr<TapLock> lock,
                 const MacAddress &address, int interfaceIndex)
    : m_lock(std::move(lock))
    , m_device(std::move(device))
    , m_address(address)
    , m_index(interfaceIndex)
{
}

void HeldTap::followRename(const QString &newName)
{
    // Names are fixed in a device's links, and a rename takes the interface down, so their
    // captures are of no further use: a fresh device of the same generation takes over.
    m_device = makeDevice(m_device->generation(), newName);
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

    const int index = interfaces.interfaceIndex(interfaceName);
    const CaptureCheck capture = checkCapture(interfaceName);
    opening.warnings = capture.warnings;
    if (!capture.problem.isEmpty())
        return unreachable(std::move(opening), capture);

    std::unique_ptr<MV1Device> device = makeDevice(4, interfaceName);
    switch (
        probeGeneration(static_cast<MV1Device_v4 &>(*device), &opening.reason, &opening.cause)) {
    case Probe::Generation4: break;
    case Probe::Unsettled:
        qCDebug(lcDetection) << "generation of the tap on" << interfaceName
                             << "not settled:" << opening.reason;
        opening.result = TapOpening::Result::Unsettled;
        return opening;
    case Probe::Unreachable: opening.result = TapOpening::Result::Unreachable; return opening;
    case Probe::Silent: {
        // Silence from a capture that warned may be a tap whose answers never reach the host.
        if (!capture.warnings.isEmpty()) {
            CaptureCheck deaf;
            deaf.problem =
                QCoreApplication::translate("TapService",
                                            "%1; the tap's answers, addressed to "
                                            "00:00:00:00:00:00, may never reach this host")
                    .arg(capture.warnings.join(QStringLiteral("; ")));
            return unreachable(std::move(opening), deaf);
        }
        // Silence means generation 3 only while the capture still opens: a tap whose link
        // went down during the probe would otherwise swallow every later write.
        const CaptureCheck again = checkCapture(interfaceName);
        if (!again.problem.isEmpty())
            return unreachable(std::move(opening), again);
        device = makeDevice(3, interfaceName);
        break;
    }
    }
    opening.result = TapOpening::Result::Opened;
    opening.reason.clear();
    // The tap answers all the same; what the capture settled for is still said, once per take.
    for (const QString &warning : opening.warnings)
        qCWarning(lcDetection).noquote() << warning;
    opening.tap = std::make_unique<HeldTap>(std::move(device), std::move(lock), address, index);
    return opening;
}
