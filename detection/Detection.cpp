#include "Detection.h"

#include <QDeadlineTimer>
#include <QMutexLocker>

#include <algorithm>
#include <climits>
#include <cstdio>

#include <poll.h>

#include "DetectionLog.h"
#include "FirmwareImage.h"
#include "HostInterfaces.h"
#include "InterfaceDiscovery.h"
#include "MV1Device.h"
#include "TapService.h"

namespace {
constexpr int Generation4 = 4;
constexpr long double PercentScale = 100.0f;

TapProblem::Kind problemKind(TapOpening::Result result)
{
    switch (result) {
    case TapOpening::Result::InUse: return TapProblem::Kind::InUse;
    case TapOpening::Result::Unsettled: return TapProblem::Kind::Unsettled;
    case TapOpening::Result::Unreachable: return TapProblem::Kind::Unreachable;
    case TapOpening::Result::Opened:
    case TapOpening::Result::NotATap: break;
    }
    return TapProblem::Kind::None;
}
}  // namespace

Detection::Detection(QObject *parent) : QThread(parent) {}

Detection::~Detection()
{
    m_stopRequested.storeRelease(1);
    m_wakeUp.wake();
    wait();
    // The loop's last act is to clear the flag; acquiring it orders everything the loop wrote
    // before the members go (a join ThreadSanitizer sees, where QThread's own it cannot).
    m_stopRequested.loadAcquire();
}

void Detection::stop()
{
    m_stopRequested.storeRelease(1);
    m_wakeUp.wake();
    for (int poll = 1; poll <= StopPolls; ++poll) {
        QThread::msleep(StopPollMs);
        if (poll == StopPolls) {
            std::printf("Detection thread timeout when stopping\n");
            std::fflush(stdout);
            return;
        }
        if (m_stopRequested.loadAcquire() == 0)
            return;
    }
}

void Detection::post(const Requests &requests)
{
    {
        const QMutexLocker locker(&m_mutex);
        if (requests.write) {
            m_posted.settings = requests.settings;
            m_posted.write = true;
            m_posted.store = requests.store;
        }
        m_posted.read = m_posted.read || requests.read;
        m_posted.update = m_posted.update || requests.update;
    }
    m_wakeUp.wake();
}

void Detection::requestWrite(const DeviceSettings &settings, bool store)
{
    Requests requests;
    requests.settings = settings;
    requests.write = true;
    requests.store = store;
    post(requests);
}

void Detection::requestRead()
{
    Requests requests;
    requests.read = true;
    post(requests);
}

void Detection::requestUpdate()
{
    Requests requests;
    requests.update = true;
    post(requests);
}

TapSnapshot Detection::snapshot() const
{
    const QMutexLocker locker(&m_mutex);
    return m_published;
}

int Detection::copySettings(DeviceSettings &settings) const
{
    const QMutexLocker locker(&m_mutex);
    if (!m_published.present)
        return -1;
    settings = m_published.settings;
    return 0;
}

bool Detection::deviceHardwareAddress(uint8_t *out) const
{
    const QMutexLocker locker(&m_mutex);
    if (!m_published.present || !m_published.address)
        return false;
    std::copy(m_published.address->begin(), m_published.address->end(), out);
    return true;
}

int Detection::deviceGeneration() const
{
    const QMutexLocker locker(&m_mutex);
    return m_published.present ? m_published.generation : 0;
}

bool Detection::unreachableTap(QString *interfaceName, QString *reason) const
{
    const QMutexLocker locker(&m_mutex);
    if (m_published.problem.kind != TapProblem::Kind::Unreachable)
        return false;
    if (interfaceName)
        *interfaceName = m_published.problem.interfaceName;
    if (reason)
        *reason = m_published.problem.reason;
    return true;
}

QList<TapOutcome> Detection::takeOutcomes()
{
    const QMutexLocker locker(&m_mutex);
    return std::exchange(m_outcomes, {});
}

