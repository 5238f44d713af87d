// The worker on its real thread against the simulated tap, inside a private network namespace.
#include <algorithm>

#include <QDeadlineTimer>
#include <QProcess>
#include <QTest>

#include "Detection.h"
#include "DeviceSettings.h"
#include "FrameLayout.h"
#include "HardwareAddress.h"
#include "InterfaceDiscovery.h"
#include "MV1Device_v4.h"
#include "SettingsRegisterMap.h"
#include "StdoutCapture.h"
#include "TapTestBed.h"

namespace {

constexpr int SignalTimeoutMs = 8000;
// Two probe runs of a silent tap (3 x 10 sends, each waiting out its receive budget).
constexpr int SilentProbeTimeoutMs = 15000;
constexpr int UpdateTimeoutMs = 60000;

const QString NotATapMac = QStringLiteral("02:00:00:00:00:01");
const QString TapMac = QStringLiteral("00:0e:c6:12:34:56");

bool ip(const QStringList &arguments)
{
    return QProcess::execute(QStringLiteral("ip"), arguments) == 0;
}

bool setAddress(const QString &interfaceName, const QString &mac)
{
    return ip({"link", "set", interfaceName, "address", mac});
}

QByteArray macBytes(const QString &mac)
{
    return QByteArray::fromHex(mac.toLatin1().replace(':', ""));
}

// A veth pair made directly, for cases the test bed does not model (a 15-character name,
// a host end left down). Removed on every path.
class RawVeth
{
public:
    RawVeth(const QString &host, const QString &peer, const QString &mac) : m_host(host)
    {
        m_made = ip({"link", "add", host, "address", mac, "type", "veth", "peer", "name", peer})
                 && ip({"link", "set", peer, "up"});
    }
    ~RawVeth()
    {
        if (m_made)
            ip({"link", "del", m_host});
    }
    RawVeth(const RawVeth &) = delete;
    RawVeth &operator=(const RawVeth &) = delete;

    bool made() const { return m_made; }
    bool setUp(bool up) { return ip({"link", "set", m_host, up ? "up" : "down"}); }

private:
    QString m_host;
    bool m_made = false;
};

// Records the worker's signals as the window receives them: queued, in this (the GUI) thread.
class SignalLog : public QObject
{
public:
    explicit SignalLog(Detection *worker)
    {
        connect(worker, &Detection::MV1Changed, this, [this] { events << "changed"; });
        connect(worker, &Detection::MV1FinishedUpdate, this, [this] { events << "finished"; });
        connect(worker, &Detection::MV1FailedUpdate, this, [this] { events << "failed"; });
        connect(worker, &Detection::MV1UpdateProgress, this,
                [this](int p) { progress << p; });
    }
    int count(const char *event) const { return static_cast<int>(events.count(event)); }

    QStringList events;
    QList<int> progress;
};

uint8_t opcodeOf(const TapFrame &frame)
{
    return frame.bytes.size() > frame::OpcodeOffset
               ? static_cast<uint8_t>(frame.bytes.at(frame::OpcodeOffset))
               : 0;
}

// Index of the first / last frame with the opcode, or -1.
int firstWith(const QList<TapFrame> &frames, uint8_t code)
{
    for (int i = 0; i < frames.size(); ++i)
        if (opcodeOf(frames.at(i)) == code)
            return i;
    return -1;
}

int lastWith(const QList<TapFrame> &frames, uint8_t code)
{
    for (int i = static_cast<int>(frames.size()) - 1; i >= 0; --i)
        if (opcodeOf(frames.at(i)) == code)
            return i;
    return -1;
}

int countWith(const QList<TapFrame> &frames, uint8_t code)
{
    return static_cast<int>(std::count_if(frames.begin(), frames.end(),
                                          [code](const TapFrame &f) { return opcodeOf(f) == code; }));
}

QByteArray probeFrame()
{
    QByteArray bytes(frame::RequestLength, '\0');
    auto *raw = reinterpret_cast<uint8_t *>(bytes.data());
    raw[frame::OpcodeOffset] = opcode::WriteRegister;
    frame::putAddress(raw, reg::Control);
    raw[frame::ValueOffset] = Detection::ProbeValue;
    return bytes;
}

DeviceSettings sampleSettings()
{
    DeviceSettings s;
    s.setFilterMode(1, 1);
    s.setTimestampsEnabled(1);
    s.setCaptureCrcErrorFrames(0);
    s.setCaptureFcs(1);
    s.setControlByte(0x15);
    const uint8_t dst[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    const uint8_t type[2] = {0x08, 0x00};
    const uint8_t src[4] = {192, 168, 1, 0};
    s.setDstMac(dst);
    s.setDstMacMask(0x3F);
    s.setEtherType(type);
    s.setEtherTypeMask(0x03);
    s.setProtocol(17);
    s.setProtocolMask(0x01);
    s.setSrcIp(src);
    s.setSrcIpMask(0x0E);
    // Status words are the tap's; a posted record must never change them.
    s.setFirmwareVersion(0x9999);
    s.setFirmwareTypeCode(0x7777);
    return s;
}

} // namespace

class DetectionTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { REQUIRE_TAP_TEST_BED(); }

