#include "SettingValues.h"

#include <QCoreApplication>

namespace {

using Kind = SettingSyntax::Kind;
using Notation = SettingSyntax::Notation;

constexpr QLatin1String FilterGroup("filter");
constexpr QLatin1String TopLevel;

constexpr std::array<SettingSyntax, SettingCount> Syntaxes{{
    {Setting::FilterEnabled, FilterGroup, QLatin1String("enabled"), Kind::Switch, 0,
     Notation::None},
    {Setting::Match, FilterGroup, QLatin1String("match"), Kind::Match, 0, Notation::None},
    {Setting::EthDst, FilterGroup, QLatin1String("eth_dst"), Kind::Pattern,
     DeviceSettings::MacLength, Notation::HexBytes},
    {Setting::EthSrc, FilterGroup, QLatin1String("eth_src"), Kind::Pattern,
     DeviceSettings::MacLength, Notation::HexBytes},
    {Setting::EtherType, FilterGroup, QLatin1String("ethertype"), Kind::Pattern,
     DeviceSettings::EtherTypeLength, Notation::HexBytes},
    {Setting::IpProto, FilterGroup, QLatin1String("ip_proto"), Kind::Pattern, 1,
     Notation::HexBytes},
    {Setting::IpSrc, FilterGroup, QLatin1String("ip_src"), Kind::Pattern, DeviceSettings::IpLength,
     Notation::DecimalOctets},
    {Setting::IpDst, FilterGroup, QLatin1String("ip_dst"), Kind::Pattern, DeviceSettings::IpLength,
     Notation::DecimalOctets},
    {Setting::Timestamps, TopLevel, QLatin1String("timestamps"), Kind::Switch, 0, Notation::None},
    {Setting::CrcErrors, TopLevel, QLatin1String("crc_errors"), Kind::Switch, 0, Notation::None},
    {Setting::Fcs, TopLevel, QLatin1String("fcs"), Kind::Switch, 0, Notation::None},
}};

// Looked up by the setting's number, so the rows keep the order of the enumeration.
constexpr bool inSettingOrder()
{
    for (size_t i = 0; i < Syntaxes.size(); ++i) {
        if (static_cast<size_t>(Syntaxes[i].setting) != i)
            return false;
    }
    return true;
}
static_assert(inSettingOrder());

constexpr QStringView Wildcard = u"*";
constexpr QStringView On = u"on";
constexpr QStringView Off = u"off";
constexpr QStringView Keep = u"keep";
constexpr QStringView Discard = u"discard";
constexpr int HexBase = 16;
constexpr int DecimalBase = 10;
constexpr int MaxHexDigits = 2;
constexpr int MaxDecimalDigits = 3;
constexpr unsigned MaxByte = 0xFF;
constexpr QStringView HexPrefix = u"0x";
constexpr QStringView ByteSeparators = u":-.";

QString tr(const char *text, int n = -1)
{
    return QCoreApplication::translate("SettingValues", text, nullptr, n);
}

uint8_t careBit(int index, int width)
{
    return static_cast<uint8_t>(1u << (width - 1 - index));
}

QChar separatorOf(Notation notation)
{
    return notation == Notation::HexBytes ? QLatin1Char(':') : QLatin1Char('.');
}

std::optional<uint8_t> parseByte(QStringView text, Notation notation)
{
    const bool hex = notation == Notation::HexBytes;
    if (text.isEmpty() || text.size() > (hex ? MaxHexDigits : MaxDecimalDigits))
        return std::nullopt;
    // Only digits: the number conversion alone would also take signs, spaces and "0x".
    for (const QChar c : text) {
        const bool digit = c.isDigit() && c.unicode() < 0x80;
        const bool hexLetter = (c >= QLatin1Char('a') && c <= QLatin1Char('f'))
            || (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
        if (!digit && !(hex && hexLetter))
            return std::nullopt;
    }
    const unsigned value = text.toUInt(nullptr, hex ? HexBase : DecimalBase);
    if (value > MaxByte)
        return std::nullopt;
    return static_cast<uint8_t>(value);
}

// The bytes as people write them, the window's fields included: any of ':', '-' and '.'
// between them; in hexadecimal also "0x" in front and runs of digits two per byte, so
// 00-0E-C6-12-34-56, 000ec6123456, 000e.c612.3456, 0x0800 and 0800 all give their bytes.
QList<QStringView> bytePieces(QStringView text, Notation notation)
{
    const bool hex = notation == Notation::HexBytes;
    if (hex && text.startsWith(HexPrefix, Qt::CaseInsensitive))
        text = text.mid(HexPrefix.size());
    QList<QStringView> pieces;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !ByteSeparators.contains(text[i]))
            continue;
        const QStringView part = text.mid(start, i - start);
        start = i + 1;
        // A run of two or more bytes; a lone odd digit stays a byte of its own ("8:0").
        if (hex && part.size() > MaxHexDigits && part.size() % MaxHexDigits == 0) {
            for (qsizetype at = 0; at < part.size(); at += MaxHexDigits)
                pieces.append(part.mid(at, MaxHexDigits));
            continue;
        }
        pieces.append(part);
    }
    return pieces;
}

