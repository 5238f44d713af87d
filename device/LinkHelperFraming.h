#pragma once

#include <cstdint>
#include <optional>
#include <vector>

// How a program talks to kalvessa100-link, the small helper that alone carries the capture
// privilege. The helper's standard input and output are one end of a stream socket; the caller
// asks, the helper answers each request with exactly one message, in order.
//
// Every message is a header of five bytes, then its payload:
//   byte 0      the type (one of MessageType)
//   bytes 1..4  the payload's length, big-endian; within the type's limits in messageLimits
//
//   Open     ''                       -> Opened (warnings, one per '\n'-separated line) | Failure
//   Send     the frame                -> Sent ('') | Failure
//   Receive  wait in ms (4 bytes, BE) -> Frame (wire length, 4 bytes BE; then the captured
//                                        bytes) | Quiet ('') | Failure
//   Failure  one byte LinkError::Kind, then the reason (text)
//
// Whatever breaks the framing (a header or payload cut short, a length out of the type's
// limits, an unknown type, a frame whose addresses are not all zero, a wait over MostWaitMs)
// ends the helper with RefusedStatus and one line on its standard error; so does an interface
// that is not a tap, after a Failure saying so. The end of its input ends it with status 0:
// the caller went away.
namespace linkhelper {

enum class MessageType : uint8_t {
    Open = 'O',
    Send = 'S',
    Receive = 'R',
    Opened = 'o',
    Sent = 's',
    Frame = 'f',
    Quiet = 'q',
    Failure = 'e',
};

constexpr int HeaderLength = 5;
constexpr int RefusedStatus = 2;
// A capture's snapshot length: no frame we send or pass on is longer.
constexpr uint32_t MostFrameLength = 65536;
constexpr uint32_t LeastFrameLength = 14;  // the Ethernet header
constexpr uint32_t AddressBytes = 12;  // destination and source, both all zero
constexpr uint32_t MostTextLength = 4096;
constexpr uint32_t MostWaitMs = 60000;
constexpr uint32_t CountLength = 4;

struct MessageLimits
{
    MessageType type;
    bool request;  // from the caller to the helper
    uint32_t least;
    uint32_t most;
};

constexpr MessageLimits messageLimits[] = {
    {MessageType::Open, true, 0, 0},
    {MessageType::Send, true, LeastFrameLength, MostFrameLength},
    {MessageType::Receive, true, CountLength, CountLength},
    {MessageType::Opened, false, 0, MostTextLength},
    {MessageType::Sent, false, 0, 0},
    {MessageType::Frame, false, CountLength, CountLength + MostFrameLength},
    {MessageType::Quiet, false, 0, 0},
    {MessageType::Failure, false, 1, 1 + MostTextLength},
};

// The limits of a type travelling in that direction; nothing for a type that may not.
inline std::optional<MessageLimits> limitsOf(uint8_t type, bool request)
{
    for (const MessageLimits &limits : messageLimits) {
        if (static_cast<uint8_t>(limits.type) == type && limits.request == request)
            return limits;
    }
    return std::nullopt;
}

inline uint32_t readCount(const uint8_t *bytes)
{
    return (uint32_t(bytes[0]) << 24) | (uint32_t(bytes[1]) << 16) | (uint32_t(bytes[2]) << 8)
        | uint32_t(bytes[3]);
}

inline void appendCount(std::vector<uint8_t> &out, uint32_t count)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(count >> shift));
}

// A whole message: header and payload.
inline std::vector<uint8_t> message(MessageType type, const uint8_t *payload, uint32_t length,
                                    const uint8_t *more = nullptr, uint32_t moreLength = 0)
{
    std::vector<uint8_t> out;
    out.reserve(HeaderLength + length + moreLength);
    out.push_back(static_cast<uint8_t>(type));
    appendCount(out, length + moreLength);
    if (length > 0)
        out.insert(out.end(), payload, payload + length);
    if (moreLength > 0)
        out.insert(out.end(), more, more + moreLength);
    return out;
}

}  // namespace linkhelper
