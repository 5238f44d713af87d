#include "InterfaceDiscovery.h"

#include <cstdio>
#include <cstring>

void InterfaceListDeleter::operator()(InterfaceList *list) const
{
    releaseInterfaces(list);
}

InterfaceListPtr listInterfaces()
{
    InterfaceListPtr list(new InterfaceList);
    char errorText[PCAP_ERRBUF_SIZE] = {};
    if (pcap_findalldevs(&list->head, errorText) == PCAP_ERROR) {
        // The library leaves the head unset on failure; nothing for the deleter to free.
        list->head = nullptr;
        std::printf("Error in pcap_findalldevs: %s\n", errorText);
        std::fflush(stdout);
        return nullptr;
    }
    return list;
}

void releaseInterfaces(InterfaceList *list)
{
    if (!list)
        return;
    if (list->head)
        pcap_freealldevs(list->head);
    delete list;
}

bool isTapAddress(const uint8_t *hardwareAddress)
{
    return hardwareAddress
           && std::memcmp(hardwareAddress, TapAddressPrefix, sizeof TapAddressPrefix) == 0;
}
