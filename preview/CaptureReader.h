#pragma once

#include <QString>

#include <cstdint>
#include <memory>

struct pcap;

// One capture file (pcap or pcapng) read frame by frame through libpcap's offline reader, so a
// file of any size is read in the memory of one record. Only Ethernet captures are opened:
// the tap's filter looks at Ethernet frames, and another link type puts other bytes where
// the filter looks.
class CaptureReader
{
public:
    struct Frame
    {
        const uint8_t *data = nullptr;  // valid until the next call of next()
        uint32_t capturedLength = 0;
        uint32_t wireLength = 0;
        int64_t seconds = 0;
        uint32_t nanoseconds = 0;
    };

    enum class Next {
        Frame,
        End,
        // The file ends inside a record: a capture cut off while it was written or copied.
        Truncated,
        // A record libpcap cannot read before the file's end; nothing after it can be read.
        Damaged,
    };

    // Null, with *error saying why (the file, libpcap's reason or the link type), when the
    // file cannot be read as an Ethernet capture.
    static std::unique_ptr<CaptureReader> open(const QString &path, QString *error);
    ~CaptureReader();
    CaptureReader(const CaptureReader &) = delete;
    CaptureReader &operator=(const CaptureReader &) = delete;

    Next next(Frame *frame);
    // libpcap's words for the last Truncated or Damaged.
    QString problem() const;

    int snapLength() const;
    // How far into the file the reader is, and the file's size, for progress.
    int64_t position() const;
    int64_t size() const { return m_size; }

private:
    CaptureReader(pcap *handle, std::unique_ptr<char[]> buffer, int64_t size);

    const std::unique_ptr<char[]> m_buffer;  // the stream's; outlives the handle, which closes it
    pcap *const m_handle;
    const int64_t m_size;
};
