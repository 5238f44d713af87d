#include "FifoCapture.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <net/if.h>
#include <pcap/pcap.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "HardwareAddress.h"
#include "LinkHelperFraming.h"

namespace fifocapture {

namespace {

constexpr int CapturedStatus = 0;
constexpr int FailedStatus = 1;
constexpr int SnapshotLength = static_cast<int>(linkhelper::MostFrameLength);
// Room for a burst at full line rate while the reader catches up; the kernel drops (and counts)
// what does not fit.
constexpr int KernelBufferBytes = 8 * 1024 * 1024;
// Frames are handed over in blocks, each at the latest this long after its first frame: a
// flood is read a block at a time, a trickle still reaches the reader within a blink.
constexpr int BatchTimeoutMs = 20;
// What the FIFO holds while its reader catches up (the kernel may grant less).
constexpr int FifoBytes = 1024 * 1024;
// How often the loop looks at its end conditions when nothing arrives at all.
constexpr int IdleWakeMs = 200;
// How long the wait for the FIFO's reader sleeps between tries.
constexpr int ReaderRetryMs = 20;

// pcap's own file layout (microsecond timestamps, host byte order, as readers expect).
constexpr uint32_t PcapMagic = 0xA1B2C3D4;
constexpr uint16_t PcapMajor = 2;
constexpr uint16_t PcapMinor = 4;
constexpr int MacLength = HardwareAddressLength;

// The tap's control frames, kept from the output by the kernel's filter already; said again
// where the frame is read, as in the helper's other mode.
constexpr const char *NoControlFrames =
    "not (ether src 00:00:00:00:00:00 and ether dst 00:00:00:00:00:00)";

volatile sig_atomic_t g_stopSignal = 0;
int g_wakeWrite = -1;

void onSignal(int number)
{
    g_stopSignal = number;
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_wakeWrite, &byte, 1);
    errno = saved;
}

[[noreturn]] void refuse(const std::string &reason)
{
    std::fprintf(stderr, "kalvessa100-link: %s\n", reason.c_str());
    std::exit(linkhelper::RefusedStatus);
}

[[noreturn]] void fail(const std::string &reason)
{
    std::fprintf(stderr, "kalvessa100-link: %s\n", reason.c_str());
    std::exit(FailedStatus);
}

struct Request
{
    std::string fifo;
    std::string filter;
    std::string interface;
};

Request parse(const std::vector<std::string> &arguments)
{
    const char *usage = "usage: kalvessa100-link --fifo PATH [--filter EXPRESSION] <interface>";
    Request request;
    if (arguments.size() == 3) {
        request = {arguments[1], {}, arguments[2]};
    } else if (arguments.size() == 5 && arguments[2] == "--filter") {
        request = {arguments[1], arguments[3], arguments[4]};
    } else {
        refuse(usage);
    }
    if (request.fifo.empty())
        refuse(usage);
    const std::string &name = request.interface;
    if (name.empty() || name.size() >= IF_NAMESIZE || name.find('/') != std::string::npos
        || name[0] == '-')
        refuse("not an interface name: " + name);
    return request;
}

void requireTap(const std::string &name)
{
    uint8_t address[HardwareAddressLength];
    if (!readHardwareAddress(name.c_str(), address))
        refuse(name + ": " + pcap_statustostr(PCAP_ERROR_NO_SUCH_DEVICE));
    if (!isTapAddress(address))
        refuse(name
               + " is not a Kalvessa 100 tap (its address does not start"
                 " with 00:0e:c6)");
}

struct FdCloser
{
    int fd = -1;
    ~FdCloser()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// A handle on the path that writes nothing and opens no device, so that what the path names
// is known before anything is written: the helper writes into a FIFO and nothing else.
int requireFifo(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_PATH | O_CLOEXEC);
    if (fd < 0)
        refuse(path + ": " + std::strerror(errno));
    struct stat status
    {};
    if (::fstat(fd, &status) != 0 || !S_ISFIFO(status.st_mode)) {
        ::close(fd);
        refuse(path + " is not a FIFO");
    }
    return fd;
}

// Refused before the capture opens, in libpcap's words, against the link type every tap has.
void requireFilter(const std::string &expression)
{
    if (expression.empty())
        return;
    std::unique_ptr<pcap_t, decltype(&pcap_close)> dead(pcap_open_dead(DLT_EN10MB, SnapshotLength),
                                                        pcap_close);
    bpf_program program{};
    if (!dead
        || pcap_compile(dead.get(), &program, expression.c_str(), 1, PCAP_NETMASK_UNKNOWN) != 0)
        refuse("filter \"" + expression + "\": " + (dead ? pcap_geterr(dead.get()) : "no memory"));
    pcap_freecode(&program);
}

class PcapStream
{
public:
    explicit PcapStream(int fd) : m_fd(fd) {}

    // False once the reader has gone or the FIFO failed; later writes are dropped.
    bool good() const { return m_good; }
    int error() const { return m_error; }

