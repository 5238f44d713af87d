// The simulated tap's options and the junk it sends. What it answers is checked by every test
// that talks to it, against frames and flash contents decoded independently (tests/common).
#include <QtTest>

#include <algorithm>
#include <chrono>
#include <cmath>

#include "JunkSource.h"
#include "TapOptions.h"

using namespace tapsim;

class TestTapsimCore : public QObject
{
    Q_OBJECT

private slots:
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
