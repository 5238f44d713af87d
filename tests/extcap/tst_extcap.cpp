// kalvessa100-extcap as Wireshark runs it: Debian's tshark against the simulated tap in a
// namespace of the test's own, the extcap put into tshark's extcap folder there; the capture
// helper's FIFO mode on its own; the dissector over exchanges the simulated tap recorded.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtTest>

#include <csignal>
#include <memory>

#include <net/if.h>
#include <netpacket/packet.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include "CaptureBytes.h"
#include "HeldTap.h"
#include "ProgramRun.h"
#include "TapTestBed.h"
#include "TapWire.h"

using namespace wire;

namespace {

const QString Mac = QStringLiteral("00:0e:c6:12:34:56");
const QString Iface = QStringLiteral("kalvessa100-000ec6123456");
const QString Prefs = QStringLiteral("extcap.kalvessa100_000ec6123456.");
const QByteArray Foreign = QByteArray::fromHex("ffffffffffff024b564a4e4b88b6");

Run extcap(const QStringList &arguments)
{
    return program(QStringLiteral(KALVESSA100_EXTCAP), arguments);
}

Run extcapConfig()
{
    return extcap({QStringLiteral("--extcap-config"), QStringLiteral("--extcap-interface"), Iface});
}

// The option lines of --extcap-config: each option's call, its default (a string's, or the
// selector's value marked default) and its validation pattern and group.
struct ConfigOption
{
    QString defaultValue;
    QString validation;
    QString group;
};
QMap<QString, ConfigOption> parseConfig(const QString &text)
{
    static const QRegularExpression fieldPattern(QStringLiteral("\\{([a-z]+)=([^}]*)\\}"));
    QMap<QString, ConfigOption> options;
    QMap<QString, QString> callOf;
    for (const QString &line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        QMap<QString, QString> fields;
        for (auto it = fieldPattern.globalMatch(line); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            fields.insert(m.captured(1), m.captured(2));
        }
        if (line.startsWith(QLatin1String("arg "))) {
            const QString call = fields.value(QStringLiteral("call"));
            callOf.insert(fields.value(QStringLiteral("number")), call);
            options.insert(call,
                           {fields.value(QStringLiteral("default")),
                            fields.value(QStringLiteral("validation")),
                            fields.value(QStringLiteral("group"))});
        } else if (line.startsWith(QLatin1String("value "))
                   && fields.value(QStringLiteral("default")) == QLatin1String("true")) {
            options[callOf.value(fields.value(QStringLiteral("arg")))].defaultValue =
                fields.value(QStringLiteral("value"));
        }
    }
    return options;
}

// A little-endian word of a pcap file written on this host; 0 past the file's end.
quint32 wordAt(const QByteArray &file, qsizetype at)
{
    if (at < 0 || file.size() - at < 4)
        return 0;
    quint32 value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | quint8(file.at(at + i));
    return value;
}

// A pcap file read record by record; nothing when it is not whole (a record cut short, a
// header that is not pcap's).
std::optional<QList<QByteArray>> pcapFrames(const QByteArray &file)
{
    const auto word = [&](qsizetype at) { return wordAt(file, at); };
    constexpr int GlobalHeader = 24;
    constexpr int RecordHeader = 16;
    if (file.size() < GlobalHeader || word(0) != 0xa1b2c3d4 || word(20) != 1)
        return std::nullopt;
    QList<QByteArray> frames;
    for (qsizetype at = GlobalHeader; at < file.size();) {
        if (file.size() - at < RecordHeader)
            return std::nullopt;
        const quint32 captured = word(at + 8);
        if (file.size() - at - RecordHeader < qsizetype(captured))
            return std::nullopt;
        frames.append(file.mid(at + RecordHeader, captured));
        at += RecordHeader + captured;
    }
    return frames;
}

bool isControlFrame(const QByteArray &frame)
{
    return frame.size() >= 12 && frame.left(12) == QByteArray(12, '\0');
}

// The settings writes among what the tap received: the generation probe's write is no setting.
QList<Access> settingsWrites(const QList<TapFrame> &frames)
{
    QList<Access> writes;
    for (const Access &access : accessesOf(frames)) {
        if ((access.opcode == 0x70 || access.opcode == 0x80) && access.address != 0x70001)
            writes.append(access);
    }
    return writes;
}

// Frames into the tap's interface from the far end, as the monitored link would bring them.
bool sendFrames(const QString &farEnd, const QList<QByteArray> &frames)
{
    const int s = ::socket(AF_PACKET, SOCK_RAW, 0);
    sockaddr_ll to{};
    to.sll_family = AF_PACKET;
    to.sll_ifindex = int(if_nametoindex(farEnd.toLocal8Bit().constData()));
    to.sll_halen = 6;
    bool sent = s >= 0;
    for (const QByteArray &frame : frames)
        sent = sent
            && ::sendto(s, frame.constData(), size_t(frame.size()), 0,
                        reinterpret_cast<sockaddr *>(&to), sizeof to)
                == frame.size();
    if (s >= 0)
        ::close(s);
    return sent;
}

// The extcap capturing into a FIFO whose reader copies it into `output`, as Wireshark reads it.
struct FifoCapture
{
    QString output;
    QProcess reader;
    QProcess capture;
};

std::unique_ptr<FifoCapture> captureIntoFifo(const QString &fifo, const QStringList &more = {})
{
    auto run = std::make_unique<FifoCapture>();
    run->output = fifo + QStringLiteral(".pcap");
    run->reader.setStandardOutputFile(run->output);
    run->reader.start(QStringLiteral("cat"), {fifo});
    run->capture.start(QStringLiteral(KALVESSA100_EXTCAP),
                       QStringList{QStringLiteral("--capture"),
                                   QStringLiteral("--extcap-interface"), Iface,
                                   QStringLiteral("--fifo"), fifo}
                           + more);
    if (!run->capture.waitForStarted() || !run->reader.waitForStarted())
        return nullptr;
    return run;
}

}  // namespace

