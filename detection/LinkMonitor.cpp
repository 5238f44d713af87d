#include "LinkMonitor.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "DetectionLog.h"

namespace {
constexpr size_t ReceiveBufferBytes = 16384;
}  // namespace

LinkMonitor::LinkMonitor()
{
    m_fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (m_fd < 0) {
        qCInfo(lcDetection) << "no link notifications:" << std::strerror(errno);
        return;
    }
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = RTMGRP_LINK;
    if (::bind(m_fd, reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0) {
        qCInfo(lcDetection) << "no link notifications:" << std::strerror(errno);
        ::close(m_fd);
        m_fd = -1;
    }
}

LinkMonitor::~LinkMonitor()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool LinkMonitor::drain()
{
    if (m_fd < 0)
        return false;
    bool linkChanged = false;
    alignas(nlmsghdr) char buffer[ReceiveBufferBytes];
    for (;;) {
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (n < 0) {
            // A full socket buffer lost notifications: look anyway.
            if (errno == ENOBUFS)
                linkChanged = true;
            if (errno == EINTR || errno == ENOBUFS)
                continue;
            return linkChanged;  // EAGAIN: nothing more waiting
        }
        if (n == 0)
            return linkChanged;
        int left = static_cast<int>(n);
        for (const nlmsghdr *message = reinterpret_cast<const nlmsghdr *>(buffer);
             NLMSG_OK(message, left); message = NLMSG_NEXT(message, left)) {
            if (message->nlmsg_type == RTM_NEWLINK || message->nlmsg_type == RTM_DELLINK)
                linkChanged = true;
        }
    }
}

WakeUpSignal::WakeUpSignal() : m_fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

WakeUpSignal::~WakeUpSignal()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void WakeUpSignal::wake()
{
    const uint64_t one = 1;
    // The counter only saturates after 2^64 - 2 wakes nobody took; a failed write then
    // still leaves it readable.
    [[maybe_unused]] const ssize_t written = ::write(m_fd, &one, sizeof one);
}

void WakeUpSignal::clear()
{
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(m_fd, &count, sizeof count);
}
