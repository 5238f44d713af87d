#include <csignal>
#include <cstring>

#include "Commands.h"
#include "Console.h"
#include "FirmwareImage.h"
#include "FirmwareStatus.h"
#include "ProgressDisplay.h"
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

QString runningText(HeldTap &tap)
{
    if (!tap.abilities().readsBack)
        return tr("generation-3 firmware, whose version cannot be read");
    DeviceSettings status;
    const TapOutcome read = tapoperation::readSettings(tap, &status);
    if (read.carriedOut())
        return tr("firmware %1").arg(tapaccess::firmwareText(status));
    return tr("firmware that could not be read (%1)").arg(read.failure.text());
}

// Says what is about to happen and, unless --yes, asks; No unless the answer is yes.
bool confirmed(HeldTap &tap, const UpdateRequest &request)
{
    // Told whenever someone is asked, even under --quiet: the answer rests on it.
    const auto tell = [&](const QString &text) {
        if (!request.confirmed)
            console::write(text + QLatin1Char('\n'));
        else
            console::info(text);
    };
    tell(tr("%1 (%2) runs %3.")
             .arg(tap.interfaceName(), tapaccess::macText(tap.address()), runningText(tap)));
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

ExitCode updateFirmware(const QString &selector, const UpdateRequest &request,
                        QJsonObject *document)
{
    const tapaccess::Taken taken = tapaccess::take(selector, tapaccess::Choice::OnlyOne);
    if (!taken.tap)
        return taken.failure;
    HeldTap &tap = *taken.tap;
    if (!confirmed(tap, request))
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
        console::err(tr("%1: the firmware update did not complete: %2")
                         .arg(tap.interfaceName(), updated.failure.text()));
    } else if (updated.carriedOut()) {
        console::info(tr("Update completed. Unplug and replug the tap to start the new firmware."));
        *document = {{QStringLiteral("updated"), true},
                     {QStringLiteral("firmware_version"),
                      tapaccess::firmwareVersionText(firmwarestatus::CurrentVersion)}};
    }
    return tapaccess::exitCodeOf(updated);
}
