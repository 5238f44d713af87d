#include "UpdateFlow.h"

#include <QMessageBox>

#include <algorithm>

#include "FirmwareImage.h"
#include "FirmwareStatus.h"
#include "StatusPanel.h"
#include "WindowMessages.h"

namespace {

constexpr int PercentFull = 100;

// The simulated tap's wrapper and the test bed say so; there a firmware update needs no
// question, since no real tap can be harmed.
bool nextToSimulatedTap()
{
    return !qEnvironmentVariableIsEmpty("KALVESSA_SIMULATED_TAP");
}

}  // namespace

UpdateFlow::UpdateFlow(QWidget *window) : QObject(window), m_window(window) {}

void UpdateFlow::takeIn(const TapSnapshot &tap, bool newlyFound, const QList<TapOutcome> &outcomes)
{
    m_tap = tap;
    if (newlyFound && m_state != State::AwaitingRestart && m_state != State::Interrupted) {
        if (m_outcome && m_outcome->carriedOut())
            m_outcome.reset();  // said of the tap before this one
        if (m_state == State::AnswersCurrent || m_state == State::NotRunningNew)
            m_state = State::Nothing;  // another tap, or this one again: tell what it runs now
    }
    for (const TapOutcome &outcome : outcomes) {
        if (outcome.action == TapOutcome::Action::Update)
            take(outcome);
    }
    // Taken anew under its address: it went (unplugged, its link down) and came back.
    if (m_updated && updatedTapHeld() && m_tap.taking != m_takingAtEnd)
        m_restarted = true;
    if (m_state == State::AwaitingRestart && m_restarted)
        judgeRestart();
    offer();
}

bool UpdateFlow::updatedTapHeld() const
{
    return m_tap.present && m_updated && m_tap.address == m_updated;
}

void UpdateFlow::judgeRestart()
{
    // A tap that answers nothing cannot say what it runs: the new firmware would answer.
    if (!m_tap.abilities.readsBack) {
        m_state = State::NotRunningNew;
    } else if (m_tap.firmwareKnown) {
        m_state =
            firmwarestatus::current(m_tap.settings) ? State::AnswersCurrent : State::NotRunningNew;
    }
    // Else its status words are still being read: the wait goes on until they are.
    if (m_state == State::NotRunningNew)
        WindowMessages::print(line());
}

void UpdateFlow::take(const TapOutcome &outcome)
{
    if (outcome.result == TapOutcome::Result::Cancelled) {
        m_state = State::Nothing;  // never started: offered again as before
        return;
    }
    m_outcome = outcome;
    m_takingAtEnd = m_tap.taking;
    m_restarted = false;
    // A tap that answers nothing took every page that left the host: as much as can be known,
    // and the restart is what tells.
    if (outcome.carriedOut()) {
        m_state = State::AwaitingRestart;
        m_progress = PercentFull;
        return;
    }
    m_progress = 0;
    m_state = outcome.leftUpdatePartWay() ? State::Interrupted : State::Failed;
    m_interruption = outcome.failure.text();  // said until the update is run again
    WindowMessages::print(line());
}

void UpdateFlow::offer()
{
    switch (m_state) {
    case State::Updating:
    case State::AwaitingRestart:
    case State::AnswersCurrent:
    case State::NotRunningNew:
    case State::Failed:
    case State::Interrupted: return;
    default: break;
    }
    if (!m_tap.present)
        m_state = State::Nothing;
    else if (!m_tap.abilities.readsBack)
        m_state = State::Offered;  // it cannot tell what it runs: the update is its only way on
    else if (!m_tap.firmwareKnown)
        m_state = State::Unknown;
    else if (firmwarestatus::current(m_tap.settings))
        m_state = State::UpToDate;
    else
        m_state = State::Offered;
}

void UpdateFlow::progress(int percent)
{
    if (running())
        m_progress = std::clamp(percent, 0, PercentFull);
}

void UpdateFlow::start()
{
    if (!nextToSimulatedTap() && !confirm())
        return;
    m_outcome.reset();
    m_updated = m_tap.address;
    m_restarted = false;
    m_state = State::Updating;
    m_progress = -1;
    emit started();
    emit updateRequested();
}

void UpdateFlow::otherActionStarted()
{
    m_outcome.reset();
    if (m_state == State::Failed)
        m_state = State::Nothing;
    offer();
}

UpdateFlow::Button UpdateFlow::button() const
{
    const Button offered{tr("Update to 4.0"), tr("Write firmware 4.0 into the tap."), true};
    const Button nothing{QString(), tr("Updates the tap's firmware when it needs it."), false};
    switch (m_state) {
    case State::Nothing: return nothing;
    case State::Offered: return offered;
    case State::NotRunningNew: return updatedTapHeld() ? offered : nothing;
    case State::UpToDate:
    case State::AnswersCurrent:
        return {tr("Firmware up-to-date\nVersion 4.0"), tr("The tap runs firmware 4.0 already."),
                false};
    case State::Unknown:
        return {tr("Firmware unknown"),
                tr("The tap's firmware could not be read; it is asked again every second."), false};
    case State::Updating:
        return {tr("Updating...\nDo not unplug the adapter"),
                tr("The firmware is being written into the tap."), false};
    case State::AwaitingRestart:
        return {tr("Update sent\nUnplug and replug the tap"),
                tr("Unplug the tap and plug it in again to start the new firmware."), false};
    case State::Failed: return {tr("Update failed\n"), tr("Try the firmware update again."), true};
    case State::Interrupted:
        return {tr("Run the update again"),
                tr("The update stopped part way: run it again once the tap is back."),
                updatedTapHeld()};
    }
    return {};
}

