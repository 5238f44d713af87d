#include <QtTest>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "SettingsFile.h"

namespace {

// Every setting away from a cleared record's, with patterns of each notation and width.
DeviceSettings sample()
{
    DeviceSettings s;
    s.setFilterMode(1, 0);
    s.setTimestampsEnabled(1);
    s.setCaptureCrcErrorFrames(0);
    s.setCaptureFcs(1);
    const uint8_t mac[6] = {0x00, 0x0e, 0xc6, 0xab, 0, 0};
    s.setDstMac(mac);
    s.setDstMacMask(0x3C);  // first four bytes compared
    const uint8_t type[2] = {0x86, 0xdd};
    s.setEtherType(type);
    s.setEtherTypeMask(0x3);
    s.setProtocol(0x3a);
    s.setProtocolMask(0x1);
    const uint8_t ip[4] = {192, 168, 0, 7};
    s.setSrcIp(ip);
    s.setSrcIpMask(0xD);  // the third octet not compared
    return s;
}

QByteArray file(const char *body)
{
    return QByteArray(R"({"format": "kalvessa100-settings", "version": 1, )") + body + '}';
}

}  // namespace

class TestSettingsFile : public QObject
{
    Q_OBJECT

private slots:
    void valueSyntax_data()
    {
        QTest::addColumn<Setting>("setting");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("canonical");  // empty: refused

        const auto row = [](const char *name, Setting s, const char *text, const char *canonical) {
            QTest::newRow(name) << s << QString::fromUtf8(text) << QString::fromUtf8(canonical);
        };
        row("mac mixed case", Setting::EthDst, "00:0E:c6:*:*:*", "00:0e:c6:*:*:*");
        row("lone star", Setting::EthSrc, "*", "*:*:*:*:*:*");
        row("one digit", Setting::EtherType, "8:0", "08:00");
        row("octets", Setting::IpSrc, "192.168.001.*", "192.168.1.*");
        row("switch", Setting::Timestamps, "ON", "on");
        row("five bytes", Setting::EthDst, "00:0e:c6:*:*", "");
        row("trailing colon", Setting::EthDst, "00:0e:c6:*:*:*:", "");
        row("not hex", Setting::EthDst, "0g:0e:c6:*:*:*", "");
        row("three digits", Setting::EtherType, "080:00", "");
        row("prefixed", Setting::IpProto, "0x", "");
        row("empty byte", Setting::IpDst, "1..2.3", "");
        row("octet too big", Setting::IpDst, "256.1.1.1", "");
        row("signed", Setting::IpSrc, "+1.2.3.4", "");
        row("hex octet", Setting::IpSrc, "a.2.3.4", "");
        row("yes", Setting::Fcs, "yes", "");
        // The notations the window's fields take, which the options and files take too.
        row("dashes", Setting::EthDst, "00-0E-C6-12-34-56", "00:0e:c6:12:34:56");
        row("one run", Setting::EthSrc, "000ec6123456", "00:0e:c6:12:34:56");
        row("dotted quads", Setting::EthDst, "000e.c612.3456", "00:0e:c6:12:34:56");
        row("dashes and stars", Setting::EthDst, "00-0e-c6-*-*-*", "00:0e:c6:*:*:*");
        row("0x ethertype", Setting::EtherType, "0x0800", "08:00");
        row("run ethertype", Setting::EtherType, "0800", "08:00");
        row("0x protocol", Setting::IpProto, "0X11", "11");
        row("bare number is hex", Setting::IpProto, "17", "17");
        row("dashed octets", Setting::IpDst, "10-0-0-*", "10.0.0.*");
        row("odd run", Setting::EtherType, "800", "");
        row("run too long", Setting::EthDst, "000ec612345600", "");
        row("0x on octets", Setting::IpSrc, "0x0a000001", "");
        row("run with star", Setting::EthDst, "000ec6*", "");
    }

    void valueSyntax()
    {
        QFETCH(Setting, setting);
        QFETCH(QString, text);
        QFETCH(QString, canonical);
        const std::optional<SettingValue> value = parseSetting(setting, text);
        QCOMPARE(value.has_value(), !canonical.isEmpty());
        if (value)
            QCOMPARE(formatSetting(setting, *value), canonical);
    }