void Detection::UpdateProgressChanged(int p, int m)
{
    // A stage of no steps has no percentage, and dividing by it would be undefined.
    if (m <= 0)
        return;
    const long double percent = static_cast<long double>(p) * PercentScale / m;
    const long double bounded = std::clamp<long double>(percent, INT_MIN, INT_MAX);
    emit MV1UpdateProgress(static_cast<int>(bounded));
}

void Detection::run()
{
    if (m_stopRequested.fetchAndStoreOrdered(0) != 0)
        return;
    const std::unique_ptr<LinkChanges> links = HostInterfaces::current().watchLinks();
    for (;;) {
        const Requests work = takeRequests();
        if (work.update)
            carryOutUpdate();
        if (work.write)
            carryOutWrite(work.settings, work.store);
        if (work.read)
            carryOutRead();
        detect();
        if (!waitForWork(*links))
            break;
    }
    drop();  // on this thread, where the device objects were made
    m_stopRequested.storeRelease(0);
}

Detection::Requests Detection::takeRequests()
{
    const QMutexLocker locker(&m_mutex);
    return std::exchange(m_posted, {});
}

bool Detection::waitForWork(LinkChanges &links)
{
    const QDeadlineTimer nextTick(TickMs);
    for (;;) {
        if (m_stopRequested.loadAcquire() != 0)
            return false;
        {
            const QMutexLocker locker(&m_mutex);
            if (m_posted.any())
                return true;
        }
        const qint64 left = nextTick.remainingTime();
        if (left <= 0)
            return true;
        pollfd waitFor[2] = {{m_wakeUp.fd(), POLLIN, 0}, {links.fd(), POLLIN, 0}};
        const int ready = ::poll(waitFor, links.fd() >= 0 ? 2 : 1, static_cast<int>(left));
        if (ready <= 0)
            continue;  // the deadline, or a signal: looked at again above
        if (waitFor[0].revents != 0)
            m_wakeUp.clear();
        if (waitFor[1].revents != 0 && links.drain())
            return true;
    }
}

void Detection::carryOutUpdate()
{
    const bool done = m_tap && m_tap->device().updateFirmware(firmwareImage, firmwareImageLength);
    QString failure;
    if (!done)
        failure = m_tap ? m_tap->device().lastFailure().text() : tr("no tap is attached");
    report(TapOutcome::Action::Update, done, failure);
    if (done)
        emit MV1FinishedUpdate();
    else
        emit MV1FailedUpdate();
}

void Detection::carryOutWrite(const DeviceSettings &settings, bool store)
{
    const TapOutcome::Action action = store ? TapOutcome::Action::Store : TapOutcome::Action::Write;
    if (!m_tap) {
        // Nothing to write to: the record still takes what was posted, as the window entered it.
        keepPosted(settings);
        report(action, false, tr("no tap is attached"));
        emit MV1Changed();
        return;
    }

    MV1Device &device = m_tap->device();
    bool written = device.writeSettings(settings, false);
    QString failure = written ? QString() : device.lastFailure().text();
    if (store) {
        const bool stored = device.writeSettings(settings, true);
        if (!stored && written)
            failure = device.lastFailure().text();
        written = written && stored;
    }

    if (written) {
        keepPosted(settings);
    } else if (device.generation() == Generation4) {
        // Show what the tap holds, never what was merely posted. A generation-3 tap cannot
        // be read back, so its record stays as it was.
        DeviceSettings held;
        if (device.readSettings(held, false))
            m_current = held;
    }
    report(action, written, failure);
    emit MV1Changed();
}

// The record takes the posted settings; the status words stay the tap's.
void Detection::keepPosted(const DeviceSettings &settings)
{
    DeviceSettings posted = settings;
    posted.setFirmwareVersion(m_current.firmwareVersion());
    posted.setFirmwareTypeCode(m_current.firmwareTypeCode());
    m_current = posted;
}