std::optional<FilterPattern> parsePattern(QStringView text, const SettingSyntax &syntax)
{
    FilterPattern pattern;
    if (text == Wildcard)
        return pattern;
    const QList<QStringView> parts = bytePieces(text, syntax.notation);
    if (parts.size() != syntax.width)
        return std::nullopt;
    for (int i = 0; i < syntax.width; ++i) {
        if (parts[i] == Wildcard)
            continue;
        const std::optional<uint8_t> byte = parseByte(parts[i], syntax.notation);
        if (!byte)
            return std::nullopt;
        pattern.bytes[i] = *byte;
        pattern.careMask |= careBit(i, syntax.width);
    }
    return pattern;
}

QString formatPattern(const FilterPattern &pattern, const SettingSyntax &syntax)
{
    QStringList parts;
    for (int i = 0; i < syntax.width; ++i) {
        if (!(pattern.careMask & careBit(i, syntax.width)))
            parts.append(Wildcard.toString());
        else if (syntax.notation == Notation::HexBytes)
            parts.append(QStringLiteral("%1").arg(pattern.bytes[i], MaxHexDigits, HexBase,
                                                  QLatin1Char('0')));
        else
            parts.append(QString::number(pattern.bytes[i]));
    }
    return parts.join(separatorOf(syntax.notation));
}

FilterPattern patternOf(const uint8_t *bytes, uint8_t careMask, int width)
{
    FilterPattern pattern;
    pattern.careMask = careMask & static_cast<uint8_t>((1u << width) - 1);
    for (int i = 0; i < width; ++i) {
        if (pattern.careMask & careBit(i, width))
            pattern.bytes[i] = bytes[i];
    }
    return pattern;
}

}  // namespace

const std::array<SettingSyntax, SettingCount> &settingSyntaxes()
{
    return Syntaxes;
}

const SettingSyntax &syntaxOf(Setting setting)
{
    return Syntaxes[static_cast<size_t>(setting)];
}

QString qualifiedKey(Setting setting)
{
    const SettingSyntax &syntax = syntaxOf(setting);
    return syntax.group.isEmpty() ? QString(syntax.key)
                                  : QStringLiteral("%1.%2").arg(syntax.group, syntax.key);
}

std::optional<SettingValue> parseSetting(Setting setting, QStringView text)
{
    const SettingSyntax &syntax = syntaxOf(setting);
    const auto is = [&](QStringView word) { return text.compare(word, Qt::CaseInsensitive) == 0; };
    switch (syntax.kind) {
    case Kind::Switch:
        if (is(On) || is(Off))
            return SettingValue(is(On));
        return std::nullopt;
    case Kind::Match:
        if (is(Keep) || is(Discard))
            return SettingValue(is(Keep));
        return std::nullopt;
    case Kind::Pattern:
        if (const std::optional<FilterPattern> pattern = parsePattern(text, syntax))
            return SettingValue(*pattern);
        return std::nullopt;
    }
    return std::nullopt;
}

QString formatSetting(Setting setting, const SettingValue &value)
{
    const SettingSyntax &syntax = syntaxOf(setting);
    if (const FilterPattern *pattern = std::get_if<FilterPattern>(&value))
        return formatPattern(*pattern, syntax);
    const bool on = std::get<bool>(value);
    if (syntax.kind == Kind::Match)
        return (on ? Keep : Discard).toString();
    return (on ? On : Off).toString();
}

