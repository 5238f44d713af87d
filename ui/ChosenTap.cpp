#include "ChosenTap.h"

#include <QSettings>
#include <QString>
#include <QStringList>

namespace {

const QString Organisation = QStringLiteral("kalvessa");
const QString Application = QStringLiteral("kalvessa100");
const QString Key = QStringLiteral("window/tap");
constexpr int HexDigitsPerByte = 2;
constexpr int Hex = 16;

QSettings store()
{
    return QSettings(Organisation, Application);
}

}  // namespace

namespace chosentap {

std::optional<MacAddress> remembered()
{
    // Written by hand perhaps: only a whole address in the form written below is taken.
    const QStringList bytes = store().value(Key).toString().split(QLatin1Char(':'));
    MacAddress address{};
    if (bytes.size() != int(address.size()))
        return std::nullopt;
    for (int i = 0; i < bytes.size(); ++i) {
        bool ok = false;
        const uint byte = bytes.at(i).toUInt(&ok, Hex);
        if (!ok || bytes.at(i).size() != HexDigitsPerByte)
            return std::nullopt;
        address[i] = static_cast<uint8_t>(byte);
    }
    return address;
}

bool remember(const MacAddress &address)
{
    QStringList bytes;
    for (uint8_t byte : address)
        bytes << QStringLiteral("%1").arg(byte, HexDigitsPerByte, Hex, QLatin1Char('0'));
    QSettings settings = store();
    settings.setValue(Key, bytes.join(QLatin1Char(':')));
    settings.sync();
    return settings.status() == QSettings::NoError;
}

}  // namespace chosentap
