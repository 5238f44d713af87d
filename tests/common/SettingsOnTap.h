#pragma once

#include <QByteArray>

#include <array>

#include "DeviceSettings.h"
#include "SettingsRegisterMap.h"

// Settings unlike a fresh tap's, so that a write that did not arrive shows.
inline DeviceSettings someSettings()
{
    DeviceSettings s;
    s.setFilterMode(1, 0);
    s.setControlByte(0x0A);
    s.setSrcIpMask(0x0F);
    const uint8_t ip[4] = {192, 0, 2, 7};
    s.setSrcIp(ip);
    return s;
}

// The record a settings read must return: what the tap holds, as its state shows it.
inline DeviceSettings held(const QByteArray &sector)
{
    std::array<uint8_t, V4ReadRegisterCount> values{};
    const auto &addresses = reg::V4ReadAddresses;
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = static_cast<uint8_t>(sector.at(addresses[i] - reg::SettingsSector));
    DeviceSettings s;
    v4SettingsFromRegisters(values, s);
    return s;
}
