#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "DeviceSettings.h"

// A model, computed on the host, of which frames the tap's packet filter keeps. The tap's own
// rule is not documented, and the simulated tap does not filter; this model takes the tap to
// compare each byte of the settings at a fixed place of the frame as it arrives, as if every
// frame were untagged Ethernet II with a 20-byte IPv4 header at offset 14, whatever its
// EtherType says (a VLAN tag moves the real fields; the model does not follow them). A frame
// too short to hold a compared byte does not match.
//
// The matcher and the libpcap expression are built from the same compared bytes, so a preview
// over a capture file and a capture filter on a plain interface keep the same frames.
class TapFilterModel
{
public:
    enum class Verdict {
        Keep,
        Discard,
        // The capture's snap length cut the frame before a compared byte while the bytes at
        // hand all matched: what the tap did with it cannot be known from the capture.
        Undecided,
    };

    // Where the model takes each compared field to lie in the frame.
    static constexpr size_t EthernetDestinationOffset = 0;
    static constexpr size_t EthernetSourceOffset = 6;
    static constexpr size_t EtherTypeOffset = 12;
    static constexpr size_t Ipv4HeaderOffset = 14;
    static constexpr size_t Ipv4ProtocolOffset = Ipv4HeaderOffset + 9;
    static constexpr size_t Ipv4SourceOffset = Ipv4HeaderOffset + 12;
    static constexpr size_t Ipv4DestinationOffset = Ipv4HeaderOffset + 16;

    explicit TapFilterModel(const DeviceSettings &settings);

    // `frame` holds `capturedLength` bytes of a frame that was `wireLength` long on the link.
    Verdict decide(const uint8_t *frame, size_t capturedLength, size_t wireLength) const;

    // The libpcap filter expression that keeps the frames the model keeps; empty (which libpcap
    // takes as "every frame") when the filter keeps everything. libpcap drops an undecided
    // frame whatever the expression says.
    QString expression() const;

    bool keepsEverything() const;
    // The shortest frame that can match: one past the last compared byte; 0 when none is.
    size_t shortestMatch() const;

private:
    struct ComparedByte
    {
        size_t offset;
        uint8_t value;
    };

    bool m_enabled;
    bool m_keepMatching;
    std::vector<ComparedByte> m_compared;  // in ascending offset
};
