// kalvessa100ctl as a script runs it: the real program against simulated taps, judged by its
// exit status, its output and the frames each tap received.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include <array>
#include <csignal>
#include <memory>

#include "FirmwareImage.h"
#include "HeldTap.h"
#include "ProgramRun.h"
#include "TapTestBed.h"
#include "TapWire.h"
#include "UpdateEndings.h"

using namespace wire;

namespace {

Run ctl(const QStringList &arguments)
{
    return program(QStringLiteral(KALVESSA100CTL), arguments);
}

// A command line as one string, split at its spaces.
Run ctl(const QString &arguments)
{
    return ctl(arguments.split(QLatin1Char(' ')));
}
Run ctl(const char *arguments)
{
    return ctl(QString::fromLatin1(arguments));
}

QJsonObject jsonOf(const Run &run)
{
    return QJsonDocument::fromJson(run.out.toUtf8()).object();
}

// The value at a path of keys ("error.code") in a JSON value.
QJsonValue at(QJsonValue value, const char *path)
{
    for (const QByteArray &key : QByteArray(path).split('.')) {
        bool isIndex = false;
        const int index = key.toInt(&isIndex);
        value = isIndex ? value.toArray().at(index) : value.toObject().value(QLatin1String(key));
    }
    return value;
}

// The settings used throughout, as options and as the register values they must become.
const QStringList ProfileOptions =
    QStringLiteral(
        "--filter=on --match=keep --eth-dst=00:0E:c6:*:*:* --eth-src=* --ethertype=08:00 "
        "--ip-proto=11 --ip-src=192.168.1.* --ip-dst=*.*.*.* --timestamps=off "
        "--crc-errors=on --fcs=off")
        .split(QLatin1Char(' '));
// The 23 match bytes in register order; "*" is a byte not compared, written as 0.
const char *const ProfileMatch = "00 0e c6 * * *  * * * * * *  08 00  11  c0 a8 01 *  * * * *";
constexpr uint8_t ProfileFlags = 0x0B;  // filter on, keep, capture CRC-error frames
constexpr uint8_t ControlByte = 0xFF;  // as the window writes it
// Generation 3: drop-CRC, strip-FCS, no-timestamps and filter-mode registers.
const QByteArray ProfileV3Flags = QByteArray::fromHex("00ffff f0");

// The care-mask registers (one bit per match byte, the first byte bit 22) and the match bytes.
QByteArray filterRegisterValues(const char *match)
{
    const QList<QByteArray> tokens = QByteArray(match).simplified().split(' ');
    quint32 careWord = 0;
    QByteArray bytes;
    for (int i = 0; i < tokens.size(); ++i) {
        const bool compared = tokens[i] != "*";
        careWord |= compared ? 1u << (tokens.size() - 1 - i) : 0;
        bytes.append(compared ? QByteArray::fromHex(tokens[i]) : QByteArray(1, '\0'));
    }
    const char care[3] = {char(careWord >> 16), char(careWord >> 8), char(careWord)};
    return QByteArray(care, 3) + bytes;
}

const QList<Access> Probe{{0x70, 0x70001, 0xFF}, {0x71, 0x70001, 0}, {0x71, 0x70001, 0}};
const QList<Access> ReadWorking = settingsReadOf(0x71);
const QList<Access> ReadStored = settingsReadOf(0x81);
const QByteArray ProfileV4 =
    QByteArray(1, char(ProfileFlags)) + char(ControlByte) + filterRegisterValues(ProfileMatch);

QList<Access> writeAndVerify(int writeOp, int readOp)
{
    return writesOf(writeOp, settingsRegisters(false), ProfileV4)
        + readsOf(readOp, settingsRegisters(false));
}

}  // namespace

class TestCli : public QObject
{
    Q_OBJECT

    QTemporaryDir scratch;

    // kvtap0 unless named otherwise.
    std::unique_ptr<TapTestBed> tap(const QStringList &options = {},
                                    const QString &name = QStringLiteral("kvtap0"),
                                    const QString &mac = QStringLiteral("00:0e:c6:12:34:56"))
    {
        auto bed = std::make_unique<TapTestBed>(name, mac);
        if (!bed->plug() || !bed->startTap(options))
            return nullptr;
        return bed;
    }

private slots:
    void initTestCase() { REQUIRE_TAP_TEST_BED(); }

