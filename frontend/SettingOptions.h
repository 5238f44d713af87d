#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>

#include <optional>

#include "SettingValues.h"
#include "SettingsPatch.h"

// The command-line option of each capture setting. Text output names settings by these
// options too, so what `show` prints can be typed back into `apply`.
namespace settingoptions {

QString nameOf(Setting setting);  // "eth-dst"
QList<QCommandLineOption> options();
// What an option given with an empty value means: refused as any other value without its
// option's syntax, or a setting left out (Wireshark's dialog passes its empty fields so).
enum class EmptyValue { Refused, LeftOut };
// The settings given as options. False, with *error naming the option, when a value does not
// have its option's syntax.
bool read(const QCommandLineParser &parser, SettingsPatch *patch, QString *error,
          EmptyValue empty = EmptyValue::Refused);
// One option's value as people write it: what the settings take, and for --ip-proto also a
// protocol's name from the system's table (tcp, udp, icmp).
std::optional<SettingValue> parse(Setting setting, const QString &text);
// The value as the options write it, with the protocol it means after an IPv4 protocol
// ("11 (udp)", "17 (protocol 23)"), since a bare number is read as hexadecimal.
QString describe(Setting setting, const SettingValue &value);

}  // namespace settingoptions
