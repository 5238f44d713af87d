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
    // Why the other actions are off because of the update; empty when they are not.
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
    // What the update button offers. Completed and Failed outlive the tap going away:
    // the first until the tap is found again, the second until the next action.
    enum class State { Nothing, Offered, UpToDate, Updating, Completed, Failed };

    void take(const TapOutcome &outcome);
    void offer();
    bool confirm() const;
    bool confirmClose() const;

    QWidget *m_window;
    TapSnapshot m_tap;  // as last taken in
    State m_state = State::Nothing;
    int m_progress = -1;  // percent of the update, -1 before the first
    std::optional<TapOutcome> m_outcome;  // how the last update ended, until the next action
    bool m_endAfterUpdate = false;
};
