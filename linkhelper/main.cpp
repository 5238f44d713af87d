// kalvessa100-link: the one program that carries the capture privilege (CAP_NET_RAW), so that
// no program linking a GUI toolkit, whose plugins the user's environment can name, ever does.
// It opens the capture on one tap's interface, sends the tap's control frames and pushes to its
// caller the frames the session's filter admits as they are captured, over the framing in
// LinkHelperFraming.h. Nothing here loads plugins or takes a path or a behaviour from the
// environment.
//
// Usage: kalvessa100-link <interface>    (standard input and output: the caller's socket)
//        kalvessa100-link --fifo PATH [--filter EXPRESSION] <interface>    (see FifoCapture.h)

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <unistd.h>

#include "FifoCapture.h"
#include "HardwareAddress.h"
#include "LinkHelperFraming.h"
#include "PcapFrameLink.h"

using namespace linkhelper;

namespace {

constexpr int CallerIn = STDIN_FILENO;
constexpr int CallerOut = STDOUT_FILENO;

// The messages on their way to the caller. A caller that stops reading fills its socket first,
// then this queue; from there on the frames it is too slow for are dropped and counted, and it
// learns how many once the queue has room again. Answers always go in, but no request is read
// while the queue is full, so the helper's memory stays bounded whatever the caller does.
class Outbox
{
public:
    // Some frames of the largest kind, about a thousand of the tap's: far more than the
    // ring of a direct capture keeps for a reader that falls behind.
    static constexpr size_t MostWaiting = 256 * 1024;
    // A caller that takes nothing for this long is not waited for any more when the helper ends.
    static constexpr int LastWordsMs = 2000;

    bool full() const { return waiting() >= MostWaiting; }
    bool empty() const { return waiting() == 0; }

    void tell(MessageType type, const uint8_t *payload = nullptr, uint32_t length = 0,
              const uint8_t *more = nullptr, uint32_t moreLength = 0)
    {
        tellDropped();
        appendMessage(m_bytes, type, payload, length, more, moreLength);
    }

    void tellError(MessageType type, uint32_t opening, const LinkError &error)
    {
        uint8_t lead[LeastFailure];
        putCount(lead, opening);
        lead[OpeningLength] = static_cast<uint8_t>(error.kind);
        const uint32_t length =
            static_cast<uint32_t>(std::min<size_t>(error.text.size(), MostTextLength));
        tell(type, lead, LeastFailure, reinterpret_cast<const uint8_t *>(error.text.data()),
             length);
    }

    void pass(uint32_t opening, const LinkReception &got)
    {
        const size_t length = HeaderLength + FrameBytesAt + static_cast<size_t>(got.captured);
        // Frames are gathered for one write per batch; what the socket takes makes room first.
        if (waiting() + length > MostWaiting)
            flush();
        if (waiting() + length > MostWaiting) {
            if (m_dropped < UINT32_MAX)
                ++m_dropped;
            return;
        }
        uint8_t lead[FrameBytesAt];
        putCount(lead, opening);
        putCount(lead + OpeningLength, static_cast<uint32_t>(std::max(got.length, got.captured)));
        tell(MessageType::Frame, lead, FrameBytesAt, got.bytes,
             static_cast<uint32_t>(got.captured));
    }

    // Writes what the caller's socket takes now; the helper ends once the caller has gone.
    void flush()
    {
        if (writeSome() == Written::CallerGone)
            std::exit(0);
        // Told as soon as there is room again, not only before the next frame: after a burst
        // there may be none.
        if (m_dropped > 0 && waiting() + HeaderLength + CountLength <= MostWaiting) {
            tellDropped();
            if (writeSome() == Written::CallerGone)
                std::exit(0);
        }
    }

    // Before the helper ends: what is left, as far as the caller takes it in LastWordsMs.
    void flushBeforeEnd()
    {
        using Clock = std::chrono::steady_clock;
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(LastWordsMs);
        while (writeSome() == Written::Blocked) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            struct pollfd waitFor
            {
                CallerOut, POLLOUT, 0
            };
            if (left.count() <= 0 || ::poll(&waitFor, 1, static_cast<int>(left.count())) == 0)
                return;
        }
    }

private:
    enum class Written { All, Blocked, CallerGone };

    size_t waiting() const { return m_bytes.size() - m_sent; }

    void tellDropped()
    {
        if (m_dropped == 0)
            return;
        uint8_t count[CountLength];
        putCount(count, m_dropped);
        m_dropped = 0;
        appendMessage(m_bytes, MessageType::Dropped, count, CountLength);
    }

