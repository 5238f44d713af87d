#include "ExtcapCommands.h"

#include <QCoreApplication>
#include <QJsonObject>

#include "Console.h"
#include "ExtcapInterfaces.h"
#include "ExtcapOptions.h"
#include "HelperCapture.h"
#include "HelperFrameLink.h"
#include "KalvessaVersion.h"
#include "SettingsApply.h"
#include "TapAccess.h"
#include "TapOperations.h"
#include "TapService.h"

namespace extcapcommands {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("kalvessa100-extcap", text);
}

// The tap an interface value names, among those attached; nothing, with the reason printed as
// kalvessa100ctl prints it, when it is not there.
std::optional<TapInterface> tapOf(const QString &interfaceValue, ExitCode *failure)
{
    *failure = ExitCode::NoTap;
    const std::optional<MacAddress> address = extcapinterfaces::addressOf(interfaceValue);
    if (!address) {
        console::err(tr("%1: not an interface of kalvessa100-extcap").arg(interfaceValue));
        *failure = ExitCode::BadInput;
        return std::nullopt;
    }
    const std::optional<QList<TapInterface>> taps = listTapInterfaces();
    if (!taps) {
        console::err(tapaccess::noInterfaceListText());
        return std::nullopt;
    }
    for (const TapInterface &tap : *taps) {
        if (tap.address == *address)
            return tap;
    }
    console::err(console::tr("%1: no Kalvessa 100 with this MAC address is attached.")
                     .arg(tapaccess::macText(*address)));
    return std::nullopt;
}

}  // namespace

ExitCode listInterfaces()
{
    console::out(QStringLiteral("extcap {version=%1}{display=%2}")
                     .arg(QStringLiteral(KALVESSA_VERSION),
                          tr("Kalvessa 100: sets the tap's capture settings, then captures")));
    const std::optional<QList<TapInterface>> taps = listTapInterfaces();
    if (!taps) {
        // Wireshark lists its other interfaces all the same; it is only told why ours are not.
        console::err(tapaccess::noInterfaceListText());
        return ExitCode::Success;
    }
    for (const TapInterface &tap : *taps) {
        console::out(
            QStringLiteral("interface {value=%1}{display=%2}")
                .arg(extcapinterfaces::valueOf(tap.address), extcapinterfaces::displayOf(tap)));
    }
    return ExitCode::Success;
}

ExitCode listLinkTypes(const QString &interfaceValue)
{
    if (!extcapinterfaces::addressOf(interfaceValue)) {
        console::err(tr("%1: not an interface of kalvessa100-extcap").arg(interfaceValue));
        return ExitCode::BadInput;
    }
    console::out(QStringLiteral("dlt {number=1}{name=EN10MB}{display=%1}").arg(tr("Ethernet")));
    return ExitCode::Success;
}

ExitCode printConfig(const QString &interfaceValue)
{
    ExitCode failure = ExitCode::Success;
    const std::optional<TapInterface> tap = tapOf(interfaceValue, &failure);
    if (!tap)
        return failure;

    // Read when the dialog opens, and let go at once: the tap is not held while the dialog is.
    std::optional<DeviceSettings> current;
    extcapoptions::ConfigNote note;
    {
        const tapaccess::Taken taken = tapaccess::take(tap->name, tapaccess::Choice::OnlyOne);
        if (!taken.tap)
            return taken.failure;
        if (!taken.tap->abilities().readsBack) {
            note.text = console::tr("%1 runs generation %2, which cannot be read back, so every "
                                    "setting must be given.")
                            .arg(tap->name)
                            .arg(taken.tap->generation());
        } else {
            DeviceSettings working;
            const TapOutcome read = tapoperation::readSettings(*taken.tap, &working);
            if (read.failed()) {
                console::err(console::tr("%1: the settings cannot be read: %2")
                                 .arg(tap->name, read.failure.text()));
                return tapaccess::exitCodeOf(read);
            }
            current = working;
        }
    }
    for (const QString &line : extcapoptions::configLines(current, note))
        console::out(line);
    return ExitCode::Success;
}

ExitCode capture(const CaptureRequest &request)
{
    ExitCode failure = ExitCode::Success;
    const std::optional<TapInterface> tap = tapOf(request.interfaceValue, &failure);
    if (!tap)
        return failure;

    helpercapture::catchTermination();
    if (!request.settings.isEmpty()) {
        ApplyRequest apply;
        apply.settings = request.settings;
        apply.store = request.store;
        QJsonObject unused;
        // Named by its address, as the capture is; the tap and its lock are let go on return,
        // before the capture starts, so the window or kalvessa100ctl may take it meanwhile.
        const ExitCode applied = applySettings(tapaccess::macText(tap->address), apply, &unused);
        if (applied != ExitCode::Success)
            return applied;
    }
    if (helpercapture::stopRequested())
        return ExitCode::Success;

    const int status =
        helpercapture::run({HelperFrameLink::helperPath(), tap->name.toStdString(),
                            request.fifo.toStdString(), request.captureFilter.toStdString()});
    switch (status) {
    case 0: return ExitCode::Success;
    case 2: return ExitCode::BadInput;  // the helper refused: it said why
    case helpercapture::NotStarted:
    case helpercapture::NoPrivilege: console::err(tapaccess::privilegeHint()); break;
    default: break;
    }
    return ExitCode::Unreachable;
}

}  // namespace extcapcommands
