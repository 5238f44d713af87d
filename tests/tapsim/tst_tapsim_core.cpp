#include <QtTest>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <set>
#include <cstring>

#include "JunkSource.h"
#include "TapOptions.h"
#include "TapProtocol.h"

using namespace tapsim;

namespace {

using Frame = std::vector<uint8_t>;

// Exactly `length` bytes on the heap, so the sanitizers catch any read past the frame. Page and
// erase opcodes get 1500-byte frames whose 256 data bytes count up from `value`. The offsets are
// written out here, not taken from the program's frame layout.
Frame command(uint8_t opcode, int address, uint8_t value = 0, int length = 0)
{
    const bool paged = opcode == 0xB1 || opcode == 0xDD || opcode == 0xEE;
    Frame f(1500, 0);
    const uint8_t fields[] = {opcode, uint8_t(address >> 16), uint8_t(address >> 8),
                              uint8_t(address)};
    std::copy(std::begin(fields), std::end(fields), f.begin() + 15);
    for (int i = 0; i < (paged ? 256 : 1); ++i)
        f[size_t(19 + i)] = uint8_t(value + i);
    return Frame(f.begin(), f.begin() + (length ? length : paged ? 1500 : 300));
}

std::optional<Reply> send(TapProtocol &tap, const Frame &f)
{
    return tap.handle(f.data(), int(f.size()));
}

// A request and what the tap answers: its code and, where given, the byte read back.
struct Step
{
    uint8_t opcode;
    int address;
    uint8_t value;
    uint8_t code;
    int read = -1;
    int length = 0;
};

void play(TapProtocol &tap, const std::vector<Step> &steps)
{
    for (int i = 0; i < int(steps.size()); ++i) {
        const Step &s = steps[size_t(i)];
        const Frame f = command(s.opcode, s.address, s.value, s.length);
        const Reply r = send(tap, f).value_or(Reply{});
        // Paired with the step's index, so that a mismatch says which step it was.
        QCOMPARE(std::pair(i, int(r.bytes[15])), std::pair(i, int(s.code)));
        if (s.read >= 0)
            QCOMPARE(std::pair(i, int(r.bytes[19])), std::pair(i, s.read));
        // The request's first 300 bytes, at least 60, zero header, never the request itself
        // (the host would take it for its own echo).
        QCOMPARE(r.length, std::max(60, std::min(int(f.size()), 300)));
        QCOMPARE(Frame(r.bytes.begin(), r.bytes.begin() + 15), Frame(15, 0));
        QVERIFY(std::memcmp(r.bytes.data(), f.data(), std::min(f.size(), size_t(300))) != 0);
    }
}

}  // namespace

class TestTapsimCore : public QObject
{
    Q_OBJECT

private slots:
    void settingsRegistersAndReplies()
    {
        TapState state;
        TapProtocol tap(4, state);
        // Not commands: too short for an opcode, a non-zero source address, EtherType or byte 14.
        Frame source = command(0x70, 0x70002, 1), etherType = source, reserved = source;
        source[6] = etherType[13] = reserved[14] = 1;
        for (const Frame &f : {command(0x70, 0x70002, 1, 15), source, etherType, reserved})
            QVERIFY(!send(tap, f));
        play(
            tap,
            {
                {0x71, 0x70002, 0, 23, 0xFF},
                {0x42, 0, 0, 0xFF},
                {0x70, 0x70000, 0x0B, 7, -1, 20},
                // Too short for their fields: refused, not carried out, nothing read past the end.
                {0x70, 0x70009, 1, 0xFF, -1, 19},
                {0x81, 0x70009, 0, 0xFF, -1, 17},
                {0xE0, 0x70000, 0, 0xFF, -1, 18},
                {0x71, 0x70009, 0, 23, 0xFF},
                // The commit copies the working sector, but not over a persistent write since the last.
                {0x70, 0x70200, 0x11, 7},
                {0x80, 0x70200, 0x22, 8},
                {0x81, 0x70000, 0, 24, 0xFF},
                {0x8F, 0, 0, 0xF8},
                {0x81, 0x70000, 0, 24, 0x0B},
                {0x81, 0x70200, 0, 24, 0x22},
                {0x71, 0x70200, 0, 23, 0x11},
                {0x70, 0x70200, 0x33, 7},
                {0x8F, 0, 0, 0xF8},
                {0x81, 0x70200, 0, 24, 0x33},
                // An erase (any address in the sector) clears the stored copy and its persistent writes.
                {0x80, 0x70001, 2, 8},
                {0xE0, 0x7FFFF, 0, 14},
                {0x81, 0x70000, 0, 24, 0xFF},
                {0x71, 0x70000, 0, 23, 0x0B},
                {0x70, 0x70001, 1, 7},
                {0x8F, 0, 0, 0xF8},
                {0x81, 0x70001, 0, 24, 1},
                // Outside the sector writes are dropped; the status registers ignore them.
                {0x70, 0xFFFFFF, 1, 7},
                {0x71, 0xFFFFFF, 0, 23, 0xFF},
                {0x70, 0x70300, 9, 7},
                {0x71, 0x70300, 0, 23, 4},
            });
    }

