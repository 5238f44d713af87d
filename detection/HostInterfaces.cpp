#include "HostInterfaces.h"

#include <atomic>

#include <net/if.h>

#include "HardwareAddress.h"
#include "InterfaceDiscovery.h"
#include "LinkMonitor.h"

namespace {

class KernelInterfaces : public HostInterfaces
{
public:
    std::optional<QList<TapInterface>> listTaps() override
    {
        const InterfaceListPtr list = listInterfaces();
        if (!list)
            return std::nullopt;
        QList<TapInterface> taps;
        for (const pcap_if_t *entry = list->head; entry; entry = entry->next) {
            TapInterface tap;
            if (entry->name && readHardwareAddress(entry->name, tap.address.data())
                && isTapAddress(tap.address.data())) {
                tap.name = QString::fromLocal8Bit(entry->name);
                taps.append(tap);
            }
        }
        return taps;
    }

    bool anyTap() override { return anyTapInterface(); }

    bool hardwareAddress(const QString &interfaceName, MacAddress *out) override
    {
        return readHardwareAddress(interfaceName.toLocal8Bit().constData(), out->data());
    }

    int interfaceIndex(const QString &interfaceName) override
    {
        return static_cast<int>(::if_nametoindex(interfaceName.toLocal8Bit().constData()));
    }

    bool linkUp(const QString &interfaceName) override
    {
        return readInterfaceState(interfaceName.toLocal8Bit().constData()) == InterfaceState::Up;
    }

    QString interfaceName(int index) override
    {
        char name[IF_NAMESIZE] = {};
        if (index <= 0 || ::if_indextoname(static_cast<unsigned>(index), name) == nullptr)
            return {};
        return QString::fromLocal8Bit(name);
    }

    std::unique_ptr<FrameLink> linkFor(const QString &interfaceName) override
    {
        return makeCaptureLink(interfaceName.toLocal8Bit().toStdString());
    }

    std::unique_ptr<LinkChanges> watchLinks() override { return std::make_unique<LinkMonitor>(); }
};

KernelInterfaces kernel;
std::atomic<HostInterfaces *> inPlace{&kernel};

}  // namespace

HostInterfaces &HostInterfaces::current()
{
    return *inPlace.load();
}

HostInterfaces *HostInterfaces::putInPlace(HostInterfaces *interfaces)
{
    HostInterfaces *before = inPlace.exchange(interfaces != nullptr ? interfaces : &kernel);
    return before == &kernel ? nullptr : before;
}
