#include "ExtcapOptions.h"

#include <QCoreApplication>

#include <array>

#include "SettingOptions.h"

namespace extcapoptions {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("kalvessa100-extcap", text);
}

struct OptionRow
{
    Setting setting;
    const char *display;
};

// In the order the window's tabs show them; each one's number in the dialog is its place here.
constexpr std::array<OptionRow, SettingCount> Rows{{
    {Setting::FilterEnabled, QT_TRANSLATE_NOOP("kalvessa100-extcap", "Packet filter")},
    {Setting::Match, QT_TRANSLATE_NOOP("kalvessa100-extcap", "Frames that match")},
    {Setting::EthDst, QT_TRANSLATE_NOOP("kalvessa100-extcap", "Ethernet destination")},
    {Setting::EthSrc, QT_TRANSLATE_NOOP("kalvessa100-extcap", "Ethernet source")},
    {Setting::EtherType, QT_TRANSLATE_NOOP("kalvessa100-extcap", "EtherType")},
    {Setting::IpProto, QT_TRANSLATE_NOOP("kalvessa100-extcap", "IPv4 protocol")},
    {Setting::IpSrc, QT_TRANSLATE_NOOP("kalvessa100-extcap", "IPv4 source")},
    {Setting::IpDst, QT_TRANSLATE_NOOP("kalvessa100-extcap", "IPv4 destination")},
    {Setting::Timestamps, QT_TRANSLATE_NOOP("kalvessa100-extcap", "Hardware timestamps")},
    {Setting::CrcErrors, QT_TRANSLATE_NOOP("kalvessa100-extcap", "Frames with CRC errors")},
    {Setting::Fcs, QT_TRANSLATE_NOOP("kalvessa100-extcap", "Keep the FCS")},
}};

// Wireshark reads an option's fields up to the first closing brace, so the patterns spell out
// their repetitions instead of counting them in braces.
const QString HexDigit = QStringLiteral("[0-9a-fA-F]");
const QString HexByte = QStringLiteral("(\\*|%1%1?)").arg(HexDigit);
const QString DecimalOctet = QStringLiteral("(\\*|25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)");
const QString Separator = QStringLiteral("[:.-]");
const QString HexPrefix = QStringLiteral("(0[xX])?");
const QString Nothing = QStringLiteral("^$|^\\*$");
// An IPv4 protocol may also be named, as in /etc/protocols.
const QString ProtocolName = QStringLiteral("^[a-zA-Z][a-zA-Z0-9-]*$");

QString separated(const QString &piece, int count)
{
    QString pattern = piece;
    for (int i = 1; i < count; ++i)
        pattern += Separator + piece;
    return pattern;
}

QString escaped(QString text)
{
    // Braces would end the field early; the texts here have none, but a translation might.
    return text.replace(QLatin1Char('{'), QLatin1Char('('))
        .replace(QLatin1Char('}'), QLatin1Char(')'));
}

QString field(const char *name, const QString &value)
{
    return QStringLiteral("{%1=%2}").arg(QLatin1String(name), escaped(value));
}

}  // namespace

QString storeOptionName()
{
    return QStringLiteral("store");
}

QString validationPattern(Setting setting)
{
    const SettingSyntax &syntax = syntaxOf(setting);
    if (syntax.kind != SettingSyntax::Kind::Pattern)
        return {};
    if (syntax.notation == SettingSyntax::Notation::DecimalOctets)
        return QStringLiteral("%1|^%2$").arg(Nothing, separated(DecimalOctet, syntax.width));
    if (syntax.width == 1)
        return QStringLiteral("%1|^%2%3%3?$|%4").arg(Nothing, HexPrefix, HexDigit, ProtocolName);
    return QStringLiteral("%1|^%2%3$|^%2%4$")
        .arg(Nothing, HexPrefix, separated(HexByte, syntax.width),
             QString(HexDigit + HexDigit).repeated(syntax.width));
}

QStringList configLines(const std::optional<DeviceSettings> &current, const ConfigNote &note)
{
    const QString group = note.text.isEmpty() ? tr("Capture settings of the tap") : note.text;
    QStringList lines;
    int number = 0;
    for (const OptionRow &row : Rows) {
        const Setting setting = row.setting;
        const SettingSyntax &syntax = syntaxOf(setting);
        const bool listed = syntax.kind != SettingSyntax::Kind::Pattern;
        QString line = QStringLiteral("arg ") + field("number", QString::number(number))
            + field("call", QStringLiteral("--") + settingoptions::nameOf(setting))
            + field("display", tr(row.display))
            + field("type", listed ? QStringLiteral("selector") : QStringLiteral("string"))
            + field("tooltip", expectedSyntax(setting));
        if (!listed) {
            line += field("validation", validationPattern(setting));
            if (current)
                line += field("default", formatSetting(setting, settingOf(*current, setting)));
        }
        lines.append(line + field("group", group));
        if (listed) {
            const bool keepMatch = syntax.kind == SettingSyntax::Kind::Match;
            const QString held =
                current ? formatSetting(setting, settingOf(*current, setting)) : QString();
            // Without the tap's value no choice is made for the user: an empty one, which
            // passes nothing on, comes first.
            if (!current) {
                lines.append(QStringLiteral("value ") + field("arg", QString::number(number))
                             + field("value", QString()) + field("display", tr("(not given)"))
                             + field("default", QStringLiteral("true")));
            }
            for (const bool on : {true, false}) {
                const QString value = formatSetting(setting, SettingValue(on));
                const QString shown =
                    keepMatch ? (on ? tr("Keep") : tr("Discard")) : (on ? tr("On") : tr("Off"));
                QString entry = QStringLiteral("value ") + field("arg", QString::number(number))
                    + field("value", value) + field("display", shown);
                entry += field("default",
                               value == held ? QStringLiteral("true") : QStringLiteral("false"));
                lines.append(entry);
            }
        }
        ++number;
    }
    lines.append(QStringLiteral("arg ") + field("number", QString::number(number))
                 + field("call", QStringLiteral("--") + storeOptionName())
                 + field("display", tr("Store in the tap (survives a power cycle)"))
                 + field("type", QStringLiteral("boolflag"))
                 + field("default", QStringLiteral("false"))
                 + field("tooltip", tr("Also store the settings, as the window's Flash does."))
                 + field("group", group));
    return lines;
}

}  // namespace extcapoptions
