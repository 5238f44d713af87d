// The window with several taps attached, each the simulated tap's code in this process: the
// list to choose from, the lock that moves with the choice, a tap another program holds, and
// the choice kept for the next start.
#include <QProcess>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

#include "HeldTap.h"
#include "MainWindowTestAccess.h"

namespace {

constexpr int FoundMs = 30000;
constexpr int Taps = 3;
const char *const Names[Taps] = {"kvtap0", "kvtap1", "kvtap2"};
const char *const Macs[Taps] = {"00:0e:c6:12:34:56", "00:0e:c6:12:34:57", "00:0e:c6:12:34:58"};
const char *const NotAttached = "00:0e:c6:12:34:59";
const QString Found = QStringLiteral("Kalvessa 100 found");

}  // namespace

class TestWindowTaps
    : public QObject
    , public MainWindowTestAccess
{
    Q_OBJECT

    QTemporaryDir settingsDir;
    std::vector<std::unique_ptr<TapBed>> beds;
    std::unique_ptr<QProcess> holder;  // another program, holding one tap's lock

    QComboBox *chooser() const { return get<QComboBox>("tapChooser"); }
    bool entryOn(int i) const
    {
        return qobject_cast<QStandardItemModel *>(chooser()->model())->item(i)->isEnabled();
    }

    void openWindow(int held)
    {
        w = new MainWindow;
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QTRY_COMPARE_WITH_TIMEOUT(text("label_4"), QLatin1String(Macs[held]), FoundMs);
        QCOMPARE(text("label_2"), Found);
    }

    // Another program takes the tap's lock as the tap service would, on the same file.
    void holdElsewhere(int i)
    {
        QString path;
        if (const auto probe = holdTapLock(Macs[i]))  // released at once
            path = probe->path();
        QVERIFY(!path.isEmpty());
        holder = std::make_unique<QProcess>();
        holder->start(QStringLiteral("flock"), {QStringLiteral("-x"), path, QStringLiteral("cat")});
        QVERIFY(holder->waitForStarted());
        qint64 pid = 0;
        QTRY_VERIFY(TapLock::isHeld(lockAddress(Macs[i]), &pid) && pid == holder->processId());
    }

    // Which taps' locks are held, by anyone: "01-" for the second of three.
    QString locks() const
    {
        QString out;
        for (int i = 0; i < int(beds.size()); ++i) {
            qint64 pid = 0;
            out +=
                TapLock::isHeld(lockAddress(Macs[i]), &pid) ? QLatin1Char('1') : QLatin1Char('-');
        }
        return out;
    }

    // The lock of the tap held, or none while the window is gone.
    QString locksWith(int held, int elsewhere) const
    {
        QString out(int(beds.size()), QLatin1Char('-'));
        for (int i : {held, elsewhere})
            if (i >= 0)
                out[i] = QLatin1Char('1');
        return out;
    }

private slots:
    void initTestCase()
    {
        REQUIRE_TAP_BED();
        if (TapBed::endToEnd())
            QSKIP("The taps of this test are the simulated tap's code in this process");
        QVERIFY(settingsDir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
    }

    void cleanup()
    {
        delete std::exchange(w, nullptr);
        if (holder) {
            holder->kill();
            holder->waitForFinished();
            holder.reset();
        }
        beds.clear();
        kept().remove(ChoiceKey);
    }

    // taps attached; one held by another program (-1: none); the address kept from an earlier
    // run (-1: none, Taps: one not attached); the entry clicked (-1: none); the tap held then.
    void choosing_data()
    {
        QTest::addColumn<int>("taps");
        QTest::addColumn<int>("elsewhere");
        QTest::addColumn<int>("remembered");
        QTest::addColumn<int>("picked");
        QTest::addColumn<int>("held");
        QTest::newRow("one tap: no list") << 1 << -1 << -1 << -1 << 0;
        QTest::newRow("two taps: the first, then the second chosen") << 2 << -1 << -1 << 1 << 1;
        QTest::newRow("three taps: the third chosen") << 3 << -1 << -1 << 2 << 2;
        QTest::newRow("held by another program: shown so, not taken") << 3 << 1 << -1 << 1 << 0;
        QTest::newRow("chosen before: taken at start") << 2 << -1 << 1 << -1 << 1;
        QTest::newRow("chosen before, now held elsewhere: the first free")
            << 3 << 0 << 0 << -1 << 1;
        QTest::newRow("chosen before, not attached: the first") << 2 << -1 << Taps << -1 << 0;
    }

    void choosing()
    {
        QFETCH(int, taps);
        QFETCH(int, elsewhere);
        QFETCH(int, remembered);
        QFETCH(int, picked);
        QFETCH(int, held);
        for (int i = 0; i < taps; ++i) {
            beds.push_back(TapBed::make(QLatin1String(Names[i]), QLatin1String(Macs[i])));
            QVERIFY(beds.back()->plug() && beds.back()->startTap());
        }
        if (elsewhere >= 0)
            holdElsewhere(elsewhere);
        if (remembered >= 0)
            kept().setValue(ChoiceKey,
                            QLatin1String(remembered < Taps ? Macs[remembered] : NotAttached));
        const int first = picked >= 0 ? (elsewhere == 0 ? 1 : 0) : held;
        openWindow(first);
        QCOMPARE(chooser()->isVisible(), taps > 1);
        QCOMPARE(locks(), locksWith(first, elsewhere));

        if (taps > 1) {
            // Every tap by interface and address; only the one held by what holding it told.
            QCOMPARE(chooser()->count(), taps);
            QCOMPARE(chooser()->currentIndex(), first);
            for (int i = 0; i < taps; ++i) {
                const QString entry = chooser()->itemText(i);
                QVERIFY2(entry.startsWith(QStringLiteral("%1  %2").arg(Names[i], Macs[i])),
                         qPrintable(entry));
                QCOMPARE(entry.contains(QStringLiteral("generation 4, firmware 4.0")), i == first);
                QCOMPARE(entry.contains(QStringLiteral("in use by another program (PID %1)")
                                            .arg(holder ? holder->processId() : 0)),
                         i == elsewhere);
                QCOMPARE(entryOn(i), i != elsewhere);
            }
        }
        // Nothing reached a tap this window did not hold.
        for (int i = 0; i < taps; ++i)
            QCOMPARE(beds[i]->frames().isEmpty(), i != first);
        if (picked < 0)
            return;

        pickInList(chooser(), picked);
        QTRY_COMPARE_WITH_TIMEOUT(text("label_4"), QLatin1String(Macs[held]), FoundMs);
        QTRY_COMPARE(locks(), locksWith(held, elsewhere));
        QCOMPARE(chooser()->currentIndex(), held);
        // The tap left behind is still told by what holding it showed.
        QVERIFY(chooser()->itemText(first).contains(QStringLiteral("generation 4")));
        QCOMPARE(kept().value(ChoiceKey).toString(),
                 held == picked ? QLatin1String(Macs[picked]) : QString());

        // The next start takes the chosen tap again.
        delete std::exchange(w, nullptr);
        QCOMPARE(locks(), locksWith(-1, elsewhere));
        openWindow(held);
        QCOMPARE(locks(), locksWith(held, elsewhere));
    }

    // The list follows taps plugged in and out while one is held; with one left it goes.
    void theListFollowsTheTapsAttached()
    {
        for (int i = 0; i < Taps; ++i)
            beds.push_back(TapBed::make(QLatin1String(Names[i]), QLatin1String(Macs[i])));
        QVERIFY(beds[0]->plug() && beds[0]->startTap());
        openWindow(0);
        QVERIFY(!chooser()->isVisible());
        // Which tap, plugged in (true) or out.
        const std::pair<int, bool> steps[] = {{2, true}, {1, true}, {2, false}, {1, false}};
        int attached = 1;
        for (auto [i, plugged] : steps) {
            QVERIFY(plugged ? beds[i]->plug() && beds[i]->startTap() : beds[i]->unplug());
            attached += plugged ? 1 : -1;
            QTRY_COMPARE(chooser()->isVisible(), attached > 1);
            if (attached > 1) {
                QTRY_COMPARE(chooser()->count(), attached);
                QCOMPARE(chooser()->currentIndex(), 0);
            }
        }
        QCOMPARE(text("label_4"), QLatin1String(Macs[0]));
    }
};

QTEST_MAIN(TestWindowTaps)
#include "tst_window_taps.moc"
