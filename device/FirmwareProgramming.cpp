#include "FirmwareProgramming.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "FrameLayout.h"

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

}  // namespace

bool firmwareFits(const uint8_t *image, int length, int pages)
{
    if (length > pages * firmware::PageSize)
        return false;
    return image != nullptr || length <= 0;
}

DeviceFailure firmwareTooLarge(int length, int pages)
{
    DeviceFailure failure;
    failure.step = DeviceFailure::Step::Image;
    failure.cause = DeviceFailure::Cause::TooLarge;
    failure.count = length;
    failure.wanted = pages * firmware::PageSize;
    return failure;
}

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
