#pragma once

#include <QAtomicInt>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QString>
#include <QThread>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "DeviceSettings.h"
#include "LinkMonitor.h"
#include "TapOutcome.h"
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
//
// Every request ends with exactly one TapOutcome, which takeOutcomes() hands over once; the
// worker publishes what the request changed, queues its outcome, then emits operationEnded().
class Detection : public QThread
{
    Q_OBJECT

public:
    explicit Detection(QObject *parent = nullptr);
    ~Detection() override;  // ends the loop (after an update under way), waits, drops the tap

    // Asks the loop to end and wakes it; waits up to StopWaitMs for it to end, else logs
    // "Detection thread timeout when stopping".
    void stop();

    // Requests; each wakes the loop. A second write before the first was taken replaces it,
    // and the first ends as cancelled.
    void requestWrite(const DeviceSettings &settings, bool store);
    void requestRead();
    void requestUpdate();
    // Releases the tap held (and its lock) and takes the one of this address instead; while
    // that one is not attached, the first that can be taken. Also asked before start() for
    // the tap chosen in an earlier run.
    void requestChoose(const MacAddress &address);

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
    // How the operations ended since the last call, oldest first; each is handed over once.
    QList<TapOutcome> takeOutcomes();

signals:
    // What snapshot() returns has changed: a tap found or lost, settings written or read.
    void MV1Changed();
    // The firmware update under way stands at `p` percent of all its weighted steps.
    void MV1UpdateProgress(int p);
    // An operation ended (a request, or the read of a newly found tap that failed): its
    // outcome waits in takeOutcomes(). Taken rather than carried by the signal, so that
    // handing it over is ordered by the lock that guards it.
    void operationEnded();

protected:
    void run() override;

public:
    static constexpr int TickMs = 1000;
    static constexpr int StopWaitMs = 100;

private:
    struct Requests
    {
        DeviceSettings settings;
        bool write = false;
        bool store = false;
        bool read = false;
        bool update = false;
        std::optional<MacAddress> choose;
        QList<TapOutcome> replaced;  // writes a later one took the place of, as cancelled
        bool any() const
        {
            return write || read || update || choose.has_value() || !replaced.isEmpty();
        }
    };

    Requests takeRequests();
    void post(const Requests &requests);
    // Sleeps until a request, a link change or the next tick; false when the loop is to end.
    bool waitForWork(LinkChanges &links);
    void loopEnded();

    void carryOutUpdate();
    void carryOutWrite(const DeviceSettings &settings, bool store);
    void carryOutRead();
    void keepPosted(const DeviceSettings &settings);
    void carryOutChoice(const MacAddress &address);
    void detect();
    // Keeps the tap held while its interface is there and up; false when it was dropped.
    bool followHeldTap();
    // A tap whose status words could not be read is asked again at every look until they are.
    void learnFirmware();
    void lookForTap();
    // The list of attached taps again where it may have changed (unless just listed), and
    // which of them are held elsewhere.
    void relist(bool interfacesKnown);
    QList<ListedTap> listing() const;
    void take(std::unique_ptr<HeldTap> tap);
    void drop();
    void end(const TapOutcome &outcome);
    void publish();

    // Shared with the window's thread, under m_mutex: posted requests, what was published, and
    // the outcomes not taken yet.
    mutable QMutex m_mutex;
    Requests m_posted;
    TapSnapshot m_published;
    QList<TapOutcome> m_outcomes;

    // Set by stop() and the destructor, cleared by the loop as it ends, which it tells through
    // m_loopEnded under m_stopMutex (the standard library's, whose waits ThreadSanitizer sees).
    QAtomicInt m_stopRequested = 0;
    std::mutex m_stopMutex;
    std::condition_variable m_loopEnded;
    WakeUpSignal m_wakeUp;

    // The worker thread's own.
    std::unique_ptr<HeldTap> m_tap;
    DeviceSettings m_current;
    bool m_firmwareKnown = false;  // m_current's status words were read from the tap held
    int m_takes = 0;
    TapProblem m_problem;
    QHash<QString, QString> m_toldCaptureFailures;  // per interface, the reason last logged
    std::optional<MacAddress> m_wanted;  // the tap chosen, taken first whenever it is there
    QList<TapInterface> m_interfaces;  // the attached taps as last listed
    bool m_listStale = true;  // the list is looked at again after links changed
    std::map<MacAddress, qint64> m_heldElsewhere;  // by another program, its process id or 0
    struct Known
    {
        int generation = 0;
        bool firmwareKnown = false;
        DeviceSettings firmware;
    };
    std::map<MacAddress, Known> m_known;  // of the taps held in this run
    QList<ListedTap> m_publishedList;  // the list as last published
};
