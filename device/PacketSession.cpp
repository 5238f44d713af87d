#include "PacketSession.h"

#include <cerrno>
#include <chrono>
#include <cstring>

#include <poll.h>

#include "DeviceLog.h"
#include "HardwareAddress.h"

namespace {

// The capture library gives every ring slot room for a whole snapshot (about 64 KiB on an
// interface with receive offloads), so the buffer decides how many frames can wait to be
// read. 256 KiB holds only three: a burst of zero-address frames ahead of a reply would push
// the reply out. This holds about thirty, more than the miss budget of a register command.
constexpr int KernelBufferBytes = 2 * 1024 * 1024;
constexpr int FilterOptimise = 1;

// Owns a compiled filter program only until it has been installed.
class CompiledFilter
{
public:
    CompiledFilter() = default;
    ~CompiledFilter()
    {
        if (m_compiled)
            pcap_freecode(&m_program);
    }
    CompiledFilter(const CompiledFilter &) = delete;
    CompiledFilter &operator=(const CompiledFilter &) = delete;

    bool compile(pcap_t *handle, const char *expression)
    {
        m_compiled =
            pcap_compile(handle, &m_program, expression, FilterOptimise, PCAP_NETMASK_UNKNOWN) == 0;
        return m_compiled;
    }
    bool install(pcap_t *handle) { return pcap_setfilter(handle, &m_program) == 0; }

private:
    struct bpf_program m_program
    {};
    bool m_compiled = false;
};

}  // namespace

PacketSession::PacketSession(const char *interfaceName)
    : m_name(interfaceName != nullptr ? interfaceName : "")
{
}

PacketSession::~PacketSession() = default;

bool PacketSession::open()
{
    close();
    m_lastError.clear();
    if (m_handle && discardWaitingFrames()) {
        m_open = true;
        return true;
    }
    release();
    m_open = openCapture();
    return m_open;
}

bool PacketSession::discardWaitingFrames()
{
    // More than the ring can hold: a line that floods us faster than we read is not waited for.
    constexpr int MostFramesToDiscard = 1024;
    for (int i = 0; i < MostFramesToDiscard; ++i) {
        struct pcap_pkthdr *header = nullptr;
        const u_char *data = nullptr;
        const int result = pcap_next_ex(m_handle.get(), &header, &data);
        if (result == 0)
            return true;
        if (result < 0)
            return false;
    }
    return true;
}

bool PacketSession::openCapture()
{
    char errorText[PCAP_ERRBUF_SIZE];
    errorText[0] = '\0';
    std::unique_ptr<pcap_t, PcapCloser> handle(pcap_create(m_name.c_str(), errorText));
    if (!handle)
        return fail(errorText);

    pcap_t *p = handle.get();
    // The setters only fail on an already active handle; checked all the same so that a
    // library that refuses one is reported rather than silently giving another capture.
    if (pcap_set_snaplen(p, SnapshotLength) != 0 || pcap_set_promisc(p, Promiscuous) != 0
        || pcap_set_timeout(p, ReadTimeoutMs) != 0 || pcap_set_immediate_mode(p, 1) != 0
        || pcap_set_buffer_size(p, KernelBufferBytes) != 0)
        return fail(pcap_geterr(p));

    const int status = pcap_activate(p);
    if (status < 0) {
        // Some failures leave no text of their own; the status then names the cause.
        const char *reason = pcap_geterr(p);
        if (reason == nullptr || reason[0] == '\0')
            reason = pcap_statustostr(status);
        return fail(reason);
    }

    // Without the filter the tap's monitored traffic would reach every exchange and use up
    // its miss budget, so a capture we cannot filter is as good as none.
    CompiledFilter filter;
    if (!filter.compile(p, FilterExpression) || !filter.install(p))
        return fail(pcap_geterr(p));

    // In immediate mode the library waits for a frame however long the line stays quiet,
    // read timeout or not. A quiet line has to end a read after ReadTimeoutMs (the callers
    // count those as misses), so reads do not block and receive() waits by itself.
    const int fd = pcap_get_selectable_fd(p);
    if (fd < 0)
        return fail("capture cannot be waited on");
    char nonblockError[PCAP_ERRBUF_SIZE];
    nonblockError[0] = '\0';
    if (pcap_setnonblock(p, 1, nonblockError) != 0)
        return fail(nonblockError);

    m_handle = std::move(handle);
    m_selectableFd = fd;
    return true;
}

bool PacketSession::fail(const char *reason)
{
    m_lastError = reason != nullptr ? reason : "";
    if (!m_quiet)
        reportOpenFailure();
    return false;
}

void PacketSession::reportOpenFailure() const
{
    qCWarning(lcDevice, "Cannot open interface : %s", m_lastError.c_str());
}

int PacketSession::send(const uint8_t *frameBytes, int length)
{
    if (!m_open || frameBytes == nullptr || length <= 0) {
        m_lastError = m_open ? "nothing to send" : "the capture is not open";
        return -1;
    }
    if (pcap_sendpacket(m_handle.get(), frameBytes, length) != 0) {
        m_lastError = pcap_geterr(m_handle.get());
        return -1;
    }
    return length;
}

int PacketSession::receive(struct pcap_pkthdr **header, const u_char **data, int timeoutMs)
{
    if (!m_open) {
        m_lastError = "the capture is not open";
        return PCAP_ERROR;
    }

    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        // Non-blocking: a frame already captured, an error the library has noticed, or 0.
        const int result = pcap_next_ex(m_handle.get(), header, data);
        if (result < 0)
            m_lastError = pcap_geterr(m_handle.get());
        if (result != 0)
            return result;

        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return 0;
        struct pollfd waitFor
        {
            m_selectableFd, POLLIN, 0
        };
        const int ready = ::poll(&waitFor, 1, static_cast<int>(left.count()));
        if (ready == 0)
            return 0;
        if (ready < 0 && errno != EINTR) {
            m_lastError = std::strerror(errno);
            return PCAP_ERROR;
        }
        // Readable, or an error condition: the next pcap_next_ex tells which.
    }
}

void PacketSession::close()
{
    m_open = false;
}

void PacketSession::release()
{
    m_open = false;
    m_handle.reset();
    m_selectableFd = -1;
}

bool PacketSession::hardwareAddress(uint8_t *out) const
{
    if (m_name.empty())
        return false;
    return readHardwareAddress(m_name.c_str(), out);
}