QString expectedSyntax(Setting setting)
{
    const SettingSyntax &syntax = syntaxOf(setting);
    switch (syntax.kind) {
    case Kind::Switch: return tr("on or off");
    case Kind::Match: return tr("keep or discard");
    case Kind::Pattern: break;
    }
    if (syntax.notation == Notation::DecimalOctets)
        return tr("%n decimal numbers from 0 to 255 separated by dots, * for a number not compared",
                  syntax.width);
    if (syntax.width == 1)
        return tr("one hex byte, or * when it is not compared");
    return tr("%n hex bytes separated by colons, * for a byte not compared", syntax.width);
}

SettingValue settingOf(const DeviceSettings &settings, Setting setting)
{
    uint8_t bytes[DeviceSettings::MacLength] = {};
    uint8_t mask = 0;
    switch (setting) {
    case Setting::FilterEnabled: return settings.filterEnabled() != 0;
    case Setting::Match: return settings.keepMatching() != 0;
    case Setting::Timestamps: return settings.timestampsEnabled() != 0;
    case Setting::CrcErrors: return settings.captureCrcErrorFrames() != 0;
    case Setting::Fcs: return settings.captureFcs() != 0;
    case Setting::EthDst:
        settings.dstMac(bytes);
        settings.dstMacMask(&mask);
        break;
    case Setting::EthSrc:
        settings.srcMac(bytes);
        settings.srcMacMask(&mask);
        break;
    case Setting::EtherType:
        settings.etherType(bytes);
        settings.etherTypeMask(&mask);
        break;
    case Setting::IpProto:
        settings.protocol(bytes);
        settings.protocolMask(&mask);
        break;
    case Setting::IpSrc:
        settings.srcIp(bytes);
        settings.srcIpMask(&mask);
        break;
    case Setting::IpDst:
        settings.dstIp(bytes);
        settings.dstIpMask(&mask);
        break;
    }
    return patternOf(bytes, mask, syntaxOf(setting).width);
}

void assignSetting(DeviceSettings &settings, Setting setting, const SettingValue &value)
{
    if (const bool *on = std::get_if<bool>(&value)) {
        const uint8_t bit = *on ? 1 : 0;
        switch (setting) {
        case Setting::FilterEnabled: settings.setFilterMode(bit, settings.keepMatching()); break;
        case Setting::Match: settings.setFilterMode(settings.filterEnabled(), bit); break;
        case Setting::Timestamps: settings.setTimestampsEnabled(bit); break;
        case Setting::CrcErrors: settings.setCaptureCrcErrorFrames(bit); break;
        case Setting::Fcs: settings.setCaptureFcs(bit); break;
        default: break;
        }
        return;
    }
    const FilterPattern &pattern = std::get<FilterPattern>(value);
    const uint8_t *bytes = pattern.bytes.data();
    switch (setting) {
    case Setting::EthDst:
        settings.setDstMac(bytes);
        settings.setDstMacMask(pattern.careMask);
        break;
    case Setting::EthSrc:
        settings.setSrcMac(bytes);
        settings.setSrcMacMask(pattern.careMask);
        break;
    case Setting::EtherType:
        settings.setEtherType(bytes);
        settings.setEtherTypeMask(pattern.careMask);
        break;
    case Setting::IpProto:
        settings.setProtocol(bytes[0]);
        settings.setProtocolMask(pattern.careMask);
        break;
    case Setting::IpSrc:
        settings.setSrcIp(bytes);
        settings.setSrcIpMask(pattern.careMask);
        break;
    case Setting::IpDst:
        settings.setDstIp(bytes);
        settings.setDstIpMask(pattern.careMask);
        break;
    default: break;
    }
}

QList<Setting> differingSettings(const DeviceSettings &from, const DeviceSettings &to)
{
    QList<Setting> differing;
    for (const SettingSyntax &syntax : Syntaxes) {
        if (settingOf(from, syntax.setting) != settingOf(to, syntax.setting))
            differing.append(syntax.setting);
    }
    return differing;
}
