#pragma once

#include <memory>

#include "HostInterfaces.h"
#include "TapBed.h"

class SimulatedLine;

// The simulated tap's code in this process, behind an interface of the in-process network
// (InProcessTaps), which the tap service finds in place of the kernel's while a bed exists.
// Several beds make several taps, one per interface name.
class InProcessTapBed : public TapBed
{
public:
    explicit InProcessTapBed(const QString &hostInterface = QLatin1String(DefaultInterface),
                             const QString &mac = QLatin1String(DefaultMac));
    ~InProcessTapBed() override;  // unplugs
    InProcessTapBed(const InProcessTapBed &) = delete;
    InProcessTapBed &operator=(const InProcessTapBed &) = delete;

    bool plug() override;
    bool unplug() override;
    bool setUp(bool up) override;
    bool setMtu(int mtu) override;
    bool startTap(const QStringList &options = {}) override;
    void stopTap() override;
    bool tapRunning() const override;
    QList<TapFrame> frames() override;
    void clearFrames() override;
    QByteArray flash() override;
    QByteArray settingsSector(bool stored) override;
    QString hostInterface() const override { return m_host; }
    std::unique_ptr<FrameLink> link() const override;
    int capturesHeld() const override;

private:
    const QString m_host;
    MacAddress m_mac{};
    // The interface while plugged; after unplug() the one that was, whose tap's state stays
    // readable as a stopped simulator's state files do.
    std::shared_ptr<SimulatedLine> m_line;
    bool m_plugged = false;
};
