#pragma once

#include <QList>

#include <array>
#include <optional>

#include "DeviceSettings.h"
#include "SettingValues.h"

// Some or all of the capture settings: what a settings file or a command line gives. A setting
// it does not give stays as the record it is applied to holds it, so a person can change one
// thing without restating the rest, and a tap that cannot be read back can be told which
// settings are still missing.
class SettingsPatch
{
public:
    // Every setting, as the record holds it.
    static SettingsPatch fromSettings(const DeviceSettings &settings);

    void set(Setting setting, const SettingValue &value);
    const std::optional<SettingValue> &value(Setting setting) const;
    bool isEmpty() const;
    // The settings not given, in the order of settingSyntaxes().
    QList<Setting> missing() const;

    // The given settings of `over` take the place of this patch's.
    void overlay(const SettingsPatch &over);
    // `base` with the given settings put in; everything else, down to the bytes a filter does
    // not compare, the control byte and the status words, as `base` has it.
    DeviceSettings appliedTo(const DeviceSettings &base) const;

    bool operator==(const SettingsPatch &) const = default;

private:
    std::array<std::optional<SettingValue>, SettingCount> m_values;
};
