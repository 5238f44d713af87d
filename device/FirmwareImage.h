#pragma once

#include <cstdint>

// The tap firmware carried inside the program, in flash byte order before bit mirroring.
extern const uint8_t firmwareImage[];
extern const int firmwareImageLength;  // 165070
// True when the build carries the generated stand-in rather than the maker's image.
// Flashing the stand-in into a real tap would leave it unusable.
extern const bool firmwareImageIsStandIn;
