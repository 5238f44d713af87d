#include <QProcess>
#include <QtTest>

#include <array>
#include <memory>

#include "DeviceTestUtil.h"
#include "HardwareAddress.h"
#include "MV1Device_v4.h"
#include "PacketSession.h"
#include "TapTestBed.h"

using namespace devtest;

namespace {

using Mac = std::array<uint8_t, HardwareAddressLength>;
constexpr Mac TapMac{0x00, 0x0E, 0xC6, 0x12, 0x34, 0x56};
constexpr Mac Untouched{0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5};

const uint8_t *bytes(const QByteArray &f) { return reinterpret_cast<const uint8_t *>(f.constData()); }

bool ipLink(const QStringList &args)
{
    return QProcess::execute(QStringLiteral("ip"), QStringList{QStringLiteral("link")} + args) == 0;
}

struct Received
{
    QByteArray bytes;
    bool zeroDestination() const { return bytes.left(6) == QByteArray(6, '\0'); }
    bool zeroSource() const { return bytes.mid(6, 6) == QByteArray(6, '\0'); }
};

// Every frame the session delivers until `quietReads` read timeouts in a row have passed.
QList<Received> drainUntilQuiet(PacketSession &session, int quietReads)
{
    QList<Received> out;
    for (int quiet = 0; quiet < quietReads;) {
        struct pcap_pkthdr *h = nullptr;
        const u_char *d = nullptr;
        const int r = session.receive(&h, &d);
        if (r < 0)
            break;
        if (r == 0) {
            ++quiet;
            continue;
        }
        out.append({QByteArray(reinterpret_cast<const char *>(d), static_cast<int>(h->caplen))});
    }
    return out;
}

} // namespace

class TestPacketSession : public QObject
{
    Q_OBJECT

    std::unique_ptr<TapTestBed> bed;

private slots:
    void initTestCase() { REQUIRE_TAP_TEST_BED(); }
    void cleanup() { bed.reset(); }

    void missingInterfaceReportsTheLibraryReason()
    {
        PacketSession session("kvnosuch0");
        StdoutCapture out;
        QVERIFY(!session.open());
        const QByteArray printed = out.text();
        QVERIFY(!session.isOpen());
        QVERIFY(!session.lastError().empty());
        QCOMPARE(printed, QByteArray("Cannot open interface : ")
                              + QByteArray::fromStdString(session.lastError()) + '\n');

        // Nothing on a closed session reaches the library, however often it is asked.
        session.close();
        session.close();
        const QByteArray frame = request(0x70, 0x70001);
        QCOMPARE(session.send(reinterpret_cast<const uint8_t *>(frame.constData()), 300), -1);
        struct pcap_pkthdr *h = nullptr;
        const u_char *d = nullptr;
        QVERIFY(session.receive(&h, &d) < 0);
    }

    void openSendCloseLifecycle()
    {
        bed = std::make_unique<TapTestBed>();
        QVERIFY(bed->plug());
        QVERIFY(bed->startTap({QStringLiteral("--silent")}));
        const QByteArray first = request(0x70, 0x70001, 0x11);
        const QByteArray second = request(0x70, 0x70001, 0x22);
        const QByteArray third = request(0x70, 0x70001, 0x33);

        PacketSession session(qPrintable(bed->hostInterface()));
        QVERIFY(session.open());
        QVERIFY(session.lastError().empty());
        QCOMPARE(session.send(bytes(first), 300), 300);   // the length, not the library's 0
        session.close();
        session.close();
        QCOMPARE(session.send(bytes(second), 300), -1);

        // Opened again after a close; destroyed while open.
        {
            PacketSession other(qPrintable(bed->hostInterface()));
            QVERIFY(other.open());
            QCOMPARE(other.send(bytes(third), 300), 300);
        }
        QVERIFY(session.open());
        session.close();

        QCOMPARE(bytesOf(bed->frames()), (QList<QByteArray>{first, third}));
    }