    // Before anything reaches a tap: usage and input errors, and no tap at all.
    void refusedWithoutTouchingATap()
    {
        const Run version = ctl("--version");
        QCOMPARE(version.code, 0);
        QCOMPARE(version.out, QStringLiteral("kalvessa100ctl 5.0.4\n"));

        const QString missingFile = scratch.filePath(QStringLiteral("none.json"));
        // The arguments, then what the complaint must name.
        const QList<QPair<QString, QString>> refused{
            {QStringLiteral("apply --eth-dst=00:0e:c6"), QStringLiteral("--eth-dst")},
            {QStringLiteral("apply --ip-src=1.2.3.256"), QStringLiteral("--ip-src")},
            {QStringLiteral("apply --profile ") + missingFile, missingFile},
            {QStringLiteral("apply --profile /dev/zero"), QStringLiteral("/dev/zero: longer than")},
            {QStringLiteral("apply"), QStringLiteral("--profile")},
            {QStringLiteral("show --store"), QStringLiteral("store")},
            {QStringLiteral("flash"), QStringLiteral("flash")},
        };
        // Each also with --json: the same status, and the error as the one JSON document.
        for (const auto &[arguments, named] : refused) {
            const Run run = ctl(arguments);
            QVERIFY2(run.code == 2 && run.err.contains(named),
                     qPrintable(arguments + ": " + run.err));
            const Run json = ctl(QStringLiteral("--json ") + arguments);
            const QJsonObject error = jsonOf(json).value(QStringLiteral("error")).toObject();
            QVERIFY2(json.code == 2 && error.value(QStringLiteral("code")).toInt() == 2
                         && error.value(QStringLiteral("message")).toString().contains(named),
                     qPrintable(arguments + ": " + json.out));
        }
        for (const char *command : {"list", "show", "apply --fcs=on", "list --json",
                                    "show --all --json", "-t 00:0e:c6:00:00:01 show --json"}) {
            const Run run = ctl(command);
            QVERIFY2(run.code == 3, qPrintable(QString::fromLatin1(command) + ": " + run.err));
            if (QByteArray(command).contains("--json"))
                QCOMPARE(at(jsonOf(run), "error.code").toInt(), 3);
        }
    }

    // One tap: each apply writes only when the tap does not hold the result yet, and --check
    // never writes.
    void applyWritesOnlyWhatChanges()
    {
        const auto bed = tap();
        QVERIFY(bed);
        const QStringList apply = QStringList{QStringLiteral("apply")} + ProfileOptions;
        const QStringList store =
            apply + QStringList{QStringLiteral("--store"), QStringLiteral("--json")};
        struct Step
        {
            QStringList arguments;
            QList<Access> frames;
            bool changed;
        };
        const QList<Step> steps{
            {apply + QStringList{QStringLiteral("--json")},
             Probe + ReadWorking + writeAndVerify(0x70, 0x71), true},
            {apply + QStringList{QStringLiteral("--json")}, Probe + ReadWorking, false},
            {store + QStringList{QStringLiteral("--check")}, Probe + ReadWorking + ReadStored,
             true},
            {store,
             Probe + ReadWorking + ReadStored + writeAndVerify(0x70, 0x71)
                 + writesOf(0x80, settingsRegisters(false), ProfileV4) + QList<Access>{{0x8F, 0, 0}}
                 + readsOf(0x81, settingsRegisters(false)),
             true},
            {store, Probe + ReadWorking + ReadStored, false},
        };
        for (const Step &step : steps) {
            bed->clearFrames();
            const Run run = ctl(step.arguments);
            QVERIFY2(run.code == 0, qPrintable(run.err));
            QCOMPARE(jsonOf(run).value(QStringLiteral("changed")).toBool(), step.changed);
            QCOMPARE(accessesOf(bed->frames()), step.frames);
        }

        const Run show = ctl("show");
        QCOMPARE(show.code, 0);
        for (const char *line :
             {"eth-dst     00:0e:c6:*:*:*", "ip-src      192.168.1.*", "fcs         off"})
            QVERIFY2(show.out.contains(QLatin1String(line)), qPrintable(show.out));
        QVERIFY(ctl("apply --fcs=off").out.contains(QStringLiteral("Nothing written")));
        // The filter the tap holds, as libpcap takes it.
        QCOMPARE(ctl("filter-expression --tap").out,
                 QStringLiteral("len >= 29 and ether[0:2] = 0x000e and ether[2] = 0xc6 and "
                                "ether[12:2] = 0x0800 and ether[23] = 0x11 and ether[26:2] = "
                                "0xc0a8 and ether[28] = 0x01\n"));
    }

