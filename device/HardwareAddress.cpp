#include "HardwareAddress.h"

#include <cstring>

#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

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

}  // namespace

bool readHardwareAddress(const char *interfaceName, uint8_t *out)
{
    if (interfaceName == nullptr || out == nullptr)
        return false;
    // A longer name cannot be a kernel interface; cutting it down could name a different one.
    const size_t nameLength = ::strnlen(interfaceName, MaxInterfaceNameLength + 1);
    if (nameLength == 0 || nameLength > MaxInterfaceNameLength)
        return false;

    const SocketFd sock(AF_INET, SOCK_DGRAM, 0);
    if (!sock.valid())
        return false;

    struct ifreq request;
    std::memset(&request, 0, sizeof request);
    std::memcpy(request.ifr_name, interfaceName, nameLength);
    if (::ioctl(sock.get(), SIOCGIFHWADDR, &request) != 0)
        return false;

    std::memcpy(out, request.ifr_hwaddr.sa_data, HardwareAddressLength);
    return true;
}
