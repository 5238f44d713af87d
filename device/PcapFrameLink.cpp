#include "PcapFrameLink.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include <poll.h>

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

LinkError::Kind kindOfStatus(int status)
{
    switch (status) {
    case PCAP_ERROR_PERM_DENIED:
    case PCAP_ERROR_PROMISC_PERM_DENIED: return LinkError::Kind::NoPrivilege;
    case PCAP_ERROR_NO_SUCH_DEVICE: return LinkError::Kind::InterfaceGone;
    case PCAP_ERROR_IFACE_NOT_UP: return LinkError::Kind::InterfaceDown;
    default: return LinkError::Kind::Other;
    }
}

// What the kernel's refusal of a frame means; Other where waiting may help.
LinkError::Kind kindOfSendErrno(int error)
{
    switch (error) {
    case EMSGSIZE: return LinkError::Kind::FrameTooLong;
    case ENETDOWN: return LinkError::Kind::InterfaceDown;
    case ENXIO:
    case ENODEV: return LinkError::Kind::InterfaceGone;
    case EPERM:
    case EACCES: return LinkError::Kind::NoPrivilege;
    default: return LinkError::Kind::Other;
    }
}

// An activation warning as tcpdump words it, less the interface's name, which the caller adds:
// the status, and the library's detail where it has one.
std::string warningText(int status, const char *detail)
{
    const bool hasDetail = detail != nullptr && detail[0] != '\0';
    if (status == PCAP_WARNING && hasDetail)
        return detail;
    std::string text = pcap_statustostr(status);
    if (hasDetail)
        text += std::string(" (") + detail + ")";
    return text;
}

LinkOpening notOpened(LinkError error)
{
    LinkOpening opening;
    opening.error = std::move(error);
    return opening;
}

LinkReception failed(LinkError error)
{
    LinkReception got;
    got.result = LinkReception::Result::Failed;
    got.error = std::move(error);
    return got;
}

}  // namespace

PcapFrameLink::PcapFrameLink(std::string interfaceName) : m_name(std::move(interfaceName)) {}

PcapFrameLink::~PcapFrameLink() = default;

LinkError PcapFrameLink::failure(const char *text) const
{
    LinkError error;
    error.text = text != nullptr ? text : "";
    switch (readInterfaceState(m_name.c_str())) {
    case InterfaceState::Gone: error.kind = LinkError::Kind::InterfaceGone; break;
    case InterfaceState::Down: error.kind = LinkError::Kind::InterfaceDown; break;
    case InterfaceState::Up: break;
    }
    return error;
}

LinkOpening PcapFrameLink::open()
{
    if (resumeParked()) {
        LinkOpening opening;
        opening.opened = true;
        opening.warnings = m_warnings;
        return opening;
    }
    return openCapture();
}

bool PcapFrameLink::resumeParked()
{
    if (m_handle && discardWaitingFrames())
        return true;
    release();
    return false;
}

bool PcapFrameLink::discardWaitingFrames()
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

LinkOpening PcapFrameLink::openCapture()
{
    char errorText[PCAP_ERRBUF_SIZE];
    errorText[0] = '\0';
    std::unique_ptr<pcap_t, PcapCloser> handle(pcap_create(m_name.c_str(), errorText));
    if (!handle)
        return notOpened(failure(errorText));

    pcap_t *p = handle.get();
    // The setters only fail on an already active handle; checked all the same so that a
    // library that refuses one is reported rather than silently giving another capture.
    if (pcap_set_snaplen(p, SnapshotLength) != 0 || pcap_set_promisc(p, Promiscuous) != 0
        || pcap_set_timeout(p, ReadTimeoutMs) != 0 || pcap_set_immediate_mode(p, 1) != 0
        || pcap_set_buffer_size(p, KernelBufferBytes) != 0)
        return notOpened(failure(pcap_geterr(p)));

    LinkOpening opening;
    const int status = pcap_activate(p);
    if (status < 0) {
        // Some failures leave no text of their own; the status then names the cause.
        const char *reason = pcap_geterr(p);
        if (reason == nullptr || reason[0] == '\0')
            reason = pcap_statustostr(status);
        return notOpened({kindOfStatus(status), reason});
    }
    if (status > 0)
        opening.warnings.push_back(warningText(status, pcap_geterr(p)));

    // Without the filter the tap's monitored traffic would reach every exchange and use up
    // its miss budget, so a capture we cannot filter is as good as none.
    CompiledFilter filter;
    if (!filter.compile(p, FilterExpression) || !filter.install(p))
        return notOpened(failure(pcap_geterr(p)));

    // In immediate mode the library waits for a frame however long the line stays quiet,
    // read timeout or not. A quiet line has to end a read after ReadTimeoutMs (the callers
    // count those as misses), so reads do not block and receive() waits by itself.
    const int fd = pcap_get_selectable_fd(p);
    if (fd < 0)
        return notOpened(failure("capture cannot be waited on"));
    char nonblockError[PCAP_ERRBUF_SIZE];
    nonblockError[0] = '\0';
    if (pcap_setnonblock(p, 1, nonblockError) != 0)
        return notOpened(failure(nonblockError));

    m_handle = std::move(handle);
    m_selectableFd = fd;
    m_warnings = opening.warnings;
    opening.opened = true;
    return opening;
}