class TestExtcap : public QObject
{
    Q_OBJECT

    QTemporaryDir scratch;
    QString tshark;

    std::unique_ptr<TapTestBed> tap(const QStringList &options = {})
    {
        auto bed = std::make_unique<TapTestBed>(QStringLiteral("kvtap0"), Mac);
        if (!bed->plug() || !bed->startTap(options))
            return nullptr;
        return bed;
    }

    QString fifo(const char *name)
    {
        const QString path = scratch.filePath(QLatin1String(name));
        QFile::remove(path);
        return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0 ? path : QString();
    }

    Run tsharkCapture(const QStringList &settings, int packets, const QString &output)
    {
        QStringList arguments{QStringLiteral("-i"), Iface,
                              QStringLiteral("-a"), QStringLiteral("packets:%1").arg(packets),
                              QStringLiteral("-F"), QStringLiteral("pcap"),
                              QStringLiteral("-w"), output};
        for (const QString &setting : settings)
            arguments << QStringLiteral("-o") << Prefs + setting;
        return program(tshark, arguments);
    }

    Run dissected(const QString &capture)
    {
        return program(tshark,
                       {QStringLiteral("-X"), QStringLiteral("lua_script:" KALVESSA_DISSECTOR),
                        QStringLiteral("-V"), QStringLiteral("-r"), capture});
    }

private slots:
    void initTestCase()
    {
        REQUIRE_TAP_TEST_BED();
        tshark = QStandardPaths::findExecutable(QStringLiteral("tshark"));
        if (tshark.isEmpty() && qEnvironmentVariableIsSet("CI"))
            QFAIL("tshark is not installed (scripts/install-deps.sh installs it)");
        if (tshark.isEmpty())
            QSKIP("tshark is not installed (scripts/install-deps.sh installs it)");
        // Debian's tshark reads extcap programs from one folder and, run as root, takes no
        // other from the environment: the test's own folder goes over it in this namespace's
        // private mounts, holding only the extcap under test.
        const Run folders = program(tshark, {QStringLiteral("-G"), QStringLiteral("folders")});
        const QRegularExpressionMatch found =
            QRegularExpression(QStringLiteral("Extcap path:\\s*(\\S+)")).match(folders.out);
        QVERIFY2(found.hasMatch(), qPrintable(folders.out));
        const QString extcapDir = scratch.filePath(QStringLiteral("extcap"));
        QVERIFY(QDir().mkpath(extcapDir));
        QVERIFY(QFile::link(QStringLiteral(KALVESSA100_EXTCAP),
                            extcapDir + QStringLiteral("/kalvessa100-extcap")));
        QVERIFY2(::mount(QFile::encodeName(extcapDir).constData(),
                         QFile::encodeName(found.captured(1)).constData(), nullptr, MS_BIND,
                         nullptr)
                     == 0,
                 strerror(errno));
    }

