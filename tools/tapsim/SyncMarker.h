#pragma once

#include <cstdint>
#include <cstring>

// The frame a test bed sends on the host end to learn that the simulated tap has taken in
// everything sent before it. It goes to the all-zero MAC address like a command, so it queues
// behind earlier commands, but its non-zero source address keeps it from being taken for one.
// The tap does not record it; it answers on its standard output with "sync <nonce>".
namespace syncmarker {

constexpr uint8_t Source[6] = {0x02, 0x4B, 0x56, 0x53, 0x59, 0x4E};
constexpr int SourceOffset = 6;
constexpr int EtherTypeOffset = 12;
constexpr uint8_t EtherType[2] = {0x88, 0xB5};  // IEEE local experimental
constexpr int MagicOffset = 14;
constexpr char Magic[6] = {'K', 'V', 'S', 'Y', 'N', 'C'};
constexpr int NonceOffset = 20;  // 4 bytes, big-endian
constexpr int FlagsOffset = 24;
constexpr uint8_t SaveState = 0x01;  // write the state files before answering
constexpr int Length = 60;

inline void build(uint8_t *out, uint32_t nonce, uint8_t flags)
{
    std::memset(out, 0, Length);
    std::memcpy(out + SourceOffset, Source, sizeof Source);
    std::memcpy(out + EtherTypeOffset, EtherType, sizeof EtherType);
    std::memcpy(out + MagicOffset, Magic, sizeof Magic);
    for (int i = 0; i < 4; ++i)
        out[NonceOffset + i] = static_cast<uint8_t>(nonce >> (24 - 8 * i));
    out[FlagsOffset] = flags;
}

inline bool parse(const uint8_t *bytes, int length, uint32_t *nonce, uint8_t *flags)
{
    if (length < FlagsOffset + 1 || std::memcmp(bytes + SourceOffset, Source, sizeof Source) != 0
        || std::memcmp(bytes + EtherTypeOffset, EtherType, sizeof EtherType) != 0
        || std::memcmp(bytes + MagicOffset, Magic, sizeof Magic) != 0)
        return false;
    uint32_t n = 0;
    for (int i = 0; i < 4; ++i)
        n = (n << 8) | bytes[NonceOffset + i];
    *nonce = n;
    *flags = bytes[FlagsOffset];
    return true;
}

}  // namespace syncmarker
