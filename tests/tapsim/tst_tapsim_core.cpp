// The simulated tap's options and the junk it sends. What it answers is checked by every test
// that talks to it, against frames and flash contents decoded independently (tests/common).
#include <QtTest>

#include <algorithm>
#include <chrono>
#include <cmath>

#include "FirmwareImage.h"
#include "JunkSource.h"
#include "TapOptions.h"

using namespace tapsim;

namespace {

// Frames built here from the wire's offsets, not from the device code.
constexpr int OpcodeAt = 15, AddressAt = 16, DataAt = 19, PageBytes = 256;

std::vector<uint8_t> command(uint8_t opcode, int address, int length = 300)
{
    std::vector<uint8_t> frame(static_cast<size_t>(length), 0);
    frame[OpcodeAt] = opcode;
    frame[AddressAt] = static_cast<uint8_t>(address >> 16);
    frame[AddressAt + 1] = static_cast<uint8_t>(address >> 8);
    frame[AddressAt + 2] = static_cast<uint8_t>(address);
    return frame;
}

// Page `index` of the carried image as it travels: every byte's bits mirrored, zero past the end.
std::vector<uint8_t> page(uint8_t opcode, int address, int index, int corruptAt = -1)
{
    std::vector<uint8_t> frame = command(opcode, address, DataAt + PageBytes);
    for (int i = 0; i < PageBytes; ++i) {
        const int at = index * PageBytes + i;
        uint8_t b = at < firmwareImageLength ? firmwareImage[at] : 0;
        if (at == corruptAt)
            b ^= 0x01;
        uint8_t mirrored = 0;
        for (int bit = 0; bit < 8; ++bit)
            mirrored |= ((b >> bit) & 1) << (7 - bit);
        frame[static_cast<size_t>(DataAt + i)] = mirrored;
    }
    return frame;
}

std::optional<Reply> send(TapProtocol &tap, const std::vector<uint8_t> &frame)
{
    return tap.handle(frame.data(), static_cast<int>(frame.size()));
}

// How a written image is sent: by generation 4's programming run or generation 3's pages.
enum class Writes { Nothing, Generation4, Generation3 };

}  // namespace

class TestTapsimCore : public QObject
{
    Q_OBJECT

private slots:
    // A restart starts what the flash holds: only the exact carried image answers as 4.0,
    // unless the mode that boots anything says otherwise; a tap whose firmware area nobody
    // wrote keeps what it ran. What is left silent still takes the update again.
    void restartStartsWhatTheFlashHolds_data()
    {
        QTest::addColumn<int>("generation");
        QTest::addColumn<int>("writes");
        QTest::addColumn<int>("skipPage");  // -1: none skipped
        QTest::addColumn<int>("corruptByte");  // -1: none
        QTest::addColumn<bool>("anyImage");
        QTest::addColumn<int>("answersAs");  // major version read after the restart; -1 silent
        const auto w4 = int(Writes::Generation4), w3 = int(Writes::Generation3);
        QTest::newRow("generation 4, exact image") << 4 << w4 << -1 << -1 << false << 4;
        QTest::newRow("generation 3, exact image") << 3 << w3 << -1 << -1 << false << 4;
        QTest::newRow("page 300 missing") << 4 << w4 << 300 << -1 << false << -1;
        QTest::newRow("generation 3, page 644 missing") << 3 << w3 << 644 << -1 << false << -1;
        QTest::newRow("last image byte flipped")
            << 4 << w4 << -1 << firmwareImageLength - 1 << false << -1;
        QTest::newRow("flipped, boots any image") << 4 << w4 << -1 << 1000 << true << 4;
        QTest::newRow("missing, boots any image") << 3 << w3 << 10 << -1 << true << 4;
        QTest::newRow("firmware area untouched")
            << 4 << int(Writes::Nothing) << -1 << -1 << false << 3;
        QTest::newRow("generation 3 untouched")
            << 3 << int(Writes::Nothing) << -1 << -1 << false << -1;
    }
    void restartStartsWhatTheFlashHolds()
    {
        QFETCH(int, generation);
        QFETCH(int, writes);
        QFETCH(int, skipPage);
        QFETCH(int, corruptByte);
        QFETCH(bool, anyImage);
        QFETCH(int, answersAs);
        TapState state(FirmwareStatus{3, 0, 0x220C});
        TapProtocol tap(generation, state, {}, false,
                        anyImage ? TapProtocol::Boot::AnyImage : TapProtocol::Boot::Verified);
        const auto writeImage = [&](Writes how, int skip, int corrupt) {
            if (how == Writes::Generation4) {
                QVERIFY(send(tap, command(0xB0, 0)));
                for (int i = 0; i < 768; ++i)
                    if (i != skip)
                        QCOMPARE(send(tap, page(0xB1, i, i, corrupt))->bytes[OpcodeAt], 27);
                QCOMPARE(send(tap, command(0xB2, 0))->bytes[OpcodeAt], 43);
            } else if (how == Writes::Generation3) {
                for (int sector = 0; sector < 3; ++sector)
                    QVERIFY(!send(tap, command(0xEE, sector * 0x10000)));
                for (int i = 0; i < 767; ++i)
                    if (i != skip)
                        QVERIFY(!send(tap, page(0xDD, i * PageBytes, i, corrupt)));
            }
        };
        writeImage(Writes(writes), skipPage, corruptByte);
        // Before the restart the tap still runs what it ran: nothing is taken for 4.0 early.
        const std::optional<Reply> before = send(tap, command(0x71, 0x70300));
        QCOMPARE(before ? int(before->bytes[DataAt]) : -1, generation == 4 ? 3 : -1);

        tap.restart();
        const std::optional<Reply> after = send(tap, command(0x71, 0x70300));
        QCOMPARE(after ? int(after->bytes[DataAt]) : -1, answersAs);
        QCOMPARE(TapProtocol::holdsCarriedImage(state),
                 writes != int(Writes::Nothing) && skipPage < 0 && corruptByte < 0);
        if (answersAs >= 0)
            return;
        // Silent after a bad image, it still takes generation 3's update, and then starts.
        writeImage(Writes::Generation3, -1, -1);
        tap.restart();
        const std::optional<Reply> again = send(tap, command(0x71, 0x70300));
        QVERIFY(again && again->bytes[DataAt] == 4);
    }

