#pragma once

#include <cstdint>

#include "DeviceFailure.h"

namespace firmware {
constexpr int PageSize = 256;
constexpr int V4PageCount = 768;  // three 64 KiB sectors
constexpr int V3PageCount = 767;  // the last page of the erased area is not written
constexpr int V3SectorCount = 3;
constexpr int SectorSize = 0x10000;
constexpr int V4TriesPerPage = 20;
}  // namespace firmware

// Mirrors the bit order of each byte: bit k of src[i] becomes bit 7-k of dst[i].
void reverseBits(uint8_t *dst, const uint8_t *src, int count);

// Fills `page` (PageSize bytes) with page `pageIndex` of the image, bit-mirrored, zero-padded
// after the image's end. Never reads past image + length. Returns the image bytes remaining
// from this page's start (negative past the end), so callers can tell full pages.
int fillFirmwarePage(uint8_t *page, const uint8_t *image, int length, int pageIndex);

// Whether the image can be written whole into `pages` pages (and can be read at all). An image
// that does not fit would lose its tail without a word and leave the tap half programmed.
bool firmwareFits(const uint8_t *image, int length, int pages);
DeviceFailure firmwareTooLarge(int length, int pages);
