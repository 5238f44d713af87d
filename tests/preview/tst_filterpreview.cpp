// What the tap's filter keeps, as modelled on the host: each row of settings judged over the
// same frames by the matcher, by libpcap running the printed expression, and by
// kalvessa100ctl preview over a capture file made of those frames.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

#include <pcap/pcap.h>

#include "CaptureBytes.h"
#include "FrequentPairs.h"
#include "ProgramRun.h"
#include "SettingsFile.h"
#include "TapFilterModel.h"

using namespace capturebytes;

namespace {

struct TestFrame
{
    const char *name;
    QByteArray bytes;  // as captured
    uint32_t wireLength;
};

// An untagged IPv4/UDP frame of 60 bytes, then one change at a time.
QByteArray baseFrame()
{
    QByteArray frame = QByteArray::fromHex("000ec6123456"
                                           "001122334455"
                                           "0800"
                                           "4500002e00000000"
                                           "4011"
                                           "0000"
                                           "c0a8010a"
                                           "0a000001");
    return frame + QByteArray(60 - frame.size(), '\0');
}

QByteArray changed(int offset, char value)
{
    QByteArray frame = baseFrame();
    frame[offset] = value;
    return frame;
}

const QList<TestFrame> &frames()
{
    static const QList<TestFrame> list{
        {"base", baseFrame(), 60},
        {"dst", changed(5, 0x57), 60},
        {"src", changed(6, 0x01), 60},
        {"type", changed(12, char(0x86)), 60},
        {"proto", changed(23, 0x06), 60},
        {"ip src", changed(28, 0x02), 60},
        {"ip dst", changed(33, 0x02), 60},
        {"30 bytes", baseFrame().left(30), 30},  // too short for the IPv4 destination
        {"20 bytes", baseFrame().left(20), 20},  // too short for the IPv4 protocol
        {"snap 24", baseFrame().left(24), 60},  // snap length cuts before the IPv4 source
        {"snap 24, dst", changed(5, 0x57).left(24), 60},
    };
    return list;
}

QByteArray profile(const char *filter)
{
    return QByteArray(R"({"format": "kalvessa100-settings", "version": 1, "filter": {)") + filter
        + "}}";
}

DeviceSettings settingsOf(const QByteArray &content)
{
    QString error;
    const std::optional<SettingsPatch> patch = SettingsFile::parse(content, &error);
    if (!patch)
        qFatal("%s", qPrintable(error));
    return patch->appliedTo(DeviceSettings());
}

// A capture file of the frames through libpcap's own writer, so the program's reader is
// checked against the library's idea of the format.
bool writeCapture(const QString &path, const QList<TestFrame> &list)
{
    pcap_t *dead = pcap_open_dead(DLT_EN10MB, 65535);
    pcap_dumper_t *dumper = pcap_dump_open(dead, qPrintable(path));
    if (dumper == nullptr)
        return false;
    for (int i = 0; i < list.size(); ++i) {
        pcap_pkthdr header{{i, 0}, uint32_t(list[i].bytes.size()), list[i].wireLength};
        pcap_dump(reinterpret_cast<u_char *>(dumper), &header,
                  reinterpret_cast<const u_char *>(list[i].bytes.constData()));
    }
    pcap_dump_close(dumper);
    pcap_close(dead);
    return true;
}

QList<QByteArray> framesIn(const QString &path)
{
    char error[PCAP_ERRBUF_SIZE];
    pcap_t *reader = pcap_open_offline(qPrintable(path), error);
    QList<QByteArray> read;
    pcap_pkthdr *header = nullptr;
    const u_char *data = nullptr;
    while (reader != nullptr && pcap_next_ex(reader, &header, &data) == 1)
        read << QByteArray(reinterpret_cast<const char *>(data), int(header->caplen));
    if (reader != nullptr)
        pcap_close(reader);
    return read;
}

Run ctl(const QStringList &arguments)
{
    return program(QStringLiteral(KALVESSA100CTL), arguments);
}

QJsonObject jsonOf(const Run &run)
{
    return QJsonDocument::fromJson(run.out.toUtf8()).object();
}

qint64 countOf(const Run &run, const char *tally, const char *what)
{
    return jsonOf(run)
        .value(QLatin1String(tally))
        .toObject()
        .value(QLatin1String(what))
        .toInteger();
}

}  // namespace