    void withoutTapNothingIsFoundAndRequestsStillAnswer();
    void tapAppearsAsGeneration4AndIsDroppedWhenUnplugged();
    void silentTapIsTakenForGeneration3AfterThreeProbes();
    void firstTapInListOrderIsTakenAndEitherKeepsIt();
    void writeWithStoreRunsBeforeReadAndKeepsStatusWords();
    void updateRunsFirstAndPostingDoesNotWaitForIt();
    void unacknowledgedWriteShowsWhatTheTapHolds();
    void fifteenCharacterNameIsLookedUpWhole();
    void tapThatCannotBeCapturedIsNotTakenForGeneration3();
    void stopWhileSleepingEndsTheLoopAfterItsSleep();
};

void DetectionTest::withoutTapNothingIsFoundAndRequestsStillAnswer()
{
    // What the namespace offers: loopback with an all-zero address, and the capture
    // library's catch-all device with none; neither may be taken for a tap.
    {
        const InterfaceListPtr list = listInterfaces();
        QVERIFY(list);
        QStringList names;
        for (pcap_if_t *e = list->head; e; e = e->next)
            names << QString::fromLocal8Bit(e->name);
        QVERIFY2(names.contains("lo") && names.contains("any"), qPrintable(names.join(' ')));
        uint8_t address[6] = {1, 2, 3, 4, 5, 6};
        QVERIFY(readHardwareAddress("lo", address));
        QVERIFY(!isTapAddress(address));
        uint8_t untouched[6] = {9, 9, 9, 9, 9, 9};
        QVERIFY(!readHardwareAddress("any", untouched));
        QCOMPARE(QByteArray(reinterpret_cast<char *>(untouched), 6), QByteArray(6, '\x09'));
    }

    Detection worker;
    SignalLog log(&worker);
    worker.start();

    // A read with no tap is answered within a tick; the next one proves a detection step
    // ran in between without a signal of its own.
    worker.requestRead();
    QTRY_COMPARE_WITH_TIMEOUT(log.count("changed"), 1, SignalTimeoutMs);
    worker.requestRead();
    QTRY_COMPARE_WITH_TIMEOUT(log.count("changed"), 2, SignalTimeoutMs);
    DeviceSettings copy;
    QCOMPARE(worker.copySettings(copy), -1);
    uint8_t mac[6] = {};
    QVERIFY(!worker.deviceHardwareAddress(mac));
    QCOMPARE(worker.deviceGeneration(), 0);
    QVERIFY(!worker.unreachableTap(nullptr, nullptr));

    // A write with no tap still ends in a signal; an update fails at once.
    worker.requestWrite(sampleSettings(), true);
    QTRY_COMPARE_WITH_TIMEOUT(log.count("changed"), 3, SignalTimeoutMs);
    QVERIFY(!worker.takeWriteFailure());
    worker.requestUpdate();
    QTRY_COMPARE_WITH_TIMEOUT(log.count("failed"), 1, SignalTimeoutMs);
    QCOMPARE(log.count("finished"), 0);
    QVERIFY(log.progress.isEmpty());
}

