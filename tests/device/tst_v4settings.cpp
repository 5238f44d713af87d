#include <QtTest>

#include <memory>

#include "DeviceSettings.h"
#include "MV1Device_v4.h"
#include "TapTestBed.h"
#include "TapWire.h"

using namespace wire;

namespace {

// The 28 register writes of a settings record, in the order they go out.
QList<Access> writes(int op, const QList<int> &values)
{
    QList<int> order{0x70000, 0x70001, 0x70007, 0x70008, 0x70009};
    for (int a = 0x70200; a <= 0x70216; ++a)
        order.append(a);
    QList<Access> out;
    for (int i = 0; i < order.size(); ++i)
        out.append({op, order[i], values.value(i)});
    return out;
}

DeviceSettings fullRecord()
{
    DeviceSettings s;
    s.setFilterMode(1, 0);
    s.setTimestampsEnabled(1);
    s.setCaptureCrcErrorFrames(0);
    s.setControlByte(0xFF);
    s.setDstMacMask(0x2D);
    s.setSrcMacMask(0x12);
    s.setEtherTypeMask(2);
    s.setProtocolMask(1);
    s.setSrcIpMask(0x9);
    s.setDstIpMask(0x6);
    const uint8_t dst[6] = {0x00, 0x1b, 0x21, 0x3c, 0x4d, 0x5e};
    const uint8_t src[6] = {0xf0, 0xe1, 0xd2, 0xc3, 0xb4, 0xa5};
    const uint8_t type[2] = {0x86, 0xdd};
    const uint8_t srcIp[4] = {172, 16, 254, 1};
    const uint8_t dstIp[4] = {224, 0, 0, 251};
    s.setDstMac(dst);
    s.setSrcMac(src);
    s.setEtherType(type);
    s.setProtocol(0x3a);
    s.setSrcIp(srcIp);
    s.setDstIp(dstIp);
    return s;
}

} // namespace

class TestV4Settings : public QObject
{
    Q_OBJECT

    std::unique_ptr<TapTestBed> bed;
    std::unique_ptr<MV1Device_v4> dev;

    void startTap(const QStringList &options)
    {
        dev.reset();
        bed = std::make_unique<TapTestBed>();
        QVERIFY(bed->plug());
        QVERIFY(bed->startTap(options));
        dev = std::make_unique<MV1Device_v4>(qPrintable(bed->hostInterface()));
    }

private slots:
    void initTestCase() { REQUIRE_TAP_TEST_BED(); }
    void cleanup()
    {
        dev.reset();
        bed.reset();
    }

    void writeReadBackAndStore()
    {
        startTap({QStringLiteral("--firmware-version"), QStringLiteral("4.2")});
        QVERIFY(dev->writeSettings(DeviceSettings(), false));
        QCOMPARE(accessesOf(bed->frames()), writes(0x70, {0x18}));

        bed->clearFrames();
        const DeviceSettings s = fullRecord();
        const QList<int> values{0x15, 0xFF, 0x5A, 0x95, 0x96, 0x00, 0x1b, 0x21, 0x3c, 0x4d,
                                0x5e, 0xf0, 0xe1, 0xd2, 0xc3, 0xb4, 0xa5, 0x86, 0xdd, 0x3a,
                                172,  16,   254,  1,    224,  0,    0,    251};
        QVERIFY(dev->writeSettings(s, false));
        QCOMPARE(accessesOf(bed->frames()), writes(0x70, values));

        // The control byte reads back in five bits; the status words are the tap's, the
        // version with its major number in the low byte.
        DeviceSettings back = fullRecord();
        dev->readSettings(back, false);
        DeviceSettings want = s;
        want.setControlByte(0x1F);
        want.setFirmwareVersion(0x0204);
        want.setFirmwareTypeCode(0x220C);
        QVERIFY(back == want);

        // Storing writes the stored copy, then commits exactly once.
        bed->clearFrames();
        QVERIFY(dev->writeSettings(s, true));
        QList<Access> stored = writes(0x80, values);
        stored.append({0x8F, 0, 0});
        QCOMPARE(accessesOf(bed->frames()), stored);
    }

    // An unacknowledged write still sends the whole record; registers that cannot be read
    // count as zeros, the flags byte too, so both capture flags read as off.
    void unansweredWritesAndReads()
    {
        startTap({QStringLiteral("--wrong-code"), QStringLiteral("70:0"),
                  QStringLiteral("--wrong-code"), QStringLiteral("71:0")});
        QVERIFY(!dev->writeSettings(fullRecord(), false));
        QCOMPARE(bed->frames().size(), 28);

        DeviceSettings back = fullRecord();
        dev->readSettings(back, false);
        DeviceSettings zeros;
        zeros.setCaptureCrcErrorFrames(0);
        zeros.setCaptureFcs(0);
        QVERIFY(back == zeros);
    }
};

QTEST_GUILESS_MAIN(TestV4Settings)
#include "tst_v4settings.moc"
