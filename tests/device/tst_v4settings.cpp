#include <QtTest>

#include <memory>

#include "DeviceSettings.h"
#include "DeviceTestUtil.h"
#include "MV1Device_v4.h"
#include "TapTestBed.h"

using namespace devtest;

namespace {

// The 28 registers of a settings write, in the order they go out.
QList<int> writeOrder()
{
    QList<int> out{0x70000, 0x70001, 0x70007, 0x70008, 0x70009};
    for (int a = 0x70200; a <= 0x70216; ++a)
        out.append(a);
    return out;
}

QList<int> readOrder()
{
    return writeOrder() + QList<int>{0x70300, 0x70301, 0x70302, 0x70303};
}

QList<Access> expectedWrites(uint8_t op, const QList<uint8_t> &values)
{
    QList<Access> out;
    const QList<int> order = writeOrder();
    for (int i = 0; i < order.size(); ++i)
        out.append({op, order[i], values.value(i)});
    return out;
}

// A record with every field set to something distinct.
DeviceSettings fullRecord()
{
    DeviceSettings s;
    s.setFilterMode(1, 0);
    s.setTimestampsEnabled(1);
    s.setCaptureCrcErrorFrames(0);
    s.setCaptureFcs(1);
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

    void startTap(const QStringList &options = {})
    {
        dev.reset();
        bed = std::make_unique<TapTestBed>();
        QVERIFY(bed->plug());
        QVERIFY(bed->startTap(options));
        dev = std::make_unique<MV1Device_v4>(qPrintable(bed->hostInterface()));
    }

    QList<uint8_t> registerValues(const DeviceSettings &s, bool persistent)
    {
        bed->clearFrames();
        dev->writeSettings(s, persistent);
        QList<uint8_t> out;
        for (const Access &a : accessesOf(bed->frames()))
            out.append(uint8_t(a.value));
        return out;
    }

private slots:
    void initTestCase() { REQUIRE_TAP_TEST_BED(); }
    void cleanup()
    {
        dev.reset();
        bed.reset();
    }

    void writesGoOutInRegisterOrder()
    {
        startTap();
        QVERIFY(dev->writeSettings(DeviceSettings(), false));
        QCOMPARE(accessesOf(bed->frames()), expectedWrites(0x70, {0x18}));

        bed->clearFrames();
        const DeviceSettings s = fullRecord();
        QVERIFY(dev->writeSettings(s, false));
        QCOMPARE(accessesOf(bed->frames()),
                 expectedWrites(0x70, {0x15, 0xFF, 0x5A, 0x95, 0x96, 0x00, 0x1b, 0x21, 0x3c,
                                       0x4d, 0x5e, 0xf0, 0xe1, 0xd2, 0xc3, 0xb4, 0xa5, 0x86,
                                       0xdd, 0x3a, 172,  16,   254,  1,    224,  0,    0,
                                       251}));
    }

    void flagsAndMaskRegisters()
    {
        startTap();
        DeviceSettings s;
        s.setFilterMode(1, 1);
        s.setCaptureFcs(0);
        QCOMPARE(registerValues(s, false).value(0), uint8_t(0x0B));

        s.clear();
        s.setDstMacMask(0x3F);
        s.setSrcMacMask(0x3F);
        s.setEtherTypeMask(3);
        s.setProtocolMask(1);
        s.setSrcIpMask(0x0F);
        s.setDstIpMask(0x0F);
        QCOMPARE(registerValues(s, false).mid(2, 3), (QList<uint8_t>{0x7F, 0xFF, 0xFF}));
        // Single bits of each mask are placed by the unit tests of the register map.
    }

    // Storing the settings writes the stored copy and commits once; applying never commits.
    void persistentWriteCommitsOnce()
    {
        startTap();
        const DeviceSettings s = fullRecord();
        QVERIFY(dev->writeSettings(s, true));
        const QList<Access> got = accessesOf(bed->frames());
        QCOMPARE(got.size(), 29);
        QList<Access> expected = expectedWrites(0x80, registerValues(s, false));
        expected.append({0x8F, 0, 0});
        QCOMPARE(got, expected);

        bed->clearFrames();
        QVERIFY(dev->writeSettings(s, false));
        QVERIFY(!accessesOf(bed->frames()).contains(Access{0x8F, 0, 0}));
    }

    // A read gives the record that was written, except the control byte (five bits) and the
    // status words, which are the tap's.
    void readBackAfterWrite()
    {
        startTap({QStringLiteral("--firmware-version"), QStringLiteral("4.2"),
                  QStringLiteral("--firmware-type"), QStringLiteral("220c")});
        const DeviceSettings s = fullRecord();
        QVERIFY(dev->writeSettings(s, false));
        bed->clearFrames();

        DeviceSettings back = fullRecord();
        back.setFirmwareVersion(0x7777);
        QVERIFY(!dev->readSettings(back, false));
        QList<Access> expected;
        for (const int a : readOrder())
            expected.append({0x71, a, 0});
        QCOMPARE(accessesOf(bed->frames()), expected);

        uint8_t control = 0;
        back.controlByte(&control);
        QCOMPARE(control, uint8_t(0x1F));
        QCOMPARE(back.firmwareVersion(), uint16_t(0x0204));   // major in the low byte
        QCOMPARE(back.firmwareTypeCode(), uint16_t(0x220C));
        DeviceSettings want = s;
        want.setControlByte(0x1F);
        want.setFirmwareVersion(0x0204);
        want.setFirmwareTypeCode(0x220C);
        QVERIFY(back == want);
    }

    // An apply that did not reach the tap says so, but still sends the whole sequence.
    void unacknowledgedWritesAreReported()
    {
        startTap({QStringLiteral("--wrong-code"), QStringLiteral("70:0")});
        QVERIFY(!dev->writeSettings(fullRecord(), false));
        QCOMPARE(bed->frames().size(), 28);

        startTap({QStringLiteral("--drop-every"), QStringLiteral("5")});
        QVERIFY(dev->writeSettings(fullRecord(), true));   // lost frames resent, all answered

        startTap({QStringLiteral("--wrong-code"), QStringLiteral("80:7")});
        QVERIFY(!dev->writeSettings(fullRecord(), true));
        const QList<Access> got = accessesOf(bed->frames());
        QCOMPARE(got.size(), 29);
        QCOMPARE(got.last(), (Access{0x8F, 0, 0}));
    }

    // Registers that cannot be read count as zeros: the flags byte too, so both capture
    // flags read as off.
    void failedReadsLeaveZeros()
    {
        startTap({QStringLiteral("--wrong-code"), QStringLiteral("71:0")});
        DeviceSettings back = fullRecord();
        back.setFirmwareTypeCode(0x220C);
        QVERIFY(!dev->readSettings(back, false));
        DeviceSettings zeros;
        zeros.setCaptureCrcErrorFrames(0);
        zeros.setCaptureFcs(0);
        QVERIFY(back == zeros);
        QCOMPARE(bed->frames().size(), 32);
    }
};

QTEST_GUILESS_MAIN(TestV4Settings)
#include "tst_v4settings.moc"
