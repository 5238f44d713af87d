#pragma once

#include <chrono>
#include <string>
#include <vector>

#include <sys/types.h>

#include "FrameLink.h"
#include "LinkHelperFraming.h"

// A capture through kalvessa100-link, the helper that alone carries the capture privilege, run
// as a child on a socket pair (its standard input and output). Parked, the helper keeps its
// capture; released, it is ended. Whatever the helper says or fails to say is checked as a frame
// from the line would be: every length against its limit, every wait bounded; a helper that
// breaks the framing or stops answering is ended and its reason reported.
class HelperFrameLink : public FrameLink
{
public:
    // `helperPath` is run as it is named, never looked up on a PATH.
    HelperFrameLink(std::string interfaceName, std::string helperPath);
    ~HelperFrameLink() override;
    HelperFrameLink(const HelperFrameLink &) = delete;
    HelperFrameLink &operator=(const HelperFrameLink &) = delete;

    LinkOpening open() override;
    std::optional<LinkError> send(const uint8_t *bytes, int length) override;
    LinkReception receive(int timeoutMs) override;
    void close() override {}
    void release() override;

    // The helper this program runs: one built beside it, else the package's.
    static std::string helperPath();

private:
    using Clock = std::chrono::steady_clock;
    struct Reply
    {
        linkhelper::MessageType type{};
        std::vector<uint8_t> payload;
    };

    std::optional<LinkError> start();
    // Sends a request and waits for its answer until `deadline`; an error once the helper broke
    // the framing, went away or stayed silent (it is ended then).
    std::optional<LinkError> exchange(linkhelper::MessageType type, const uint8_t *payload,
                                      uint32_t length, Clock::time_point deadline, Reply *reply);
    bool readAll(uint8_t *out, size_t length, Clock::time_point deadline);
    // Ends the helper and tells why it can serve no more, in its own words where it left any.
    LinkError helperLost(const std::string &what);
    static LinkError failureOf(const Reply &reply);

    const std::string m_name;
    const std::string m_helper;
    pid_t m_pid = -1;
    int m_socket = -1;  // ours of the pair
    int m_errors = -1;  // the read end of the helper's standard error
    std::vector<uint8_t> m_frame;  // the last frame received
};