    // The capture sees traffic to or from the all-zero address and nothing else, and a quiet
    // line still ends every read.
    void filterAdmitsOnlyZeroAddressTraffic()
    {
        bed = std::make_unique<TapTestBed>();
        QVERIFY(bed->plug());
        QVERIFY(bed->startTap({QStringLiteral("--background-rate"), QStringLiteral("5000"),
                               QStringLiteral("--junk-before-reply"), QStringLiteral("3")}));
        PacketSession session(qPrintable(bed->hostInterface()));
        QVERIFY(session.open());
        const QByteArray read = request(0x71, 0x70301);
        QCOMPARE(session.send(reinterpret_cast<const uint8_t *>(read.constData()), 300), 300);
        const QList<Received> got = drainUntilQuiet(session, 10);
        session.close();

        int junk = 0, replies = 0;
        for (const Received &r : got) {
            QVERIFY2(r.zeroDestination() || r.zeroSource(), r.bytes.left(14).toHex().constData());
            if (r.zeroDestination() && !r.zeroSource())
                ++junk;
            else if (r.bytes.left(15) == QByteArray(15, '\0'))
                ++replies;
        }
        QCOMPARE(junk, 3);
        QCOMPARE(replies, 1);
    }

    void quietLineEndsEveryRead()
    {
        bed = std::make_unique<TapTestBed>();
        QVERIFY(bed->plug());   // no tap behind it: nothing ever arrives
        PacketSession session(qPrintable(bed->hostInterface()));
        QVERIFY(session.open());
        for (int i = 0; i < 3; ++i) {
            struct pcap_pkthdr *h = nullptr;
            const u_char *d = nullptr;
            QCOMPARE(session.receive(&h, &d), 0);
        }
    }

    // A closed session shows nothing of what arrived while it was closed, and works on.
    void framesFromWhileClosedAreNeverSeen()
    {
        bed = std::make_unique<TapTestBed>();
        QVERIFY(bed->plug());
        QVERIFY(bed->startTap());
        const QByteArray host = bed->hostInterface().toLocal8Bit();
        const QByteArray read = request(0x71, 0x70300);

        PacketSession closed(host.constData());
        QVERIFY(closed.open());
        closed.close();

        // Answers to another capture arrive on the same interface meanwhile.
        PacketSession other(host.constData());
        QVERIFY(other.open());
        for (int i = 0; i < 3; ++i)
            QCOMPARE(other.send(bytes(read), 300), 300);
        QCOMPARE(drainUntilQuiet(other, 2).size(), 3);
        other.close();

        QVERIFY(closed.open());
        QVERIFY(drainUntilQuiet(closed, 2).isEmpty());
        QCOMPARE(closed.send(bytes(read), 300), 300);
        const QList<Received> got = drainUntilQuiet(closed, 2);
        QCOMPARE(got.size(), 1);
        QCOMPARE(byteAt(got[0].bytes, OpcodeAt), uint8_t(23));
        closed.close();
    }

    // The same device object goes on working after its interface went away and came back.
    void deviceSurvivesUnplugAndReplug()
    {
        bed = std::make_unique<TapTestBed>();
        QVERIFY(bed->plug());
        QVERIFY(bed->startTap());
        MV1Device_v4 device(qPrintable(bed->hostInterface()));
        QVERIFY(device.writeRegister(0x70001, 0x01, false));

        QVERIFY(bed->unplug());
        {
            StdoutCapture out;
            QVERIFY(!device.writeRegister(0x70001, 0x02, false));
            QVERIFY(out.text().startsWith("Cannot open interface : "));
        }

        QVERIFY(bed->plug());
        QVERIFY(bed->startTap());
        QVERIFY(device.writeRegister(0x70001, 0x03, false));
        QCOMPARE(accessesOf(bed->frames()), (QList<Access>{{0x70, 0x70001, 0x03}}));
    }

