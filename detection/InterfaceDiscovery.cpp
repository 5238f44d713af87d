#include "InterfaceDiscovery.h"

#include <cstring>
#include <memory>

#include <net/if.h>

#include "DetectionLog.h"
#include "HardwareAddress.h"

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
        qCWarning(lcDetection, "Error in pcap_findalldevs: %s", errorText);
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

bool anyTapInterface()
{
    const std::unique_ptr<struct if_nameindex, void (*)(struct if_nameindex *)> names(
        if_nameindex(), if_freenameindex);
    // Without the index, only the full listing can tell.
    if (!names)
        return true;
    for (const struct if_nameindex *entry = names.get(); entry->if_name != nullptr; ++entry) {
        uint8_t address[HardwareAddressLength];
        if (readHardwareAddress(entry->if_name, address) && isTapAddress(address))
            return true;
    }
    return false;
}
