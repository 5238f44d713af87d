#pragma once

#include <QString>

#include "HardwareAddress.h"
#include "InterfaceDiscovery.h"

// Every window runs the worker, which talks to any tap it can see, and some tests click
// "Apply". They run in a private network namespace; where that cannot be had and a real
// tap is visible, they must not run at all rather than write into it.
inline bool tapInterfaceVisible(QString *name)
{
    const InterfaceListPtr list = listInterfaces();
    for (pcap_if_t *e = list ? list->head : nullptr; e; e = e->next) {
        uint8_t address[HardwareAddressLength];
        if (e->name && readHardwareAddress(e->name, address) && isTapAddress(address)) {
            *name = QString::fromLocal8Bit(e->name);
            return true;
        }
    }
    return false;
}

#define SKIP_IF_A_TAP_IS_ATTACHED()                                                              \
    do {                                                                                         \
        QString tapName_;                                                                        \
        if (tapInterfaceVisible(&tapName_))                                                      \
            QSKIP(qPrintable(QStringLiteral("a tap is attached (%1); these tests would write "   \
                                            "to it").arg(tapName_)));                            \
    } while (false)
