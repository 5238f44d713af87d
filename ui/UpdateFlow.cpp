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
    if (newlyFound) {
        if (m_outcome && m_outcome->carriedOut())
            m_outcome.reset();  // said of the tap before this one
        if (m_state == State::Completed)
            m_state = State::Nothing;  // reset after its update: tell what it runs now
    }
    for (const TapOutcome &outcome : outcomes) {
        if (outcome.action == TapOutcome::Action::Update)
            take(outcome);
    }
    offer();
}

void UpdateFlow::take(const TapOutcome &outcome)
{
    if (outcome.result == TapOutcome::Result::Cancelled) {
        m_state = State::Nothing;  // never started: offered again as before
        return;
    }
    // A tap that answers nothing took every page that left the host: as much as can be known.
    m_state = outcome.carriedOut() ? State::Completed : State::Failed;
    m_progress = outcome.carriedOut() ? PercentFull : 0;
    m_outcome = outcome;
    if (outcome.failed())
        WindowMessages::print(line());
}

void UpdateFlow::offer()
{
    if (m_state == State::Updating || m_state == State::Completed || m_state == State::Failed)
        return;
    if (!m_tap.present)
        m_state = State::Nothing;
    else if (!firmwarestatus::recognised(m_tap.settings))
        m_state = State::Offered;
    else if (firmwarestatus::current(m_tap.settings))
        m_state = State::UpToDate;
    // Any other recognised release keeps what the button offered.
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
    switch (m_state) {
    case State::Nothing:
        return {QString(), tr("Updates the tap's firmware when it needs it."), false};
    case State::Offered: return {tr("Update to 4.0"), tr("Write firmware 4.0 into the tap."), true};
    case State::UpToDate:
        return {tr("Firmware up-to-date\nVersion 4.0"), tr("The tap runs firmware 4.0 already."),
                false};
    case State::Updating:
        return {tr("Updating...\nDo not unplug the adapter"),
                tr("The firmware is being written into the tap."), false};
    case State::Completed:
        return {tr("Update completed\nPlease reset the adapter"),
                tr("Unplug the tap and plug it in again to start the new firmware."), false};
    case State::Failed: return {tr("Update failed\n"), tr("Try the firmware update again."), true};
    }
    return {};
}

QStringList UpdateFlow::buttonTexts() const
{
    return {tr("Update to 4.0"), tr("Firmware up-to-date\nVersion 4.0"),
            tr("Updating...\nDo not unplug the adapter"),
            tr("Update completed\nPlease reset the adapter"), tr("Update failed\n")};
}

std::optional<int> UpdateFlow::barValue() const
{
    switch (m_state) {
    case State::Updating: return m_progress >= 0 ? std::optional<int>(m_progress) : std::nullopt;
    case State::Completed: return std::max(m_progress, 0);
    default: return 0;
    }
}

QString UpdateFlow::line() const
{
    if (running())
        return m_endAfterUpdate
            ? tr("Updating: do not unplug the adapter. The program ends afterwards.")
            : tr("Updating: do not unplug the adapter");
    if (m_outcome && m_outcome->failed())
        return tr("Update failed: %1").arg(m_outcome->failure.text());
    return {};
}

QString UpdateFlow::doneLine() const
{
    if (!m_outcome || !m_outcome->carriedOut())
        return {};
    return tr("Firmware written at %1.").arg(m_outcome->finishedAt.time().toString(Qt::ISODate));
}

QString UpdateFlow::whyActionsWait() const
{
    return running() ? tr("Not while the firmware is being updated.") : QString();
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