void DetectionTest::tapAppearsAsGeneration4AndIsDroppedWhenUnplugged()
{
    TapTestBed bed(QStringLiteral("kvtap0"), NotATapMac);
    QVERIFY(bed.plug());
    QVERIFY(bed.startTap({"--firmware-version", "1.4"}));

    Detection worker;
    SignalLog log(&worker);
    worker.start();
    worker.requestRead();
    QTRY_COMPARE_WITH_TIMEOUT(log.count("changed"), 1, SignalTimeoutMs);

    // The tap appears at the moment its interface takes the vendor's address.
    QVERIFY(setAddress(bed.hostInterface(), TapMac));
    QTRY_COMPARE_WITH_TIMEOUT(log.count("changed"), 2, SignalTimeoutMs);
    QCOMPARE(worker.deviceGeneration(), 4);

    // One probe, then the settings read; the record matches what an independent read sees.
    const QList<TapFrame> frames = bed.frames();
    QVERIFY(!frames.isEmpty());
    QCOMPARE(frames.first().bytes, probeFrame());
    QCOMPARE(countWith(frames, opcode::WriteRegister), 1);
    QVERIFY(countWith(frames, opcode::ReadRegister) > 0);

    DeviceSettings held;
    QCOMPARE(worker.copySettings(held), 0);
    QCOMPARE(held.firmwareVersion(), uint16_t(0x0401));
    QCOMPARE(held.firmwareTypeCode(), uint16_t(0x220C));
    MV1Device_v4 independent(qPrintable(bed.hostInterface()));
    DeviceSettings direct;
    independent.readSettings(direct, false);
    QVERIFY(held == direct);

    uint8_t mac[6] = {};
    QVERIFY(worker.deviceHardwareAddress(mac));
    QCOMPARE(QByteArray(reinterpret_cast<char *>(mac), 6), macBytes(TapMac));

    // Staying listed costs no frames and no signals.
    bed.clearFrames();
    const int before = log.count("changed");
    QVERIFY(bed.unplug());
    QTRY_COMPARE_WITH_TIMEOUT(log.count("changed"), before + 1, SignalTimeoutMs);
    QCOMPARE(worker.copySettings(held), -1);
    QVERIFY(!worker.deviceHardwareAddress(mac));
    QCOMPARE(worker.deviceGeneration(), 0);
}

void DetectionTest::silentTapIsTakenForGeneration3AfterThreeProbes()
{
    TapTestBed bed(QStringLiteral("kvtap0"), NotATapMac);
    QVERIFY(bed.plug());
    QVERIFY(bed.startTap({"--silent"}));

    Detection worker;
    SignalLog log(&worker);
    worker.start();
    QVERIFY(setAddress(bed.hostInterface(), TapMac));
    QTRY_COMPARE_WITH_TIMEOUT(log.count("changed"), 1, SilentProbeTimeoutMs);
    QCOMPARE(worker.deviceGeneration(), 3);

    // Three attempts of ten sends each, all the same probe; reading a generation-3 tap
    // sends nothing.
    const QList<TapFrame> frames = bed.frames();
    QCOMPARE(frames.size(), Detection::ProbeAttempts * MV1Device_v4::MaxSendAttempts);
    for (const TapFrame &f : frames)
        QCOMPARE(f.bytes, probeFrame());
    DeviceSettings held;
    QCOMPARE(worker.copySettings(held), 0);
    QVERIFY(held == DeviceSettings());
}

