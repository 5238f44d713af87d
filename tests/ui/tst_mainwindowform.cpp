// What the form's file decides and people meet directly: the order Tab walks in and labels that
// read alike and can be reached from the keyboard; and the form bound to the settings record.
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include "MainWindowForm.h"
#include "SettingsForm.h"

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

    // Empty fields are wildcards and "0" is not; a byte the record does not compare is shown
    // empty whatever it holds there, and the status words stay as the caller had them.
    void settingsToRecordAndBack()
    {
        SettingsForm bound(form, window);
        const auto edit = [this](int i) { return window->findChild<QLineEdit *>(field(i)); };
        DeviceSettings expected;  // a fresh form: nothing compared, every flag off
        expected.setFirmwareVersion(4);
        expected.setCaptureCrcErrorFrames(0);
        expected.setCaptureFcs(0);
        expected.setControlByte(255);
        DeviceSettings s = expected;
        s.setControlByte(0);
        bound.settingsFromForm(s);
        QVERIFY(s == expected);

        // a hex digit alone, "0", half the EtherType, three octets of four; filter on and keep,
        // CRC-error frames but no FCS
        for (auto [i, typed] :
             {std::pair{1, "a"}, {6, "0"}, {13, "12"}, {16, "192"}, {17, "168"}, {18, "1"}})
            edit(i)->setText(QLatin1String(typed));
        form.checkBox->setChecked(true);
        form.radioButton->setChecked(true);
        form.checkBox_3->setChecked(true);
        const uint8_t mac[6] = {0x0A, 0, 0, 0, 0, 0}, type[2] = {0x12, 0x00},
                      ip[4] = {192, 168, 1, 0};
        expected.setDstMac(mac);
        expected.setDstMacMask(0x21);
        expected.setEtherType(type);
        expected.setEtherTypeMask(0x02);
        expected.setSrcIp(ip);
        expected.setSrcIpMask(0x0E);
        expected.setFilterMode(1, 1);
        expected.setCaptureCrcErrorFrames(1);
        bound.settingsFromForm(s);
        QVERIFY(s == expected);

        DeviceSettings held = expected;
        const uint8_t ignored[6] = {0xde, 0xad, 0xbe, 0xef, 0, 0x99};
        held.setSrcMac(ignored);
        for (int i = 1; i <= 23; ++i)
            edit(i)->clear();
        bound.fill(held);
        bound.settingsFromForm(s);
        QVERIFY(s == expected);
        QCOMPARE(edit(1)->text() + edit(7)->text() + edit(16)->text(), QStringLiteral("0a192"));
        QVERIFY(!bound.edited());
    }
};

QTEST_MAIN(TestMainWindowForm)
#include "tst_mainwindowform.moc"
