#include <QtTest>

#include "DeviceSettings.h"
#include "SettingsRegisterMap.h"

Q_DECLARE_METATYPE(DeviceSettings)

namespace {

DeviceSettings masks(uint8_t dstMac, uint8_t srcMac, uint8_t etherType = 0, uint8_t protocol = 0,
                     uint8_t srcIp = 0, uint8_t dstIp = 0)
{
    DeviceSettings s;
    s.setDstMacMask(dstMac);
    s.setSrcMacMask(srcMac);
    s.setEtherTypeMask(etherType);
    s.setProtocolMask(protocol);
    s.setSrcIpMask(srcIp);
    s.setDstIpMask(dstIp);
    return s;
}

DeviceSettings flags(uint8_t filter, uint8_t keep, uint8_t timestamps, uint8_t crc, uint8_t fcs)
{
    DeviceSettings s;
    s.setFilterMode(filter, keep);
    s.setTimestampsEnabled(timestamps);
    s.setCaptureCrcErrorFrames(crc);
    s.setCaptureFcs(fcs);
    return s;
}

}  // namespace

class TestSettingsRegisterMap : public QObject
{
    Q_OBJECT

private slots:
    // The flags register 0x70000 and the mask registers 0x70007..0x70009, and back.
    void registerBytes_data()
    {
        QTest::addColumn<DeviceSettings>("settings");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("zero record") << DeviceSettings() << QByteArray("18000000");
        QTest::newRow("filter keep crc") << flags(1, 1, 0, 1, 0) << QByteArray("0b000000");
        QTest::newRow("all flags") << flags(1, 1, 1, 1, 1) << QByteArray("1f000000");
        QTest::newRow("all masks") << masks(0x3F, 0x3F, 3, 1, 0x0F, 0x0F) << QByteArray("187fffff");
        QTest::newRow("dstMac first") << masks(0x20, 0) << QByteArray("18400000");
        QTest::newRow("srcMac first") << masks(0, 0x20) << QByteArray("18010000");
        QTest::newRow("mixed") << masks(0x2A, 0x15, 2, 1, 0x0A, 0x05) << QByteArray("1854ada5");
    }

    void registerBytes()
    {
        QFETCH(DeviceSettings, settings);
        QFETCH(QByteArray, bytes);
        uint8_t out[4];
        out[0] = packFlags(settings);
        packCareMasks(settings, out + 1);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(out), 4).toHex(), bytes);

        // Reading sets every flag and mask, whatever the record held, and ignores bits 7..5.
        DeviceSettings back = masks(0x3F, 0x3F, 3, 1, 0x0F, 0x0F);
        back.setFilterMode(1, 1);
        back.setTimestampsEnabled(1);
        unpackFlags(uint8_t(out[0] | 0xE0), back);
        unpackCareMasks(out + 1, back);
        QVERIFY(back == settings);
    }
};

QTEST_GUILESS_MAIN(TestSettingsRegisterMap)
#include "tst_settingsregistermap.moc"
