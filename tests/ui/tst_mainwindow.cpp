// The window without a tap: its worker is stopped and the tests report for it, so every state
// the window can be in is reached at once and exactly. What the window does with a real
// (simulated) tap is in tst_window_tap.
#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QFileDialog>
#include <QMenu>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <functional>

#include "CaptureBytes.h"
#include "DeviceFailure.h"
#include "FirmwareImage.h"
#include "FirmwareStatus.h"
#include "HelperFrameLink.h"
#include "KalvessaVersion.h"
#include "MainWindowTestAccess.h"
#include "ProgramRun.h"
#include "Translations.h"

namespace {

const QDateTime At(QDate(2026, 3, 2), QTime(14, 2, 11));
using Step = DeviceFailure::Step;
using Cause = DeviceFailure::Cause;

DeviceFailure failed(Step step, int where, int of, Cause cause, int count)
{
    DeviceFailure f = DeviceFailure::during(step, where, of);
    f.cause = cause;
    f.count = count;
    return f;
}

// "register 0x7020C, no reply after 10 sends", "page 10 of 768 refused 20 times"
const DeviceFailure NoReply = failed(Step::Register, 0x7020C, 0, Cause::NoReply, 10);
const DeviceFailure Refused = failed(Step::Page, 10, 768, Cause::Refused, 20);
// "register 0x70000, kvtap0's MTU is 100; ..."
const DeviceFailure TooLong = DeviceFailure::during(Step::Register, 0x70000)
                                  .ofLink({LinkError::Kind::FrameTooLong, "send: Message too long"},
                                          "kvtap0", 100, Cause::CannotSend);

TapSnapshot tap(int generation, uint16_t version)
{
    TapSnapshot s;
    s.present = true;
    s.generation = generation;
    if (generation == 4)
        s.abilities = {.readsBack = true, .confirms = true, .programsPages = true};
    s.interfaceName = QStringLiteral("kvtap0");
    s.address = MacAddress{0x00, 0x0e, 0xc6, 0xab, 0xcd, 0xef};
    s.settings.setFirmwareVersion(version);
    s.settings.setFirmwareTypeCode(generation == 4 ? firmwarestatus::RecognisedType : 0);
    s.firmwareKnown = generation == 4;
    return s;
}

TapSnapshot none(TapProblem::Kind kind = TapProblem::Kind::None, qint64 pid = 0)
{
    TapSnapshot s;
    s.problem.kind = kind;
    s.problem.interfaceName = QStringLiteral("kvtap0");
    s.problem.ownerPid = pid;
    return s;
}

// An attached tap as the worker lists it: generation and firmware 4.0 where known, the process
// holding it where another does (0: unknown).
ListedTap listed(const char *name, uint8_t last, bool known = false, bool held = false,
                 std::optional<qint64> inUseBy = std::nullopt)
{
    ListedTap t;
    t.interfaceName = QLatin1String(name);
    t.address = MacAddress{0x00, 0x0e, 0xc6, 0xab, 0xcd, last};
    if (known) {
        t.generation = 4;
        t.firmware = tap(4, 4).settings;
    }
    t.held = held;
    t.inUse = inUseBy.has_value();
    t.ownerPid = inUseBy.value_or(0);
    return t;
}

TapSnapshot among(TapSnapshot s, const QList<ListedTap> &taps)
{
    s.taps = taps;
    return s;
}

TapOutcome outcome(TapOutcome::Action action, const DeviceFailure &failure = {},
                   TapOutcome::Result carriedOut = TapOutcome::Result::Succeeded)
{
    TapOutcome o =
        TapOutcome::of(action, failure.failed() ? TapOutcome::Result::Failed : carriedOut, failure);
    o.finishedAt = At;
    return o;
}

using Action = TapOutcome::Action;

// Answers the next file dialog with `path`, as a person who picked or typed it would, and keeps
// the folder the dialog opened in.
void answerNextFileDialog(const QString &path, QString *openedIn = nullptr)
{
    QTimer::singleShot(0, [path, openedIn] {
        if (auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
            if (openedIn)
                *openedIn = dialog->directory().absolutePath();
            dialog->selectFile(path);
            QTest::keyClick(dialog, Qt::Key_Return);
        }
    });
}

const char *const Switches[] = {"checkBox",   "radioButton", "radioButton_2",
                                "checkBox_2", "checkBox_3",  "checkBox_4"};

}  // namespace