    void header(int snapshotLength, int linkType)
    {
        putWord(PcapMagic);
        putHalf(PcapMajor);
        putHalf(PcapMinor);
        putWord(0);  // time zone: UTC
        putWord(0);  // accuracy
        putWord(static_cast<uint32_t>(snapshotLength));
        putWord(static_cast<uint32_t>(linkType));
    }

    void record(const pcap_pkthdr &frame, const uint8_t *bytes)
    {
        const std::array<uint32_t, 4> header{static_cast<uint32_t>(frame.ts.tv_sec),
                                             static_cast<uint32_t>(frame.ts.tv_usec), frame.caplen,
                                             frame.len};
        const size_t at = m_buffer.size();
        m_buffer.resize(at + sizeof header + frame.caplen);
        std::memcpy(m_buffer.data() + at, header.data(), sizeof header);
        std::memcpy(m_buffer.data() + at + sizeof header, bytes, frame.caplen);
    }

    size_t waiting() const { return m_buffer.size(); }

    // Writes what is gathered, all of it unless the reader goes or a signal asks to stop (what
    // is left then is written by the final flush).
    void flush(bool stopping)
    {
        size_t done = 0;
        while (m_good && done < m_buffer.size()) {
            const ssize_t n = ::write(m_fd, m_buffer.data() + done, m_buffer.size() - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
            } else if (n < 0 && errno == EINTR) {
                if (g_stopSignal != 0 && !stopping)
                    break;
            } else {
                m_good = false;
                m_error = n < 0 ? errno : EPIPE;
            }
        }
        m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<ptrdiff_t>(done));
        if (!m_good)
            m_buffer.clear();
    }

private:
    void putWord(uint32_t value)
    {
        const auto *bytes = reinterpret_cast<const uint8_t *>(&value);
        m_buffer.insert(m_buffer.end(), bytes, bytes + sizeof value);
    }
    void putHalf(uint16_t value)
    {
        const auto *bytes = reinterpret_cast<const uint8_t *>(&value);
        m_buffer.insert(m_buffer.end(), bytes, bytes + sizeof value);
    }

    int m_fd;
    bool m_good = true;
    int m_error = 0;
    std::vector<uint8_t> m_buffer;
};

bool allZero(const uint8_t *bytes, int length)
{
    for (int i = 0; i < length; ++i) {
        if (bytes[i] != 0)
            return false;
    }
    return true;
}

struct Capture
{
    PcapStream *stream;
    uint64_t passed = 0;
};

void takeFrame(u_char *user, const pcap_pkthdr *frame, const u_char *bytes)
{
    auto *capture = reinterpret_cast<Capture *>(user);
    const int captured = static_cast<int>(frame->caplen);
    if (captured > SnapshotLength)
        return;
    if (captured >= 2 * MacLength && allZero(bytes, 2 * MacLength))
        return;
    capture->stream->record(*frame, bytes);
    ++capture->passed;
}

pcap_t *openCapture(const std::string &name, const std::string &filter)
{
    char error[PCAP_ERRBUF_SIZE] = {};
    pcap_t *p = pcap_create(name.c_str(), error);
    if (p == nullptr)
        fail(name + ": " + error);
    if (pcap_set_snaplen(p, SnapshotLength) != 0 || pcap_set_promisc(p, 1) != 0
        || pcap_set_timeout(p, BatchTimeoutMs) != 0
        || pcap_set_buffer_size(p, KernelBufferBytes) != 0)
        fail(name + ": cannot set up the capture");
    const int activated = pcap_activate(p);
    if (activated < 0) {
        const std::string why = activated == PCAP_ERROR || activated == PCAP_ERROR_PERM_DENIED
            ? pcap_geterr(p)
            : pcap_statustostr(activated);
        std::fprintf(stderr, "kalvessa100-link: %s: %s\n", name.c_str(), why.c_str());
        std::exit(activated == PCAP_ERROR_PERM_DENIED ? NoPrivilegeStatus : FailedStatus);
    }
    if (pcap_datalink(p) != DLT_EN10MB)
        fail(name + ": not an Ethernet interface");
    const std::string expression =
        filter.empty() ? NoControlFrames : "(" + filter + ") and " + NoControlFrames;
    bpf_program program{};
    if (pcap_compile(p, &program, expression.c_str(), 1, PCAP_NETMASK_UNKNOWN) != 0)
        refuse("filter \"" + filter + "\": " + pcap_geterr(p));
    const int installed = pcap_setfilter(p, &program);
    pcap_freecode(&program);
    if (installed != 0)
        fail(name + ": " + pcap_geterr(p));
    if (pcap_setnonblock(p, 1, error) != 0)
        fail(name + ": " + error);
    return p;
}

// Whether standard input has ended; read and thrown away while it has not.
bool callerGone(short revents)
{
    if ((revents & POLLNVAL) != 0)
        return false;  // nothing there to end: no caller watches through it
    std::array<char, 256> scratch{};
    const ssize_t n = ::read(STDIN_FILENO, scratch.data(), scratch.size());
    if (n > 0)
        return false;
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return false;
    return true;
}

