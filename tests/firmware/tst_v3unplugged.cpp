// Generation-3 device where nothing can be sent: the operations that talk to the tap must
// report the failure instead of success, and those that cannot talk to it must not try.

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
    void identity();
    void unsentFramesReportFailure();
    void updateStopsAtTheFirstUnsentFrame();
    void deviceWithoutInterfaceName();
    void readsAndCommitNeverTouchTheTap();
};

void V3UnpluggedTest::identity()
{
    MV1Device_v3 dev(MissingInterface);
    QCOMPARE(dev.generation(), 3);
    QCOMPARE(dev.metaObject()->className(), "MV1Device_v3");
    QVERIFY(dev.inherits("MV1Device"));
}

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

void V3UnpluggedTest::readsAndCommitNeverTouchTheTap()
{
    // On a missing interface any attempt to send would fail; these succeed because they send
    // nothing (the tap-side record of that is checked against the simulated tap).
    MV1Device_v3 dev(MissingInterface);

    uint8_t value = 0x5A;
    QVERIFY(dev.readRegister(0x70300, &value, false));
    QCOMPARE(value, uint8_t(0));
    value = 0x5A;
    QVERIFY(dev.readRegister(0x70002, &value, true));
    QCOMPARE(value, uint8_t(0));

    DeviceSettings settings;
    settings.setFilterMode(1, 1);
    settings.setFirmwareVersion(0x0004);
    settings.setFirmwareTypeCode(0x220C);
    const uint8_t mac[DeviceSettings::MacLength] = {1, 2, 3, 4, 5, 6};
    settings.setDstMac(mac);
    QVERIFY(!dev.readSettings(settings, false));
    QCOMPARE(settings, DeviceSettings());
    QCOMPARE(settings.firmwareVersion(), uint16_t(0));
    QCOMPARE(settings.firmwareTypeCode(), uint16_t(0));

    QVERIFY(dev.commitSettings());
}

QTEST_GUILESS_MAIN(V3UnpluggedTest)
#include "tst_v3unplugged.moc"
