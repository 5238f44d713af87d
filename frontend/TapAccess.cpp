#include "TapAccess.h"

#include <QStringList>

#include <algorithm>

#include "Console.h"
#include "HelperFrameLink.h"
#include "FirmwareStatus.h"
#include "SettingValues.h"

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
    return tr("If the capture privilege is missing: on an installed package, join the group "
              "kalvessa (sudo usermod -aG kalvessa $USER) and log in again; for a build from "
              "source, give the capture helper alone the privilege: sudo setcap cap_net_raw=eip %1")
        .arg(QString::fromStdString(HelperFrameLink::helperPath()));
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

namespace {

// The interface of the tap a selector names: a name as it is, a MAC address looked up among
// the attached taps (a name of one of them wins over a MAC it happens to spell). Empty, with the
// reason printed, when the tap is not attached.
QString interfaceOf(const QString &selector, const QList<TapInterface> &taps)
{
    const std::optional<MacAddress> mac = macOf(selector);
    const auto named = [&](const TapInterface &tap) { return tap.name == selector; };
    if (!mac || std::any_of(taps.begin(), taps.end(), named))
        return selector;
    for (const TapInterface &tap : taps) {
        if (tap.address == *mac)
            return tap.name;
    }
    console::err(tr("%1: no Kalvessa 100 with this MAC address is attached.").arg(selector));
    return {};
}

}  // namespace

Taken take(const QString &selector, Choice choice)
{
    QString interfaceName = selector;
    if (macOf(selector)) {
        const std::optional<QList<TapInterface>> taps = listTapInterfaces();
        if (!taps) {
            console::err(noInterfaceListText());
            return failed(ExitCode::NoTap);
        }
        interfaceName = interfaceOf(selector, *taps);
        if (interfaceName.isEmpty())
            return failed(ExitCode::NoTap);
    }
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
        console::err(tr("%n taps are attached: %1. Choose one with --tap (its interface or MAC "
                        "address), or serve every one with --all where the command takes it.",
                        int(taps->size()))
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

std::optional<MacAddress> macOf(const QString &selector)
{
    const std::optional<SettingValue> value = parseSetting(Setting::EthDst, selector);
    const FilterPattern *pattern = value ? std::get_if<FilterPattern>(&*value) : nullptr;
    constexpr uint8_t EveryByte = (1u << DeviceSettings::MacLength) - 1;
    if (pattern == nullptr || pattern->careMask != EveryByte)
        return std::nullopt;
    MacAddress address{};
    std::copy_n(pattern->bytes.begin(), address.size(), address.begin());
    return address;
}

QString profileFileName(const MacAddress &address)
{
    return macText(address).replace(QLatin1Char(':'), QLatin1Char('-')) + QStringLiteral(".json");
}

std::optional<QList<Target>> targets(const QStringList &selectors, bool all, ExitCode *failure)
{
    *failure = ExitCode::NoTap;
    const std::optional<QList<TapInterface>> taps = listTapInterfaces();
    if (!taps) {
        console::err(noInterfaceListText());
        return std::nullopt;
    }
    QList<Target> chosen;
    const auto add = [&](const QString &name, const MacAddress &address) {
        const bool known = std::any_of(chosen.begin(), chosen.end(), [&](const Target &target) {
            return target.interfaceName == name;
        });
        if (!known)
            chosen.append({name, address});
    };
    if (all) {
        for (const TapInterface &tap : *taps)
            add(tap.name, tap.address);
        if (chosen.isEmpty()) {
            console::err(noTapText());
            return std::nullopt;
        }
        return chosen;
    }
    for (const QString &selector : selectors) {
        const QString name = interfaceOf(selector, *taps);
        if (name.isEmpty())
            return std::nullopt;
        const auto listed = std::find_if(taps->begin(), taps->end(),
                                         [&](const TapInterface &tap) { return tap.name == name; });
        // A name that is not a tap's is served as named, and found wanting when it is opened.
        add(name, listed != taps->end() ? listed->address : MacAddress{});
    }
    return chosen;
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