    Written writeSome()
    {
        Written result = Written::All;
        while (waiting() > 0) {
            const ssize_t n = ::write(CallerOut, m_bytes.data() + m_sent, waiting());
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                result = Written::Blocked;
                break;
            }
            if (n <= 0)
                return Written::CallerGone;
            m_sent += static_cast<size_t>(n);
        }
        // Moved down only once most of it has gone, so that a slow caller costs few copies.
        if (m_sent == m_bytes.size() || m_sent > MostWaiting / 2) {
            m_bytes.erase(m_bytes.begin(), m_bytes.begin() + static_cast<ptrdiff_t>(m_sent));
            m_sent = 0;
        }
        return result;
    }

    std::vector<uint8_t> m_bytes;
    size_t m_sent = 0;
    uint32_t m_dropped = 0;
};

Outbox toCaller;

[[noreturn]] void refuse(const std::string &reason)
{
    // What the caller was already told (a Failure saying why, the frames before) goes first.
    toCaller.flushBeforeEnd();
    std::fprintf(stderr, "kalvessa100-link: %s\n", reason.c_str());
    std::exit(RefusedStatus);
}

// Refused (told to the caller, as about that opening, then the helper ends) unless the interface
// carries the tap's prefix.
void requireTap(const std::string &name, uint32_t opening = 0)
{
    uint8_t address[HardwareAddressLength];
    if (!readHardwareAddress(name.c_str(), address)) {
        // In the capture library's words, as a capture opened directly would tell it.
        const char *reason = pcap_statustostr(PCAP_ERROR_NO_SUCH_DEVICE);
        toCaller.tellError(MessageType::Failure, opening, {LinkError::Kind::InterfaceGone, reason});
        refuse(name + ": " + reason);
    }
    if (!isTapAddress(address)) {
        const std::string reason = name
            + " is not a Kalvessa 100 tap (its address does not start"
              " with 00:0e:c6)";
        toCaller.tellError(MessageType::Failure, opening, {LinkError::Kind::NotATap, reason});
        refuse(reason);
    }
}

bool allZero(const uint8_t *bytes, uint32_t length)
{
    for (uint32_t i = 0; i < length; ++i) {
        if (bytes[i] != 0)
            return false;
    }
    return true;
}

// The capture's own filter admits only these; said again here, so that a frame the kernel's
// filter let through by mistake never reaches the caller.
bool admitted(const LinkReception &got)
{
    constexpr int MacLength = HardwareAddressLength;
    if (got.bytes == nullptr || got.captured < 2 * MacLength
        || static_cast<uint32_t>(got.captured) > MostFrameLength)
        return false;
    return allZero(got.bytes, MacLength) || allZero(got.bytes + MacLength, MacLength);
}

