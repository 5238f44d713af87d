#include "HardwareAddress.h"

#include <cstring>

#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

bool isTapAddress(const uint8_t *hardwareAddress)
{
    return hardwareAddress
        && std::memcmp(hardwareAddress, TapAddressPrefix, sizeof TapAddressPrefix) == 0;
}

namespace {

// Owns one socket descriptor for the length of a lookup.
class SocketFd
{
public:
    SocketFd(int domain, int type, int protocol) : m_fd(::socket(domain, type, protocol)) {}
    ~SocketFd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    SocketFd(const SocketFd &) = delete;
    SocketFd &operator=(const SocketFd &) = delete;

    bool valid() const { return m_fd >= 0; }
    int get() const { return m_fd; }

private:
    const int m_fd;
};

constexpr size_t MaxInterfaceNameLength = IFNAMSIZ - 1;

// Asks the kernel about the named interface; false when it cannot answer. A longer name than
// the kernel allows cannot be an interface, and cutting it down could name a different one.
bool askKernel(const char *interfaceName, unsigned long question, struct ifreq *request)
{
    if (interfaceName == nullptr)
        return false;
    const size_t nameLength = ::strnlen(interfaceName, MaxInterfaceNameLength + 1);
    if (nameLength == 0 || nameLength > MaxInterfaceNameLength)
        return false;

    const SocketFd sock(AF_INET, SOCK_DGRAM, 0);
    if (!sock.valid())
        return false;

    std::memset(request, 0, sizeof *request);
    std::memcpy(request->ifr_name, interfaceName, nameLength);
    return ::ioctl(sock.get(), question, request) == 0;
}

}  // namespace

bool readHardwareAddress(const char *interfaceName, uint8_t *out)
{
    struct ifreq request;
    if (out == nullptr || !askKernel(interfaceName, SIOCGIFHWADDR, &request))
        return false;
    std::memcpy(out, request.ifr_hwaddr.sa_data, HardwareAddressLength);
    return true;
}

int readInterfaceMtu(const char *interfaceName)
{
    struct ifreq request;
    return askKernel(interfaceName, SIOCGIFMTU, &request) ? request.ifr_mtu : 0;
}

InterfaceState readInterfaceState(const char *interfaceName)
{
    struct ifreq request;
    if (!askKernel(interfaceName, SIOCGIFFLAGS, &request))
        return InterfaceState::Gone;
    return (request.ifr_flags & IFF_UP) != 0 ? InterfaceState::Up : InterfaceState::Down;
}
