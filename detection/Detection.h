#pragma once

#include <QAtomicInt>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QString>
#include <QThread>

#include <memory>

#include "DeviceSettings.h"
#include "LinkMonitor.h"
#include "TapStatus.h"

class HeldTap;

// The window's worker thread. It carries out the window's requests (firmware update, settings
// write and store, settings read, in that order), then looks for the tap among the host's
// interfaces, tells its generation when it first appears and drops it when gone. All frame
// traffic of the window happens on this thread.
//
// It wakes at once when a request is posted or the kernel reports a link change, and at the
// latest a second after its last step. At the end of every step it publishes what it knows
// (TapSnapshot) under a short lock; the window's getters only ever read that, so no call from
// the window waits for the tap.
class Detection : public QThread
{
    Q_OBJECT

public:
    explicit Detection(QObject *parent = nullptr);
    ~Detection() override;  // ends the loop (after an update under way), waits, drops the tap

    // Asks the loop to end and wakes it; waits up to StopPolls ms for it to say it has ended,
    // else prints "Detection thread timeout when stopping".
    void stop();

    // Requests; each wakes the loop. A second write before the first was taken replaces it.
    void requestWrite(const DeviceSettings &settings, bool store);
    void requestRead();
    void requestUpdate();

    TapSnapshot snapshot() const;
    // 0 and the settings of the tap held, or -1 when none is.
    int copySettings(DeviceSettings &settings) const;
    // False when no tap is held or its address is not known.
    bool deviceHardwareAddress(uint8_t *out) const;
    // 4 or 3 for the tap held, 0 when none.
    int deviceGeneration() const;
    // A tap interface is listed, but cannot be captured on: true with its name and the capture
    // library's reason.
    bool unreachableTap(QString *interfaceName, QString *reason) const;
    // How the requests carried out since the last call ended, oldest first.
    QList<TapOutcome> takeOutcomes();

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
    static constexpr int TickMs = 1000;
    static constexpr int StopPolls = 100;
    static constexpr unsigned long StopPollMs = 1;

private:
    struct Requests
    {
        DeviceSettings settings;
        bool write = false;
        bool store = false;
        bool read = false;
        bool update = false;
        bool any() const { return write || read || update; }
    };

    Requests takeRequests();
    void post(const Requests &requests);
    // Sleeps until a request, a link change or the next tick; false when the loop is to end.
    bool waitForWork(LinkChanges &links);

    void carryOutUpdate();
    void carryOutWrite(const DeviceSettings &settings, bool store);
    void carryOutRead();
    void keepPosted(const DeviceSettings &settings);
    void detect();
    void take(std::unique_ptr<HeldTap> tap);
    void drop();
    void report(TapOutcome::Action action, bool succeeded, const QString &failure);
    void publish();

    // Shared with the window's thread, under m_mutex: posted requests, what was published, and
    // the outcomes the window has not taken yet.
    mutable QMutex m_mutex;
    Requests m_posted;
    TapSnapshot m_published;
    QList<TapOutcome> m_outcomes;

    QAtomicInt m_stopRequested = 0;
    WakeUpSignal m_wakeUp;

    // The worker thread's own.
    std::unique_ptr<HeldTap> m_tap;
    DeviceSettings m_current;
    TapProblem m_problem;
    QHash<QString, QString> m_toldCaptureFailures;  // per interface, the reason last printed
};
