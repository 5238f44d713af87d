// Page layout of the firmware image, without a tap: bit mirroring, page filling at the image's
// edges, and the embedded image itself.

#include <QFile>
#include <QTest>

#include <cstring>
#include <memory>

#include "FirmwareImage.h"
#include "FirmwareProgramming.h"

namespace {

constexpr int Page = firmware::PageSize;
constexpr uint8_t Poison = 0xA5;  // what a page holds before a fill that must overwrite it

uint8_t mirrored(uint8_t b)
{
    uint8_t out = 0;
    reverseBits(&out, &b, 1);
    return out;
}

// An image allocated to its exact length on the heap, so that AddressSanitizer reports any
// read past its end; the content is a counter that differs at every position of a page.
std::unique_ptr<uint8_t[]> makeImage(int length)
{
    auto image = std::make_unique<uint8_t[]>(static_cast<size_t>(length));
    for (int i = 0; i < length; ++i)
        image[i] = static_cast<uint8_t>(i * 7 + i / Page);
    return image;
}

bool pageIsMirrorOf(const uint8_t *page, const uint8_t *source, int count)
{
    for (int i = 0; i < count; ++i) {
        if (page[i] != mirrored(source[i]))
            return false;
    }
    return true;
}

bool allZero(const uint8_t *bytes, int count)
{
    for (int i = 0; i < count; ++i) {
        if (bytes[i] != 0)
            return false;
    }
    return true;
}

} // namespace

class FirmwarePagesTest : public QObject
{
    Q_OBJECT

private slots:
    void reverseBitsExamples_data();
    void reverseBitsExamples();
    void reverseBitsCountZeroWritesNothing();

    void imageOfWholePagesHasNoPartialPage();
    void partialPageIsMirroredThenZeroFilled();
    void emptyImageGivesOnlyZeroPages();

    void embeddedImageHasTheTapImageShape();
    void embeddedImageIsTheBinaryItWasBuiltFrom();
    void embeddedImageLastPages();
};

void FirmwarePagesTest::reverseBitsExamples_data()
{
    QTest::addColumn<int>("in");
    QTest::addColumn<int>("out");
    QTest::newRow("01") << 0x01 << 0x80;
    QTest::newRow("02") << 0x02 << 0x40;
    QTest::newRow("12") << 0x12 << 0x48;
    QTest::newRow("0F") << 0x0F << 0xF0;
    QTest::newRow("00") << 0x00 << 0x00;
    QTest::newRow("FF") << 0xFF << 0xFF;
    QTest::newRow("80") << 0x80 << 0x01;
    QTest::newRow("C5") << 0xC5 << 0xA3;
}

void FirmwarePagesTest::reverseBitsExamples()
{
    QFETCH(int, in);
    QFETCH(int, out);
    QCOMPARE(int(mirrored(static_cast<uint8_t>(in))), out);
}

void FirmwarePagesTest::reverseBitsCountZeroWritesNothing()
{
    uint8_t src = 0x01;
    uint8_t dst = Poison;
    reverseBits(&dst, &src, 0);
    QCOMPARE(dst, Poison);
}

void FirmwarePagesTest::imageOfWholePagesHasNoPartialPage()
{
    constexpr int Pages = 3;
    constexpr int Length = Pages * Page;
    const auto image = makeImage(Length);
    uint8_t page[Page];

    for (int i = 0; i < Pages; ++i) {
        std::memset(page, Poison, sizeof page);
        QCOMPARE(fillFirmwarePage(page, image.get(), Length, i), Length - i * Page);
        QVERIFY2(pageIsMirrorOf(page, image.get() + i * Page, Page), qPrintable(QString::number(i)));
    }
    // Page n is the first zero page, and so is every page after it.
    for (int i : {Pages, Pages + 1, firmware::V4PageCount - 1}) {
        std::memset(page, Poison, sizeof page);
        QCOMPARE(fillFirmwarePage(page, image.get(), Length, i), Length - i * Page);
        QVERIFY(allZero(page, Page));
    }
}