    // Record -> file -> record, a file that gives only some settings, and what counts as a
    // difference: neither the control byte nor the bytes a filter does not compare.
    void roundTripsAndDifferences()
    {
        const DeviceSettings original = sample();
        QString error;
        const std::optional<SettingsPatch> whole =
            SettingsFile::parse(SettingsFile::serialize(original), &error);
        QVERIFY2(whole, qPrintable(error));
        QVERIFY(whole->missing().isEmpty());
        QCOMPARE(whole->appliedTo(DeviceSettings()), original);

        const std::optional<SettingsPatch> part = SettingsFile::parse(
            file(R"("timestamps": false, "filter": {"enabled": false, "ip_src": "10.*.*.1"})"),
            &error);
        QVERIFY2(part, qPrintable(error));
        QCOMPARE(part->missing(),
                 (QList<Setting>{Setting::Match, Setting::CrcErrors, Setting::Fcs}));
        const DeviceSettings patched = part->appliedTo(original);
        QCOMPARE(differingSettings(original, patched),
                 (QList<Setting>{Setting::FilterEnabled, Setting::EthDst, Setting::EtherType,
                                 Setting::IpProto, Setting::IpSrc, Setting::Timestamps}));
        QCOMPARE(formatSetting(Setting::IpSrc, settingOf(patched, Setting::IpSrc)),
                 QStringLiteral("10.*.*.1"));

        DeviceSettings noise = original;
        const uint8_t junk[6] = {0x00, 0x0e, 0xc6, 0xab, 0x99, 0x98};  // under clear care bits
        noise.setDstMac(junk);
        noise.setControlByte(0x1F);
        noise.setFirmwareVersion(4);
        QVERIFY(differingSettings(original, noise).isEmpty());
    }

    // A file refused names what is wrong in it. Whether the settings are to be stored travels
    // beside them, never as one of them.
    void readOrRefusedFiles_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("named");  // what the refusal must name; empty: read, FCS on
        QTest::addColumn<bool>("store");

