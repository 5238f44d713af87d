// The form as a settings record and back, the status panel, and what the buttons do, on a
// window whose worker sees no tap.
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include "FirmwareImage.h"
#include "MainWindowTestAccess.h"

namespace {

// Answers the next modal question with `choice` and keeps its text in `asked`.
void answerNextQuestion(QMessageBox::StandardButton choice, QString *asked)
{
    QTimer::singleShot(0, [asked, choice] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            *asked = box->text();
            box->button(choice)->click();
        }
    });
}

} // namespace

class TestBinding : public QObject, public MainWindowTestAccess
{
    Q_OBJECT

    bool actionsEnabled() const
    {
        return get("pushButton")->isEnabled() || get("pushButton_2")->isEnabled() || get("pushButton_3")->isEnabled();
    }
    DeviceSettings fromForm() const
    {
        DeviceSettings s;
        w->settingsFromForm(s);
        return s;
    }
    QList<QWidget *> filterGroup() const
    {
        QList<QWidget *> group{get("radioButton"), get("radioButton_2")};
        for (int i = 1; i <= 23; ++i)
            group << edit(i);
        return group;
    }

private slots:
    void initTestCase() { REQUIRE_TAP_TEST_BED(); }
    void init() { w = new MainWindow; }
    void cleanup() { delete w; }

    void formToRecordAndBack()
    {
        DeviceSettings expected;  // empty fields: nothing compared, every flag off
        expected.setCaptureCrcErrorFrames(0);
        expected.setCaptureFcs(0);
        expected.setControlByte(255);
        QVERIFY(fromForm() == expected);

        // a hex digit alone, "0" (not empty), half the EtherType, three octets of four;
        // filter on with neither radio checked, CRC-error frames but no FCS
        for (auto [i, typed] : {std::pair{1, "a"}, {6, "0"}, {13, "12"}, {16, "192"}, {17, "168"}, {18, "1"}})
            edit(i)->setText(QLatin1String(typed));
        get<QAbstractButton>("checkBox")->setChecked(true);
        get<QAbstractButton>("checkBox_3")->setChecked(true);
        const uint8_t mac[6] = {0x0A, 0, 0, 0, 0, 0}, type[2] = {0x12, 0x00}, ip[4] = {192, 168, 1, 0};
        expected.setDstMac(mac); expected.setDstMacMask(0x21);
        expected.setEtherType(type); expected.setEtherTypeMask(0x02);
        expected.setSrcIp(ip); expected.setSrcIpMask(0x0E);
        expected.setFilterMode(1, 0);
        expected.setCaptureCrcErrorFrames(1);
        QVERIFY(fromForm() == expected);

        // shown on a cleared form, with values in bytes that are not compared, then read back
        const uint8_t held[6] = {0xde, 0xad, 0xbe, 0xef, 0, 0x99};
        DeviceSettings shown = expected;
        shown.setSrcMac(held);
        w->showDevicePresent(DeviceSettings(), nullptr);
        w->showDevicePresent(shown, nullptr);
        QVERIFY(fromForm() == expected);
        QCOMPARE(edit(1)->text() + edit(7)->text() + edit(16)->text(), QStringLiteral("0a192"));
        QVERIFY(get<QAbstractButton>("checkBox_3")->isChecked() && !get<QAbstractButton>("checkBox_4")->isChecked());
    }

    // What the status panel shows: type and version | update button | whether Read is offered.
    void firmwareTable_data()
    {
        QTest::addColumn<int>("version");
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("shown");
        QTest::newRow("version 0") << 0 << 0x220C << "- 3.0 | on Update to 4.0 | no read";
        QTest::newRow("other type") << 4 << 0x1234 << "- 3.0 | on Update to 4.0 | read";
        QTest::newRow("4.0") << 4 << 0x220C << "TF 4.0 | off Firmware up-to-date\nVersion 4.0 | read";
        QTest::newRow("4.1, button as it was") << 0x0104 << 0x220C << "TF 4.1 | off  | read";
    }
    void firmwareTable()
    {
        QFETCH(int, version);
        QFETCH(int, type);
        DeviceSettings s;
        s.setFirmwareVersion(uint16_t(version));
        s.setFirmwareTypeCode(uint16_t(type));
        w->showDevicePresent(s, nullptr);
        QTEST(QStringLiteral("%1 %2 | %3 %4 | %5").arg(text("label_6"), text("label_8"),
                  update()->isEnabled() ? "on" : "off", update()->text(), get("pushButton")->isEnabled() ? "read" : "no read"),
              "shown");
        QCOMPARE(text("label_2"), QStringLiteral("Kalvessa 100 found"));
        QVERIFY(get("pushButton_2")->isEnabled() && get("pushButton_3")->isEnabled() && shows(ResourcePaths::GreenLight));
    }

