#include "SettingOptions.h"

#include "Console.h"

namespace settingoptions {

namespace {

using console::tr;

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
     QT_TRANSLATE_NOOP(
         "kalvessa100ctl",
         "Ethernet destination to match; * for a byte not compared (00:0e:c6:*:*:*).")},
    {Setting::EthSrc, "eth-src", "xx:xx:xx:xx:xx:xx",
     QT_TRANSLATE_NOOP("kalvessa100ctl", "Ethernet source to match; * for a byte not compared.")},
    {Setting::EtherType, "ethertype", "xx:xx",
     QT_TRANSLATE_NOOP("kalvessa100ctl", "EtherType to match (08:00); * allowed.")},
    {Setting::IpProto, "ip-proto", "xx",
     QT_TRANSLATE_NOOP("kalvessa100ctl", "IPv4 protocol to match, one hex byte (11), or *.")},
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

bool read(const QCommandLineParser &parser, SettingsPatch *patch, QString *error)
{
    for (const SettingOption &option : Options) {
        const QString name = QString::fromLatin1(option.name);
        if (!parser.isSet(name))
            continue;
        const QString text = parser.value(name);
        const std::optional<SettingValue> value = parseSetting(option.setting, text);
        if (!value) {
            *error = tr("--%1 \"%2\": expected %3").arg(name, text, expectedSyntax(option.setting));
            return false;
        }
        patch->set(option.setting, *value);
    }
    return true;
}

}  // namespace settingoptions
