// Both device generations against the simulated tap: generation 3's command frames and flag
// registers, and each generation's firmware update with what the tap ends up holding.

#include <QSignalSpy>
#include <QTest>

#include <vector>

#include "DeviceSettings.h"
#include "FirmwareImage.h"
#include "MV1Device_v3.h"
#include "MV1Device_v4.h"
#include "TapBed.h"
#include "TapWire.h"

namespace {
constexpr uint8_t Write = 0x70, WritePersistent = 0x80, Erase = 0xEE, End = 0xB2;
constexpr int Page = wire::PageSize;

// Each report as "<stage> <done>/<total>", the stage by its number.
using Progress = QStringList;
Progress countUp(ProgressStage stage, int last, int total)
{
    Progress out;
    for (int i = 0; i <= last; ++i)
        out.append(QStringLiteral("%1 %2/%3").arg(int(stage)).arg(i).arg(total));
    return out;
}
Progress reported(const QSignalSpy &spy)
{
    Progress out;
    for (const QList<QVariant> &r : spy)
        out.append(countUp(r[0].value<ProgressStage>(), r[1].toInt(), r[2].toInt()).last());
    return out;
}
using Stage = ProgressStage;

// The first `pages` pages of flash as they should end up: the image, then zeros.
QByteArray imageThenZeros(int pages)
{
    return QByteArray(reinterpret_cast<const char *>(firmwareImage), firmwareImageLength)
        + QByteArray(pages * Page - firmwareImageLength, '\0');
}

QByteArray longFrame(uint8_t opcode, int address, const QByteArray &payload = {})
{
    return wire::request(opcode, address, payload, wire::PageFrameLength);
}
}  // namespace

class FirmwareTapTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<FrameLink> link() const { return m_bed->link(); }

    std::unique_ptr<TapBed> m_bed = TapBed::make();

