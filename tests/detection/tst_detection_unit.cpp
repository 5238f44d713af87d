// Worker and tap-service behaviour that needs no tap and no network namespace: nothing here lets
// the worker run a tick or a device reach an interface, so no frame can reach a real interface
// of the machine running the tests.
#include <QDeadlineTimer>
#include <QSignalSpy>
#include <QTest>

#include <functional>

#include "Detection.h"
#include "InterfaceDiscovery.h"
#include "MV1Device_v3.h"
#include "MV1Device_v4.h"
#include "OperationProgress.h"

namespace {
using Stage = ProgressStage;
const ProgressPlan Plan{{Stage::Erase, 10}, {Stage::Pages, 89}, {Stage::Commit, 1}};
}  // namespace

class DetectionUnitTest : public QObject
{
    Q_OBJECT

private slots:
    void progressIsOneWeightedFigure_data()
    {
        QTest::addColumn<QList<int>>("steps");  // stage, done, total; ...
        QTest::addColumn<QList<int>>("percent");
        const int erase = int(Stage::Erase), pages = int(Stage::Pages), commit = int(Stage::Commit);
        QTest::newRow("stages fill their shares in turn")
            << QList<int>{erase, 0,   1,   erase,  1, 1, pages,  384, 768,
                          pages, 768, 768, commit, 0, 1, commit, 1,   1}
            << QList<int>{0, 10, 54, 99, 99, 100};
        // Truncated, so a run whose last step is missing never shows 100.
        QTest::newRow("truncated")
            << QList<int>{pages, 767, 768, commit, 0, 1} << QList<int>{98, 99};
        // An empty stage has no share to fill, and dividing by it would be undefined.
        QTest::newRow("no steps or steps beyond")
            << QList<int>{pages, 5, 0, pages, 1, -3, pages, 900, 768} << QList<int>{0, 0, 99};
        QTest::newRow("never falls")
            << QList<int>{pages, 768, 768, erase, 0, 1, pages, 1, 768} << QList<int>{99, 99, 99};
    }

    void progressIsOneWeightedFigure()
    {
        QFETCH(QList<int>, steps);
        QFETCH(QList<int>, percent);
        WeightedProgress progress(Plan);
        QList<int> shown;
        for (int i = 0; i + 2 < steps.size(); i += 3)
            shown << progress.advance(Stage(steps[i]), steps[i + 1], steps[i + 2]).percent;
        QCOMPARE(shown, percent);
    }

    // What a tap lacks is refused at once, with the reason; what it has is tried. The devices
    // have no interface, so anything tried fails to open a capture instead.
    void operationsATapLacksAreRefused_data()
    {
        QTest::addColumn<int>("generation");
        QTest::addColumn<int>("operation");
        QTest::addColumn<QString>("failure");
        const QString tried = QStringLiteral("cannot capture on the interface");
        QTest::newRow("4 reads") << 4 << 0 << tried;
        QTest::newRow("4 writes no pages")
            << 4 << 1 << QStringLiteral("generation 4 takes firmware through page programming");
        QTest::newRow("3 cannot read register")
            << 3 << 0 << QStringLiteral("register 0x70001, a generation-3 tap cannot be read back");
        QTest::newRow("3 cannot read settings")
            << 3 << 2 << QStringLiteral("register 0x70000, a generation-3 tap cannot be read back");
        QTest::newRow("3 has no commit")
            << 3 << 3 << QStringLiteral("a generation-3 tap has no commit step");
        QTest::newRow("3 writes pages") << 3 << 1 << tried;
    }

    void operationsATapLacksAreRefused()
    {
        QFETCH(int, generation);
        QFETCH(int, operation);
        QFETCH(QString, failure);
        std::unique_ptr<MV1Device> device;
        if (generation == 4)
            device = std::make_unique<MV1Device_v4>(nullptr);
        else
            device = std::make_unique<MV1Device_v3>(nullptr);
        uint8_t value = 0xA5;
        const uint8_t page[256] = {};
        DeviceSettings settings;
        const std::function<bool()> operations[] = {
            [&] { return device->readRegister(0x70001, &value, false); },
            [&] { return device->writeFirmwarePage(0, page); },
            [&] { return device->readSettings(settings, false); },
            [&] { return device->commitSettings(); },
        };
        QVERIFY(!operations[operation]());
        QVERIFY2(device->lastFailure().text().contains(failure),
                 qPrintable(device->lastFailure().text()));
        QCOMPARE(value, uint8_t(0xA5));
    }

    void stopBeforeStartTimesOutAndTheRunEndsAtOnce()
    {
        Detection worker;
        QSignalSpy changed(&worker, &Detection::MV1Changed);
        worker.requestRead();  // answered with a signal even without a tap, so a tick would show
        QTest::ignoreMessage(QtWarningMsg, "Detection thread timeout when stopping");
        worker.stop();
        worker.start();
        QVERIFY(worker.wait(QDeadlineTimer(5000)));
        QCOMPARE(changed.count(), 0);
    }

    void tapAddressIsRecognisedByItsWholePrefixOnly()
    {
        const uint8_t tap[] = {0x00, 0x0E, 0xC6, 1, 2, 3},
                      nextVendor[] = {0x00, 0x0E, 0xC7, 1, 2, 3},
                      firstByteOff[] = {0x01, 0x0E, 0xC6, 1, 2, 3};
        QVERIFY(isTapAddress(tap));
        QVERIFY(!isTapAddress(nextVendor) && !isTapAddress(firstByteOff) && !isTapAddress(nullptr));
    }
};

QTEST_GUILESS_MAIN(DetectionUnitTest)
#include "tst_detection_unit.moc"
