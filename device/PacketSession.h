#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "FrameLink.h"

// Raw-frame access to one named interface: the frames to or from the all-zero MAC address,
// through a FrameLink (a capture of the interface's own unless another is given). Opened and
// closed around every device operation; closing parks the link, so a closed session delivers
// nothing and a reopened one never shows what came while it was closed.
//
// A parked capture still costs the host something for every frame the interface receives, and
// keeps it promiscuous, so the session's owner gives it up once it has stood idle for
// IdleReleaseMs (releaseIfIdle()); the next open() sets it up afresh. Only the owner does that,
// between operations, so a run of exchanges (a firmware update) keeps one capture throughout.
class PacketSession
{
public:
    using Clock = std::chrono::steady_clock;

    static constexpr int ReadTimeoutMs = 10;
    // Long enough that the exchanges of one request, and a request that follows at once, share
    // a capture; short enough that an idle tool soon costs nothing.
    static constexpr int IdleReleaseMs = 2000;

    explicit PacketSession(const char *interfaceName, std::unique_ptr<FrameLink> link = nullptr);
    ~PacketSession();
    PacketSession(const PacketSession &) = delete;
    PacketSession &operator=(const PacketSession &) = delete;

    // Prints "Cannot open interface : <reason>" on standard output when the link cannot be
    // opened; the reason is also kept in lastError().
    bool open();
    // Returns the length passed in once the link took the frame, -1 otherwise (the reason is
    // then in lastError()).
    int send(const uint8_t *frameBytes, int length);
    // Whether every frame sent since open() has left, where the link hands them on without
    // waiting (the reason, when not, in lastError()); only for frames no answer will follow.
    bool confirmSent();
    // A frame, or Quiet when the line stayed quiet for timeoutMs (0: only what is already
    // waiting), or Failed (also on a closed session; the reason also in lastError()). The
    // frame's bytes belong to the link and stay valid until the next receive() or close().
    LinkReception receive(int timeoutMs = ReadTimeoutMs);
    void close();
    bool isOpen() const { return m_open; }
    // Tears the link down for good (also done on destruction); the next open() starts afresh.
    void release();
    // Releases a capture that has been parked for IdleReleaseMs by `now`; whether it did.
    bool releaseIfIdle(Clock::time_point now = Clock::now());
    // Milliseconds from `now` until releaseIfIdle() will release the capture (0: due), or -1
    // while there is none to release: never opened, released, or open.
    int msUntilIdleRelease(Clock::time_point now = Clock::now()) const;

    bool hardwareAddress(uint8_t *out) const;
    const char *name() const { return m_name.c_str(); }
    // The reason for the last failed open(), send() or receive(); cleared by a good open().
    const std::string &lastError() const { return m_lastError.text; }
    LinkError::Kind lastErrorKind() const { return m_lastError.kind; }
    // What the last good open() had to settle for, in the capture library's words, each led by
    // the interface's name as tcpdump tells them ("kvtap0: <warning>").
    const std::vector<std::string> &openWarnings() const { return m_warnings; }
    // The interface's MTU, from the link or else from the kernel; 0 when it cannot be told.
    int mtu() const;
    // A quiet session logs nothing when open() fails (the reason is still kept), for a
    // caller that retries every second and says so only when the reason changes.
    void setQuiet(bool quiet) { m_quiet = quiet; }
    bool isQuiet() const { return m_quiet; }
    // Logs "Cannot open interface : <lastError()>" as a warning of the device layer.
    void reportOpenFailure() const;

private:
    const std::string m_name;
    const std::unique_ptr<FrameLink> m_link;
    LinkError m_lastError;
    std::vector<std::string> m_warnings;
    bool m_open = false;
    bool m_holding = false;  // a good open() since the last release()
    Clock::time_point m_parkedAt;  // when the capture was last closed
    bool m_quiet = false;
};
