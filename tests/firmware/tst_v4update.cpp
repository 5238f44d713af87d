// Generation-4 firmware update against the simulated tap: what reaches the tap, what it ends
// up holding, and the progress the caller sees, for a clean run and for every way it stops.

#include <QSignalSpy>
#include <QTest>

#include <vector>

#include "FirmwareTestUtil.h"
#include "MV1Device_v4.h"
#include "TapTestBed.h"

using namespace fwtest;

namespace {
constexpr uint8_t Begin = 0xB0;
constexpr uint8_t ProgramPage = 0xB1;
constexpr uint8_t End = 0xB2;
constexpr int Pages = 768;

QList<QByteArray> framesWithOpcode(const QList<TapFrame> &frames, uint8_t opcode)
{
    QList<QByteArray> out;
    for (const TapFrame &f : frames) {
        if (f.bytes.size() > OpcodeAt && byteAt(f.bytes, OpcodeAt) == opcode)
            out.append(f.bytes);
    }
    return out;
}
} // namespace

class V4UpdateTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void wholeUpdate();
    void pageRefusals_data();
    void pageRefusals();
    void refusedBegin();
    void refusedEnd();
    void oversizedImageIsRefusedBeforeSending();

private:
    void restartTap(const QStringList &options);

    TapTestBed m_bed;
};

void V4UpdateTest::initTestCase()
{
    REQUIRE_TAP_TEST_BED();
    QVERIFY(m_bed.plug());
}

void V4UpdateTest::cleanup()
{
    m_bed.stopTap();
}

void V4UpdateTest::restartTap(const QStringList &options)
{
    m_bed.stopTap();
    QVERIFY(m_bed.startTap(options));
    m_bed.clearFrames();
}

void V4UpdateTest::wholeUpdate()
{
    restartTap({});
    MV1Device_v4 dev(qPrintable(m_bed.hostInterface()));
    QSignalSpy progress(&dev, &MV1Device::MV1UpdateProgress);

    QVERIFY(dev.updateFirmware(firmwareImage, firmwareImageLength));

    Progress expected = countUp(Pages);
    expected.append({Pages, Pages});
    QCOMPARE(progressOf(progress), expected);

    // Begin, every page once in order by index with its mirrored bytes, then end.
    const QList<TapFrame> frames = m_bed.frames();
    QCOMPARE(frames.size(), Pages + 2);
    QCOMPARE(frames.first().bytes, request(300, Begin, 0));
    QCOMPARE(frames.last().bytes, request(300, End, 0));
    for (int i = 0; i < Pages; ++i) {
        const QByteArray &f = frames.at(i + 1).bytes;
        QVERIFY2(f == request(1500, ProgramPage, i, wirePage(i)),
                 qPrintable(QStringLiteral("page %1").arg(i)));
    }

    QCOMPARE(m_bed.flash(), imageThenZeros());
}

void V4UpdateTest::pageRefusals_data()
{
    QTest::addColumn<int>("refusals");
    QTest::addColumn<bool>("succeeds");
    // Twenty tries per page: the twentieth may still succeed, a twentieth refusal ends the run.
    QTest::newRow("19 refusals") << 19 << true;
    QTest::newRow("20 refusals") << 20 << false;
}

void V4UpdateTest::pageRefusals()
{
    QFETCH(int, refusals);
    QFETCH(bool, succeeds);
    constexpr int Refused = 10;

    restartTap({"--refuse-page", QStringLiteral("%1:%2").arg(Refused).arg(refusals)});
    MV1Device_v4 dev(qPrintable(m_bed.hostInterface()));
    QSignalSpy progress(&dev, &MV1Device::MV1UpdateProgress);

    QCOMPARE(dev.updateFirmware(firmwareImage, firmwareImageLength), succeeds);

    const QList<TapFrame> frames = m_bed.frames();
    const QList<QByteArray> pages = framesWithOpcode(frames, ProgramPage);
    int triesOfRefused = 0;
    int laterPages = 0;
    for (const QByteArray &p : pages) {
        triesOfRefused += addressOf(p) == Refused ? 1 : 0;
        laterPages += addressOf(p) > Refused ? 1 : 0;
    }
    QCOMPARE(triesOfRefused, 20);

    if (succeeds) {
        QCOMPARE(progress.count(), Pages + 2);
        QCOMPARE(framesWithOpcode(frames, End).size(), 1);
        QCOMPARE(m_bed.flash(), imageThenZeros());
    } else {
        // Stopped where it failed: no later page, no end, progress left at the page.
        QCOMPARE(progressOf(progress), countUp(Pages, Refused));
        QCOMPARE(laterPages, 0);
        QVERIFY(framesWithOpcode(frames, End).isEmpty());
    }
}

void V4UpdateTest::refusedBegin()
{
    restartTap({"--wrong-code", "b0:0"});
    MV1Device_v4 dev(qPrintable(m_bed.hostInterface()));
    QSignalSpy progress(&dev, &MV1Device::MV1UpdateProgress);

    QVERIFY(!dev.updateFirmware(firmwareImage, firmwareImageLength));
    QCOMPARE(progress.count(), 0);
    const QList<TapFrame> frames = m_bed.frames();
    QVERIFY(!frames.isEmpty());
    for (const TapFrame &f : frames)
        QCOMPARE(byteAt(f.bytes, OpcodeAt), Begin);
}

void V4UpdateTest::refusedEnd()
{
    restartTap({"--wrong-code", "b2:0"});
    MV1Device_v4 dev(qPrintable(m_bed.hostInterface()));
    QSignalSpy progress(&dev, &MV1Device::MV1UpdateProgress);

    QVERIFY(!dev.updateFirmware(firmwareImage, firmwareImageLength));
    // Every page went through, but the final step is reported only once.
    QCOMPARE(progressOf(progress), countUp(Pages));
}

void V4UpdateTest::oversizedImageIsRefusedBeforeSending()
{
    restartTap({});
    MV1Device_v4 dev(qPrintable(m_bed.hostInterface()));
    QSignalSpy progress(&dev, &MV1Device::MV1UpdateProgress);

    // One byte more than the 768 pages hold: writing it would silently drop the last byte.
    const std::vector<uint8_t> image(ProgrammedArea + 1, 0x12);
    QVERIFY(!dev.updateFirmware(image.data(), static_cast<int>(image.size())));
    QCOMPARE(progress.count(), 0);

    // Exactly the area is fine, and byte 0x12 reaches the tap mirrored as 0x48.
    const std::vector<uint8_t> full(ProgrammedArea, 0x12);
    QVERIFY(dev.updateFirmware(full.data(), static_cast<int>(full.size())));
    const QList<QByteArray> pages = framesWithOpcode(m_bed.frames(), ProgramPage);
    QCOMPARE(pages.size(), Pages);
    QCOMPARE(pages.last().mid(PayloadAt, Page), QByteArray(Page, '\x48'));
    QCOMPARE(m_bed.flash(), QByteArray(ProgrammedArea, '\x12'));
}

QTEST_GUILESS_MAIN(V4UpdateTest)
#include "tst_v4update.moc"