    // Several taps, named every way the command line takes them: each command reaches exactly
    // the taps it was given (each once), a command that serves one refuses two, and one not
    // named is asked for.
    void severalTaps()
    {
        const auto first = tap();
        const auto second = tap({QStringLiteral("--firmware-version"), QStringLiteral("3.0")},
                                QStringLiteral("kvtap1"), QStringLiteral("00:0e:c6:12:34:57"));
        QVERIFY(first && second);
        const QString folder = scratch.filePath(QStringLiteral("fleet"));
        const QList<Access> read = Probe + ReadWorking;
        const QList<Access> none;
        struct Row
        {
            QString arguments;
            int code;
            QList<Access> first, second;
        };
        // In order: the first row leaves both taps holding the profile.
        const QList<Row> rows{
            {QStringLiteral("apply --all"), 0, read + writeAndVerify(0x70, 0x71),
             read + writeAndVerify(0x70, 0x71)},
            {QStringLiteral("apply --fcs=off"), 2, none, none},
            {QStringLiteral("update-firmware -y"), 2, none, none},
            {QStringLiteral("show"), 2, none, none},
            {QStringLiteral("save-profile x.json"), 2, none, none},
            {QStringLiteral("show -t kvtap1"), 0, none, read},
            {QStringLiteral("show --tap 00:0e:c6:12:34:57"), 0, none, read},
            {QStringLiteral("show -i 00-0E-C6-12-34-57"), 0, none, read},
            {QStringLiteral("show --interface=000e.c612.3457"), 0, none, read},
            {QStringLiteral("-t 000ec6123457 show"), 0, none, read},
            {QStringLiteral("show 000ec6123456"), 0, read, none},
            {QStringLiteral("show kvtap1 00:0e:c6:12:34:57"), 0, none, read},
            {QStringLiteral("show -t kvtap1 kvtap0"), 0, read, read},
            {QStringLiteral("show --all"), 0, read, read},
            {QStringLiteral("save-profile ") + folder + QStringLiteral(" --all"), 0, read, read},
            {QStringLiteral("show -t 00:0e:c6:99:99:99"), 3, none, none},
            {QStringLiteral("show --all kvtap0"), 2, none, none},
            {QStringLiteral("filter-expression -t kvtap0 kvtap1"), 2, none, none},
            {QStringLiteral("filter-expression kvtap1"), 0, none, read},
            {QStringLiteral("save-profile - -t kvtap0 -t kvtap1"), 2, none, none},
        };
        for (const Row &row : rows) {
            first->clearFrames();
            second->clearFrames();
            QStringList arguments = row.arguments.split(QLatin1Char(' '));
            if (arguments.first() == QLatin1String("apply"))
                arguments += ProfileOptions;
            const Run run = ctl(arguments);
            QVERIFY2(run.code == row.code, qPrintable(row.arguments + ": " + run.err));
            QVERIFY2(accessesOf(first->frames()) == row.first, qPrintable(row.arguments));
            QVERIFY2(accessesOf(second->frames()) == row.second, qPrintable(row.arguments));
            if (row.code == 2 && row.first.isEmpty() && arguments.size() <= 2)
                QVERIFY2(run.err.contains(QStringLiteral(
                             "kvtap0 (00:0e:c6:12:34:56), kvtap1 (00:0e:c6:12:34:57)")),
                         qPrintable(run.err));
        }
        for (const char *file : {"00-0e-c6-12-34-56.json", "00-0e-c6-12-34-57.json"})
            QVERIFY(QFileInfo(folder + QLatin1Char('/') + QLatin1String(file)).isFile());

        // One document for all taps; the status is the worst tap's.
        const Run listed = ctl("--json list");
        QCOMPARE(listed.code, 0);
        const QJsonArray taps = jsonOf(listed).value(QStringLiteral("taps")).toArray();
        QCOMPARE(taps.size(), 2);
        QCOMPARE(taps[0].toObject().value(QStringLiteral("update_available")), QJsonValue());
        QCOMPARE(taps[1].toObject().value(QStringLiteral("update_available")).toString(),
                 QStringLiteral("4.0"));
        QVERIFY(
            ctl("list").out.contains(QStringLiteral("firmware 3.0 (type 0x220C), update available: "
                                                    "4.0\n")));
        const auto lock = holdTapLock("00:0e:c6:12:34:57");
        QVERIFY(lock);
        const Run both = ctl("show --all --json -q");
        QCOMPARE(both.code, 5);
        const QJsonArray entries = jsonOf(both).value(QStringLiteral("taps")).toArray();
        QCOMPARE(entries.size(), 2);
        QCOMPARE(at(entries[0], "exit_code").toInt(), 0);
        QCOMPARE(at(entries[0], "result.filter.eth_dst").toString(),
                 QStringLiteral("00:0e:c6:*:*:*"));
        QCOMPARE(at(entries[1], "mac").toString(), QStringLiteral("00:0e:c6:12:34:57"));
        QCOMPARE(at(entries[1], "error.code").toInt(), 5);
        QVERIFY(at(entries[1], "error.message").toString().contains(QStringLiteral("PID")));
    }

