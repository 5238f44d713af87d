#include <QtTest>

#include "DeviceSettings.h"
#include "SettingsRegisterMap.h"

namespace {

using Masks = std::array<uint8_t, reg::CareMaskLength>;

Masks packed(const DeviceSettings &s)
{
    Masks out;
    out.fill(0xAA);
    packCareMasks(s, out.data());
    return out;
}

struct MaskSet
{
    uint8_t dstMac, srcMac, etherType, protocol, srcIp, dstIp;
    bool operator==(const MaskSet &) const = default;
};

DeviceSettings withMasks(const MaskSet &m)
{
    DeviceSettings s;
    s.setDstMacMask(m.dstMac);
    s.setSrcMacMask(m.srcMac);
    s.setEtherTypeMask(m.etherType);
    s.setProtocolMask(m.protocol);
    s.setSrcIpMask(m.srcIp);
    s.setDstIpMask(m.dstIp);
    return s;
}

MaskSet masksOf(const DeviceSettings &s)
{
    MaskSet m{};
    s.dstMacMask(&m.dstMac);
    s.srcMacMask(&m.srcMac);
    s.etherTypeMask(&m.etherType);
    s.protocolMask(&m.protocol);
    s.srcIpMask(&m.srcIp);
    s.dstIpMask(&m.dstIp);
    return m;
}

} // namespace

Q_DECLARE_METATYPE(MaskSet)

class TestSettingsRegisterMap : public QObject
{
    Q_OBJECT

private slots:
    void careMaskBytes_data()
    {
        QTest::addColumn<MaskSet>("masks");
        QTest::addColumn<uint>("word");  // 0x70007 << 16 | 0x70008 << 8 | 0x70009
        QTest::newRow("none") << MaskSet{0, 0, 0, 0, 0, 0} << 0x000000u;
        QTest::newRow("all") << MaskSet{0x3F, 0x3F, 3, 1, 0x0F, 0x0F} << 0x7FFFFFu;
        QTest::newRow("dstMac first byte") << MaskSet{0x20, 0, 0, 0, 0, 0} << 0x400000u;
        QTest::newRow("dstMac last byte") << MaskSet{0x01, 0, 0, 0, 0, 0} << 0x020000u;
        QTest::newRow("srcMac first byte") << MaskSet{0, 0x20, 0, 0, 0, 0} << 0x010000u;
        QTest::newRow("srcMac second byte") << MaskSet{0, 0x10, 0, 0, 0, 0} << 0x008000u;
        QTest::newRow("srcMac last byte") << MaskSet{0, 0x01, 0, 0, 0, 0} << 0x000800u;
        QTest::newRow("etherType high byte") << MaskSet{0, 0, 2, 0, 0, 0} << 0x000400u;
        QTest::newRow("etherType low byte") << MaskSet{0, 0, 1, 0, 0, 0} << 0x000200u;
        QTest::newRow("protocol") << MaskSet{0, 0, 0, 1, 0, 0} << 0x000100u;
        QTest::newRow("srcIp first octet") << MaskSet{0, 0, 0, 0, 8, 0} << 0x000080u;
        QTest::newRow("srcIp last octet") << MaskSet{0, 0, 0, 0, 1, 0} << 0x000010u;
        QTest::newRow("dstIp first octet") << MaskSet{0, 0, 0, 0, 0, 8} << 0x000008u;
        QTest::newRow("dstIp last octet") << MaskSet{0, 0, 0, 0, 0, 1} << 0x000001u;
        QTest::newRow("mixed") << MaskSet{0x2A, 0x15, 2, 1, 0x0A, 0x05} << 0x54ADA5u;
    }

    // Every care bit lands on the bit of the match register it guards, and comes back.
    void careMaskBytes()
    {
        QFETCH(MaskSet, masks);
        QFETCH(uint, word);
        const Masks bytes = packed(withMasks(masks));
        const uint got = (uint(bytes[0]) << 16) | (uint(bytes[1]) << 8) | bytes[2];
        QCOMPARE(got, word & 0xFFFFFFu);

        DeviceSettings back;
        back.setDstMacMask(0xEE);  // the unpacking must set every mask, not merge into it
        unpackCareMasks(bytes.data(), back);
        QCOMPARE(masksOf(back), masks);
    }

