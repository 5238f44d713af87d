#include "TapLoop.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <utility>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "CaptureLink.h"
#include "SimulatedTap.h"

namespace tapsim {

namespace {
constexpr int ExitCaptureEnded = 3;

// Blocks the signals the loop handles and hands them to a descriptor it can wait on.
class SignalDescriptor
{
public:
    SignalDescriptor()
    {
        sigemptyset(&m_set);
        for (int s : {SIGTERM, SIGINT, SIGHUP, SIGUSR1})
            sigaddset(&m_set, s);
        sigprocmask(SIG_BLOCK, &m_set, nullptr);
        m_fd = signalfd(-1, &m_set, SFD_CLOEXEC | SFD_NONBLOCK);
    }
    ~SignalDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        sigprocmask(SIG_UNBLOCK, &m_set, nullptr);
    }
    SignalDescriptor(const SignalDescriptor &) = delete;
    SignalDescriptor &operator=(const SignalDescriptor &) = delete;
    int fd() const { return m_fd; }
    int take() const
    {
        signalfd_siginfo info{};
        return ::read(m_fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)
            ? static_cast<int>(info.ssi_signo)
            : 0;
    }

private:
    sigset_t m_set{};
    int m_fd = -1;
};

// The served interface's carrier, from the kernel's link notices: on a veth pair it goes when
// the host takes its end down (or a test unplugs the tap), and comes back with it.
class CarrierWatch
{
public:
    explicit CarrierWatch(const QString &interfaceName)
        : m_index(static_cast<int>(::if_nametoindex(qPrintable(interfaceName))))
        , m_fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE))
    {
        sockaddr_nl address{};
        address.nl_family = AF_NETLINK;
        address.nl_groups = RTMGRP_LINK;
        if (m_fd >= 0
            && ::bind(m_fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~CarrierWatch()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    CarrierWatch(const CarrierWatch &) = delete;
    CarrierWatch &operator=(const CarrierWatch &) = delete;

    int fd() const { return m_fd; }
    // Reads every notice waiting; true when the carrier went (the tap lost its power). The tap
    // restarts then rather than when the carrier is back: the host may send the moment its
    // end is up, before this end has heard that the carrier has returned.
    bool lost()
    {
        alignas(nlmsghdr) char buffer[8192];
        bool gone = false;
        for (;;) {
            const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                return gone;
            int left = static_cast<int>(n);
            for (auto *h = reinterpret_cast<nlmsghdr *>(buffer); NLMSG_OK(h, left);
                 h = NLMSG_NEXT(h, left)) {
                if (h->nlmsg_type != RTM_NEWLINK || h->nlmsg_len < NLMSG_LENGTH(sizeof(ifinfomsg)))
                    continue;
                const auto *info = static_cast<const ifinfomsg *>(NLMSG_DATA(h));
                if (info->ifi_index != m_index)
                    continue;
                const bool carrier = (info->ifi_flags & IFF_UP) && (info->ifi_flags & IFF_RUNNING);
                if (!carrier && !std::exchange(m_lost, true))
                    gone = true;
                else if (carrier)
                    m_lost = false;
            }
        }
    }

private:
    const int m_index;
    int m_fd = -1;
    bool m_lost = false;
};

timespec toTimespec(std::chrono::steady_clock::duration d)
{
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
    constexpr long long NanosecondsPerSecond = 1000000000;
    return timespec{static_cast<time_t>(ns / NanosecondsPerSecond),
                    static_cast<long>(ns % NanosecondsPerSecond)};
}

void onFrame(u_char *user, const pcap_pkthdr *header, const u_char *bytes)
{
    SimulatedTap &tap = *reinterpret_cast<SimulatedTap *>(user);
    if (const std::optional<uint32_t> nonce = tap.take(header->ts, static_cast<int>(header->len),
                                                       bytes, static_cast<int>(header->caplen))) {
        std::printf("sync %u\n", *nonce);
        std::fflush(stdout);
    }
}
}  // namespace

TapLoop::TapLoop(const TapOptions &options, CaptureLink &link, SimulatedTap &tap)
    : m_options(options)
    , m_link(link)
    , m_tap(tap)
{
}

int TapLoop::finish(int exitCode)
{
    m_tap.saveState();
    if (const unsigned dropped = m_link.dropped())
        std::fprintf(stderr,
                     "kalvessa-tapsim: the capture buffer overflowed; %u frames were lost\n",
                     dropped);
    return exitCode;
}

int TapLoop::run()
{
    SignalDescriptor signalSource;
    if (signalSource.fd() < 0) {
        std::fprintf(stderr, "kalvessa-tapsim: signalfd: %s\n", std::strerror(errno));
        return ExitCaptureEnded;
    }
    CarrierWatch carrier(m_options.interfaceName);
    if (carrier.fd() < 0)
        std::fprintf(stderr,
                     "kalvessa-tapsim: no link notices (%s): the tap restarts only "
                     "with --reset-after-update\n",
                     std::strerror(errno));
    m_tap.start(SimulatedTap::Clock::now());
    std::printf("ready\n");
    std::fflush(stdout);

    pollfd fds[3] = {{m_link.selectableFd(), POLLIN, 0},
                     {signalSource.fd(), POLLIN, 0},
                     {carrier.fd(), POLLIN, 0}};
    for (;;) {
        const std::optional<SimulatedTap::Clock::time_point> wake = m_tap.nextWake();
        const timespec timeout = toTimespec(wake ? std::max(SimulatedTap::Clock::duration::zero(),
                                                            *wake - SimulatedTap::Clock::now())
                                                 : SimulatedTap::Clock::duration::zero());
        const int ready = ppoll(fds, carrier.fd() >= 0 ? 3 : 2, wake ? &timeout : nullptr, nullptr);
        if (ready < 0 && errno != EINTR) {
            std::fprintf(stderr, "kalvessa-tapsim: ppoll: %s\n", std::strerror(errno));
            return finish(ExitCaptureEnded);
        }
        if (ready > 0 && fds[1].revents) {
            const int received = signalSource.take();
            if (received == SIGUSR1) {
                m_tap.saveState();
                std::printf("state %u\n", ++m_stateSaves);
                std::fflush(stdout);
            } else if (received != 0) {
                return finish(0);
            }
        }
        if (ready > 0 && carrier.fd() >= 0 && fds[2].revents && carrier.lost()) {
            m_tap.restart();
            std::printf("restart generation %d\n", m_tap.generation());
            std::fflush(stdout);
        }
        if (ready > 0 && fds[0].revents) {
            const int n = m_link.dispatch(&onFrame, reinterpret_cast<u_char *>(&m_tap));
            if (n < 0 || (n == 0 && (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)))) {
                std::fprintf(stderr, "kalvessa-tapsim: capture on %s ended: %s\n",
                             qPrintable(m_options.interfaceName),
                             n < 0 ? m_link.error().c_str() : "the interface went away");
                return finish(ExitCaptureEnded);
            }
        }
        m_tap.advance(SimulatedTap::Clock::now());
    }
}

}  // namespace tapsim
