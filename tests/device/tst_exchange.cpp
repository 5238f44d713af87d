#include <QtTest>

#include <memory>

#include "MV1Device_v4.h"
#include "TapTestBed.h"
#include "TapWire.h"

using namespace wire;

namespace {

const uint8_t *bytes(const QByteArray &f) { return reinterpret_cast<const uint8_t *>(f.constData()); }

} // namespace

class TestExchange : public QObject
{
    Q_OBJECT

    std::unique_ptr<TapTestBed> bed;
    std::unique_ptr<MV1Device_v4> dev;

    void startTap(const QStringList &options = {})
    {
        dev.reset();
        bed = std::make_unique<TapTestBed>();
        QVERIFY(bed->plug());
        QVERIFY(bed->startTap(options));
        dev = std::make_unique<MV1Device_v4>(qPrintable(bed->hostInterface()));
    }

private slots:
    void initTestCase() { REQUIRE_TAP_TEST_BED(); }
    void cleanup()
    {
        dev.reset();
        bed.reset();
    }

    // What each command puts on the wire, byte for byte, each answered at the first send.
    void commandFrames()
    {
        startTap();
        QByteArray page(PageSize, '\0');
        for (int i = 0; i < page.size(); ++i)
            page[i] = static_cast<char>(255 - i);
        uint8_t value = 0;
        QVERIFY(dev->writeRegister(0x70001, 0x5A, false));
        QVERIFY(dev->readRegister(0x70001, &value, false));
        QCOMPARE(value, uint8_t(0x5A));
        QVERIFY(dev->writeRegister(0x70200, 0x3C, true));
        QVERIFY(dev->readRegister(0x70200, &value, true));
        QCOMPARE(value, uint8_t(0x3C));
        QVERIFY(dev->eraseSettings());
        QVERIFY(!dev->commitSettings());   // carries no verdict
        QVERIFY(dev->eraseSector(0x1234567));   // bits above 23 dropped
        QVERIFY(dev->writeFirmwarePage(0x500, bytes(page)));   // sends nothing
        QVERIFY(dev->beginProgramming());
        QVERIFY(dev->programPage(5, bytes(page)));
        QVERIFY(dev->endProgramming());

        const QList<QByteArray> got = bytesOf(bed->frames());
        QCOMPARE(got, (QList<QByteArray>{
                          request(0x70, 0x70001, 0x5A), request(0x71, 0x70001),
                          request(0x80, 0x70200, 0x3C), request(0x81, 0x70200),
                          request(0xE0, 0x70000), request(0x8F, 0), request(0xE0, 0x234567),
                          request(0xB0, 0), request(0xB1, 5, page, PageFrameLength),
                          request(0xB2, 0)}));
        QCOMPARE(got[1].mid(15, 4), QByteArray::fromHex("71070001"));
        QCOMPARE(got[8].size(), 1500);
        QCOMPARE(got[8].mid(16, 3), QByteArray::fromHex("000005"));
        QCOMPARE(got[8].mid(19, 256), page);

        // The answer is the request with only byte 15 changed; it is still the answer.
        const QByteArray write = request(0x70, 0x70005, 0x42);
        const auto reply = dev->exchange(bytes(write), RequestLength, 10);
        QVERIFY(reply);
        QByteArray expected = write;
        expected[OpcodeAt] = 7;
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(reply->data()), int(reply->size())),
                 expected);
    }

    // Which frames a read takes as its answer, which count as misses against the budget of
    // 10, and how often the request goes out. The tap records only what the host sent.
    void replySelection_data()
    {
        QTest::addColumn<QString>("options");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("sends");
        QTest::newRow("other length") << "--reply-length 50" << true << 1;
        QTest::newRow("false echo passed over") << "--false-echo" << true << 1;
        QTest::newRow("ten misses") << "--junk-before-reply 10" << true << 1;
        QTest::newRow("eleventh miss") << "--junk-before-reply 11" << true << 2;
        QTest::newRow("ethertype is a miss")
            << "--junk-field ethertype --junk-before-reply 11" << true << 2;
        QTest::newRow("byte 14 is a miss")
            << "--junk-field reserved --junk-before-reply 11" << true << 2;
        QTest::newRow("short frames are free")
            << "--junk-before-reply 10 --short-before-reply 12" << true << 1;
        QTest::newRow("echo is a miss") << "--false-echo --junk-before-reply 10" << true << 2;
        QTest::newRow("silent") << "--silent" << false << 10;
        QTest::newRow("copy never taken") << "--wrong-code 71:71" << false << 10;
        QTest::newRow("wrong code") << "--wrong-code 71:18" << false << 1;
        QTest::newRow("no byte 19") << "--reply-length 19" << false << 1;
    }

    void replySelection()
    {
        QFETCH(QString, options);
        QFETCH(bool, ok);
        QFETCH(int, sends);
        startTap(options.split(QLatin1Char(' ')));
        uint8_t value = 0xA5;
        QCOMPARE(dev->readRegister(0x70001, &value, false), ok);
        QCOMPARE(value, ok ? uint8_t(0xFF) : uint8_t(0xA5));   // a fresh tap reads 0xFF
        // An attempt that runs out leaves its answer on the way; the next attempt takes it.
        QCOMPARE(bytesOf(bed->frames()), QList<QByteArray>(sends, request(0x71, 0x70001)));
    }

    void wrongCodesAreNotRetried()
    {
        startTap({QStringLiteral("--wrong-code"), QStringLiteral("80:7"),
                  QStringLiteral("--wrong-code"), QStringLiteral("8f:0")});
        QVERIFY(!dev->writeRegister(0x70001, 0x12, true));   // 7 answers a working-copy write
        QVERIFY(!dev->commitSettings());
        QCOMPARE(bed->frames().size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestExchange)
#include "tst_exchange.moc"
