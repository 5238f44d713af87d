#include "SettingsFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>

#include <cmath>

#include "RepeatedJsonKey.h"
#include "WholeFile.h"

namespace {

using Kind = SettingSyntax::Kind;

constexpr QLatin1String FormatKey("format");
constexpr QLatin1String VersionKey("version");
constexpr QLatin1String FilterKey("filter");
constexpr QLatin1String StoreKey("store");

QString tr(const char *text)
{
    return QCoreApplication::translate("SettingsFile", text);
}

QString quoted(const QString &key)
{
    return QLatin1Char('"') + key + QLatin1Char('"');
}

// "line 3, column 14" for an offset into the text, as an editor counts them.
QString positionOf(const QByteArray &content, int offset)
{
    const QByteArray before = content.left(offset);
    const int line = static_cast<int>(before.count('\n')) + 1;
    const int column = static_cast<int>(before.size() - before.lastIndexOf('\n'));
    return tr("line %1, column %2").arg(line).arg(column);
}

bool isKnownKey(const QString &group, const QString &key)
{
    if (group.isEmpty()
        && (key == FormatKey || key == VersionKey || key == FilterKey || key == StoreKey))
        return true;
    for (const SettingSyntax &syntax : settingSyntaxes()) {
        if (syntax.group == group && syntax.key == key)
            return true;
    }
    return false;
}

bool checkKeys(const QJsonObject &object, const QString &group, QString *error)
{
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!isKnownKey(group, it.key())) {
            *error =
                tr("unknown key %1")
                    .arg(quoted(group.isEmpty() ? it.key() : group + QLatin1Char('.') + it.key()));
            return false;
        }
    }
    return true;
}

bool checkHeader(const QJsonObject &root, QString *error)
{
    const QJsonValue format = root.value(FormatKey);
    if (format.isUndefined()) {
        *error = tr("%1 is missing: this is not a %2 file")
                     .arg(quoted(FormatKey), SettingsFile::FormatName);
        return false;
    }
    if (format.toString() != SettingsFile::FormatName) {
        *error = tr("%1 must be %2: this is not a settings file of this tool")
                     .arg(quoted(FormatKey), quoted(SettingsFile::FormatName));
        return false;
    }
    const QJsonValue version = root.value(VersionKey);
    const double number = version.toDouble(0);
    if (!version.isDouble() || number < 1 || number != std::floor(number)) {
        *error = tr("%1 must be a whole number from 1").arg(quoted(VersionKey));
        return false;
    }
    if (number > SettingsFile::FormatVersion) {
        *error = tr("%1 %2 is newer than this program reads (%3); use a newer program")
                     .arg(quoted(VersionKey))
                     .arg(version.toDouble())
                     .arg(SettingsFile::FormatVersion);
        return false;
    }
    return true;
}

// The setting from its group's object, when given; false with *error when the value is wrong.
bool readSetting(const SettingSyntax &syntax, const QJsonObject &group, SettingsPatch &patch,
                 QString *error)
{
    const QJsonValue value = group.value(syntax.key);
    const QString key = quoted(qualifiedKey(syntax.setting));
    if (value.isUndefined()) {
        // A filter field left out is one the filter does not compare.
        if (syntax.kind == Kind::Pattern)
            patch.set(syntax.setting, FilterPattern());
        return true;
    }
    if (syntax.kind == Kind::Switch) {
        if (!value.isBool()) {
            *error = tr("%1 must be true or false").arg(key);
            return false;
        }
        patch.set(syntax.setting, value.toBool());
        return true;
    }
    const std::optional<SettingValue> parsed =
        value.isString() ? parseSetting(syntax.setting, value.toString()) : std::nullopt;
    if (!parsed) {
        *error = tr("%1 must be a text of %2").arg(key, expectedSyntax(syntax.setting));
        return false;
    }
    patch.set(syntax.setting, *parsed);
    return true;
}

}  // namespace