class TestFilterPreview : public QObject
{
    Q_OBJECT

    QTemporaryDir scratch;

    QString file(const char *name) const { return scratch.filePath(QLatin1String(name)); }

private slots:
    void judgedThreeWays_data()
    {
        QTest::addColumn<QByteArray>("settings");
        // One letter per frame of frames(): K kept, D discarded, U undecided.
        QTest::addColumn<QString>("verdicts");

        const auto row = [](const char *name, const char *filter, const char *verdicts) {
            QTest::newRow(name) << profile(filter) << QString::fromLatin1(verdicts);
        };
        row("off", R"("enabled": false, "eth_dst": "00:00:00:00:00:00")", "KKKKKKKKKKK");
        row("nothing compared, keep", R"("enabled": true, "match": "keep")", "KKKKKKKKKKK");
        row("nothing compared, discard", R"("enabled": true, "match": "discard")", "DDDDDDDDDDD");
        row("eth dst", R"("enabled": true, "match": "keep", "eth_dst": "00:0e:c6:12:34:56")",
            "KDKKKKKKKKD");
        row("eth dst, last bytes wild", R"("enabled": true, "match": "keep",
            "eth_dst": "00:0e:c6:*:*:*")",
            "KKKKKKKKKKK");
        row("eth src", R"("enabled": true, "match": "keep", "eth_src": "00:11:22:33:44:55")",
            "KKDKKKKKKKK");
        row("ethertype", R"("enabled": true, "match": "keep", "ethertype": "08:00")",
            "KKKDKKKKKKK");
        row("ethertype high byte", R"("enabled": true, "match": "keep", "ethertype": "86:*")",
            "DDDKDDDDDDD");
        row("ip proto", R"("enabled": true, "match": "keep", "ip_proto": "11")", "KKKKDKKKDKK");
        row("ip src, last octet wild", R"("enabled": true, "match": "keep",
            "ip_src": "192.168.1.*")",
            "KKKKKDKKDUU");
        row("ip dst", R"("enabled": true, "match": "keep", "ip_dst": "10.0.0.1")", "KKKKKKDDDUU");
        row("ip dst, discard", R"("enabled": true, "match": "discard", "ip_dst": "10.0.0.1")",
            "DDDDDDKKKUU");
        row("every field", R"("enabled": true, "match": "keep", "eth_dst": "00:0e:c6:12:34:56",
            "eth_src": "00:11:22:33:44:55", "ethertype": "08:00", "ip_proto": "11",
            "ip_src": "192.168.1.10", "ip_dst": "10.0.0.1")",
            "KDDDDDDDDUD");
        row("every field, discard", R"("enabled": true, "match": "discard",
            "eth_dst": "00:0e:c6:12:34:56", "eth_src": "00:11:22:33:44:55", "ethertype": "08:00",
            "ip_proto": "11", "ip_src": "192.168.1.10", "ip_dst": "10.0.0.1")",
            "DKKKKKKKKUK");
        row("scattered bytes", R"("enabled": true, "match": "keep", "eth_dst": "*:0e:*:12:34:*",
            "eth_src": "*:*:*:*:*:55", "ethertype": "08:*", "ip_dst": "*.0.*.1")",
            "KKKDKKDDDUU");
    }

    void judgedThreeWays()
    {
        QFETCH(QByteArray, settings);
        QFETCH(QString, verdicts);
        const QList<TestFrame> &list = frames();
        QCOMPARE(verdicts.size(), list.size());
        const TapFilterModel model(settingsOf(settings));

        pcap_t *dead = pcap_open_dead(DLT_EN10MB, 65535);
        bpf_program program{};
        const QByteArray expression = model.expression().toLatin1();
        QVERIFY2(pcap_compile(dead, &program, expression.constData(), 1, PCAP_NETMASK_UNKNOWN) == 0,
                 pcap_geterr(dead));
        qint64 kept = 0, keptBytes = 0, discarded = 0, undecided = 0;
        QList<QByteArray> keptFrames;
        for (int i = 0; i < list.size(); ++i) {
            const auto *data = reinterpret_cast<const uint8_t *>(list[i].bytes.constData());
            const uint32_t captured = uint32_t(list[i].bytes.size());
            const char seen = "KDU"[int(model.decide(data, captured, list[i].wireLength))];
            QVERIFY2(seen == verdicts[i], list[i].name);
            // libpcap drops an undecided frame whatever the expression says.
            const pcap_pkthdr header{{0, 0}, captured, list[i].wireLength};
            QVERIFY2((pcap_offline_filter(&program, &header, data) != 0) == (seen == 'K'),
                     qPrintable(QStringLiteral("%1: %2").arg(list[i].name, expression)));
            kept += seen == 'K';
            keptBytes += seen == 'K' ? list[i].wireLength : 0;
            discarded += seen == 'D';
            undecided += seen == 'U';
            if (seen == 'K')
                keptFrames << list[i].bytes;
        }
        pcap_freecode(&program);
        pcap_close(dead);

        const QString capture = file("frames.pcap");
        const QString profilePath = file("settings.json");
        const QString out = file("kept.pcap");
        QVERIFY(writeCapture(capture, list));
        QVERIFY(writeFile(profilePath, settings));
        const Run run =
            ctl({QStringLiteral("preview"), QStringLiteral("--json"), QStringLiteral("--pcap"),
                 capture, QStringLiteral("--profile"), profilePath, QStringLiteral("-w"), out});
        QVERIFY2(run.code == 0, qPrintable(run.err));
        QCOMPARE(countOf(run, "kept", "frames"), kept);
        QCOMPARE(countOf(run, "kept", "bytes"), keptBytes);
        QCOMPARE(countOf(run, "discarded", "frames"), discarded);
        QCOMPARE(countOf(run, "undecided", "frames"), undecided);
        QCOMPARE(jsonOf(run).value(QStringLiteral("expression")).toString(),
                 QString::fromLatin1(expression));
        QCOMPARE(framesIn(out), keptFrames);
    }

    // What cannot be previewed is refused, naming why, and leaves an earlier output file as it
    // was; a capture cut off inside its last record is previewed up to it.
    void capturesRefusedOrCounted_data()
    {
        QTest::addColumn<QByteArray>("content");  // null: no file at all
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("named");  // on standard error
        QTest::addColumn<qint64>("kept");
        QTest::addColumn<qint64>("truncated");

        const QByteArray frame = baseFrame();
        const QByteArray two =
            pcapHeader(DLT_EN10MB) + pcapRecord(frame, 60) + pcapRecord(frame, 60);
        const auto row = [](const char *name, const QByteArray &content, int code,
                            const char *named, qint64 kept, qint64 truncated) {
            QTest::newRow(name) << content << code << QString::fromLatin1(named) << kept
                                << truncated;
        };
        row("no file", QByteArray(), 2, "No such file", 0, 0);
        row("not a capture", QByteArray("frames, honestly"), 2, "capture file", 0, 0);
        row("linux cooked", pcapHeader(DLT_LINUX_SLL) + pcapRecord(frame, 60), 2, "LINUX_SLL", 0,
            0);
        row("raw ip", pcapHeader(DLT_RAW) + pcapRecord(frame, 60), 2, "RAW", 0, 0);
        row("last record cut", two + pcapRecord(frame, 60).left(40), 0, "", 2, 1);
        row("last header cut", two + pcapRecord(frame, 60).left(10), 0, "", 2, 1);
        row("damaged inside", two + pcapRecord(frame, 0x7fffff00) + two, 2, "damaged after frame 2",
            0, 0);
        row("pcapng", pcapng({frame, frame, frame}), 0, "", 3, 0);
        row("pcapng cut", pcapng({frame, frame}).chopped(8), 0, "", 1, 1);
    }

    void capturesRefusedOrCounted()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, code);
        QFETCH(QString, named);
        QFETCH(qint64, kept);
        QFETCH(qint64, truncated);
        const QString capture = file("input");
        QFile::remove(capture);
        if (!content.isNull())
            QVERIFY(writeFile(capture, content));
        const QString out = file("earlier.pcap");
        QVERIFY(writeFile(out, "earlier"));

        const Run run = ctl({QStringLiteral("preview"), QStringLiteral("--json"),
                             QStringLiteral("--filter=off"), QStringLiteral("--pcap"), capture,
                             QStringLiteral("-w"), out});
        QVERIFY2(run.code == code && run.err.contains(named), qPrintable(run.err));
        QCOMPARE(countOf(run, "kept", "frames"), kept);
        QCOMPARE(jsonOf(run).value(QStringLiteral("truncated_records")).toInteger(), truncated);
        if (code != 0)
            QCOMPARE(fileBytes(out), QByteArray("earlier"));
    }

    // A disk that fills while the kept frames are written is told in the kernel's words, and
    // leaves no part-written file behind; whether it fills at once or after some frames.
    void keptFramesOnAFullDisk_data()
    {
        QTest::addColumn<QString>("room");  // the size of the file system written to
        QTest::newRow("room for one page") << "4k";
        QTest::newRow("room for some frames") << "64k";
    }
    void keptFramesOnAFullDisk()
    {
        QFETCH(QString, room);
        QList<TestFrame> many;
        for (int i = 0; i < 200; ++i)
            many.append({"full size", baseFrame() + QByteArray(1454, char(i)), 1514});
        const QString capture = file("many.pcap");
        QVERIFY(writeCapture(capture, many));
        const QString full = file("full");
        QVERIFY(QDir().mkpath(full));

        // A small file system of its own, mounted where only this run sees it.
        QProcess process;
        process.start(QStringLiteral("unshare"),
                      {QStringLiteral("-m"), QStringLiteral("sh"), QStringLiteral("-c"),
                       QStringLiteral("mount -t tmpfs -o size=$1 tmpfs \"$2\" || exit 77; "
                                      "dir=$2; shift 2; \"$@\"; status=$?; "
                                      "echo \"left: $(ls -A \"$dir\")\" >&2; exit $status"),
                       QStringLiteral("sh"), room, full, QStringLiteral(KALVESSA100CTL),
                       QStringLiteral("preview"), QStringLiteral("--filter=off"),
                       QStringLiteral("--pcap"), capture, QStringLiteral("-w"),
                       full + QStringLiteral("/kept.pcap")});
        QVERIFY(process.waitForFinished(60000));
        const QString err = QString::fromLocal8Bit(process.readAllStandardError());
        if (process.exitCode() == 77 || err.startsWith(QLatin1String("unshare:"))) {
            if (qEnvironmentVariableIsSet("CI"))
                QFAIL(qPrintable(QStringLiteral("no file system of its own: ") + err));
            QSKIP(qPrintable(QStringLiteral("no file system of its own: ") + err));
        }
        QVERIFY2(process.exitCode() != 0, qPrintable(err));
        QVERIFY2(err.contains(QStringLiteral("kept.pcap cannot be written: No space left on "
                                             "device")),
                 qPrintable(err));
        QVERIFY2(err.endsWith(QLatin1String("left: \n")), qPrintable(err));
    }

    // Where the settings come from, and the expression grouped into the widest loads the
    // wildcards allow.
    void expressionFromOptionsAndFiles()
    {
        const QString profilePath = file("keep-udp.json");
        QVERIFY(writeFile(profilePath,
                          profile(R"("enabled": true, "match": "keep", "ip_proto": "11")")));
        const QList<QPair<QString, QString>> runs{
            {QStringLiteral("--filter=on --match=keep --eth-dst=00:0e:c6:12:34:56 "
                            "--eth-src=00:11:22:33:44:55 --ethertype=08:00 --ip-proto=11 "
                            "--ip-src=192.168.1.10 --ip-dst=10.0.0.1"),
             QStringLiteral("len >= 34 and ether[0:4] = 0x000ec612 and ether[4:4] = 0x34560011 "
                            "and ether[8:4] = 0x22334455 and ether[12:2] = 0x0800 and "
                            "ether[23] = 0x11 and ether[26:4] = 0xc0a8010a and "
                            "ether[30:4] = 0x0a000001")},
            {QStringLiteral(
                 "--filter=on --match=discard --eth-dst=*:0e:c6:12:*:56 --ip-src=*.1.2.*"),
             QStringLiteral("not (len >= 29 and ether[1:2] = 0x0ec6 and ether[3] = 0x12 and "
                            "ether[5] = 0x56 and ether[27:2] = 0x0102)")},
            {QStringLiteral("--profile ") + profilePath + QStringLiteral(" --match=discard"),
             QStringLiteral("not (len >= 24 and ether[23] = 0x11)")},
            {QStringLiteral("--filter=off --ip-proto=11"), QString()},
            {QStringLiteral("--ip-proto=11"), QStringLiteral("--filter")},
            {QStringLiteral("--filter=on --ip-proto=11"), QStringLiteral("--match")},
            {QString(), QStringLiteral("--tap")},
        };
        for (const auto &[options, expected] : runs) {
            const Run run = ctl(QStringList{QStringLiteral("filter-expression")}
                                + options.split(QLatin1Char(' '), Qt::SkipEmptyParts));
            if (expected.startsWith(QLatin1String("--"))) {
                QVERIFY2(run.code == 2 && run.err.contains(expected), qPrintable(run.err));
                continue;
            }
            QCOMPARE(run.code, 0);
            QCOMPARE(run.out.trimmed(), expected);
        }
    }

    // Exact while every pair fits; past that the heavy pairs are still found, said to be
    // estimates, and never undercounted.
    void frequentPairsInBoundedMemory()
    {
        const auto pairOf = [](uint8_t host) {
            TrafficPair pair;
            pair.kind = TrafficPair::Kind::Ipv4;
            pair.source = {10, 0, 0, host};
            pair.destination = {10, 0, 0, 1};
            return pair;
        };
        for (const size_t capacity : {size_t(64), size_t(4)}) {
            FrequentPairs pairs(capacity);
            for (int round = 0; round < 40; ++round) {
                pairs.add(pairOf(2));
                if (round % 2 == 0)
                    pairs.add(pairOf(3));
                pairs.add(pairOf(uint8_t(100 + round)));  // each seen once
            }
            const QList<FrequentPairs::Count> top = pairs.top(2);
            QCOMPARE(pairs.approximate(), capacity < 42);
            QCOMPARE(top.size(), 2);
            QCOMPARE(top[0].pair, pairOf(2));
            QCOMPARE(top[0].pair.sourceText(), QStringLiteral("10.0.0.2"));
            QCOMPARE(top[1].pair, pairOf(3));
            QVERIFY(top[0].frames >= 40 && top[0].frames - top[0].overstatedBy <= 40);
            QVERIFY(top[1].frames >= 20 && top[1].frames - top[1].overstatedBy <= 20);
            if (!pairs.approximate())
                QCOMPARE(top[1].frames, 20u);
        }
    }
};

QTEST_GUILESS_MAIN(TestFilterPreview)
#include "tst_filterpreview.moc"
