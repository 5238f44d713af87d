#include <QtTest>

#include <cstring>

#include "DeviceSettings.h"

class TestDeviceSettings : public QObject
{
    Q_OBJECT

private slots:
    void freshAndClearedRecordsCaptureCrcAndFcsOnly()
    {
        DeviceSettings s;
        s.setFilterMode(1, 1);
        s.setCaptureFcs(0);
        s.setFirmwareVersion(7);
        s.clear();
        for (const DeviceSettings &r : {DeviceSettings(), s}) {
            QCOMPARE(r.filterEnabled(), 0);
            QCOMPARE(r.keepMatching(), 0);
            QCOMPARE(r.timestampsEnabled(), 0);
            QCOMPARE(r.captureCrcErrorFrames(), 1);
            QCOMPARE(r.captureFcs(), 1);
            QCOMPARE(r.firmwareVersion(), 0);
            QCOMPARE(r.firmwareTypeCode(), 0);
            uint8_t mac[6];
            std::memset(mac, 0xAA, sizeof mac);
            r.dstMac(mac);
            QCOMPARE(QByteArray(reinterpret_cast<char *>(mac), 6), QByteArray(6, '\0'));
        }
    }

    void invertedFlagsComplementBothWays()
    {
        DeviceSettings s;
        s.setCaptureFcs(1);
        QCOMPARE(s.captureFcs(), 1);
        s.setCaptureFcs(0);
        QCOMPARE(s.captureFcs(), 0);
        s.setCaptureCrcErrorFrames(0);
        QCOMPARE(s.captureCrcErrorFrames(), 0);
        s.setCaptureCrcErrorFrames(1);
        QCOMPARE(s.captureCrcErrorFrames(), 1);
        // The capture flags do not leak into the others.
        QCOMPARE(s.filterEnabled(), 0);
        QCOMPARE(s.timestampsEnabled(), 0);
    }

    void addressFieldsKeepByteOrder()
    {
        DeviceSettings s;
        const uint8_t type[2] = {0x08, 0x00};
        s.setEtherType(type);
        uint8_t back[2] = {};
        s.etherType(back);
        QCOMPARE(back[0], uint8_t(0x08));
        QCOMPARE(back[1], uint8_t(0x00));

        const uint8_t ip[4] = {192, 168, 1, 7};
        s.setSrcIp(ip);
        uint8_t ipBack[4] = {};
        s.srcIp(ipBack);
        QCOMPARE(std::memcmp(ip, ipBack, 4), 0);
        s.dstIp(ipBack);
        QCOMPARE(ipBack[0], uint8_t(0));
    }

    void copyCarriesStatusWordsAndMasks()
    {
        DeviceSettings s;
        s.setFirmwareVersion(0x0004);
        s.setFirmwareTypeCode(0x220C);
        s.setSrcMacMask(0x21);
        s.setControlByte(255);
        DeviceSettings copy;
        copy = s;
        QCOMPARE(copy.firmwareVersion(), uint16_t(0x0004));
        QCOMPARE(copy.firmwareTypeCode(), uint16_t(0x220C));
        uint8_t mask = 0, control = 0;
        copy.srcMacMask(&mask);
        copy.controlByte(&control);
        QCOMPARE(mask, uint8_t(0x21));
        QCOMPARE(control, uint8_t(255));
        QVERIFY(copy == s);
    }
};

QTEST_APPLESS_MAIN(TestDeviceSettings)
#include "tst_devicesettings.moc"
