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
    void progressOfAnEmptyStageIsNotReported();
    void signalsAndSlotKeepTheirIndices();
    void stopBeforeStartTimesOutAndTheRunEndsAtOnce();
    void tapAddressIsRecognisedByItsPrefixOnly();
};

void DetectionUnitTest::progressIsTruncatedPercentage_data()
{
    QTest::addColumn<int>("p");
    QTest::addColumn<int>("m");
    QTest::addColumn<int>("percent");
    QTest::newRow("half of the pages") << 384 << 768 << 50;
    QTest::newRow("a third truncates down") << 1 << 3 << 33;
    QTest::newRow("two thirds truncate down, not round") << 2 << 3 << 66;
    QTest::newRow("all pages") << 768 << 768 << 100;
    QTest::newRow("nothing yet") << 0 << 768 << 0;
    QTest::newRow("generation-3 page count") << 766 << 767 << 99;
    QTest::newRow("first generation-3 page") << 1 << 767 << 0;
}

void DetectionUnitTest::progressIsTruncatedPercentage()
{
    QFETCH(int, p);
    QFETCH(int, m);
    QFETCH(int, percent);
    Detection worker;
    QSignalSpy progress(&worker, &Detection::MV1UpdateProgress);
    worker.UpdateProgressChanged(p, m);
    QCOMPARE(progress.count(), 1);
    QCOMPARE(progress.at(0).at(0).toInt(), percent);
}

void DetectionUnitTest::progressOfAnEmptyStageIsNotReported()
{
    // Dividing by a stage of no steps would give no meaningful (and an undefined) number.
    Detection worker;
    QSignalSpy progress(&worker, &Detection::MV1UpdateProgress);
    worker.UpdateProgressChanged(0, 0);
    worker.UpdateProgressChanged(5, 0);
    worker.UpdateProgressChanged(1, -3);
    QCOMPARE(progress.count(), 0);
}

void DetectionUnitTest::signalsAndSlotKeepTheirIndices()
{
    // The window and older builds connect by index order; an extra signal would shift the slot.
    const QMetaObject *meta = &Detection::staticMetaObject;
    const int first = meta->methodOffset();
    QCOMPARE(meta->methodCount() - first, 5);
    const QByteArray expected[] = {"MV1Changed()", "MV1UpdateProgress(int)", "MV1FinishedUpdate()",
                                   "MV1FailedUpdate()", "UpdateProgressChanged(int,int)"};
    for (int i = 0; i < 5; ++i)
        QCOMPARE(meta->method(first + i).methodSignature(), expected[i]);
    for (int i = 0; i < 4; ++i)
        QCOMPARE(meta->method(first + i).methodType(), QMetaMethod::Signal);
    QCOMPARE(meta->method(first + 4).methodType(), QMetaMethod::Slot);
    QCOMPARE(meta->method(first + 4).access(), QMetaMethod::Public);
}

void DetectionUnitTest::stopBeforeStartTimesOutAndTheRunEndsAtOnce()
{
    Detection worker;
    QSignalSpy changed(&worker, &Detection::MV1Changed);
    // A read request with no tap still signals once carried out, so a tick would show.
    worker.requestRead();

    StdoutCapture output;
    worker.stop();
    QCOMPARE(output.text(), QByteArray("Detection thread timeout when stopping\n"));

    worker.start();
    QVERIFY(worker.wait(QDeadlineTimer(5000)));
    QCOMPARE(changed.count(), 0);
}

void DetectionUnitTest::tapAddressIsRecognisedByItsPrefixOnly()
{
    const uint8_t tap[6] = {0x00, 0x0E, 0xC6, 0xAB, 0xCD, 0xEF};
    const uint8_t tapOtherTail[6] = {0x00, 0x0E, 0xC6, 0x00, 0x00, 0x00};
    const uint8_t nextVendor[6] = {0x00, 0x0E, 0xC7, 0xAB, 0xCD, 0xEF};
    const uint8_t firstByteOff[6] = {0x01, 0x0E, 0xC6, 0xAB, 0xCD, 0xEF};
    const uint8_t loopback[6] = {};
    const uint8_t suffixMatch[6] = {0xAB, 0xCD, 0xEF, 0x00, 0x0E, 0xC6};
    QVERIFY(isTapAddress(tap));
    QVERIFY(isTapAddress(tapOtherTail));
    QVERIFY(!isTapAddress(nextVendor));
    QVERIFY(!isTapAddress(firstByteOff));
    QVERIFY(!isTapAddress(loopback));
    QVERIFY(!isTapAddress(suffixMatch));
    QVERIFY(!isTapAddress(nullptr));
}

QTEST_GUILESS_MAIN(DetectionUnitTest)
#include "tst_detection_unit.moc"
