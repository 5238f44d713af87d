// The whole window against the simulated tap, in-process and on a veth pair in a private
// network namespace: clicking the real widgets, and checking both what the window shows and
// what reached the tap.
#include <QMessageBox>
#include <QTest>

#include <csignal>
#include <memory>

#include "MainWindowTestAccess.h"
#include "TapBed.h"
#include "TapWire.h"

namespace {

// Finding a tap takes a tick or two; a silent generation-3 tap costs three probe runs.
constexpr int FoundMs = 30000;
constexpr int UpdateMs = 120000;
const QString Host = QStringLiteral("kvtap0");

// What is typed into lineEdit ... lineEdit_23, as the form shows it again; empty: not compared.
const char *const Typed[23] = {"00", "0e", "c6", "",    "",    "ff", "", "",   "", "", "", "",
                               "08", "",   "11", "192", "168", "1",  "", "10", "", "", "9"};

// Filter on, keep, timestamps, no CRC-error frames, FCS; a fresh tap reports every flag set.
const std::pair<const char *, bool> Flags[] = {{"checkBox", true},
                                               {"radioButton", true},
                                               {"checkBox_2", true},
                                               {"checkBox_3", false},
                                               {"checkBox_4", true}};

// The opcodes of the requests the tap received since the frames were last cleared.
QList<int> opcodes(TapBed &bed)
{
    QList<int> out;
    for (const wire::Access &a : wire::accessesOf(bed.frames()))
        out << a.opcode;
    return out;
}

}  // namespace

