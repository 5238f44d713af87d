#include "Detection.h"

#include <algorithm>
#include <climits>
#include <cstdio>

#include <QDeadlineTimer>
#include <QMutexLocker>

#include <pcap/pcap.h>

#include "FirmwareImage.h"
#include "HardwareAddress.h"
#include "InterfaceDiscovery.h"
#include "MV1Device_v3.h"
#include "MV1Device_v4.h"
#include "PacketSession.h"
#include "SettingsRegisterMap.h"

namespace {
constexpr int Generation4 = 4;
constexpr long double PercentScale = 100.0f;
} // namespace

Detection::Detection(QObject *parent)
    : QThread(parent)
{
}

Detection::~Detection()
{
    {
        QMutexLocker locker(&sleepMutex);
        quitRequested = true;
        wakeUp.wakeAll();
    }
    wait();
    // The loop has ended, so nothing else can reach the device object any more.
    delete device.fetchAndStoreOrdered(nullptr);
}

void Detection::stop()
{
    stopRequested.storeRelease(1);
    for (int poll = 1; poll <= StopPolls; ++poll) {
        QThread::msleep(StopPollMs);
        if (poll == StopPolls) {
            std::printf("Detection thread timeout when stopping\n");
            std::fflush(stdout);
            return;
        }
        if (stopRequested.loadAcquire() == 0)
            return;
    }
}

void Detection::requestWrite(const DeviceSettings &settings, bool store)
{
    QMutexLocker locker(&handoverMutex);
    posted.settings = settings;
    posted.write = true;
    posted.store = store;
}

void Detection::requestRead()
{
    QMutexLocker locker(&handoverMutex);
    posted.read = true;
}

void Detection::requestUpdate()
{
    QMutexLocker locker(&handoverMutex);
    posted.update = true;
}

int Detection::copySettings(DeviceSettings &settings)
{
    // No tap: answer at once rather than wait for a tick to end.
    if (!device.loadAcquire())
        return -1;
    QMutexLocker locker(&mutex);
    if (!device.loadRelaxed())
        return -1;
    settings = currentSettings;
    return 0;
}

bool Detection::deviceHardwareAddress(uint8_t *out)
{
    if (!device.loadAcquire())
        return false;
    QMutexLocker locker(&mutex);
    MV1Device *held = device.loadRelaxed();
    if (!held)
        return false;
    held->hardwareAddress(out);
    return true;
}

int Detection::deviceGeneration()
{
    if (!device.loadAcquire())
        return 0;
    QMutexLocker locker(&mutex);
    const MV1Device *held = device.loadRelaxed();
    return held ? held->generation() : 0;
}

bool Detection::unreachableTap(QString *interfaceName, QString *reason) const
{
    QMutexLocker locker(&unreachableMutex);
    if (unreachable.name.isEmpty())
        return false;
    if (interfaceName)
        *interfaceName = unreachable.name;
    if (reason)
        *reason = unreachable.reason;
    return true;
}

bool Detection::takeWriteFailure()
{
    return writeFailed.fetchAndStoreOrdered(0) != 0;
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
    if (stopRequested.fetchAndStoreOrdered(0) != 0 || quitting())
        return;
    for (;;) {
        {
            QMutexLocker locker(&mutex);
            takeHandover();
            carryOutUpdate();
            carryOutWrite();
            carryOutRead();
            detect();
        }
        if (!sleepUntilNextTick()) {
            stopRequested.storeRelease(0);
            return;
        }
        if (stopRequested.fetchAndStoreOrdered(0) != 0)
            return;
    }
}

bool Detection::quitting()
{
    QMutexLocker locker(&sleepMutex);
    return quitRequested;
}

bool Detection::sleepUntilNextTick()
{
    QMutexLocker locker(&sleepMutex);
    const QDeadlineTimer deadline(static_cast<qint64>(TickSleepMs));
    while (!quitRequested) {
        if (!wakeUp.wait(&sleepMutex, deadline))
            break;
    }
    return !quitRequested;
}

void Detection::takeHandover()
{
    QMutexLocker locker(&handoverMutex);
    if (posted.update)
        updateRequested = true;
    if (posted.write) {
        pendingSettings = posted.settings;
        writeRequested = true;
        storeRequested = posted.store;
    }
    if (posted.read)
        readRequested = true;
    posted.write = posted.store = posted.read = posted.update = false;
}

void Detection::carryOutUpdate()
{
    if (!updateRequested)
        return;
    MV1Device *held = device.loadRelaxed();
    if (held && held->updateFirmware(firmwareImage, firmwareImageLength))
        emit MV1FinishedUpdate();
    else
        emit MV1FailedUpdate();
    updateRequested = false;
}