        const auto row = [](const char *name, const QByteArray &content, const char *named,
                            bool store = false) {
            QTest::newRow(name) << content << QString::fromUtf8(named) << store;
        };
        row("not JSON", QByteArray("{\n\"format\": }"), "line 2, column");
        row("no format", QByteArray(R"({"version": 1})"), "\"format\"");
        row("other format", QByteArray(R"({"format": "x", "version": 1})"), "\"format\"");
        row("newer", QByteArray(R"({"format": "kalvessa100-settings", "version": 2})"),
            "\"version\" 2");
        row("version 0", QByteArray(R"({"format": "kalvessa100-settings", "version": 0})"),
            "\"version\"");
        row("version 1.5", QByteArray(R"({"format": "kalvessa100-settings", "version": 1.5})"),
            "\"version\" must be a whole number");
        row("version twice", file(R"("version": 2)"), "\"version\" is given twice");
        row("switch twice", file(R"("fcs": true, "crc_errors": true, "fcs": false)"),
            "\"fcs\" is given twice");
        row("filter key twice, once escaped",
            file(R"("filter": {"eth_dst": "*", "eth\u005fdst": "00:0e:c6:*:*:*"})"),
            "\"filter.eth_dst\" is given twice");
        row("unknown key", file(R"("timestamp": true)"), "\"timestamp\"");
        row("unknown filter key", file(R"("filter": {"vlan": "*"})"), "\"filter.vlan\"");
        row("filter not object", file(R"("filter": true)"), "\"filter\"");
        row("switch as text", file(R"("fcs": "on")"), "\"fcs\"");
        row("match", file(R"("filter": {"match": "maybe"})"), "\"filter.match\"");
        row("short mac", file(R"("filter": {"eth_dst": "00:0e:c6"})"), "\"filter.eth_dst\"");
        row("octet range", file(R"("filter": {"ip_dst": "10.0.0.256"})"), "\"filter.ip_dst\"");
        row("number for text", file(R"("filter": {"ip_proto": 17})"), "\"filter.ip_proto\"");
        row("store as text", file(R"("store": "yes", "fcs": true)"), "\"store\"");
        row("store twice", file(R"("store": false, "store": true)"), "\"store\" is given twice");
        row("store in filter", file(R"("filter": {"store": true})"), "\"filter.store\"");
        row("store left out", file(R"("fcs": true)"), "", false);
        row("store true", file(R"("store": true, "fcs": true)"), "", true);
        row("store false", file(R"("fcs": true, "store": false)"), "", false);
    }

    void readOrRefusedFiles()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, named);
        QFETCH(bool, store);
        QString error;
        bool said = !store;
        const std::optional<SettingsPatch> patch =
            SettingsFile::parse(content, &error, named.isEmpty() ? &said : nullptr);
        QCOMPARE(patch.has_value(), named.isEmpty());
        QVERIFY2(error.contains(named), qPrintable(error));
        if (!patch)
            return;
        QCOMPARE(said, store);
        SettingsPatch fcsOnly;
        fcsOnly.set(Setting::Fcs, true);
        QCOMPARE(*patch, fcsOnly);
    }

    // A save replaces a regular file whole, keeping its mode and any link to it, or makes a new
    // one; whatever else is at the path stays as it was, and no stray file is left beside it.
    void saveReplacesOnlyAFile_data()
    {
        QTest::addColumn<QString>("refusal");  // empty: saved
        for (const auto &[target, refusal] : {std::pair{"new name", ""},
                                              {"file", ""},
                                              {"link to a file", ""},
                                              {"device node", "not a regular file"},
                                              {"pipe", "not a regular file"},
                                              {"folder", "not a regular file"},
                                              {"link to nothing", "does not exist"},
                                              {"name in a missing folder", "No such file"}})
            QTest::newRow(target) << QString::fromLatin1(refusal);
    }

    void saveReplacesOnlyAFile()
    {
        QFETCH(QString, refusal);
        const QString target = QString::fromLatin1(QTest::currentDataTag());
        QTemporaryDir dir;
        const QString path =
            dir.filePath(target == "name in a missing folder" ? "none/tap.json" : "tap.json");
        const QByteArray native = QFile::encodeName(path);
        const QString linked = dir.filePath(QStringLiteral("linked.json"));
        if (target == "file" || target == "link to a file") {
            QFile file(target == "file" ? path : linked);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("{}") == 2);
            file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
        }
        if (target.startsWith("link"))
            QVERIFY(QFile::link(linked, path));
        if (target == "device node" && ::geteuid() != 0)
            QSKIP("making a device node needs root");
        if (target == "device node")
            QCOMPARE(::mknod(native.constData(), S_IFCHR | 0666, makedev(1, 3)), 0);
        if (target == "pipe")
            QCOMPARE(::mkfifo(native.constData(), 0666), 0);
        if (target == "folder")
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("tap.json")));
        struct stat before
        {
        }, after{};
        ::lstat(native.constData(), &before);
        const auto entries = [&] {
            return QDir(dir.path())
                .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        };
        const QStringList entriesBefore = entries();

        QString error;
        const bool saved = SettingsFile::save(path, sample(), &error);
        QCOMPARE(entries(), target == "new name" ? QStringList{"tap.json"} : entriesBefore);
        QVERIFY2(saved == refusal.isEmpty() && error.contains(refusal), qPrintable(error));
        if (!saved) {
            QVERIFY2(error.contains(path), qPrintable(error));
            ::lstat(native.constData(), &after);
            QVERIFY(after.st_mode == before.st_mode && after.st_ino == before.st_ino);
            return;
        }
        const std::optional<SettingsPatch> loaded = SettingsFile::load(path, &error);
        QVERIFY2(loaded, qPrintable(error));
        QCOMPARE(loaded->appliedTo(DeviceSettings()), sample());
        QCOMPARE(QFileInfo(path).isSymLink(), target == "link to a file");
        QCOMPARE(::stat(native.constData(), &after), 0);
        QVERIFY(target == "new name" || (after.st_mode & 07777) == 0640);
    }

    // A path may name something that never ends; a settings file is read up to a limit.
    void loadReadsUpToALimit_data()
    {
        QTest::addColumn<QString>("path");  // empty: a file of `length` bytes
        QTest::addColumn<qint64>("length");
        QTest::addColumn<QString>("refusal");  // empty: read

        QTest::newRow("never ends") << "/dev/zero" << qint64(0) << "longer than the 1048576 bytes";
        QTest::newRow("at the limit") << "" << SettingsFile::MaxFileBytes << "";
        QTest::newRow("a byte over") << "" << SettingsFile::MaxFileBytes + 1 << "longer than the";
    }

    void loadReadsUpToALimit()
    {
        QFETCH(QString, path);
        QFETCH(qint64, length);
        QFETCH(QString, refusal);
        QTemporaryFile padded;
        if (path.isEmpty()) {
            // Blanks after the object are still JSON.
            QByteArray content = file(R"("fcs": true)");
            content.append(length - content.size(), ' ');
            QVERIFY(padded.open() && padded.write(content) == length && padded.flush());
            path = padded.fileName();
        }
        QString error;
        const std::optional<SettingsPatch> loaded = SettingsFile::load(path, &error);
        QCOMPARE(loaded.has_value(), refusal.isEmpty());
        QVERIFY2(error.contains(refusal) && (loaded || error.contains(path)), qPrintable(error));
    }
};

QTEST_APPLESS_MAIN(TestSettingsFile)
#include "tst_settingsfile.moc"
