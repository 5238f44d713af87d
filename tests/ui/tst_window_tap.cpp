// The whole window against the simulated tap, in-process and on a veth pair in a private
// network namespace: clicking the real widgets, and checking both what the window shows and
// what reached the tap.
#include <QMessageBox>
#include <QTest>

#include <csignal>
#include <memory>

#include "Detection.h"
#include "FirmwareImage.h"
#include "MainWindowTestAccess.h"
#include "TapBed.h"
#include "TapWire.h"
#include "UpdateEndings.h"

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

    // The bold line and the line of the last action, as people read them together.
    QString saying() { return text("label_32") + QStringLiteral(" | ") + text("feedbackLine"); }

    bool actionsOn()
    {
        return get<QPushButton>("pushButton")->isEnabled()
            || get<QPushButton>("pushButton_2")->isEnabled()
            || get<QPushButton>("pushButton_3")->isEnabled();
    }

    // Clicks "Update to 4.0" and waits for the last page.
    void updateAndAwaitLastPage()
    {
        QVERIFY2(update()->isEnabled() && update()->text() == QStringLiteral("Update to 4.0"),
                 qPrintable(update()->text()));
        update()->click();
        QTRY_COMPARE_WITH_TIMEOUT(text("label_32"),
                                  QStringLiteral("Unplug and replug the tap to start the new "
                                                 "firmware"),
                                  UpdateMs);
    }

    // Unplugged and plugged in again, as far as the window can tell: its link down, then up.
    void replug()
    {
        QVERIFY(bed->setUp(false));
        QTRY_VERIFY_WITH_TIMEOUT(text("label_2") != QStringLiteral("Kalvessa 100 found"), FoundMs);
        QVERIFY(bed->setUp(true));
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
        const QList<int> flash =
            wire::opcodesOf(bed->frames());  // persistent writes, then the commit
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
        const QList<int> flash = wire::opcodesOf(bed->frames());
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
        QCOMPARE(update()->text(), QStringLiteral("Update sent\nUnplug and replug the tap"));
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

    // The window's half of the shared table: what it says once the tap is back (or while it is
    // not), Read, Apply and Flash off until then, and the update offered again only to a tap
    // that came back without the new firmware. While it waits for the restart, closing the
    // window ends the wait without a question: nothing is being written any more.
    void updateEndsAsTheTapAnswers_data() { updateEndingRows(&TapBed::runsRow); }
    void updateEndsAsTheTapAnswers()
    {
        QFETCH(int, row);
        const UpdateEnding &ending = updateEndings().at(row);
        openWindow(ending.tapOptions);
        updateAndAwaitLastPage();
        QVERIFY(!actionsOn() && !update()->isEnabled());
        QVERIFY2(saying().contains(QStringLiteral("not yet verified")), qPrintable(saying()));
        const QByteArray image(reinterpret_cast<const char *>(firmwareImage), firmwareImageLength);
        QCOMPARE(bed->flash().left(firmwareImageLength) == image, ending.exactFlash);
        if (ending.replug) {
            replug();
            QTRY_VERIFY2_WITH_TIMEOUT(saying().contains(QLatin1String(ending.window)),
                                      qPrintable(saying()), FoundMs);
        } else {
            // Nothing to await: the tap held stays held, and the window keeps waiting.
            QTest::qWait(2 * Detection::TickMs);
            QVERIFY2(saying().contains(QLatin1String(ending.window)), qPrintable(saying()));
        }
        const bool answers = ending.exitStatus == 0;
        QCOMPARE(actionsOn(), ending.replug);
        QCOMPARE(update()->isEnabled(), ending.replug && !answers);
        // Answering as 4.0 is all that is said, never that the flash was found exact.
        QVERIFY2(!saying().contains(QStringLiteral("exact"))
                     && (!answers || !saying().contains(QStringLiteral("verified"))),
                 qPrintable(saying()));
        if (!ending.replug) {
            QVERIFY(w->close());
            QVERIFY(w->findChildren<QMessageBox *>().isEmpty());
            QVERIFY(!w->isVisible());
        }
    }

    // A tap that vanishes part way leaves an update that says the tap may not start, and the
    // update offered again once the tap is back.
    void interruptedUpdateIsOfferedAgainOnceBack()
    {
        openWindow({"--firmware-version", "0", "--delay-ms", "3"});
        update()->click();
        QTRY_VERIFY_WITH_TIMEOUT(bar()->maximum() == 100 && bar()->value() >= 10, UpdateMs);
        bed->stopTap();
        QVERIFY(bed->unplug());
        QTRY_VERIFY_WITH_TIMEOUT(text("label_32").startsWith(QStringLiteral("Update interrupted")),
                                 UpdateMs);
        QVERIFY2(
            text("label_32")
                .contains(QStringLiteral("The tap may not start until the update is run again")),
            qPrintable(text("label_32")));
        QVERIFY(!update()->isEnabled());
        QVERIFY(bed->plug() && bed->startTap({"--generation", "3"}));
        QTRY_VERIFY_WITH_TIMEOUT(update()->isEnabled(), FoundMs);
        QCOMPARE(update()->text(), QStringLiteral("Run the update again"));
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
