#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

#include "TapOutcome.h"
#include "TapStatus.h"

class QWidget;

// The firmware update, from the offer on the update button to how it ended: it asks before it
// starts, shows the update running and its progress, and says how it ended. An interrupted
// update can leave the tap unusable, so while one runs it guards the window's close and holds a
// request to end the program until the update has finished.
class UpdateFlow : public QObject
{
    Q_OBJECT

public:
    // What the update button shows and whether it offers an update.
    struct Button
    {
        QString text;
        QString purpose;
        bool offered = false;
    };

    explicit UpdateFlow(QWidget *window);

    // True from the start of an update until the worker reports how it ended.
    bool running() const { return m_state == State::Updating; }

    // What the worker reported: the tap, whether it is newly found, how requests ended (those
    // of the other actions are left to them).
    void takeIn(const TapSnapshot &tap, bool newlyFound, const QList<TapOutcome> &outcomes);
    void progress(int percent);
    // Asks first where a real tap could be harmed; emits started() and updateRequested() when
    // the update is to go ahead.
    void start();
    // Read, Apply or Flash started: what the last update said is no longer news.
    void otherActionStarted();

    Button button() const;
    // Every text the button can show, so that the panel can keep one size for all.
    QStringList buttonTexts() const;
    // The progress bar's figure; nothing while running without a figure yet.
    std::optional<int> barValue() const;
    // The panel's bold line: the update running, or why the last one failed.
    QString line() const;
    // A sentence for the line of the last action: when the firmware was written.
    QString doneLine() const;
    // Why the other actions are off because of the update (running, or waiting for the tap
    // to restart); empty when they are not.
    QString whyActionsWait() const;

    // False when the window must stay: an update runs and the user chose not to close.
    bool mayClose();
    // A termination signal arrived: true when the program must wait for the update, which
    // the panel then says.
    bool deferEnd(int signalNumber);
    // A deferred end is due now that the update has ended.
    bool endDue() const { return m_endAfterUpdate && !running(); }

signals:
    void started();
    void updateRequested();

private:
    // What the update button offers. After an update the flow waits for the tap it wrote to
    // restart (its link goes and comes back), then says what the tap answers as: the pages
    // were only sent, and a tap's "4.0" after its restart is the one check the host has.
    enum class State {
        Nothing,
        Offered,  // any firmware but 4.0, and a tap that answers nothing
        UpToDate,
        Unknown,  // its status words could not be read: no offer until they are
        Updating,
        AwaitingRestart,  // every page sent: to be unplugged and plugged in again
        AnswersCurrent,  // came back answering as firmware 4.0
        NotRunningNew,  // came back without it: offered again
        Failed,  // until the next action
        Interrupted,  // stopped with the flash part written: offered again once the tap is back
    };

    void take(const TapOutcome &outcome);
    void offer();
    bool confirm() const;
    bool confirmClose() const;
    void judgeRestart();
    bool updatedTapHeld() const;

    QWidget *m_window;
    TapSnapshot m_tap;  // as last taken in
    State m_state = State::Nothing;
    int m_progress = -1;  // percent of the update, -1 before the first
    std::optional<TapOutcome> m_outcome;  // how the last update ended, until the next action
    std::optional<MacAddress> m_updated;  // the tap the last update was written into
    bool m_restarted = false;  // it went away after the update and has come back
    int m_takingAtEnd = 0;  // the snapshot's take count when the update ended
    QString m_interruption;  // why the last update stopped part way
    bool m_endAfterUpdate = false;
};