    // What --check tells before anything is written (the protocol a number means); a profile
    // moved between taps through a pipe; -q leaves only what was asked for.
    void standardStreamsAndQuiet()
    {
        const auto first = tap();
        const auto second = tap({}, QStringLiteral("kvtap1"), QStringLiteral("00:0e:c6:12:34:57"));
        QVERIFY(first && second);
        // What --check tells before anything is written: the protocol a number means.
        const std::pair<const char *, const char *> rows[] = {
            {"--ip-proto=udp", "  ip-proto    ff -> 11 (udp)\n"},
            {"--ip-proto=17", "  ip-proto    ff -> 17 (protocol 23)\n"},
            {"--ip-proto=0x06", "  ip-proto    ff -> 06 (tcp)\n"},
            {"--ethertype=0x86dd", "  ethertype   ff:ff -> 86:dd\n"},
            {"--eth-src=000E.C612.3456", "  eth-src     ff:ff:ff:ff:ff:ff -> 00:0e:c6:12:34:56\n"},
        };
        for (const auto &[option, line] : rows) {
            const Run run = ctl(QStringLiteral("apply --check kvtap1 ") + QLatin1String(option));
            QVERIFY2(run.code == 0 && run.out.contains(QLatin1String(line)), qPrintable(run.out));
        }
        const Run unknown = ctl("apply --check --ip-proto=nosuch kvtap1");
        QCOMPARE(unknown.code, 2);

        QCOMPARE(
            ctl(QStringList{QStringLiteral("apply"), QStringLiteral("-q"), QStringLiteral("kvtap0")}
                + ProfileOptions)
                .out,
            QString());
        second->clearFrames();
        QProcess pipe;
        pipe.start(QStringLiteral("bash"),
                   {QStringLiteral("-c"),
                    QStringLiteral("'%1' save-profile - -t kvtap0 | '%1' apply --profile - kvtap1")
                        .arg(QStringLiteral(KALVESSA100CTL))});
        const Run moved = finished(pipe);
        QVERIFY2(moved.code == 0, qPrintable(moved.err));
        QVERIFY2(moved.out.endsWith(QStringLiteral("Written to the working copy of kvtap1.\n")),
                 qPrintable(moved.out));
        QCOMPARE(accessesOf(second->frames()), Probe + ReadWorking + writeAndVerify(0x70, 0x71));
    }

    // Generation 3 cannot be read back: show fails, apply needs every setting and always writes.
    void generation3NeedsEverySetting()
    {
        const auto bed = tap({QStringLiteral("--generation"), QStringLiteral("3")});
        QVERIFY(bed);
        const Run show = ctl("show");
        QCOMPARE(show.code, 1);
        QVERIFY2(show.err.contains(QStringLiteral("cannot be read back")), qPrintable(show.err));
        const Run partial = ctl("apply --fcs=off --match=keep");
        QCOMPARE(partial.code, 2);
        QVERIFY2(partial.err.contains(QStringLiteral("Missing: --filter, --eth-dst")),
                 qPrintable(partial.err));

        bed->clearFrames();
        const Run whole = ctl(QStringList{QStringLiteral("apply")} + ProfileOptions);
        QVERIFY2(whole.code == 0, qPrintable(whole.err));
        QList<Access> sent = accessesOf(bed->frames());
        while (!sent.isEmpty() && sent.first() == Probe.first())
            sent.removeFirst();
        QList<int> order{0x70002, 0x70003, 0x70004, 0x70005};
        order += settingsRegisters(false).mid(2);
        QCOMPARE(sent, writesOf(0x70, order, ProfileV3Flags + filterRegisterValues(ProfileMatch)));
    }

