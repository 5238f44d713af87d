// The window as the program builds it: title, status, images and the fields' validators.
#include <QTest>
#include <QValidator>

#include "KalvessaVersion.h"
#include "MainWindowTestAccess.h"

class TestMainWindow : public QObject, public MainWindowTestAccess
{
    Q_OBJECT

private slots:
    void initTestCase() { REQUIRE_TAP_TEST_BED(); }
    void init() { w = new MainWindow; }
    void cleanup() { delete w; }

    void windowAfterConstruction()
    {
        QCOMPARE(w->windowTitle(), QStringLiteral("Kalvessa 100 - " KALVESSA_VERSION));
        QCOMPARE(text("label_2"), QStringLiteral("Kalvessa 100 not found"));
        QVERIFY(!QPixmap(ResourcePaths::RedLight).isNull() && shows(ResourcePaths::RedLight));
        QCOMPARE(w->windowIcon().pixmap(50, 50).toImage(), QPixmap(ResourcePaths::RedLight).toImage());
        QCOMPARE(get<QLabel>("logo")->pixmap().toImage(), QPixmap(ResourcePaths::Logo).toImage());
        QVERIFY(!QPixmap(ResourcePaths::Logo).isNull());
    }

    void validators()
    {
        const auto state = [](const QValidator *v, QString text) { int pos = 0; return v->validate(text, pos); };
        const QList<QPair<QString, QValidator::State>> hex{{"a0", QValidator::Acceptable}, {"A0", QValidator::Invalid},
            {",", QValidator::Acceptable}, {",,", QValidator::Acceptable}, {"a0b", QValidator::Invalid}};
        for (int i = 1; i <= 23; ++i) {
            const QValidator *v = edit(i)->validator();
            const QString name = edit(i)->objectName();
            QVERIFY2(v && v->parent() == w, qPrintable(name));
            for (const auto &[text, expected] : hex)
                QVERIFY2(i > 15 || state(v, text) == expected, qPrintable(name + QLatin1Char(' ') + text));
            QVERIFY2(i <= 15 || state(v, QStringLiteral("255")) == QValidator::Acceptable, qPrintable(name));
            QVERIFY2(state(v, QStringLiteral("256")) != QValidator::Acceptable, qPrintable(name));
        }
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
