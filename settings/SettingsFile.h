#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QLatin1String>
#include <QString>

#include <optional>

#include "DeviceSettings.h"
#include "SettingValues.h"
#include "SettingsPatch.h"

class QIODevice;

// The settings file that the window and the command-line tool share: JSON that a person can
// read and write, for example
//
//   { "format": "kalvessa100-settings", "version": 1,
//     "filter": { "enabled": true, "match": "keep", "eth_dst": "00:0e:c6:*:*:*",
//                 "ethertype": "08:00", "ip_proto": "11", "ip_src": "192.168.1.*" },
//     "timestamps": false, "crc_errors": true, "fcs": false, "store": true }
//
// Values take the syntax of SettingValues.h; switches are JSON booleans. A top-level setting
// (the filter's "enabled" and "match" included) that the file leaves out is not given; a
// filter field left out of a "filter" object is not compared. Anything else the file holds
// that is not exactly this (a key given twice included) refuses the whole file, so half a file
// never reaches a tap.
//
// "store" is not a setting but what to do with them: a file that declares a tap's settings
// for it to keep across a power cycle says so, and whoever applies the file unattended stores
// them. It may be left out (not stored); files without it are read as ever, and a program
// older than the key refuses a file that has it rather than applying it half understood.
class SettingsFile
{
public:
    static constexpr QLatin1String FormatName{"kalvessa100-settings"};
    static constexpr int FormatVersion = 1;
    // Far more than any settings file holds; a path naming a device or a stream is read no
    // further than this.
    static constexpr qint64 MaxFileBytes = 1 << 20;

    // The settings the file gives; nothing when it cannot be read or is refused, with *error
    // naming the key at fault (or the line and column of a JSON syntax error).
    // *store, when asked for, tells whether the file says "store": true.
    static std::optional<SettingsPatch> load(const QString &path, QString *error,
                                             bool *store = nullptr);
    // The same from an open file or stream (standard input), named `name` in *error.
    static std::optional<SettingsPatch> read(QIODevice &input, const QString &name, QString *error,
                                             bool *store = nullptr);
    static std::optional<SettingsPatch> parse(const QByteArray &content, QString *error,
                                              bool *store = nullptr);

    // Every key, whatever the record holds.
    static QJsonObject toJson(const DeviceSettings &settings);
    static QByteArray serialize(const DeviceSettings &settings);
    // Written whole or not at all: a failed save leaves an earlier file at `path` as it was.
    // Only a regular file (or a link to one) is replaced, keeping its mode, or a new one made.
    static bool save(const QString &path, const DeviceSettings &settings, QString *error);

    // One setting's value as the file writes it.
    static QJsonValue jsonValue(Setting setting, const SettingValue &value);
};
