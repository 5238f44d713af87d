#include "SettingsRegisterMap.h"

#include <algorithm>

#include "DeviceSettings.h"

namespace {

// The 24-bit care-mask word: one bit per match byte, the byte at the lowest register
// owning the highest bit, bit 23 always clear. Each mask's width and its lowest bit:
struct MaskField
{
    int width;
    int shift;
};
constexpr MaskField DstMacField{6, 17};
constexpr MaskField SrcMacField{6, 11};
constexpr MaskField EtherTypeField{2, 9};
constexpr MaskField ProtocolField{1, 8};
constexpr MaskField SrcIpField{4, 4};
constexpr MaskField DstIpField{4, 0};

constexpr uint32_t widthMask(const MaskField &f)
{
    return (1u << f.width) - 1u;
}

// Bits beyond a mask's width would spill into its neighbour's bits; they are dropped.
uint32_t place(uint8_t mask, const MaskField &f)
{
    return (mask & widthMask(f)) << f.shift;
}
uint8_t take(uint32_t word, const MaskField &f)
{
    return static_cast<uint8_t>((word >> f.shift) & widthMask(f));
}

constexpr int BitsPerByte = 8;
constexpr uint32_t ByteMask = 0xFF;

// Offsets of the fields within the run of match bytes, in register order.
constexpr int DstMacAt = 0;
constexpr int SrcMacAt = DstMacAt + DeviceSettings::MacLength;
constexpr int EtherTypeAt = SrcMacAt + DeviceSettings::MacLength;
constexpr int ProtocolAt = EtherTypeAt + DeviceSettings::EtherTypeLength;
constexpr int SrcIpAt = ProtocolAt + 1;
constexpr int DstIpAt = SrcIpAt + DeviceSettings::IpLength;
static_assert(DstIpAt + DeviceSettings::IpLength == reg::MatchBytesLength);

uint8_t bitIf(uint8_t value, uint8_t bit)
{
    return value != 0 ? bit : 0;
}
uint8_t isSet(uint8_t flags, uint8_t bit)
{
    return (flags & bit) != 0 ? 1 : 0;
}

}  // namespace

void packCareMasks(const DeviceSettings &settings, uint8_t out[reg::CareMaskLength])
{
    uint8_t dstMac = 0, srcMac = 0, etherType = 0, protocol = 0, srcIp = 0, dstIp = 0;
    settings.dstMacMask(&dstMac);
    settings.srcMacMask(&srcMac);
    settings.etherTypeMask(&etherType);
    settings.protocolMask(&protocol);
    settings.srcIpMask(&srcIp);
    settings.dstIpMask(&dstIp);

    const uint32_t word = place(dstMac, DstMacField) | place(srcMac, SrcMacField)
        | place(etherType, EtherTypeField) | place(protocol, ProtocolField)
        | place(srcIp, SrcIpField) | place(dstIp, DstIpField);
    for (int i = 0; i < reg::CareMaskLength; ++i) {
        const int shift = (reg::CareMaskLength - 1 - i) * BitsPerByte;
        out[i] = static_cast<uint8_t>((word >> shift) & ByteMask);
    }
}

void unpackCareMasks(const uint8_t in[reg::CareMaskLength], DeviceSettings &settings)
{
    uint32_t word = 0;
    for (int i = 0; i < reg::CareMaskLength; ++i)
        word = (word << BitsPerByte) | in[i];

    settings.setDstMacMask(take(word, DstMacField));
    settings.setSrcMacMask(take(word, SrcMacField));
    settings.setEtherTypeMask(take(word, EtherTypeField));
    settings.setProtocolMask(take(word, ProtocolField));
    settings.setSrcIpMask(take(word, SrcIpField));
    settings.setDstIpMask(take(word, DstIpField));
}

void matchBytes(const DeviceSettings &settings, uint8_t out[reg::MatchBytesLength])
{
    settings.dstMac(out + DstMacAt);
    settings.srcMac(out + SrcMacAt);
    settings.etherType(out + EtherTypeAt);
    settings.protocol(out + ProtocolAt);
    settings.srcIp(out + SrcIpAt);
    settings.dstIp(out + DstIpAt);
}

void setMatchBytes(const uint8_t in[reg::MatchBytesLength], DeviceSettings &settings)
{
    settings.setDstMac(in + DstMacAt);
    settings.setSrcMac(in + SrcMacAt);
    settings.setEtherType(in + EtherTypeAt);
    settings.setProtocol(in[ProtocolAt]);
    settings.setSrcIp(in + SrcIpAt);
    settings.setDstIp(in + DstIpAt);
}

uint8_t packFlags(const DeviceSettings &settings)
{
    return bitIf(settings.filterEnabled(), flagbit::FilterEnabled)
        | bitIf(settings.keepMatching(), flagbit::KeepMatching)
        | bitIf(settings.timestampsEnabled(), flagbit::Timestamps)
        | bitIf(settings.captureCrcErrorFrames(), flagbit::CaptureCrcErrorFrames)
        | bitIf(settings.captureFcs(), flagbit::CaptureFcs);
}

void unpackFlags(uint8_t flags, DeviceSettings &settings)
{
    settings.setFilterMode(isSet(flags, flagbit::FilterEnabled),
                           isSet(flags, flagbit::KeepMatching));
    settings.setTimestampsEnabled(isSet(flags, flagbit::Timestamps));
    settings.setCaptureCrcErrorFrames(isSet(flags, flagbit::CaptureCrcErrorFrames));
    settings.setCaptureFcs(isSet(flags, flagbit::CaptureFcs));
}

std::array<RegisterWrite, FilterRegisterCount> filterRegisters(const DeviceSettings &settings)
{
    std::array<uint8_t, FilterRegisterCount> values{};
    packCareMasks(settings, values.data());
    matchBytes(settings, values.data() + reg::CareMaskLength);
    std::array<RegisterWrite, FilterRegisterCount> writes{};
    for (int i = 0; i < FilterRegisterCount; ++i)
        writes[i] = {reg::FilterAddresses[i], values[i]};
    return writes;
}

std::array<RegisterWrite, V4SettingsRegisterCount>
v4SettingsRegisters(const DeviceSettings &settings)
{
    std::array<RegisterWrite, V4SettingsRegisterCount> writes{};
    uint8_t control = 0;
    settings.controlByte(&control);
    writes[0] = {reg::V4SettingsAddresses[0], packFlags(settings)};
    writes[1] = {reg::V4SettingsAddresses[1], control};
    const auto filter = filterRegisters(settings);
    std::copy(filter.begin(), filter.end(), writes.begin() + 2);
    return writes;
}

uint8_t v4ReadBackMask(int address)
{
    if (address == reg::Flags)
        return flagbit::All;
    return address == reg::Control ? ControlByteReadMask : static_cast<uint8_t>(ByteMask);
}

void v4SettingsFromRegisters(const std::array<uint8_t, V4ReadRegisterCount> &values,
                             DeviceSettings &settings)
{
    settings.clear();
    unpackFlags(values[0], settings);
    settings.setControlByte(values[1] & ControlByteReadMask);
    unpackCareMasks(values.data() + 2, settings);
    setMatchBytes(values.data() + 2 + reg::CareMaskLength, settings);
    const int status = V4SettingsRegisterCount;
    settings.setFirmwareVersion(
        static_cast<uint16_t>(values[status] | (values[status + 1] << BitsPerByte)));
    settings.setFirmwareTypeCode(
        static_cast<uint16_t>(values[status + 2] | (values[status + 3] << BitsPerByte)));
}