class TestMainWindow
    : public QObject
    , public MainWindowTestAccess
{
    Q_OBJECT

    QTemporaryDir settingsDir;

    // Status | problem line | feedback line | Read Apply Flash Update (upper case: enabled) and
    // why they are off | update button | bar maximum/value
    QString shown() const
    {
        QString buttons;
        const char *names[] = {"pushButton", "pushButton_2", "pushButton_3", "pushButton_4"};
        for (int i = 0; i < 4; ++i)
            buttons += get(names[i])->isEnabled() ? QLatin1Char("RAFU"[i]) : QLatin1Char('-');
        const QString why = get("pushButton")->toolTip().section(QLatin1Char('\n'), 1);
        return QStringLiteral("%1 | %2 | %3 | %4 %5 | %6 | %7/%8")
                   .arg(text("label_2"), text("label_32"), text("feedbackLine"), buttons, why,
                        update()->text().replace(QLatin1Char('\n'), QLatin1Char('/')))
                   .arg(bar()->maximum())
                   .arg(bar()->value())
                   .trimmed()
            + choice();
    }
    // With several taps, the list: the entry chosen marked '*', one that cannot be chosen 'x',
    // "(off)" while nothing may be chosen.
    QString choice() const
    {
        auto *list = get<QComboBox>("tapChooser");
        if (!list->isVisible())
            return {};
        const auto *model = qobject_cast<const QStandardItemModel *>(list->model());
        QStringList entries;
        for (int i = 0; i < list->count(); ++i) {
            const QString mark = i == list->currentIndex() ? QStringLiteral("*")
                : model->item(i)->isEnabled()              ? QString()
                                                           : QStringLiteral("x");
            entries << mark + list->itemText(i);
        }
        return QStringLiteral(" | %1%2").arg(list->isEnabled() ? QString()
                                                               : QStringLiteral("(off) "),
                                             entries.join(QStringLiteral("; ")));
    }
    void click(const char *button) { get<QPushButton>(button)->click(); }
    // The byte fields' texts joined by '|', then the switches that are on.
    QString formShown() const
    {
        QStringList texts;
        for (int i = 1; i <= 23; ++i)
            texts << edit(i)->text();
        QStringList on;
        for (const char *name : Switches)
            if (get<QAbstractButton>(name)->isChecked())
                on << QLatin1String(name);
        return texts.join(QLatin1Char('|')) + QLatin1Char(' ') + on.join(QLatin1Char(' '));
    }
    void showInForm(const QString &shown)
    {
        const QStringList texts = shown.section(QLatin1Char(' '), 0, 0).split(QLatin1Char('|'));
        const QStringList on = shown.section(QLatin1Char(' '), 1).split(QLatin1Char(' '));
        for (int i = 1; i <= 23; ++i)
            edit(i)->setText(texts[i - 1]);
        for (const char *name : Switches)
            get<QAbstractButton>(name)->setChecked(on.contains(QLatin1String(name)));
    }
    QAction *action(const char *name) const { return get<QAction>(name); }
    QMessageBox *message() const
    {
        for (QMessageBox *box : w->findChildren<QMessageBox *>())
            if (box->isVisible())
                return box;
        return nullptr;
    }

private slots:
    void initTestCase()
    {
        // No interface at all: whatever the host has attached stays out of the window's sight.
        InProcessTaps::instance().attach();
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);  // so a test can answer them
        // The tap chosen is kept among the user's settings: here in a folder of the test's own.
        QVERIFY(settingsDir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
    }
    void cleanupTestCase() { InProcessTaps::instance().detach(); }
    void init()
    {
        w = new MainWindow;
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        stopWorker();
    }
    void cleanup() { delete std::exchange(w, nullptr); }

    void windowAfterConstruction()
    {
        QCOMPARE(w->windowTitle(), QStringLiteral("Kalvessa 100 - " KALVESSA_VERSION "[*]"));
        QVERIFY(!w->isWindowModified());
        // The application's icon, not the status light (no icon theme here has it).
        QCOMPARE(w->windowIcon().pixmap(64, 64).toImage(),
                 QIcon(ResourcePaths::AppIcon).pixmap(64, 64).toImage());
        QVERIFY(!QPixmap(ResourcePaths::AppIcon).isNull() && shows(ResourcePaths::RedLight));

        // The wordmark follows the palette: the light one on a dark window.
        const auto logo = [this] { return get<QLabel>("logo")->pixmap().toImage(); };
        QCOMPARE(logo(), QPixmap(ResourcePaths::Logo).toImage());
        const QPalette light = w->palette();
        QPalette dark = light;
        dark.setColor(QPalette::Window, QColor(0x30, 0x30, 0x30));
        w->setPalette(dark);
        QCOMPARE(logo(), QPixmap(ResourcePaths::LogoOnDark).toImage());
        w->setPalette(light);
        QCOMPARE(logo(), QPixmap(ResourcePaths::Logo).toImage());
    }

    // Each step starts where the one before left the window.
    void stateTransitions()
    {
        struct Step
        {
            const char *what;
            std::function<void()> act;
            const char *shows;
        };
        const QString found = QStringLiteral("Kalvessa 100 found");
        const Step steps[] = {
            {"start, before the worker's first report", [] {},
             "Kalvessa 100 not found |  |  | ---- No Kalvessa 100 is attached. |  | 100/0"},
            {"generation 4 with 4.0 found", [this] { report(tap(4, 4)); },
             "Kalvessa 100 found |  | The form shows what the tap holds. | RAF-  | Firmware "
             "up-to-date/Version 4.0 | 100/0"},
            {"Apply clicked", [this] { click("pushButton_2"); },
             "Kalvessa 100 found |  |  | ---- Waiting for the tap to finish the last request. | "
             "Firmware up-to-date/Version 4.0 | 0/0"},
            {"Apply acknowledged", [this] { report(tap(4, 4), {outcome(Action::Write)}); },
             "Kalvessa 100 found |  | Applied at 14:02:11. The form shows what the tap holds. | "
             "RAF-  | Firmware up-to-date/Version 4.0 | 100/0"},
            {"its interface renamed: the same tap, what was said of it stays",
             [this] {
                 TapSnapshot renamed = tap(4, 4);
                 renamed.interfaceName = QStringLiteral("kvtapx");
                 report(renamed);
             },
             "Kalvessa 100 found |  | Applied at 14:02:11. The form shows what the tap holds. | "
             "RAF-  | Firmware up-to-date/Version 4.0 | 100/0"},
            {"Flash not sent: the tap cannot acknowledge what its interface would not carry",
             [this] {
                 click("pushButton_3");
                 report(tap(4, 4), {outcome(Action::Store, TooLong)});
             },
             "Kalvessa 100 found | Settings not sent: register 0x70000, kvtap0's MTU is 100; the "
             "tap's frames need 1500: `ip link set dev kvtap0 mtu 1500` | The form shows what the "
             "tap holds. | RAF-  | Firmware up-to-date/Version 4.0 | 100/0"},
            {"Flash not acknowledged",
             [this] {
                 click("pushButton_3");
                 report(tap(4, 4), {outcome(Action::Store, NoReply)});
             },
             "Kalvessa 100 found | Settings not acknowledged: register 0x7020C, no reply after 10 "
             "sends | The form shows what the tap holds. | RAF-  | Firmware up-to-date/Version 4.0 "
             "| 100/0"},
            {"Read clicked: the failure goes", [this] { click("pushButton"); },
             "Kalvessa 100 found |  |  | ---- Waiting for the tap to finish the last request. | "
             "Firmware up-to-date/Version 4.0 | 0/0"},
            {"Read done", [this] { report(tap(4, 4), {outcome(Action::Read)}); },
             "Kalvessa 100 found |  | Read from the tap at 14:02:11. The form shows what the tap "
             "holds. | RAF-  | Firmware up-to-date/Version 4.0 | 100/0"},
            {"tap gone", [this] { report(none()); },
             "Kalvessa 100 not found |  | Read from the tap at 14:02:11. | ---- No Kalvessa 100 is "
             "attached. |  | 100/0"},
            {"old firmware found", [this] { report(tap(4, 0)); },
             "Kalvessa 100 found |  | The form shows what the tap holds. | RAFU  | Update to 4.0 | "
             "100/0"},
            {"Update clicked", [this] { click("pushButton_4"); },
             "Kalvessa 100 found | Updating: do not unplug the adapter |  | ---- Not while the "
             "firmware is being updated. | Updating.../Do not unplug the adapter | 0/0"},
            {"40 percent written", [this] { progress(40); },
             "Kalvessa 100 found | Updating: do not unplug the adapter |  | ---- Not while the "
             "firmware is being updated. | Updating.../Do not unplug the adapter | 100/40"},
            {"update stopped part way as the tap went away",
             [this] { report(none(), {outcome(Action::Update, Refused)}); },
             "Kalvessa 100 not found | Update interrupted: page 10 of 768 refused 20 times. The "
             "tap "
             "may not start until the update is run again: plug it in, then run it. |  | ---- No "
             "Kalvessa 100 is attached. | Run the update again | 100/0"},
            {"found again: the update can be run again", [this] { report(tap(4, 0)); },
             "Kalvessa 100 found | Update interrupted: page 10 of 768 refused 20 times. The tap "
             "may not start until the update is run again. | The form shows what the tap holds. | "
             "RAFU  | Run the update again | 100/0"},
            {"Apply clicked: the interruption is still said, nothing else can start",
             [this] { click("pushButton_2"); },
             "Kalvessa 100 found | Update interrupted: page 10 of 768 refused 20 times. The tap "
             "may not start until the update is run again. |  | ---- Waiting for the tap to "
             "finish the last request. | Run the update again | 0/0"},
            {"Apply acknowledged: the update is offered again",
             [this] { report(tap(4, 0), {outcome(Action::Write)}); },
             "Kalvessa 100 found | Update interrupted: page 10 of 768 refused 20 times. The tap "
             "may not start until the update is run again. | Applied at 14:02:11. The form shows "
             "what the tap holds. | RAFU  | Run the update again | 100/0"},
            {"every page sent: to be replugged, nothing else until then",
             [this] {
                 click("pushButton_4");
                 report(tap(4, 0), {outcome(Action::Update)});
             },
             "Kalvessa 100 found | Unplug and replug the tap to start the new firmware | Firmware "
             "sent at 14:02:11, not yet verified. The form shows what the tap holds. | ---- Not "
             "until the tap has been unplugged and plugged in again after its update. | Update "
             "sent/Unplug and replug the tap | 100/100"},
            {"tap unplugged: still waiting", [this] { report(none()); },
             "Kalvessa 100 not found | Unplug and replug the tap to start the new firmware | "
             "Firmware sent at 14:02:11, not yet verified. | ---- No Kalvessa 100 is attached. | "
             "Update sent/Unplug and replug the tap | 100/100"},
            {"back under its address, answering nothing",
             [this] {
                 report(none());
                 TapSnapshot back = tap(3, 0);
                 back.taking = 1;
                 report(back);
             },
             "Kalvessa 100 found | The tap does not run the new firmware: run the update again | "
             "A generation-3 tap cannot be read back. | -AFU A generation-3 tap cannot be read "
             "back. | Update to 4.0 | 100/0"},
            {"Flash sent to it, all such a tap can tell",
             [this] {
                 click("pushButton_3");
                 report(tap(3, 0),
                        {outcome(Action::Store, {}, TapOutcome::Result::SentUnconfirmed)});
             },
             "Kalvessa 100 found | The tap does not run the new firmware: run the update again | "
             "Stored in the tap at 14:02:11. A generation-3 tap cannot be read back. | -AFU A "
             "generation-3 tap cannot be read back. | Update to 4.0 | 100/0"},
            {"another program holds the tap",
             [this] { report(none(TapProblem::Kind::InUse, 4242)); },
             "Kalvessa 100 not found | Tap in use by another program (PID 4242) | Stored in the "
             "tap "
             "at 14:02:11. | ---- No Kalvessa 100 is attached. |  | 100/0"},
            {"two taps: the one held chosen, only its generation and firmware known",
             [this] {
                 report(among(tap(4, 4),
                              {listed("kvtap0", 0xef, true, true), listed("kvtap1", 0xf0)}));
             },
             "Kalvessa 100 found |  | The form shows what the tap holds. | RAF-  | Firmware "
             "up-to-date/Version 4.0 | 100/0 | *kvtap0  00:0e:c6:ab:cd:ef - generation 4, firmware "
             "4.0; kvtap1  00:0e:c6:ab:cd:f0"},
            {"a third, held by another program: not to be chosen",
             [this] {
                 report(among(tap(4, 4),
                              {listed("kvtap0", 0xef, true, true), listed("kvtap1", 0xf0),
                               listed("kvtap2", 0xf1, false, false, 4243)}));
             },
             "Kalvessa 100 found |  | The form shows what the tap holds. | RAF-  | Firmware "
             "up-to-date/Version 4.0 | 100/0 | *kvtap0  00:0e:c6:ab:cd:ef - generation 4, firmware "
             "4.0; kvtap1  00:0e:c6:ab:cd:f0; xkvtap2  00:0e:c6:ab:cd:f1 - in use by another "
             "program (PID 4243)"},
            {"Apply clicked: no other tap while the request runs",
             [this] { click("pushButton_2"); },
             "Kalvessa 100 found |  |  | ---- Waiting for the tap to finish the last request. | "
             "Firmware up-to-date/Version 4.0 | 0/0 | (off) *kvtap0  00:0e:c6:ab:cd:ef - "
             "generation 4, firmware 4.0; kvtap1  00:0e:c6:ab:cd:f0; xkvtap2  00:0e:c6:ab:cd:f1 - "
             "in use by another program (PID 4243)"},
            {"none held, the first in use: the others may still be chosen",
             [this] {
                 report(among(none(TapProblem::Kind::InUse),
                              {listed("kvtap0", 0xef, true, false, 0), listed("kvtap1", 0xf0)}),
                        {outcome(Action::Write)});
             },
             "Kalvessa 100 not found | Tap in use by another program | Applied at 14:02:11. | "
             "---- No Kalvessa 100 is attached. |  | 100/0 | xkvtap0  00:0e:c6:ab:cd:ef - "
             "generation 4, firmware 4.0, in use by another program; kvtap1  00:0e:c6:ab:cd:f0"},
            {"one tap left: no list",
             [this] { report(among(tap(4, 4), {listed("kvtap0", 0xef, true, true)})); },
             "Kalvessa 100 found |  | The form shows what the tap holds. | RAF-  | Firmware "
             "up-to-date/Version 4.0 | 100/0"},
            {"gone", [this] { report(none()); },
             "Kalvessa 100 not found |  |  | ---- No Kalvessa 100 is attached. |  | 100/0"},
        };

        QWidget *panel = get("frame");
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        const QRect panelAt = panel->geometry();  // the width; lines may wrap
        const int updateWidth = update()->width();
        for (const Step &step : steps) {
            step.act();
            QCOMPARE(shown(), QString::fromUtf8(step.shows).trimmed());
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
            QVERIFY2(panel->geometry().width() == panelAt.width()
                         && update()->width() == updateWidth,
                     step.what);
            QCOMPARE(w->isWindowModified(), false);
        }
        QCOMPARE(get("label")->accessibleDescription(), QStringLiteral("tap not found"));
    }

    // A tap that cannot be reached is told with its reason; how to grant the capture privilege
    // only where that is what is missing.
    // What is not known is shown as unknown: the update is offered for every firmware but 4.0
    // and to a tap that answers nothing, never on the strength of status words not read; a tap
    // that is there but cannot be settled is not "not found".
    void firmwareAsFarAsKnown_data()
    {
        QTest::addColumn<int>("generation");
        QTest::addColumn<int>("version");
        QTest::addColumn<bool>("known");
        QTest::addColumn<bool>("noisy");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("versionShown");
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("offered");
        const QString found = QStringLiteral("Kalvessa 100 found");
        QTest::newRow("3.0") << 4 << 0x0003 << true << false << found << "3.0"
                             << "Update to 4.0" << true;
        QTest::newRow("status words not read") << 4 << 0 << false << false << found << "unknown"
                                               << "Firmware unknown" << false;
        QTest::newRow("answers nothing") << 3 << 0 << false << false << found << "3.0"
                                         << "Update to 4.0" << true;
        QTest::newRow("noisy line")
            << 0 << 0 << false << true << "Kalvessa 100 attached, the line is noisy"
            << "-"
            << "" << false;
    }
    void firmwareAsFarAsKnown()
    {
        QFETCH(int, generation);
        QFETCH(int, version);
        QFETCH(bool, known);
        QFETCH(bool, noisy);
        QFETCH(QString, status);
        QFETCH(QString, versionShown);
        QFETCH(QString, button);
        QFETCH(bool, offered);
        TapSnapshot snapshot = noisy ? none(TapProblem::Kind::Unsettled) : tap(generation, version);
        snapshot.firmwareKnown = known;
        report(snapshot);
        QCOMPARE(text("label_2"), status);
        QCOMPARE(text("label_8"), versionShown);
        QCOMPARE(update()->text(), button);
        QCOMPARE(update()->isEnabled(), offered);
    }

    void privilegeIsAskedForOnlyWhereItIsMissing_data()
    {
        QTest::addColumn<LinkError::Kind>("cause");
        QTest::addColumn<bool>("asks");
        QTest::newRow("no privilege") << LinkError::Kind::NoPrivilege << true;
        QTest::newRow("link down") << LinkError::Kind::InterfaceDown << false;
    }

    void privilegeIsAskedForOnlyWhereItIsMissing()
    {
        QFETCH(LinkError::Kind, cause);
        QFETCH(bool, asks);
        TapSnapshot unreachable = none(TapProblem::Kind::Unreachable);
        unreachable.problem.cause = cause;
        unreachable.problem.reason = QStringLiteral("the reason");
        report(unreachable);
        QCOMPARE(text("label_32"), QStringLiteral("Tap not reachable"));
        QTRY_VERIFY(message());
        QVERIFY(message()->text().contains(QStringLiteral("kvtap0"))
                && message()->text().contains(QStringLiteral("the reason")));
        // The privilege goes to the capture helper alone, never to a Qt program.
        QCOMPARE(
            message()->text().contains(QStringLiteral("setcap cap_net_raw=eip ")
                                       + QString::fromStdString(HelperFrameLink::helperPath())),
            asks);
    }

    void editsAreMarkedAndReadAsksBeforeDiscarding()
    {
        report(tap(4, 4));
        get<QAbstractButton>("checkBox")->click();
        QVERIFY(w->isWindowModified());
        QTest::keyClicks(edit(3), QStringLiteral("C6"));
        QCOMPARE(edit(3)->accessibleDescription(), QStringLiteral("changed, not in the tap yet"));
        QVERIFY(edit(2)->accessibleDescription().isEmpty());
        QCOMPARE(text("feedbackLine"), QStringLiteral("Marked fields are not in the tap yet."));

        QString asked;
        answerNextQuestion(QMessageBox::Cancel, &asked);
        click("pushButton");
        QVERIFY2(asked.contains(QStringLiteral("replaces them")), qPrintable(asked));
        QVERIFY(get("pushButton")->isEnabled() && edit(3)->text() == QStringLiteral("c6"));
        answerNextQuestion(QMessageBox::Discard, &asked);
        click("pushButton");
        QVERIFY(!get("pushButton")->isEnabled());  // the read was posted
        report(tap(4, 4), {outcome(Action::Read)});
        QVERIFY(edit(3)->text().isEmpty() && !w->isWindowModified());
    }

    // Another tap's settings replace the form's, so choosing it asks as Read Current Setup does;
    // only a choice carried out is kept for the next start.
    void choosingAsksBeforeDiscardingEdits_data()
    {
        QTest::addColumn<bool>("edited");
        QTest::addColumn<QMessageBox::StandardButton>("answer");
        QTest::addColumn<bool>("chosen");
        QTest::newRow("nothing changed: no question") << false << QMessageBox::NoButton << true;
        QTest::newRow("changes kept") << true << QMessageBox::Cancel << false;
        QTest::newRow("changes discarded") << true << QMessageBox::Discard << true;
    }
    void choosingAsksBeforeDiscardingEdits()
    {
        QFETCH(bool, edited);
        QFETCH(QMessageBox::StandardButton, answer);
        QFETCH(bool, chosen);
        report(among(tap(4, 4), {listed("kvtap0", 0xef, true, true), listed("kvtap1", 0xf0)}));
        if (edited)
            get<QAbstractButton>("checkBox")->click();
        QString asked;
        pickInList(get<QComboBox>("tapChooser"), 1, [&] {
            if (answer != QMessageBox::NoButton)
                answerNextQuestion(answer, &asked);
        });
        QCOMPARE(asked.contains(QStringLiteral("The chosen tap's settings replace them.")), edited);
        QCOMPARE(kept().value(ChoiceKey).toString(),
                 chosen ? QStringLiteral("00:0e:c6:ab:cd:f0") : QString());
        if (!chosen)
            QCOMPARE(get<QComboBox>("tapChooser")->currentIndex(), 0);
        kept().remove(ChoiceKey);
    }

    // Saved with Ctrl+S, the form changed, opened again with Ctrl+O: with and without a tap.
    void settingsFileRoundTrip_data()
    {
        QTest::addColumn<bool>("attached");
        QTest::addColumn<QString>("typed");
        QTest::newRow("a filter with wildcards, tap attached")
            << true
            << "00|0e|c6|||||||||ff|08|00|11|192|168||1||||0 checkBox radioButton checkBox_2 "
               "checkBox_4";
        QTest::newRow("every byte a wildcard, no tap")
            << false << "|||||||||||||||||||||| radioButton_2 checkBox_3";
    }
    void settingsFileRoundTrip()
    {
        QFETCH(bool, attached);
        QFETCH(QString, typed);
        QApplication::setActiveWindow(w);
        QVERIFY(QTest::qWaitForWindowActive(w));
        if (attached)
            report(tap(4, 4));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("prepared.json"));
        showInForm(typed);
        answerNextFileDialog(path);
        QTest::keyClick(w, Qt::Key_S, Qt::ControlModifier);
        QVERIFY(QFile::exists(path));

        showInForm(QStringLiteral("1|1|1|1|1|1|1|1|1|1|1|1|1|1|1|1|1|1|1|1|1|1|1 checkBox "
                                  "radioButton_2 checkBox_2 checkBox_3"));
        QApplication::setActiveWindow(w);  // back from the dialog
        QVERIFY(QTest::qWaitForWindowActive(w));
        QString openedIn;
        answerNextFileDialog(path, &openedIn);
        QTest::keyClick(w, Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(formShown(), typed);
        QCOMPARE(openedIn, dir.path());  // the folder last used
        QVERIFY(!message());
    }

    // What the file leaves out stays as the form shows it; a tap found afterwards gets the
    // file's settings marked where they differ, until the tap's own are taken in.
    void fileOpenedBeforeTheTapIsKeptForIt()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("partial.json"));
        QVERIFY(writeFile(path, R"({"format": "kalvessa100-settings", "version": 1,
                                   "filter": {"enabled": true, "eth_dst": "00:0e:c6:*:*:*"}, "fcs": false})"));
        showInForm(QStringLiteral("|||||||||||||08|||||||||| radioButton_2 checkBox_2 checkBox_4"));
        answerNextFileDialog(path);
        action("openSettings")->trigger();
        const QString fromFile =
            QStringLiteral("00|0e|c6|||||||||||||||||||| checkBox radioButton_2 checkBox_2");
        QCOMPARE(formShown(), fromFile);
        QVERIFY(!w->isWindowModified());  // nothing to differ from yet

        report(tap(4, 4));  // filter off, CRC-error frames and FCS captured
        QCOMPARE(formShown(), fromFile);
        QVERIFY(w->isWindowModified());
        QCOMPARE(edit(3)->accessibleDescription(), QStringLiteral("changed, not in the tap yet"));
        QStringList marked;
        for (const char *name : Switches)
            if (!get(name)->accessibleDescription().isEmpty())
                marked << QLatin1String(name);
        QCOMPARE(marked, QStringList({"checkBox", "checkBox_2", "checkBox_3", "checkBox_4"}));

        click("pushButton_2");
        QVERIFY(!action("openSettings")->isEnabled());  // the answer will refill the form
        report(tap(4, 4), {outcome(Action::Write)});
        QVERIFY(action("openSettings")->isEnabled());
        QCOMPARE(formShown(),
                 QStringLiteral("|||||||||||||||||||||| radioButton_2 checkBox_3 checkBox_4"));
        QVERIFY(!w->isWindowModified());
    }

    // A file that does not read whole leaves the form as it was and says which file and key.
    void unusableFileChangesNothing()
    {
        report(tap(4, 4));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("broken.json"));
        QVERIFY(writeFile(path, R"({"format": "kalvessa100-settings", "version": 1,
            "timestamps": true, "filter": {"enabled": true, "eth_dts": "00:0e:c6:*:*:*"}})"));
        const QString before =
            QStringLiteral("00|0e|c6|||||||||||||||||||| radioButton checkBox_3");
        showInForm(before);
        answerNextFileDialog(path);
        action("openSettings")->trigger();
        QCOMPARE(formShown(), before);
        QVERIFY(message());
        QVERIFY2(message()->text().contains(path)
                     && message()->text().contains(QStringLiteral("\"filter.eth_dts\"")),
                 qPrintable(message()->text()));
    }

    void failedSaveIsTold()
    {
        const QString nowhere = QStringLiteral("/proc/kalvessa-settings.json");
        answerNextFileDialog(nowhere);
        action("saveSettings")->trigger();
        QVERIFY(message());
        QVERIFY2(message()->text().contains(nowhere), qPrintable(message()->text()));
        QVERIFY(!QFile::exists(nowhere));
    }

    void everyUpdateIsConfirmed()
    {
        const QByteArray simulated = qgetenv("KALVESSA_SIMULATED_TAP");
        qunsetenv("KALVESSA_SIMULATED_TAP");  // as on a host with a real tap
        report(tap(4, 0));
        QString asked;
        for (auto answer : {QMessageBox::No, QMessageBox::Yes}) {
            answerNextQuestion(answer, &asked);
            update()->click();
            QCOMPARE(w->firmwareUpdateRunning(), answer == QMessageBox::Yes);
        }
        qputenv("KALVESSA_SIMULATED_TAP", simulated);
        for (const char *says : {"version 3.0", "firmware 4.0", "plugged in"})
            QVERIFY2(asked.contains(QLatin1String(says)), qPrintable(asked));
        QCOMPARE(asked.contains(QStringLiteral("stand-in")), firmwareImageIsStandIn);
    }

    void closingAndCtrlQAskOnlyDuringAnUpdate()
    {
        QApplication::setActiveWindow(w);
        QVERIFY(QTest::qWaitForWindowActive(w));
        report(tap(4, 0));
        click("pushButton_4");
        QString asked;
        answerNextQuestion(QMessageBox::Cancel, &asked);
        QTest::keyClick(w, Qt::Key_Q, Qt::ControlModifier);
        QVERIFY2(asked.contains(QStringLiteral("unusable")) && w->isVisible(), qPrintable(asked));
        answerNextQuestion(QMessageBox::Close, &asked);
        QVERIFY(w->close() && !w->isVisible());

        w->show();
        QApplication::setActiveWindow(w);
        QVERIFY(QTest::qWaitForWindowActive(w));
        report(tap(4, 0), {outcome(Action::Update)});
        asked.clear();
        QTest::keyClick(w, Qt::Key_Q, Qt::ControlModifier);
        QVERIFY(!w->isVisible() && asked.isEmpty());
    }

    // Outside an update a termination signal closes the window at once.
    void signalClosesAtOnceWithoutAnUpdate()
    {
        report(tap(4, 4));
        std::raise(SIGHUP);
        QTRY_VERIFY(!w->isVisible());
    }

    void keyboard()
    {
        QApplication::setActiveWindow(w);
        QVERIFY(QTest::qWaitForWindowActive(w));
        report(tap(4, 4));
        get("checkBox")->setFocus();
        get("pushButton_2")->setFocus();
        QTest::keyClick(get("pushButton_2"), Qt::Key_Return);
        QVERIFY(!get("pushButton_2")->isEnabled());  // Apply was pressed and waits
        QCOMPARE(QApplication::focusWidget(),
                 get("checkBox"));  // back in the form, not on the tab bar

        report(tap(4, 4), {outcome(Action::Write)});
        get("pushButton_3")->setFocus();
        QTest::keyClick(get("pushButton_3"), Qt::Key_Enter);
        QVERIFY(!get("pushButton_3")->isEnabled());
        QCOMPARE(QApplication::focusWidget(), get("checkBox"));

        QTest::keyClick(w, Qt::Key_T, Qt::AltModifier);
        QCOMPARE(get<QTabWidget>("tabWidget")->currentIndex(), 1);

        // The menu has a letter of its own; the Filter tab keeps Alt+F.
        QTest::keyClick(w, Qt::Key_I, Qt::AltModifier);
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        QVERIFY(menu && menu->actions().contains(action("openSettings"))
                && menu->actions().contains(action("saveSettings")));
        QTest::keyClick(menu, Qt::Key_Escape);
        QTest::keyClick(w, Qt::Key_F, Qt::AltModifier);
        QCOMPARE(get<QTabWidget>("tabWidget")->currentIndex(), 0);
        QVERIFY(!QApplication::activePopupWidget());
    }

    // Everything people use or look at has a name for a screen reader.
    void accessibilityWalk()
    {
        report(tap(4, 4));
        QStringList named;
        QList<QAccessibleInterface *> todo{QAccessible::queryAccessibleInterface(w)};
        const QList<QAccessible::Role> needNames{
            QAccessible::EditableText, QAccessible::PushButton, QAccessible::CheckBox,
            QAccessible::RadioButton,  QAccessible::PageTab,    QAccessible::ProgressBar,
            QAccessible::Graphic};
        while (!todo.isEmpty()) {
            QAccessibleInterface *item = todo.takeFirst();
            for (int i = 0; i < item->childCount(); ++i)
                todo << item->child(i);
            if (!needNames.contains(item->role()) || item->state().invisible)
                continue;
            const QString name = item->text(QAccessible::Name);
            QVERIFY2(
                !name.isEmpty(),
                qPrintable(QStringLiteral("role %1 of %2")
                               .arg(item->role())
                               .arg(item->object() ? item->object()->objectName() : QString())));
            named << name;
        }
        for (const char *name : {"Ethernet destination address, byte 3 of 6", "IPv4 protocol"})
            QVERIFY2(named.contains(QLatin1String(name)), name);
        QCOMPARE(named.count(QStringLiteral("IPv4 source address, byte 1 of 4")), 1);
        QCOMPARE(
            QAccessible::queryAccessibleInterface(get("label"))->text(QAccessible::Description),
            QStringLiteral("tap found"));
        progress(0);
        report(tap(4, 0));
        click("pushButton_4");
        progress(40);
        QCOMPARE(
            QAccessible::queryAccessibleInterface(bar())->valueInterface()->currentValue().toInt(),
            40);
    }

    // In German, with the device layer's failure translated too; back in English the state is
    // shown again, not the form's placeholders.
    // The expression follows a typed edit; the preview counts what the form holds at that
    // moment, on a file, without the tap.
    void filterExpressionAndPreviewFollowTheForm()
    {
        report(tap(4, 4));
        showInForm(QStringLiteral("|||||||||||||||||||||| checkBox radioButton checkBox_3"));
        const auto *expression = get<QLineEdit>("filterExpression");
        QCOMPARE(expression->text(), QString());  // nothing compared: every frame
        edit(15)->setFocus();
        QTest::keyClicks(edit(15), QStringLiteral("11"));
        QCOMPARE(expression->text(), QStringLiteral("len >= 24 and ether[23] = 0x11"));
        get<QAbstractButton>("radioButton_2")->click();
        QCOMPARE(expression->text(), QStringLiteral("not (len >= 24 and ether[23] = 0x11)"));

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("two.pcap"));
        QByteArray udp = QByteArray::fromHex("000ec6123456001122334455080045000000000000004011");
        udp.resize(60);
        QByteArray tcp = udp;
        tcp[23] = 0x06;
        QVERIFY(writeFile(path,
                          capturebytes::pcapHeader(1) + capturebytes::pcapRecord(udp, 60)
                              + capturebytes::pcapRecord(tcp, 60)));
        answerNextFileDialog(path);
        action("previewCapture")->trigger();
        QTRY_VERIFY(w->findChild<QMessageBox *>(QStringLiteral("previewResult")));
        const QString told = w->findChild<QMessageBox *>(QStringLiteral("previewResult"))->text();
        QVERIFY2(told.contains(QStringLiteral("Kept: 1 frame, 60 bytes"))
                     && told.contains(QStringLiteral("Discarded: 1 frame, 60 bytes"))
                     && told.contains(QStringLiteral("not (len >= 24 and ether[23] = 0x11)")),
                 qPrintable(told));
    }

    void germanWindow()
    {
        report(tap(4, 4), {outcome(Action::Write)});
        const DeviceFailure &failure = Refused;
        {
            const Translations german(QLocale(QLocale::German, QLocale::Germany));
            QVERIFY(german.loaded());
            QCoreApplication::sendPostedEvents();  // the language change reaches the widgets
            QCOMPARE(text("label_2"), QStringLiteral("Kalvessa 100 gefunden"));
            QCOMPARE(
                text("feedbackLine"),
                QStringLiteral("Übernommen um 14:02:11. Das Formular zeigt, was der Tap enthält."));
            QCOMPARE(update()->text(), QStringLiteral("Firmware aktuell\nVersion 4.0"));
            QCOMPARE(edit(3)->accessibleName(),
                     QStringLiteral("Ethernet-Zieladresse, Byte 3 von 6"));
            QCOMPARE(failure.text(), QStringLiteral("Seite 10 von 768 20-mal abgelehnt"));
            click("pushButton_3");
            report(tap(4, 4), {outcome(Action::Store, failure)});
            QCOMPARE(
                text("label_32"),
                QStringLiteral("Einstellungen nicht bestätigt: Seite 10 von 768 20-mal abgelehnt"));
        }
        QCoreApplication::sendPostedEvents();
        QCOMPARE(QStringList({text("label_2"), text("label_4"), text("label_8"),
                              text("label_32").section(QLatin1Char(':'), 0, 0)}),
                 QStringList({"Kalvessa 100 found", "00:0e:c6:ab:cd:ef", "4.0",
                              "Settings not acknowledged"}));
        QCOMPARE(failure.text(), QStringLiteral("page 10 of 768 refused 20 times"));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
