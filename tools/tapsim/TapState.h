#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "FrameLayout.h"
#include "SettingsRegisterMap.h"

namespace tapsim {

constexpr int SectorSize = 0x10000;
constexpr int AddressSpace = frame::AddressMask + 1;  // 16 MiB of flash behind 24-bit addresses
constexpr uint8_t ErasedByte = 0xFF;
constexpr int ProgramPageCount = 768;  // three 64 KiB sectors of 256-byte pages
constexpr int ProgramAreaLength = ProgramPageCount * frame::PageSize;
constexpr int ProgramAreaSectors = ProgramAreaLength / SectorSize;

// What the status registers 0x70300..0x70303 report.
struct FirmwareStatus
{
    uint8_t major = 4;  // 0x70300, the low byte of the version word
    uint8_t minor = 0;  // 0x70301
    uint16_t typeCode = firmwarestatus::RecognisedType;  // 0x70302 low byte, 0x70303 high byte
};

// NOR flash behind the 24-bit address space. Sectors are allocated on first write; a sector
// never written reads as erased.
class FlashMemory
{
public:
    uint8_t read(int address) const;
    void write(int address, uint8_t value);
    void eraseSector(int address);  // the whole sector that holds the address
    std::vector<uint8_t> copy(int address, int length) const;

private:
    using Sector = std::array<uint8_t, SectorSize>;
    Sector &sectorFor(int address);
    std::map<int, std::unique_ptr<Sector>> m_sectors;
};

// Everything the tap remembers: its flash (the programmed firmware area and the stored copy of
// the settings sector), the working copy of the settings sector, the status registers and
// whether a generation-4 programming run is open.
//
// Register commands reach only the settings sector at 0x70000; anywhere else a write is
// dropped and a read gives an erased byte. The status registers overlay the sector in both
// copies: they always read as the firmware status, and writes to them are dropped.
class TapState
{
public:
    explicit TapState(const FirmwareStatus &status = {});

    static bool inSettingsSector(int address);
    static bool isStatusRegister(int address);

    uint8_t readRegister(int address, bool stored) const;
    void writeRegister(int address, uint8_t value, bool stored);
    // Copies the working sector into the stored one. Registers written to the stored copy since
    // the previous commit keep what was written, so a persistent write is never undone by a
    // commit that follows it.
    void commit();
    void eraseSector(int address);

    // Generation-4 programming: begin erases the programmed area, pages land at index * 256.
    void beginProgramming();
    bool isProgramming() const { return m_programming; }
    // Stores a page already in flash byte order; false for an index outside the area.
    bool programPage(int index, const uint8_t *page);
    void endProgramming();

    // Generation-3 page write: bytes already in flash byte order, clipped to the address space.
    void writeFlash(int address, const uint8_t *bytes, int count);

    FirmwareStatus status() const { return m_status; }
    void setStatus(const FirmwareStatus &status) { m_status = status; }

    // Whether anything has erased or written the programmed area since the tap started: until
    // then a restart starts the firmware the tap came with, which the model does not hold.
    bool firmwareWritten() const { return m_firmwareWritten; }

    // The programmed area, 196,608 bytes from address 0, in flash byte order.
    std::vector<uint8_t> programmedArea() const;
    // The 64 KiB settings sector as register reads would see it (status registers included).
    std::vector<uint8_t> settingsSector(bool stored) const;

private:
    std::optional<uint8_t> statusRegister(int address) const;

    FirmwareStatus m_status;
    FlashMemory m_flash;  // the stored settings live in it at 0x70000
    std::vector<uint8_t> m_working;
    std::bitset<SectorSize> m_storedSinceCommit;
    bool m_programming = false;
    bool m_firmwareWritten = false;
};

}  // namespace tapsim
