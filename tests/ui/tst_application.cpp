// The process as a whole: its exit status is the event loop's result, and a start without a
// display says so in one sentence.
#include <QProcess>
#include <QTest>

#include "FirmwareImage.h"

class TestApplication : public QObject
{
    Q_OBJECT

    // Runs the program in this environment; true when it ended on its own, without a crash.
    static bool run(QProcess &p, const QProcessEnvironment &env)
    {
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(KALVESSA_EXITCODE_APP), {});
        return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit;
    }

private slots:
    void exitStatusIsTheEventLoopResultAndNoDisplayIsSaidPlainly()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        for (int code : {0, 3}) {
            env.insert(QStringLiteral("KALVESSA_TEST_EXIT_CODE"), QString::number(code));
            QProcess p;
            QVERIFY(run(p, env));
            QCOMPARE(p.exitCode(), code);
            // the stand-in note comes first, once
            const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
            QCOMPARE(out.startsWith(QStringLiteral("Note: ")), firmwareImageIsStandIn);
            QCOMPARE(out.count(QStringLiteral("stand-in firmware image")), firmwareImageIsStandIn ? 1 : 0);
        }

        for (const char *var : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QLatin1String(var));
        QProcess p;
        QVERIFY(run(p, env));
        QVERIFY(p.exitCode() != 0);
        const QString err = QString::fromLocal8Bit(p.readAllStandardError()).trimmed();
        QVERIFY2(err.contains(QStringLiteral("no display")) && err.contains(QStringLiteral("xvfb-run")), qPrintable(err));
        QCOMPARE(err.count(QLatin1Char('\n')), 0);
    }
};

QTEST_MAIN(TestApplication)
#include "tst_application.moc"
