#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <sys/time.h>

#include "JunkSource.h"
#include "TapOptions.h"
#include "TapProtocol.h"

namespace tapsim {

class StateFiles;
class TapState;

// Where the tap's own frames go: onto a veth pair, or straight to a host's link in-process.
class TapWire
{
public:
    virtual ~TapWire() = default;
    virtual bool send(const uint8_t *bytes, int length) = 0;
};

// Where the frames the tap received are written down.
class FrameLog
{
public:
    virtual ~FrameLog() = default;
    virtual void record(const timeval &time, int wireLength, const uint8_t *bytes,
                        int capturedLength) = 0;
};

// The tap's behaviour on the wire, whatever carries its frames: records and carries out what
// arrives, and sends replies (when due) with whatever faults the options ask for, background
// traffic and junk. Its owner hands it every frame as it arrives and calls advance() whenever
// nextWake() comes; the time it is given is the steady clock's.
class SimulatedTap
{
public:
    using Clock = std::chrono::steady_clock;

    SimulatedTap(const TapOptions &options, TapWire &wire, TapState &state, FrameLog *log,
                 const StateFiles *stateFiles);

    // Saves the state and starts the background traffic and junk at `now`.
    void start(Clock::time_point now);
    // A frame that reached the tap, as captured. A sync frame is not recorded: its nonce is
    // returned, once the state has been saved when the frame asks for it.
    std::optional<uint32_t> take(const timeval &time, int wireLength, const uint8_t *bytes,
                                 int captured);
    // Sends whatever is due by `now`: delayed replies, background traffic, junk.
    void advance(Clock::time_point now);
    // When advance() next has something to send; nothing while only a frame can bring work.
    std::optional<Clock::time_point> nextWake() const;
    void saveState();
    // The tap is power-cycled (its link went down): replies not sent yet are lost, and it
    // starts what its flash holds (TapProtocol::restart).
    void restart();
    int generation() const { return m_protocol.generation(); }

private:
    struct PendingReply
    {
        Clock::time_point due;
        Reply reply;
        std::array<uint8_t, MaxFrameLength> request;
        int requestLength;
        bool holdBack = false;  // goes out behind the next reply
        bool copy = false;  // a duplicate: the reply alone, none of the frames ahead of it
    };

    bool shouldDrop();
    bool chance(double fraction);
    Clock::duration replyDelay();
    void schedule(const PendingReply &pending);
    void sendDueReplies(Clock::time_point now);
    void sendReply(const PendingReply &pending);
    void sendBackground(Clock::time_point now);
    void sendJunk(Clock::time_point now);

    const TapOptions &m_options;
    TapWire &m_wire;
    TapState &m_state;
    TapProtocol m_protocol;
    FrameLog *m_log;
    const StateFiles *m_stateFiles;

    std::deque<PendingReply> m_pending;  // by due time
    std::optional<PendingReply> m_heldBack;
    std::optional<Reply> m_previousReply;
    unsigned long long m_commandCount = 0;
    std::mt19937 m_random;
    std::uniform_real_distribution<double> m_unit{0.0, 1.0};
    Clock::duration m_backgroundPeriod{};
    Clock::time_point m_nextBackground;
    uint32_t m_backgroundSequence = 0;
    std::optional<JunkSource> m_junk;  // only with a junk rate
    Clock::time_point m_nextJunk;
};

}  // namespace tapsim
