#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <pcap/pcap.h>

#include "SimulatedTap.h"

namespace tapsim {

// The tap's end of the wire: a non-blocking immediate-mode capture of incoming frames sent to
// the all-zero MAC address, which also sends the tap's own frames.
class CaptureLink : public TapWire
{
public:
    // The kernel gives every frame a ring slot of the snapshot length, so a snapshot far above
    // the largest frame on the wire (1514 bytes at the usual MTU) would leave room for only a
    // few dozen frames and drop the rest of a burst.
    static constexpr int SnapshotLength = 4096;
    static constexpr int BufferBytes = 16 * 1024 * 1024;
    static constexpr const char *Filter = "ether dst 00:00:00:00:00:00";

    // False with error() set when the interface cannot be captured on.
    bool open(const std::string &interfaceName);
    const std::string &error() const { return m_error; }

    int selectableFd() const;
    // Hands every frame waiting in the capture buffer to the callback; negative on a capture
    // error (for example the interface went away).
    int dispatch(pcap_handler callback, u_char *user);
    bool send(const uint8_t *bytes, int length) override;
    // Frames the kernel could not hand over because the capture buffer was full.
    unsigned dropped() const;

private:
    bool fail(const std::string &what);
    struct Closer
    {
        void operator()(pcap_t *p) const { pcap_close(p); }
    };
    std::unique_ptr<pcap_t, Closer> m_handle;
    std::string m_error;
};

}  // namespace tapsim