    void listedByTshark()
    {
        const auto bed = tap();
        QVERIFY(bed);
        const Run listed = program(tshark, {QStringLiteral("-D")});
        QVERIFY2(listed.out.contains(
                     Iface + QStringLiteral(" (Kalvessa 100 on kvtap0 (00:0e:c6:12:34:56))")),
                 qPrintable(listed.out + listed.err));
        const Run dlts =
            extcap({QStringLiteral("--extcap-dlts"), QStringLiteral("--extcap-interface"), Iface});
        QCOMPARE(dlts.out, QStringLiteral("dlt {number=1}{name=EN10MB}{display=Ethernet}\n"));
    }

    // tshark with the options set captures the monitored traffic; the settings are written
    // before the capture starts, and a second run with the same values writes nothing.
    void captureAppliesOnceThenCaptures()
    {
        const auto bed = tap({QStringLiteral("--background-rate"), QStringLiteral("2000")});
        QVERIFY(bed);
        const QStringList settings{QStringLiteral("filter:on"),
                                   QStringLiteral("match:keep"),
                                   QStringLiteral("ethdst:00:0e:c6:*:*:*"),
                                   QStringLiteral("ethertype:08:00"),
                                   QStringLiteral("ipsrc:192.168.1.*"),
                                   QStringLiteral("crcerrors:on")};
        // The registers those options change from the simulated tap's first settings: flags,
        // the care masks, the compared bytes (the rest stay as the tap holds them).
        for (int round = 0; round < 2; ++round) {
            bed->clearFrames();
            const QString output = scratch.filePath(QStringLiteral("round%1.pcap").arg(round));
            const Run run = tsharkCapture(settings, 50, output);
            QVERIFY2(run.code == 0, qPrintable(run.err));
            const std::optional<QList<QByteArray>> frames = pcapFrames(fileBytes(output));
            QVERIFY(frames);
            QCOMPARE(frames->size(), 50);
            for (const QByteArray &frame : *frames)
                QVERIFY2(frame.startsWith(Foreign), frame.left(16).toHex().constData());
            const QList<TapFrame> received = bed->frames();
            const QList<Access> writes = settingsWrites(received);
            if (round == 1) {
                QCOMPARE(writes, QList<Access>());
                continue;
            }
            QVERIFY(writes.contains(Access{0x70, 0x70201, 0x0e}));
            QVERIFY(writes.contains(Access{0x70, 0x70202, 0xc6}));
            QVERIFY(writes.contains(Access{0x70, 0x7020c, 0x08}));
            // Written before the first frame was captured.
            double lastWrite = 0;
            for (const TapFrame &frame : received) {
                if (byteAt(frame.bytes, OpcodeAt) == 0x70)
                    lastWrite = frame.time;
            }
            const QByteArray file = fileBytes(output);
            QVERIFY2(file.size() >= 32, "the capture holds no frame");
            const quint32 seconds = wordAt(file, 24), micros = wordAt(file, 28);
            QVERIFY(lastWrite > 0);
            QVERIFY(lastWrite <= seconds + micros / 1e6);
        }
        // The extcap's config now shows what the tap holds.
        const QMap<QString, ConfigOption> config = parseConfig(extcapConfig().out);
        QCOMPARE(config.value(QStringLiteral("--eth-dst")).defaultValue,
                 QStringLiteral("00:0e:c6:*:*:*"));
        QCOMPARE(config.value(QStringLiteral("--ip-src")).defaultValue,
                 QStringLiteral("192.168.1.*"));
        QCOMPARE(config.value(QStringLiteral("--crc-errors")).defaultValue, QStringLiteral("on"));
    }

