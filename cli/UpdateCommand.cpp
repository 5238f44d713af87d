#include <csignal>
#include <cstring>

#include "Commands.h"
#include "Console.h"
#include "FirmwareImage.h"
#include "FirmwareStatus.h"
#include "ProgressDisplay.h"
#include "RestartWatch.h"
#include "TapAccess.h"
#include "TapOperations.h"
#include "TerminationSignals.h"

namespace {

using console::tr;

// Set by the simulated-tap wrapper and the test bed: the tap this program will find is the
// simulator, so the stand-in image may be written into it.
constexpr const char *SimulatedTapVariable = "KALVESSA_SIMULATED_TAP";

bool standInRefused(bool forced)
{
    if (!firmwareImageIsStandIn || forced || !qEnvironmentVariableIsEmpty(SimulatedTapVariable))
        return false;
    console::err(tr("This build carries a stand-in firmware image, not the tap's firmware: written "
                    "into a real Kalvessa 100 it would leave the tap unusable. It is written only "
                    "next to the simulated tap, or with --force-stand-in."));
    return true;
}

// What the tap answers as before the update.
struct Running
{
    bool answers = true;  // false: a tap that answers nothing, whose firmware cannot be read
    bool read = false;
    DeviceSettings status;
    QString failure;
};

Running runningOf(HeldTap &tap)
{
    Running running;
    running.answers = tap.abilities().readsBack;
    if (!running.answers)
        return running;
    const TapOutcome read = tapoperation::readSettings(tap, &running.status);
    running.read = read.carriedOut();
    if (!running.read)
        running.failure = read.failure.text();
    return running;
}

QString runningText(const Running &running)
{
    if (!running.answers)
        return tr("firmware that answers nothing (generation 3, or not responding)");
    if (running.read)
        return tr("firmware %1").arg(tapaccess::firmwareText(running.status));
    return tr("firmware that could not be read (%1)").arg(running.failure);
}

// Says what is about to happen and, unless --yes, asks; No unless the answer is yes.
bool confirmed(HeldTap &tap, const UpdateRequest &request, const Running &running)
{
    // Told whenever someone is asked, even under --quiet: the answer rests on it.
    const auto tell = [&](const QString &text) {
        if (!request.confirmed)
            console::write(text + QLatin1Char('\n'));
        else
            console::info(text);
    };
    tell(tr("%1 (%2) runs %3.")
             .arg(tap.interfaceName(), tapaccess::macText(tap.address()), runningText(running)));
    tell(tr("This writes firmware %1 carried by this program (%2 bytes)%3.")
             .arg(tapaccess::firmwareVersionText(firmwarestatus::CurrentVersion))
             .arg(firmwareImageLength)
             .arg(firmwareImageIsStandIn ? tr(": the stand-in image, for the simulated tap only")
                                         : QString()));
    tell(tr("Keep the tap plugged in until the update has finished: an interrupted update "
            "can leave it unusable."));
    if (request.confirmed)
        return true;
    if (!console::inputIsTerminal()) {
        console::err(
            tr("Not updated: nobody can be asked here; give --yes to update without asking."));
        return false;
    }
    // A person may take their time: the capture goes meanwhile, and the update makes its own.
    tap.device().releaseCapture();
    console::write(tr("Update the firmware now? [y/N] "));
    const QString answer = console::readLine().trimmed().toLower();
    if (answer == QLatin1String("y") || answer == QLatin1String("yes"))
        return true;
    console::err(tr("Not updated."));
    return false;
}

QString stepText(const OperationProgress &progress)
{
    switch (progress.stage) {
    case ProgressStage::Erase:
        // A tap that erases its flash in one command is not told in sectors.
        return progress.total > 1
            ? tr("erasing sector %1 of %2").arg(progress.done).arg(progress.total)
            : tr("erasing the flash");
    case ProgressStage::Pages: return tr("page %1 of %2").arg(progress.done).arg(progress.total);
    case ProgressStage::Commit: return tr("ending the programming run");
    }
    return {};
}

}  // namespace

bool updateAllowed(const UpdateRequest &request)
{
    // A reader that goes away (output piped into head) must not end the program halfway through
    // the update: what is printed after that is lost, and the exit status tells how it ended.
    std::signal(SIGPIPE, SIG_IGN);
    return !standInRefused(request.forceStandIn);
}

namespace {

// How the restart after an update went: words, JSON and the exit status.
ExitCode tellRestart(const QString &name, const RestartSeen &seen, int timeoutSeconds,
                     QJsonObject *document)
{
    const QString carried = tapaccess::firmwareVersionText(firmwarestatus::CurrentVersion);
    switch (seen.result) {
    case RestartSeen::Result::AnswersCurrent:
        document->insert(QStringLiteral("restart"), QStringLiteral("answers_current"));
        document->insert(QStringLiteral("answers_as"), carried);
        // Told beside JSON too: whoever replugged the tap is waiting to hear it.
        console::note(tr("%1: the tap answers as firmware %2.").arg(seen.interfaceName, carried));
        return ExitCode::Success;
    case RestartSeen::Result::RunsOther:
        document->insert(QStringLiteral("restart"), QStringLiteral("runs_other"));
        document->insert(QStringLiteral("answers_as"),
                         tapaccess::firmwareVersionText(seen.status.firmwareVersion()));
        console::err(tr("%1: the tap does not run the new firmware: it answers as firmware %2. "
                        "Run the update again.")
                         .arg(seen.interfaceName, tapaccess::firmwareText(seen.status)));
        return ExitCode::NotUpdated;
    case RestartSeen::Result::NoAnswer:
        document->insert(QStringLiteral("restart"), QStringLiteral("no_answer"));
        document->insert(QStringLiteral("answers_as"), QJsonValue());
        console::err(tr("%1: the tap does not run the new firmware: it answers nothing. It may "
                        "not start until the update is run again.")
                         .arg(seen.interfaceName));
        return ExitCode::NotUpdated;
    case RestartSeen::Result::TimedOut: break;
    }
    document->insert(QStringLiteral("restart"), QStringLiteral("timed_out"));
    if (!seen.wentAway) {
        console::err(tr("%1: not unplugged and plugged in again within %2 s, so the new firmware "
                        "has not started and nothing is verified.")
                         .arg(name)
                         .arg(timeoutSeconds));
    } else {
        console::err(tr("%1: the tap was not back within %2 s%3; nothing is verified.")
                         .arg(name)
                         .arg(timeoutSeconds)
                         .arg(seen.reason.isEmpty() ? QString() : tr(" (%1)").arg(seen.reason)));
    }
    return ExitCode::TimedOut;
}

}  // namespace

