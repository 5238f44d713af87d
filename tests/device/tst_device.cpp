#include <QtTest>

#include <array>
#include <memory>
#include <thread>

#include "DeviceOnBed.h"
#include "DeviceSettings.h"
#include "HardwareAddress.h"
#include "InProcessTaps.h"
#include "LinkRecovery.h"
#include "MV1Device_v4.h"
#include "PacketSession.h"
#include "SettingsRegisterMap.h"
#include "TapBed.h"
#include "TapTestBed.h"
#include "TapWire.h"

using namespace wire;

namespace {

using Mac = std::array<uint8_t, HardwareAddressLength>;
constexpr Mac Untouched{0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5};

const uint8_t *bytes(const QByteArray &f)
{
    return reinterpret_cast<const uint8_t *>(f.constData());
}

// Match bytes in register order: dstMac, srcMac, EtherType, protocol, srcIp, dstIp.
const QByteArray Match = QByteArray::fromHex("001b213c4d5e f0e1d2c3b4a5 86dd 3a ac10fe01 e00000fb");

QList<Access> writes(int op, const QByteArray &values)
{
    return writesOf(op, settingsRegisters(false), values);
}

QList<Access> reads(int op, bool withStatus)
{
    return readsOf(op, settingsRegisters(withStatus));
}

const QByteArray Read = request(0x71, 0x70300);

int send(PacketSession &session)
{
    return session.send(bytes(Read), RequestLength);
}

// Every frame the session delivers until two reads in a row find the line quiet.
QList<QByteArray> drain(PacketSession &session)
{
    QList<QByteArray> out;
    for (int quiet = 0; quiet < 2;) {
        const LinkReception got = session.receive();
        if (got.result == LinkReception::Result::Failed)
            break;
        if (got.result == LinkReception::Result::Quiet)
            ++quiet;
        else
            out.append(QByteArray(reinterpret_cast<const char *>(got.bytes), got.captured));
    }
    return out;
}

}  // namespace