    // Bits above a mask's width never reach a neighbour's bits or bit 23, which reading ignores.
    void bitsOutsideTheMasksAreDropped()
    {
        QCOMPARE(packed(withMasks({0xC0, 0xC0, 0xFC, 0xFE, 0xF0, 0xF0})), (Masks{0, 0, 0}));
        DeviceSettings s;
        unpackCareMasks(Masks{0x80, 0x00, 0x00}.data(), s);
        QCOMPARE(masksOf(s), (MaskSet{0, 0, 0, 0, 0, 0}));
    }

    void flagsByte_data()
    {
        QTest::addColumn<int>("filter");
        QTest::addColumn<int>("keep");
        QTest::addColumn<int>("timestamps");
        QTest::addColumn<int>("captureCrc");
        QTest::addColumn<int>("captureFcs");
        QTest::addColumn<int>("flags");
        QTest::newRow("zero record") << 0 << 0 << 0 << 1 << 1 << 0x18;
        QTest::newRow("filter keep crc") << 1 << 1 << 0 << 1 << 0 << 0x0B;
        QTest::newRow("all on") << 1 << 1 << 1 << 1 << 1 << 0x1F;
        QTest::newRow("discard with timestamps") << 1 << 0 << 1 << 0 << 0 << 0x05;
        QTest::newRow("fcs only") << 0 << 0 << 0 << 0 << 1 << 0x10;
    }

    void flagsByte()
    {
        QFETCH(int, filter);
        QFETCH(int, keep);
        QFETCH(int, timestamps);
        QFETCH(int, captureCrc);
        QFETCH(int, captureFcs);
        QFETCH(int, flags);

        DeviceSettings s;
        s.setFilterMode(uint8_t(filter), uint8_t(keep));
        s.setTimestampsEnabled(uint8_t(timestamps));
        s.setCaptureCrcErrorFrames(uint8_t(captureCrc));
        s.setCaptureFcs(uint8_t(captureFcs));
        QCOMPARE(int(packFlags(s)), flags);

        // Reading back ignores bits 7 to 5 whatever they hold.
        for (const uint8_t high : {uint8_t(0x00), uint8_t(0xE0)}) {
            DeviceSettings back;
            unpackFlags(uint8_t(flags | high), back);
            QCOMPARE(int(back.filterEnabled()), filter);
            QCOMPARE(int(back.keepMatching()), keep);
            QCOMPARE(int(back.timestampsEnabled()), timestamps);
            QCOMPARE(int(back.captureCrcErrorFrames()), captureCrc);
            QCOMPARE(int(back.captureFcs()), captureFcs);
        }
    }

    // The 23 match bytes follow register order, each field first byte first, and the
    // EtherType is never swapped.
    void matchBytesInRegisterOrder()
    {
        const uint8_t dst[6] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
        const uint8_t src[6] = {0x11, 0x12, 0x13, 0x14, 0x15, 0x16};
        const uint8_t type[2] = {0x08, 0x00};
        const uint8_t srcIp[4] = {192, 168, 1, 7};
        const uint8_t dstIp[4] = {10, 0, 0, 254};
        DeviceSettings s;
        s.setDstMac(dst);
        s.setSrcMac(src);
        s.setEtherType(type);
        s.setProtocol(0x11);
        s.setSrcIp(srcIp);
        s.setDstIp(dstIp);

        uint8_t out[reg::MatchBytesLength];
        matchBytes(s, out);
        const QByteArray expected = QByteArray::fromHex("010203040506"
                                                        "111213141516"
                                                        "0800"
                                                        "11"
                                                        "c0a80107"
                                                        "0a0000fe");
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(out), sizeof out), expected);

        DeviceSettings back;
        setMatchBytes(out, back);
        QVERIFY(back == s);
    }
};

QTEST_GUILESS_MAIN(TestSettingsRegisterMap)
#include "tst_settingsregistermap.moc"
