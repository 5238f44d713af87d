// Generation-3 device against the simulated tap: the exact frames of its three commands and
// its settings register map, and the state the tap is left in.

#include <QSignalSpy>
#include <QTest>

#include <vector>

#include "DeviceSettings.h"
#include "FirmwareTestUtil.h"
#include "MV1Device_v3.h"
#include "TapTestBed.h"

using namespace fwtest;

namespace {
constexpr uint8_t Write = 0x70;
constexpr uint8_t WritePersistent = 0x80;
constexpr uint8_t Erase = 0xEE;
constexpr uint8_t WritePage = 0xDD;
constexpr int RegisterFrame = 300;
constexpr int LongFrame = 1500;
constexpr int SettingsRegisters = 30;

// Register addresses in the order a settings write must send them.
QList<int> settingsAddresses()
{
    QList<int> out{0x70002, 0x70003, 0x70004, 0x70005, 0x70007, 0x70008, 0x70009};
    for (int a = 0x70200; a <= 0x70216; ++a)
        out.append(a);
    return out;
}

QByteArray values(const QList<TapFrame> &frames, int from, int count)
{
    QByteArray out;
    for (int i = from; i < from + count; ++i)
        out.append(frames.at(i).bytes.at(PayloadAt));
    return out;
}
} // namespace

class V3TapTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void registerWriteFrame();
    void flagRegisters_data();
    void flagRegisters();
    void maskAndMatchRegisters();
    void persistentWriteErasesFirst();
    void pageWriteFrame();
    void readsAndCommitSendNothing();
    void oversizedImageIsRefusedBeforeSending();

private:
    // Settings write frames as the tap received them, after checking their shape and order.
    QList<TapFrame> checkedSettingsFrames(const QList<TapFrame> &frames, uint8_t opcode);

    TapTestBed m_bed;
};

void V3TapTest::initTestCase()
{
    REQUIRE_TAP_TEST_BED();
    QVERIFY(m_bed.plug());
    QVERIFY(m_bed.startTap({"--generation", "3"}));
}

void V3TapTest::init()
{
    m_bed.clearFrames();
}

QList<TapFrame> V3TapTest::checkedSettingsFrames(const QList<TapFrame> &frames, uint8_t opcode)
{
    const QList<int> addresses = settingsAddresses();
    if (frames.size() != SettingsRegisters) {
        qWarning("expected %d frames, got %lld", SettingsRegisters, qlonglong(frames.size()));
        return {};
    }
    for (int i = 0; i < SettingsRegisters; ++i) {
        const QByteArray &f = frames.at(i).bytes;
        const QByteArray expected =
            request(RegisterFrame, opcode, addresses.at(i), f.mid(PayloadAt, 1));
        if (f != expected) {
            qWarning("frame %d is not a register write to %#x", i, addresses.at(i));
            return {};
        }
    }
    return frames;
}

void V3TapTest::registerWriteFrame()
{
    MV1Device_v3 dev(qPrintable(m_bed.hostInterface()));
    QVERIFY(dev.writeRegister(0x70200, 0x5A, false));
    QVERIFY(dev.writeRegister(0x1070201, 0xA5, true));  // bits above 23 are dropped

    const QList<TapFrame> frames = m_bed.frames();
    QCOMPARE(frames.size(), 2);
    QCOMPARE(frames.at(0).bytes, request(RegisterFrame, Write, 0x70200, QByteArray("\x5A", 1)));
    QCOMPARE(frames.at(1).bytes,
             request(RegisterFrame, WritePersistent, 0x70201, QByteArray("\xA5", 1)));
}

void V3TapTest::flagRegisters_data()
{
    QTest::addColumn<int>("filter");
    QTest::addColumn<int>("keep");
    QTest::addColumn<int>("timestamps");
    QTest::addColumn<int>("crc");
    QTest::addColumn<int>("fcs");
    QTest::addColumn<QByteArray>("expected");  // 0x70002..0x70005

    // The zero record captures CRC-error frames and the FCS.
    QTest::newRow("zero record") << -1 << 0 << 0 << 1 << 1 << QByteArray("\x00\x00\xFF\x0F", 4);
    QTest::newRow("filter on, keep") << 1 << 1 << 1 << 0 << 1
                                     << QByteArray("\xFF\x00\x00\xF0", 4);
    QTest::newRow("filter on, discard") << 1 << 0 << 0 << 1 << 0
                                        << QByteArray("\x00\xFF\xFF\x00", 4);
    QTest::newRow("filter off, keep") << 0 << 1 << 0 << 0 << 0
                                      << QByteArray("\xFF\xFF\xFF\xFF", 4);
}

void V3TapTest::flagRegisters()
{
    QFETCH(int, filter);
    QFETCH(int, keep);
    QFETCH(int, timestamps);
    QFETCH(int, crc);
    QFETCH(int, fcs);
    QFETCH(QByteArray, expected);

    DeviceSettings settings;
    if (filter >= 0) {
        settings.setFilterMode(uint8_t(filter), uint8_t(keep));
        settings.setTimestampsEnabled(uint8_t(timestamps));
        settings.setCaptureCrcErrorFrames(uint8_t(crc));
        settings.setCaptureFcs(uint8_t(fcs));
    }
    settings.setControlByte(0xFF);  // generation 3 has no control register

    MV1Device_v3 dev(qPrintable(m_bed.hostInterface()));
    QVERIFY(dev.writeSettings(settings, false));

    const QList<TapFrame> frames = checkedSettingsFrames(m_bed.frames(), Write);
    QVERIFY(!frames.isEmpty());
    QCOMPARE(values(frames, 0, 4), expected);
    if (filter < 0)
        QCOMPARE(values(frames, 4, SettingsRegisters - 4), QByteArray(SettingsRegisters - 4, '\0'));

    // The tap's working copy took them; the stored copy is a different thing.
    QCOMPARE(m_bed.settingsSector(false).mid(2, 4), expected);
}

