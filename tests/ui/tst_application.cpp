// The process as a whole: its exit status is the event loop's result, and a start without a
// display says so in one sentence.
#include <QProcess>
#include <QTest>

#include "FirmwareImage.h"
#include "KalvessaVersion.h"

class TestApplication : public QObject
{
    Q_OBJECT

    // Runs the program in this environment; true when it ended on its own, without a crash.
    static bool run(QProcess &p, const QProcessEnvironment &env, const QStringList &arguments = {})
    {
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(KALVESSA_EXITCODE_APP), arguments);
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
            QCOMPARE(out.count(QStringLiteral("stand-in firmware image")),
                     firmwareImageIsStandIn ? 1 : 0);
        }

        for (const char *var : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QLatin1String(var));
        QProcess p;
        QVERIFY(run(p, env));
        QVERIFY(p.exitCode() != 0);
        const QString err = QString::fromLocal8Bit(p.readAllStandardError()).trimmed();
        QVERIFY2(err.contains(QStringLiteral("no display"))
                     && err.contains(QStringLiteral("xvfb-run")),
                 qPrintable(err));
        QCOMPARE(err.count(QLatin1Char('\n')), 0);
    }

    // --help and --version answer without a display, among the toolkit's own options, which
    // are no error and are not read as bundles of one-letter options (-reverse holds a "v").
    void helpAndVersionNeedNoDisplay_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("firstLine");
        QTest::newRow("--version") << QStringList{QStringLiteral("--version")}
                                   << QStringLiteral("kalvessa100 " KALVESSA_VERSION);
        QTest::newRow("-reverse --help")
            << QStringList{QStringLiteral("-reverse"), QStringLiteral("--help")}
            << QStringLiteral("Usage: kalvessa100 [options]");
    }
    void helpAndVersionNeedNoDisplay()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, firstLine);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *var : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QLatin1String(var));
        QProcess p;
        QVERIFY(run(p, env, arguments));
        QCOMPARE(p.exitCode(), 0);
        const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
        QCOMPARE(out.section(QLatin1Char('\n'), 0, 0), firstLine);
        QCOMPARE(out.contains(QStringLiteral("stand-in")),
                 firmwareImageIsStandIn && firstLine.startsWith(QStringLiteral("kalvessa100")));
    }
};

QTEST_MAIN(TestApplication)
#include "tst_application.moc"
