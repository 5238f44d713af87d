#include "PacketSession.h"

#include <cstdio>

#include "HardwareAddress.h"

namespace {

// A small kernel buffer: the tap's traffic to us is one reply at a time, and a large ring
// only costs memory and setup time on every open.
constexpr int KernelBufferBytes = 256 * 1024;
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
        m_compiled = pcap_compile(handle, &m_program, expression, FilterOptimise,
                                  PCAP_NETMASK_UNKNOWN) == 0;
        return m_compiled;
    }
    bool install(pcap_t *handle) { return pcap_setfilter(handle, &m_program) == 0; }

private:
    struct bpf_program m_program {};
    bool m_compiled = false;
};

} // namespace

PacketSession::PacketSession(const char *interfaceName)
    : m_name(interfaceName != nullptr ? interfaceName : "")
{
}

PacketSession::~PacketSession() = default;

bool PacketSession::open()
{
    m_handle.reset();
    m_lastError.clear();

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

    m_handle = std::move(handle);
    return true;
}

bool PacketSession::fail(const char *reason)
{
    m_lastError = reason != nullptr ? reason : "";
    std::printf("Cannot open interface : %s\n", m_lastError.c_str());
    std::fflush(stdout);
    return false;
}

int PacketSession::send(const uint8_t *frameBytes, int length)
{
    if (!m_handle || frameBytes == nullptr || length <= 0)
        return -1;
    if (pcap_sendpacket(m_handle.get(), frameBytes, length) != 0)
        return -1;
    return length;
}

int PacketSession::receive(struct pcap_pkthdr **header, const u_char **data)
{
    if (!m_handle)
        return PCAP_ERROR;
    return pcap_next_ex(m_handle.get(), header, data);
}

void PacketSession::close()
{
    m_handle.reset();
}

bool PacketSession::hardwareAddress(uint8_t *out) const
{
    if (m_name.empty())
        return false;
    return readHardwareAddress(m_name.c_str(), out);
}
