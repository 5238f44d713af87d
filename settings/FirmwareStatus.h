#pragma once

#include <cstdint>

#include "DeviceSettings.h"

// What the tap's two status words say about its firmware. A firmware that reports its type
// (0x220C) and a non-zero version word is one the tool recognises; the version word keeps the
// major number in its low byte, so 0x0004 is release 4.0, the one this program carries.
namespace firmwarestatus {

constexpr uint16_t RecognisedType = 0x220C;
constexpr uint16_t CurrentVersion = 0x0004;
constexpr int BitsPerByte = 8;
constexpr uint16_t ByteMask = 0xFF;

inline bool recognised(const DeviceSettings &settings)
{
    return settings.firmwareVersion() != 0 && settings.firmwareTypeCode() == RecognisedType;
}

inline bool current(const DeviceSettings &settings)
{
    return recognised(settings) && settings.firmwareVersion() == CurrentVersion;
}

inline int major(uint16_t version)
{
    return version & ByteMask;
}
inline int minor(uint16_t version)
{
    return version >> BitsPerByte;
}

}  // namespace firmwarestatus
