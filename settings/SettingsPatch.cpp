#include "SettingsPatch.h"

#include <algorithm>

SettingsPatch SettingsPatch::fromSettings(const DeviceSettings &settings)
{
    SettingsPatch patch;
    for (const SettingSyntax &syntax : settingSyntaxes())
        patch.set(syntax.setting, settingOf(settings, syntax.setting));
    return patch;
}

void SettingsPatch::set(Setting setting, const SettingValue &value)
{
    m_values[static_cast<size_t>(setting)] = value;
}

const std::optional<SettingValue> &SettingsPatch::value(Setting setting) const
{
    return m_values[static_cast<size_t>(setting)];
}

bool SettingsPatch::isEmpty() const
{
    return std::none_of(m_values.begin(), m_values.end(),
                        [](const std::optional<SettingValue> &v) { return v.has_value(); });
}

QList<Setting> SettingsPatch::missing() const
{
    QList<Setting> absent;
    for (const SettingSyntax &syntax : settingSyntaxes()) {
        if (!value(syntax.setting))
            absent.append(syntax.setting);
    }
    return absent;
}

void SettingsPatch::overlay(const SettingsPatch &over)
{
    for (size_t i = 0; i < m_values.size(); ++i) {
        if (over.m_values[i])
            m_values[i] = over.m_values[i];
    }
}

DeviceSettings SettingsPatch::appliedTo(const DeviceSettings &base) const
{
    DeviceSettings result = base;
    for (const SettingSyntax &syntax : settingSyntaxes()) {
        if (const std::optional<SettingValue> &given = value(syntax.setting))
            assignSetting(result, syntax.setting, *given);
    }
    return result;
}