void DetectionTest::firstTapInListOrderIsTakenAndEitherKeepsIt()
{
    TapTestBed first(QStringLiteral("kvtapa"), QStringLiteral("00:0e:c6:00:00:0a"));
    TapTestBed second(QStringLiteral("kvtapb"), QStringLiteral("00:0e:c6:00:00:0b"));
    QVERIFY(first.plug() && second.plug());
    QVERIFY(first.startTap() && second.startTap());

    QString expected;
    {
        const InterfaceListPtr list = listInterfaces();
        QVERIFY(list);
        for (pcap_if_t *e = list->head; e && expected.isEmpty(); e = e->next) {
            uint8_t address[6];
            if (readHardwareAddress(e->name, address) && isTapAddress(address))
                expected = QString::fromLocal8Bit(e->name);
        }
    }
    QVERIFY(!expected.isEmpty());
    TapTestBed &taken = expected == first.hostInterface() ? first : second;
    TapTestBed &other = &taken == &first ? second : first;
    const QString takenMac = &taken == &first ? "00:0e:c6:00:00:0a" : "00:0e:c6:00:00:0b";

    Detection worker;
    SignalLog log(&worker);
    worker.start();
    QTRY_COMPARE_WITH_TIMEOUT(log.count("changed"), 1, SignalTimeoutMs);
    uint8_t mac[6] = {};
    QVERIFY(worker.deviceHardwareAddress(mac));
    QCOMPARE(QByteArray(reinterpret_cast<char *>(mac), 6), macBytes(takenMac));
    QVERIFY(other.frames().isEmpty());

    // With the held tap's interface gone, the other prefixed one keeps the device: no
    // signal from detection, no probe of the other. Two read requests bracket a step.
    QVERIFY(taken.unplug());
    {
        // The reads go to the held object, which still names the vanished interface.
        StdoutCapture output;
        worker.requestRead();
        QTRY_COMPARE_WITH_TIMEOUT(log.count("changed"), 2, SignalTimeoutMs);
        worker.requestRead();
        QTRY_COMPARE_WITH_TIMEOUT(log.count("changed"), 3, SignalTimeoutMs);
        QVERIFY(output.text().contains("Cannot open interface"));
    }
    DeviceSettings held;
    QCOMPARE(worker.copySettings(held), 0);
    QCOMPARE(worker.deviceGeneration(), 4);
    QVERIFY(other.frames().isEmpty());
    // The held object still names the vanished interface: the lookup fails, the bytes stay.
    uint8_t untouched[6] = {7, 7, 7, 7, 7, 7};
    QVERIFY(worker.deviceHardwareAddress(untouched));
    QCOMPARE(QByteArray(reinterpret_cast<char *>(untouched), 6), QByteArray(6, '\x07'));
}

void DetectionTest::writeWithStoreRunsBeforeReadAndKeepsStatusWords()
{
    TapTestBed bed(QStringLiteral("kvtap0"), TapMac);
    QVERIFY(bed.plug());
    QVERIFY(bed.startTap({"--firmware-version", "4.0"}));
    Detection worker;
    SignalLog log(&worker);
    worker.start();
    QTRY_COMPARE_WITH_TIMEOUT(log.count("changed"), 1, SignalTimeoutMs);
    DeviceSettings before;
    QCOMPARE(worker.copySettings(before), 0);
    bed.clearFrames();

    const DeviceSettings posted = sampleSettings();
    worker.requestWrite(posted, true);
    worker.requestRead();
    QTRY_COMPARE_WITH_TIMEOUT(log.count("changed"), 3, SignalTimeoutMs);
    QVERIFY(!worker.takeWriteFailure());

    // Working copy, then stored copy and its commit, then the read.
    const QList<TapFrame> frames = bed.frames();
    const int firstRead = firstWith(frames, opcode::ReadRegister);
    QVERIFY(firstWith(frames, opcode::WriteRegister) == 0);
    QVERIFY(lastWith(frames, opcode::WriteRegister) < firstWith(frames, opcode::WriteRegisterPersistent));
    QVERIFY(lastWith(frames, opcode::WriteRegisterPersistent) < lastWith(frames, opcode::CommitSettings));
    QVERIFY(firstRead > lastWith(frames, opcode::CommitSettings));

    // What was read back is what was posted, with the tap's own status words.
    DeviceSettings expected = posted;
    expected.setFirmwareVersion(before.firmwareVersion());
    expected.setFirmwareTypeCode(before.firmwareTypeCode());
    DeviceSettings held;
    QCOMPARE(worker.copySettings(held), 0);
    QVERIFY(held == expected);
    const QByteArray stored = bed.settingsSector(true);
    QCOMPARE(uint8_t(stored.at(reg::Control - reg::SettingsSector)), uint8_t(0x15));

    // A later write without store states it afresh: nothing persistent is sent.
    bed.clearFrames();
    worker.requestWrite(posted, false);
    QTRY_COMPARE_WITH_TIMEOUT(log.count("changed"), 4, SignalTimeoutMs);
    const QList<TapFrame> plain = bed.frames();
    QVERIFY(countWith(plain, opcode::WriteRegister) > 0);
    QCOMPARE(countWith(plain, opcode::WriteRegisterPersistent), 0);
    QCOMPARE(countWith(plain, opcode::CommitSettings), 0);
}

