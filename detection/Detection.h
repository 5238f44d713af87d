#pragma once

#include <QAtomicInt>
#include <QAtomicPointer>
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

    // A tap interface is listed but its capture cannot be opened (no capture privilege,
    // interface down): true with the interface name and the capture library's reason.
    bool unreachableTap(QString *interfaceName, QString *reason) const;
    // True once after a settings write that the tap did not acknowledge; the current
    // settings then hold what the tap reported back, not what was posted.
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

private:
    void detect();
    // (members are the worker's own business; see Detection.cpp)
};