    // What the options dialog offers: generation 4 prefilled with the tap's settings,
    // generation 3 without any, saying why.
    void configOffersTheTapsSettings_data()
    {
        QTest::addColumn<QStringList>("tapOptions");
        QTest::addColumn<QStringList>("applied");
        QTest::addColumn<QStringList>("defaults");  // call=value; empty: no option has one
        QTest::addColumn<QString>("group");
        QTest::newRow("generation 4")
            << QStringList()
            << QStringList{QStringLiteral("--match=discard"), QStringLiteral("--ethertype=86:dd"),
                           QStringLiteral("--ip-proto=udp"),
                           QStringLiteral("--eth-src=02:*:*:*:*:01"), QStringLiteral("--fcs=off")}
            << QStringList{QStringLiteral("--match=discard"),
                           QStringLiteral("--ethertype=86:dd"),
                           QStringLiteral("--ip-proto=11"),
                           QStringLiteral("--eth-src=02:*:*:*:*:01"),
                           QStringLiteral("--fcs=off"),
                           QStringLiteral("--store=false")}
            << QStringLiteral("Capture settings of the tap");
        QTest::newRow("generation 3")
            << QStringList{QStringLiteral("--generation"), QStringLiteral("3")} << QStringList()
            << QStringList{QStringLiteral("--filter="), QStringLiteral("--eth-dst="),
                           QStringLiteral("--timestamps="), QStringLiteral("--store=false")}
            << QStringLiteral("cannot be read back");
    }
    void configOffersTheTapsSettings()
    {
        QFETCH(QStringList, tapOptions);
        QFETCH(QStringList, applied);
        QFETCH(QStringList, defaults);
        QFETCH(QString, group);
        const auto bed = tap(tapOptions);
        QVERIFY(bed);
        if (!applied.isEmpty()) {
            const Run apply = program(QStringLiteral(KALVESSA100CTL),
                                      QStringList{QStringLiteral("apply")} + applied);
            QVERIFY2(apply.code == 0, qPrintable(apply.err));
        }
        const Run run = extcapConfig();
        QVERIFY2(run.code == 0, qPrintable(run.err));
        const QMap<QString, ConfigOption> config = parseConfig(run.out);
        QCOMPARE(config.size(), 12);  // every setting, and --store
        for (const QString &expected : defaults) {
            const QString call = expected.section(QLatin1Char('='), 0, 0);
            QVERIFY2(config.contains(call), qPrintable(call));
            QCOMPARE(config.value(call).defaultValue, expected.section(QLatin1Char('='), 1));
        }
        for (const ConfigOption &option : config)
            QVERIFY2(option.group.contains(group), qPrintable(option.group));
    }

