#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <pcap/pcap.h>

// Raw-frame access to one named interface: a live capture filtered to frames to or from the
// all-zero MAC address. Opened and closed around every device operation.
//
// Closing keeps the kernel's capture parked rather than tearing it down: setting up and
// tearing down a capture ring each wait for the kernel's RCU grace periods, tens of
// milliseconds per operation, against microseconds for the exchange itself. A session that
// is closed delivers nothing; opening it again first throws away every frame that arrived
// meanwhile, so a closed session still never shows what came while it was closed. A parked
// capture whose interface went away is dropped and opened afresh.
class PacketSession
{
public:
    static constexpr int SnapshotLength = 65536;
    static constexpr int Promiscuous = 1;
    static constexpr int ReadTimeoutMs = 10;
    static constexpr const char *FilterExpression = "ether host 00:00:00:00:00:00";

    explicit PacketSession(const char *interfaceName);
    ~PacketSession();
    PacketSession(const PacketSession &) = delete;
    PacketSession &operator=(const PacketSession &) = delete;

    // Prints "Cannot open interface : <reason>" on standard output when the capture cannot
    // be opened; the reason is also kept in lastError().
    bool open();
    // Returns the length passed in once the library took the frame, -1 otherwise (the
    // library's reason is then in lastError()).
    int send(const uint8_t *frameBytes, int length);
    // pcap_next_ex's result: 1 frame, 0 when the line stayed quiet for timeoutMs (0: only what
    // is already waiting), negative error (also on a closed session; the reason in
    // lastError()). Header and data belong to the library and stay valid until the next
    // receive() or close().
    int receive(struct pcap_pkthdr **header, const u_char **data, int timeoutMs = ReadTimeoutMs);
    void close();
    bool isOpen() const { return m_open; }
    // Tears the capture down for good (also done on destruction); the next open() makes a
    // new one.
    void release();

    bool hardwareAddress(uint8_t *out) const;
    const char *name() const { return m_name.c_str(); }
    // The capture library's reason for the last failed open(), send() or receive(); cleared by a
    // good open().
    const std::string &lastError() const { return m_lastError; }
    // A quiet session logs nothing when open() fails (the reason is still kept), for a
    // caller that retries every second and says so only when the reason changes.
    void setQuiet(bool quiet) { m_quiet = quiet; }
    // Logs "Cannot open interface : <lastError()>" as a warning of the device layer.
    void reportOpenFailure() const;

private:
    struct PcapCloser
    {
        void operator()(pcap_t *p) const { pcap_close(p); }
    };

    // Reports a failed open on standard output, keeps the reason and leaves the session closed.
    bool fail(const char *reason);
    bool openCapture();
    // Empties the parked capture; false when it no longer works.
    bool discardWaitingFrames();

    const std::string m_name;
    std::unique_ptr<pcap_t, PcapCloser> m_handle;
    std::string m_lastError;
    int m_selectableFd = -1;  // belongs to m_handle
    bool m_open = false;
    bool m_quiet = false;
};
