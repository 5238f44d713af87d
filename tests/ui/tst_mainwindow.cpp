// The window as the program builds it: title, status, images, validators; and the
// compiled-in images themselves.
#include <QLabel>
#include <QLineEdit>
#include <QResource>
#include <QTest>
#include <QValidator>

#include "MainWindow.h"
#include "MainWindowForm.h"
#include "NoTapAttached.h"
#include "ResourcePaths.h"

class TestMainWindow : public QObject
{
    Q_OBJECT

    static QLineEdit *field(QWidget *w, const QString &name) { return w->findChild<QLineEdit *>(name); }

    static QValidator::State validate(QLineEdit *e, QString text)
    {
        int pos = 0;
        return e->validator()->validate(text, pos);
    }

    static QImage argb(const QImage &image) { return image.convertToFormat(QImage::Format_ARGB32_Premultiplied); }

    static QStringList fieldNames(int first, int last)
    {
        QStringList names;
        for (int i = first; i <= last; ++i)
            names << (i == 1 ? QStringLiteral("lineEdit") : QStringLiteral("lineEdit_%1").arg(i));
        return names;
    }

private slots:
    void initTestCase() { SKIP_IF_A_TAP_IS_ATTACHED(); }

    void imagesAreCompiledInUncompressed_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QSize>("size");
        QTest::newRow("green light") << ResourcePaths::GreenLight << QSize(50, 50);
        QTest::newRow("red light") << ResourcePaths::RedLight << QSize(50, 50);
        QTest::newRow("logo") << ResourcePaths::Logo << QSize(175, 38);
        QTest::newRow("large logo") << ResourcePaths::LargeLogo << QSize(300, 66);
    }
    void imagesAreCompiledInUncompressed()
    {
        QFETCH(QString, path);
        QFETCH(QSize, size);
        const QResource resource(path);
        QVERIFY2(resource.isValid(), qPrintable(path));
        QCOMPARE(resource.compressionAlgorithm(), QResource::NoCompression);
        const QImage image(path);
        QCOMPARE(image.size(), size);
        QVERIFY(image.hasAlphaChannel());
    }

    void windowAfterConstruction()
    {
        MainWindow window;
        QCOMPARE(window.windowTitle(), QStringLiteral("Kalvessa 100 - " KALVESSA_VERSION));
        QCOMPARE(window.objectName(), QStringLiteral("MainWindow"));
        auto *status = window.findChild<QLabel *>(QStringLiteral("label_2"));
        QCOMPARE(status->text(), QStringLiteral("Kalvessa 100 not found"));

        const QImage red = argb(QImage(ResourcePaths::RedLight));
        auto *light = window.findChild<QLabel *>(QStringLiteral("label"));
        QCOMPARE(argb(light->pixmap().toImage()), red);
        QCOMPARE(argb(window.windowIcon().pixmap(50, 50).toImage()), red);

        auto *logo = window.findChild<QLabel *>(QStringLiteral("logo"));
        QCOMPARE(argb(logo->pixmap().toImage()), argb(QImage(ResourcePaths::Logo)));

        for (const char *name : {"label_4", "label_6", "label_8"})
            QCOMPARE(window.findChild<QLabel *>(QLatin1String(name))->text(), QStringLiteral("-"));
    }

    void validatorsAreSharedAndOwnedByTheWindow()
    {
        MainWindow window;
        const QValidator *hex = field(&window, QStringLiteral("lineEdit"))->validator();
        const QValidator *octet = field(&window, QStringLiteral("lineEdit_16"))->validator();
        QVERIFY(hex && octet && hex != octet);
        QCOMPARE(hex->parent(), &window);
        QCOMPARE(octet->parent(), &window);
        for (const QString &name : fieldNames(1, 15))
            QVERIFY2(field(&window, name)->validator() == hex, qPrintable(name));
        for (const QString &name : fieldNames(16, 23))
            QVERIFY2(field(&window, name)->validator() == octet, qPrintable(name));
    }

    void hexFieldsTakeTwoLowerCaseHexDigitsOrCommas()
    {
        MainWindow window;
        for (const QString &name : fieldNames(1, 15)) {
            QLineEdit *e = field(&window, name);
            QVERIFY2(validate(e, QStringLiteral("a0")) == QValidator::Acceptable, qPrintable(name));
            QVERIFY2(validate(e, QStringLiteral("A0")) == QValidator::Invalid, qPrintable(name));
            QVERIFY2(validate(e, QStringLiteral(",")) == QValidator::Acceptable, qPrintable(name));
            QVERIFY2(validate(e, QStringLiteral(",,")) == QValidator::Acceptable, qPrintable(name));
            QVERIFY2(validate(e, QStringLiteral("ff")) == QValidator::Acceptable, qPrintable(name));
            QVERIFY2(validate(e, QString()) == QValidator::Acceptable, qPrintable(name));
            QVERIFY2(validate(e, QStringLiteral("a0b")) == QValidator::Invalid, qPrintable(name));
            QVERIFY2(validate(e, QStringLiteral("g")) == QValidator::Invalid, qPrintable(name));
        }
        // typing goes through the same validator: refused keys leave no trace
        QLineEdit *first = field(&window, QStringLiteral("lineEdit"));
        QTest::keyClicks(first, QStringLiteral("A0b1"));
        QCOMPARE(first->text(), QStringLiteral("0b"));
    }

    void octetFieldsTakeZeroTo255()
    {
        MainWindow window;
        for (const QString &name : fieldNames(16, 23)) {
            QLineEdit *e = field(&window, name);
            QVERIFY2(validate(e, QStringLiteral("255")) == QValidator::Acceptable, qPrintable(name));
            QVERIFY2(validate(e, QStringLiteral("0")) == QValidator::Acceptable, qPrintable(name));
            QVERIFY2(validate(e, QStringLiteral("256")) != QValidator::Acceptable, qPrintable(name));
            QVERIFY2(validate(e, QStringLiteral("1000")) == QValidator::Invalid, qPrintable(name));
            QVERIFY2(validate(e, QStringLiteral("x")) == QValidator::Invalid, qPrintable(name));
        }
        QLineEdit *octet = field(&window, QStringLiteral("lineEdit_16"));
        QTest::keyClicks(octet, QStringLiteral("1921"));
        QCOMPARE(octet->text(), QStringLiteral("192"));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