void DetectionTest::updateRunsFirstAndPostingDoesNotWaitForIt()
{
    TapTestBed bed(QStringLiteral("kvtap0"), TapMac);
    QVERIFY(bed.plug());
    // A page the tap keeps refusing ends the update early, as a failure; until then the
    // update holds the worker's tick, made long by slow replies.
    QVERIFY(bed.startTap({"--refuse-page", "100:1000", "--delay-ms", "10"}));
    Detection worker;
    SignalLog log(&worker);
    worker.start();
    QTRY_COMPARE_WITH_TIMEOUT(log.count("changed"), 1, SignalTimeoutMs);
    bed.clearFrames();

    // Posted in the opposite order; the update still runs first.
    const DeviceSettings flashed = sampleSettings();
    worker.requestWrite(flashed, true);
    worker.requestUpdate();
    QTRY_VERIFY_WITH_TIMEOUT(!log.progress.isEmpty(), UpdateTimeoutMs);

    // Posting must not wait for the running tick: had it waited, the tick's own write
    // would already have reached the tap.
    const DeviceSettings replaced = [] {
        DeviceSettings s = sampleSettings();
        s.setControlByte(0x0A);
        return s;
    }();
    worker.requestWrite(replaced, true);
    worker.requestWrite(replaced, false);
    QCOMPARE(countWith(bed.frames(), opcode::WriteRegister), 0);

    QTRY_COMPARE_WITH_TIMEOUT(log.count("changed"), 3, UpdateTimeoutMs);
    QCOMPARE(log.events, QStringList({"changed", "failed", "changed", "changed"}));
    QVERIFY(log.progress.last() < 100);
    QVERIFY(std::is_sorted(log.progress.begin(), log.progress.end()));

    const QList<TapFrame> frames = bed.frames();
    QCOMPARE(firstWith(frames, opcode::BeginProgramming), 0);
    QVERIFY(firstWith(frames, opcode::WriteRegister) > lastWith(frames, opcode::ProgramPage));
    // The first write (with store) ran after the update; of the later pair the second
    // replaced the first, and it asked for no store.
    QCOMPARE(countWith(frames, opcode::CommitSettings), 1);
    DeviceSettings held;
    QCOMPARE(worker.copySettings(held), 0);
    uint8_t control = 0;
    held.controlByte(&control);
    QCOMPARE(control, uint8_t(0x0A));
    QVERIFY(!worker.takeWriteFailure());
}

void DetectionTest::unacknowledgedWriteShowsWhatTheTapHolds()
{
    TapTestBed bed(QStringLiteral("kvtap0"), TapMac);
    QVERIFY(bed.plug());
    QVERIFY(bed.startTap());
    Detection worker;
    SignalLog log(&worker);
    worker.start();
    QTRY_COMPARE_WITH_TIMEOUT(log.count("changed"), 1, SignalTimeoutMs);
    QCOMPARE(worker.deviceGeneration(), 4);

    // The same tap now answers register writes with a wrong code and still answers reads.
    // Its control register never reads back the high bits posted here, so the record
    // shows whether it was read back or merely copied.
    bed.stopTap();
    QVERIFY(bed.startTap({"--wrong-code", "70:01"}));
    DeviceSettings posted = sampleSettings();
    constexpr uint8_t WideControl = 0xF5;
    static_assert((WideControl & ControlByteReadMask) != WideControl);
    posted.setControlByte(WideControl);
    worker.requestWrite(posted, false);
    QTRY_COMPARE_WITH_TIMEOUT(log.count("changed"), 2, 2 * SignalTimeoutMs);
    QVERIFY(worker.takeWriteFailure());
    QVERIFY(!worker.takeWriteFailure());

    DeviceSettings held;
    QCOMPARE(worker.copySettings(held), 0);
    MV1Device_v4 independent(qPrintable(bed.hostInterface()));
    DeviceSettings direct;
    independent.readSettings(direct, false);
    QVERIFY(held == direct);
    uint8_t control = 0;
    held.controlByte(&control);
    QVERIFY(control != WideControl);
}