    void enableFilterSwitchesTheWholeGroupAtOnce()
    {
        w->showDevicePresent(DeviceSettings(), nullptr);
        for (bool on : {true, false, true}) {
            get<QAbstractButton>("checkBox")->click();
            for (QWidget *widget : filterGroup())
                QVERIFY2(widget->isEnabled() == on, qPrintable(widget->objectName()));
        }
        // without a tap: no values, red, everything disabled but keeping its text
        edit(3)->setText(QStringLiteral("ab"));
        w->showDeviceAbsent();
        QCOMPARE(QStringList({text("label_2"), text("label_4"), text("label_6"), text("label_8"), update()->text()}),
                 QStringList({"Kalvessa 100 not found", "-", "-", "-", ""}));
        QVERIFY(shows(ResourcePaths::RedLight) && !actionsEnabled() && !update()->isEnabled());
        const QList<QWidget *> disabled = filterGroup() << get("checkBox");
        for (QWidget *widget : disabled)
            QVERIFY2(!widget->isEnabled(), qPrintable(widget->objectName()));
        QCOMPARE(edit(3)->text(), QStringLiteral("ab"));
    }

    void applyIsBusyUntilTheWorkerAnswers()
    {
        get<QPushButton>("pushButton_2")->click();
        QVERIFY(bar()->maximum() == 0 && !actionsEnabled());
        QTRY_COMPARE(bar()->maximum(), 100);  // the worker found no tap to write to
        QVERIFY(!actionsEnabled());
    }

    void updateWithoutATapFails()
    {
        w->showDevicePresent(DeviceSettings(), nullptr);  // version 0: the update is offered
        update()->click();
        QCOMPARE(update()->text(), QStringLiteral("Updating...\nDo not unplug the adapter"));
        QVERIFY(w->firmwareUpdateRunning() && !update()->isEnabled() && !actionsEnabled());
        QTRY_COMPARE(update()->text(), QStringLiteral("Update failed\n"));
        QVERIFY(!w->firmwareUpdateRunning() && !update()->isEnabled() && bar()->maximum() == 100);
    }

    void standInImageIsFlashedOnlyAfterAsking()
    {
        if (!firmwareImageIsStandIn)
            QSKIP("this build carries the real firmware image");
        const QByteArray simulated = qgetenv("KALVESSA_SIMULATED_TAP");
        qunsetenv("KALVESSA_SIMULATED_TAP");  // as on a host with a real tap
        w->showDevicePresent(DeviceSettings(), nullptr);  // version 0: the update is offered
        QString asked;
        for (auto answer : {QMessageBox::No, QMessageBox::Yes}) {
            answerNextQuestion(answer, &asked);
            update()->click();
            QVERIFY2(asked.contains(QStringLiteral("unusable")), qPrintable(asked));
            QCOMPARE(w->firmwareUpdateRunning(), answer == QMessageBox::Yes);
        }
        qputenv("KALVESSA_SIMULATED_TAP", simulated);
        QTRY_VERIFY(!w->firmwareUpdateRunning());
    }

    void closingAsksOnlyDuringAnUpdate()
    {
        w->show();
        setUpdating(true);
        QString asked;
        for (auto answer : {QMessageBox::Cancel, QMessageBox::Close}) {
            answerNextQuestion(answer, &asked);
            QCOMPARE(w->close(), answer == QMessageBox::Close);
            QVERIFY2(asked.contains(QStringLiteral("unusable")), qPrintable(asked));
        }
        w->show();
        setUpdating(false);
        asked.clear();
        QVERIFY(w->close() && asked.isEmpty());
    }

    void problemsAreShownOnceAndCleared()
    {
        w->show();
        showProblem(QStringLiteral("Tap not reachable"));
        QTRY_COMPARE(w->findChildren<QMessageBox *>().size(), 1);
        const QMessageBox *box = w->findChild<QMessageBox *>();
        showProblem(QStringLiteral("Tap not reachable"));  // still so: not said again
        QCOMPARE(w->findChildren<QMessageBox *>(), QList<QMessageBox *>({const_cast<QMessageBox *>(box)}));
        QCOMPARE(text("label_32"), QStringLiteral("Tap not reachable"));
        showProblem(QString());
        QCOMPARE(text("label_32"), QString());
        QTRY_COMPARE(w->findChildren<QMessageBox *>().size(), 0);
    }
};

QTEST_MAIN(TestBinding)
#include "tst_binding.moc"
