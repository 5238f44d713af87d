#pragma once

#include <array>
#include <cstddef>
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

constexpr int FilterRegisterCount = reg::CareMaskLength + reg::MatchBytesLength;
constexpr int V4SettingsRegisterCount = 2 + FilterRegisterCount;
constexpr int V4ReadRegisterCount = V4SettingsRegisterCount + 4;
constexpr int V3FlagRegisterCount = 4;
constexpr int V3SettingsRegisterCount = V3FlagRegisterCount + FilterRegisterCount;

namespace reg {

template <std::size_t N> using Addresses = std::array<int, N>;

template <std::size_t N> constexpr Addresses<N> run(int first)
{
    Addresses<N> addresses{};
    for (std::size_t i = 0; i < N; ++i)
        addresses[i] = first + static_cast<int>(i);
    return addresses;
}

template <std::size_t A, std::size_t B>
constexpr Addresses<A + B> join(const Addresses<A> &a, const Addresses<B> &b)
{
    Addresses<A + B> joined{};
    for (std::size_t i = 0; i < A; ++i)
        joined[i] = a[i];
    for (std::size_t i = 0; i < B; ++i)
        joined[A + i] = b[i];
    return joined;
}

// The settings registers, in the order they are written and read.
// Both generations: the care-mask registers, then the 23 match bytes.
constexpr Addresses<FilterRegisterCount> FilterAddresses =
    join(run<CareMaskLength>(CareMask), run<MatchBytesLength>(MatchBytes));
// Generation 4: the flags and the control byte first.
constexpr Addresses<V4SettingsRegisterCount> V4SettingsAddresses =
    join(Addresses<2>{Flags, Control}, FilterAddresses);
// A generation-4 settings read: the written registers, then the two status words, low byte
// first.
constexpr Addresses<V4ReadRegisterCount> V4ReadAddresses = join(
    V4SettingsAddresses,
    Addresses<4>{FirmwareVersion, FirmwareVersion + 1, FirmwareTypeCode, FirmwareTypeCode + 1});
// Generation 3: its four whole-byte flags first.
constexpr Addresses<V3SettingsRegisterCount> V3SettingsAddresses =
    join(run<V3FlagRegisterCount>(V3DropCrc), FilterAddresses);

}  // namespace reg

// The values a settings write puts into the registers of FilterAddresses, and of
// V4SettingsAddresses, paired with their addresses.
std::array<RegisterWrite, FilterRegisterCount> filterRegisters(const DeviceSettings &settings);
std::array<RegisterWrite, V4SettingsRegisterCount>
v4SettingsRegisters(const DeviceSettings &settings);
// The bits of a generation-4 settings register that read back as written: the flags and the
// control byte keep only their low five bits.
uint8_t v4ReadBackMask(int address);

// The record a generation-4 settings read gives: `values` are the registers of V4ReadAddresses.
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
