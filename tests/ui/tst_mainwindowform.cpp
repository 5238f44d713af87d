// What the form's file decides and people meet directly: the order Tab walks in and labels that read alike and can be reached from the keyboard.
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include "MainWindowForm.h"

namespace {

QString field(int i)
{
    return i == 1 ? QStringLiteral("lineEdit") : QStringLiteral("lineEdit_%1").arg(i);
}

}  // namespace

class TestMainWindowForm : public QObject
{
    Q_OBJECT

    QMainWindow *window = nullptr;
    MainWindowForm form;

private slots:
    void init() { form.setupForm(window = new QMainWindow); }
    void cleanup() { delete window; }

    void focusChainRunsFromTabWidgetToTheUpdateButton()
    {
        QStringList expected{QStringLiteral("tabWidget"), QStringLiteral("checkBox")};
        for (int i = 1; i <= 23; ++i)
            expected << field(i);
        expected << QStringLiteral("radioButton radioButton_2 checkBox_2 checkBox_3 checkBox_4 "
                                   "pushButton pushButton_2 "
                                   "pushButton_3 pushButton_4")
                        .split(QLatin1Char(' '));
        QStringList seen;
        QWidget *w = form.tabWidget;
        do {
            if (expected.contains(w->objectName()) && !seen.contains(w->objectName()))
                seen << w->objectName();
        } while ((w = w->nextInFocusChain()) != form.tabWidget);
        QCOMPARE(seen, expected);
    }

    // Every row label of the filter ends in " :", and the actions and tabs each have a
    // mnemonic of their own.
    void labelsReadAlikeAndMnemonicsAreUnique()
    {
        for (int i = 10; i <= 15; ++i) {
            const QString text =
                window->findChild<QLabel *>(QStringLiteral("label_%1").arg(i))->text();
            QVERIFY2(text.endsWith(QStringLiteral(" :")), qPrintable(text));
        }
        QStringList texts{form.pushButton->text(), form.pushButton_2->text(),
                          form.pushButton_3->text()};
        for (int i = 0; i < form.tabWidget->count(); ++i)
            texts << form.tabWidget->tabText(i);
        QSet<QChar> keys;
        for (const QString &text : texts) {
            const qsizetype amp = text.indexOf(QLatin1Char('&'));
            QVERIFY2(amp >= 0 && amp + 1 < text.size(), qPrintable(text));
            keys.insert(text.at(amp + 1).toLower());
        }
        QCOMPARE(keys.size(), texts.size());
    }
};

QTEST_MAIN(TestMainWindowForm)
#include "tst_mainwindowform.moc"