ExitCode updateFirmware(const QString &selector, const UpdateRequest &request,
                        QJsonObject *document)
{
    tapaccess::Taken taken = tapaccess::take(selector, tapaccess::Choice::OnlyOne);
    if (!taken.tap)
        return taken.failure;
    HeldTap &tap = *taken.tap;
    const QString name = tap.interfaceName();
    const QString carried = tapaccess::firmwareVersionText(firmwarestatus::CurrentVersion);
    const Running running = runningOf(tap);
    if (running.read && firmwarestatus::current(running.status) && !request.force) {
        console::info(tr("%1: already up to date: it answers as firmware %2 (--force updates it "
                         "all the same).")
                          .arg(name, carried));
        *document = {{QStringLiteral("updated"), false},
                     {QStringLiteral("up_to_date"), true},
                     {QStringLiteral("firmware_version"), carried}};
        return ExitCode::Success;
    }
    if (!confirmed(tap, request, running))
        return ExitCode::BadInput;

    // From here on a termination signal waits for the update: cut short, it could leave the
    // tap unusable. Taken only now, so that the question above can still be interrupted.
    TerminationSignals termination;
    int pendingSignal = 0;
    const auto notePending = [&] {
        if (pendingSignal != 0)
            return;
        pendingSignal = termination.takePending();
        if (pendingSignal != 0)
            console::err(tr("%1 received: the update goes on to its end, then the program ends.")
                             .arg(QString::fromLocal8Bit(::strsignal(pendingSignal))));
    };
    ProgressDisplay display(console::outputIsTerminal());
    const bool showing = console::informing();
    const TapOutcome updated = tapoperation::updateFirmware(
        tap, firmwareImage, firmwareImageLength, [&](const OperationProgress &progress) {
            if (showing)
                display.show(stepText(progress), progress);
            notePending();
        });
    display.finish();
    notePending();
    if (updated.failed()) {
        console::err(tr("%1: the firmware update did not complete: %2%3")
                         .arg(name, updated.failure.text(),
                              updated.leftUpdatePartWay()
                                  ? tr(". The tap may not start until the update is run again.")
                                  : QString()));
        return tapaccess::exitCodeOf(updated);
    }
    if (!updated.carriedOut())
        return tapaccess::exitCodeOf(updated);

    // Sent is all the pages can say, acknowledged or not: only the restart tells more.
    const bool acknowledged = updated.result == TapOutcome::Result::Succeeded;
    const UpdateReceipt &receipt = updated.receipt;
    *document = {{QStringLiteral("updated"), true},
                 {QStringLiteral("sent"), true},
                 {QStringLiteral("acknowledged"), acknowledged},
                 {QStringLiteral("pages"), receipt.pages},
                 {QStringLiteral("pages_acknowledged_with_index"), receipt.acknowledgedWithIndex},
                 {QStringLiteral("passes"), receipt.passes},
                 {QStringLiteral("firmware_version"), carried}};
    // An acknowledgement that does not repeat the page's index could answer another page: only
    // one that does says that this page arrived.
    const QString how = !acknowledged ? tr(" (the tap answers nothing, so no page was "
                                           "acknowledged)")
        : receipt.verifiedByEcho()
        ? tr(" (every page acknowledged by the tap)")
        : tr(" (%1 of %2 pages acknowledged by answers that cannot be tied to them)")
              .arg(receipt.acknowledgedWithoutIndex)
              .arg(receipt.pages);
    if (!request.wait || pendingSignal != 0) {
        console::info(tr("%1: firmware %2 sent, not yet verified%3. Unplug and replug the tap to "
                         "start it, then check with: kalvessa100ctl list (or update with --wait).")
                          .arg(name, carried, how));
        return ExitCode::Success;
    }
    const MacAddress address = tap.address();
    // The restart is the tap's own: nothing of this program may hold it meanwhile.
    taken.tap.reset();
    // Told even beside JSON: someone has to unplug the tap now.
    console::note(tr("%1: firmware %2 sent%3. Unplug and replug the tap to start it; waiting up "
                     "to %4 s for it to come back.")
                      .arg(name, carried, how)
                      .arg(request.timeoutSeconds));
    const RestartSeen seen = awaitRestart(address, request.timeoutSeconds * 1000);
    document->insert(QStringLiteral("waited"), true);
    return tellRestart(name, seen, request.timeoutSeconds, document);
}
