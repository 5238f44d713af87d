#include "TapState.h"

#include <algorithm>
#include <optional>

namespace tapsim {

namespace {
int sectorBase(int address)
{
    return address & ~(SectorSize - 1);
}
int sectorOffset(int address)
{
    return address & (SectorSize - 1);
}
constexpr int StatusRegisterCount = 4;
}  // namespace

uint8_t FlashMemory::read(int address) const
{
    const auto it = m_sectors.find(sectorBase(address & frame::AddressMask));
    return it == m_sectors.end() ? ErasedByte : (*it->second)[sectorOffset(address)];
}

void FlashMemory::write(int address, uint8_t value)
{
    sectorFor(address & frame::AddressMask)[sectorOffset(address)] = value;
}

void FlashMemory::eraseSector(int address)
{
    m_sectors.erase(sectorBase(address & frame::AddressMask));
}

std::vector<uint8_t> FlashMemory::copy(int address, int length) const
{
    std::vector<uint8_t> out(static_cast<size_t>(length));
    for (int i = 0; i < length; ++i)
        out[static_cast<size_t>(i)] = read(address + i);
    return out;
}

FlashMemory::Sector &FlashMemory::sectorFor(int address)
{
    auto &slot = m_sectors[sectorBase(address)];
    if (!slot) {
        slot = std::make_unique<Sector>();
        slot->fill(ErasedByte);
    }
    return *slot;
}

TapState::TapState(const FirmwareStatus &status)
    : m_status(status)
    , m_working(SectorSize, ErasedByte)
{
}

bool TapState::inSettingsSector(int address)
{
    return sectorBase(address) == reg::SettingsSector;
}

bool TapState::isStatusRegister(int address)
{
    return address >= reg::FirmwareVersion && address < reg::FirmwareVersion + StatusRegisterCount;
}

std::optional<uint8_t> TapState::statusRegister(int address) const
{
    switch (address - reg::FirmwareVersion) {
    case 0: return m_status.major;
    case 1: return m_status.minor;
    case 2: return static_cast<uint8_t>(m_status.typeCode & 0xFF);
    case 3: return static_cast<uint8_t>(m_status.typeCode >> 8);
    default: return std::nullopt;
    }
}

uint8_t TapState::readRegister(int address, bool stored) const
{
    if (!inSettingsSector(address))
        return ErasedByte;
    if (const auto status = statusRegister(address))
        return *status;
    return stored ? m_flash.read(address) : m_working[static_cast<size_t>(sectorOffset(address))];
}

void TapState::writeRegister(int address, uint8_t value, bool stored)
{
    if (!inSettingsSector(address) || isStatusRegister(address))
        return;
    if (stored) {
        m_flash.write(address, value);
        m_storedSinceCommit.set(static_cast<size_t>(sectorOffset(address)));
    } else {
        m_working[static_cast<size_t>(sectorOffset(address))] = value;
    }
}

void TapState::commit()
{
    for (int offset = 0; offset < SectorSize; ++offset) {
        if (!m_storedSinceCommit.test(static_cast<size_t>(offset)))
            m_flash.write(reg::SettingsSector + offset, m_working[static_cast<size_t>(offset)]);
    }
    m_storedSinceCommit.reset();
}

void TapState::eraseSector(int address)
{
    m_flash.eraseSector(address);
    if ((address & frame::AddressMask) < ProgramAreaLength)
        m_firmwareWritten = true;
    if (inSettingsSector(address & frame::AddressMask))
        m_storedSinceCommit.reset();
}

void TapState::beginProgramming()
{
    for (int s = 0; s < ProgramAreaSectors; ++s)
        m_flash.eraseSector(s * SectorSize);
    m_programming = true;
    m_firmwareWritten = true;
}

bool TapState::programPage(int index, const uint8_t *page)
{
    if (index < 0 || index >= ProgramPageCount)
        return false;
    writeFlash(index * frame::PageSize, page, frame::PageSize);
    return true;
}

void TapState::endProgramming()
{
    m_programming = false;
}

void TapState::writeFlash(int address, const uint8_t *bytes, int count)
{
    const int end = std::min(address + count, AddressSpace);
    if (address < ProgramAreaLength && end > address)
        m_firmwareWritten = true;
    for (int a = address; a < end; ++a) {
        m_flash.write(a, bytes[a - address]);
        if (inSettingsSector(a))
            m_storedSinceCommit.set(static_cast<size_t>(sectorOffset(a)));
    }
}

std::vector<uint8_t> TapState::programmedArea() const
{
    return m_flash.copy(0, ProgramAreaLength);
}

std::vector<uint8_t> TapState::settingsSector(bool stored) const
{
    std::vector<uint8_t> out(SectorSize);
    for (int offset = 0; offset < SectorSize; ++offset)
        out[static_cast<size_t>(offset)] = readRegister(reg::SettingsSector + offset, stored);
    return out;
}

}  // namespace tapsim
