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

void V4UpdateTest::pageRefusals()
{
    // Twenty tries per page: a page refused 19 times still goes in on its twentieth try; a
    // page refused 20 times ends the run there.
    constexpr int Recovered = 5;
    constexpr int Refused = 10;
    restartTap({"--refuse-page", QStringLiteral("%1:19").arg(Recovered),
                "--refuse-page", QStringLiteral("%1:20").arg(Refused)});
    MV1Device_v4 dev(qPrintable(m_bed.hostInterface()));
    QSignalSpy progress(&dev, &MV1Device::MV1UpdateProgress);

    QVERIFY(!dev.updateFirmware(firmwareImage, firmwareImageLength));

    const QList<TapFrame> frames = m_bed.frames();
    QList<int> tries(Pages, 0);
    for (const QByteArray &p : framesWithOpcode(frames, ProgramPage))
        ++tries[addressOf(p)];
    for (int i = 0; i < Pages; ++i) {
        const int expected = (i == Recovered || i == Refused) ? 20 : (i < Refused ? 1 : 0);
        QVERIFY2(tries.at(i) == expected,
                 qPrintable(QStringLiteral("page %1 sent %2 times").arg(i).arg(tries.at(i))));
    }
    // Stopped where it failed: no end frame, progress left at the refused page.
    QVERIFY(framesWithOpcode(frames, End).isEmpty());
    QCOMPARE(progressOf(progress), countUp(Pages, Refused));
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

    // An image that fills the whole area exactly is accepted, and its byte 0x12 reaches the
    // tap mirrored as 0x48.
    const std::vector<uint8_t> full(ProgrammedArea, 0x12);
    QVERIFY(!dev.updateFirmware(full.data(), static_cast<int>(full.size())));

    // Every page went through, but the final step is reported only once.
    QCOMPARE(progressOf(progress), countUp(Pages));
    const QList<QByteArray> pages = framesWithOpcode(m_bed.frames(), ProgramPage);
    QCOMPARE(pages.size(), Pages);
    QCOMPARE(pages.last().mid(PayloadAt, Page), QByteArray(Page, '\x48'));
    QCOMPARE(m_bed.flash(), QByteArray(ProgrammedArea, '\x12'));
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
    QVERIFY(m_bed.frames().isEmpty());
}

QTEST_GUILESS_MAIN(V4UpdateTest)
#include "tst_v4update.moc"
