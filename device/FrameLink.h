#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Why a link could not do what it was asked: what a caller can act on, and the capture
// library's own words. The kinds keep their values, so that they can cross a pipe as one byte;
// new kinds take new values.
//
// What waiting does to each: Other may pass by itself (a full send queue), so a frame it kept
// from leaving counts as lost; InterfaceDown and InterfaceGone pass when the interface comes
// back (a replug takes a few seconds); the others stay until someone changes the host.
struct LinkError
{
    enum class Kind : uint8_t {
        Other = 0,
        NoPrivilege = 1,  // this process may not capture on, or send through, the interface
        NotATap = 2,  // refused: the interface does not carry the tap's prefix
        InterfaceGone = 3,  // no interface of that name (any more)
        InterfaceDown = 4,  // the interface is there, but not up
        FrameTooLong = 5,  // the frame is longer than the interface's MTU lets through
    };
    Kind kind = Kind::Other;
    std::string text;
};

struct LinkOpening
{
    bool opened = false;
    LinkError error;  // why not, when not opened
    // Opened, but not quite as asked (no promiscuous mode, say), in the capture library's words
    // without the interface's name; told again by every open() of the same capture, so that
    // whoever opens it last still knows.
    std::vector<std::string> warnings;
};

struct LinkReception
{
    enum class Result { Frame, Quiet, Failed };
    Result result = Result::Quiet;
    // Frame: the bytes belong to the link and stay valid until its next receive, close or
    // release. Nothing beyond `captured` bytes may be read, whatever `length` says.
    const uint8_t *bytes = nullptr;
    int captured = 0;
    int length = 0;  // on the wire
    LinkError error;  // Failed
};

// The raw frames of one tap's interface, whatever carries them: the frames to or from the
// all-zero MAC address that reach the interface, except those this link sent itself, as a
// packet capture sees them. Not safe for concurrent use.
//
// close() parks the link rather than tearing it down, since setting a capture up costs far more
// than an exchange: a parked link delivers nothing, and open() throws away whatever arrived
// while it was parked. release() gives everything up; the next open() starts afresh.
class FrameLink
{
public:
    virtual ~FrameLink() = default;

    virtual LinkOpening open() = 0;
    // Only between a good open() and close(); nothing when the frame left.
    virtual std::optional<LinkError> send(const uint8_t *bytes, int length) = 0;
    // For a link that hands frames on without waiting to see them leave: waits until every frame
    // sent since open() has, for a caller that no answer will tell. Nothing when they all left.
    virtual std::optional<LinkError> confirmSent() { return std::nullopt; }
    // The next frame, or Quiet once timeoutMs passed without one (0: only what is waiting).
    virtual LinkReception receive(int timeoutMs) = 0;
    virtual void close() = 0;
    virtual void release() = 0;
    // The interface's MTU where this link knows it better than the kernel does by the interface's
    // name; 0 otherwise.
    virtual int mtu() const { return 0; }
};

// The link a session has when it is given none: a capture of the interface through the capture
// library, in this process where it has the capture privilege (CAP_NET_RAW), else through the
// capture helper, which alone carries it.
std::unique_ptr<FrameLink> makeCaptureLink(const std::string &interfaceName);
