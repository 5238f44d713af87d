#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "FrameLink.h"

class PacketSession;

// Carries one exchange with the tap over an interface that goes down or away for as long as a
// replug takes: a USB adapter that is pulled and put back, or reset by the host, leaves and
// comes back within a few seconds, and an operation should not fail for that. Anything that
// waiting cannot mend (a frame longer than the MTU, no privilege) ends the exchange at once,
// and so does an interface that stays away longer than the grace.
//
// The grace runs from the first time the interface is found down or gone, once per exchange,
// so no exchange waits longer than GraceMs for its interface.
class LinkRecovery
{
public:
    // The adapter's re-enumeration and the interface being brought up again take one or two
    // seconds; this leaves room for a slow host without keeping anyone waiting long.
    static constexpr int GraceMs = 5000;
    static constexpr int RetryEveryMs = 100;

    enum class Sent {
        Yes,
        Lost,  // refused for a reason that may pass: the caller counts it as unanswered
        Never,  // cannot go: error() says why
    };

    explicit LinkRecovery(PacketSession &session);

    // Opens the session, waiting out an interface that is down or gone. False with error()
    // when it cannot be opened. Logs a failure once, as the session would.
    bool open();
    // With Confirm::Yes, Yes only once the link has seen the frame leave: for a frame no answer
    // will follow.
    enum class Confirm { No, Yes };
    Sent send(const uint8_t *bytes, int length, Confirm confirm = Confirm::No);
    // Whether a failed receive is the interface going down or away while the grace lasts: the
    // exchange then goes on with its next send, which waits for the interface to come back.
    bool mayRecover(const LinkError &error);

    const LinkError &error() const { return m_error; }

private:
    using Clock = std::chrono::steady_clock;

    // Waits a little when the error is one the interface may come back from within the grace;
    // false when it is not, or the grace is over.
    bool waitOut(const LinkError &error);
    bool withinGrace(const LinkError &error);

    PacketSession &m_session;
    std::optional<Clock::time_point> m_deadline;
    LinkError m_error;
};
