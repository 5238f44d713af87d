#include "MV1Device_v3.h"

#include <array>
#include <cstring>

#include "FrameLayout.h"
#include "SettingsRegisterMap.h"

namespace {

// Generation 3 keeps its flags as whole bytes or nibbles of all ones or all zeros.
constexpr uint8_t AllOnes = 0xFF;
constexpr uint8_t AllZeros = 0x00;
constexpr uint8_t KeepMatchingNibble = 0xF0;
constexpr uint8_t FilterOffNibble = 0x0F;

constexpr int FlagRegisterCount = 4;  // 0x70002..0x70005
constexpr int SettingsRegisterCount =
    FlagRegisterCount + reg::CareMaskLength + reg::MatchBytesLength;

struct RegisterWrite
{
    int address;
    uint8_t value;
};

uint8_t allOnesWhenOff(uint8_t flag)
{
    return flag == 0 ? AllOnes : AllZeros;
}

// The 30 register writes of a settings write, in the order they go to the tap.
std::array<RegisterWrite, SettingsRegisterCount> settingsRegisters(const DeviceSettings &settings)
{
    std::array<RegisterWrite, SettingsRegisterCount> writes{};
    int n = 0;

    writes[n++] = {reg::V3DropCrc, allOnesWhenOff(settings.captureCrcErrorFrames())};
    writes[n++] = {reg::V3StripFcs, allOnesWhenOff(settings.captureFcs())};
    writes[n++] = {reg::V3NoTimestamps, allOnesWhenOff(settings.timestampsEnabled())};
    const uint8_t filterMode =
        static_cast<uint8_t>((settings.keepMatching() != 0 ? KeepMatchingNibble : 0)
                             | (settings.filterEnabled() == 0 ? FilterOffNibble : 0));
    writes[n++] = {reg::V3FilterMode, filterMode};

    uint8_t masks[reg::CareMaskLength];
    packCareMasks(settings, masks);
    for (int i = 0; i < reg::CareMaskLength; ++i)
        writes[n++] = {reg::CareMask + i, masks[i]};

    uint8_t match[reg::MatchBytesLength];
    matchBytes(settings, match);
    for (int i = 0; i < reg::MatchBytesLength; ++i)
        writes[n++] = {reg::MatchBytes + i, match[i]};

    return writes;
}

} // namespace

MV1Device_v3::MV1Device_v3(const char *interfaceName)
    : MV1Device(interfaceName)
{
    m_generation = 3;
}

bool MV1Device_v3::sendFrame(const uint8_t *frameBytes, int length)
{
    PacketSession *s = session();
    if (s == nullptr)
        return false;
    if (!s->open()) {
        s->close();
        return false;
    }
    const int sent = s->send(frameBytes, length);
    s->close();
    return sent == length;
}

bool MV1Device_v3::writeRegister(int address, uint8_t value, bool persistent)
{
    uint8_t request[frame::RequestLength] = {};
    request[frame::OpcodeOffset] =
        persistent ? opcode::WriteRegisterPersistent : opcode::WriteRegister;
    frame::putAddress(request, address);
    request[frame::ValueOffset] = value;

    // Nothing comes back, so there is nothing to wait for after a frame that never left.
    if (!sendFrame(request, frame::RequestLength))
        return false;
    msleep(RegisterWriteWaitMs);
    return true;
}

bool MV1Device_v3::eraseSettings()
{
    return eraseSector(reg::SettingsSector);
}

bool MV1Device_v3::eraseSector(int address)
{
    uint8_t request[frame::PageFrameLength] = {};
    request[frame::OpcodeOffset] = opcode::V3EraseSector;
    frame::putAddress(request, address);

    if (!sendFrame(request, frame::PageFrameLength))
        return false;
    msleep(SectorEraseWaitMs);
    return true;
}

bool MV1Device_v3::readRegister(int, uint8_t *value, bool)
{
    // The tap cannot answer; every register reads as 0.
    if (value != nullptr)
        *value = 0;
    return true;
}

bool MV1Device_v3::writeSettings(const DeviceSettings &settings, bool persistent)
{
    // The stored copy lives in flash that must be erased before it is written again; writing
    // over an erase that never left the host would corrupt it, so stop before any register.
    if (persistent && !eraseSettings())
        return false;

    for (const RegisterWrite &write : settingsRegisters(settings)) {
        if (!writeRegister(write.address, write.value, persistent))
            return false;
    }
    return true;
}

bool MV1Device_v3::readSettings(DeviceSettings &settings, bool)
{
    settings.clear();
    return false;
}

bool MV1Device_v3::commitSettings()
{
    return true;
}

bool MV1Device_v3::writeFirmwarePage(int address, const uint8_t *page)
{
    if (page == nullptr)
        return false;

    uint8_t request[frame::PageFrameLength] = {};
    request[frame::OpcodeOffset] = opcode::V3WritePage;
    frame::putAddress(request, address);
    std::memcpy(request + frame::PageDataOffset, page, frame::PageSize);

    if (!sendFrame(request, frame::PageFrameLength))
        return false;
    msleep(PageWriteWaitMs);
    return true;
}