std::optional<LinkError> PcapFrameLink::send(const uint8_t *bytes, int length)
{
    if (!m_handle)
        return LinkError{LinkError::Kind::Other, "the capture is not open"};
    if (pcap_sendpacket(m_handle.get(), bytes, length) == 0)
        return std::nullopt;
    // The library words the kernel's errno as "send: <strerror>"; the errno is only trusted
    // while it still matches those words.
    const int error = errno;
    const char *text = pcap_geterr(m_handle.get());
    const LinkError::Kind kind = kindOfSendErrno(error);
    if (kind != LinkError::Kind::Other && text != nullptr
        && std::strstr(text, std::strerror(error)) != nullptr)
        return LinkError{kind, text};
    return failure(text);
}

LinkReception PcapFrameLink::receive(int timeoutMs)
{
    if (!m_handle)
        return failed({LinkError::Kind::Other, "the capture is not open"});

    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        // Non-blocking: a frame already captured, an error the library has noticed, or 0.
        struct pcap_pkthdr *header = nullptr;
        const u_char *data = nullptr;
        const int result = pcap_next_ex(m_handle.get(), &header, &data);
        if (result == PCAP_ERROR_IFACE_NOT_UP)
            return failed({LinkError::Kind::InterfaceDown, pcap_geterr(m_handle.get())});
        if (result < 0)
            return failed(failure(pcap_geterr(m_handle.get())));
        if (result > 0 && header != nullptr && data != nullptr) {
            LinkReception got;
            got.result = LinkReception::Result::Frame;
            got.bytes = data;
            got.captured = static_cast<int>(header->caplen);
            got.length = static_cast<int>(header->len);
            return got;
        }

        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return {};
        struct pollfd waitFor
        {
            m_selectableFd, POLLIN, 0
        };
        const int ready = ::poll(&waitFor, 1, static_cast<int>(left.count()));
        if (ready == 0)
            return {};
        if (ready < 0 && errno != EINTR)
            return failed(failure(std::strerror(errno)));
        // Readable, or an error condition: the next pcap_next_ex tells which.
    }
}

std::optional<LinkError> PcapFrameLink::takeWaiting(int most, const FrameTaker &take)
{
    if (!m_handle)
        return LinkError{LinkError::Kind::Other, "the capture is not open"};
    const auto hand = [](u_char *user, const struct pcap_pkthdr *header, const u_char *data) {
        if (header == nullptr || data == nullptr)
            return;
        LinkReception got;
        got.result = LinkReception::Result::Frame;
        got.bytes = data;
        got.captured = static_cast<int>(header->caplen);
        got.length = static_cast<int>(header->len);
        (*reinterpret_cast<const FrameTaker *>(user))(got);
    };
    // The library reads the ring without a system call while it holds frames; only an empty
    // ring costs it a look at the descriptor.
    const int result = pcap_dispatch(m_handle.get(), std::max(most, 1), hand,
                                     reinterpret_cast<u_char *>(const_cast<FrameTaker *>(&take)));
    if (result == PCAP_ERROR_IFACE_NOT_UP)
        return LinkError{LinkError::Kind::InterfaceDown, pcap_geterr(m_handle.get())};
    if (result < 0)
        return failure(pcap_geterr(m_handle.get()));
    return std::nullopt;
}

void PcapFrameLink::release()
{
    m_handle.reset();
    m_selectableFd = -1;
    m_warnings.clear();
}
