#pragma once

#include <array>
#include <cstdint>

#include "FirmwareStatus.h"

class DeviceSettings;

// Where the tap keeps its settings: single-byte registers in the 64 KiB sector at 0x70000.
namespace reg {
constexpr int SettingsSector = 0x70000;
constexpr int Flags = 0x70000;  // generation 4: filter, keep, timestamps, CRC, FCS bits
constexpr int Control = 0x70001;  // generation 4: control byte; also the generation probe
constexpr int V3DropCrc = 0x70002;  // generation 3: whole-byte flags
constexpr int V3StripFcs = 0x70003;
constexpr int V3NoTimestamps = 0x70004;
constexpr int V3FilterMode = 0x70005;
constexpr int CareMask = 0x70007;  // 3 registers: the 24-bit care-mask word
constexpr int CareMaskLength = 3;
constexpr int MatchBytes = 0x70200;  // 23 registers: dstMac srcMac etherType protocol srcIp dstIp
constexpr int MatchBytesLength = 23;
constexpr int FirmwareVersion = 0x70300;  // low byte, then high byte
constexpr int FirmwareTypeCode = 0x70302;  // low byte, then high byte
}  // namespace reg

// Bits of the generation-4 flags register.
namespace flagbit {
constexpr uint8_t FilterEnabled = 0x01;
constexpr uint8_t KeepMatching = 0x02;
constexpr uint8_t Timestamps = 0x04;
constexpr uint8_t CaptureCrcErrorFrames = 0x08;
constexpr uint8_t CaptureFcs = 0x10;
constexpr uint8_t All =
    FilterEnabled | KeepMatching | Timestamps | CaptureCrcErrorFrames | CaptureFcs;
}  // namespace flagbit

constexpr uint8_t ControlByteReadMask = 0x1F;

// One settings register and the value a settings write puts there.
struct RegisterWrite
{
    int address;
    uint8_t value;
};

// The care-mask registers and then the 23 match bytes, as both generations write them.
constexpr int FilterRegisterCount = reg::CareMaskLength + reg::MatchBytesLength;
std::array<RegisterWrite, FilterRegisterCount> filterRegisters(const DeviceSettings &settings);

// Generation 4: flags, control byte, then the filter registers, in the order they are written.
constexpr int V4SettingsRegisterCount = 2 + FilterRegisterCount;
std::array<RegisterWrite, V4SettingsRegisterCount>
v4SettingsRegisters(const DeviceSettings &settings);
// The bits of a generation-4 settings register that read back as written: the flags and the
// control byte keep only their low five bits.
uint8_t v4ReadBackMask(int address);

// A generation-4 settings read: the written registers in the same order, then the two status
// words, low byte first. settingsFromRegisters() takes the values in that order.
constexpr int V4ReadRegisterCount = V4SettingsRegisterCount + 4;
std::array<int, V4ReadRegisterCount> v4ReadAddresses();
void v4SettingsFromRegisters(const std::array<uint8_t, V4ReadRegisterCount> &values,
                             DeviceSettings &settings);

// Shared by both generations: the six care masks packed into three register bytes
// (0x70007 most significant), and the 23 match bytes in register order.
void packCareMasks(const DeviceSettings &settings, uint8_t out[reg::CareMaskLength]);
void unpackCareMasks(const uint8_t in[reg::CareMaskLength], DeviceSettings &settings);
void matchBytes(const DeviceSettings &settings, uint8_t out[reg::MatchBytesLength]);
void setMatchBytes(const uint8_t in[reg::MatchBytesLength], DeviceSettings &settings);

// Generation 4: the five flags in one register byte, and back (bits 7 to 5 are ignored).
uint8_t packFlags(const DeviceSettings &settings);
void unpackFlags(uint8_t flags, DeviceSettings &settings);