QStringList UpdateFlow::buttonTexts() const
{
    return {tr("Update to 4.0"),
            tr("Firmware up-to-date\nVersion 4.0"),
            tr("Firmware unknown"),
            tr("Updating...\nDo not unplug the adapter"),
            tr("Update sent\nUnplug and replug the tap"),
            tr("Update failed\n"),
            tr("Run the update again")};
}

std::optional<int> UpdateFlow::barValue() const
{
    switch (m_state) {
    case State::Updating: return m_progress >= 0 ? std::optional<int>(m_progress) : std::nullopt;
    case State::AwaitingRestart: return std::max(m_progress, 0);
    default: return 0;
    }
}

QString UpdateFlow::line() const
{
    if (running())
        return m_endAfterUpdate
            ? tr("Updating: do not unplug the adapter. The program ends afterwards.")
            : tr("Updating: do not unplug the adapter");
    switch (m_state) {
    case State::AwaitingRestart: return tr("Unplug and replug the tap to start the new firmware");
    case State::NotRunningNew:
        // Said of the tap it is true of, while that one is held.
        if (updatedTapHeld())
            return tr("The tap does not run the new firmware: run the update again");
        break;
    case State::Interrupted: {
        const QString &why = m_interruption;
        return updatedTapHeld()
            ? tr("Update interrupted: %1. The tap may not start until the update is run again.")
                  .arg(why)
            : tr("Update interrupted: %1. The tap may not start until the update is run again: "
                 "plug it in, then run it.")
                  .arg(why);
    }
    default: break;
    }
    if (m_outcome && m_outcome->failed())
        return tr("Update failed: %1").arg(m_outcome->failure.text());
    return {};
}

QString UpdateFlow::doneLine() const
{
    if (m_state == State::AnswersCurrent)
        return tr("The tap answers as firmware 4.0.");
    if (m_state != State::AwaitingRestart || !m_outcome)
        return {};
    return tr("Firmware sent at %1, not yet verified.")
        .arg(m_outcome->finishedAt.time().toString(Qt::ISODate));
}

QString UpdateFlow::whyActionsWait() const
{
    if (running())
        return tr("Not while the firmware is being updated.");
    if (m_state == State::AwaitingRestart)
        return tr("Not until the tap has been unplugged and plugged in again after its update.");
    return {};
}

bool UpdateFlow::confirm() const
{
    const DeviceSettings &runs = m_tap.settings;
    QStringList text;
    text << (firmwarestatus::recognised(runs)
                 ? tr("The tap runs firmware %1, version %2.")
                       .arg(StatusPanel::firmwareTypeShown(runs),
                            StatusPanel::firmwareVersionShown(runs))
                 : tr("The tap runs a firmware this program does not recognise (shown as "
                      "version %1).")
                       .arg(StatusPanel::firmwareVersionShown(runs)));
    text << tr("The update writes firmware 4.0 into it.");
    if (firmwareImageIsStandIn) {
        text << tr(
            "This build carries a stand-in firmware image, not the tap's firmware. Flashing it "
            "into a real Kalvessa 100 would leave the tap unusable. Build with the real image "
            "(see the README, \"Firmware image\") to update a real tap.");
    }
    text << tr("Keep the tap plugged in until the update has completed: an interrupted update can "
               "leave it unusable.");
    text << (firmwareImageIsStandIn ? tr("Flash the stand-in anyway?")
                                    : tr("Update the firmware now?"));

    QMessageBox box(QMessageBox::Warning, tr("Firmware update"), text.join(QStringLiteral("\n\n")),
                    QMessageBox::Yes | QMessageBox::No, m_window);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

bool UpdateFlow::mayClose()
{
    return !running() || confirmClose();
}

bool UpdateFlow::confirmClose() const
{
    QMessageBox box(QMessageBox::Warning, tr("Firmware update running"),
                    tr("The tap's firmware is being updated. An interrupted update can leave the "
                       "tap unusable.\n\nClose anyway? The program ends once the update has "
                       "finished; do not unplug the tap until then."),
                    QMessageBox::Close | QMessageBox::Cancel, m_window);
    box.setDefaultButton(QMessageBox::Cancel);
    box.setEscapeButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Close;
}

bool UpdateFlow::deferEnd(int signalNumber)
{
    if (!running())
        return false;
    WindowMessages::print(QStringLiteral("Signal %1: ending once the firmware update has finished.")
                              .arg(signalNumber));
    m_endAfterUpdate = true;
    return true;
}