// The write end, once a reader has opened the FIFO; -1 when the caller or a signal ends the
// wait first. Reopened through the checked handle, so the path cannot be swapped meanwhile.
int openWriteEnd(int pathHandle, const std::string &path)
{
    const std::string own = "/proc/self/fd/" + std::to_string(pathHandle);
    for (;;) {
        const int fd = ::open(own.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd >= 0) {
            const int flags = ::fcntl(fd, F_GETFL);
            ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
            ::fcntl(fd, F_SETPIPE_SZ, FifoBytes);  // best effort: a smaller FIFO works too
            return fd;
        }
        if (errno != ENXIO && errno != EINTR)
            fail(path + ": " + std::strerror(errno));
        pollfd watch{STDIN_FILENO, POLLIN, 0};
        if (g_stopSignal != 0)
            return -1;
        if (::poll(&watch, 1, ReaderRetryMs) > 0 && callerGone(watch.revents))
            return -1;
    }
}

void installSignals(int wakeWrite)
{
    g_wakeWrite = wakeWrite;
    struct sigaction action
    {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a write blocked on a stalled reader is interrupted
    for (const int number : {SIGTERM, SIGINT, SIGHUP})
        sigaction(number, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);  // a reader gone is told by EPIPE
}

}  // namespace

bool requested(const std::vector<std::string> &arguments)
{
    return !arguments.empty() && arguments[0] == "--fifo";
}

int run(const std::vector<std::string> &arguments)
{
    const Request request = parse(arguments);
    requireTap(request.interface);
    FdCloser pathHandle{requireFifo(request.fifo)};
    requireFilter(request.filter);

    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0)
        fail(std::string("pipe: ") + std::strerror(errno));
    installSignals(wake[1]);

    std::unique_ptr<pcap_t, decltype(&pcap_close)> capture(
        openCapture(request.interface, request.filter), pcap_close);
    FdCloser output{openWriteEnd(pathHandle.fd, request.fifo)};
    if (output.fd < 0)
        return CapturedStatus;  // ended before anyone read: nothing to leave whole

    PcapStream stream(output.fd);
    stream.header(pcap_snapshot(capture.get()), DLT_EN10MB);
    stream.flush(false);
    Capture state{&stream};
    const int captureFd = pcap_get_selectable_fd(capture.get());
    bool watchCaller = true;
    std::string failure;
    while (stream.good() && g_stopSignal == 0) {
        std::array<pollfd, 4> watch{{{captureFd, POLLIN, 0},
                                     {watchCaller ? STDIN_FILENO : -1, POLLIN, 0},
                                     {wake[0], POLLIN, 0},
                                     {output.fd, 0, 0}}};
        const int ready = ::poll(watch.data(), watch.size(), IdleWakeMs);
        if (ready < 0 && errno != EINTR)
            fail(std::string("poll: ") + std::strerror(errno));
        if ((watch[3].revents & (POLLERR | POLLHUP)) != 0)
            break;  // the reader went away
        if (watch[1].revents != 0) {
            if ((watch[1].revents & POLLNVAL) != 0)
                watchCaller = false;
            else if (callerGone(watch[1].revents))
                break;
        }
        // Read also when poll said nothing: a capture's descriptor may stay quiet while frames
        // wait in its ring.
        const int got =
            pcap_dispatch(capture.get(), -1, takeFrame, reinterpret_cast<u_char *>(&state));
        if (got == PCAP_ERROR) {
            failure = request.interface + ": " + pcap_geterr(capture.get());
            break;
        }
        if (stream.waiting() > 0)
            stream.flush(false);
    }
    // Asked to stop: what had arrived by then is still passed on, once the kernel has handed
    // over the block it sits in (it does so after BatchTimeoutMs at the latest).
    if (stream.good() && failure.empty() && g_stopSignal != 0) {
        using Clock = std::chrono::steady_clock;
        const Clock::time_point deadline =
            Clock::now() + std::chrono::milliseconds(2 * BatchTimeoutMs);
        for (Clock::time_point now = Clock::now(); now < deadline; now = Clock::now()) {
            pollfd watch{captureFd, POLLIN, 0};
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
            ::poll(&watch, 1, static_cast<int>(left.count()));
            if (pcap_dispatch(capture.get(), -1, takeFrame, reinterpret_cast<u_char *>(&state)) < 0)
                break;
        }
    }
    stream.flush(true);

    pcap_stat stats{};
    if (pcap_stats(capture.get(), &stats) == 0) {
        std::fprintf(stderr,
                     "kalvessa100-link: %s: %u packets captured, %llu passed on, %u dropped (%u "
                     "by the kernel, %u by the interface)\n",
                     request.interface.c_str(), stats.ps_recv,
                     static_cast<unsigned long long>(state.passed), stats.ps_drop + stats.ps_ifdrop,
                     stats.ps_drop, stats.ps_ifdrop);
    } else {
        std::fprintf(stderr, "kalvessa100-link: %s: %llu packets passed on, dropped unknown\n",
                     request.interface.c_str(), static_cast<unsigned long long>(state.passed));
    }
    if (!failure.empty())
        fail(failure);
    return CapturedStatus;
}

}  // namespace fifocapture
