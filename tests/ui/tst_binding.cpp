// The binding between the form and a settings record, the status display for every state
// of the status panel, and what the buttons do, on a window whose worker sees no tap.
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMetaMethod>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include "DeviceSettings.h"
#include "FirmwareImage.h"
#include "MainWindow.h"
#include "MainWindowTestAccess.h"
#include "NoTapAttached.h"
#include "ResourcePaths.h"

namespace {

constexpr uint16_t KnownType = 0x220C;

// Answers the next modal question box with `choice`, keeping its text in `asked`.
void answerNextQuestion(QMessageBox::StandardButton choice, QString *asked)
{
    QTimer::singleShot(0, [asked, choice] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        *asked = box->text();
        box->button(choice)->click();
    });
}

QImage argb(const QImage &image)
{
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QString editName(int i)
{
    return i == 1 ? QStringLiteral("lineEdit") : QStringLiteral("lineEdit_%1").arg(i);
}

DeviceSettings firmware(uint16_t version, uint16_t type)
{
    DeviceSettings s;
    s.setFirmwareVersion(version);
    s.setFirmwareTypeCode(type);
    return s;
}

// A record using every field, with some bytes masked out that still hold values.
DeviceSettings richRecord()
{
    DeviceSettings s;
    s.setFilterMode(1, 1);
    s.setTimestampsEnabled(1);
    s.setCaptureCrcErrorFrames(0);
    s.setCaptureFcs(1);
    const uint8_t dst[6] = {0x00, 0x0a, 0xff, 0x10, 0x7e, 0x01};
    const uint8_t src[6] = {0xde, 0xad, 0xbe, 0xef, 0x00, 0x99};
    const uint8_t type[2] = {0x08, 0x00};
    const uint8_t sip[4] = {192, 168, 1, 0};
    const uint8_t dip[4] = {10, 0, 0, 255};
    s.setDstMac(dst);
    s.setDstMacMask(0x3F);
    s.setSrcMac(src);
    s.setSrcMacMask(0x29);  // bytes 0, 2, 5 compared
    s.setEtherType(type);
    s.setEtherTypeMask(0x02);
    s.setProtocol(0x11);
    s.setProtocolMask(0x01);
    s.setSrcIp(sip);
    s.setSrcIpMask(0x0F);
    s.setDstIp(dip);
    s.setDstIpMask(0x09);
    s.setFirmwareVersion(4);
    s.setFirmwareTypeCode(KnownType);
    return s;
}

// The record with masked-out bytes zeroed, as a read-back of the form must give it.
DeviceSettings comparedPart(const DeviceSettings &s)
{
    DeviceSettings out = s;
    uint8_t bytes[6], mask = 0;
    auto keep = [](uint8_t *b, int width, uint8_t m) {
        for (int i = 0; i < width; ++i)
            if (!(m & (1u << (width - 1 - i))))
                b[i] = 0;
    };
    s.dstMac(bytes); s.dstMacMask(&mask); keep(bytes, 6, mask); out.setDstMac(bytes);
    s.srcMac(bytes); s.srcMacMask(&mask); keep(bytes, 6, mask); out.setSrcMac(bytes);
    s.etherType(bytes); s.etherTypeMask(&mask); keep(bytes, 2, mask); out.setEtherType(bytes);
    s.protocol(bytes); s.protocolMask(&mask); keep(bytes, 1, mask); out.setProtocol(bytes[0]);
    s.srcIp(bytes); s.srcIpMask(&mask); keep(bytes, 4, mask); out.setSrcIp(bytes);
    s.dstIp(bytes); s.dstIpMask(&mask); keep(bytes, 4, mask); out.setDstIp(bytes);
    out.setControlByte(255);
    out.setFirmwareVersion(0);
    out.setFirmwareTypeCode(0);
    return out;
}

} // namespace

class TestBinding : public QObject
{
    Q_OBJECT

    MainWindow *w = nullptr;

