#pragma once

#include <cstdint>
#include <memory>

#include <pcap/pcap.h>

#include "HardwareAddress.h"  // isTapAddress

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

// Whether any network interface carries the tap's prefix, from the kernel's own interface
// index: a fraction of the cost of the capture library's listing, which also looks for its
// pseudo-devices. For a look every second while nothing changes.
bool anyTapInterface();
