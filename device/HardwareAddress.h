#pragma once

#include <cstdint>

constexpr int HardwareAddressLength = 6;

// The tap's vendor prefix.
constexpr uint8_t TapAddressPrefix[3] = {0x00, 0x0E, 0xC6};
bool isTapAddress(const uint8_t *hardwareAddress);

// What the kernel tells of a network interface by its name, each asked on a fresh AF_INET
// datagram socket: no privilege is needed, so a program that captures through a helper can ask
// too.

// Reads the hardware address (SIOCGIFHWADDR). On failure returns false and leaves `out`
// untouched.
bool readHardwareAddress(const char *interfaceName, uint8_t *out);

// The interface's MTU (SIOCGIFMTU); 0 when it cannot be told.
int readInterfaceMtu(const char *interfaceName);

enum class InterfaceState { Gone, Down, Up };
// Whether an interface of this name is there and up (SIOCGIFFLAGS); Gone also when it cannot be
// told.
InterfaceState readInterfaceState(const char *interfaceName);
