// kalvessa100-link: the one program that carries the capture privilege (CAP_NET_RAW), so that
// no program linking a GUI toolkit, whose plugins the user's environment can name, ever does.
// It opens the capture on one tap's interface, sends the tap's control frames and passes back
// the frames the session's filter admits, over the framing in LinkHelperFraming.h. Nothing here
// loads plugins or takes a path or a behaviour from the environment.
//
// Usage: kalvessa100-link <interface>    (standard input and output: the caller's socket)
//        kalvessa100-link --fifo PATH [--filter EXPRESSION] <interface>    (see FifoCapture.h)

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <net/if.h>
#include <unistd.h>

#include "FifoCapture.h"
#include "HardwareAddress.h"
#include "LinkHelperFraming.h"
#include "PcapFrameLink.h"

using namespace linkhelper;

namespace {

constexpr int CallerIn = STDIN_FILENO;
constexpr int CallerOut = STDOUT_FILENO;

bool writeAll(const std::vector<uint8_t> &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(CallerOut, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

[[noreturn]] void refuse(const std::string &reason)
{
    std::fprintf(stderr, "kalvessa100-link: %s\n", reason.c_str());
    std::exit(RefusedStatus);
}

// The caller has gone when it cannot be told any more.
void tell(const std::vector<uint8_t> &message)
{
    if (!writeAll(message))
        std::exit(0);
}

void tellFailure(const LinkError &error)
{
    const uint8_t kind = static_cast<uint8_t>(error.kind);
    const uint32_t length =
        static_cast<uint32_t>(std::min<size_t>(error.text.size(), MostTextLength));
    tell(message(MessageType::Failure, &kind, 1,
                 reinterpret_cast<const uint8_t *>(error.text.data()), length));
}

// Reads exactly `length` bytes; false at the end of input before the first, exits when the
// input ends part-way.
bool readAll(uint8_t *out, size_t length, const char *what)
{
    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::read(CallerIn, out + done, length - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            refuse(std::string("cannot read the request: ") + std::strerror(errno));
        if (n == 0) {
            if (done == 0)
                return false;
            refuse(std::string(what) + " cut short");
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Refused (told to the caller, then the helper ends) unless the interface carries the tap's
// prefix; checked at every open, since a name may come back on another interface.
void requireTap(const std::string &name)
{
    uint8_t address[HardwareAddressLength];
    if (!readHardwareAddress(name.c_str(), address)) {
        // In the capture library's words, as a capture opened directly would tell it.
        const char *reason = pcap_statustostr(PCAP_ERROR_NO_SUCH_DEVICE);
        tellFailure({LinkError::Kind::InterfaceGone, reason});
        refuse(name + ": " + reason);
    }
    if (!isTapAddress(address)) {
        const std::string reason = name
            + " is not a Kalvessa 100 tap (its address does not start"
              " with 00:0e:c6)";
        tellFailure({LinkError::Kind::NotATap, reason});
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

void receive(PcapFrameLink &link, uint32_t waitMs)
{
    // More than the ring holds: a line that floods us with frames the filter should have
    // dropped is not read forever.
    constexpr int MostPassedOver = 1024;
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    for (int passedOver = 0; passedOver <= MostPassedOver; ++passedOver) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        const LinkReception got =
            link.receive(static_cast<int>(std::max<int64_t>(0, left.count())));
        if (got.result == LinkReception::Result::Failed)
            return tellFailure(got.error);
        if (got.result == LinkReception::Result::Quiet)
            return tell(message(MessageType::Quiet, nullptr, 0));
        if (admitted(got)) {
            std::vector<uint8_t> wireLength;
            appendCount(wireLength, static_cast<uint32_t>(std::max(got.length, got.captured)));
            return tell(message(MessageType::Frame, wireLength.data(), CountLength, got.bytes,
                                static_cast<uint32_t>(got.captured)));
        }
    }
    tell(message(MessageType::Quiet, nullptr, 0));
}

void open(PcapFrameLink &link, const std::string &name)
{
    requireTap(name);
    const LinkOpening opening = link.open();
    if (!opening.opened)
        return tellFailure(opening.error);
    std::string lines;
    for (const std::string &warning : opening.warnings)
        lines += (lines.empty() ? "" : "\n") + warning;
    lines.resize(std::min<size_t>(lines.size(), MostTextLength));
    tell(message(MessageType::Opened, reinterpret_cast<const uint8_t *>(lines.data()),
                 static_cast<uint32_t>(lines.size())));
}

void send(PcapFrameLink &link, const std::vector<uint8_t> &frame)
{
    if (!allZero(frame.data(), AddressBytes))
        refuse("refused to send a frame whose addresses are not all zero");
    if (const std::optional<LinkError> refused =
            link.send(frame.data(), static_cast<int>(frame.size())))
        return tellFailure(*refused);
    tell(message(MessageType::Sent, nullptr, 0));
}

}  // namespace

int main(int argc, char **argv)
{
    // Nothing of the caller's environment may steer what runs with the privilege.
    ::clearenv();
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (fifocapture::requested(arguments))
        return fifocapture::run(arguments);
    if (argc != 2)
        refuse("usage: kalvessa100-link <interface>");
    const std::string name = argv[1];
    if (name.empty() || name.size() >= IF_NAMESIZE || name.find('/') != std::string::npos)
        refuse("not an interface name: " + name);
    requireTap(name);

    PcapFrameLink link(name);
    std::vector<uint8_t> payload;
    for (;;) {
        uint8_t header[HeaderLength];
        if (!readAll(header, sizeof header, "request header"))
            return 0;
        const std::optional<MessageLimits> limits = limitsOf(header[0], true);
        if (!limits)
            refuse("unknown request " + std::to_string(header[0]));
        const uint32_t length = readCount(header + 1);
        if (length < limits->least || length > limits->most)
            refuse("request of " + std::to_string(length) + " bytes, out of bounds");
        payload.resize(length);
        if (length > 0 && !readAll(payload.data(), length, "request"))
            refuse("request cut short");

        switch (limits->type) {
        case MessageType::Open: open(link, name); break;
        case MessageType::Send: send(link, payload); break;
        case MessageType::Receive: {
            const uint32_t waitMs = readCount(payload.data());
            if (waitMs > MostWaitMs)
                refuse("a wait of " + std::to_string(waitMs) + " ms is too long");
            receive(link, waitMs);
            break;
        }
        default: refuse("unknown request");
        }
    }
}
