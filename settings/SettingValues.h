#pragma once

#include <QLatin1String>
#include <QList>
#include <QString>
#include <QStringView>

#include <array>
#include <cstdint>
#include <optional>
#include <variant>

#include "DeviceSettings.h"

// The capture settings one by one, each with the words people and files use for it. The
// settings file, the command-line options and every display take names and value syntax from
// here, so that what one of them writes the others read.
enum class Setting {
    FilterEnabled,
    Match,
    EthDst,
    EthSrc,
    EtherType,
    IpProto,
    IpSrc,
    IpDst,
    Timestamps,
    CrcErrors,
    Fcs,
};
constexpr int SettingCount = static_cast<int>(Setting::Fcs) + 1;

// One filter field: its bytes in transmission order and one care bit per byte, the first byte
// owning the highest bit (as DeviceSettings keeps them). Bytes under a clear bit are not
// compared by the tap, so they are kept at 0 here and two patterns that compare the same
// frames are equal.
struct FilterPattern
{
    std::array<uint8_t, DeviceSettings::MacLength> bytes{};
    uint8_t careMask = 0;

    bool operator==(const FilterPattern &) const = default;
};

// A switch (on/off), the match rule (true: keep the frames that match) or a filter pattern.
using SettingValue = std::variant<bool, FilterPattern>;

struct SettingSyntax
{
    enum class Kind { Switch, Match, Pattern };
    enum class Notation { None, HexBytes, DecimalOctets };

    Setting setting;
    QLatin1String group;  // the file's object holding the key; empty at the top level
    QLatin1String key;  // the file's key
    Kind kind;
    int width;  // bytes of a pattern
    Notation notation;
};

const std::array<SettingSyntax, SettingCount> &settingSyntaxes();
const SettingSyntax &syntaxOf(Setting setting);
// "filter.eth_dst", "timestamps": how messages name a setting of the file.
QString qualifiedKey(Setting setting);

// Reads the text form: on|off, keep|discard, or a pattern ("00:0e:c6:*:*:*", "08:00", "11",
// "192.168.1.*"; hex in either case; a lone "*" leaves the whole field out of the comparison).
// Patterns are also taken as the window takes them: '-' or '.' between the bytes as well as
// ':', and hex bytes with "0x" in front or run together ("00-0E-C6-12-34-56", "000ec6123456",
// "000e.c612.3456", "0x0800", "0800"). A bare number is hexadecimal: "17" is 0x17.
// Nothing when the text does not have that form whole.
std::optional<SettingValue> parseSetting(Setting setting, QStringView text);
// The text form, as parseSetting reads it; hex bytes in lower case with two digits.
QString formatSetting(Setting setting, const SettingValue &value);
// What parseSetting expects, for messages: "on or off", "six hex bytes separated by colons...".
QString expectedSyntax(Setting setting);

SettingValue settingOf(const DeviceSettings &settings, Setting setting);
void assignSetting(DeviceSettings &settings, Setting setting, const SettingValue &value);

// The settings that would make a tap act differently. The control byte and the status words
// are not settings a person chooses; bytes a filter does not compare do not count either.
QList<Setting> differingSettings(const DeviceSettings &from, const DeviceSettings &to);
