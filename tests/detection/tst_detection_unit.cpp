// Worker behaviour that needs no tap and no network namespace: nothing here lets the worker
// run a tick, so no frame can reach a real interface of the machine running the tests.
#include <QDeadlineTimer>
#include <QMetaMethod>
#include <QSignalSpy>
#include <QTest>

#include "Detection.h"
#include "InterfaceDiscovery.h"
#include "StdoutCapture.h"

class DetectionUnitTest : public QObject
{
    Q_OBJECT

private slots:
    void progressIsTruncatedPercentage_data();
    void progressIsTruncatedPercentage();
    void signalsAndSlotKeepTheirIndices();
    void stopBeforeStartTimesOutAndTheRunEndsAtOnce();
    void tapAddressIsRecognisedByItsPrefixOnly();
};

void DetectionUnitTest::progressIsTruncatedPercentage_data()
{
    QTest::addColumn<int>("p");
    QTest::addColumn<int>("m");
    QTest::addColumn<int>("percent");  // -1: no signal at all
    QTest::newRow("half") << 384 << 768 << 50;
    QTest::newRow("a third truncates") << 1 << 3 << 33;
    QTest::newRow("two thirds truncate, not round") << 2 << 3 << 66;
    QTest::newRow("all") << 768 << 768 << 100;
    QTest::newRow("nothing yet") << 0 << 768 << 0;
    // A stage of no steps has no percentage; dividing by it would be undefined.
    QTest::newRow("empty stage") << 0 << 0 << -1;
    QTest::newRow("empty stage, steps done") << 5 << 0 << -1;
    QTest::newRow("negative stage") << 1 << -3 << -1;
}

void DetectionUnitTest::progressIsTruncatedPercentage()
{
    QFETCH(int, p);
    QFETCH(int, m);
    QFETCH(int, percent);
    Detection worker;
    QSignalSpy progress(&worker, &Detection::MV1UpdateProgress);
    worker.UpdateProgressChanged(p, m);
    QCOMPARE(progress.count(), percent < 0 ? 0 : 1);
    if (percent >= 0)
        QCOMPARE(progress.at(0).at(0).toInt(), percent);
}

void DetectionUnitTest::signalsAndSlotKeepTheirIndices()
{
    // The window and older builds connect by index order; an extra signal would shift the slot.
    const QMetaObject &meta = Detection::staticMetaObject;
    const QByteArray expected[] = {"MV1Changed()", "MV1UpdateProgress(int)", "MV1FinishedUpdate()",
                                   "MV1FailedUpdate()", "UpdateProgressChanged(int,int)"};
    QCOMPARE(meta.methodCount() - meta.methodOffset(), 5);
    for (int i = 0; i < 5; ++i) {
        const QMetaMethod method = meta.method(meta.methodOffset() + i);
        QCOMPARE(method.methodSignature(), expected[i]);
        QCOMPARE(method.methodType(), i < 4 ? QMetaMethod::Signal : QMetaMethod::Slot);
    }
}

void DetectionUnitTest::stopBeforeStartTimesOutAndTheRunEndsAtOnce()
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

void DetectionUnitTest::tapAddressIsRecognisedByItsPrefixOnly()
{
    const uint8_t addresses[][6] = {{0x00, 0x0E, 0xC6, 0xAB, 0xCD, 0xEF},
                                    {0x00, 0x0E, 0xC6, 0x00, 0x00, 0x00},
                                    {0x00, 0x0E, 0xC7, 0xAB, 0xCD, 0xEF},
                                    {0x01, 0x0E, 0xC6, 0xAB, 0xCD, 0xEF},
                                    {0xAB, 0xCD, 0xEF, 0x00, 0x0E, 0xC6}};
    const bool isTap[] = {true, true, false, false, false};
    for (int i = 0; i < 5; ++i)
        QCOMPARE(isTapAddress(addresses[i]), isTap[i]);
    QVERIFY(!isTapAddress(nullptr));
}

QTEST_GUILESS_MAIN(DetectionUnitTest)
#include "tst_detection_unit.moc"
