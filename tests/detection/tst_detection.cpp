// The worker on its real thread against the simulated tap, inside a private network namespace.
#include <algorithm>
#include <optional>

#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>

#include <poll.h>
#include <unistd.h>

#include "Detection.h"
#include "Diagnostics.h"
#include "FrameLayout.h"
#include "InterfaceDiscovery.h"
#include "MV1Device_v4.h"
#include "SettingsRegisterMap.h"
#include "StdoutCapture.h"
#include "TapService.h"
#include "TapWire.h"

namespace {

// Only ever waited out on a failure; a silent tap's probes alone take over three seconds.
constexpr int Wait = 20000;
const QString TapMac = QStringLiteral("00:0e:c6:12:34:56");
const QByteArray Probe = wire::request(opcode::WriteRegister, reg::Control, probe::Value);
using Events = QStringList;

bool ip(const QStringList &arguments)
{
    return TapTestBed::ip(arguments);
}

// The worker's current record; nothing when it holds no tap.
std::optional<DeviceSettings> recordOf(Detection &worker)
{
    DeviceSettings s;
    return worker.copySettings(s) == 0 ? std::optional(s) : std::nullopt;
}

DeviceSettings sampleSettings(uint8_t control)
{
    DeviceSettings s;
    s.setControlByte(control);
    s.setFirmwareVersion(0x9999);  // status words are the tap's: posting never changes them
    return s;
}

QStringList failuresOf(const QList<TapOutcome> &outcomes)
{
    QStringList out;
    for (const TapOutcome &o : outcomes)
        if (o.failed())
            out << o.failure.text();
    return out;
}

// The frames' opcodes in hex, a run of one as "op+": "70 71+" is one 0x70, then 0x71s.
QString runsOf(const QList<TapFrame> &frames)
{
    QStringList ops;
    for (const TapFrame &f : frames)
        ops << QString::fromLatin1(f.bytes.mid(wire::OpcodeAt, 1).toHex());
    return ops.join(' ').replace(QRegularExpression("(\\w\\w)( \\1)+"), "\\1+");
}

// A worker, started, its signals recorded as the window receives them: queued, in this thread.
// An outcome is told as "<action> <result>": "update failed".
struct Watched : QObject
{
    Watched()
    {
        static const char *const Actions[] = {"write", "store", "read", "update"};
        static const char *const Results[] = {"done", "unconfirmed", "failed", "cancelled"};
        connect(&worker, &Detection::MV1Changed, this, [this] { events << "changed"; });
        connect(&worker, &Detection::operationEnded, this, [this] {
            for (const TapOutcome &o : worker.takeOutcomes()) {
                outcomes << o;
                events << QStringLiteral("%1 %2").arg(Actions[int(o.action)],
                                                      Results[int(o.result)]);
            }
        });
        connect(&worker, &Detection::MV1UpdateProgress, this, [this](int p) { progress << p; });
        worker.start();
    }
    QStringList events;
    QList<TapOutcome> outcomes;
    QList<int> progress;
    Detection worker;  // last, so it is gone before what its signals reach
};

}  // namespace

class DetectionTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        REQUIRE_TAP_TEST_BED();
        diagnostics::writeTo(stdout);  // as the window has it
    }

    void withoutUsableTapNothingIsTakenAndRequestsStillAnswer()
    {
        // All the namespace lists is loopback (an all-zero address) and the capture library's
        // catch-all device (no address at all); neither is a tap, so only the read signals.
        Watched w;
        w.worker.requestRead();
        QTRY_COMPARE_WITH_TIMEOUT(w.events, (Events{"read failed", "changed"}), Wait);
        QVERIFY(!recordOf(w.worker));

        // An update fails at once; a write still ends in a signal. Then a tap listed under a
        // fifteen-character name, its link down: reported under the whole name, not taken.
        w.worker.requestUpdate();
        QTRY_COMPARE_WITH_TIMEOUT(w.events.size(), 3, Wait);
        w.worker.requestWrite(sampleSettings(0x15), true);
        const QString name = QStringLiteral("kvtap0123456789");
        QVERIFY(
            ip({"link", "add", name, "address", TapMac, "type", "veth", "peer", "name", "kvpeer"}));
        const auto remove = qScopeGuard([&] { ip({"link", "del", name}); });
        QTRY_COMPARE_WITH_TIMEOUT(w.events,
                                  (Events{"read failed", "changed", "update failed", "store failed",
                                          "changed", "changed"}),
                                  Wait);
        QVERIFY(w.progress.isEmpty());
        QCOMPARE(failuresOf(w.outcomes), QStringList(3, QStringLiteral("no tap is attached")));
        QString reported;
        QVERIFY(w.worker.unreachableTap(&reported, nullptr));
        QCOMPARE(reported, name);
    }

    void requestsWaitingBehindAnUpdateRunInTheirOrder()
    {
        // Slow replies make the update hold the worker long enough to post behind it. The tap
        // takes every page, then refuses to end the run: the update fails, however far its
        // progress went, and says so once.
        TapTestBed bed(QStringLiteral("kvtap0"), TapMac);
        QVERIFY(bed.plug() && bed.startTap({"--wrong-code", "b2:ff", "--delay-ms", "2"}));
        Watched w;
        QTRY_COMPARE_WITH_TIMEOUT(w.events, Events{"changed"}, Wait);
        QCOMPARE(w.worker.deviceGeneration(), 4);
        QCOMPARE(bed.frames().first().bytes, Probe);
        QCOMPARE(runsOf(bed.frames()), "70 71+");  // the probe, its read-back, the settings read
        uint8_t mac[6] = {};
        QVERIFY(w.worker.deviceHardwareAddress(mac));
        QCOMPARE(mac[5], 0x56);
        const DeviceSettings fresh = *recordOf(w.worker);

        bed.clearFrames();
        w.worker.requestUpdate();
        QTRY_VERIFY_WITH_TIMEOUT(!w.progress.isEmpty(), Wait);
        // Taken together once the update is over: the update first, then the write (the last
        // one posted replaces the one before, store and all, which ends cancelled), then the
        // read.
        w.worker.requestWrite(sampleSettings(0x15), true);
        w.worker.requestRead();
        w.worker.requestUpdate();
        w.worker.requestWrite(sampleSettings(0x0A), false);
        const Events ended{"changed",    "update failed", "store cancelled", "update failed",
                           "write done", "changed",       "read done",       "changed"};
        QTRY_COMPARE_WITH_TIMEOUT(w.events, ended, Wait);
        const QList<TapFrame> frames = bed.frames();
        QCOMPARE(runsOf(frames), "b0 b1+ b2 b0 b1+ b2 70+ 71+");
        QCOMPARE(wire::bytesOf(frames).count(wire::request(opcode::EndProgramming, 0)), 2);
        QCOMPARE(failuresOf(w.outcomes),
                 QStringList(2, QStringLiteral("end, refused with code 0xFF")));
        // Each run: one figure, never falling, stopped short of 100 by the refused end.
        const QList<int> run = w.progress.mid(0, w.progress.size() / 2);
        QCOMPARE(w.progress, run + run);
        QVERIFY(std::is_sorted(run.begin(), run.end()));
        QCOMPARE(run.last(), 99);
        // The record is what was posted last, with the tap's own status words.
        DeviceSettings expected = sampleSettings(0x0A);
        expected.setFirmwareVersion(fresh.firmwareVersion());
        expected.setFirmwareTypeCode(fresh.firmwareTypeCode());
        expected.setControlByte(0x0A);
        QVERIFY(recordOf(w.worker) == expected);
        // A write alone, with no read behind it to refresh the record.
        w.worker.requestWrite(sampleSettings(0x0B), false);
        QTRY_COMPARE_WITH_TIMEOUT(w.events.size(), ended.size() + 2, Wait);
        expected.setControlByte(0x0B);
        QVERIFY(recordOf(w.worker) == expected);

        // The same tap, restarted fresh, now refuses register writes: the failure is reported
        // with its register, and the record shows what the tap holds, not what was posted.
        bed.stopTap();
        QVERIFY(bed.startTap({"--wrong-code", "70:ff"}));
        w.worker.requestWrite(sampleSettings(0x0A), false);
        QTRY_COMPARE_WITH_TIMEOUT(w.events.size(), ended.size() + 4, Wait);
        QCOMPARE(w.events.mid(ended.size()),
                 (Events{"write done", "changed", "write failed", "changed"}));
        QCOMPARE(failuresOf(w.outcomes).last(),
                 QStringLiteral("register 0x70000, refused with code 0xFF"));
        QVERIFY(recordOf(w.worker) == fresh);

        QVERIFY(bed.unplug());
        QTRY_COMPARE_WITH_TIMEOUT(w.events.size(), ended.size() + 5, Wait);
        QVERIFY(!recordOf(w.worker));
    }

    void tapIsTakenOnlyOnceItCanBeCapturedOn()
    {
        // A silent tap behind a link that is down: probing it would fail and, taken for
        // generation 3, it would swallow every write.
        TapTestBed bed(QStringLiteral("kvtap0"), TapMac);
        QVERIFY(bed.plug() && bed.startTap({"--silent"}) && ip({"link", "set", "kvtap0", "down"}));
        StdoutCapture out;
        Watched w;
        QTRY_COMPARE_WITH_TIMEOUT(w.events, Events{"changed"}, Wait);
        QString name, reason;
        QVERIFY(w.worker.unreachableTap(&name, &reason));
        QCOMPARE(name, "kvtap0");
        QCOMPARE(reason, "kvtap0 is down: `ip link set dev kvtap0 up`");
        QCOMPARE(w.worker.deviceGeneration(), 0);
        // Tried again every tick, but said once while the reason stays the same. Nothing
        // changes that could be waited for, so this waits out two ticks.
        QTest::qWait(2 * Detection::TickMs + 200);
        QCOMPARE(out.text().count("Cannot open interface : "), 1);
        QCOMPARE(w.events, Events{"changed"});

        // Once up: three probes of ten sends each, then taken for generation 3, which
        // cannot be read.
        QVERIFY(ip({"link", "set", "kvtap0", "up"}));
        QTRY_COMPARE_WITH_TIMEOUT(w.worker.deviceGeneration(), 3, Wait);
        QVERIFY(!w.worker.unreachableTap(nullptr, nullptr));
        QCOMPARE(wire::bytesOf(bed.frames()),
                 QList<QByteArray>(probe::Attempts * MV1Device_v4::MaxSendAttempts, Probe));
        QVERIFY(recordOf(w.worker) == DeviceSettings());
    }

    void heldTapGoneLetsTheOtherOneBeTaken()
    {
        TapTestBed a(QStringLiteral("kvtapa"), QStringLiteral("00:0e:c6:00:00:0a"));
        TapTestBed b(QStringLiteral("kvtapb"), QStringLiteral("00:0e:c6:00:00:0b"));
        QVERIFY(a.plug() && b.plug() && a.startTap() && b.startTap());
        bool aFirst = false;
        const InterfaceListPtr list = listInterfaces();
        for (pcap_if_t *e = list ? list->head : nullptr; e && qstrcmp(e->name, "kvtapb");
             e = e->next)
            aFirst = aFirst || !qstrcmp(e->name, "kvtapa");
        Watched w;
        QTRY_COMPARE_WITH_TIMEOUT(w.events, Events{"changed"}, Wait);
        QCOMPARE(w.worker.snapshot().interfaceName, aFirst ? "kvtapa" : "kvtapb");
        QVERIFY((aFirst ? b : a).frames().isEmpty());

        // The held tap's interface gone: dropped, then the other one is taken, with its own
        // address.
        QVERIFY((aFirst ? a : b).unplug());
        QTRY_COMPARE_WITH_TIMEOUT(w.events, (Events{"changed", "changed", "changed"}), Wait);
        uint8_t mac[6] = {};
        QVERIFY(w.worker.deviceHardwareAddress(mac));
        QCOMPARE(mac[5], aFirst ? 0x0B : 0x0A);
    }

    // A renamed interface has its tap back under the new name. The kernel renames only a link
    // that is down, and a link that went down may come back with the tap restarted into other
    // firmware, so the tap is dropped meanwhile and probed anew once the link is up.
    void aRenamedInterfaceKeepsItsTap()
    {
        TapTestBed bed(QStringLiteral("kvtap0"), TapMac);
        QVERIFY(bed.plug() && bed.startTap());
        const auto renameBack = qScopeGuard([] {
            ip({"link", "set", "kvtapx", "down"});
            ip({"link", "set", "kvtapx", "name", "kvtap0"});
        });
        Watched w;
        QTRY_COMPARE_WITH_TIMEOUT(w.events, Events{"changed"}, Wait);
        QVERIFY(ip({"link", "set", "kvtap0", "down"})
                && ip({"link", "set", "kvtap0", "name", "kvtapx"})
                && ip({"link", "set", "kvtapx", "up"}));
        QTRY_COMPARE_WITH_TIMEOUT(w.worker.snapshot().interfaceName, "kvtapx", Wait);
        QCOMPARE(w.worker.deviceGeneration(), 4);
        QCOMPARE(w.worker.snapshot().taking, 2);  // taken anew, not followed blindly
        const int before = int(w.events.size());
        w.worker.requestRead();
        QTRY_COMPARE_WITH_TIMEOUT(w.events.mid(before), (Events{"read done", "changed"}), Wait);
        QCOMPARE(w.worker.snapshot().interfaceName, "kvtapx");
    }

    void gettersReadWhileTheWorkerPublishes()
    {
        // The window polls as a busy window would while the worker reads the tap again and
        // again; under ThreadSanitizer any getter that skips the lock shows up here.
        TapTestBed bed(QStringLiteral("kvtap0"), TapMac);
        QVERIFY(bed.plug() && bed.startTap());
        Watched w;
        QTRY_COMPARE_WITH_TIMEOUT(w.events, Events{"changed"}, Wait);
        for (int round = 1; round <= 20; ++round) {
            w.worker.requestRead();
            while (w.outcomes.size() < round) {
                QVERIFY(recordOf(w.worker));
                QCoreApplication::processEvents();
            }
        }
        QVERIFY(failuresOf(w.outcomes).isEmpty());
    }

    // The worker looks at once when the kernel tells of a link coming or going; a link deleted
    // while down is told of by nothing but its deletion.
    void linkNotificationsWakeTheWorker_data()
    {
        QTest::addColumn<QStringList>("change");
        QTest::newRow("added") << QStringList{"link", "add", "kvmon1", "type", "veth"};
        QTest::newRow("deleted") << QStringList{"link", "del", "kvmon0"};
    }

    void linkNotificationsWakeTheWorker()
    {
        QFETCH(QStringList, change);
        QVERIFY(ip({"link", "add", "kvmon0", "type", "veth", "peer", "name", "kvmon0p"}));
        const auto remove = qScopeGuard([] {
            ip({"link", "del", "kvmon0"});
            ip({"link", "del", "kvmon1"});
        });
        LinkMonitor links;
        QVERIFY(links.fd() >= 0);
        QVERIFY(!links.drain());
        QVERIFY(ip(change));
        pollfd told{links.fd(), POLLIN, 0};
        QCOMPARE(::poll(&told, 1, Wait), 1);
        QVERIFY(links.drain());
    }

    void aTapHeldByAnotherWorkerIsLeftAlone()
    {
        TapTestBed bed(QStringLiteral("kvtap0"), TapMac);
        QVERIFY(bed.plug() && bed.startTap());
        auto first = std::make_unique<Watched>();
        QTRY_COMPARE_WITH_TIMEOUT(first->events, Events{"changed"}, Wait);
        bed.clearFrames();

        Watched second;
        QTRY_COMPARE_WITH_TIMEOUT(second.events, Events{"changed"}, Wait);
        const TapProblem problem = second.worker.snapshot().problem;
        QCOMPARE(problem.kind, TapProblem::Kind::InUse);
        QCOMPARE(problem.ownerPid, qint64(::getpid()));
        QVERIFY(bed.frames().isEmpty());

        first.reset();  // its lock goes with it
        QTRY_COMPARE_WITH_TIMEOUT(second.events.size(), 2, Wait);
        QCOMPARE(second.worker.deviceGeneration(), 4);
    }
};

QTEST_GUILESS_MAIN(DetectionTest)
#include "tst_detection.moc"