std::optional<SettingsPatch> SettingsFile::load(const QString &path, QString *error, bool *store)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = tr("cannot read %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    return read(file, path, error, store);
}

std::optional<SettingsPatch> SettingsFile::read(QIODevice &input, const QString &name,
                                                QString *error, bool *store)
{
    const std::optional<QByteArray> content = wholefile::readAll(input, MaxFileBytes, error);
    if (!content) {
        *error = tr("cannot read %1: %2").arg(name, *error);
        return std::nullopt;
    }
    const std::optional<SettingsPatch> patch = parse(*content, error, store);
    if (!patch)
        *error = QStringLiteral("%1: %2").arg(name, *error);
    return patch;
}

std::optional<SettingsPatch> SettingsFile::parse(const QByteArray &content, QString *error,
                                                 bool *store)
{
    QJsonParseError syntaxError;
    const QJsonDocument document = QJsonDocument::fromJson(content, &syntaxError);
    if (syntaxError.error != QJsonParseError::NoError) {
        *error = tr("not JSON at %1: %2")
                     .arg(positionOf(content, syntaxError.offset), syntaxError.errorString());
        return std::nullopt;
    }
    if (!document.isObject()) {
        *error = tr("not a settings file: it must hold one JSON object");
        return std::nullopt;
    }
    const QString repeated = repeatedJsonKey(content);
    if (!repeated.isEmpty()) {
        *error = tr("%1 is given twice").arg(quoted(repeated));
        return std::nullopt;
    }
    const QJsonObject root = document.object();
    if (!checkHeader(root, error) || !checkKeys(root, QString(), error))
        return std::nullopt;

    const QJsonValue filter = root.value(FilterKey);
    if (!filter.isUndefined() && !filter.isObject()) {
        *error = tr("%1 must be an object").arg(quoted(FilterKey));
        return std::nullopt;
    }
    if (!checkKeys(filter.toObject(), FilterKey, error))
        return std::nullopt;

    const QJsonValue storeValue = root.value(StoreKey);
    if (!storeValue.isUndefined() && !storeValue.isBool()) {
        *error = tr("%1 must be true or false").arg(quoted(StoreKey));
        return std::nullopt;
    }
    if (store != nullptr)
        *store = storeValue.toBool(false);

    SettingsPatch patch;
    for (const SettingSyntax &syntax : settingSyntaxes()) {
        const bool inFilter = !syntax.group.isEmpty();
        if (inFilter && filter.isUndefined())
            continue;  // the filter as a whole is not given
        if (!readSetting(syntax, inFilter ? filter.toObject() : root, patch, error))
            return std::nullopt;
    }
    return patch;
}

QJsonValue SettingsFile::jsonValue(Setting setting, const SettingValue &value)
{
    if (syntaxOf(setting).kind == Kind::Switch)
        return std::get<bool>(value);
    return formatSetting(setting, value);
}

QJsonObject SettingsFile::toJson(const DeviceSettings &settings)
{
    QJsonObject root{{FormatKey, FormatName}, {VersionKey, FormatVersion}};
    QJsonObject filter;
    for (const SettingSyntax &syntax : settingSyntaxes()) {
        const QJsonValue value = jsonValue(syntax.setting, settingOf(settings, syntax.setting));
        if (syntax.group.isEmpty())
            root.insert(syntax.key, value);
        else
            filter.insert(syntax.key, value);
    }
    root.insert(FilterKey, filter);
    return root;
}

QByteArray SettingsFile::serialize(const DeviceSettings &settings)
{
    return QJsonDocument(toJson(settings)).toJson(QJsonDocument::Indented);
}

bool SettingsFile::save(const QString &path, const DeviceSettings &settings, QString *error)
{
    if (!wholefile::replace(path, serialize(settings), error)) {
        *error = tr("cannot write %1: %2").arg(path, *error);
        return false;
    }
    return true;
}
