#include "SettingOptions.h"

#include <array>

#include <netdb.h>

#include "Console.h"

namespace settingoptions {

namespace {

using console::tr;

constexpr size_t ProtocolBufferBytes = 1024;  // one entry of /etc/protocols with its aliases
constexpr int MaxProtocol = 0xFF;

struct SettingOption
{
    Setting setting;
    const char *name;
    const char *valueName;
    const char *help;
};

// The help is marked for translation here and translated where it is shown.
constexpr std::array<SettingOption, SettingCount> Options{{
    {Setting::FilterEnabled, "filter", "on|off",
     QT_TRANSLATE_NOOP("kalvessa100ctl", "Switch the packet filter on or off.")},
    {Setting::Match, "match", "keep|discard",
     QT_TRANSLATE_NOOP("kalvessa100ctl", "Keep or discard the frames that match.")},
    {Setting::EthDst, "eth-dst", "xx:xx:xx:xx:xx:xx",
     QT_TRANSLATE_NOOP("kalvessa100ctl",
                       "Ethernet destination to match; * for a byte not compared (00:0e:c6:*:*:*). "
                       "Also 00-0E-C6-12-34-56, 000ec6123456 or 000e.c612.3456.")},
    {Setting::EthSrc, "eth-src", "xx:xx:xx:xx:xx:xx",
     QT_TRANSLATE_NOOP("kalvessa100ctl", "Ethernet source to match; * for a byte not compared.")},
    {Setting::EtherType, "ethertype", "xx:xx",
     QT_TRANSLATE_NOOP("kalvessa100ctl", "EtherType to match (08:00, 0800, 0x0800); * allowed.")},
    {Setting::IpProto, "ip-proto", "xx|name",
     QT_TRANSLATE_NOOP("kalvessa100ctl",
                       "IPv4 protocol to match: one hex byte (11, 0x11; 17 is 0x17), a name "
                       "(udp, tcp, icmp), or *.")},
    {Setting::IpSrc, "ip-src", "a.b.c.d",
     QT_TRANSLATE_NOOP(
         "kalvessa100ctl",
         "IPv4 source to match, decimal octets; * for one not compared (192.168.1.*).")},
    {Setting::IpDst, "ip-dst", "a.b.c.d",
     QT_TRANSLATE_NOOP("kalvessa100ctl", "IPv4 destination to match; * allowed.")},
    {Setting::Timestamps, "timestamps", "on|off",
     QT_TRANSLATE_NOOP("kalvessa100ctl", "Timestamp every captured frame.")},
    {Setting::CrcErrors, "crc-errors", "on|off",
     QT_TRANSLATE_NOOP("kalvessa100ctl", "Capture frames with a bad CRC.")},
    {Setting::Fcs, "fcs", "on|off",
     QT_TRANSLATE_NOOP("kalvessa100ctl", "Keep each frame's own CRC32 field (the FCS).")},
}};

// Looked up by the setting's number, so the rows keep the order of the enumeration.
constexpr bool inSettingOrder()
{
    for (size_t i = 0; i < Options.size(); ++i) {
        if (static_cast<size_t>(Options[i].setting) != i)
            return false;
    }
    return true;
}
static_assert(inSettingOrder());

const SettingOption &optionOf(Setting setting)
{
    return Options[static_cast<size_t>(setting)];
}

}  // namespace

QString nameOf(Setting setting)
{
    return QString::fromLatin1(optionOf(setting).name);
}

QList<QCommandLineOption> options()
{
    QList<QCommandLineOption> list;
    for (const SettingOption &option : Options)
        list.append(QCommandLineOption(QString::fromLatin1(option.name), tr(option.help),
                                       QString::fromLatin1(option.valueName)));
    return list;
}

bool read(const QCommandLineParser &parser, SettingsPatch *patch, QString *error, EmptyValue empty)
{
    for (const SettingOption &option : Options) {
        const QString name = QString::fromLatin1(option.name);
        if (!parser.isSet(name))
            continue;
        const QString text = parser.value(name);
        if (text.isEmpty() && empty == EmptyValue::LeftOut)
            continue;
        const std::optional<SettingValue> value = parse(option.setting, text);
        if (!value) {
            *error = tr("--%1 \"%2\": expected %3").arg(name, text, expectedSyntax(option.setting));
            return false;
        }
        patch->set(option.setting, *value);
    }
    return true;
}

std::optional<SettingValue> parse(Setting setting, const QString &text)
{
    if (std::optional<SettingValue> value = parseSetting(setting, text))
        return value;
    if (setting != Setting::IpProto)
        return std::nullopt;
    protoent entry{};
    protoent *found = nullptr;
    std::array<char, ProtocolBufferBytes> buffer{};
    const QByteArray name = text.toLower().toLocal8Bit();
    if (::getprotobyname_r(name.constData(), &entry, buffer.data(), buffer.size(), &found) != 0
        || found == nullptr || found->p_proto < 0 || found->p_proto > MaxProtocol)
        return std::nullopt;
    FilterPattern pattern;
    pattern.bytes[0] = static_cast<uint8_t>(found->p_proto);
    pattern.careMask = 1;
    return SettingValue(pattern);
}

QString describe(Setting setting, const SettingValue &value)
{
    const QString text = formatSetting(setting, value);
    const FilterPattern *pattern = std::get_if<FilterPattern>(&value);
    if (setting != Setting::IpProto || pattern == nullptr || pattern->careMask == 0)
        return text;
    const int number = pattern->bytes[0];
    protoent entry{};
    protoent *found = nullptr;
    std::array<char, ProtocolBufferBytes> buffer{};
    if (::getprotobynumber_r(number, &entry, buffer.data(), buffer.size(), &found) == 0
        && found != nullptr)
        return QStringLiteral("%1 (%2)").arg(text, QString::fromLocal8Bit(found->p_name));
    return tr("%1 (protocol %2)").arg(text).arg(number);
}

}  // namespace settingoptions