bool setNonBlocking(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

// One caller's session: its requests as they come, the capture's frames as they are captured.
class Service
{
public:
    explicit Service(std::string name) : m_name(name), m_link(std::move(name)) {}

    [[noreturn]] void run()
    {
        // Neither a caller that stops reading nor one that stops writing may hold the helper
        // up: frames keep being taken (and dropped, counted) while the caller is away.
        if (!setNonBlocking(CallerIn) || !setNonBlocking(CallerOut))
            refuse(std::string("cannot stop waiting on the caller: ") + std::strerror(errno));
        for (;;) {
            handleRequests();
            toCaller.flush();
            waitForWork();
        }
    }

private:
    // A burst longer than the capture's ring is taken in parts, so that requests are not kept
    // waiting behind it.
    static constexpr int MostFramesAtOnce = 256;
    static constexpr size_t ReadSize = 64 * 1024;

    void waitForWork()
    {
        struct pollfd fds[3];
        nfds_t count = 0;
        int request = -1, answer = -1, capture = -1;
        if (!toCaller.full()) {
            fds[count] = {CallerIn, POLLIN, 0};
            request = static_cast<int>(count++);
        }
        if (!toCaller.empty()) {
            fds[count] = {CallerOut, POLLOUT, 0};
            answer = static_cast<int>(count++);
        }
        if (m_pushing) {
            fds[count] = {m_link.selectableFd(), POLLIN, 0};
            capture = static_cast<int>(count++);
        }
        if (::poll(fds, count, -1) < 0) {
            if (errno == EINTR)
                return;
            refuse(std::string("cannot wait: ") + std::strerror(errno));
        }
        if (capture >= 0 && fds[capture].revents != 0)
            takeFrames();
        if (answer >= 0 && fds[answer].revents != 0)
            toCaller.flush();
        if (request >= 0 && fds[request].revents != 0)
            readRequests();
    }

    // What the capture holds, passed on in one write: a frame costs the helper no system call
    // of its own beyond the one that wakes it and the one that hands it on.
    void takeFrames()
    {
        bool passed = false;
        const std::optional<LinkError> failed =
            m_link.takeWaiting(MostFramesAtOnce, [this, &passed](const LinkReception &got) {
                if (admitted(got)) {
                    toCaller.pass(m_opening, got);
                    passed = true;
                }
            });
        if (failed) {
            toCaller.tellError(MessageType::CaptureFailed, m_opening, *failed);
            m_pushing = false;
        }
        toCaller.flush();
        // A caller woken on this CPU by the frames runs before the helper goes to sleep, so
        // that what it asks next (the Park that ends its exchange, the next request) is found
        // waiting rather than waking the helper once more: a wake-up costs more than the yield.
        if (passed)
            ::sched_yield();
    }

    void readRequests()
    {
        // Read aside and appended: growing m_input by the whole read size would clear 64 KiB
        // for every request of a few hundred bytes.
        ssize_t n = -1;
        do {
            n = ::read(CallerIn, m_readBuffer.data(), m_readBuffer.size());
        } while (n < 0 && errno == EINTR);
        if (n > 0)
            m_input.insert(m_input.end(), m_readBuffer.data(), m_readBuffer.data() + n);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        if (n < 0)
            refuse(std::string("cannot read the request: ") + std::strerror(errno));
        if (n > 0)
            return;
        // The caller went away, at a request's boundary or in the middle of one.
        if (m_input.size() >= HeaderLength)
            refuse("request cut short");
        if (!m_input.empty())
            refuse("request header cut short");
        toCaller.flushBeforeEnd();
        std::exit(0);
    }

    // Every whole request read so far, as long as the answers have room.
    void handleRequests()
    {
        size_t at = 0;
        while (!toCaller.full() && m_input.size() - at >= HeaderLength) {
            const uint8_t *header = m_input.data() + at;
            const std::optional<MessageLimits> limits = limitsOf(header[0], true);
            if (!limits)
                refuse("unknown request " + std::to_string(header[0]));
            const uint32_t length = readCount(header + 1);
            if (length < limits->least || length > limits->most)
                refuse("request of " + std::to_string(length) + " bytes, out of bounds");
            if (m_input.size() - at - HeaderLength < length)
                break;
            handle(limits->type, header + HeaderLength, length);
            at += HeaderLength + length;
        }
        m_input.erase(m_input.begin(), m_input.begin() + static_cast<ptrdiff_t>(at));
    }

    void handle(MessageType type, const uint8_t *payload, uint32_t length)
    {
        switch (type) {
        case MessageType::Open: open(true); break;
        case MessageType::Resume: open(false); break;
        case MessageType::Send: send(payload, length); break;
        case MessageType::Park: m_pushing = false; break;
        case MessageType::Confirm: toCaller.tell(MessageType::Confirmed); break;
        default: refuse("unknown request");
        }
    }

    // Told how it went (Open), or only when it failed (Resume).
    void open(bool answer)
    {
        m_pushing = false;
        ++m_opening;
        // The parked capture stays bound to the interface that was checked; the check is made
        // again whenever a capture is made afresh, since a name may come back on another
        // interface.
        if (!answer && m_link.resumeParked()) {
            m_pushing = true;
            return;
        }
        requireTap(m_name, m_opening);
        const LinkOpening opening = m_link.open();
        if (!opening.opened)
            return toCaller.tellError(MessageType::Failure, m_opening, opening.error);
        m_pushing = m_link.selectableFd() >= 0;
        if (!answer)
            return;
        std::string lines;
        for (const std::string &warning : opening.warnings)
            lines += (lines.empty() ? "" : "\n") + warning;
        lines.resize(std::min<size_t>(lines.size(), MostTextLength));
        toCaller.tell(MessageType::Opened, reinterpret_cast<const uint8_t *>(lines.data()),
                      static_cast<uint32_t>(lines.size()));
    }

    void send(const uint8_t *frame, uint32_t length)
    {
        if (!allZero(frame, AddressBytes))
            refuse("refused to send a frame whose addresses are not all zero");
        if (const std::optional<LinkError> refused = m_link.send(frame, static_cast<int>(length)))
            toCaller.tellError(MessageType::NotSent, m_opening, *refused);
    }

    const std::string m_name;
    PcapFrameLink m_link;
    uint32_t m_opening = 0;  // Opens and Resumes taken
    bool m_pushing = false;  // between a good Open and a Park or a failed capture
    std::vector<uint8_t> m_input;  // what the caller wrote and the helper has not yet handled
    std::vector<uint8_t> m_readBuffer = std::vector<uint8_t>(ReadSize);
};

}  // namespace

int main(int argc, char **argv)
{
    // Nothing of the caller's environment may steer what runs with the privilege.
    ::clearenv();
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (fifocapture::requested(arguments))
        return fifocapture::run(arguments);
    // A caller that went away is noticed by the failed write, and ends the helper with status 0.
    std::signal(SIGPIPE, SIG_IGN);
    if (argc != 2)
        refuse("usage: kalvessa100-link <interface>");
    const std::string name = argv[1];
    if (name.empty() || name.size() >= IF_NAMESIZE || name.find('/') != std::string::npos)
        refuse("not an interface name: " + name);
    requireTap(name);

    Service(name).run();
}
