#include "FirmwareProgramming.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "FrameLayout.h"
#include "MV1Device_v3.h"
#include "MV1Device_v4.h"

namespace {

constexpr int BitsPerByte = 8;
constexpr int ByteValues = 1 << BitsPerByte;

constexpr std::array<uint8_t, ByteValues> makeMirrorTable()
{
    std::array<uint8_t, ByteValues> table{};
    for (int value = 0; value < ByteValues; ++value) {
        int mirrored = 0;
        for (int bit = 0; bit < BitsPerByte; ++bit) {
            if (value & (1 << bit))
                mirrored |= 1 << (BitsPerByte - 1 - bit);
        }
        table[value] = static_cast<uint8_t>(mirrored);
    }
    return table;
}

constexpr std::array<uint8_t, ByteValues> MirrorTable = makeMirrorTable();

static_assert(firmware::PageSize == frame::PageSize);

// The largest image each generation can place without dropping its tail.
constexpr int V4Capacity = firmware::V4PageCount * firmware::PageSize;
constexpr int V3Capacity = firmware::V3PageCount * firmware::PageSize;

// An image the run could not write whole (or could not read at all) must not be reported as
// programmed, since the tap would be left with a truncated firmware.
bool imageFits(const uint8_t *image, int length, int capacity)
{
    if (length > capacity)
        return false;
    return image != nullptr || length <= 0;
}

} // namespace

void reverseBits(uint8_t *dst, const uint8_t *src, int count)
{
    for (int i = 0; i < count; ++i)
        dst[i] = MirrorTable[src[i]];
}

int fillFirmwarePage(uint8_t *page, const uint8_t *image, int length, int pageIndex)
{
    // 64-bit so that no image length or page index can wrap the arithmetic.
    const long long offset = static_cast<long long>(pageIndex) * firmware::PageSize;
    const long long remaining = static_cast<long long>(length) - offset;
    const bool readable = image != nullptr && pageIndex >= 0;

    if (readable && remaining >= firmware::PageSize) {
        reverseBits(page, image + offset, firmware::PageSize);
    } else {
        std::memset(page, 0, firmware::PageSize);
        if (readable && remaining > 0)
            reverseBits(page, image + offset, static_cast<int>(remaining));
    }
    return static_cast<int>(std::clamp<long long>(remaining, std::numeric_limits<int>::min(),
                                                  std::numeric_limits<int>::max()));
}

bool MV1Device_v4::updateFirmware(const uint8_t *image, int length)
{
    if (!imageFits(image, length, V4Capacity))
        return false;
    if (!beginProgramming())
        return false;

    emit MV1UpdateProgress(0, firmware::V4PageCount);

    uint8_t page[firmware::PageSize];
    for (int index = 0; index < firmware::V4PageCount; ++index) {
        fillFirmwarePage(page, image, length, index);

        bool accepted = false;
        for (int attempt = 0; attempt < firmware::V4TriesPerPage && !accepted; ++attempt)
            accepted = programPage(index, page);
        // The tap stays in programming mode; the next update starts again with the begin.
        if (!accepted)
            return false;

        emit MV1UpdateProgress(index + 1, firmware::V4PageCount);
    }

    if (!endProgramming())
        return false;

    // The last step is reported again once the tap has acknowledged the end: seeing it twice
    // is what tells a listener the run succeeded rather than stopped after the last page.
    emit MV1UpdateProgress(firmware::V4PageCount, firmware::V4PageCount);
    return true;
}

bool MV1Device_v3::updateFirmware(const uint8_t *image, int length)
{
    if (!imageFits(image, length, V3Capacity))
        return false;

    // A frame that did not leave the host ends the run: the tap cannot tell us it missed
    // anything, so going on would only report a broken flash as programmed.
    emit MV1UpdateProgress(0, firmware::V3SectorCount);
    for (int sector = 0; sector < firmware::V3SectorCount; ++sector) {
        if (!eraseSector(sector * firmware::SectorSize))
            return false;
        emit MV1UpdateProgress(sector + 1, firmware::V3SectorCount);
    }

    emit MV1UpdateProgress(0, firmware::V3PageCount);
    uint8_t page[firmware::PageSize];
    for (int index = 0; index < firmware::V3PageCount; ++index) {
        const int remaining = fillFirmwarePage(page, image, length, index);
        const int address = index * firmware::PageSize;

        // Unacknowledged, so every page that carries image bytes goes out twice in a row;
        // the partial page and the zero pages once.
        const int sends = remaining >= firmware::PageSize ? 2 : 1;
        for (int send = 0; send < sends; ++send) {
            if (!writeFirmwarePage(address, page))
                return false;
        }
        emit MV1UpdateProgress(index + 1, firmware::V3PageCount);
    }
    return true;
}
