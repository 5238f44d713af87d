#include "ExtcapInterfaces.h"

#include <QCoreApplication>

#include "TapAccess.h"

namespace extcapinterfaces {

namespace {
const QString Prefix = QStringLiteral("kalvessa100-");
constexpr int HexDigits = 2 * 6;
}  // namespace

QString valueOf(const MacAddress &address)
{
    return Prefix + tapaccess::macText(address).remove(QLatin1Char(':'));
}

std::optional<MacAddress> addressOf(const QString &value)
{
    if (!value.startsWith(Prefix) || value.size() != Prefix.size() + HexDigits)
        return std::nullopt;
    return tapaccess::macOf(value.mid(Prefix.size()));
}

QString displayOf(const TapInterface &tap)
{
    return QCoreApplication::translate("kalvessa100-extcap", "Kalvessa 100 on %1 (%2)")
        .arg(tap.name, tapaccess::macText(tap.address));
}

}  // namespace extcapinterfaces
