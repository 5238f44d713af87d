#include <QtTest>

#include "DeviceSettings.h"

class TestDeviceSettings : public QObject
{
    Q_OBJECT

private slots:
    // Capturing CRC-error frames and the FCS are stored inverted: a zero record captures both.
    void clearedRecordCapturesCrcAndFcsOnly()
    {
        DeviceSettings s;
        s.setFilterMode(1, 1);
        s.setCaptureFcs(0);
        s.setFirmwareVersion(7);
        s.clear();
        QCOMPARE(s.filterEnabled() + s.keepMatching() + s.timestampsEnabled(), 0);
        QCOMPARE(s.captureCrcErrorFrames(), 1);
        QCOMPARE(s.captureFcs(), 1);
        QCOMPARE(s.firmwareVersion(), 0);
        for (uint8_t on : {0, 1, 0}) {
            s.setCaptureFcs(on);
            s.setCaptureCrcErrorFrames(on ^ 1);
            QCOMPARE(s.captureFcs(), on);
            QCOMPARE(s.captureCrcErrorFrames(), on ^ 1);
        }
        QCOMPARE(s.filterEnabled() + s.timestampsEnabled(), 0);
    }

    // Address fields keep transmission order, and a copy carries the status words.
    void fieldsKeepByteOrderAndCopyWhole()
    {
        DeviceSettings s;
        const uint8_t type[2] = {0x08, 0x00}, ip[4] = {192, 168, 1, 7};
        s.setEtherType(type);
        s.setSrcIp(ip);
        s.setFirmwareVersion(0x0004);
        s.setFirmwareTypeCode(0x220C);
        const DeviceSettings copy = s;
        uint8_t typeBack[2] = {}, ipBack[4] = {}, dstBack[4] = {1, 1, 1, 1};
        copy.etherType(typeBack);
        copy.srcIp(ipBack);
        copy.dstIp(dstBack);
        QCOMPARE(QByteArray(reinterpret_cast<char *>(typeBack), 2), QByteArray("\x08\x00", 2));
        QCOMPARE(QByteArray(reinterpret_cast<char *>(ipBack), 4),
                 QByteArray("\xc0\xa8\x01\x07", 4));
        QCOMPARE(QByteArray(reinterpret_cast<char *>(dstBack), 4), QByteArray(4, '\0'));
        QCOMPARE(copy.firmwareVersion(), uint16_t(0x0004));
        QCOMPARE(copy.firmwareTypeCode(), uint16_t(0x220C));
    }
};

QTEST_APPLESS_MAIN(TestDeviceSettings)
#include "tst_devicesettings.moc"
