#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <sys/time.h>

#include "SimulatedTap.h"

namespace tapsim {

// Records both sides of the wire as a pcap file (Ethernet): every frame the tap received and
// every frame it sent, in order, so the exchanges can be read in Wireshark with the tap's
// dissector. It stands between the tap and its wire, and hands what the tap received on to the
// text record too, when there is one; each record is flushed as it is written.
class ExchangeRecorder
    : public FrameLog
    , public TapWire
{
public:
    // Truncates the file and writes the pcap header. isOpen() says whether that worked.
    ExchangeRecorder(const std::string &path, TapWire &wire, FrameLog *received);
    bool isOpen() const { return m_file != nullptr; }

    void record(const timeval &time, int wireLength, const uint8_t *bytes,
                int capturedLength) override;
    bool send(const uint8_t *bytes, int length) override;

private:
    void write(const timeval &time, int wireLength, const uint8_t *bytes, int capturedLength);

    struct Closer
    {
        void operator()(FILE *f) const { std::fclose(f); }
    };
    TapWire &m_wire;
    FrameLog *m_received;
    std::unique_ptr<FILE, Closer> m_file;
};

}  // namespace tapsim
