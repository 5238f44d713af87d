#include "Detection.h"

#include <QDeadlineTimer>
#include <QMutexLocker>

#include <algorithm>
#include <chrono>
#include <utility>

#include <poll.h>

#include "DetectionLog.h"
#include "FirmwareImage.h"
#include "HostInterfaces.h"
#include "InterfaceDiscovery.h"
#include "MV1Device.h"
#include "TapOperations.h"
#include "TapLock.h"
#include "TapService.h"

namespace {
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
    // The loop's last act is to say so under this lock; taking it orders everything the loop
    // wrote before the members go (a join ThreadSanitizer sees, where QThread's own it cannot).
    const std::lock_guard locker(m_stopMutex);
}

void Detection::stop()
{
    std::unique_lock locker(m_stopMutex);
    m_stopRequested.storeRelease(1);
    m_wakeUp.wake();
    if (!m_loopEnded.wait_for(locker, std::chrono::milliseconds(StopWaitMs),
                              [this] { return m_stopRequested.loadAcquire() == 0; }))
        qCWarning(lcDetection, "Detection thread timeout when stopping");
}

void Detection::loopEnded()
{
    const std::lock_guard locker(m_stopMutex);
    m_stopRequested.storeRelease(0);
    m_loopEnded.notify_all();
}

