#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QtTest>

#include <memory>

class FrameLink;

struct TapFrame
{
    double time;  // when the simulated tap took it in, seconds since the epoch
    QByteArray bytes;  // the frame as received
};

// A simulated tap behind one host interface, for tests: what the code under test opens, and
// what the tap received and holds. Two beds implement it: the tap's code in this process
// (InProcessTapBed), and the simulator program on a veth pair in the test's private network
// namespace (TapTestBed), the end-to-end layer with real discovery, capture and frames.
//
// Use a bed from the thread that made it; the code under test may use its links and the
// interfaces from any thread.
class TapBed
{
public:
    static constexpr const char *DefaultInterface = "kvtap0";
    static constexpr const char *DefaultMac = "00:0e:c6:12:34:56";

    virtual ~TapBed() = default;

    // The bed the tests of this process run on: in-process, or on a veth pair where the
    // environment says KALVESSA_TAP_BED=veth (the end-to-end run of the same tests).
    static std::unique_ptr<TapBed> make(const QString &hostInterface = DefaultInterface,
                                        const QString &mac = DefaultMac);
    static bool endToEnd();
    // Whether make() gives a working bed here; *why says what is missing when not.
    static bool ready(QString *why);
    // Whether a table's row runs on this bed: every row in-process, end to end only the rows
    // marked for it.
    static bool runsRow(bool endToEndRow) { return !endToEnd() || endToEndRow; }

    virtual bool plug() = 0;  // the interface appears, up
    virtual bool unplug() = 0;  // it goes; the tap with it
    // The host interface as `ip link set` changes it: down (the tap stays as it is), its MTU.
    virtual bool setUp(bool up) = 0;
    virtual bool setMtu(int mtu) = 0;
    // Starts the tap with these options of kalvessa-tapsim (its --help); returns once it
    // listens. A fresh record and a fresh tap state.
    virtual bool startTap(const QStringList &options = {}) = 0;
    virtual void stopTap() = 0;
    virtual bool tapRunning() const = 0;

    // Every frame the tap received since startTap() or clearFrames(), in order, including
    // frames still on their way. Not while the code under test waits for a reply.
    virtual QList<TapFrame> frames() = 0;
    virtual void clearFrames() = 0;
    virtual QByteArray flash() = 0;  // programmed area, 196,608 bytes, image byte order
    virtual QByteArray settingsSector(bool stored) = 0;  // the 64 KiB sector at 0x70000

    virtual QString hostInterface() const = 0;
    // A link to the host interface, as a device object on it would have from the tap service.
    virtual std::unique_ptr<FrameLink> link() const = 0;
    // How many captures of this process are attached to the host interface, open or parked:
    // what keeps the host paying for the interface's every frame.
    virtual int capturesHeld() const = 0;
};

#define KALVESSA_SKIP_UNLESS_READY(readyCall)                                                      \
    do {                                                                                           \
        QString whyNotReady_;                                                                      \
        if (!(readyCall)(&whyNotReady_)) {                                                         \
            if (qEnvironmentVariableIsSet("CI"))                                                   \
                QFAIL(qPrintable(QStringLiteral("No tap test bed in CI: ") + whyNotReady_));       \
            QSKIP(qPrintable(QStringLiteral("No tap test bed: ") + whyNotReady_));                 \
        }                                                                                          \
    } while (false)

// For initTestCase(): skip every test of the class with the reason when the bed of this run
// cannot be had, or fail instead when the environment variable CI is set.
#define REQUIRE_TAP_BED() KALVESSA_SKIP_UNLESS_READY(TapBed::ready)

// For a test function (or its data function) that only one of the two runs carries out.
#define IN_PROCESS_ONLY()                                                                          \
    do {                                                                                           \
        if (TapBed::endToEnd())                                                                    \
            QSKIP("runs in-process only");                                                         \
    } while (false)
#define END_TO_END_ONLY()                                                                          \
    do {                                                                                           \
        if (!TapBed::endToEnd())                                                                   \
            QSKIP("needs the kernel's interfaces: runs end to end only");                          \
    } while (false)
