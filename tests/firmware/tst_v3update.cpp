// The whole generation-3 firmware update against the simulated tap, run once: its fixed
// waits after every unanswered frame make it last well over half a minute.

#include <QSignalSpy>
#include <QTest>

#include "FirmwareTestUtil.h"
#include "MV1Device_v3.h"
#include "TapTestBed.h"

using namespace fwtest;

namespace {
constexpr uint8_t Erase = 0xEE;
constexpr uint8_t WritePage = 0xDD;
constexpr int LongFrame = 1500;
constexpr int Sectors = 3;
constexpr int Pages = 767;
constexpr int FullImagePages = 644;
} // namespace

class V3UpdateTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void wholeUpdate();

private:
    TapTestBed m_bed;
};

void V3UpdateTest::initTestCase()
{
    REQUIRE_TAP_TEST_BED();
    QVERIFY(m_bed.plug());
    QVERIFY(m_bed.startTap({"--generation", "3"}));
    m_bed.clearFrames();
}

void V3UpdateTest::wholeUpdate()
{
    MV1Device_v3 dev(qPrintable(m_bed.hostInterface()));
    QSignalSpy progress(&dev, &MV1Device::MV1UpdateProgress);

    QVERIFY(dev.updateFirmware(firmwareImage, firmwareImageLength));

    Progress expected = countUp(Sectors);
    expected.append(countUp(Pages));
    QCOMPARE(progressOf(progress), expected);

    // Three erases first, then each page by byte address: image pages twice in a row, the
    // partial page and the zero pages once, and never the last page of the erased area.
    const QList<TapFrame> frames = m_bed.frames();
    QCOMPARE(frames.size(), Sectors + 2 * FullImagePages + (Pages - FullImagePages));
    for (int s = 0; s < Sectors; ++s)
        QCOMPARE(frames.at(s).bytes, request(LongFrame, Erase, s * 0x10000));

    int at = Sectors;
    for (int i = 0; i < Pages; ++i) {
        const QByteArray expectedFrame = request(LongFrame, WritePage, i * Page, wirePage(i));
        const int sends = i < FullImagePages ? 2 : 1;
        for (int n = 0; n < sends; ++n, ++at) {
            QVERIFY2(frames.at(at).bytes == expectedFrame,
                     qPrintable(QStringLiteral("page %1, send %2").arg(i).arg(n + 1)));
        }
    }

    // The tap holds the image, then zeros; the unwritten last page keeps what the erase left.
    const QByteArray flash = m_bed.flash();
    const int written = Pages * Page;
    QCOMPARE(flash.left(written), imageThenZeros(written));
    QCOMPARE(flash.mid(written), QByteArray(Page, '\xFF'));
}

QTEST_GUILESS_MAIN(V3UpdateTest)
#include "tst_v3update.moc"