void FirmwarePagesTest::partialPageIsMirroredThenZeroFilled()
{
    constexpr int Tail = 10;
    constexpr int Length = 2 * Page + Tail;
    const auto image = makeImage(Length);
    uint8_t page[Page];
    std::memset(page, Poison, sizeof page);

    QCOMPARE(fillFirmwarePage(page, image.get(), Length, 2), Tail);
    QVERIFY(pageIsMirrorOf(page, image.get() + 2 * Page, Tail));
    QVERIFY(allZero(page + Tail, Page - Tail));

    // One byte short of a whole page is still a partial page.
    const auto almost = makeImage(Page - 1);
    std::memset(page, Poison, sizeof page);
    QCOMPARE(fillFirmwarePage(page, almost.get(), Page - 1, 0), Page - 1);
    QVERIFY(pageIsMirrorOf(page, almost.get(), Page - 1));
    QCOMPARE(page[Page - 1], uint8_t(0));
}

void FirmwarePagesTest::emptyImageGivesOnlyZeroPages()
{
    uint8_t page[Page];
    const auto empty = makeImage(0);
    for (const uint8_t *image : {static_cast<const uint8_t *>(empty.get()),
                                 static_cast<const uint8_t *>(nullptr)}) {
        for (int i : {0, 1, firmware::V4PageCount - 1}) {
            std::memset(page, Poison, sizeof page);
            QVERIFY(fillFirmwarePage(page, image, 0, i) <= 0);
            QVERIFY(allZero(page, Page));
        }
    }
    // A negative length reads nothing either.
    const auto one = makeImage(1);
    std::memset(page, Poison, sizeof page);
    fillFirmwarePage(page, one.get(), -1, 0);
    QVERIFY(allZero(page, Page));
}

void FirmwarePagesTest::embeddedImageHasTheTapImageShape()
{
    constexpr int ImageLength = 165070;
    constexpr int LeadingErased = 32;
    constexpr int TrailingErased = 74;
    QCOMPARE(firmwareImageLength, ImageLength);
    for (int i = 0; i < LeadingErased; ++i)
        QCOMPARE(firmwareImage[i], uint8_t(0xFF));
    for (int i = ImageLength - TrailingErased; i < ImageLength; ++i)
        QCOMPARE(firmwareImage[i], uint8_t(0xFF));
    if (firmwareImageIsStandIn) {
        // The stand-in names itself right after the erased lead-in, so that nobody mistakes
        // a dump of it for the tap's firmware.
        const QByteArray head(reinterpret_cast<const char *>(firmwareImage) + LeadingErased, 64);
        QVERIFY(head.contains("STAND-IN"));
    }
}

void FirmwarePagesTest::embeddedImageIsTheBinaryItWasBuiltFrom()
{
    QFile file(QStringLiteral(KALVESSA_FIRMWARE_IMAGE_FILE));
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
    const QByteArray bytes = file.readAll();
    QCOMPARE(bytes.size(), qsizetype(firmwareImageLength));
    QVERIFY(std::memcmp(bytes.constData(), firmwareImage, bytes.size()) == 0);
}

void FirmwarePagesTest::embeddedImageLastPages()
{
    constexpr int LastFullPage = 643;
    constexpr int PartialPage = 644;
    constexpr int PartialBytes = 206;
    uint8_t page[Page];

    QVERIFY(fillFirmwarePage(page, firmwareImage, firmwareImageLength, LastFullPage) >= Page);
    QVERIFY(pageIsMirrorOf(page, firmwareImage + LastFullPage * Page, Page));

    std::memset(page, Poison, sizeof page);
    QCOMPARE(fillFirmwarePage(page, firmwareImage, firmwareImageLength, PartialPage),
             PartialBytes);
    QVERIFY(pageIsMirrorOf(page, firmwareImage + PartialPage * Page, PartialBytes));
    QVERIFY(allZero(page + PartialBytes, Page - PartialBytes));

    for (int i = PartialPage + 1; i < firmware::V4PageCount; ++i) {
        std::memset(page, Poison, sizeof page);
        fillFirmwarePage(page, firmwareImage, firmwareImageLength, i);
        QVERIFY2(allZero(page, Page), qPrintable(QString::number(i)));
    }
}

QTEST_GUILESS_MAIN(FirmwarePagesTest)
#include "tst_firmwarepages.moc"
