#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "FrameLink.h"
#include "HostInterfaces.h"
#include "SimulatedTap.h"
#include "TapBed.h"

namespace tapsim {
class TapState;
struct TapOptions;
}  // namespace tapsim

// One tap interface of the in-process network: the host end's links and the simulated tap
// behind it, joined without a kernel. It gives the links what a capture of a veth pair's host
// end gives them: the tap's frames and the frames other links of the interface sent, to or from
// the all-zero address, never a link's own; at most a capture ring's worth waiting; nothing
// kept for a parked link. The tap's replies arrive when due, in real time, since the device
// code measures its waits on the clock.
class SimulatedLine
    : private tapsim::TapWire
    , private tapsim::FrameLog
{
public:
    // One link's end: what waits for it, and the frame it was last handed.
    struct Port
    {
        std::deque<std::vector<uint8_t>> waiting;
        std::vector<uint8_t> handedOut;
        bool open = false;
    };

    SimulatedLine(QString name, const MacAddress &mac, int index);
    ~SimulatedLine() override;
    SimulatedLine(const SimulatedLine &) = delete;
    SimulatedLine &operator=(const SimulatedLine &) = delete;

    const QString &name() const { return m_name; }
    const MacAddress &mac() const { return m_mac; }
    int index() const { return m_index; }  // as the kernel numbers interfaces: never reused
    // The interface goes: its links fail, the tap ends; what it held stays readable.
    void unplug();
    // Down, links neither open nor send; the tap stays as it is.
    void setUp(bool up);
    bool isUp() const;
    void setMtu(int mtu);
    int mtu() const;
    // Every open warns so (in the capture library's words); unless the tap is heard, none of
    // its frames reach the host, as on an interface that cannot be made promiscuous.
    void setOpenWarning(const std::string &warning, bool tapHeard);
    // How often a link tried to open it while it was down.
    int refusedOpens() const;
    // Links attached to it now (opened and not released), and ever.
    int linksAttached() const;
    int linksEverAttached() const;

    bool startTap(const QStringList &options, QString *error);
    void stopTap();
    bool tapRunning() const;
    QList<TapFrame> frames() const;
    void clearFrames();
    QByteArray flash() const;
    QByteArray settingsSector(bool stored) const;

    void attach(Port &port);
    void detach(Port &port);
    LinkOpening open(Port &port);
    void park(Port &port);
    std::optional<LinkError> send(Port &from, const uint8_t *bytes, int length);
    LinkReception receive(Port &port, int timeoutMs);

private:
    using Clock = tapsim::SimulatedTap::Clock;

    bool send(const uint8_t *bytes, int length) override;  // the tap's frames
    void record(const timeval &time, int wireLength, const uint8_t *bytes,
                int capturedLength) override;
    void deliver(Port &port, const uint8_t *bytes, int length);
    // Lets the tap do, in order, everything it would have done by `now`.
    void catchUp(Clock::time_point now);

    const QString m_name;
    const MacAddress m_mac;
    const int m_index;

    mutable std::mutex m_mutex;
    std::condition_variable m_arrived;
    bool m_plugged = true;
    bool m_up = true;
    int m_mtu = 1500;
    std::string m_openWarning;
    bool m_tapHeard = true;
    int m_refusedOpens = 0;
    int m_attaches = 0;
    std::vector<Port *> m_ports;
    std::unique_ptr<tapsim::TapOptions> m_options;
    std::unique_ptr<tapsim::TapState> m_state;  // kept after the tap ends
    std::unique_ptr<tapsim::SimulatedTap> m_tap;
    QList<TapFrame> m_frames;
};

// The host's interfaces as a test sees them in-process: taps it plugs and unplugs, by name,
// each served by the simulated tap's own code. While anything uses it (attach()), the tap
// service finds these in place of the kernel's interfaces, and their locks are this process's.
class InProcessTaps : public HostInterfaces
{
public:
    static InProcessTaps &instance();

    void attach();
    void detach();

    // Null when an interface of that name is already plugged.
    std::shared_ptr<SimulatedLine> plug(const QString &name, const MacAddress &mac);
    void unplug(const QString &name);
    // As `ip link set NAME up|down`, with the link notice the kernel would send.
    void setUp(const QString &name, bool up);
    std::shared_ptr<SimulatedLine> line(const QString &name) const;

    std::optional<QList<TapInterface>> listTaps() override;
    bool anyTap() override;
    bool hardwareAddress(const QString &interfaceName, MacAddress *out) override;
    int interfaceIndex(const QString &interfaceName) override;
    bool linkUp(const QString &interfaceName) override;
    QString interfaceName(int index) override;
    std::unique_ptr<FrameLink> linkFor(const QString &interfaceName) override;
    std::unique_ptr<LinkChanges> watchLinks() override;

private:
    class Watch;
    InProcessTaps() = default;
    void tellWatchers();

    mutable std::mutex m_mutex;
    std::vector<std::shared_ptr<SimulatedLine>> m_lines;  // in the order they were plugged
    std::vector<Watch *> m_watches;
    int m_users = 0;
    int m_lastIndex = 0;
    HostInterfaces *m_before = nullptr;
    std::unique_ptr<QTemporaryDir> m_lockDirectory;
};
