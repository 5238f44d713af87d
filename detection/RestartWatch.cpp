#include "RestartWatch.h"

#include <QDeadlineTimer>

#include <poll.h>

#include "FirmwareStatus.h"
#include "TapOperations.h"
#include "TapService.h"

namespace {

// The interface that carries the address now, and whether it is up; empty when none does. The
// interface it was last seen on is asked first, by two quick questions to the kernel: the
// full list takes long enough for a short replug to slip past between two looks.
QString upInterfaceOf(const MacAddress &address, const QString &lastSeen, bool *up)
{
    HostInterfaces &interfaces = HostInterfaces::current();
    MacAddress there{};
    if (!lastSeen.isEmpty() && interfaces.hardwareAddress(lastSeen, &there) && there == address) {
        *up = interfaces.linkUp(lastSeen);
        return lastSeen;
    }
    *up = false;
    for (const TapInterface &tap : interfaces.listTaps().value_or(QList<TapInterface>())) {
        if (tap.address == address) {
            *up = interfaces.linkUp(tap.name);
            return tap.name;
        }
    }
    return {};
}

// What the tap on this interface answers as; nothing while it cannot be settled yet (in use,
// its answers not told from the line's traffic, its status words not read).
std::optional<RestartSeen> lookAt(const QString &interfaceName, QString *reason)
{
    TapOpening opening = openTap(interfaceName);
    if (opening.result != TapOpening::Result::Opened) {
        *reason = opening.reason;
        return std::nullopt;
    }
    RestartSeen seen;
    seen.interfaceName = interfaceName;
    if (!opening.tap->abilities().readsBack) {
        seen.result = RestartSeen::Result::NoAnswer;
        return seen;
    }
    const TapOutcome read = tapoperation::readSettings(*opening.tap, &seen.status);
    if (!read.carriedOut()) {
        *reason = read.failure.text();
        return std::nullopt;
    }
    seen.result = firmwarestatus::current(seen.status) ? RestartSeen::Result::AnswersCurrent
                                                       : RestartSeen::Result::RunsOther;
    return seen;
}

}  // namespace

RestartSeen awaitRestart(const MacAddress &address, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    const std::unique_ptr<LinkChanges> links = HostInterfaces::current().watchLinks();
    RestartSeen timedOut;
    QString name;
    for (;;) {
        bool up = false;
        name = upInterfaceOf(address, name, &up);
        if (!up) {
            timedOut.wentAway = true;
        } else if (timedOut.wentAway) {
            if (std::optional<RestartSeen> seen = lookAt(name, &timedOut.reason))
                return *seen;
        }
        const qint64 left = deadline.remainingTime();
        if (left <= 0)
            return timedOut;
        pollfd notice{links->fd(), POLLIN, 0};
        const int wait = static_cast<int>(std::min<qint64>(left, restartwatch::LookMs));
        if (::poll(&notice, links->fd() >= 0 ? 1 : 0, wait) > 0)
            links->drain();
    }
}