    template <typename T = QWidget> T *get(const QString &name) const
    {
        T *widget = w->findChild<T *>(name);
        if (!widget)
            qFatal("no widget %s", qPrintable(name));
        return widget;
    }
    QLineEdit *edit(int i) const { return get<QLineEdit>(editName(i)); }
    QPushButton *button(const char *name) const { return get<QPushButton>(QLatin1String(name)); }
    QString text(const char *label) const { return get<QLabel>(QLatin1String(label))->text(); }

    DeviceSettings fromForm() const
    {
        DeviceSettings s;
        s.clear();
        w->settingsFromForm(s);
        return s;
    }

    QList<QWidget *> filterGroup() const
    {
        QList<QWidget *> group{get(QStringLiteral("radioButton")), get(QStringLiteral("radioButton_2"))};
        for (int i = 1; i <= 23; ++i)
            group << edit(i);
        return group;
    }

    QList<QWidget *> settingsWidgets() const
    {
        QList<QWidget *> all = filterGroup();
        for (const char *n : {"checkBox", "checkBox_2", "checkBox_3", "checkBox_4", "pushButton",
                              "pushButton_2", "pushButton_3"})
            all << get(QLatin1String(n));
        return all;
    }

private slots:
    void initTestCase() { SKIP_IF_A_TAP_IS_ATTACHED(); }

    void init()
    {
        w = new MainWindow;
    }
    void cleanup()
    {
        delete w;
        w = nullptr;
    }

    void slotsInTheirIndexOrder()
    {
        const QMetaObject *mo = w->metaObject();
        QCOMPARE(QLatin1String(mo->className()), QLatin1String("MainWindow"));
        QStringList slotSignatures;
        for (int i = mo->methodOffset(); i < mo->methodCount(); ++i)
            if (mo->method(i).methodType() == QMetaMethod::Slot)
                slotSignatures << QString::fromLatin1(mo->method(i).methodSignature());
        QCOMPARE(slotSignatures,
                 QStringList({"updateMV1Status()", "updateProgress(int)", "updateFinished()",
                              "updateFailed()", "on_pushButton_2_clicked()",
                              "on_checkBox_toggled(bool)", "on_pushButton_3_clicked()",
                              "on_pushButton_clicked()", "on_pushButton_4_clicked()"}));
    }

    // ---- form to record ----

    void allFieldsEmptyGivesNoComparedBytes()
    {
        get<QCheckBox>(QStringLiteral("checkBox_2"))->setChecked(true);
        const DeviceSettings s = fromForm();
        uint8_t mask = 0xAA, bytes[6];
        for (auto getter : {&DeviceSettings::dstMacMask, &DeviceSettings::srcMacMask,
                            &DeviceSettings::etherTypeMask, &DeviceSettings::protocolMask,
                            &DeviceSettings::srcIpMask, &DeviceSettings::dstIpMask}) {
            (s.*getter)(&mask);
            QCOMPARE(mask, uint8_t(0));
        }
        s.dstMac(bytes);
        QCOMPARE(QByteArray(reinterpret_cast<char *>(bytes), 6), QByteArray(6, '\0'));
        s.controlByte(&mask);
        QCOMPARE(mask, uint8_t(255));
        QCOMPARE(s.timestampsEnabled(), uint8_t(1));
        QCOMPARE(s.filterEnabled(), uint8_t(0));
        QCOMPARE(s.firmwareVersion(), uint16_t(0));
        QCOMPARE(s.firmwareTypeCode(), uint16_t(0));
    }

