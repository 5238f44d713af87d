#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <pcap/pcap.h>

#include "FrameLink.h"

// The direct capture: libpcap on the interface, in this process, which then needs the capture
// privilege. Parking keeps the kernel's capture (and its ring) while frames are thrown away on
// the next open; a parked capture whose interface went away is dropped and opened afresh.
class PcapFrameLink : public FrameLink
{
public:
    static constexpr int SnapshotLength = 65536;
    static constexpr int Promiscuous = 1;
    static constexpr int ReadTimeoutMs = 10;
    static constexpr const char *FilterExpression = "ether host 00:00:00:00:00:00";

    explicit PcapFrameLink(std::string interfaceName);
    ~PcapFrameLink() override;
    PcapFrameLink(const PcapFrameLink &) = delete;
    PcapFrameLink &operator=(const PcapFrameLink &) = delete;

    LinkOpening open() override;
    std::optional<LinkError> send(const uint8_t *bytes, int length) override;
    LinkReception receive(int timeoutMs) override;
    void close() override {}
    void release() override;
    // Empties the parked capture, as open() does; false when there is none that still works
    // (given up then), and only open() can make one.
    bool resumeParked();
    // Hands every frame captured by now to `take`, up to `most` of them, without waiting and
    // without a system call for each: what a reader that was told the capture is readable
    // wants, where receive() would ask the kernel once more for every frame after the last.
    // The reason once the capture failed, else nothing. The bytes are valid only during the
    // call of `take`.
    using FrameTaker = std::function<void(const LinkReception &)>;
    std::optional<LinkError> takeWaiting(int most, const FrameTaker &take);
    // What to poll for the next frame while the capture is open; -1 otherwise.
    int selectableFd() const { return m_selectableFd; }

private:
    struct PcapCloser
    {
        void operator()(pcap_t *p) const { pcap_close(p); }
    };

    LinkOpening openCapture();
    // Empties the parked capture; false when it no longer works.
    bool discardWaitingFrames();
    // The library's text, told as a vanished or downed interface when the kernel says so.
    LinkError failure(const char *text) const;

    const std::string m_name;
    std::unique_ptr<pcap_t, PcapCloser> m_handle;
    int m_selectableFd = -1;  // belongs to m_handle
    std::vector<std::string> m_warnings;  // of m_handle's activation
};