    void hardwareAddressOfSessionAndDevice()
    {
        bed = std::make_unique<TapTestBed>();
        QVERIFY(bed->plug());
        const QByteArray host = bed->hostInterface().toLocal8Bit();

        Mac mac = Untouched;
        QVERIFY(readHardwareAddress(host.constData(), mac.data()));
        QCOMPARE(mac, TapMac);

        PacketSession session(host.constData());
        mac = Untouched;
        QVERIFY(session.hardwareAddress(mac.data()));   // closed
        QCOMPARE(mac, TapMac);
        QVERIFY(session.open());
        mac = Untouched;
        QVERIFY(session.hardwareAddress(mac.data()));   // open
        QCOMPARE(mac, TapMac);
        session.close();

        MV1Device_v4 device(host.constData());
        QCOMPARE(device.generation(), 4);
        QCOMPARE(QByteArray(device.interfaceName()), host);
        mac = Untouched;
        QVERIFY(device.hardwareAddress(mac.data()));
        QCOMPARE(mac, TapMac);

        // The loopback reports zeros, which are not the tap's prefix.
        mac = Untouched;
        QVERIFY(readHardwareAddress("lo", mac.data()));
        QCOMPARE(mac, (Mac{}));
    }

    void failedLookupsLeaveTheOutputAlone()
    {
        Mac mac = Untouched;
        QVERIFY(!readHardwareAddress("kvnosuch0", mac.data()));
        QVERIFY(!readHardwareAddress("", mac.data()));
        QVERIFY(!readHardwareAddress(nullptr, mac.data()));
        QVERIFY(!PacketSession(nullptr).hardwareAddress(mac.data()));
        QVERIFY(!PacketSession("").hardwareAddress(mac.data()));
        QCOMPARE(mac, Untouched);
    }

    // Names use all fifteen characters the kernel allows; a longer one is never cut down to
    // match a different interface.
    void longNamesAreLookedUpWhole()
    {
        const QString fifteen = QStringLiteral("kvlongname12345");
        QCOMPARE(fifteen.size(), 15);
        QVERIFY(ipLink({QStringLiteral("add"), QStringLiteral("name"), fifteen, QStringLiteral("type"),
                        QStringLiteral("veth"), QStringLiteral("peer"), QStringLiteral("name"),
                        QStringLiteral("kvlongpeer0")}));
        const auto removeIt = qScopeGuard([&] { ipLink({QStringLiteral("del"), fifteen}); });
        QVERIFY(ipLink({QStringLiteral("set"), fifteen, QStringLiteral("address"),
                        QStringLiteral("00:0e:c6:ab:cd:ef")}));

        Mac mac = Untouched;
        QVERIFY(readHardwareAddress(qPrintable(fifteen), mac.data()));
        QCOMPARE(mac, (Mac{0x00, 0x0E, 0xC6, 0xAB, 0xCD, 0xEF}));

        mac = Untouched;
        QVERIFY(!readHardwareAddress(qPrintable(fifteen + QLatin1Char('6')), mac.data()));
        QCOMPARE(mac, Untouched);
    }

    // Built without a name the device has no session: every command fails and touches
    // nothing, and it still goes away cleanly.
    void deviceWithoutNameFailsQuietly()
    {
        MV1Device_v4 device(nullptr);
        QCOMPARE(device.generation(), 4);
        QCOMPARE(QByteArray(device.interfaceName()), QByteArray());
        StdoutCapture out;
        uint8_t value = 0xA5;
        QVERIFY(!device.writeRegister(0x70001, 0xFF, false));
        QVERIFY(!device.readRegister(0x70001, &value, false));
        QVERIFY(!device.eraseSettings());
        QVERIFY(!device.beginProgramming());
        QVERIFY(!device.commitSettings());
        QVERIFY(!device.exchange(reinterpret_cast<const uint8_t *>(request(0x70, 0).constData()),
                                 300, 10));
        QCOMPARE(out.text(), QByteArray());
        QCOMPARE(value, uint8_t(0xA5));
        Mac mac = Untouched;
        QVERIFY(!device.hardwareAddress(mac.data()));
        QCOMPARE(mac, Untouched);
    }
};

QTEST_GUILESS_MAIN(TestPacketSession)
#include "tst_packetsession.moc"