void Detection::post(const Requests &requests)
{
    {
        const QMutexLocker locker(&m_mutex);
        if (requests.write) {
            if (m_posted.write) {
                m_posted.replaced.append(TapOutcome::of(m_posted.store ? TapOutcome::Action::Store
                                                                       : TapOutcome::Action::Write,
                                                        TapOutcome::Result::Cancelled));
            }
            m_posted.settings = requests.settings;
            m_posted.write = true;
            m_posted.store = requests.store;
        }
        if (requests.choose)
            m_posted.choose = requests.choose;
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

void Detection::requestChoose(const MacAddress &address)
{
    Requests requests;
    requests.choose = address;
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

QList<TapOutcome> Detection::takeOutcomes()
{
    const QMutexLocker locker(&m_mutex);
    return std::exchange(m_outcomes, {});
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

void Detection::run()
{
    if (m_stopRequested.loadAcquire() != 0) {
        loopEnded();
        return;
    }
    const std::unique_ptr<LinkChanges> links = HostInterfaces::current().watchLinks();
    for (;;) {
        const Requests work = takeRequests();
        for (const TapOutcome &cancelled : work.replaced)
            end(cancelled);
        if (work.update)
            carryOutUpdate();
        if (work.write)
            carryOutWrite(work.settings, work.store);
        if (work.read)
            carryOutRead();
        if (work.choose)
            carryOutChoice(*work.choose);
        detect();
        // Between requests: the capture goes once it has stood idle. The look above only
        // reads the interface's address, so it never brings the capture back.
        if (m_tap)
            m_tap->device().releaseIdleCapture();
        if (!waitForWork(*links))
            break;
    }
    drop();  // on this thread, where the device objects were made
    loopEnded();
}

Detection::Requests Detection::takeRequests()
{
    const QMutexLocker locker(&m_mutex);
    return std::exchange(m_posted, {});
}

bool Detection::waitForWork(LinkChanges &links)
{
    // Woken for the capture's release when that comes before the next tick.
    const int release = m_tap ? m_tap->device().msUntilCaptureRelease() : -1;
    const QDeadlineTimer nextTick(release >= 0 ? std::min<int>(release, TickMs) : TickMs);
    for (;;) {
        if (m_stopRequested.loadAcquire() != 0)
            return false;
        {
            const QMutexLocker locker(&m_mutex);
            if (m_posted.any())
                return true;
        }
        const qint64 left = nextTick.remainingTime();
        if (left <= 0) {
            // Without notice of changes, only a look tells.
            m_listStale = m_listStale || links.fd() < 0;
            return true;
        }
        pollfd waitFor[2] = {{m_wakeUp.fd(), POLLIN, 0}, {links.fd(), POLLIN, 0}};
        const int ready = ::poll(waitFor, links.fd() >= 0 ? 2 : 1, static_cast<int>(left));
        if (ready <= 0)
            continue;  // the deadline, or a signal: looked at again above
        if (waitFor[0].revents != 0)
            m_wakeUp.clear();
        if (waitFor[1].revents != 0 && links.drain()) {
            m_listStale = true;
            return true;
        }
    }
}

void Detection::carryOutUpdate()
{
    if (!m_tap) {
        end(tapoperation::withoutTap(TapOutcome::Action::Update));
        return;
    }
    int shown = -1;
    // A signal per percent rather than per page: the bar shows no finer steps.
    const auto progress = [this, &shown](const OperationProgress &now) {
        if (now.percent != shown) {
            shown = now.percent;
            emit MV1UpdateProgress(now.percent);
        }
    };
    end(tapoperation::updateFirmware(*m_tap, firmwareImage, firmwareImageLength, progress));
}

void Detection::carryOutWrite(const DeviceSettings &settings, bool store)
{
    if (!m_tap) {
        // Nothing to write to: the record still takes what was posted, as the window entered it.
        keepPosted(settings);
        end(tapoperation::withoutTap(store ? TapOutcome::Action::Store
                                           : TapOutcome::Action::Write));
        emit MV1Changed();
        return;
    }

    const TapOutcome outcome = tapoperation::writeSettings(*m_tap, settings, store);
    if (outcome.carriedOut()) {
        keepPosted(settings);
    } else if (m_tap->abilities().readsBack && !outcome.failure.interfaceFault()) {
        // Show what the tap holds, never what was merely posted. A tap that cannot be read
        // back, or whose interface just failed, keeps its record as it was.
        DeviceSettings held;
        if (tapoperation::readSettings(*m_tap, &held).carriedOut())
            m_current = held;
    }
    end(outcome);
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
    TapOutcome outcome = tapoperation::withoutTap(TapOutcome::Action::Read);
    if (m_tap) {
        DeviceSettings held;
        outcome = tapoperation::readSettings(*m_tap, &held);
        if (outcome.carriedOut()) {
            m_current = held;
            m_firmwareKnown = true;
        }
    }
    end(outcome);
    emit MV1Changed();
}

void Detection::learnFirmware()
{
    if (m_firmwareKnown || !m_tap->abilities().readsBack)
        return;
    DeviceSettings held;
    if (!tapoperation::readSettings(*m_tap, &held).carriedOut())
        return;
    // Only the status words: the settings in the record are what the window shows and edits.
    m_current.setFirmwareVersion(held.firmwareVersion());
    m_current.setFirmwareTypeCode(held.firmwareTypeCode());
    m_firmwareKnown = true;
    publish();
    emit MV1Changed();
}

void Detection::carryOutChoice(const MacAddress &address)
{
    m_wanted = address;
    m_listStale = true;
    if (!m_tap || m_tap->address() == address)
        return;
    // Its lock goes with it, so that the tap is free for others before the next is taken.
    drop();
    m_problem = {};
    publish();
    emit MV1Changed();
}

void Detection::detect()
{
    if (m_tap) {
        if (followHeldTap()) {
            learnFirmware();
            relist(false);
            if (listing() != m_publishedList) {
                publish();
                emit MV1Changed();
            }
        }
        return;
    }
    lookForTap();
}

bool Detection::followHeldTap()
{
    // Held while its own interface carries the prefix, followed by its index through a
    // rename; a vanished interface (even one plugged in again under the same name, which
    // may be the tap restarted into other firmware) lets a later step take whichever tap is
    // there then.
    HostInterfaces &interfaces = HostInterfaces::current();
    QString name = m_tap->interfaceName();
    const int index = m_tap->interfaceIndex();
    if (index > 0 && interfaces.interfaceIndex(name) != index)
        name = interfaces.interfaceName(index);
    MacAddress address{};
    // A link that went down may come back with the tap restarted into other firmware (a
    // replug, or the end of an update): it is dropped now and probed anew once it is up, at
    // once on the kernel's notice rather than at the next scan.
    const bool up = !name.isEmpty() && interfaces.linkUp(name);
    if (!name.isEmpty() && !up)
        qCInfo(lcDetection, "%s went down; the tap is looked at anew when it is back",
               qPrintable(name));
    if (up && interfaces.hardwareAddress(name, &address) && isTapAddress(address.data())) {
        const bool renamed = name != m_tap->interfaceName();
        if (renamed) {
            qCInfo(lcDetection, "%s is now called %s; the tap stays held",
                   qPrintable(m_tap->interfaceName()), qPrintable(name));
            m_tap->followRename(name);
            m_listStale = true;
        }
        if (renamed || address != m_tap->address()) {
            m_tap->setAddress(address);
            relist(false);
            publish();
            emit MV1Changed();
        }
        return true;
    }
    drop();
    m_listStale = true;
    relist(false);
    publish();
    emit MV1Changed();
    return false;
}

void Detection::lookForTap()
{
    // The cheap look first; the capture library's listing only once there is a tap to list.
    const std::optional<QList<TapInterface>> taps =
        HostInterfaces::current().anyTap() ? listTapInterfaces() : QList<TapInterface>();
    m_interfaces = taps.value_or(QList<TapInterface>());
    m_listStale = false;
    // Before any is taken, so that the tap taken is published with the whole list at once.
    relist(true);
    // The chosen tap first, then the others in list order.
    QList<TapInterface> order = m_interfaces;
    std::stable_partition(order.begin(), order.end(), [this](const TapInterface &interface) {
        return m_wanted && interface.address == *m_wanted;
    });
    TapProblem problem;
    QHash<QString, QString> failuresNow;
    for (const TapInterface &interface : order) {
        TapOpening opening = openTap(interface.name);
        if (opening.result == TapOpening::Result::Opened) {
            take(std::move(opening.tap));
            m_toldCaptureFailures.clear();
            return;
        }
        if (opening.result == TapOpening::Result::Unreachable) {
            // Tried every step, said once while the reason stays the same.
            if (m_toldCaptureFailures.value(interface.name) != opening.reason)
                qCWarning(lcDetection, "Cannot open interface : %s", qPrintable(opening.reason));
            failuresNow.insert(interface.name, opening.reason);
        }
        if (opening.result != TapOpening::Result::NotATap
            && problem.kind == TapProblem::Kind::None) {
            problem.interfaceName = interface.name;
            problem.reason = opening.reason;
            problem.cause = opening.cause;
            problem.ownerPid = opening.ownerPid;
            problem.kind = problemKind(opening.result);
        }
    }
    m_toldCaptureFailures = failuresNow;
    if (problem == m_problem && listing() == m_publishedList)
        return;
    m_problem = problem;
    publish();
    emit MV1Changed();
}

void Detection::relist(bool interfacesKnown)
{
    if (!interfacesKnown && m_listStale) {
        if (const std::optional<QList<TapInterface>> taps = listTapInterfaces()) {
            m_interfaces = *taps;
            m_listStale = false;
        }
    }
    // Only where there is a choice: a single tap not held says why in the problem line.
    m_heldElsewhere.clear();
    if (m_interfaces.size() > 1) {
        for (const TapInterface &interface : std::as_const(m_interfaces)) {
            qint64 pid = 0;
            if ((!m_tap || interface.address != m_tap->address())
                && TapLock::isHeld(interface.address, &pid))
                m_heldElsewhere[interface.address] = pid;
        }
    }
}

QList<ListedTap> Detection::listing() const
{
    QList<ListedTap> out;
    for (const TapInterface &interface : m_interfaces) {
        ListedTap listed;
        listed.interfaceName = interface.name;
        listed.address = interface.address;
        listed.held = m_tap && m_tap->address() == interface.address;
        if (const auto known = m_known.find(interface.address); known != m_known.end()) {
            listed.generation = known->second.generation;
            if (known->second.firmwareKnown)
                listed.firmware = known->second.firmware;
        }
        if (const auto holder = m_heldElsewhere.find(interface.address);
            holder != m_heldElsewhere.end()) {
            listed.inUse = true;
            listed.ownerPid = holder->second;
        }
        out.append(listed);
    }
    return out;
}

void Detection::take(std::unique_ptr<HeldTap> tap)
{
    m_tap = std::move(tap);
    ++m_takes;
    m_problem = {};
    m_heldElsewhere.erase(m_tap->address());  // its lock is ours now
    // A tap that cannot be read back starts with a cleared record.
    DeviceSettings held;
    TapOutcome read = TapOutcome::of(TapOutcome::Action::Read, TapOutcome::Result::Succeeded);
    if (m_tap->abilities().readsBack)
        read = tapoperation::readSettings(*m_tap, &held);
    m_current = held;
    m_firmwareKnown = m_tap->abilities().readsBack && read.carriedOut();
    if (read.failed())
        end(read);
    else
        publish();
    emit MV1Changed();
}

void Detection::drop()
{
    m_tap.reset();
}

void Detection::end(const TapOutcome &outcome)
{
    if (outcome.failed())
        qCDebug(lcDetection).noquote() << "request failed:" << outcome.failure.text();
    publish();
    {
        const QMutexLocker locker(&m_mutex);
        m_outcomes.append(outcome);
    }
    emit operationEnded();
}

void Detection::publish()
{
    TapSnapshot now;
    now.present = m_tap != nullptr;
    if (m_tap) {
        // Only its status words: the list changes with the tap's firmware, not its settings.
        Known &known = m_known[m_tap->address()];
        known.generation = m_tap->generation();
        known.firmwareKnown = m_firmwareKnown;
        known.firmware.setFirmwareVersion(m_current.firmwareVersion());
        known.firmware.setFirmwareTypeCode(m_current.firmwareTypeCode());
        now.generation = m_tap->generation();
        now.abilities = m_tap->abilities();
        now.interfaceName = m_tap->interfaceName();
        now.address = m_tap->address();
        now.settings = m_current;
        now.firmwareKnown = m_firmwareKnown;
        now.taking = m_takes;
    } else {
        now.problem = m_problem;
    }
    now.taps = listing();
    m_publishedList = now.taps;
    const QMutexLocker locker(&m_mutex);
    m_published = now;
}