    void badOptionsAreRefused()
    {
        for (const char *bad :
             {"--generation=5", "--refuse-page=768:1", "--wrong-code=70", "--junk-rate=-1",
              "--junk-kinds=random,runts", "--duplicate-fraction=1.5", "--reorder-fraction=-0.1",
              "--lose-reply-fraction=x", "--late-ms=-1", "--jitter-ms=60001"})
            QVERIFY2(!TapCommandLine().parse({"tapsim", "--interface=x", bad}), bad);
    }

    // Every kind passes the host's zero-address filter; only runts are too short for a reply.
    // A seed repeats the frames and the times between them.
    void junkKinds()
    {
        TapCommandLine line;
        QVERIFY(line.parse({"tapsim", "--interface=x", "--junk-rate=2000", "--seed=7",
                            "--junk-kinds=random,runt,replay"}));
        const TapOptions &o = line.options();
        JunkSource a(o.junkKinds, o.junkRate, o.seed), b(o.junkKinds, o.junkRate, o.seed);
        QCOMPARE(JunkSource({JunkKind::Replay}, 1, 1).next().length, 0);  // nothing sent yet
        Reply sent;
        sent.length = 300;
        sent.bytes[15] = 23;
        a.remember(sent);
        b.remember(sent);

        int seen[3] = {};  // runts, replays, random frames
        std::chrono::duration<double> gaps{};
        constexpr int Frames = 3000;
        for (int i = 0; i < Frames; ++i) {
            const Reply f = a.next(), g = b.next();
            const auto gap = a.nextGap();
            QVERIFY(f.length == g.length && f.bytes == g.bytes && gap == b.nextGap());
            gaps += gap;
            QVERIFY(f.length >= 14 && f.length <= 1514);
            const bool runt = f.length < 16;
            QVERIFY(std::all_of(f.bytes.begin(), f.bytes.begin() + (runt ? 12 : 15),
                                [](uint8_t x) { return x == 0; }));
            ++seen[runt ? 0 : f.bytes == sent.bytes && f.length == 300 ? 1 : 2];
        }
        for (int kind = 0; kind < 3; ++kind)
            QVERIFY2(seen[kind] > Frames / 4, qPrintable(QString::number(kind)));
        QVERIFY(std::abs(gaps.count() / Frames - 1.0 / 2000) < 0.1 / 2000);
    }
};

QTEST_GUILESS_MAIN(TestTapsimCore)
#include "tst_tapsim_core.moc"
