// The whole window against the simulated tap in a private network namespace: clicking the
// real widgets, and checking both what the window shows and what reached the tap.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <memory>

#include "FrameLayout.h"
#include "MainWindow.h"
#include "ResourcePaths.h"
#include "SettingsRegisterMap.h"
#include "TapTestBed.h"

namespace {

// Finding a tap takes a tick or two; a silent generation-3 tap costs three probe runs.
constexpr int FoundTimeoutMs = 15000;
constexpr int SilentFoundTimeoutMs = 30000;
constexpr int RequestTimeoutMs = 8000;
constexpr int UpdateTimeoutMs = 120000;

const QString Host = QStringLiteral("kvtap0");
const QString NotATapMac = QStringLiteral("02:00:00:00:00:01");

bool ip(const QStringList &arguments)
{
    return QProcess::execute(QStringLiteral("ip"), arguments) == 0;
}

QImage argb(const QImage &image)
{
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

uint8_t opcodeOf(const TapFrame &frame)
{
    return frame.bytes.size() > frame::OpcodeOffset ? uint8_t(frame.bytes.at(frame::OpcodeOffset)) : 0;
}

int firstWith(const QList<TapFrame> &frames, uint8_t code)
{
    for (int i = 0; i < frames.size(); ++i)
        if (opcodeOf(frames.at(i)) == code)
            return i;
    return -1;
}

uint8_t at(const QByteArray &sector, int address)
{
    return uint8_t(sector.at(address - reg::SettingsSector));
}

// What the test types, field by field (1 = lineEdit ... 23 = lineEdit_23); empty = wildcard.
const char *const Typed[23] = {
    "00", "e", "c6", "", "", "ff",          // destination MAC
    "", "", "", "", "", "",                 // source MAC: all wildcards
    "08", "",                               // EtherType, low byte left open
    "11",                                   // protocol
    "192", "168", "1", "",                  // source IPv4
    "10", "", "", "9",                      // destination IPv4
};
const int TypedBytes[23] = {0x00, 0x0e, 0xc6, 0, 0, 0xff, 0, 0, 0, 0, 0, 0, 0x08, 0, 0x11,
                            192, 168, 1, 0, 10, 0, 0, 9};

} // namespace

class TestWindowTap : public QObject
{
    Q_OBJECT

    std::unique_ptr<TapTestBed> bed;
    std::unique_ptr<MainWindow> w;

    template <typename T = QWidget> T *get(const QString &name) const
    {
        T *widget = w->findChild<T *>(name);
        if (!widget)
            qFatal("no widget %s", qPrintable(name));
        return widget;
    }
    QLineEdit *edit(int i) const
    {
        return get<QLineEdit>(i == 1 ? QStringLiteral("lineEdit") : QStringLiteral("lineEdit_%1").arg(i));
    }
    QPushButton *button(const char *name) const { return get<QPushButton>(QLatin1String(name)); }
    QString text(const char *label) const { return get<QLabel>(QLatin1String(label))->text(); }
    QProgressBar *bar() const { return get<QProgressBar>(QStringLiteral("progressBar")); }

    void openWindow()
    {
        w = std::make_unique<MainWindow>();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    }

    // A tap answering with the options, then the window that finds it.
    void windowWithTap(const QStringList &options)
    {
        QVERIFY(bed->plug());
        QVERIFY(bed->startTap(options));
        openWindow();
        QTRY_COMPARE_WITH_TIMEOUT(text("label_2"), QStringLiteral("Kalvessa 100 found"), FoundTimeoutMs);
    }

    void click(QAbstractButton *b)
    {
        QVERIFY2(b->isEnabled(), qPrintable(b->objectName()));
        QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(4, b->height() / 2));
    }