class TestWindowTap
    : public QObject
    , public MainWindowTestAccess
{
    Q_OBJECT

    std::unique_ptr<TapBed> bed;

    // A tap answering with these options, then the window that finds it (unless its link is down).
    void openWindow(const QStringList &options, bool linkDown = false)
    {
        QVERIFY(bed->plug() && bed->startTap(options) && (!linkDown || bed->setUp(false)));
        w = new MainWindow;
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        if (!linkDown)
            QTRY_COMPARE_WITH_TIMEOUT(text("label_2"), QStringLiteral("Kalvessa 100 found"),
                                      FoundMs);
    }

    // Busy from the click until the worker's answer has been shown.
    void clickAndWaitForAnswer(const char *name)
    {
        get<QPushButton>(name)->click();
        QCOMPARE(bar()->maximum(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(bar()->maximum(), 100, 8000);
    }

    void typeSettings()
    {
        for (auto [box, wanted] : Flags)
            if (get<QAbstractButton>(box)->isChecked() != wanted)
                get<QAbstractButton>(box)->click();
        for (int i = 1; i <= 23; ++i) {
            edit(i)->clear();
            QTest::keyClicks(edit(i), QLatin1String(Typed[i - 1]));
        }
    }

    void verifyFormShowsTyped()
    {
        for (int i = 1; i <= 23; ++i)
            QCOMPARE(edit(i)->text(), QLatin1String(Typed[i - 1]));
        for (auto [box, wanted] : Flags)
            QVERIFY2(get<QAbstractButton>(box)->isChecked() == wanted, box);
    }

    // The settings sector holds exactly what typeSettings() entered: one flags byte and the
    // control byte on generation 4, four whole-byte flags on generation 3.
    void verifySector(const QByteArray &sector, int generation = 4)
    {
        QCOMPARE(sector.size(), 0x10000);
        const auto at = [&sector](int offset) { return int(uint8_t(sector.at(offset))); };
        if (generation == 4)
            QCOMPARE(QList<int>({at(0), at(1)}), QList<int>({0x17, 0xFF}));
        else
            QCOMPARE(QList<int>({at(2), at(3), at(4), at(5)}),
                     QList<int>({0xFF, 0x00, 0x00, 0xF0}));
        int care = 0;
        for (int k = 0; k < 23; ++k) {
            QVERIFY2(at(0x200 + k)
                         == QString::fromLatin1(Typed[k]).toInt(nullptr, k < 15 ? 16 : 10),
                     qPrintable(QString::number(k)));
            care |= *Typed[k] ? 1 << (22 - k) : 0;
        }
        QCOMPARE((at(7) << 16) | (at(8) << 8) | at(9), care);
    }

    void verifyNotFound()
    {
        QCOMPARE(text("label_2"), QStringLiteral("Kalvessa 100 not found"));
        QCOMPARE(text("label_4") + text("label_6") + text("label_8"), QStringLiteral("---"));
        QVERIFY(shows(ResourcePaths::RedLight));
    }

private slots:
    void initTestCase()
    {
        REQUIRE_TAP_BED();
        bed = TapBed::make(Host, QStringLiteral("00:0E:C6:AB:CD:EF"));
    }

    void cleanup()
    {
        delete std::exchange(w, nullptr);
        bed->stopTap();
        bed->unplug();
    }

    // Unreachable, found, Apply, Read, Flash and unplugged, on one generation-4 tap.
    void throughTheWholeLifeOfATap()
    {
        openWindow({}, true);
        QTRY_COMPARE_WITH_TIMEOUT(text("label_32"), QStringLiteral("Tap not reachable"), FoundMs);
        verifyNotFound();
        // A link that is down wants bringing up, not the capture privilege.
        QTRY_COMPARE(w->findChildren<QMessageBox *>().size(), 1);
        const QString details = w->findChild<QMessageBox *>()->text();
        QVERIFY2(details.contains(QStringLiteral("kvtap0 is down: `ip link set dev kvtap0 up`"))
                     && !details.contains(QStringLiteral("setcap")),
                 qPrintable(details));

        QVERIFY(bed->setUp(true));
        QTRY_COMPARE_WITH_TIMEOUT(text("label_2"), QStringLiteral("Kalvessa 100 found"), FoundMs);
        QCOMPARE(text("label_32"), QString());
        QTRY_COMPARE(w->findChildren<QMessageBox *>().size(), 0);
        QCOMPARE(text("label_4"), QStringLiteral("00:0e:c6:ab:cd:ef"));
        QVERIFY(shows(ResourcePaths::GreenLight));

        const QByteArray storedBefore = bed->settingsSector(true);
        typeSettings();
        clickAndWaitForAnswer("pushButton_2");
        verifySector(bed->settingsSector(false));
        QCOMPARE(bed->settingsSector(true), storedBefore);  // Apply does not store
        verifyFormShowsTyped();

        edit(1)->setText(QStringLiteral("77"));  // spoilt, then read back from the tap
        get<QAbstractButton>("checkBox_3")->click();
        QString asked;
        answerNextQuestion(QMessageBox::Discard, &asked);
        clickAndWaitForAnswer("pushButton");
        QVERIFY(!asked.isEmpty());
        verifyFormShowsTyped();

        bed->clearFrames();
        clickAndWaitForAnswer("pushButton_3");
        verifySector(bed->settingsSector(true));
        const QList<int> flash = opcodes(*bed);  // persistent writes, then the commit
        QVERIFY(flash.indexOf(0x80) >= 0 && flash.indexOf(0x8F) > flash.indexOf(0x80));

        bed->stopTap();
        QVERIFY(bed->unplug());
        QTRY_COMPARE_WITH_TIMEOUT(text("label_2"), QStringLiteral("Kalvessa 100 not found"),
                                  FoundMs);
        verifyNotFound();
        QCOMPARE(edit(1)->text(), QStringLiteral("00"));  // the texts stay, disabled
        for (int i = 1; i <= 23; ++i)
            QVERIFY(!edit(i)->isEnabled());
    }

    void flashOnGeneration3ErasesFirst()
    {
        openWindow({"--generation", "3"});
        typeSettings();
        bed->clearFrames();
        clickAndWaitForAnswer("pushButton_3");
        const QList<int> flash = opcodes(*bed);
        QVERIFY(flash.indexOf(0xEE) >= 0 && flash.indexOf(0x80) > flash.indexOf(0xEE));
        verifySector(bed->settingsSector(true), 3);
    }

    // A termination signal in the middle of an update lets it finish, then ends the program.
    void signalDuringAnUpdateWaitsForItsEnd()
    {
        openWindow({"--firmware-version", "0", "--delay-ms", "3"});
        update()->click();
        QTRY_VERIFY_WITH_TIMEOUT(bar()->maximum() == 100 && bar()->value() >= 10, UpdateMs);
        std::raise(SIGTERM);
        QTRY_VERIFY(text("label_32").contains(QStringLiteral("The program ends afterwards.")));
        QVERIFY(w->isVisible() && w->firmwareUpdateRunning());
        QTRY_VERIFY_WITH_TIMEOUT(!w->isVisible(), UpdateMs);
        QCOMPARE(update()->text(), QStringLiteral("Update completed\nPlease reset the adapter"));
        QSet<int> pages;
        bool ended = false;
        for (const wire::Access &a : wire::accessesOf(bed->frames())) {
            if (a.opcode == 0xB1)
                pages.insert(a.address);
            ended = ended || a.opcode == 0xB2;
        }
        QCOMPARE(pages.size(), 768);
        QVERIFY(ended);
    }

    void settingsTheTapRefusesAreSaidEachTime()
    {
        openWindow({"--wrong-code", "80:ff"});
        for (int attempt = 0; attempt < 2; ++attempt) {
            clickAndWaitForAnswer("pushButton_3");
            QVERIFY2(text("label_32")
                         .startsWith(QStringLiteral("Settings not acknowledged: register 0x")),
                     qPrintable(text("label_32")));
            QTRY_COMPARE(w->findChildren<QMessageBox *>().size(), 1);
            w->findChild<QMessageBox *>()->close();
            QTRY_COMPARE(w->findChildren<QMessageBox *>().size(), 0);
        }
        clickAndWaitForAnswer("pushButton_2");  // an acknowledged Apply clears it
        QCOMPARE(text("label_32"), QString());
    }
};

QTEST_MAIN(TestWindowTap)
#include "tst_window_tap.moc"
