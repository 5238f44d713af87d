#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <random>
#include <vector>

#include "TapProtocol.h"

namespace tapsim {

// Zero-address frames that are not the tap's answer to anything, as the monitored network may
// put them on the tap's interface by accident or on purpose. Each passes a host's zero-address
// filter; random frames and replays also pass the header test a reply must pass.
enum class JunkKind {
    Random,  // zero header, random length of 16 or more, random code and payload
    Runt,  // zero addresses, shorter than a frame that can carry a code
    Replay,  // an exact copy of a reply the tap sent before
    // Zero header and one of the tap's own reply codes, random address and value: what a host
    // cannot tell from an answer by its code alone.
    Protocol,
};

// The junk frames of --junk-rate and the random times between them. Everything it draws comes
// from its own generator, so a seed repeats the run; only what a replay copies depends on the
// replies the tap happened to send.
class JunkSource
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int MinRuntLength = 14;  // the kernel sends nothing shorter than a header
    static constexpr int RepliesKept = 64;

    JunkSource(std::vector<JunkKind> kinds, double framesPerSecond, uint32_t seed);

    // A reply as the tap sent it, for replays later.
    void remember(const Reply &reply);
    // The next junk frame; length 0 when the kind drawn has nothing to send (no reply to replay).
    Reply next();
    // Time until the frame after this one: exponentially distributed around 1 / rate, so that
    // junk comes at random moments, now and then in bursts, rather than in step with anything.
    Clock::duration nextGap();

private:
    void randomBytes(Reply &frame, int from);
    template <typename T> T draw(T from, T to);  // evenly, both ends included

    const std::vector<JunkKind> m_kinds;
    std::mt19937 m_random;
    std::exponential_distribution<double> m_gapSeconds;
    std::vector<Reply> m_replies;  // a ring of the last RepliesKept replies
    size_t m_nextSlot = 0;
};

}  // namespace tapsim