private slots:
    void initTestCase()
    {
        REQUIRE_TAP_BED();
        QVERIFY(m_bed->plug());
        QVERIFY(m_bed->startTap({"--generation", "3"}));
    }

    void init() { m_bed->clearFrames(); }

    void v3FlagRegisters_data()
    {
        // filter 0x01, keep 0x02, timestamps 0x04, CRC-error frames 0x08, FCS 0x10; -1 sets nothing
        QTest::addColumn<int>("flags");
        QTest::addColumn<bool>("persistent");
        QTest::addColumn<QByteArray>("expected");  // 0x70002..0x70005
        if (TapBed::runsRow(false)) {
            QTest::newRow("zero record") << -1 << false << QByteArray("\x00\x00\xFF\x0F", 4);
            QTest::newRow("filter on, keep") << 0x17 << false << QByteArray("\xFF\x00\x00\xF0", 4);
            QTest::newRow("filter on, discard")
                << 0x09 << false << QByteArray("\x00\xFF\xFF\x00", 4);
            QTest::newRow("filter off, keep") << 0x02 << false << QByteArray("\xFF\xFF\xFF\xFF", 4);
        }
        QTest::newRow("stored") << 0x17 << true << QByteArray("\xFF\x00\x00\xF0", 4);
    }

    void v3FlagRegisters()
    {
        QFETCH(int, flags);
        QFETCH(bool, persistent);
        QFETCH(QByteArray, expected);
        DeviceSettings settings;
        if (flags >= 0) {
            settings.setFilterMode(flags & 1, (flags >> 1) & 1);
            settings.setTimestampsEnabled((flags >> 2) & 1);
            settings.setCaptureCrcErrorFrames((flags >> 3) & 1);
            settings.setCaptureFcs((flags >> 4) & 1);
        }
        settings.setControlByte(0xFF);  // generation 3 has no control register
        MV1Device_v3 dev(qPrintable(m_bed->hostInterface()), link());
        QVERIFY(dev.writeSettings(settings, persistent));

        QList<TapFrame> frames = m_bed->frames();
        if (persistent)  // a stored write first erases the settings sector
            QCOMPARE(frames.takeFirst().bytes, longFrame(Erase, 0x70000));
        QCOMPARE(frames.size(), 30);
        QList<wire::Access> want;
        for (int i = 0; i < 4; ++i)
            want.append({persistent ? WritePersistent : Write, 0x70002 + i, uint8_t(expected[i])});
        QCOMPARE(wire::accessesOf(frames).mid(0, 4), want);
    }

    // Its fixed waits after every unanswered frame make this last over half a minute: in-process
    // only, where the frames are the same.
    void v3Update()
    {
        IN_PROCESS_ONLY();
        constexpr int PageCount = 767, FullImagePages = 644;
        MV1Device_v3 dev(qPrintable(m_bed->hostInterface()), link());
        QSignalSpy progress(&dev, &MV1Device::MV1UpdateProgress);
        // One byte more than 767 pages would be dropped without a word: refused before sending.
        const std::vector<uint8_t> oversized(PageCount * Page + 1, 0x12);
        QVERIFY(!dev.updateFirmware(oversized.data(), int(oversized.size())));
        QVERIFY(progress.isEmpty());

        QVERIFY(dev.updateFirmware(firmwareImage, firmwareImageLength));
        QCOMPARE(reported(progress),
                 countUp(Stage::Erase, 3, 3) + countUp(Stage::Pages, PageCount, PageCount));
        // Three erases, then whole image pages twice, the rest once, never the erased area's last.
        const QList<TapFrame> frames = m_bed->frames();
        for (int s = 0; s < 3; ++s)
            QCOMPARE(frames.at(s).bytes, longFrame(Erase, s * 0x10000));
        QList<int> sends(PageCount + 1, 0);
        for (const TapFrame &f : frames.mid(3))
            ++sends[wire::addressOf(f.bytes) / Page];
        QCOMPARE(sends,
                 QList<int>(FullImagePages, 2) + QList<int>(PageCount - FullImagePages, 1)
                     + QList<int>{0});
        // The unwritten last page keeps what the erase left.
        QCOMPARE(m_bed->flash(), imageThenZeros(PageCount) + QByteArray(Page, '\xFF'));
    }

    // A generation-4 run as its progress tells it: whole, it leaves the image in flash; ended
    // early, it never sends the end that would start a half-written image; an image one byte
    // over 768 pages would be dropped, so it is refused before anything is sent.
    void v4Update_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<bool>("oversized");
        QTest::addColumn<bool>("done");
        QTest::addColumn<Progress>("progress");
        const Progress erased = countUp(Stage::Erase, 1, 1);
        QTest::newRow("whole image")
            << QStringList() << false << true
            << erased + countUp(Stage::Pages, 768, 768) + countUp(Stage::Commit, 1, 1);
        // Twenty tries per page: page 5 goes in on its twentieth, page 10 ends the run there.
        QTest::newRow("page refused twenty times")
            << QStringList{"--refuse-page", "5:19", "--refuse-page", "10:20"} << false << false
            << erased + countUp(Stage::Pages, 10, 768);
        if (TapBed::runsRow(false)) {
            QTest::newRow("begin refused") << QStringList{"--wrong-code", "b0:ff"} << false << false
                                           << countUp(Stage::Erase, 0, 1);
            QTest::newRow("one byte over 768 pages")
                << QStringList() << true << false << Progress();
        }
    }

    void v4Update()
    {
        QFETCH(QStringList, options);
        QFETCH(bool, oversized);
        QFETCH(bool, done);
        QFETCH(Progress, progress);
        QVERIFY(m_bed->startTap(options));
        MV1Device_v4 dev(qPrintable(m_bed->hostInterface()), link());
        QSignalSpy spy(&dev, &MV1Device::MV1UpdateProgress);
        const std::vector<uint8_t> tooLong(768 * Page + 1, 0x12);
        QCOMPARE(oversized ? dev.updateFirmware(tooLong.data(), int(tooLong.size()))
                           : dev.updateFirmware(firmwareImage, firmwareImageLength),
                 done);
        QCOMPARE(reported(spy), progress);
        if (done)
            QCOMPARE(m_bed->flash(), imageThenZeros(768));
        else
            QVERIFY(!wire::opcodesOf(m_bed->frames()).contains(End));
        if (oversized)
            QVERIFY(m_bed->frames().isEmpty());
    }
};

QTEST_GUILESS_MAIN(FirmwareTapTest)
#include "tst_firmwaretap.moc"
