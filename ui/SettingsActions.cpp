#include "SettingsActions.h"

#include <QMessageBox>
#include <QPushButton>

#include "ActionButtons.h"
#include "MainWindowForm.h"
#include "SettingsForm.h"
#include "WindowMessages.h"

namespace {

bool isWrite(TapOutcome::Action action)
{
    return action == TapOutcome::Action::Write || action == TapOutcome::Action::Store;
}

}  // namespace

SettingsActions::SettingsActions(const MainWindowForm &ui, SettingsForm *form,
                                 ActionButtons *buttons, WindowMessages *messages, QWidget *window)
    : QObject(window)
    , m_ui(ui)
    , m_form(form)
    , m_buttons(buttons)
    , m_messages(messages)
    , m_window(window)
{
    connect(ui.pushButton, &QPushButton::clicked, this, &SettingsActions::read);
    connect(ui.pushButton_2, &QPushButton::clicked, this, [this] { write(false); });
    connect(ui.pushButton_3, &QPushButton::clicked, this, [this] { write(true); });
}

void SettingsActions::takeIn(const TapSnapshot &tap, bool newlyFound,
                             const QList<TapOutcome> &outcomes)
{
    if (newlyFound && m_outcome && m_outcome->carriedOut())
        m_outcome.reset();  // said of the tap before this one

    // The form is refilled only when there is news of the tap's settings, so edits survive
    // every other report (a changed address, a problem with another interface).
    bool settingsNews = false;
    for (const TapOutcome &outcome : outcomes) {
        if (outcome.action == TapOutcome::Action::Update)
            continue;
        take(outcome);
        settingsNews = settingsNews || outcome.result != TapOutcome::Result::Cancelled;
    }
    if (tap.present && settingsNews)
        m_form->fill(tap.settings);
    else if (tap.present && newlyFound)
        m_form->tapFound(tap.settings);
}

void SettingsActions::take(const TapOutcome &outcome)
{
    m_pending.removeAll(outcome.action);
    if (outcome.result == TapOutcome::Result::Cancelled)
        return;  // another request took its place, and tells its own outcome
    m_outcome = outcome;
    if (!outcome.failed())
        return;
    WindowMessages::print(failureLine());
    if (isWrite(outcome.action) && outcome.failure.interfaceFault()) {
        m_messages->show(tr("Settings not sent"),
                         tr("The settings could not be sent to the tap (%1), so they may not be in "
                            "effect. The form shows what is known of the tap's settings, not what "
                            "was entered.")
                             .arg(outcome.failure.text()));
    } else if (isWrite(outcome.action)) {
        m_messages->show(tr("Settings not acknowledged"),
                         tr("The tap did not acknowledge the settings (%1), so they may not be in "
                            "effect. The form shows what is known of the tap's settings, not what "
                            "was entered; check the tap's connection and try again.")
                             .arg(outcome.failure.text()));
    }
}

void SettingsActions::begin(TapOutcome::Action action)
{
    m_outcome.reset();
    m_pending << action;
    emit started();
}

void SettingsActions::write(bool store)
{
    DeviceSettings settings;
    settings.clear();
    m_form->settingsFromForm(settings);
    begin(store ? TapOutcome::Action::Store : TapOutcome::Action::Write);
    emit writeRequested(settings, store);
}

void SettingsActions::read()
{
    if (!mayReplaceEdits(tr("Read Current Setup"), tr("Reading the tap's settings replaces them.")))
        return;
    begin(TapOutcome::Action::Read);
    emit readRequested();
}

bool SettingsActions::mayReplaceEdits(const QString &title, const QString &replaces)
{
    if (!m_form->edited())
        return true;
    QMessageBox box(
        QMessageBox::Question, title,
        tr("The marked fields are not in the tap yet. %1\n\nDiscard your changes?").arg(replaces),
        QMessageBox::Discard | QMessageBox::Cancel, m_window);
    box.setDefaultButton(QMessageBox::Cancel);
    box.setEscapeButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Discard;
}

void SettingsActions::showButtons(const TapSnapshot &tap, const QString &whyOff)
{
    const bool on = whyOff.isEmpty();
    const bool readable = tap.abilities.readsBack;
    m_buttons->switchButton(
        m_ui.pushButton, on && readable, tr("Fill the form with the settings the tap holds."),
        on && !readable ? tr("A generation-3 tap cannot be read back.") : whyOff);
    m_buttons->switchButton(m_ui.pushButton_2, on,
                            tr("Send the settings to the tap; they last until it is switched off."),
                            whyOff);
    m_buttons->switchButton(
        m_ui.pushButton_3, on,
        tr("Send the settings to the tap and store them there, so they survive a power cycle."),
        whyOff);
}

QString SettingsActions::failureLine() const
{
    if (!m_outcome || !m_outcome->failed())
        return {};
    const QString failure = m_outcome->failure.text();
    if (m_outcome->action == TapOutcome::Action::Read)
        return tr("Settings not read: %1").arg(failure);
    // The tap cannot acknowledge what never reached it.
    return m_outcome->failure.interfaceFault() ? tr("Settings not sent: %1").arg(failure)
                                               : tr("Settings not acknowledged: %1").arg(failure);
}

QString SettingsActions::doneLine() const
{
    if (!m_outcome || !m_outcome->carriedOut())
        return {};
    const QString at = m_outcome->finishedAt.time().toString(Qt::ISODate);
    switch (m_outcome->action) {
    case TapOutcome::Action::Write: return tr("Applied at %1.").arg(at);
    case TapOutcome::Action::Store: return tr("Stored in the tap at %1.").arg(at);
    case TapOutcome::Action::Read: return tr("Read from the tap at %1.").arg(at);
    case TapOutcome::Action::Update: break;
    }
    return {};
}

QString SettingsActions::formLine(const TapSnapshot &tap) const
{
    if (m_form->edited())
        return tr("Marked fields are not in the tap yet.");
    if (!tap.abilities.readsBack)
        return tr("A generation-3 tap cannot be read back.");
    return tr("The form shows what the tap holds.");
}