    // Busy from the click until the worker's answer has been shown.
    void clickAndWaitForAnswer(const char *name)
    {
        click(button(name));
        QCOMPARE(bar()->maximum(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(bar()->maximum(), 100, RequestTimeoutMs);
    }

    // Clicks the box when it is not already as wanted (a fresh tap reports every bit set).
    void setChecked(const char *name, bool wanted)
    {
        auto *box = get<QAbstractButton>(QLatin1String(name));
        if (box->isChecked() != wanted)
            click(box);
        QCOMPARE(box->isChecked(), wanted);
    }

    void showTab(int index) { w->findChild<QWidget *>(QStringLiteral("tabWidget"))->setProperty("currentIndex", index); }

    void typeSettings()
    {
        setChecked("checkBox", true);
        for (int i = 1; i <= 23; ++i) {
            edit(i)->selectAll();
            QTest::keyClick(edit(i), Qt::Key_Backspace);
            QTest::keyClicks(edit(i), QLatin1String(Typed[i - 1]));
        }
        setChecked("radioButton", true);
        showTab(1);
        setChecked("checkBox_2", true);
        showTab(2);
        setChecked("checkBox_3", false);
        setChecked("checkBox_4", true);
        showTab(0);
    }

    // The settings sector holds exactly what typeSettings() entered.
    // Filter on, keep, timestamps, no CRC-error frames, FCS captured: one flags byte and the
    // control byte on generation 4, four whole-byte flags on generation 3.
    void verifySector(const QByteArray &sector, int generation = 4)
    {
        QCOMPARE(sector.size(), 0x10000);
        if (generation == 4) {
            QCOMPARE(at(sector, reg::Flags), uint8_t(0x01 | 0x02 | 0x04 | 0x10));
            QCOMPARE(at(sector, reg::Control), uint8_t(0xFF));
        } else {
            QCOMPARE(at(sector, reg::V3DropCrc), uint8_t(0xFF));
            QCOMPARE(at(sector, reg::V3StripFcs), uint8_t(0x00));
            QCOMPARE(at(sector, reg::V3NoTimestamps), uint8_t(0x00));
            QCOMPARE(at(sector, reg::V3FilterMode), uint8_t(0xF0));
        }
        uint32_t careWord = 0;
        for (int k = 0; k < 23; ++k) {
            QVERIFY2(at(sector, reg::MatchBytes + k) == TypedBytes[k], qPrintable(QString::number(k)));
            if (*Typed[k])
                careWord |= 1u << (22 - k);
        }
        const uint32_t stored = (uint32_t(at(sector, reg::CareMask)) << 16)
            | (uint32_t(at(sector, reg::CareMask + 1)) << 8) | at(sector, reg::CareMask + 2);
        QCOMPARE(stored, careWord);
    }

    void verifyFormShowsTyped()
    {
        for (int i = 1; i <= 23; ++i) {
            // what was typed, in the display form (two hex digits, octets as numbers)
            QString expected = QLatin1String(Typed[i - 1]);
            if (!expected.isEmpty() && i <= 15)
                expected = QStringLiteral("%1").arg(TypedBytes[i - 1], 2, 16, QLatin1Char('0'));
            QVERIFY2(edit(i)->text() == expected, qPrintable(QStringLiteral("field %1: %2").arg(i).arg(edit(i)->text())));
        }
        QVERIFY(get<QCheckBox>(QStringLiteral("checkBox"))->isChecked());
        QVERIFY(get<QRadioButton>(QStringLiteral("radioButton"))->isChecked());
        QVERIFY(get<QCheckBox>(QStringLiteral("checkBox_2"))->isChecked());
        QVERIFY(!get<QCheckBox>(QStringLiteral("checkBox_3"))->isChecked());
        QVERIFY(get<QCheckBox>(QStringLiteral("checkBox_4"))->isChecked());
    }

private slots:
    void initTestCase()
    {
        REQUIRE_TAP_TEST_BED();
        bed = std::make_unique<TapTestBed>(Host);
    }

    void cleanup()
    {
        w.reset();
        if (bed) {
            bed->stopTap();
            bed->unplug();
        } else {
            bed = std::make_unique<TapTestBed>(Host);
        }
    }

    void notFoundThenFoundThenUnplugged()
    {
        openWindow();
        QCOMPARE(text("label_2"), QStringLiteral("Kalvessa 100 not found"));
        QCOMPARE(argb(get<QLabel>(QStringLiteral("label"))->pixmap().toImage()), argb(QImage(ResourcePaths::RedLight)));

        // The tap appears with the simulator already answering: it is given the maker's
        // address (in capitals, as ip(8) accepts) only once the simulator captures.
        TapTestBed late(Host, NotATapMac);
        bed.reset();
        QVERIFY(late.plug());
        QVERIFY(late.startTap({}));
        QVERIFY(ip({"link", "set", Host, "address", "00:0E:C6:AB:CD:EF"}));
        QTRY_COMPARE_WITH_TIMEOUT(text("label_2"), QStringLiteral("Kalvessa 100 found"), FoundTimeoutMs);
        QCOMPARE(text("label_4"), QStringLiteral("00:0e:c6:ab:cd:ef"));
        QCOMPARE(argb(get<QLabel>(QStringLiteral("label"))->pixmap().toImage()), argb(QImage(ResourcePaths::GreenLight)));
        QCOMPARE(argb(w->windowIcon().pixmap(50, 50).toImage()), argb(QImage(ResourcePaths::GreenLight)));
        QCOMPARE(text("label_6"), QStringLiteral("TF"));
        QCOMPARE(text("label_8"), QStringLiteral("4.0"));

        // something typed stays visible, disabled, when the tap goes
        setChecked("checkBox", true);
        edit(2)->clear();
        QTest::keyClicks(edit(2), QStringLiteral("ab"));
        late.stopTap();
        QVERIFY(late.unplug());
        QTRY_COMPARE_WITH_TIMEOUT(text("label_2"), QStringLiteral("Kalvessa 100 not found"), FoundTimeoutMs);
        for (const char *label : {"label_4", "label_6", "label_8"})
            QCOMPARE(text(label), QStringLiteral("-"));
        QCOMPARE(argb(get<QLabel>(QStringLiteral("label"))->pixmap().toImage()), argb(QImage(ResourcePaths::RedLight)));
        QCOMPARE(edit(2)->text(), QStringLiteral("ab"));
        for (int i = 1; i <= 23; ++i)
            QVERIFY(!edit(i)->isEnabled());
        for (const char *b : {"pushButton", "pushButton_2", "pushButton_3", "pushButton_4"})
            QVERIFY(!button(b)->isEnabled());
    }

    void firmwareDisplays_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("offered");
        QTest::addColumn<QString>("updateText");
        QTest::addColumn<bool>("readable");
        QTest::newRow("version 0") << QStringList{"--firmware-version", "0"} << "-" << "3.0" << true
                                   << "Update to 4.0" << false;
        QTest::newRow("other type") << QStringList{"--firmware-type", "1234"} << "-" << "3.0" << true
                                    << "Update to 4.0" << true;
        QTest::newRow("4.0") << QStringList{} << "TF" << "4.0" << false
                             << "Firmware up-to-date\nVersion 4.0" << true;
        // 4.1 leaves the update button as the window had it: disabled and blank from the start
        QTest::newRow("4.1") << QStringList{"--firmware-version", "4.1"} << "TF" << "4.1" << false
                             << "" << true;
    }
    void firmwareDisplays()
    {
        QFETCH(QStringList, options);
        windowWithTap(options);
        QTEST(text("label_6"), "type");
        QTEST(text("label_8"), "version");
        QTEST(button("pushButton_4")->isEnabled(), "offered");
        QTEST(button("pushButton_4")->text(), "updateText");
        QTEST(button("pushButton")->isEnabled(), "readable");
        QVERIFY(button("pushButton_2")->isEnabled() && button("pushButton_3")->isEnabled());
    }

    void applyReachesTheTapAndReadBringsItBack()
    {
        windowWithTap({});
        const QByteArray storedBefore = bed->settingsSector(true);
        typeSettings();
        clickAndWaitForAnswer("pushButton_2");
        verifySector(bed->settingsSector(false));
        QCOMPARE(bed->settingsSector(true), storedBefore);  // Apply does not store
        for (const char *b : {"pushButton", "pushButton_2", "pushButton_3"})
            QVERIFY(button(b)->isEnabled());
        verifyFormShowsTyped();

        // Spoil the form, then read: it comes back from the tap's registers.
        edit(1)->clear();
        QTest::keyClicks(edit(1), QStringLiteral("77"));
        edit(12)->clear();
        QTest::keyClicks(edit(12), QStringLiteral("1"));
        bed->clearFrames();
        clickAndWaitForAnswer("pushButton");
        QVERIFY(firstWith(bed->frames(), opcode::ReadRegister) >= 0);
        verifyFormShowsTyped();
    }

    void flashOnGeneration4StoresAndCommits()
    {
        windowWithTap({});
        typeSettings();
        bed->clearFrames();
        clickAndWaitForAnswer("pushButton_3");
        verifySector(bed->settingsSector(false));
        verifySector(bed->settingsSector(true));
        const QList<TapFrame> frames = bed->frames();
        const int persistentWrite = firstWith(frames, opcode::WriteRegisterPersistent);
        QVERIFY(persistentWrite >= 0);
        QVERIFY(firstWith(frames, opcode::CommitSettings) > persistentWrite);
    }

    void flashOnGeneration3ErasesFirst()
    {
        QVERIFY(bed->plug());
        QVERIFY(bed->startTap({"--generation", "3"}));
        openWindow();
        QTRY_COMPARE_WITH_TIMEOUT(text("label_2"), QStringLiteral("Kalvessa 100 found"), SilentFoundTimeoutMs);
        QCOMPARE(text("label_8"), QStringLiteral("3.0"));
        QVERIFY(button("pushButton_4")->isEnabled());
        QVERIFY(!button("pushButton")->isEnabled());  // nothing to read back from generation 3
        typeSettings();
        bed->clearFrames();
        clickAndWaitForAnswer("pushButton_3");
        const QList<TapFrame> frames = bed->frames();
        const int erase = firstWith(frames, opcode::V3EraseSector);
        QVERIFY(erase >= 0);
        QVERIFY(firstWith(frames, opcode::WriteRegisterPersistent) > erase);
        verifySector(bed->settingsSector(true), 3);
    }

    void firmwareUpdateRunsToCompletion()
    {
        windowWithTap({"--firmware-version", "0"});
        QList<int> seen;
        connect(bar(), &QProgressBar::valueChanged, this, [&seen](int v) { seen << v; });
        click(button("pushButton_4"));
        QCOMPARE(button("pushButton_4")->text(), QStringLiteral("Updating...\nDo not unplug the adapter"));
        QVERIFY(!button("pushButton_4")->isEnabled());
        QVERIFY(w->firmwareUpdateRunning());
        QTRY_COMPARE_WITH_TIMEOUT(button("pushButton_4")->text(),
                                  QStringLiteral("Update completed\nPlease reset the adapter"), UpdateTimeoutMs);
        QCOMPARE(bar()->maximum(), 100);
        QCOMPARE(bar()->value(), 100);
        QVERIFY(seen.size() > 2);  // a percentage bar, not a jump from busy to done
        QVERIFY(!button("pushButton_4")->isEnabled());
        for (const char *b : {"pushButton", "pushButton_2", "pushButton_3"})
            QVERIFY(!button(b)->isEnabled());
        QVERIFY(!w->firmwareUpdateRunning());
    }

    void refusedFirmwareUpdateFails()
    {
        windowWithTap({"--firmware-version", "0", "--refuse-page", "3:1000"});
        click(button("pushButton_4"));
        QTRY_COMPARE_WITH_TIMEOUT(button("pushButton_4")->text(), QStringLiteral("Update failed\n"), UpdateTimeoutMs);
        QVERIFY(!button("pushButton_4")->isEnabled());
        QCOMPARE(bar()->maximum(), 100);
        QVERIFY(!w->firmwareUpdateRunning());
    }

    void closingDuringAnUpdateAsksFirst()
    {
        windowWithTap({"--firmware-version", "0", "--delay-ms", "5"});
        click(button("pushButton_4"));
        QString asked;
        QTimer::singleShot(0, this, [&asked] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                asked = box->text();
                box->button(QMessageBox::Cancel)->click();
            }
        });
        QVERIFY(!w->close());
        QVERIFY(asked.contains(QStringLiteral("unusable")));
        QVERIFY(w->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!w->firmwareUpdateRunning(), UpdateTimeoutMs);
        QVERIFY(w->close());  // nothing running any more: closes at once
    }

    void tapThatCannotBeCapturedIsReportedNotFound()
    {
        QVERIFY(bed->plug());
        QVERIFY(bed->startTap({}));
        QVERIFY(ip({"link", "set", Host, "down"}));
        openWindow();
        QTRY_COMPARE_WITH_TIMEOUT(text("label_32"), QStringLiteral("Tap not reachable"), FoundTimeoutMs);
        QCOMPARE(text("label_2"), QStringLiteral("Kalvessa 100 not found"));
        QCOMPARE(argb(get<QLabel>(QStringLiteral("label"))->pixmap().toImage()), argb(QImage(ResourcePaths::RedLight)));
        QTRY_COMPARE(w->findChildren<QMessageBox *>().size(), 1);
        const QString details = w->findChildren<QMessageBox *>().first()->text();
        QVERIFY2(details.contains(Host) && details.contains(QStringLiteral("not up"))
                     && details.contains(QStringLiteral("Capture privilege")),
                 qPrintable(details));

        QVERIFY(ip({"link", "set", Host, "up"}));
        QTRY_COMPARE_WITH_TIMEOUT(text("label_2"), QStringLiteral("Kalvessa 100 found"), FoundTimeoutMs);
        QCOMPARE(text("label_32"), QString());
        QTRY_COMPARE(w->findChildren<QMessageBox *>().size(), 0);
    }

    void settingsTheTapRefusesAreNotShownAsApplied()
    {
        windowWithTap({"--wrong-code", "80:01"});
        typeSettings();
        clickAndWaitForAnswer("pushButton_3");
        QCOMPARE(text("label_32"), QStringLiteral("Settings not acknowledged"));
        QTRY_COMPARE(w->findChildren<QMessageBox *>().size(), 1);
        // the form shows what the tap holds, not what was typed: the stored copy was refused
        // but the working copy took the settings
        QCOMPARE(edit(1)->text(), QStringLiteral("00"));

        // refused again after the message was dismissed: said again
        w->findChildren<QMessageBox *>().first()->close();
        QTRY_COMPARE(w->findChildren<QMessageBox *>().size(), 0);
        clickAndWaitForAnswer("pushButton_3");
        QTRY_COMPARE(w->findChildren<QMessageBox *>().size(), 1);

        // a later successful Apply clears the message
        clickAndWaitForAnswer("pushButton_2");
        QCOMPARE(text("label_32"), QString());
    }
};

QTEST_MAIN(TestWindowTap)
#include "tst_window_tap.moc"
