#include <QJsonArray>
#include <QJsonObject>

#include "Commands.h"
#include "Console.h"
#include "FirmwareStatus.h"
#include "TapAccess.h"
#include "TapOperations.h"

namespace {

using console::tr;
using Result = TapOpening::Result;

// What one tap interface turned out to be, for both the text and the JSON listing.
struct Listing
{
    QString text;
    QJsonObject json;
    bool wantsPrivilege = false;
};

QString stateName(Result result)
{
    switch (result) {
    case Result::Opened: return QStringLiteral("ready");
    case Result::NotATap: return QStringLiteral("gone");
    case Result::InUse: return QStringLiteral("in_use");
    case Result::Unreachable: return QStringLiteral("unreachable");
    case Result::Unsettled: return QStringLiteral("unsettled");
    }
    return {};
}

// The tap is taken only for as long as it is looked at, so that listing several taps never
// holds more than one of them.
Listing look(const TapInterface &interface)
{
    Listing listing;
    QJsonObject &json = listing.json;
    json.insert(QStringLiteral("interface"), interface.name);
    json.insert(QStringLiteral("mac"), tapaccess::macText(interface.address));

    const TapOpening opening = openTap(interface.name);
    json.insert(QStringLiteral("state"), stateName(opening.result));
    listing.wantsPrivilege = tapaccess::wantsPrivilege(opening);
    if (opening.result != Result::Opened) {
        if (opening.ownerPid > 0)
            json.insert(QStringLiteral("owner_pid"), opening.ownerPid);
        if (!opening.reason.isEmpty())
            json.insert(QStringLiteral("reason"), opening.reason);
        listing.text = tapaccess::problemText(opening);
        return listing;
    }

    HeldTap &tap = *opening.tap;
    const int generation = tap.generation();
    json.insert(QStringLiteral("generation"), generation);
    if (!tap.abilities().readsBack) {
        // Silence is all the probe heard: a generation-3 tap and a hung one sound alike.
        json.insert(QStringLiteral("answers"), false);
        listing.text = tr("no answer (generation 3, or not responding)");
        return listing;
    }
    json.insert(QStringLiteral("answers"), true);
    DeviceSettings status;
    const TapOutcome read = tapoperation::readSettings(tap, &status);
    if (read.carriedOut()) {
        json.insert(QStringLiteral("firmware_version"),
                    tapaccess::firmwareVersionText(status.firmwareVersion()));
        json.insert(QStringLiteral("firmware_type"),
                    tapaccess::firmwareTypeText(status.firmwareTypeCode()));
        listing.text =
            tr("generation %1, firmware %2").arg(generation).arg(tapaccess::firmwareText(status));
        // As the window offers it: for every firmware but the one this program carries.
        const QString carried = tapaccess::firmwareVersionText(firmwarestatus::CurrentVersion);
        const bool offered = !firmwarestatus::current(status);
        json.insert(QStringLiteral("update_available"),
                    offered ? QJsonValue(carried) : QJsonValue());
        if (offered)
            listing.text += tr(", update available: %1").arg(carried);
    } else {
        const QString failure = read.failure.text();
        json.insert(QStringLiteral("error"), failure);
        listing.text = tr("generation %1, firmware not read: %2").arg(generation).arg(failure);
    }
    return listing;
}

}  // namespace

ExitCode listTaps()
{
    const bool json = console::jsonMode();
    const std::optional<QList<TapInterface>> taps = listTapInterfaces();
    if (!taps) {
        console::err(tapaccess::noInterfaceListText());
        return ExitCode::NoTap;
    }

    QJsonArray entries;
    bool wantsPrivilege = false;
    for (const TapInterface &interface : *taps) {
        const Listing listing = look(interface);
        entries.append(listing.json);
        wantsPrivilege = wantsPrivilege || listing.wantsPrivilege;
        if (!json)
            console::out(tapaccess::tapLine(interface.name, interface.address, listing.text));
    }
    if (taps->isEmpty()) {
        console::err(tapaccess::noTapText());
        return ExitCode::NoTap;
    }
    if (json)
        console::json(QJsonObject{{QStringLiteral("taps"), entries}});
    if (wantsPrivilege)
        console::note(tapaccess::privilegeHint());
    return ExitCode::Success;
}