    void singleFieldsSetTheirOwnCareBit()
    {
        edit(1)->setText(QStringLiteral("a"));
        edit(6)->setText(QStringLiteral("0"));
        edit(13)->setText(QStringLiteral("12"));
        edit(15)->setText(QStringLiteral("ff"));
        edit(16)->setText(QStringLiteral("192"));
        edit(17)->setText(QStringLiteral("168"));
        edit(18)->setText(QStringLiteral("1"));
        edit(23)->setText(QStringLiteral("7"));
        const DeviceSettings s = fromForm();

        uint8_t b[6], mask;
        s.dstMac(b);
        s.dstMacMask(&mask);
        QCOMPARE(b[0], uint8_t(0x0A));
        QCOMPARE(b[5], uint8_t(0));
        QCOMPARE(mask, uint8_t(0x21));  // "a" in the first field, "0" (not empty) in the last

        s.etherType(b);
        s.etherTypeMask(&mask);
        QCOMPARE(b[0], uint8_t(0x12));
        QCOMPARE(b[1], uint8_t(0x00));
        QCOMPARE(mask, uint8_t(0x02));

        s.protocol(b);
        s.protocolMask(&mask);
        QCOMPARE(b[0], uint8_t(0xFF));
        QCOMPARE(mask, uint8_t(0x01));

        s.srcIp(b);
        s.srcIpMask(&mask);
        QCOMPARE(QList<int>({b[0], b[1], b[2], b[3]}), QList<int>({192, 168, 1, 0}));
        QCOMPARE(mask, uint8_t(0x0E));

        s.dstIp(b);
        s.dstIpMask(&mask);
        QCOMPARE(b[3], uint8_t(7));
        QCOMPARE(mask, uint8_t(0x01));

        s.srcMacMask(&mask);
        QCOMPARE(mask, uint8_t(0));
    }

    void textsThatAreNotNumbersOrTooLarge()
    {
        // What the validators let through but is not a number reads as a compared 0; a
        // number above 255 keeps its low 8 bits. Text set directly bypasses the validators.
        edit(7)->setText(QStringLiteral(","));
        edit(8)->setText(QStringLiteral(",,"));
        edit(20)->setText(QStringLiteral("300"));
        edit(21)->setText(QStringLiteral("x"));
        const DeviceSettings s = fromForm();
        uint8_t b[6], mask;
        s.srcMac(b);
        s.srcMacMask(&mask);
        QCOMPARE(b[0], uint8_t(0));
        QCOMPARE(b[1], uint8_t(0));
        QCOMPARE(mask, uint8_t(0x30));
        s.dstIp(b);
        s.dstIpMask(&mask);
        QCOMPARE(b[0], uint8_t(300 & 0xFF));
        QCOMPARE(b[1], uint8_t(0));
        QCOMPARE(mask, uint8_t(0x0C));
    }

    void flagsFromTheCheckBoxesAndRadios()
    {
        DeviceSettings s = fromForm();  // as built: nothing checked
        QCOMPARE(s.keepMatching(), uint8_t(0));
        QCOMPARE(s.filterEnabled(), uint8_t(0));
        QCOMPARE(s.captureCrcErrorFrames(), uint8_t(0));
        QCOMPARE(s.captureFcs(), uint8_t(0));

        get<QCheckBox>(QStringLiteral("checkBox"))->setChecked(true);
        get<QRadioButton>(QStringLiteral("radioButton"))->setChecked(true);
        get<QCheckBox>(QStringLiteral("checkBox_3"))->setChecked(true);
        get<QCheckBox>(QStringLiteral("checkBox_4"))->setChecked(true);
        s = fromForm();
        QCOMPARE(s.filterEnabled(), uint8_t(1));
        QCOMPARE(s.keepMatching(), uint8_t(1));
        QCOMPARE(s.captureCrcErrorFrames(), uint8_t(1));
        QCOMPARE(s.captureFcs(), uint8_t(1));

        get<QRadioButton>(QStringLiteral("radioButton_2"))->setChecked(true);
        QCOMPARE(fromForm().keepMatching(), uint8_t(0));
    }

    // ---- record to form and back ----

