#pragma once

#include <cstdint>
#include <memory>

#include <pcap/pcap.h>

// The host's capture interfaces as libpcap lists them. Owns the list; release with
// releaseInterfaces (or let the unique_ptr returned by listInterfaces do it).
struct InterfaceList
{
    pcap_if_t *head = nullptr;  // may be null: a host with no capture interfaces
};

struct InterfaceListDeleter
{
    void operator()(InterfaceList *list) const;
};
using InterfaceListPtr = std::unique_ptr<InterfaceList, InterfaceListDeleter>;

// Null (after logging "Error in pcap_findalldevs: <reason>") when the list cannot be had.
InterfaceListPtr listInterfaces();
void releaseInterfaces(InterfaceList *list);

// The tap's vendor prefix.
constexpr uint8_t TapAddressPrefix[3] = {0x00, 0x0E, 0xC6};
bool isTapAddress(const uint8_t *hardwareAddress);

// Whether any network interface carries the tap's prefix, from the kernel's own interface
// index: a fraction of the cost of the capture library's listing, which also looks for its
// pseudo-devices. For a look every second while nothing changes.
bool anyTapInterface();
