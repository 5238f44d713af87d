#pragma once

#include <QObject>

#include <optional>

#include "DeviceSettings.h"

class FilterFields;
class MainWindowForm;

// The capture settings as the form shows them, bound to the settings record: the filter's
// switch, mode and byte fields, timestamps, CRC-error frames and FCS. It remembers what the tap
// held when the form was filled, marks every field that differs from it, and keeps a form
// opened from a file for the tap that comes next.
class SettingsForm : public QObject
{
    Q_OBJECT

public:
    SettingsForm(const MainWindowForm &ui, QObject *parent);

    // The form as a settings record: empty fields are wildcards, controlByte is 255 and
    // the two status words are left as the caller cleared them.
    void settingsFromForm(DeviceSettings &settings) const;
    DeviceSettings settings() const;

    // Shows what the tap holds, as what the marks compare with.
    void fill(const DeviceSettings &held);
    // Shows settings from a file; they stay in the form when a tap is found next.
    void showFromFile(const DeviceSettings &settings);
    // A tap was found: its settings fill the form, unless a file's were prepared for it.
    void tapFound(const DeviceSettings &held);

    // Whether a field or switch differs from what the tap held when the form was filled.
    bool edited() const;
    void markEdits();
    // Everything is off without a tap; the filter's fields also while the filter is.
    void setTapPresent(bool present);
    void nameForAccessibility();

signals:
    // The user or the program changed what the form shows.
    void changed();

private:
    void show(const DeviceSettings &settings);
    void enable();

    const MainWindowForm &m_ui;
    FilterFields *m_fields;
    std::optional<DeviceSettings> m_formSource;  // what the tap held when the form was filled
    bool m_formFromFile = false;  // opened from a file, not yet given to a tap
    bool m_tapPresent = false;
};
