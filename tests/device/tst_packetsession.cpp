#include <QProcess>
#include <QtTest>

#include <array>
#include <memory>

#include "HardwareAddress.h"
#include "MV1Device_v4.h"
#include "PacketSession.h"
#include "StdoutCapture.h"
#include "TapTestBed.h"
#include "TapWire.h"

using namespace wire;

namespace {

using Mac = std::array<uint8_t, HardwareAddressLength>;
constexpr Mac Untouched{0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5};

const QByteArray Read = request(0x71, 0x70300);

int send(PacketSession &session)
{
    return session.send(reinterpret_cast<const uint8_t *>(Read.constData()), RequestLength);
}

// Every frame the session delivers until two reads in a row find the line quiet.
QList<QByteArray> drain(PacketSession &session)
{
    QList<QByteArray> out;
    for (int quiet = 0; quiet < 2;) {
        pcap_pkthdr *h = nullptr;
        const u_char *d = nullptr;
        const int r = session.receive(&h, &d);
        if (r < 0)
            break;
        if (r == 0)
            ++quiet;
        else
            out.append(QByteArray(reinterpret_cast<const char *>(d), int(h->caplen)));
    }
    return out;
}

} // namespace

class TestPacketSession : public QObject
{
    Q_OBJECT

    std::unique_ptr<TapTestBed> bed;

    void startTap(const QStringList &options)
    {
        bed = std::make_unique<TapTestBed>();
        QVERIFY(bed->plug());
        QVERIFY(bed->startTap(options));
    }

private slots:
    void initTestCase() { REQUIRE_TAP_TEST_BED(); }
    void cleanup() { bed.reset(); }

    void missingInterface()
    {
        PacketSession session("kvnosuch0");
        StdoutCapture out;
        QVERIFY(!session.open());
        QVERIFY(!session.lastError().empty());
        QCOMPARE(out.text(), "Cannot open interface : "
                                 + QByteArray::fromStdString(session.lastError()) + '\n');
        session.close();
        QCOMPARE(send(session), -1);
        pcap_pkthdr *h = nullptr;
        const u_char *d = nullptr;
        QVERIFY(session.receive(&h, &d) < 0);
    }

    // The capture sees the tap's zero-address frames and nothing of the line's other traffic.
    void filterAdmitsOnlyZeroAddressTraffic()
    {
        startTap({QStringLiteral("--background-rate"), QStringLiteral("5000"),
                  QStringLiteral("--junk-before-reply"), QStringLiteral("3")});
        PacketSession session(qPrintable(bed->hostInterface()));
        QVERIFY(session.open());
        QCOMPARE(send(session), RequestLength);
        const QList<QByteArray> got = drain(session);
        QCOMPARE(got.size(), 4);
        for (const QByteArray &f : got)
            QCOMPARE(f.left(6), QByteArray(6, '\0'));
        QCOMPARE(byteAt(got.last(), OpcodeAt), uint8_t(23));
        pcap_pkthdr *h = nullptr;
        const u_char *d = nullptr;
        QCOMPARE(session.receive(&h, &d), 0);   // a quiet line ends the read
    }

    // A closed session delivers nothing of what arrived while it was closed, and works again.
    void framesFromWhileClosedAreNeverSeen()
    {
        startTap({});
        const QByteArray host = bed->hostInterface().toLocal8Bit();
        PacketSession closed(host.constData());
        QVERIFY(closed.open());
        closed.close();
        QCOMPARE(send(closed), -1);

        PacketSession other(host.constData());
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

    void deviceSurvivesUnplugAndReplug()
    {
        startTap({});
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

    // Names use all fifteen characters the kernel allows; a longer one is never cut down to
    // match another interface, and a failed lookup leaves the buffer alone.
    void hardwareAddress()
    {
        const QString name = QStringLiteral("kvlongname12345");
        QCOMPARE(QProcess::execute(QStringLiteral("ip"),
                                   {QStringLiteral("link"), QStringLiteral("add"), name,
                                    QStringLiteral("address"), QStringLiteral("00:0e:c6:ab:cd:ef"),
                                    QStringLiteral("type"), QStringLiteral("veth")}),
                 0);
        Mac mac = Untouched;
        QVERIFY(readHardwareAddress(qPrintable(name), mac.data()));
        QCOMPARE(mac, (Mac{0x00, 0x0E, 0xC6, 0xAB, 0xCD, 0xEF}));
        mac = Untouched;
        QVERIFY(PacketSession(qPrintable(name)).hardwareAddress(mac.data()));
        QCOMPARE(mac, (Mac{0x00, 0x0E, 0xC6, 0xAB, 0xCD, 0xEF}));

        mac = Untouched;
        QVERIFY(!readHardwareAddress(qPrintable(name + QLatin1Char('6')), mac.data()));
        QVERIFY(!readHardwareAddress("kvnosuch0", mac.data()));
        QVERIFY(!PacketSession(nullptr).hardwareAddress(mac.data()));
        QCOMPARE(mac, Untouched);
    }
};

QTEST_GUILESS_MAIN(TestPacketSession)
#include "tst_packetsession.moc"