void DetectionTest::fifteenCharacterNameIsLookedUpWhole()
{
    const QString name = QStringLiteral("kvtap0123456789");
    QCOMPARE(name.size(), 15);
    const QString mac = QStringLiteral("00:0e:c6:00:01:5f");
    RawVeth veth(name, QStringLiteral("kvpeer15"), mac);
    QVERIFY(veth.made());
    QVERIFY(veth.setUp(true));

    // Nobody answers on the far end: the tap is served as generation 3, on that name.
    Detection worker;
    SignalLog log(&worker);
    worker.start();
    QTRY_COMPARE_WITH_TIMEOUT(log.count("changed"), 1, SilentProbeTimeoutMs);
    QCOMPARE(worker.deviceGeneration(), 3);
    uint8_t address[6] = {};
    QVERIFY(worker.deviceHardwareAddress(address));
    QCOMPARE(QByteArray(reinterpret_cast<char *>(address), 6), macBytes(mac));
}

void DetectionTest::tapThatCannotBeCapturedIsNotTakenForGeneration3()
{
    const QString name = QStringLiteral("kvtapdown");
    RawVeth veth(name, QStringLiteral("kvpeerdown"), TapMac);
    QVERIFY(veth.made());  // the host end stays down: the capture library will not open it

    StdoutCapture output;
    Detection worker;
    SignalLog log(&worker);
    worker.start();
    QTRY_COMPARE_WITH_TIMEOUT(log.count("changed"), 1, SignalTimeoutMs);
    QString reportedName;
    QString reason;
    QVERIFY(worker.unreachableTap(&reportedName, &reason));
    QCOMPARE(reportedName, name);
    QVERIFY2(reason.contains("not up"), qPrintable(reason));
    DeviceSettings held;
    QCOMPARE(worker.copySettings(held), -1);
    QCOMPARE(worker.deviceGeneration(), 0);

    // Later ticks try again without a new signal or a new diagnostic.
    for (int read = 1; read <= 2; ++read) {
        worker.requestRead();
        QTRY_COMPARE_WITH_TIMEOUT(log.count("changed"), 1 + read, SignalTimeoutMs);
    }
    QCOMPARE(worker.deviceGeneration(), 0);
    const QByteArray printed = output.text();
    QCOMPARE(printed.count("Cannot open interface"), 1);

    // Once it can be captured on it is probed (nobody answers here, so generation 3).
    QVERIFY(veth.setUp(true));
    QTRY_COMPARE_WITH_TIMEOUT(log.count("changed"), 4, SilentProbeTimeoutMs);
    QCOMPARE(worker.deviceGeneration(), 3);
    QVERIFY(!worker.unreachableTap(nullptr, nullptr));

    // Held, then down again: a generation-3 write whose frames cannot leave is a failed
    // write too, and the record keeps what the tap was last known to hold.
    DeviceSettings before;
    QCOMPARE(worker.copySettings(before), 0);
    QVERIFY(veth.setUp(false));
    {
        StdoutCapture quiet;
        worker.requestWrite(sampleSettings(), false);
        QTRY_COMPARE_WITH_TIMEOUT(log.count("changed"), 5, SignalTimeoutMs);
    }
    QVERIFY(worker.takeWriteFailure());
    QCOMPARE(worker.copySettings(held), 0);
    QVERIFY(held == before);
}

void DetectionTest::stopWhileSleepingEndsTheLoopAfterItsSleep()
{
    // stop() keeps its own short wait and gives up before the loop's sleep ends; the loop
    // still ends then, as the flag stays set.
    Detection worker;
    SignalLog log(&worker);
    worker.start();
    worker.requestRead();
    QTRY_COMPARE_WITH_TIMEOUT(log.count("changed"), 1, SignalTimeoutMs);
    StdoutCapture output;
    worker.stop();
    QCOMPARE(output.text(), QByteArray("Detection thread timeout when stopping\n"));
    QVERIFY(worker.wait(QDeadlineTimer(5000)));
}

QTEST_GUILESS_MAIN(DetectionTest)
#include "tst_detection.moc"
