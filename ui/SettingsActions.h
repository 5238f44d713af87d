#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <optional>

#include "DeviceSettings.h"
#include "TapOutcome.h"
#include "TapStatus.h"

class ActionButtons;
class MainWindowForm;
class SettingsForm;
class WindowMessages;
class QWidget;

// Read Current Setup, Apply and Flash: each posts the form's settings to the worker, or asks
// for the tap's, and takes in how it ended; the answer refills the form. Read asks before it
// replaces fields the user changed.
class SettingsActions : public QObject
{
    Q_OBJECT

public:
    SettingsActions(const MainWindowForm &ui, SettingsForm *form, ActionButtons *buttons,
                    WindowMessages *messages, QWidget *window);

    // True while a request has been posted whose outcome is still due.
    bool pending() const { return !m_pending.isEmpty(); }

    // What the worker reported: the tap, whether it is newly found, how requests ended (the
    // update's are left to the update flow).
    void takeIn(const TapSnapshot &tap, bool newlyFound, const QList<TapOutcome> &outcomes);
    // Another action started: what the last of these said is no longer news.
    void forgetOutcome() { m_outcome.reset(); }

    // The three buttons for this tap; whyOff, when not empty, keeps all of them off.
    void showButtons(const TapSnapshot &tap, const QString &whyOff);
    // The panel's bold line when the last request failed, else empty.
    QString failureLine() const;
    // A sentence for the line of the last action: what went through and when.
    QString doneLine() const;
    // Whether the form shows what the tap holds.
    QString formLine(const TapSnapshot &tap) const;
    // Before the form is filled from a tap: true when nothing was changed in it, or the person
    // chose to discard the changes (asked under `title`, told first what `replaces` them).
    bool mayReplaceEdits(const QString &title, const QString &replaces);

signals:
    void started();
    void writeRequested(const DeviceSettings &settings, bool store);
    void readRequested();

private:
    void write(bool store);
    void read();
    void begin(TapOutcome::Action action);
    void take(const TapOutcome &outcome);

    const MainWindowForm &m_ui;
    SettingsForm *m_form;
    ActionButtons *m_buttons;
    WindowMessages *m_messages;
    QWidget *m_window;
    QList<TapOutcome::Action> m_pending;  // posted, outcome still due
    std::optional<TapOutcome> m_outcome;  // how the last request ended, until the next action
};