    void recordShownThenReadBackKeepsWhatIsCompared()
    {
        const DeviceSettings shown = richRecord();
        const MainWindow::HardwareAddress mac{0x00, 0x0E, 0xC6, 0xAB, 0xCD, 0xEF};
        w->showDevicePresent(shown, &mac);
        QCOMPARE(fromForm(), comparedPart(shown));

        // bytes shown as two lower-case digits, octets without leading zeros, masked-out empty
        QCOMPARE(edit(1)->text(), QStringLiteral("00"));
        QCOMPARE(edit(2)->text(), QStringLiteral("0a"));
        QCOMPARE(edit(3)->text(), QStringLiteral("ff"));
        QCOMPARE(edit(7)->text(), QStringLiteral("de"));
        QCOMPARE(edit(8)->text(), QString());  // masked out although the record holds 0xad
        QCOMPARE(edit(14)->text(), QString());
        QCOMPARE(edit(15)->text(), QStringLiteral("11"));
        QCOMPARE(edit(19)->text(), QStringLiteral("0"));
        QCOMPARE(edit(20)->text(), QStringLiteral("10"));
        QCOMPARE(edit(21)->text(), QString());
        QCOMPARE(edit(23)->text(), QStringLiteral("255"));
        QCOMPARE(text("label_4"), QStringLiteral("00:0e:c6:ab:cd:ef"));
    }

    void roundTripOfTheOppositeFlags()
    {
        DeviceSettings s;
        s.setFilterMode(0, 0);
        s.setCaptureCrcErrorFrames(1);
        s.setCaptureFcs(0);
        w->showDevicePresent(s, nullptr);
        QVERIFY(get<QRadioButton>(QStringLiteral("radioButton_2"))->isChecked());
        QVERIFY(!get<QRadioButton>(QStringLiteral("radioButton"))->isChecked());
        QCOMPARE(fromForm(), comparedPart(s));
        // the filter group follows the filter flag
        for (QWidget *widget : filterGroup())
            QVERIFY2(!widget->isEnabled(), qPrintable(widget->objectName()));
        QVERIFY(get(QStringLiteral("checkBox"))->isEnabled());
        QCOMPARE(text("label_4"), QStringLiteral("-"));  // no address delivered
    }

    // ---- firmware table ----

    void firmwareTable_data()
    {
        QTest::addColumn<int>("version");
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("typeShown");
        QTest::addColumn<QString>("versionShown");
        QTest::addColumn<bool>("updateEnabled");
        QTest::addColumn<QString>("updateText");
        QTest::addColumn<bool>("readEnabled");
        QTest::newRow("version 0") << 0 << int(KnownType) << "-" << "3.0" << true << "Update to 4.0" << false;
        QTest::newRow("other type") << 0x0004 << 0x1234 << "-" << "3.0" << true << "Update to 4.0" << true;
        QTest::newRow("4.0") << 0x0004 << int(KnownType) << "TF" << "4.0" << false
                             << "Firmware up-to-date\nVersion 4.0" << true;
    }
    void firmwareTable()
    {
        QFETCH(int, version);
        QFETCH(int, type);
        w->showDevicePresent(firmware(uint16_t(version), uint16_t(type)), nullptr);
        QTEST(text("label_6"), "typeShown");
        QTEST(text("label_8"), "versionShown");
        QTEST(button("pushButton_4")->isEnabled(), "updateEnabled");
        QTEST(button("pushButton_4")->text(), "updateText");
        QTEST(button("pushButton")->isEnabled(), "readEnabled");
        QVERIFY(button("pushButton_2")->isEnabled() && button("pushButton_3")->isEnabled());
        QCOMPARE(text("label_2"), QStringLiteral("Kalvessa 100 found"));
    }

    void anotherKnownReleaseLeavesTheUpdateButtonAsItWas()
    {
        // offered first, then 4.1 reported: still offered
        w->showDevicePresent(firmware(0, 0), nullptr);
        w->showDevicePresent(firmware(0x0104, KnownType), nullptr);
        QCOMPARE(text("label_6"), QStringLiteral("TF"));
        QCOMPARE(text("label_8"), QStringLiteral("4.1"));
        QVERIFY(button("pushButton_4")->isEnabled());
        QCOMPARE(button("pushButton_4")->text(), QStringLiteral("Update to 4.0"));

        // up to date first, then 4.1: still up to date
        w->showDevicePresent(firmware(0x0004, KnownType), nullptr);
        w->showDevicePresent(firmware(0x0104, KnownType), nullptr);
        QVERIFY(!button("pushButton_4")->isEnabled());
        QCOMPARE(button("pushButton_4")->text(), QStringLiteral("Firmware up-to-date\nVersion 4.0"));

        // digits wrap within a byte rather than run past it
        w->showDevicePresent(firmware(0xD2FF, KnownType), nullptr);
        QCOMPARE(text("label_8"), QString(QChar(0x2F)) + QLatin1Char('.') + QChar(0x02));
    }