    // A value Wireshark's dialog would refuse by the pattern the extcap gives is refused by
    // the extcap too, before it takes the tap; a well-formed one passes the pattern. One row
    // per option: each notation is judged against the parser in tst_extcapoptions.
    void malformedRefusedBeforeWriting_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("valid");
        struct Row
        {
            const char *name;
            const char *option;
            const char *value;
            bool valid;
        };
        const Row rows[] = {
            {"mac with wildcards", "--eth-dst", "00:0e:c6:*:*:*", true},
            {"protocol by name", "--ip-proto", "udp", true},
            {"mac one byte short", "--eth-dst", "00:0e:c6:12:34", false},
            {"mac one byte over", "--eth-src", "00:0e:c6:12:34:56:78", false},
            {"ethertype of three bytes", "--ethertype", "08:00:01", false},
            {"protocol over a byte", "--ip-proto", "0x123", false},
            {"octet over 255", "--ip-src", "192.168.1.256", false},
            {"three octets", "--ip-dst", "10.0.1", false},
        };
        for (const Row &row : rows)
            QTest::newRow(row.name)
                << QString::fromLatin1(row.option) << QString::fromLatin1(row.value) << row.valid;
    }
    void malformedRefusedBeforeWriting()
    {
        QFETCH(QString, option);
        QFETCH(QString, value);
        QFETCH(bool, valid);
        const auto bed = tap();
        QVERIFY(bed);
        const QMap<QString, ConfigOption> config = parseConfig(extcapConfig().out);
        const QRegularExpression pattern(config.value(option).validation);
        QVERIFY2(pattern.isValid(), qPrintable(pattern.pattern()));
        QCOMPARE(pattern.match(value).hasMatch(), valid);
        if (valid)
            return;
        bed->clearFrames();
        const Run run = extcap({QStringLiteral("--capture"), QStringLiteral("--extcap-interface"),
                                Iface, QStringLiteral("--fifo"), fifo("refused"),
                                QStringLiteral("--filter=on"), option + QLatin1Char('=') + value});
        QCOMPARE(run.code, 2);
        QVERIFY2(run.err.contains(QStringLiteral("%1 \"%2\": expected").arg(option, value)),
                 qPrintable(run.err));
        QCOMPARE(bed->frames().size(), 0);
    }

    // Refusals worded as kalvessa100ctl words them, with its exit codes.
    void refusedInTheToolsWords()
    {
        const auto bed = tap({QStringLiteral("--generation"), QStringLiteral("3")});
        QVERIFY(bed);
        const QStringList capture{QStringLiteral("--capture"), QStringLiteral("--fifo"),
                                  fifo("words"), QStringLiteral("--extcap-interface")};
        struct Row
        {
            QStringList arguments;
            int code;
            QString says;
        };
        const QList<Row> rows{
            {capture + QStringList{QStringLiteral("kalvessa100-000ec6999999")}, 3,
             QStringLiteral(
                 "00:0e:c6:99:99:99: no Kalvessa 100 with this MAC address is attached.")},
            {capture + QStringList{QStringLiteral("eth0")}, 2,
             QStringLiteral("eth0: not an interface of kalvessa100-extcap")},
            {capture + QStringList{Iface, QStringLiteral("--filter=on")}, 2,
             QStringLiteral("kvtap0 runs generation 3, which cannot be read back, so every setting "
                            "must be given. Missing: --match")},
        };
        for (const Row &row : rows) {
            const Run run = extcap(row.arguments);
            QCOMPARE(run.code, row.code);
            QVERIFY2(run.err.contains(row.says), qPrintable(run.err));
        }
        const auto lock = holdTapLock("00:0e:c6:12:34:56");
        QVERIFY(lock);
        const Run held = extcap(capture + QStringList{Iface, QStringLiteral("--filter=on")});
        QCOMPARE(held.code, 5);
        QVERIFY2(held.err.contains(QStringLiteral("kvtap0: in use by another program (PID %1)")
                                       .arg(QCoreApplication::applicationPid())),
                 qPrintable(held.err));
    }

    // However the capture ends, what the FIFO's reader got is a whole pcap of the monitored
    // traffic without the tap's own frames, and the counts are told.
    void endsCleanly_data()
    {
        QTest::addColumn<int>("ending");
        QTest::newRow("SIGTERM to the extcap") << 0;
        QTest::newRow("the reader goes away") << 1;
        QTest::newRow("the extcap is killed: the helper's input ends") << 2;
    }
    void endsCleanly()
    {
        QFETCH(int, ending);
        // Zero-address junk on the line too: it must not be passed on.
        const auto bed = tap({QStringLiteral("--background-rate"), QStringLiteral("1000"),
                              QStringLiteral("--junk-rate"), QStringLiteral("500")});
        QVERIFY(bed);
        const auto c = captureIntoFifo(fifo("ending"));
        QVERIFY(c);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(c->output).size() > 24 + (16 + 60) * 60, 10000);
        switch (ending) {
        case 0: ::kill(pid_t(c->capture.processId()), SIGTERM); break;
        case 1: c->reader.kill(); break;
        case 2: c->capture.kill(); break;
        }
        QVERIFY(c->reader.waitForFinished(10000));
        const Run run = finished(c->capture, 10000);
        if (ending != 2) {
            QCOMPARE(run.code, 0);
            QVERIFY2(run.err.contains(QRegularExpression(
                         QStringLiteral("kvtap0: \\d+ packets captured, \\d+ passed on, \\d+ "
                                        "dropped"))),
                     qPrintable(run.err));
        }
        if (ending == 1)
            return;  // what the reader took is cut where it was killed
        const std::optional<QList<QByteArray>> frames = pcapFrames(fileBytes(c->output));
        QVERIFY(frames);
        QVERIFY(frames->size() >= 60);
        for (const QByteArray &frame : *frames)
            QVERIFY2(!isControlFrame(frame), frame.left(16).toHex().constData());
    }

    // Only what Wireshark's capture filter admits reaches the FIFO, and never the tap's own
    // frames, not even when the filter asks for them; what arrived before SIGTERM is all there.
    void captureFilterHonoured_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<int>("foreign");  // frames of EtherType 0x88b5 expected
        QTest::addColumn<int>("ipv4");  // frames of EtherType 0x0800 expected
        QTest::newRow("no filter") << "" << 20 << 20;
        QTest::newRow("one EtherType") << "ether proto 0x88b5" << 20 << 0;
        QTest::newRow("either") << "ether proto 0x0800 or ether proto 0x88b5" << 20 << 20;
        QTest::newRow("asking for the tap's own frames") << "ether src 00:00:00:00:00:00" << 0 << 0;
    }
    void captureFilterHonoured()
    {
        QFETCH(QString, filter);
        QFETCH(int, foreign);
        QFETCH(int, ipv4);
        const auto bed = tap();
        QVERIFY(bed);
        const auto c = captureIntoFifo(
            fifo("filtered"),
            filter.isEmpty() ? QStringList()
                             : QStringList{QStringLiteral("--extcap-capture-filter"), filter});
        QVERIFY(c);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(c->output).size() >= 24, 10000);  // capturing

        QList<QByteArray> frames;
        for (int i = 0; i < 20; ++i) {
            frames << (Foreign.left(12) + QByteArray::fromHex("88b5")).leftJustified(60, char(i))
                   << (Foreign.left(12) + QByteArray::fromHex("0800")).leftJustified(60, char(i))
                   << request(0x70, 0x70201, uint8_t(i), 60);
        }
        QVERIFY(sendFrames(bed->tapInterface(), frames));
        ::kill(pid_t(c->capture.processId()), SIGTERM);
        QVERIFY(c->reader.waitForFinished(10000));
        QCOMPARE(finished(c->capture, 10000).code, 0);
        const std::optional<QList<QByteArray>> captured = pcapFrames(fileBytes(c->output));
        QVERIFY(captured);
        QMap<QByteArray, int> byType;
        for (const QByteArray &frame : *captured)
            ++byType[frame.mid(12, 2).toHex()];
        QCOMPARE(byType.value("88b5"), foreign);
        QCOMPARE(byType.value("0800"), ipv4);
        QCOMPARE(byType.value("0000"), 0);
        QCOMPARE(captured->size(), foreign + ipv4);
    }

    // The privileged helper writes into a FIFO only, captures on a tap only and takes only a
    // filter libpcap compiles; each refusal is one line and status 2, before anything is written.
    void helperFifoRefusals_data()
    {
        QTest::addColumn<QString>("interface");
        QTest::addColumn<QString>("target");  // fifo, file, missing, directory, link-to-file
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("reason");
        const auto row = [](const char *name, const char *interface, const char *target,
                            const char *filter, const char *reason) {
            QTest::newRow(name) << QString::fromLatin1(interface) << QString::fromLatin1(target)
                                << QString::fromLatin1(filter) << QString::fromLatin1(reason);
        };
        row("not a tap", "lo", "fifo", "", "lo is not a Kalvessa 100 tap");
        row("no such interface", "kvnone0", "fifo", "", "kvnone0: No such device exists");
        row("an option for an interface", "--help", "fifo", "", "not an interface name");
        row("a regular file", "kvtap0", "file", "", "is not a FIFO");
        row("a link to a regular file", "kvtap0", "link", "", "is not a FIFO");
        row("a directory", "kvtap0", "directory", "", "is not a FIFO");
        row("nothing there", "kvtap0", "missing", "", "No such file or directory");
        row("filter that does not compile", "kvtap0", "fifo", "tcp port", "filter \"tcp port\": ");
        row("filter of an unknown host", "kvtap0", "fifo", "host no.such.host.invalid",
            "filter \"host no.such");
    }
    void helperFifoRefusals()
    {
        QFETCH(QString, interface);
        QFETCH(QString, target);
        QFETCH(QString, filter);
        QFETCH(QString, reason);
        const auto bed = tap();
        QVERIFY(bed);
        const QString file = scratch.filePath(QStringLiteral("kept.txt"));
        QVERIFY(writeFile(file, "kept\n"));
        QString path = scratch.filePath(QStringLiteral("target-") + target);
        QFile::remove(path);
        if (target == QLatin1String("fifo"))
            path = fifo("helper");
        else if (target == QLatin1String("file"))
            path = file;
        else if (target == QLatin1String("link"))
            QVERIFY(QFile::link(file, path));
        else if (target == QLatin1String("directory"))
            path = scratch.path();
        QStringList arguments{QStringLiteral("--fifo"), path};
        if (!filter.isEmpty())
            arguments << QStringLiteral("--filter") << filter;
        const Run run = program(QStringLiteral(KALVESSA_LINK_HELPER_BUILT), arguments << interface);
        QCOMPARE(run.code, 2);
        QCOMPARE(run.err.count(QLatin1Char('\n')), 1);
        QVERIFY2(run.err.startsWith(QStringLiteral("kalvessa100-link: "))
                     && run.err.contains(reason),
                 qPrintable(run.err));
        QCOMPARE(fileBytes(file), QByteArray("kept\n"));
    }

    // The dissector over a Read, an Apply and a firmware update of each generation as the
    // simulated tap recorded them: every field shown.
    void dissectorShowsEveryField_data()
    {
        QTest::addColumn<QStringList>("tapOptions");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("generation 4")
            << QStringList{QStringLiteral("--firmware-version"), QStringLiteral("3.9")}
            << QStringList{
                   QStringLiteral("Kind: request"),
                   QStringLiteral("Kind: reply"),
                   QStringLiteral("Command: Write register (0x70)"),
                   QStringLiteral("Command: Read register (0x71)"),
                   QStringLiteral("Register address: 0x070202"),
                   QStringLiteral("Register value: 0xc6"),
                   QStringLiteral("Reply code: Register written (7)"),
                   QStringLiteral("Reply code: Register read (23)"),
                   QStringLiteral("[Answer to: Read register (0x71)]"),
                   QStringLiteral("Command: Begin programming (0xb0)"),
                   QStringLiteral("Reply code: Programming begun (11)"),
                   QStringLiteral("Command: Program page (0xb1)"),
                   QStringLiteral("Page index: 767"),
                   QStringLiteral("[Place in the image (byte offset): 196352]"),
                   QStringLiteral("Page data: "),
                   QStringLiteral("Reply code: Page programmed (27)"),
                   QStringLiteral("Command: End programming (0xb2)"),
                   QStringLiteral("Reply code: Programming ended (43)"),
               };
        QTest::newRow("generation 3")
            << QStringList{QStringLiteral("--generation"), QStringLiteral("3")}
            << QStringList{QStringLiteral("Command: Erase sector (generation 3) (0xee)"),
                           QStringLiteral("Sector address: 0x010000"),
                           QStringLiteral("Command: Write page (generation 3) (0xdd)"),
                           QStringLiteral("Place in the image (byte offset): 512"),
                           QStringLiteral("[Page index: 2]"),
                           QStringLiteral("Register address: 0x070201"),
                           QStringLiteral("Register value: 0x0e")};
    }
    void dissectorShowsEveryField()
    {
        QFETCH(QStringList, tapOptions);
        QFETCH(QStringList, shown);
        const QString recorded = scratch.filePath(QStringLiteral("exchanges.pcap"));
        const auto bed = tap(tapOptions + QStringList{QStringLiteral("--record-pcap"), recorded});
        QVERIFY(bed);
        const QString ctl = QStringLiteral(KALVESSA100CTL);
        const QStringList every =
            QStringLiteral("apply --filter=on --match=keep --eth-dst=00:0e:c6:*:*:* --eth-src=* "
                           "--ethertype=08:00 --ip-proto=11 --ip-src=* --ip-dst=* --timestamps=off "
                           "--crc-errors=on --fcs=off")
                .split(QLatin1Char(' '));
        QCOMPARE(program(ctl, every).code, 0);
        if (tapOptions.contains(QStringLiteral("3.9")))
            QCOMPARE(program(ctl, {QStringLiteral("show")}).code, 0);
        const Run update = program(ctl,
                                   {QStringLiteral("update-firmware"), QStringLiteral("--yes"),
                                    QStringLiteral("--force-stand-in")});
        QVERIFY2(update.code == 0, qPrintable(update.err));
        const Run decoded = dissected(recorded);
        QVERIFY2(decoded.code == 0, qPrintable(decoded.err));
        for (const QString &line : shown)
            QVERIFY2(decoded.out.contains(line), qPrintable(line));
        QVERIFY(!decoded.out.contains(QStringLiteral("Malformed")));
    }

    // Frames that do not fit are shown malformed, with nothing read from what is missing; what
    // is not the tap's is left to Ethernet.
    void dissectorNeverGuesses_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("notShown");
        const QByteArray zero(14, '\0');
        QTest::newRow("register write cut before its value")
            << request(0x70, 0x70201, QByteArray(), 19) << "Malformed: Write register needs 20"
            << "Register value";
        QTest::newRow("page cut in its data")
            << request(0xB1, 5, QByteArray(), 200) << "Malformed: Program page needs 275"
            << "Page data";
        QTest::newRow("no command at all") << zero + QByteArray(1, '\0') << "no command"
                                           << "Command:";
        QTest::newRow("unknown code") << request(0x42, 1, 0) << "Unknown command or reply code"
                                      << "Register address";
        QTest::newRow("refusal") << request(0xFF, 0x300, 0) << "Refused by the tap: True"
                                 << "Malformed";
        QTest::newRow("reserved byte set")
            << QByteArray(request(0x71, 1, 0)).replace(14, 1, "\x01") << "Reserved byte is not zero"
            << "Malformed";
        QTest::newRow("someone else's EtherType 0") << QByteArray::fromHex("020000000001")
                + QByteArray(8, '\0') + request(0x70, 1, 1).mid(14)
                                                    << "Ethernet II"
                                                    << "Kalvessa 100 control";
    }
    void dissectorNeverGuesses()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QString, shown);
        QFETCH(QString, notShown);
        const QString path = scratch.filePath(QStringLiteral("one.pcap"));
        QVERIFY(writeFile(path,
                          capturebytes::pcapHeader(1)
                              + capturebytes::pcapRecord(frame, uint32_t(frame.size()))));
        const Run decoded = dissected(path);
        QVERIFY2(decoded.out.contains(shown), qPrintable(decoded.out));
        QVERIFY2(!decoded.out.contains(notShown), qPrintable(decoded.out));
    }
};

QTEST_GUILESS_MAIN(TestExtcap)
#include "tst_extcap.moc"
