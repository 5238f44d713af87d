// The process as a whole: its exit status is the event loop's result, the window is up
// when the loop runs, the images are registered, and a headless start says so plainly.
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

#include "FirmwareImage.h"

class TestApplication : public QObject
{
    Q_OBJECT

    static QString app() { return QStringLiteral(KALVESSA_EXITCODE_APP); }

private slots:
    void exitStatusIsTheEventLoopResult_data()
    {
        QTest::addColumn<int>("code");
        QTest::newRow("0") << 0;
        QTest::newRow("3") << 3;
        QTest::newRow("42") << 42;
    }
    void exitStatusIsTheEventLoopResult()
    {
        QFETCH(int, code);
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("KALVESSA_TEST_EXIT_CODE"), QString::number(code));
        p.setProcessEnvironment(env);
        p.start(app(), {});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), code);

        const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
        QVERIFY2(out.contains(QStringLiteral("window: Kalvessa 100 - " KALVESSA_VERSION)), qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("images: yes")), qPrintable(out));
        const bool noted = out.contains(QStringLiteral("stand-in firmware image"));
        QCOMPARE(noted, firmwareImageIsStandIn);
        if (noted)  // first, and only once
            QVERIFY(out.startsWith(QStringLiteral("Note: ")) && out.count(QStringLiteral("stand-in")) == 1);
    }

    void noDisplayGivesOnePlainSentence()
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *var : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QLatin1String(var));
        p.setProcessEnvironment(env);
        p.start(app(), {});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);  // no abort, no core dump
        QVERIFY(p.exitCode() != 0);
        const QString err = QString::fromLocal8Bit(p.readAllStandardError()).trimmed();
        QVERIFY2(err.contains(QStringLiteral("no display")) && err.contains(QStringLiteral("xvfb-run")),
                 qPrintable(err));
        QCOMPARE(err.count(QLatin1Char('\n')), 0);
    }
};

QTEST_MAIN(TestApplication)
#include "tst_application.moc"
