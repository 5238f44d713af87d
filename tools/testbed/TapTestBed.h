#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include "TapBed.h"

class ChildProcess;

// A simulated tap on one end of a veth pair inside the test's private network namespace.
// The host end (default "kvtap0", address 00:0e:c6:12:34:56) is what the code under test
// opens; the simulated tap serves the far end "<host>s".
//
// Use it from one thread: the one that created it.
class TapTestBed : public TapBed
{
public:
    explicit TapTestBed(const QString &hostInterface = QLatin1String(DefaultInterface),
                        const QString &mac = QLatin1String(DefaultMac));
    ~TapTestBed() override;  // stops the sim, removes the veth pair
    TapTestBed(const TapTestBed &) = delete;
    TapTestBed &operator=(const TapTestBed &) = delete;

    // True only inside the namespace made by tools/testbed/in-netns.sh, and only when a veth
    // pair can be made there. Otherwise *why says what is missing.
    static bool namespaceReady(QString *why);

    bool plug() override;  // create the veth pair, both ends up
    bool unplug() override;  // delete it; the sim dies with its interface
    bool setUp(bool up) override;
    bool setMtu(int mtu) override;
    // Starts the sim on the far end with these extra options; returns once it captures.
    bool startTap(const QStringList &options = {}) override;
    void stopTap() override;
    bool tapRunning() const override;

    // Every frame the sim received (since startTap or clearFrames), in order, including frames
    // still on their way when this is called. Do not call it while the code under test waits
    // for a reply: the sync frame it sends is seen on the host end too.
    QList<TapFrame> frames() override;
    void clearFrames() override;

    QByteArray flash() override;
    QByteArray settingsSector(bool stored) override;

    QString hostInterface() const override { return m_host; }
    // A capture of the host end, as the tap service makes it (through the capture helper
    // where the environment says KALVESSA_TAP_LINK=helper).
    std::unique_ptr<FrameLink> link() const override;
    // Packet sockets of this process bound to the host interface, as /proc/net/packet lists
    // them.
    int capturesHeld() const override;
    // The kernel's count of what keeps the interface promiscuous (`ip -d link`), -1 when it
    // cannot be read.
    static int promiscuity(const QString &interfaceName);
    QString tapInterface() const { return m_host + QLatin1Char('s'); }
    QString recordPath() const;
    // The simulated tap's executable: $KALVESSA_TAPSIM, else the one built with the bed.
    static QString simulatorPath();
    // Runs `ip` with these arguments; true when it succeeded, else *error says why. Tests use
    // this rather than QProcess, which would silence ThreadSanitizer for the rest of the run.
    static bool ip(const QStringList &arguments, QString *error = nullptr);

private:
    bool sync(bool saveState);
    bool sendSyncFrame(quint32 nonce, quint8 flags);
    QByteArray stateFile(const char *name, int expectedLength);
    bool waitForLine(const QString &line, int timeoutMs);

    QString m_host;
    QString m_mac;
    bool m_plugged = false;
    QTemporaryDir m_dir;
    std::unique_ptr<ChildProcess> m_sim;
    QByteArray m_simOutput;  // sim's standard output not yet matched
    qint64 m_recordOffset = 0;  // frames before this byte of the record were cleared
    quint32 m_nonce = 0;
};

// For initTestCase() of a test that only runs end to end: skip every test of the class with the
// reason when no private namespace with veth pairs is available, or fail instead when the
// environment variable CI is set.
#define REQUIRE_TAP_TEST_BED() KALVESSA_SKIP_UNLESS_READY(TapTestBed::namespaceReady)
