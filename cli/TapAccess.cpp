#include "TapAccess.h"

#include <QStringList>

#include "Console.h"
#include "FirmwareStatus.h"

namespace tapaccess {

namespace {

using console::tr;
using Result = TapOpening::Result;

constexpr int HexBase = 16;
constexpr int HexByteDigits = 2;
constexpr int TypeCodeDigits = 4;

void report(const QString &interfaceName, const TapOpening &opening)
{
    console::err(QStringLiteral("%1: %2").arg(interfaceName, problemText(opening)));
    if (wantsPrivilege(opening))
        console::err(privilegeHint());
}

Taken failed(ExitCode code)
{
    Taken taken;
    taken.failure = code;
    return taken;
}

Taken opened(TapOpening &opening)
{
    Taken taken;
    taken.tap = std::move(opening.tap);
    qCDebug(lcCli) << "took the tap on" << taken.tap->interfaceName() << "generation"
                   << taken.tap->generation();
    return taken;
}

}  // namespace

bool wantsPrivilege(const TapOpening &opening)
{
    return opening.result == Result::Unreachable && opening.cause == LinkError::Kind::NoPrivilege;
}

QString privilegeHint()
{
    return tr(
        "If the capture privilege is missing: on an installed package, join the group "
        "kalvessa (sudo usermod -aG kalvessa $USER) and log in again; for a build from "
        "source, run: sudo setcap cap_net_raw,cap_net_admin=eip $(command -v kalvessa100ctl)");
}

QString noInterfaceListText()
{
    return tr("The list of network interfaces cannot be had, so no tap can be found.");
}

QString noTapText()
{
    return tr("No Kalvessa 100 found: no network interface has an address starting 00:0e:c6.");
}

ExitCode exitCodeOf(Result result)
{
    switch (result) {
    case Result::Opened: return ExitCode::Success;
    case Result::NotATap: return ExitCode::NoTap;
    case Result::InUse: return ExitCode::InUse;
    case Result::Unreachable: return ExitCode::Unreachable;
    case Result::Unsettled: return ExitCode::TapFailed;
    }
    return ExitCode::TapFailed;
}

ExitCode exitCodeOf(const TapOutcome &outcome)
{
    return outcome.carriedOut() ? ExitCode::Success : ExitCode::TapFailed;
}

QString problemText(const TapOpening &opening)
{
    switch (opening.result) {
    case Result::Opened: return {};
    case Result::NotATap:
        return tr("not a Kalvessa 100: no interface of that name has an address starting 00:0e:c6");
    case Result::InUse:
        return opening.ownerPid > 0 ? tr("in use by another program (PID %1)").arg(opening.ownerPid)
                                    : tr("in use by another program (its PID is not known)");
    case Result::Unreachable:
        return wantsPrivilege(opening) ? tr("cannot capture on it: %1").arg(opening.reason)
                                       : tr("cannot be reached: %1").arg(opening.reason);
    case Result::Unsettled:
        return tr("its answers could not be told from other traffic (%1); try again")
            .arg(opening.reason);
    }
    return {};
}

Taken take(const QString &interfaceName, Choice choice)
{
    if (!interfaceName.isEmpty()) {
        TapOpening opening = openTap(interfaceName);
        if (opening.result == Result::Opened)
            return opened(opening);
        report(interfaceName, opening);
        return failed(exitCodeOf(opening.result));
    }

    const std::optional<QList<TapInterface>> taps = listTapInterfaces();
    if (!taps) {
        console::err(noInterfaceListText());
        return failed(ExitCode::NoTap);
    }
    if (taps->isEmpty()) {
        console::err(noTapText());
        return failed(ExitCode::NoTap);
    }
    if (choice == Choice::OnlyOne && taps->size() > 1) {
        QStringList names;
        for (const TapInterface &tap : *taps)
            names.append(QStringLiteral("%1 (%2)").arg(tap.name, macText(tap.address)));
        console::err(tr("%n taps are attached: %1. Choose one with --interface.", int(taps->size()))
                         .arg(names.join(QStringLiteral(", "))));
        return failed(ExitCode::BadInput);
    }

    ExitCode firstFailure = ExitCode::NoTap;  // every listed interface vanished meanwhile
    for (const TapInterface &tap : *taps) {
        TapOpening opening = openTap(tap.name);
        if (opening.result == Result::Opened)
            return opened(opening);
        if (opening.result == Result::NotATap)
            continue;
        report(tap.name, opening);
        if (firstFailure == ExitCode::NoTap)
            firstFailure = exitCodeOf(opening.result);
    }
    if (firstFailure == ExitCode::NoTap)
        console::err(tr("No Kalvessa 100 found: the tap went away."));
    return failed(firstFailure);
}

QString macText(const MacAddress &address)
{
    QStringList bytes;
    for (const uint8_t byte : address)
        bytes.append(QStringLiteral("%1").arg(byte, HexByteDigits, HexBase, QLatin1Char('0')));
    return bytes.join(QLatin1Char(':'));
}

QString firmwareVersionText(uint16_t version)
{
    return QStringLiteral("%1.%2")
        .arg(firmwarestatus::major(version))
        .arg(firmwarestatus::minor(version));
}

QString firmwareTypeText(uint16_t typeCode)
{
    return QStringLiteral("0x")
        + QStringLiteral("%1").arg(typeCode, TypeCodeDigits, HexBase, QLatin1Char('0')).toUpper();
}

QString firmwareText(const DeviceSettings &status)
{
    const QString text = tr("%1 (type %2)")
                             .arg(firmwareVersionText(status.firmwareVersion()),
                                  firmwareTypeText(status.firmwareTypeCode()));
    return firmwarestatus::recognised(status) ? text : tr("%1, not recognised").arg(text);
}

QString tapLine(const QString &interfaceName, const MacAddress &address, const QString &details)
{
    return QStringLiteral("%1  %2  %3").arg(interfaceName, macText(address), details);
}

}  // namespace tapaccess
