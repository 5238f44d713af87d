#pragma once

#include <chrono>
#include <deque>
#include <string>
#include <vector>

#include <sys/types.h>

#include "FrameLink.h"
#include "LinkHelperFraming.h"

// A capture through kalvessa100-link, the helper that alone carries the capture privilege, run
// as a child on a socket pair (its standard input and output). The helper pushes the frames as
// it captures them, so that a receive waits on the socket alone and an exchange costs the
// helper's two hops and no round trip of its own:
//   - a send is not waited for; a frame the helper could not send is told by the next receive,
//     and again by the next send, and confirmSent() waits for the helper's word on every frame;
//   - a parked capture that opened before is resumed with the next request, without a wait;
//     should that fail, the next receive, confirmSent() or send tells it.
// Parked, the helper keeps its capture but pushes nothing; released, it is ended. Whatever the
// helper says or fails to say is checked as a frame from the line would be: every length against
// its limit, every wait bounded; a helper that breaks the framing or stops answering is ended
// and its reason reported.
class HelperFrameLink : public FrameLink
{
public:
    // Frames that arrive while confirmSent() waits are kept for receive(), up to this many.
    static constexpr size_t MostKeptFrames = 1024;

    // `helperPath` is run as it is named, never looked up on a PATH.
    HelperFrameLink(std::string interfaceName, std::string helperPath);
    ~HelperFrameLink() override;
    HelperFrameLink(const HelperFrameLink &) = delete;
    HelperFrameLink &operator=(const HelperFrameLink &) = delete;

    LinkOpening open() override;
    std::optional<LinkError> send(const uint8_t *bytes, int length) override;
    std::optional<LinkError> confirmSent() override;
    LinkReception receive(int timeoutMs) override;
    void close() override;
    void release() override;

    // Frames the helper captured but dropped because this side read too slowly, since the link
    // was made; each opening that lost any says so as a warning of the device layer.
    uint64_t droppedFrames() const { return m_dropped; }

    // The helper this program runs: one built beside it, else the package's.
    static std::string helperPath();

private:
    using Clock = std::chrono::steady_clock;
    // Points into m_input: valid until the next read from the helper.
    struct Message
    {
        linkhelper::MessageType type{};
        const uint8_t *payload = nullptr;
        uint32_t length = 0;
    };
    enum class Waited { Message, Quiet, Lost };
    enum class Read { Some, Nothing, Closed };
    // What a message the caller did not ask for means here.
    enum class Heard { Frame, Nothing, Failed };

    std::optional<LinkError> start();
    LinkOpening openAnew();
    // Adds a request to those not yet written; all go in one write, with the next post().
    void ask(linkhelper::MessageType type, const uint8_t *payload = nullptr, uint32_t length = 0);
    // Writes what was asked; false once the helper takes no more.
    bool post();
    // The helper's next message, or Quiet at `deadline`, or Lost (with the reason, the helper
    // ended) once it broke the framing, went away or left a message half told.
    Waited next(Clock::time_point deadline, Message *message, LinkError *lost);
    Read readMore(Clock::time_point deadline);
    // Takes in a frame, a mark or a failure the helper pushed; Failed with *error set when it
    // tells the link's end.
    Heard hear(const Message &message, LinkError *error);
    LinkReception frameOf(const uint8_t *payload, uint32_t length);
    // Whether a frame or failure belongs to the latest opening.
    bool current(const Message &message) const;
    // Ends the helper and tells why it can serve no more, in its own words where it left any.
    LinkError helperLost(const std::string &what);
    static LinkError errorOf(const Message &message);
    // Counts frames lost to a slow reader, and says so.
    void noteDropped(uint32_t count);
    // The frames dropped and not yet told as a warning, if any.
    void tellDropped();

    const std::string m_name;
    const std::string m_helper;
    pid_t m_pid = -1;
    int m_socket = -1;  // ours of the pair
    int m_errors = -1;  // the read end of the helper's standard error
    std::vector<uint8_t> m_request;  // asked, not yet written
    std::vector<uint8_t> m_input;  // from the helper; [m_inputStart, m_inputEnd) not yet taken
    size_t m_inputStart = 0;
    size_t m_inputEnd = 0;
    std::optional<Clock::time_point> m_partSince;  // when a message began to arrive in parts
    std::vector<uint8_t> m_frame;  // the last frame received
    std::deque<std::vector<uint8_t>> m_kept;  // frames (as their payload) confirmSent() set aside
    std::vector<std::string> m_warnings;  // of the helper's Opened, told by every resume
    bool m_opened = false;  // the helper opened the capture once: it can be resumed
    bool m_parked = false;
    uint32_t m_opening = 0;  // the number of the latest Open or Resume, as the helper counts them
    bool m_unconfirmed = false;  // frames sent since the helper last confirmed
    // The capture stopped delivering: told by every receive until the next open, as a broken
    // capture of our own would keep telling it.
    std::optional<LinkError> m_captureFailed;
    // A frame the helper could not send, or a resume that failed: told again by the next send,
    // so that whoever waits out a vanished interface before sending again does so.
    std::optional<LinkError> m_notSent;
    // A request went out whose answer has not come: the helper cannot have pushed it within
    // the microseconds since, so the socket is waited on without a look first.
    bool m_answerDue = false;
    uint64_t m_dropped = 0;
    uint64_t m_droppedUntold = 0;
    bool m_droppedWarned = false;  // this opening's first drop was told
};
