// Generation-3 device where nothing can be sent: the operations that talk to the tap must
// report the failure instead of success.

#include <QSignalSpy>
#include <QTest>

#include "DeviceSettings.h"
#include "FirmwareImage.h"
#include "FirmwareProgramming.h"
#include "MV1Device_v3.h"

namespace {
const char *const MissingInterface = "kvnosuch0";
}

class V3UnpluggedTest : public QObject
{
    Q_OBJECT

private slots:
    void unsentFramesReportFailure();
    void updateStopsAtTheFirstUnsentFrame();
    void deviceWithoutInterfaceName();
};

void V3UnpluggedTest::unsentFramesReportFailure()
{
    MV1Device_v3 dev(MissingInterface);
    const uint8_t page[firmware::PageSize] = {};
    DeviceSettings settings;

    QVERIFY(!dev.writeRegister(0x70002, 0xFF, false));
    QVERIFY(!dev.writeRegister(0x70002, 0xFF, true));
    QVERIFY(!dev.eraseSector(0));
    QVERIFY(!dev.eraseSettings());
    QVERIFY(!dev.writeFirmwarePage(0, page));
    QVERIFY(!dev.writeSettings(settings, false));
    QVERIFY(!dev.writeSettings(settings, true));
}

void V3UnpluggedTest::updateStopsAtTheFirstUnsentFrame()
{
    MV1Device_v3 dev(MissingInterface);
    QSignalSpy progress(&dev, &MV1Device::MV1UpdateProgress);

    QVERIFY(!dev.updateFirmware(firmwareImage, firmwareImageLength));
    // The first erase never left the host: no step is reported as done.
    QCOMPARE(progress.count(), 1);
    QCOMPARE(progress.at(0).at(0).toInt(), 0);
    QCOMPARE(progress.at(0).at(1).toInt(), firmware::V3SectorCount);
}

void V3UnpluggedTest::deviceWithoutInterfaceName()
{
    MV1Device_v3 dev(nullptr);
    const uint8_t page[firmware::PageSize] = {};
    QVERIFY(!dev.writeRegister(0x70002, 0, false));
    QVERIFY(!dev.eraseSector(0));
    QVERIFY(!dev.writeFirmwarePage(0, page));
    QVERIFY(!dev.updateFirmware(firmwareImage, firmwareImageLength));
}

QTEST_GUILESS_MAIN(V3UnpluggedTest)
#include "tst_v3unplugged.moc"
