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
};

QTEST_APPLESS_MAIN(TestDeviceSettings)
#include "tst_devicesettings.moc"
