#pragma once

#include <cstdint>
#include <optional>
#include <vector>

// How a program talks to kalvessa100-link, the small helper that alone carries the capture
// privilege. The helper's standard input and output are one end of a stream socket. The helper
// takes the caller's requests in order and, while the capture is open and not parked, pushes
// every frame the session's filter admits as soon as it is captured, so that waiting for a frame
// costs the caller no round trip: it waits on the socket itself.
//
// Every message is a header of five bytes, then its payload:
//   byte 0      the type (one of MessageType)
//   bytes 1..4  the payload's length, big-endian; within the type's limits in messageLimits
//
// From the caller (requests):
//   Open     ''         opens the capture, or empties the parked one; answered by Opened
//                       (warnings, one per '\n'-separated line) or Failure; frames follow
//   Resume   ''         as Open, answered only by a Failure: for a capture that opened before
//   Send     the frame  answered only when the frame could not go: NotSent
//   Park     ''         no frames until the next Open or Resume; not answered
//   Confirm  ''         answered by Confirmed, after the answers to everything asked before it:
//                       what a caller waits for when no answer of the tap's will tell it that
//                       its frames left
// From the helper, besides those answers:
//   Frame          the captured bytes
//   CaptureFailed  the capture stopped delivering; no more frames until the next Open or Resume
//   Dropped        how many admitted frames (4 bytes, BE) did not fit in the helper's bounded
//                  queue since it last said so, because the caller read too slowly; told as
//                  soon as the queue has room again
//
// Frame, Failure, NotSent and CaptureFailed begin with the number of the opening they belong to
// (4 bytes, BE: the count of Opens and Resumes the helper took, the first Open being 1), so that
// what was captured or told before the caller's latest Open or Resume is told apart from what
// came after without a mark in the stream, which would cost the caller a wake-up of its own.
// Then a Frame carries its wire length (4 bytes, BE) and the captured bytes; the others one byte
// LinkError::Kind and the reason (text).
//
// Whatever breaks the framing (a header or payload cut short, a length out of the type's limits,
// an unknown type, a frame whose addresses are not all zero) ends the helper with RefusedStatus
// and one line on its standard error; so does an interface that is not a tap, after a Failure
// saying so. The end of its input ends it with status 0: the caller went away.
namespace linkhelper {

enum class MessageType : uint8_t {
    Open = 'O',
    Resume = 'R',
    Send = 'S',
    Park = 'P',
    Confirm = 'C',
    Opened = 'o',
    Failure = 'e',
    Confirmed = 'k',
    Frame = 'f',
    NotSent = 'n',
    CaptureFailed = 'c',
    Dropped = 'd',
};

constexpr int HeaderLength = 5;
constexpr int RefusedStatus = 2;
// A capture's snapshot length: no frame we send or pass on is longer.
constexpr uint32_t MostFrameLength = 65536;
constexpr uint32_t LeastFrameLength = 14;  // the Ethernet header
constexpr uint32_t AddressBytes = 12;  // destination and source, both all zero
constexpr uint32_t MostTextLength = 4096;
constexpr uint32_t CountLength = 4;
constexpr uint32_t KindLength = 1;
constexpr uint32_t OpeningLength = CountLength;
// The opening's number, then the kind, then the reason.
constexpr uint32_t LeastFailure = OpeningLength + KindLength;
constexpr uint32_t MostFailure = LeastFailure + MostTextLength;
// The opening's number, then the wire length, then the captured bytes.
constexpr uint32_t FrameBytesAt = OpeningLength + CountLength;

struct MessageLimits
{
    MessageType type;
    bool request;  // from the caller to the helper
    uint32_t least;
    uint32_t most;
};

constexpr MessageLimits messageLimits[] = {
    {MessageType::Open, true, 0, 0},
    {MessageType::Resume, true, 0, 0},
    {MessageType::Send, true, LeastFrameLength, MostFrameLength},
    {MessageType::Park, true, 0, 0},
    {MessageType::Confirm, true, 0, 0},
    {MessageType::Opened, false, 0, MostTextLength},
    {MessageType::Failure, false, LeastFailure, MostFailure},
    {MessageType::Confirmed, false, 0, 0},
    {MessageType::Frame, false, FrameBytesAt, FrameBytesAt + MostFrameLength},
    {MessageType::NotSent, false, LeastFailure, MostFailure},
    {MessageType::CaptureFailed, false, LeastFailure, MostFailure},
    {MessageType::Dropped, false, CountLength, CountLength},
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

inline void putCount(uint8_t *out, uint32_t count)
{
    for (uint32_t i = 0; i < CountLength; ++i)
        out[i] = static_cast<uint8_t>(count >> (8 * (CountLength - 1 - i)));
}

// Appends a whole message, header and payload, the payload given in two parts.
inline void appendMessage(std::vector<uint8_t> &out, MessageType type, const uint8_t *payload,
                          uint32_t length, const uint8_t *more = nullptr, uint32_t moreLength = 0)
{
    out.push_back(static_cast<uint8_t>(type));
    appendCount(out, length + moreLength);
    if (length > 0)
        out.insert(out.end(), payload, payload + length);
    if (moreLength > 0)
        out.insert(out.end(), more, more + moreLength);
}

inline std::vector<uint8_t> message(MessageType type, const uint8_t *payload, uint32_t length,
                                    const uint8_t *more = nullptr, uint32_t moreLength = 0)
{
    std::vector<uint8_t> out;
    out.reserve(HeaderLength + length + moreLength);
    appendMessage(out, type, payload, length, more, moreLength);
    return out;
}

}  // namespace linkhelper
