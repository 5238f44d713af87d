#include "CaptureLink.h"

namespace tapsim {

namespace {
constexpr int ReadTimeoutMs = 10;  // unused while non-blocking, but pcap wants one
constexpr int DispatchAll = -1;
}  // namespace

bool CaptureLink::fail(const std::string &what)
{
    m_error = what + (m_handle ? std::string(": ") + pcap_geterr(m_handle.get()) : std::string());
    m_handle.reset();
    return false;
}

bool CaptureLink::open(const std::string &interfaceName)
{
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    m_handle.reset(pcap_create(interfaceName.c_str(), errbuf));
    if (!m_handle) {
        m_error = errbuf;
        return false;
    }
    pcap_t *p = m_handle.get();
    if (pcap_set_snaplen(p, SnapshotLength) != 0 || pcap_set_promisc(p, 1) != 0
        || pcap_set_timeout(p, ReadTimeoutMs) != 0 || pcap_set_immediate_mode(p, 1) != 0
        || pcap_set_buffer_size(p, BufferBytes) != 0)
        return fail("cannot configure the capture on " + interfaceName);
    const int activated = pcap_activate(p);
    if (activated < 0)
        return fail("cannot capture on " + interfaceName + " (" + pcap_statustostr(activated)
                    + ")");
    if (pcap_setdirection(p, PCAP_D_IN) != 0)
        return fail("cannot restrict the capture to incoming frames");
    bpf_program program{};
    if (pcap_compile(p, &program, Filter, 1, PCAP_NETMASK_UNKNOWN) != 0)
        return fail("cannot compile the capture filter");
    const int filtered = pcap_setfilter(p, &program);
    pcap_freecode(&program);
    if (filtered != 0)
        return fail("cannot install the capture filter");
    if (pcap_setnonblock(p, 1, errbuf) != 0) {
        m_error = errbuf;
        m_handle.reset();
        return false;
    }
    if (pcap_get_selectable_fd(p) < 0)
        return fail("the capture cannot be waited on");
    return true;
}

int CaptureLink::selectableFd() const
{
    return m_handle ? pcap_get_selectable_fd(m_handle.get()) : -1;
}

int CaptureLink::dispatch(pcap_handler callback, u_char *user)
{
    if (!m_handle)
        return PCAP_ERROR;
    const int n = pcap_dispatch(m_handle.get(), DispatchAll, callback, user);
    if (n < 0)
        m_error = pcap_geterr(m_handle.get());
    return n;
}

unsigned CaptureLink::dropped() const
{
    pcap_stat stats{};
    return m_handle && pcap_stats(m_handle.get(), &stats) == 0 ? stats.ps_drop : 0;
}

bool CaptureLink::send(const uint8_t *bytes, int length)
{
    return m_handle && pcap_inject(m_handle.get(), bytes, static_cast<size_t>(length)) == length;
}

}  // namespace tapsim