void Detection::carryOutRead()
{
    QString failure = tr("no tap is attached");
    bool read = false;
    if (m_tap) {
        DeviceSettings held;
        read = m_tap->device().readSettings(held, false);
        if (read)
            m_current = held;
        else
            failure = m_tap->device().lastFailure().text();
    }
    report(TapOutcome::Action::Read, read, read ? QString() : failure);
    emit MV1Changed();
}

void Detection::detect()
{
    if (m_tap) {
        // Held while its own interface carries the prefix; a vanished or renamed interface
        // lets a later step take whichever tap is there then.
        MacAddress address{};
        if (HostInterfaces::current().hardwareAddress(m_tap->interfaceName(), &address)
            && isTapAddress(address.data())) {
            if (address != m_tap->address()) {
                m_tap->setAddress(address);
                publish();
                emit MV1Changed();
            }
            return;
        }
        drop();
        publish();
        emit MV1Changed();
        return;
    }

    // The cheap look first; the capture library's listing only once there is a tap to list.
    const std::optional<QList<TapInterface>> taps =
        HostInterfaces::current().anyTap() ? listTapInterfaces() : QList<TapInterface>();
    TapProblem problem;
    QHash<QString, QString> failuresNow;
    for (const TapInterface &interface : taps.value_or(QList<TapInterface>())) {
        TapOpening opening = openTap(interface.name);
        if (opening.result == TapOpening::Result::Opened) {
            take(std::move(opening.tap));
            m_toldCaptureFailures.clear();
            return;
        }
        if (opening.result == TapOpening::Result::Unreachable) {
            // Tried every step, said once while the reason stays the same.
            if (m_toldCaptureFailures.value(interface.name) != opening.reason) {
                std::printf("Cannot open interface : %s\n", qPrintable(opening.reason));
                std::fflush(stdout);
            }
            failuresNow.insert(interface.name, opening.reason);
        }
        if (opening.result != TapOpening::Result::NotATap
            && problem.kind == TapProblem::Kind::None) {
            problem.interfaceName = interface.name;
            problem.reason = opening.reason;
            problem.ownerPid = opening.ownerPid;
            problem.kind = problemKind(opening.result);
        }
    }
    m_toldCaptureFailures = failuresNow;
    if (problem == m_problem)
        return;
    m_problem = problem;
    publish();
    emit MV1Changed();
}

void Detection::take(std::unique_ptr<HeldTap> tap)
{
    m_tap = std::move(tap);
    m_problem = {};
    MV1Device &device = m_tap->device();
    connect(&device, &MV1Device::MV1UpdateProgress, this, &Detection::UpdateProgressChanged);
    // A generation-3 tap cannot be read: its record starts cleared, as the read leaves it.
    DeviceSettings held;
    const bool read = device.readSettings(held, false);
    m_current = held;
    if (!read && device.generation() == Generation4)
        report(TapOutcome::Action::Read, false, device.lastFailure().text());
    else
        publish();
    emit MV1Changed();
}

void Detection::drop()
{
    m_tap.reset();
}

void Detection::report(TapOutcome::Action action, bool succeeded, const QString &failure)
{
    TapOutcome outcome;
    outcome.action = action;
    outcome.succeeded = succeeded;
    outcome.failure = failure;
    outcome.finishedAt = QDateTime::currentDateTime();
    if (!succeeded)
        qCDebug(lcDetection).noquote() << "request failed:" << failure;
    {
        const QMutexLocker locker(&m_mutex);
        m_outcomes.append(outcome);
    }
    publish();
}

void Detection::publish()
{
    TapSnapshot now;
    now.present = m_tap != nullptr;
    if (m_tap) {
        now.generation = m_tap->generation();
        now.interfaceName = m_tap->interfaceName();
        now.address = m_tap->address();
        now.settings = m_current;
    } else {
        now.problem = m_problem;
    }
    const QMutexLocker locker(&m_mutex);
    m_published = now;
}