class TestDevice
    : public QObject
    , private DeviceOnBed
{
    Q_OBJECT

    PacketSession session() const
    {
        return PacketSession(qPrintable(bed->hostInterface()), bed->link());
    }

    // What keeps the host interface promiscuous, as the kernel counts it; in-process nothing
    // does, and a parked link counts as one.
    int promiscuity() const
    {
        return TapBed::endToEnd() ? TapTestBed::promiscuity(bed->hostInterface())
                                  : bed->capturesHeld();
    }

private slots:
    void initTestCase() { REQUIRE_TAP_BED(); }

    // What each command puts on the wire, byte for byte, each answered at the first send.
    void commandFrames()
    {
        QVERIFY(startTap());
        QByteArray page(PageSize, '\0');
        for (int i = 0; i < page.size(); ++i)
            page[i] = static_cast<char>(255 - i);
        uint8_t value = 0;
        QVERIFY(dev->writeRegister(0x70001, 0x5A, false));
        QVERIFY(dev->readRegister(0x70001, &value, false));
        QCOMPARE(value, uint8_t(0x5A));
        QVERIFY(dev->writeRegister(0x70200, 0x3C, true));
        QVERIFY(dev->readRegister(0x70200, &value, true));
        QCOMPARE(value, uint8_t(0x3C));
        QVERIFY(dev->eraseSettings());
        QVERIFY(!dev->commitSettings());  // carries no verdict
        QVERIFY(dev->eraseSector(0x1234567));  // bits above 23 dropped
        QVERIFY(!dev->writeFirmwarePage(0x500, bytes(page)));  // refused, sends nothing
        QVERIFY(dev->beginProgramming());
        QVERIFY(dev->programPage(5, bytes(page)));
        QVERIFY(dev->endProgramming());

        const QList<QByteArray> got = bytesOf(bed->frames());
        QCOMPARE(got,
                 (QList<QByteArray>{request(0x70, 0x70001, 0x5A), request(0x71, 0x70001),
                                    request(0x80, 0x70200, 0x3C), request(0x81, 0x70200),
                                    request(0xE0, 0x70000), request(0x8F, 0),
                                    request(0xE0, 0x234567), request(0xB0, 0),
                                    request(0xB1, 5, page, PageFrameLength), request(0xB2, 0)}));
        QCOMPARE(got[1].mid(15, 4), QByteArray::fromHex("71070001"));
        QCOMPARE(got[8].size(), 1500);
        QCOMPARE(got[8].mid(16, 3 + 256), QByteArray::fromHex("000005") + page);
    }

    // Which frames a read takes as its answer, which count as misses against the budget of
    // 10, and how often the request goes out. The tap records only what the host sent. One row
    // of each kind of fault also runs end to end.
    void replySelection_data()
    {
        struct Row
        {
            const char *name;
            const char *options;
            bool ok;
            int sends;
            bool endToEnd;
        };
        static const Row Rows[] = {
            {"other length", "--reply-length 50", true, 1, true},
            {"false echo passed over", "--false-echo", true, 1, true},
            {"ten misses", "--junk-before-reply 10", true, 1, false},
            {"eleventh miss", "--junk-before-reply 11", true, 2, true},
            {"byte 14 is a miss", "--junk-field reserved --junk-before-reply 11", true, 2, true},
            {"short frames count too", "--junk-before-reply 10 --short-before-reply 12", true, 3,
             true},
            {"echo is a miss", "--false-echo --junk-before-reply 10", true, 2, false},
            {"silent", "--silent", false, 10, true},
            {"copy never taken", "--wrong-code 71:71", false, 10, false},
            {"a code the tap never sends is foreign", "--wrong-code 71:05", false, 10, false},
            {"no byte 19", "--reply-length 19", false, 1, false},
        };
        QTest::addColumn<QString>("options");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("sends");
        for (const Row &row : Rows) {
            if (TapBed::runsRow(row.endToEnd))
                QTest::newRow(row.name) << row.options << row.ok << row.sends;
        }
    }

    void replySelection()
    {
        QFETCH(QString, options);
        QFETCH(bool, ok);
        QFETCH(int, sends);
        QVERIFY(startTap(options));
        uint8_t value = 0xA5;
        QCOMPARE(dev->readRegister(0x70001, &value, false), ok);
        QCOMPARE(value, ok ? uint8_t(0xFF) : uint8_t(0xA5));  // a fresh tap reads 0xFF
        // An attempt that runs out leaves its answer on the way; the next attempt takes it.
        QCOMPARE(bytesOf(bed->frames()), QList<QByteArray>(sends, request(0x71, 0x70001)));
    }

    // An earlier answer sent again ahead of the real one, as a replay from the monitored
    // network: once the tap has shown that it repeats the address, the replay is not taken,
    // also by a capture made afresh after the idle one was given up.
    void anEarlierAnswerReplayedIsNotTaken_data()
    {
        QTest::addColumn<bool>("released");
        QTest::newRow("same capture") << false;
        QTest::newRow("capture given up in between") << true;
    }

    void anEarlierAnswerReplayedIsNotTaken()
    {
        QFETCH(bool, released);
        QVERIFY(startTap(QStringLiteral("--replay-before-reply --delay-ms 2")));
        uint8_t value = 0;
        QVERIFY(dev->writeRegister(0x70200, 0x11, false));
        QVERIFY(dev->writeRegister(0x70201, 0x22, false));
        if (released)
            dev->releaseCapture();
        QCOMPARE(bed->capturesHeld(), released ? 0 : 1);
        QVERIFY(dev->readRegister(0x70200, &value, false));  // ahead of it: a write's answer
        QCOMPARE(value, uint8_t(0x11));
        QVERIFY(dev->readRegister(0x70201, &value, false));  // ahead of it: 0x11 read back
        QCOMPARE(value, uint8_t(0x22));
    }

    void wrongCodesAreNotRetried()
    {
        IN_PROCESS_ONLY();
        QVERIFY(startTap(QStringLiteral("--wrong-code 80:ff --wrong-code 8f:0")));
        QVERIFY(!dev->writeRegister(0x70001, 0x12, true));
        QVERIFY(!dev->commitSettings());
        QCOMPARE(bed->frames().size(), 2);
    }

    void settingsWriteReadBackAndStore()
    {
        // Every write is read back: an acknowledgement alone proves nothing on a shared line.
        IN_PROCESS_ONLY();
        QVERIFY(startTap(QStringLiteral("--firmware-version 4.2")));
        QVERIFY(dev->writeSettings(DeviceSettings(), false));
        QCOMPARE(accessesOf(bed->frames()), writes(0x70, "\x18") + reads(0x71, false));

        // Flags and masks as the register map packs them; match fields set one by one.
        const QByteArray values = QByteArray::fromHex("15ff5a9596") + Match;
        DeviceSettings s;
        unpackFlags(0x15, s);
        unpackCareMasks(bytes(values) + 2, s);
        s.setControlByte(0xFF);
        const uint8_t *m = bytes(Match);
        s.setDstMac(m);
        s.setSrcMac(m + 6);
        s.setEtherType(m + 12);
        s.setProtocol(m[14]);
        s.setSrcIp(m + 15);
        s.setDstIp(m + 19);
        bed->clearFrames();
        QVERIFY(dev->writeSettings(s, false));
        QCOMPARE(accessesOf(bed->frames()), writes(0x70, values) + reads(0x71, false));

        // Each register twice in a row; the control byte reads back in five bits; the status
        // words are the tap's, the version with its major number in the low byte.
        bed->clearFrames();
        DeviceSettings back;
        QVERIFY(dev->readSettings(back, false));
        QCOMPARE(accessesOf(bed->frames()), settingsReadOf(0x71));
        DeviceSettings want = s;
        want.setControlByte(0x1F);
        want.setFirmwareVersion(0x0204);
        want.setFirmwareTypeCode(0x220C);
        QVERIFY(back == want);

        // Storing writes the stored copy, then commits exactly once.
        bed->clearFrames();
        QVERIFY(dev->writeSettings(s, true));
        QCOMPARE(accessesOf(bed->frames()),
                 (writes(0x80, values) << Access({0x8F, 0, 0})) + reads(0x81, false));
    }

    // A refused write still sends the whole record and says which register failed first; a
    // register that cannot be read is tried again, then counts as zero, the flags byte too,
    // so both capture flags read as off.
    void settingsRefused()
    {
        IN_PROCESS_ONLY();
        QVERIFY(startTap(QStringLiteral("--wrong-code 70:ff --wrong-code 71:ff")));
        QVERIFY(!dev->writeSettings(DeviceSettings(), false));
        QCOMPARE(bed->frames().size(), 28);
        QCOMPARE(dev->lastFailure().text(),
                 QStringLiteral("register 0x70000, refused with code 0xFF"));

        bed->clearFrames();
        DeviceSettings back;
        back.setDstMacMask(0x3F);
        QVERIFY(!dev->readSettings(back, false));
        QCOMPARE(bed->frames().size(), 32 * (2 + MV1Device_v4::ExtraReadsPerRegister));
        DeviceSettings zeros;
        zeros.setCaptureCrcErrorFrames(0);
        zeros.setCaptureFcs(0);
        QVERIFY(back == zeros);
    }

    // The capture sees the tap's zero-address frames and nothing of the line's other traffic.
    void filterAdmitsOnlyZeroAddressTraffic()
    {
        QVERIFY(startTap(QStringLiteral("--background-rate 5000 --junk-before-reply 3")));
        PacketSession capture = session();
        QVERIFY(capture.open());
        QCOMPARE(send(capture), RequestLength);
        const QList<QByteArray> got = drain(capture);
        QCOMPARE(got.size(), 4);
        for (const QByteArray &f : got)
            QCOMPARE(f.left(6), QByteArray(6, '\0'));
        QCOMPARE(byteAt(got.last(), OpcodeAt), uint8_t(23));
        // a quiet line ends the read
        QCOMPARE(int(capture.receive().result), int(LinkReception::Result::Quiet));
    }

    // A closed session delivers nothing of what arrived while it was closed, and works again.
    void framesFromWhileClosedAreNeverSeen()
    {
        QVERIFY(startTap());
        PacketSession closed = session();
        QVERIFY(closed.open());
        closed.close();
        QCOMPARE(send(closed), -1);

        PacketSession other = session();
        QVERIFY(other.open());
        for (int i = 0; i < 3; ++i)
            QCOMPARE(send(other), RequestLength);
        QCOMPARE(drain(other).size(), 3);
        other.close();

        QVERIFY(closed.open());
        QVERIFY(drain(closed).isEmpty());
        QCOMPARE(send(closed), RequestLength);
        QCOMPARE(drain(closed).size(), 1);
        QCOMPARE(bed->frames().size(), 4);
    }

    // A parked capture goes once it has stood idle, never while open, and the next exchange
    // makes a new one.
    void idleCaptureIsGivenUp()
    {
        using Clock = PacketSession::Clock;
        const auto later = [](int ms) { return Clock::now() + std::chrono::milliseconds(ms); };
        QVERIFY(startTap());
        QCOMPARE(dev->msUntilCaptureRelease(), -1);
        QVERIFY(!dev->releaseIdleCapture(later(PacketSession::IdleReleaseMs)));

        PacketSession open = session();
        QVERIFY(open.open());
        QVERIFY(!open.releaseIfIdle(later(10 * PacketSession::IdleReleaseMs)));
        QCOMPARE(send(open), RequestLength);
        QCOMPARE(drain(open).size(), 1);
        open.close();
        QVERIFY(open.msUntilIdleRelease() > 0);
        QVERIFY(open.msUntilIdleRelease() <= PacketSession::IdleReleaseMs);
        QVERIFY(!open.releaseIfIdle());
        QCOMPARE(bed->capturesHeld(), 1);
        QCOMPARE(promiscuity(), 1);
        QVERIFY(open.releaseIfIdle(later(PacketSession::IdleReleaseMs)));
        QCOMPARE(open.msUntilIdleRelease(), -1);
        QCOMPARE(bed->capturesHeld(), 0);
        QCOMPARE(promiscuity(), 0);

        QVERIFY(dev->writeRegister(0x70001, 0x5A, false));
        QCOMPARE(bed->capturesHeld(), 1);
        QVERIFY(dev->releaseIdleCapture(later(PacketSession::IdleReleaseMs)));
        QCOMPARE(bed->capturesHeld(), 0);
        uint8_t value = 0;
        QVERIFY(dev->readRegister(0x70001, &value, false));
        QCOMPARE(value, uint8_t(0x5A));
    }

    // What the host's interface does to an operation: a frame longer than its MTU, or a link
    // down for longer than a replug takes, ends it with the cause and the fix, and nothing more
    // is tried (an update does not even begin).
    void interfaceFaultsEndTheOperation_data()
    {
        struct Row
        {
            const char *name;
            int mtu;  // 0: the link down
            bool update;
            const char *failure;
        };
        static const Row Rows[] = {
            {"MTU below a register frame", 100, false,
             "register 0x70000, kvtap0's MTU is 100; the tap's frames need 1500: `ip link set dev "
             "kvtap0 mtu 1500`"},
            {"MTU below a page frame", 1000, true,
             "begin, kvtap0's MTU is 1000; the tap's frames need 1500: `ip link set dev kvtap0 mtu "
             "1500`"},
            {"down longer than a replug", 0, false,
             "register 0x70000, kvtap0 is down: `ip link set dev kvtap0 up`"},
        };
        QTest::addColumn<int>("mtu");
        QTest::addColumn<bool>("update");
        QTest::addColumn<QString>("failure");
        for (const Row &row : Rows)
            QTest::newRow(row.name) << row.mtu << row.update << row.failure;
    }

    void interfaceFaultsEndTheOperation()
    {
        QFETCH(int, mtu);
        QFETCH(bool, update);
        QFETCH(QString, failure);
        QVERIFY(startTap());
        QVERIFY(mtu > 0 ? bed->setMtu(mtu) : bed->setUp(false));
        const QByteArray image(4096, '\x5A');
        QVERIFY(update ? !dev->updateFirmware(bytes(image), int(image.size()))
                       : !dev->writeSettings(DeviceSettings(), false));
        QCOMPARE(dev->lastFailure().text(), failure);
        QVERIFY(dev->lastFailure().interfaceFault());
        QVERIFY(bed->setUp(true));  // for the bed's own look at what the tap received
        QVERIFY(bed->frames().isEmpty());
    }

    // A link away for less than the grace, down and then unplugged and plugged in again as a
    // USB adapter is: the write waits and goes through to the tap that came back.
    void replugWithinTheGraceIsWaitedFor()
    {
        IN_PROCESS_ONLY();
        QVERIFY(startTap());
        const std::shared_ptr<SimulatedLine> line =
            InProcessTaps::instance().line(bed->hostInterface());
        QVERIFY(bed->setUp(false));
        bool written = false;
        std::thread writer([&] { written = dev->writeRegister(0x70001, 0x5A, false); });
        QTRY_VERIFY(line->refusedOpens() > 0);
        QVERIFY(bed->unplug() && bed->plug() && bed->startTap());
        writer.join();
        QVERIFY(written);
        QCOMPARE(accessesOf(bed->frames()), (QList<Access>{{0x70, 0x70001, 0x5A}}));
    }

    // An unplugged interface is told as gone once the grace is over, the capture library's
    // words kept, whichever way the frames travel; a capture open meanwhile first reads what
    // came before (another session's request and its answer). The device works again once the
    // tap is back.
    void deviceSurvivesUnplugAndReplug()
    {
        QVERIFY(startTap());
        PacketSession held = session();
        QVERIFY(held.open());
        QVERIFY(dev->writeRegister(0x70001, 0x01, false));
        QVERIFY(bed->unplug());
        QVERIFY(!dev->writeRegister(0x70001, 0x02, false));
        QCOMPARE(dev->lastFailure().detail, std::string("No such device exists"));
        QCOMPARE(dev->lastFailure().text(),
                 QStringLiteral("register 0x70001, kvtap0 went away and did not come back"));
        QCOMPARE(drain(held).size(), 2);
        QCOMPARE(int(held.receive().result), int(LinkReception::Result::Failed));
        QCOMPARE(held.lastError(), std::string("The interface disappeared"));
        QCOMPARE(int(held.lastErrorKind()), int(LinkError::Kind::InterfaceGone));
        QVERIFY(bed->plug());
        QVERIFY(bed->startTap());
        QVERIFY(dev->writeRegister(0x70001, 0x03, false));
        QCOMPARE(accessesOf(bed->frames()), (QList<Access>{{0x70, 0x70001, 0x03}}));
    }

    // Names use all fifteen characters the kernel allows; a longer one is never cut down to
    // match another interface, and a failed lookup leaves the buffer alone.
    void hardwareAddress()
    {
        END_TO_END_ONLY();
        const QString name = QStringLiteral("kvlongname12345");
        QVERIFY(TapTestBed::ip({QStringLiteral("link"), QStringLiteral("add"), name,
                                QStringLiteral("address"), QStringLiteral("00:0e:c6:ab:cd:ef"),
                                QStringLiteral("type"), QStringLiteral("veth")}));
        Mac mac = Untouched;
        QVERIFY(readHardwareAddress(qPrintable(name), mac.data()));
        QCOMPARE(mac, (Mac{0x00, 0x0E, 0xC6, 0xAB, 0xCD, 0xEF}));

        mac = Untouched;
        QVERIFY(!readHardwareAddress(qPrintable(name + QLatin1Char('6')), mac.data()));
        QVERIFY(!readHardwareAddress("kvnosuch0", mac.data()));
        QVERIFY(!PacketSession(nullptr).hardwareAddress(mac.data()));
        QCOMPARE(mac, Untouched);
    }
};

QTEST_GUILESS_MAIN(TestDevice)
#include "tst_device.moc"
