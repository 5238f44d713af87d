// The operations the worker and the command-line tool share, on a tap taken through the tap
// service: how each one ends, against the simulated tap in a private network namespace.
#include <QTest>

#include <algorithm>

#include "FirmwareImage.h"
#include "TapOperations.h"
#include "TapService.h"
#include "TapTestBed.h"

using Action = TapOutcome::Action;
using Result = TapOutcome::Result;

class TapOperationsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { REQUIRE_TAP_TEST_BED(); }

    void outcomes_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<Action>("action");
        QTest::addColumn<Result>("result");
        QTest::addColumn<QString>("failure");
        QTest::newRow("stored") << QStringList() << Action::Store << Result::Succeeded << "";
        QTest::newRow("stored copy refused")
            << QStringList{"--wrong-code", "80:7"} << Action::Store << Result::Failed
            << "register 0x70000, refused with code 0x7";
        QTest::newRow("updated") << QStringList() << Action::Update << Result::Succeeded << "";
        // A tap that answers nothing can only be sent to.
        QTest::newRow("one-way write")
            << QStringList{"--generation", "3"} << Action::Write << Result::SentUnconfirmed << "";
        QTest::newRow("one-way read")
            << QStringList{"--generation", "3"} << Action::Read << Result::Failed
            << "register 0x70000, a generation-3 tap cannot be read back";
    }

    void outcomes()
    {
        QFETCH(QStringList, options);
        QFETCH(Action, action);
        QFETCH(Result, result);
        QFETCH(QString, failure);
        TapTestBed bed;
        QVERIFY(bed.plug() && bed.startTap(options));
        TapOpening opening = openTap(bed.hostInterface());
        QVERIFY(opening.tap);
        HeldTap &tap = *opening.tap;

        QList<int> percent;
        DeviceSettings settings;
        TapOutcome outcome;
        switch (action) {
        case Action::Write:
        case Action::Store:
            outcome = tapoperation::writeSettings(tap, settings, action == Action::Store);
            break;
        case Action::Read: outcome = tapoperation::readSettings(tap, &settings); break;
        case Action::Update:
            outcome = tapoperation::updateFirmware(
                tap, firmwareImage, firmwareImageLength,
                [&](const OperationProgress &p) { percent << p.percent; });
            break;
        }
        QCOMPARE(outcome.action, action);
        QCOMPARE(outcome.result, result);
        QCOMPARE(outcome.failure.text(), failure);
        // Of a store, the working copy took the settings; the stored one refused them.
        QCOMPARE(outcome.storedCopy, !failure.isEmpty() && action == Action::Store);
        if (action == Action::Update) {
            QVERIFY(std::is_sorted(percent.begin(), percent.end()));
            QCOMPARE(percent.first(), 0);
            QCOMPARE(percent.last(), 100);
        }
    }
};

QTEST_GUILESS_MAIN(TapOperationsTest)
#include "tst_tapoperations.moc"
