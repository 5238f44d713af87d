// The process as a whole: its exit status is the event loop's result, the window is up when
// the loop runs, and a start without a display says so in one sentence.
#include <QProcess>
#include <QTest>

#include "FirmwareImage.h"

class TestApplication : public QObject
{
    Q_OBJECT

    // Runs the program with `set` added to and `unset` removed from the environment.
    static bool run(QProcess &p, const QStringList &set, const QStringList &unset = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString &var : unset)
            env.remove(var);
        for (const QString &assignment : set)
            env.insert(assignment.section(QLatin1Char('='), 0, 0), assignment.section(QLatin1Char('='), 1));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(KALVESSA_EXITCODE_APP), {});
        return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit;  // no abort
    }

private slots:
    void exitStatusIsTheEventLoopResult()
    {
        for (int code : {0, 3}) {
            QProcess p;
            QVERIFY(run(p, {QStringLiteral("QT_QPA_PLATFORM=offscreen"), QStringLiteral("KALVESSA_TEST_EXIT_CODE=%1").arg(code)}));
            QCOMPARE(p.exitCode(), code);
            const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
            QVERIFY2(out.contains(QStringLiteral("window: Kalvessa 100 - " KALVESSA_VERSION)), qPrintable(out));
            // the stand-in note comes first, once
            QCOMPARE(out.startsWith(QStringLiteral("Note: ")), firmwareImageIsStandIn);
            QCOMPARE(out.count(QStringLiteral("stand-in firmware image")), firmwareImageIsStandIn ? 1 : 0);
        }
    }

    void noDisplayGivesOnePlainSentence()
    {
        QProcess p;
        QVERIFY(run(p, {}, {QStringLiteral("DISPLAY"), QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("QT_QPA_PLATFORM")}));
        QVERIFY(p.exitCode() != 0);
        const QString err = QString::fromLocal8Bit(p.readAllStandardError()).trimmed();
        QVERIFY2(err.contains(QStringLiteral("no display")) && err.contains(QStringLiteral("xvfb-run")), qPrintable(err));
        QCOMPARE(err.count(QLatin1Char('\n')), 0);
    }
};

QTEST_MAIN(TestApplication)
#include "tst_application.moc"
