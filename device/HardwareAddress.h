#pragma once

#include <cstdint>

constexpr int HardwareAddressLength = 6;

// Reads the hardware address of a network interface from the kernel (SIOCGIFHWADDR on a
// fresh AF_INET datagram socket). On failure returns false and leaves `out` untouched.
bool readHardwareAddress(const char *interfaceName, uint8_t *out);
