// Firmware without a tap: mirrored page filling at the image's edges, the embedded image,
// and a generation-3 device whose interface cannot be opened.

#include <QFile>
#include <QTest>

#include <memory>

#include "DeviceSettings.h"
#include "FirmwareImage.h"
#include "FirmwareProgramming.h"
#include "MV1Device_v3.h"

namespace {

constexpr int Page = firmware::PageSize;

// An image allocated to its exact length, so that AddressSanitizer reports any read past its
// end: a copy of the embedded image, or a counter that differs at every position of a page.
std::unique_ptr<uint8_t[]> heapImage(int length, bool embedded)
{
    auto image = std::make_unique<uint8_t[]>(static_cast<size_t>(length));
    for (int i = 0; i < length; ++i)
        image[i] = embedded ? firmwareImage[i] : static_cast<uint8_t>(i * 7 + i / Page);
    return image;
}

}  // namespace

class FirmwarePagesTest : public QObject
{
    Q_OBJECT

private slots:
    void pageFill_data();
    void pageFill();
    void embeddedImage();
    void unopenableInterfaceReportsFailure();
};

void FirmwarePagesTest::pageFill_data()
{
    QTest::addColumn<bool>("embedded");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("index");
    QTest::newRow("3 whole pages, page 2") << false << 3 * Page << 2;
    QTest::newRow("3 whole pages, page 3 is zero") << false << 3 * Page << 3;
    QTest::newRow("empty image") << false << 0 << 0;
    QTest::newRow("embedded, partial page") << true << firmwareImageLength << 644;
}

void FirmwarePagesTest::pageFill()
{
    QFETCH(bool, embedded);
    QFETCH(int, length);
    QFETCH(int, index);
    const auto image = heapImage(length, embedded);

    // Mirrored image bytes (by multiply, mask and modulo: each bit lands in its mirrored place),
    // zeros after the image's end.
    QByteArray expected(Page, '\0');
    for (int i = 0; i < Page && index * Page + i < length; ++i)
        expected[i] = char((image[index * Page + i] * 0x0202020202ULL & 0x010884422010ULL) % 1023);
    QByteArray page(Page, '\xA5');  // the fill must overwrite every byte
    const int remaining =
        fillFirmwarePage(reinterpret_cast<uint8_t *>(page.data()), image.get(), length, index);
    QCOMPARE(page, expected);
    QCOMPARE(remaining, length - index * Page);
}

void FirmwarePagesTest::embeddedImage()
{
    QCOMPARE(firmwareImageLength, 165070);  // so page 644 holds 206 image bytes, then 50 zeros
    const QByteArray image(reinterpret_cast<const char *>(firmwareImage), firmwareImageLength);
    QCOMPARE(image.left(32), QByteArray(32, '\xFF'));
    QCOMPARE(image.right(74), QByteArray(74, '\xFF'));

    QFile file(QStringLiteral(KALVESSA_FIRMWARE_IMAGE_FILE));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), image);  // embedded byte for byte as built from
}

void FirmwarePagesTest::unopenableInterfaceReportsFailure()
{
    MV1Device_v3 dev("kvnosuch0");
    const uint8_t page[Page] = {};
    QVERIFY(!dev.writeRegister(0x70002, 0xFF, false));
    QVERIFY(!dev.eraseSector(0));
    QVERIFY(!dev.writeFirmwarePage(0, page));
    QVERIFY(!dev.writeSettings(DeviceSettings(), false));
    QVERIFY(!dev.writeSettings(DeviceSettings(), true));
    QVERIFY(!dev.updateFirmware(firmwareImage, firmwareImageLength));
}

QTEST_GUILESS_MAIN(FirmwarePagesTest)
#include "tst_firmwarepages.moc"