void V3TapTest::maskAndMatchRegisters()
{
    DeviceSettings settings;
    settings.setDstMacMask(0x20);
    settings.setSrcMacMask(0x10);
    settings.setEtherTypeMask(3);
    settings.setProtocolMask(1);
    settings.setSrcIpMask(0x0F);
    settings.setDstIpMask(0x01);
    const uint8_t dst[6] = {1, 2, 3, 4, 5, 6};
    const uint8_t src[6] = {7, 8, 9, 10, 11, 12};
    const uint8_t type[2] = {13, 14};
    const uint8_t srcIp[4] = {16, 17, 18, 19};
    const uint8_t dstIp[4] = {20, 21, 22, 23};
    settings.setDstMac(dst);
    settings.setSrcMac(src);
    settings.setEtherType(type);
    settings.setProtocol(15);
    settings.setSrcIp(srcIp);
    settings.setDstIp(dstIp);

    MV1Device_v3 dev(qPrintable(m_bed.hostInterface()));
    QVERIFY(dev.writeSettings(settings, false));

    const QList<TapFrame> frames = checkedSettingsFrames(m_bed.frames(), Write);
    QVERIFY(!frames.isEmpty());
    // dst bit 5 -> bit 22, src bit 4 -> bit 15, then ether 2 bits, protocol, srcIp, dstIp.
    QCOMPARE(values(frames, 4, 3), QByteArray("\x40\x87\xF1", 3));
    QByteArray match;
    for (int i = 1; i <= 23; ++i)
        match.append(char(i));
    QCOMPARE(values(frames, 7, 23), match);
    QCOMPARE(m_bed.settingsSector(false).mid(0x200, 23), match);
}

void V3TapTest::persistentWriteErasesFirst()
{
    DeviceSettings settings;
    settings.setFilterMode(1, 1);
    MV1Device_v3 dev(qPrintable(m_bed.hostInterface()));
    QVERIFY(dev.writeSettings(settings, true));

    QList<TapFrame> frames = m_bed.frames();
    QCOMPARE(frames.size(), SettingsRegisters + 1);
    QCOMPARE(frames.first().bytes, request(LongFrame, Erase, 0x70000));
    frames.removeFirst();
    frames = checkedSettingsFrames(frames, WritePersistent);
    QVERIFY(!frames.isEmpty());
    QCOMPARE(values(frames, 0, 4), QByteArray("\x00\x00\xFF\xF0", 4));
    QCOMPARE(m_bed.settingsSector(true).mid(2, 4), QByteArray("\x00\x00\xFF\xF0", 4));
}

void V3TapTest::pageWriteFrame()
{
    QByteArray page(Page, '\0');
    for (int i = 0; i < Page; ++i)
        page[i] = char(255 - i);

    MV1Device_v3 dev(qPrintable(m_bed.hostInterface()));
    QVERIFY(dev.writeFirmwarePage(5 * Page, reinterpret_cast<const uint8_t *>(page.constData())));

    const QList<TapFrame> frames = m_bed.frames();
    QCOMPARE(frames.size(), 1);
    // Byte address 0x000500, page data unchanged (the caller mirrors), all else zero.
    QCOMPARE(frames.first().bytes, request(LongFrame, WritePage, 0x000500, page));
}

void V3TapTest::readsAndCommitSendNothing()
{
    MV1Device_v3 dev(qPrintable(m_bed.hostInterface()));
    uint8_t value = 0x5A;
    QVERIFY(dev.readRegister(0x70001, &value, false));
    QCOMPARE(value, uint8_t(0));
    DeviceSettings settings;
    settings.setFilterMode(1, 1);
    settings.setFirmwareVersion(0x0004);
    settings.setFirmwareTypeCode(0x220C);
    QVERIFY(!dev.readSettings(settings, false));
    QCOMPARE(settings, DeviceSettings());  // cleared: firmware version and type read 0
    QVERIFY(dev.commitSettings());

    // A frame sent afterwards is the only one the tap sees.
    QVERIFY(dev.writeRegister(0x70002, 0, false));
    const QList<TapFrame> frames = m_bed.frames();
    QCOMPARE(frames.size(), 1);
    QCOMPARE(addressOf(frames.first().bytes), 0x70002);
}

void V3TapTest::oversizedImageIsRefusedBeforeSending()
{
    MV1Device_v3 dev(qPrintable(m_bed.hostInterface()));
    QSignalSpy progress(&dev, &MV1Device::MV1UpdateProgress);
    // Generation 3 writes 767 pages; one byte more would be dropped without a word.
    const std::vector<uint8_t> image(767 * Page + 1, 0x12);
    QVERIFY(!dev.updateFirmware(image.data(), static_cast<int>(image.size())));
    QCOMPARE(progress.count(), 0);

    QVERIFY(dev.writeRegister(0x70002, 0, false));
    QCOMPARE(m_bed.frames().size(), 1);
}

QTEST_GUILESS_MAIN(V3TapTest)
#include "tst_v3tap.moc"