void Detection::carryOutWrite()
{
    if (!writeRequested)
        return;
    MV1Device *held = device.loadRelaxed();
    bool acknowledged = true;
    if (held) {
        acknowledged = held->writeSettings(pendingSettings, false);
        if (storeRequested)
            acknowledged = held->writeSettings(pendingSettings, true) && acknowledged;
    }
    if (acknowledged) {
        pendingSettings.setFirmwareVersion(currentSettings.firmwareVersion());
        pendingSettings.setFirmwareTypeCode(currentSettings.firmwareTypeCode());
        currentSettings = pendingSettings;
    } else {
        // Show what the tap holds, never what was merely posted. A generation-3 tap cannot
        // be read back (its read clears the record), so its current record stays as it was.
        if (held->generation() == Generation4)
            held->readSettings(currentSettings, false);
        writeFailed.storeRelease(1);
    }
    writeRequested = false;
    emit MV1Changed();
}

void Detection::carryOutRead()
{
    if (!readRequested)
        return;
    if (MV1Device *held = device.loadRelaxed())
        held->readSettings(currentSettings, false);
    readRequested = false;
    emit MV1Changed();
}

void Detection::detect()
{
    wasFound = found;
    found = false;
    bool signalled = false;
    Unreachable seen;
    CaptureFailures failuresNow;

    const InterfaceListPtr list = listInterfaces();
    for (pcap_if_t *entry = list ? list->head : nullptr; entry; entry = entry->next) {
        uint8_t address[HardwareAddressLength];
        if (!entry->name || !readHardwareAddress(entry->name, address) || !isTapAddress(address))
            continue;
        if (wasFound) {
            found = true;
            continue;
        }

        // A tap we cannot capture on would never answer the probe; taking it for
        // generation 3 would then swallow every write. Leave it for a later tick.
        QString reason;
        MV1Device *taken = nullptr;
        if (captureOpens(entry->name, failuresNow, &reason)) {
            taken = probe(entry->name);
            // Silence means generation 3 only if the capture still opens.
            if (!taken && captureOpens(entry->name, failuresNow, &reason))
                taken = new MV1Device_v3(entry->name);
        }
        if (!taken) {
            if (seen.name.isEmpty())
                seen = {QString::fromLocal8Bit(entry->name), reason};
            continue;
        }

        device.storeRelease(taken);
        found = true;
        taken->readSettings(currentSettings, false);
        publishUnreachable({}, true);
        emit MV1Changed();
        signalled = true;
        connect(taken, &MV1Device::MV1UpdateProgress, this, &Detection::UpdateProgressChanged);
        break;
    }

    if (!found && wasFound) {
        dropDevice();
        emit MV1Changed();
        signalled = true;
    }
    captureFailures = failuresNow;
    if (!found)
        publishUnreachable(seen, signalled);
}

MV1Device *Detection::probe(const char *interfaceName)
{
    auto *candidate = new MV1Device_v4(interfaceName);
    for (int attempt = 1; attempt <= ProbeAttempts; ++attempt) {
        if (candidate->writeRegister(reg::Control, ProbeValue, false))
            return candidate;
        if (attempt < ProbeAttempts)
            QThread::msleep(ProbeRetrySleepMs);
    }
    delete candidate;
    return nullptr;
}

void Detection::dropDevice()
{
    delete device.fetchAndStoreOrdered(nullptr);
}

bool Detection::captureOpens(const char *interfaceName, CaptureFailures &failuresNow,
                             QString *reason)
{
    // Quiet: a tap that stays unreachable is tried every second, and its diagnostic is
    // printed only when the reason changes.
    PacketSession session(interfaceName);
    session.setQuiet(true);
    if (session.open())
        return true;  // the session releases its capture when it goes
    *reason = QString::fromStdString(session.lastError());

    const QString name = QString::fromLocal8Bit(interfaceName);
    const auto known = captureFailures.constFind(name);
    const auto already = failuresNow.constFind(name);
    const bool told = (known != captureFailures.constEnd() && *known == *reason)
                      || (already != failuresNow.constEnd() && *already == *reason);
    if (!told)
        session.reportOpenFailure();
    failuresNow.insert(name, *reason);
    return false;
}

void Detection::publishUnreachable(const Unreachable &state, bool alreadySignalled)
{
    bool changed = false;
    {
        QMutexLocker locker(&unreachableMutex);
        changed = !(unreachable == state);
        unreachable = state;
    }
    if (changed && !alreadySignalled)
        emit MV1Changed();
}
