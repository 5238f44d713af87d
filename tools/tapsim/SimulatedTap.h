#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <random>

#include <pcap/pcap.h>

#include "JunkSource.h"
#include "TapOptions.h"
#include "TapProtocol.h"

namespace tapsim {

class CaptureLink;
class FrameRecorder;
class StateFiles;
class TapState;

// The tap's main loop: waits (without polling) for frames, signals and due replies, records
// and carries out what arrives, and sends replies with whatever faults the options ask for.
class SimulatedTap
{
public:
    SimulatedTap(const TapOptions &options, CaptureLink &link, TapState &state,
                 FrameRecorder *recorder, const StateFiles *stateFiles);

    // Runs until SIGTERM/SIGINT (exit code 0) or until the capture fails, for example because
    // the interface went away (exit code 3). The state is saved either way.
    int run();

private:
    using Clock = std::chrono::steady_clock;
    struct PendingReply
    {
        Clock::time_point due;
        Reply reply;
        std::array<uint8_t, MaxFrameLength> request;
        int requestLength;
    };

    static void onFrame(u_char *user, const pcap_pkthdr *header, const u_char *bytes);
    void handleFrame(const pcap_pkthdr &header, const uint8_t *bytes);
    bool shouldDrop();
    void sendDueReplies(Clock::time_point now);
    void sendReply(const PendingReply &pending);
    void sendBackground(Clock::time_point now);
    void sendJunk(Clock::time_point now);
    bool nextWake(Clock::time_point now, Clock::duration *wait) const;
    void saveState();
    int finish(int exitCode);

    const TapOptions &m_options;
    CaptureLink &m_link;
    TapState &m_state;
    TapProtocol m_protocol;
    FrameRecorder *m_recorder;
    const StateFiles *m_stateFiles;

    std::deque<PendingReply> m_pending;
    std::optional<Reply> m_previousReply;
    unsigned long long m_commandCount = 0;
    std::mt19937 m_random;
    std::uniform_real_distribution<double> m_unit{0.0, 1.0};
    Clock::duration m_backgroundPeriod{};
    Clock::time_point m_nextBackground;
    uint32_t m_backgroundSequence = 0;
    std::optional<JunkSource> m_junk;  // only with a junk rate
    Clock::time_point m_nextJunk;
    unsigned m_stateSaves = 0;
};

}  // namespace tapsim
