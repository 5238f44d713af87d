#pragma once

#include <QAtomicInt>
#include <QAtomicPointer>
#include <QHash>
#include <QMutex>
#include <QString>
#include <QThread>
#include <QWaitCondition>

#include "DeviceSettings.h"

class MV1Device;

// The program's one worker thread. Once a second it carries out the window's requests
// (firmware update, settings write and store, settings read), then looks for the tap among
// the host's interfaces, tells its generation when it first appears and drops it when gone.
// All frame traffic of the program happens on this thread.
class Detection : public QThread
{
    Q_OBJECT

public:
    explicit Detection(QObject *parent = nullptr);
    ~Detection() override;  // ends the loop promptly, waits for it, releases the device

    void stop();

    // Requests, carried out at the next tick. They never wait for a running tick.
    void requestWrite(const DeviceSettings &settings, bool store);
    void requestRead();
    void requestUpdate();

    // 0 and the current settings, or -1 when no tap is held.
    int copySettings(DeviceSettings &settings);
    // False when no tap is held; otherwise true (out untouched if the lookup failed).
    bool deviceHardwareAddress(uint8_t *out);
    // 4 or 3 for the tap held, 0 when none.
    int deviceGeneration();

    // A tap interface is listed but its capture cannot be opened (no capture privilege,
    // interface down): true with the interface name and the capture library's reason.
    bool unreachableTap(QString *interfaceName, QString *reason) const;
    // True once after a settings write that did not reach the tap whole; the current
    // settings then hold what a generation-4 tap reported back (a generation-3 tap cannot
    // be read, so its record stays as it was), never what was posted.
    bool takeWriteFailure();

signals:
    void MV1Changed();
    void MV1UpdateProgress(int p);
    void MV1FinishedUpdate();
    void MV1FailedUpdate();

public slots:
    void UpdateProgressChanged(int p, int m);

protected:
    void run() override;

public:
    static constexpr unsigned long TickSleepMs = 1000;
    static constexpr int ProbeAttempts = 3;
    static constexpr unsigned long ProbeRetrySleepMs = 100;
    static constexpr uint8_t ProbeValue = 0xFF;
    static constexpr int StopPolls = 100;
    static constexpr unsigned long StopPollMs = 1;

private:
    void detect();

    // Requests posted by the window wait here until the worker takes them at the start
    // of a tick, so posting never waits for a running tick.
    struct Handover
    {
        DeviceSettings settings;
        bool write = false;
        bool store = false;
        bool read = false;
        bool update = false;
    };
    void takeHandover();
    void carryOutUpdate();
    void carryOutWrite();
    void carryOutRead();
    // False as soon as the destructor asks the loop to end.
    bool sleepUntilNextTick();
    bool quitting();
    MV1Device *probe(const char *interfaceName);
    void dropDevice();

    // Where a listed tap interface cannot be captured on; both empty when there is none.
    struct Unreachable
    {
        QString name;
        QString reason;
        bool operator==(const Unreachable &) const = default;
    };
    // Why the capture could not be opened, per interface name.
    using CaptureFailures = QHash<QString, QString>;
    // True when a capture on the interface opens. Otherwise false with the reason; the
    // session's diagnostic is printed only when the reason differs from the last step's.
    bool captureOpens(const char *interfaceName, CaptureFailures &failuresNow, QString *reason);
    void publishUnreachable(const Unreachable &state, bool alreadySignalled);

    QMutex mutex;  // the shared block below; held for a whole tick
    QAtomicInt stopRequested = 0;
    bool found = false;
    bool wasFound = false;
    QAtomicPointer<MV1Device> device;
    DeviceSettings currentSettings;
    DeviceSettings pendingSettings;
    bool writeRequested = false;
    bool storeRequested = false;
    bool readRequested = false;
    bool updateRequested = false;

    QMutex handoverMutex;
    Handover posted;

    QMutex sleepMutex;
    QWaitCondition wakeUp;
    bool quitRequested = false;  // guarded by sleepMutex

    mutable QMutex unreachableMutex;
    Unreachable unreachable;
    CaptureFailures captureFailures;  // worker only: the failures of the last step

    QAtomicInt writeFailed = 0;
};
