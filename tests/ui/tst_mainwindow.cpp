// The window as the program builds it: title, status, images and the fields' validators.
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QValidator>

#include "MainWindow.h"
#include "MainWindowTestAccess.h"
#include "ResourcePaths.h"

class TestMainWindow : public QObject
{
    Q_OBJECT

    static QImage argb(const QPixmap &p) { return p.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied); }

private slots:
    void initTestCase() { SKIP_IF_A_TAP_IS_ATTACHED(); }

    void windowAfterConstruction()
    {
        MainWindow window;
        QCOMPARE(window.windowTitle(), QStringLiteral("Kalvessa 100 - " KALVESSA_VERSION));
        QCOMPARE(window.findChild<QLabel *>(QStringLiteral("label_2"))->text(), QStringLiteral("Kalvessa 100 not found"));
        const QImage red = argb(QPixmap(ResourcePaths::RedLight));
        QVERIFY(!red.isNull());
        QCOMPARE(argb(window.findChild<QLabel *>(QStringLiteral("label"))->pixmap()), red);
        QCOMPARE(argb(window.windowIcon().pixmap(50, 50)), red);
        const QImage logo = argb(QPixmap(ResourcePaths::Logo));
        QVERIFY(!logo.isNull());
        QCOMPARE(argb(window.findChild<QLabel *>(QStringLiteral("logo"))->pixmap()), logo);
    }

    void validators()
    {
        MainWindow window;
        const auto state = [](const QValidator *v, QString text) { int pos = 0; return v->validate(text, pos); };
        const QList<QPair<QString, QValidator::State>> hex{{"a0", QValidator::Acceptable}, {"A0", QValidator::Invalid},
            {",", QValidator::Acceptable}, {",,", QValidator::Acceptable}, {"a0b", QValidator::Invalid}};
        for (int i = 1; i <= 23; ++i) {
            const QString name = i == 1 ? QStringLiteral("lineEdit") : QStringLiteral("lineEdit_%1").arg(i);
            const QValidator *v = window.findChild<QLineEdit *>(name)->validator();
            QVERIFY2(v && v->parent() == &window, qPrintable(name));
            for (const auto &[text, expected] : hex)
                QVERIFY2(i > 15 || state(v, text) == expected, qPrintable(name + QLatin1Char(' ') + text));
            QVERIFY2(i <= 15 || state(v, QStringLiteral("255")) == QValidator::Acceptable, qPrintable(name));
            QVERIFY2(state(v, QStringLiteral("256")) != QValidator::Acceptable, qPrintable(name));
        }
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