    // A folder declares each tap's settings: its own file by MAC address, else default.json,
    // else it is left alone. A second run writes nothing; a tap's broken file is never passed
    // over for the default.
    void declaredFolder()
    {
        const auto first = tap();
        const auto second = tap({}, QStringLiteral("kvtap1"), QStringLiteral("00:0e:c6:12:34:57"));
        QVERIFY(first && second);
        const QByteArray profile = R"("filter": {"enabled": true, "match": "keep",
            "eth_dst": "00:0E:c6:*:*:*", "ethertype": "08:00", "ip_proto": "11",
            "ip_src": "192.168.1.*"}, "timestamps": false, "crc_errors": true, "fcs": false})";
        const QByteArray header = R"({"format": "kalvessa100-settings", "version": 1, )";
        // Folder -> file -> content; an empty content is a link that leads nowhere.
        const QList<std::array<QByteArray, 3>> files{
            {"full", "00-0e-c6-12-34-56.json", header + R"("store": true, )" + profile},
            {"full", "default.json", header + profile},
            {"own", "00-0e-c6-12-34-56.json", header + profile},
            {"broken", "00-0e-c6-12-34-56.json", header + R"("store": "yes", )" + profile},
            {"broken", "default.json", header + profile},
            {"dangling", "00-0e-c6-12-34-56.json", ""},
            {"dangling", "default.json", header + profile},
        };
        for (const auto &[folder, name, content] : files) {
            QVERIFY(QDir(scratch.path()).mkpath(QString::fromLatin1(folder)));
            const QString path = scratch.filePath(QString::fromLatin1(folder + '/' + name));
            if (content.isEmpty()) {
                QVERIFY(QFile::link(scratch.filePath(QStringLiteral("nowhere")), path));
                continue;
            }
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        }
        const QList<Access> read = Probe + ReadWorking;
        const QList<Access> none;
        const QList<Access> stored = writesOf(0x80, settingsRegisters(false), ProfileV4)
            + QList<Access>{{0x8F, 0, 0}} + readsOf(0x81, settingsRegisters(false));
        struct Row
        {
            QString arguments;
            int code;
            QList<Access> first, second;
            QString says;  // on standard error
        };
        // In order: the first row leaves the first tap holding the profile stored, the second
        // tap in its working copy.
        const QList<Row> rows{
            {QStringLiteral("apply --all --from-dir full"),
             0,
             read + ReadStored + writeAndVerify(0x70, 0x71) + stored,
             read + writeAndVerify(0x70, 0x71),
             {}},
            {QStringLiteral("apply --all --from-dir full"), 0, read + ReadStored, read, {}},
            {QStringLiteral("apply kvtap1 --from-dir own"), 0, none, none,
             QStringLiteral("holds neither 00-0e-c6-12-34-57.json nor default.json")},
            {QStringLiteral("apply -t kvtap0 -t kvtap1 --from-dir broken"), 2, none, read,
             QStringLiteral("00-0e-c6-12-34-56.json: \"store\" must be true or false")},
            {QStringLiteral("apply --all --from-dir dangling"), 2, none, read,
             QStringLiteral("00-0e-c6-12-34-56.json")},
            {QStringLiteral("apply --all --from-dir nosuch"), 2, none, none,
             QStringLiteral("nosuch is not a folder")},
            {QStringLiteral("apply --all --from-dir full --profile x.json"), 2, none, none,
             QStringLiteral("--from-dir")},
        };
        for (const Row &row : rows) {
            first->clearFrames();
            second->clearFrames();
            QStringList arguments = row.arguments.split(QLatin1Char(' '));
            const qsizetype folder = arguments.indexOf(QStringLiteral("--from-dir")) + 1;
            arguments[folder] = scratch.filePath(arguments[folder]);
            const Run run = ctl(arguments);
            QVERIFY2(run.code == row.code, qPrintable(row.arguments + ": " + run.err));
            QVERIFY2(accessesOf(first->frames()) == row.first, qPrintable(row.arguments));
            QVERIFY2(accessesOf(second->frames()) == row.second, qPrintable(row.arguments));
            QVERIFY2(run.err.contains(row.says), qPrintable(row.arguments + ": " + run.err));
        }

        // What a timer's script reads: which file each tap got, and that nothing changed.
        const Run json =
            ctl({QStringLiteral("apply"), QStringLiteral("--all"), QStringLiteral("--json"),
                 QStringLiteral("--from-dir"), scratch.filePath(QStringLiteral("full"))});
        QCOMPARE(json.code, 0);
        const QJsonArray taps = jsonOf(json).value(QStringLiteral("taps")).toArray();
        QCOMPARE(taps.size(), 2);
        for (const QJsonValue &entry : taps) {
            QCOMPARE(at(entry, "result.changed").toBool(true), false);
            QCOMPARE(at(entry, "result.written").toBool(true), false);
        }
        QVERIFY(at(taps[0], "result.profile").toString().endsWith(QStringLiteral("56.json")));
        QCOMPARE(at(taps[0], "result.store").toBool(), true);
        QVERIFY(at(taps[1], "result.profile").toString().endsWith(QStringLiteral("default.json")));
        QCOMPARE(at(taps[1], "result.store").toBool(), false);
    }

    // A termination signal during the update waits for its end; a stand-in image is only
    // written into the simulated tap.
    void updateFinishesDespiteSignal()
    {
        // Late replies keep the update running for seconds after its first page is reported,
        // so the signal sent then arrives while it runs.
        const auto bed = tap({QStringLiteral("--delay-ms"), QStringLiteral("3"),
                              QStringLiteral("--firmware-version"), QStringLiteral("0")});
        QVERIFY(bed);
        if (firmwareImageIsStandIn) {
            QProcess real;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.remove(QStringLiteral("KALVESSA_SIMULATED_TAP"));
            real.setProcessEnvironment(env);
            real.start(QStringLiteral(KALVESSA100CTL),
                       {QStringLiteral("update-firmware"), QStringLiteral("--yes")});
            const Run refused = finished(real);
            QVERIFY2(refused.code == 2 && refused.err.contains(QStringLiteral("--force-stand-in")),
                     qPrintable(refused.err));
            QVERIFY(bed->frames().isEmpty());
        }

        QProcess update;
        update.start(QStringLiteral(KALVESSA100CTL),
                     {QStringLiteral("update-firmware"), QStringLiteral("-y")});
        QVERIFY(update.waitForStarted());
        QByteArray seen;
        while (!seen.contains("page ") && update.state() == QProcess::Running) {
            if (update.waitForReadyRead(60000))
                seen += update.readAllStandardOutput();
        }
        // A tool that ended early has no process id any more (0), and kill(0) would reach the
        // whole process group: this test and whatever runs it.
        QVERIFY2(update.state() == QProcess::Running,
                 qPrintable(QString::fromLocal8Bit(seen + update.readAllStandardError())));
        const pid_t running = pid_t(update.processId());
        QVERIFY(running > 0);
        QCOMPARE(::kill(running, SIGTERM), 0);
        Run run = finished(update);
        run.out.prepend(QString::fromLocal8Bit(seen));
        QVERIFY2(run.code == 0, qPrintable(run.err));
        QVERIFY(run.out.contains(QStringLiteral(
            "page 768 of 768 (99%)\nending the programming run (100%)\nkvtap0: firmware 4.0 "
            "sent, not yet verified")));
        QVERIFY2(run.err.contains(QStringLiteral("goes on to its end")), qPrintable(run.err));

        // Output piped into a reader that leaves early: the update still runs to its end.
        QProcess piped;
        piped.start(QStringLiteral("bash"),
                    {QStringLiteral("-c"),
                     QStringLiteral("'%1' update-firmware --yes | head -n 1; exit ${PIPESTATUS[0]}")
                         .arg(QStringLiteral(KALVESSA100CTL))});
        QCOMPARE(finished(piped).code, 0);

        const QList<int> opcodes = opcodesOf(bed->frames());
        QCOMPARE(opcodes.count(0xB1), 2 * 768);
        QCOMPARE(opcodes.count(0xB2), 2);
        QCOMPARE(opcodes.last(), 0xB2);

        // Every page taken, the end refused: a failure, however far the progress went.
        bed->stopTap();
        QVERIFY(bed->startTap({QStringLiteral("--wrong-code"), QStringLiteral("b2:ff"),
                               QStringLiteral("--firmware-version"), QStringLiteral("0")}));
        const Run refused = ctl("update-firmware --yes");
        QCOMPARE(refused.code, 1);
        QVERIFY2(refused.out.endsWith(QStringLiteral("page 768 of 768 (99%)\n")),
                 qPrintable(refused.out));
        QVERIFY2(
            refused.err.contains(QStringLiteral("did not complete: end, refused with code 0xFF")),
            qPrintable(refused.err));
    }

    // The tool's half of the table the window's test runs too: what update-firmware --wait
    // says once the tap has been unplugged and plugged in again (or was not), and its status.
    void updateEndsAsTheTapAnswers_data()
    {
        // Through the helper, the rows the veth bed runs for the window: how the restart is
        // judged does not depend on the transport, and each generation-3 update takes 40 s.
        const bool throughHelper = qEnvironmentVariable("KALVESSA_TAP_LINK") == u"helper";
        updateEndingRows([throughHelper](bool endToEnd) { return endToEnd || !throughHelper; });
    }
    void updateEndsAsTheTapAnswers()
    {
        QFETCH(int, row);
        const UpdateEnding &ending = updateEndings().at(row);
        const auto bed = tap(ending.tapOptions);
        QVERIFY(bed);
        QProcess update;
        update.start(QStringLiteral(KALVESSA100CTL),
                     {QStringLiteral("update-firmware"), QStringLiteral("--yes"),
                      QStringLiteral("--wait"), QStringLiteral("--timeout"),
                      ending.replug ? QStringLiteral("60") : QStringLiteral("2"),
                      QStringLiteral("--json")});
        QVERIFY(update.waitForStarted());
        // The last page is sent once the tool says it waits (on standard error, beside JSON).
        update.setReadChannel(QProcess::StandardError);
        QByteArray said;
        while (!said.contains("waiting up to") && update.state() == QProcess::Running) {
            if (update.waitForReadyRead(60000))
                said += update.readAllStandardError();
        }
        const QByteArray image(reinterpret_cast<const char *>(firmwareImage), firmwareImageLength);
        QCOMPARE(bed->flash().left(firmwareImageLength) == image, ending.exactFlash);
        if (ending.replug) {
            QVERIFY(bed->setUp(false));
            QTest::qWait(300);  // as long as pulling the plug takes: nothing else to await
            QVERIFY(bed->setUp(true));
        }
        Run run = finished(update);
        run.err.prepend(QString::fromLocal8Bit(said));
        QVERIFY2(run.code == ending.exitStatus, qPrintable(run.err));
        QVERIFY2(run.err.contains(QLatin1String(ending.tool)), qPrintable(run.err));
        const QJsonObject json = jsonOf(run);
        QVERIFY2(json.value(QStringLiteral("sent")).toBool()
                     && json.value(QStringLiteral("waited")).toBool(),
                 qPrintable(run.out));
        QCOMPARE(json.value(QStringLiteral("restart")).toString()
                     == QLatin1String("answers_current"),
                 ending.exitStatus == 0);
        QCOMPARE(at(json, "error.code").toInt(), ending.exitStatus);
    }

    // Every other word and status of update-firmware, apply and list about what a tap confirms:
    // the arguments, then the status, what the output must hold and a JSON key's value.
    void wordsAndStatuses_data()
    {
        QTest::addColumn<QStringList>("tapOptions");
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("words");
        QTest::addColumn<QString>("jsonPath");
        QTest::addColumn<QJsonValue>("jsonValue");
        QTest::addColumn<bool>("programs");  // a programming run reached the tap
        const QStringList current, old{QStringLiteral("--firmware-version"), QStringLiteral("3.0")},
            silent{QStringLiteral("--silent")};
        QTest::newRow("4.0 already")
            << current << "update-firmware --yes" << 0 << "already up to date"
            << "up_to_date" << QJsonValue(true) << false;
        QTest::newRow("4.0, forced")
            << current << "update-firmware --yes --force" << 0 << "sent, not yet verified"
            << "acknowledged" << QJsonValue(true) << true;
        QTest::newRow("3.0 without --wait")
            << old << "update-firmware --yes" << 0
            << "sent, not yet verified (every page acknowledged by the tap). Unplug and replug "
               "the tap to start it, then check with: "
               "kalvessa100ctl list"
            << "restart" << QJsonValue(QJsonValue::Undefined) << true;
        QTest::newRow("silent tap listed")
            << silent << "list" << 0 << "no answer (generation 3, or not responding)"
            << "taps.0.answers" << QJsonValue(false) << false;
        QTest::newRow("silent tap applied")
            << silent << "apply " + ProfileOptions.join(QLatin1Char(' ')) << 0
            << "Sent to kvtap0; the tap cannot confirm it."
            << "confirmed" << QJsonValue(false) << false;
        QTest::newRow("silent tap updated") << silent << "update-firmware --yes" << 0
                                            << "the tap answers nothing, so no page was "
                                               "acknowledged"
                                            << "acknowledged" << QJsonValue(false) << false;
        QTest::newRow("--timeout without --wait") << old << "update-firmware --yes --timeout 5" << 2
                                                  << "--timeout takes 1 to 86400 seconds"
                                                  << "error.code" << QJsonValue(2) << false;
    }
    void wordsAndStatuses()
    {
        QFETCH(QStringList, tapOptions);
        QFETCH(QString, arguments);
        QFETCH(int, code);
        QFETCH(QString, words);
        QFETCH(QString, jsonPath);
        QFETCH(QJsonValue, jsonValue);
        QFETCH(bool, programs);
        const auto bed = tap(tapOptions);
        QVERIFY(bed);
        const QStringList split = arguments.split(QLatin1Char(' '));
        const Run text = ctl(split);
        QVERIFY2(text.code == code && (text.out + text.err).contains(words),
                 qPrintable(text.out + text.err));
        QCOMPARE(opcodesOf(bed->frames()).contains(0xB0), programs);
        // Never "written" for what the tap could not confirm.
        QVERIFY2(!text.out.contains(QStringLiteral("Written")), qPrintable(text.out));
        const Run json = ctl(split + QStringList{QStringLiteral("--json")});
        QCOMPARE(json.code, code);
        QCOMPARE(at(jsonOf(json), jsonPath.toLatin1().constData()), jsonValue);
    }

    // A tap another program holds (5, with its PID) or that cannot be reached (4, with why and
    // the fix: how to grant the privilege only where the privilege is what is missing).
    void heldOrUnreachable()
    {
        const auto bed = tap();
        QVERIFY(bed);
        {
            const auto lock = holdTapLock("00:0e:c6:12:34:56");
            QVERIFY(lock);
            const Run held = ctl("show");
            QCOMPARE(held.code, 5);
            QVERIFY2(
                held.err.contains(QStringLiteral("PID %1").arg(QCoreApplication::applicationPid())),
                qPrintable(held.err));
        }
        struct Row
        {
            QStringList link;  // ip link set kvtap0 ...
            QStringList runAs;  // before the program: nothing, or setpriv taking the privilege
            QString says;
            bool hint;
        };
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        if (setpriv.isEmpty())
            QSKIP("setpriv is needed to take the capture privilege away");
        const QList<Row> rows{
            {{QStringLiteral("down")},
             {},
             QStringLiteral("kvtap0: cannot be reached: kvtap0 is down: `ip link set dev kvtap0 "
                            "up`"),
             false},
            {{QStringLiteral("up"), QStringLiteral("mtu"), QStringLiteral("100")},
             {},
             QStringLiteral("kvtap0: cannot be reached: kvtap0's MTU is 100; the tap's frames "
                            "need 1500: `ip link set dev kvtap0 mtu 1500`"),
             false},
            {{QStringLiteral("mtu"), QStringLiteral("1500")},
             {setpriv, QStringLiteral("--bounding-set=-net_raw,-net_admin")},
             QStringLiteral("kvtap0: cannot capture on it: "),
             true},
        };
        for (const Row &row : rows) {
            QVERIFY(TapTestBed::ip(
                QStringList{QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("kvtap0")}
                + row.link));
            const QStringList command = row.runAs
                + QStringList{QStringLiteral(KALVESSA100CTL), QStringLiteral("apply"),
                              QStringLiteral("--fcs=on")};
            QProcess process;
            process.start(command.first(), command.mid(1));
            const Run run = finished(process);
            QCOMPARE(run.code, 4);
            QVERIFY2(run.err.contains(row.says), qPrintable(run.err));
            QVERIFY2(run.err.contains(QStringLiteral("usermod -aG kalvessa")) == row.hint
                         && run.err.contains(QStringLiteral("setcap cap_net_raw=eip /"))
                             == row.hint,
                     qPrintable(run.err));
        }
        QVERIFY(bed->frames().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