    // ---- presence ----

    void presentThenAbsent()
    {
        w->showDevicePresent(richRecord(), nullptr);
        QCOMPARE(argb(get<QLabel>(QStringLiteral("label"))->pixmap().toImage()),
                 argb(QImage(ResourcePaths::GreenLight)));
        for (QWidget *widget : settingsWidgets())
            QVERIFY2(widget->isEnabled(), qPrintable(widget->objectName()));
        const QString shownText = edit(3)->text();

        w->showDeviceAbsent();
        QCOMPARE(text("label_2"), QStringLiteral("Kalvessa 100 not found"));
        for (const char *label : {"label_4", "label_6", "label_8"})
            QCOMPARE(text(label), QStringLiteral("-"));
        for (QWidget *widget : settingsWidgets())
            QVERIFY2(!widget->isEnabled(), qPrintable(widget->objectName()));
        QVERIFY(!button("pushButton_4")->isEnabled());
        QCOMPARE(button("pushButton_4")->text(), QString());
        QCOMPARE(edit(3)->text(), shownText);  // the texts stay, disabled
        QVERIFY(get<QCheckBox>(QStringLiteral("checkBox"))->isChecked());
        QCOMPARE(argb(get<QLabel>(QStringLiteral("label"))->pixmap().toImage()),
                 argb(QImage(ResourcePaths::RedLight)));
        QCOMPARE(argb(w->windowIcon().pixmap(50, 50).toImage()), argb(QImage(ResourcePaths::RedLight)));
    }

    void enableFilterSwitchesTheWholeGroupAtOnce()
    {
        w->showDevicePresent(DeviceSettings(), nullptr);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        for (QWidget *widget : filterGroup())
            QVERIFY(!widget->isEnabled());
        auto *box = get<QCheckBox>(QStringLiteral("checkBox"));
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
        QVERIFY(box->isChecked());
        for (QWidget *widget : filterGroup())
            QVERIFY2(widget->isEnabled(), qPrintable(widget->objectName()));
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
        for (QWidget *widget : filterGroup())
            QVERIFY2(!widget->isEnabled(), qPrintable(widget->objectName()));
        QVERIFY(get(QStringLiteral("checkBox_2"))->isEnabled());  // not part of the group
    }

    // ---- requests against a worker that holds no tap ----

    void applyIsBusyUntilTheWorkerAnswers()
    {
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        auto *bar = get<QProgressBar>(QStringLiteral("progressBar"));
        QTest::mouseClick(button("pushButton_2"), Qt::LeftButton);
        QCOMPARE(bar->maximum(), 0);
        for (const char *b : {"pushButton", "pushButton_2", "pushButton_3"})
            QVERIFY(!button(b)->isEnabled());
        // the worker carries the write out with no tap and reports a change
        QTRY_COMPARE_WITH_TIMEOUT(bar->maximum(), 100, 5000);
        QCOMPARE(text("label_2"), QStringLiteral("Kalvessa 100 not found"));
        for (const char *b : {"pushButton", "pushButton_2", "pushButton_3"})
            QVERIFY(!button(b)->isEnabled());
    }

