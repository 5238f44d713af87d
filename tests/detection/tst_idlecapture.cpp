// The worker gives the tap's capture up a short while after each operation and makes a new one
// for the next: a window left open costs the host nothing for the frames the tap's interface
// receives, and the interface is no longer promiscuous. Against the simulated tap, in-process
// and on a veth pair.
#include <QTest>

#include <memory>

#include "Detection.h"
#include "InProcessTaps.h"
#include "TapBed.h"
#include "TapTestBed.h"
#include "TapWire.h"

namespace {

// Only ever waited out on a failure: the release comes about two seconds after an operation,
// and a silent tap's probes take over three.
constexpr int Wait = 20000;

enum class Action { Write, Store, Update };

// The kernel's count of what keeps the host interface promiscuous; in-process nothing does.
int promiscuity(const TapBed &bed)
{
    return TapBed::endToEnd() ? TapTestBed::promiscuity(bed.hostInterface()) : 0;
}

// How many captures of the host interface were ever made; -1 where only the kernel knows.
int capturesMade(const TapBed &bed)
{
    if (TapBed::endToEnd())
        return -1;
    return InProcessTaps::instance().line(bed.hostInterface())->linksEverAttached();
}

// A worker, started, with the outcomes it hands over as the window takes them.
struct Watched : QObject
{
    Watched()
    {
        connect(&worker, &Detection::operationEnded, this,
                [this] { outcomes += worker.takeOutcomes(); });
        worker.start();
    }
    QList<TapOutcome> outcomes;
    Detection worker;  // last, so it is gone before what its signals reach
};

}  // namespace

class TestIdleCapture : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { REQUIRE_TAP_BED(); }

    // Each operation carried out on one capture of its own, which goes again afterwards; an
    // Apply twice, the second after the first one's capture has gone. A generation-3 store
    // waits out an erase as long as the idle time, which must not cost it its capture.
    void captureGoesBetweenOperations_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("generation");
        QTest::addColumn<Action>("action");
        QTest::addColumn<int>("rounds");
        struct Row
        {
            const char *name;
            bool generation3;
            Action action;
            int rounds;
            bool endToEnd;
        };
        static const Row Rows[] = {
            {"generation 4, Apply", false, Action::Write, 2, true},
            {"generation 4, Flash", false, Action::Store, 1, false},
            {"generation 4, firmware update", false, Action::Update, 1, false},
            {"generation 3, Apply", true, Action::Write, 2, true},
            {"generation 3, Flash", true, Action::Store, 1, false},
        };
        for (const Row &row : Rows) {
            if (!TapBed::runsRow(row.endToEnd))
                continue;
            QTest::newRow(row.name)
                << (row.generation3 ? QStringList{"--generation", "3"} : QStringList())
                << (row.generation3 ? 3 : 4) << row.action << row.rounds;
        }
    }

    void captureGoesBetweenOperations()
    {
        QFETCH(QStringList, options);
        QFETCH(int, generation);
        QFETCH(Action, action);
        QFETCH(int, rounds);
        const std::unique_ptr<TapBed> bed = TapBed::make();
        QVERIFY(bed->plug() && bed->startTap(options));
        const int promiscuousBefore = promiscuity(*bed);
        QVERIFY(promiscuousBefore >= 0);

        Watched w;
        QTRY_COMPARE_WITH_TIMEOUT(w.worker.deviceGeneration(), generation, Wait);
        // Taking the tap probed and read it; with nothing else to do, the capture goes.
        QTRY_COMPARE_WITH_TIMEOUT(bed->capturesHeld(), 0, Wait);
        QCOMPARE(promiscuity(*bed), promiscuousBefore);

        for (int round = 1; round <= rounds; ++round) {
            const int made = capturesMade(*bed);
            bed->clearFrames();
            DeviceSettings settings;
            settings.setControlByte(uint8_t(0x10 + round));
            switch (action) {
            case Action::Write: w.worker.requestWrite(settings, false); break;
            case Action::Store: w.worker.requestWrite(settings, true); break;
            case Action::Update: w.worker.requestUpdate(); break;
            }
            QTRY_COMPARE_WITH_TIMEOUT(w.outcomes.size(), round, Wait);
            QVERIFY2(w.outcomes.last().carriedOut(), qPrintable(w.outcomes.last().failure.text()));
            QVERIFY(!bed->frames().isEmpty());
            if (made >= 0)
                QCOMPARE(capturesMade(*bed) - made, 1);
            QTRY_COMPARE_WITH_TIMEOUT(bed->capturesHeld(), 0, Wait);
            QCOMPARE(promiscuity(*bed), promiscuousBefore);
        }
    }
};

QTEST_GUILESS_MAIN(TestIdleCapture)
#include "tst_idlecapture.moc"
