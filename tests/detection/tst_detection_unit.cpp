// Worker behaviour that needs no tap and no network namespace: nothing here lets the worker
// run a tick, so no frame can reach a real interface of the machine running the tests.
#include <QDeadlineTimer>
#include <QSignalSpy>
#include <QTest>

#include "Detection.h"
#include "InterfaceDiscovery.h"
#include "StdoutCapture.h"

class DetectionUnitTest : public QObject
{
    Q_OBJECT

private slots:
    void progressIsTruncatedAndEmptyStagesAreNotReported()
    {
        Detection worker;
        QList<int> percent;
        connect(&worker, &Detection::MV1UpdateProgress, this, [&](int p) { percent << p; });
        // Truncated, never rounded; a stage of no steps has no percentage (and dividing by
        // it would be undefined), so it gives no signal at all.
        const int steps[][2] = {{384, 768}, {1, 3},     {0, 0},  {2, 3},
                                {5, 0},     {768, 768}, {1, -3}, {0, 768}};
        for (const auto &[p, m] : steps)
            worker.UpdateProgressChanged(p, m);
        QCOMPARE(percent, (QList<int>{50, 33, 66, 100, 0}));
    }

    void stopBeforeStartTimesOutAndTheRunEndsAtOnce()
    {
        Detection worker;
        QSignalSpy changed(&worker, &Detection::MV1Changed);
        worker.requestRead();  // answered with a signal even without a tap, so a tick would show
        StdoutCapture output;
        worker.stop();
        QCOMPARE(output.text(), QByteArray("Detection thread timeout when stopping\n"));
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