    void updateWithoutATapFails()
    {
        w->showDevicePresent(firmware(0, 0), nullptr);  // offers the update
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        auto *bar = get<QProgressBar>(QStringLiteral("progressBar"));
        QTest::mouseClick(button("pushButton_4"), Qt::LeftButton);
        QVERIFY(!button("pushButton_4")->isEnabled());
        QCOMPARE(button("pushButton_4")->text(), QStringLiteral("Updating...\nDo not unplug the adapter"));
        QCOMPARE(bar->maximum(), 0);
        QVERIFY(w->firmwareUpdateRunning());
        QTRY_COMPARE_WITH_TIMEOUT(button("pushButton_4")->text(), QStringLiteral("Update failed\n"), 5000);
        QVERIFY(!w->firmwareUpdateRunning());
        QVERIFY(!button("pushButton_4")->isEnabled());
        QCOMPARE(bar->maximum(), 100);  // no longer shows activity
        for (const char *b : {"pushButton", "pushButton_2", "pushButton_3"})
            QVERIFY(!button(b)->isEnabled());
    }

    void progressTurnsTheBusyBarIntoPercent()
    {
        auto *bar = get<QProgressBar>(QStringLiteral("progressBar"));
        bar->setMaximum(0);
        w->updateProgress(37);
        QCOMPARE(bar->maximum(), 100);
        QCOMPARE(bar->value(), 37);
        w->updateFinished();
        QCOMPARE(button("pushButton_4")->text(), QStringLiteral("Update completed\nPlease reset the adapter"));
    }

    // ---- problems and closing ----

    void problemsAreShownOnceAndCleared()
    {
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        MainWindowTestAccess::showProblem(*w, QStringLiteral("Tap not reachable"));
        QCOMPARE(text("label_32"), QStringLiteral("Tap not reachable"));
        QTRY_COMPARE(w->findChildren<QMessageBox *>().size(), 1);
        MainWindowTestAccess::showProblem(*w, QStringLiteral("Tap not reachable"));
        QCOMPARE(w->findChildren<QMessageBox *>().size(), 1);  // not stacked up
        MainWindowTestAccess::showProblem(*w, QString());
        QCOMPARE(text("label_32"), QString());
        QTRY_COMPARE(w->findChildren<QMessageBox *>().size(), 0);
    }

    void standInImageIsFlashedOnlyAfterAsking()
    {
        if (!firmwareImageIsStandIn)
            QSKIP("this build carries the real firmware image");
        const QByteArray simulated = qgetenv("KALVESSA_SIMULATED_TAP");
        qunsetenv("KALVESSA_SIMULATED_TAP");  // as on a host with a real tap
        w->showDevicePresent(firmware(0, 0), nullptr);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));

        QString asked;
        answerNextQuestion(QMessageBox::No, &asked);
        QTest::mouseClick(button("pushButton_4"), Qt::LeftButton);
        QVERIFY2(asked.contains(QStringLiteral("unusable")), qPrintable(asked));
        QVERIFY(!w->firmwareUpdateRunning());
        QVERIFY(button("pushButton_4")->isEnabled());
        QCOMPARE(button("pushButton_4")->text(), QStringLiteral("Update to 4.0"));

        answerNextQuestion(QMessageBox::Yes, &asked);
        QTest::mouseClick(button("pushButton_4"), Qt::LeftButton);
        QVERIFY(w->firmwareUpdateRunning());
        qputenv("KALVESSA_SIMULATED_TAP", simulated);
        QTRY_VERIFY_WITH_TIMEOUT(!w->firmwareUpdateRunning(), 5000);  // no tap: fails at once
    }

    void closingAsksOnlyDuringAnUpdate()
    {
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        MainWindowTestAccess::setUpdating(*w, true);

        QString asked;
        auto answer = [&asked](QMessageBox::StandardButton choice) { answerNextQuestion(choice, &asked); };
        answer(QMessageBox::Cancel);
        QVERIFY(!w->close());
        QVERIFY(w->isVisible());
        QVERIFY2(asked.contains(QStringLiteral("unusable")), qPrintable(asked));

        answer(QMessageBox::Close);
        QVERIFY(w->close());

        asked.clear();
        w->show();
        MainWindowTestAccess::setUpdating(*w, false);
        QVERIFY(w->close());  // at once, nothing asked
        QVERIFY(asked.isEmpty());
    }
};

QTEST_MAIN(TestBinding)
#include "tst_binding.moc"