    void programmingStatusAndFaults()
    {
        TapState state(FirmwareStatus{0, 0, 0});
        TapProtocol tap(4, state, ProtocolFaults{{{0x70, 8}}, {{10, 1}}}, true);
        play(
            tap,
            {
                {0xB1, 0, 0x48, 0xFF},
                {0xB2, 0, 0, 0xFF},  // no run open
                {0xB0, 0, 0, 11},
                {0xB1, 0, 0x48, 27},
                {0xB1, 767, 0x01, 27},
                {0xB1, 768, 0x01, 0xFF},
                {0xB1, 5, 0x01, 0xFF, -1, 274},
                {0xB1, 10, 0x01, 0xFF},
                {0xB1, 10, 0x01, 27},  // refused once
                {0x70, 0x70001, 5, 8},
                {0x71, 0x70001, 0, 23, 0xFF},  // a wrong code: not carried out
                // Closing the run restarts the tap into the new image, as the status registers show.
                {0x71, 0x70300, 0, 23, 0},
                {0xB2, 0, 0, 43},
                {0x80, 0x70303, 9, 8},
                {0x71, 0x70300, 0, 23, 4},
                {0x81, 0x70303, 0, 24, 0x22},
            });
        // Wire bytes 0x48 0x49 0x01 0x03 back in image bit order; refused pages are not kept.
        const std::vector<uint8_t> f = state.programmedArea();
        QCOMPARE((Frame{f[0], f[1], f[767 * 256], f[767 * 256 + 2], f[5 * 256], f[10 * 256]}),
                 (Frame{0x12, 0x92, 0x80, 0xC0, 0xFF, 0x80}));
    }

    void generation3AppliesSilently()
    {
        TapState state;
        TapProtocol tap(3, state);
        // Pages at byte addresses, working writes and erases show through the test bed; here the
        // stored copy and the edges: a page cut at the end of flash, one too short to take.
        QVERIFY(!send(tap, command(0x80, 0x70005, 0xF0)));
        QVERIFY(!send(tap, command(0xDD, 0xFFFF80)));
        QVERIFY(!send(tap, command(0xDD, 0, 1, 274)));
        QCOMPARE(state.readRegister(0x70005, true), uint8_t(0xF0));
        QCOMPARE(state.readRegister(0x70005, false), ErasedByte);
        QCOMPARE(state.programmedArea()[0], ErasedByte);
    }

    void badOptionsAreRefused()
    {
        for (const char *bad : {"--generation=5", "--refuse-page=768:1", "--wrong-code=70",
                                "--junk-rate=-1", "--junk-kinds=random,runts"})
            QVERIFY2(!TapCommandLine().parse({"tapsim", "--interface=x", bad}), bad);
    }

    // Every kind passes the host's zero-address filter; only runts fail the header test a
    // reply must pass. A seed repeats the frames and the times between them.
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

        int runts = 0, replays = 0, randoms = 0;
        std::set<int> codes;
        std::chrono::duration<double> gaps{};
        constexpr int Frames = 3000;
        for (int i = 0; i < Frames; ++i) {
            const Reply f = a.next(), g = b.next();
            QCOMPARE(Frame(f.bytes.begin(), f.bytes.begin() + f.length),
                     Frame(g.bytes.begin(), g.bytes.begin() + g.length));
            const auto gap = a.nextGap();
            QCOMPARE(gap, b.nextGap());
            gaps += gap;
            const bool zeroHeader = std::all_of(f.bytes.begin(), f.bytes.begin() + 15,
                                                [](uint8_t x) { return x == 0; });
            QVERIFY(std::all_of(f.bytes.begin(), f.bytes.begin() + 12,
                                [](uint8_t x) { return x == 0; }));
            if (f.length < 16) {
                QVERIFY(f.length >= 14);
                ++runts;
            } else if (std::equal(f.bytes.begin(), f.bytes.end(), sent.bytes.begin())
                       && f.length == 300) {
                ++replays;
            } else {
                QVERIFY(zeroHeader && f.length <= 1514);
                codes.insert(f.bytes[15]);
                ++randoms;
            }
        }
        QVERIFY(runts > Frames / 4 && replays > Frames / 4 && randoms > Frames / 4);
        QVERIFY(codes.size() > 200);
        QVERIFY(std::abs(gaps.count() / Frames - 1.0 / 2000) < 0.1 / 2000);
    }
};

QTEST_GUILESS_MAIN(TestTapsimCore)
#include "tst_tapsim_core.moc"
