#include <QtTest>

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

    void refusedFiles_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("named");  // what the message must name

        const auto row = [](const char *name, const QByteArray &content, const char *named) {
            QTest::newRow(name) << content << QString::fromUtf8(named);
        };
        row("not JSON", QByteArray("{\n\"format\": }"), "line 2, column");
        row("no format", QByteArray(R"({"version": 1})"), "\"format\"");
        row("other format", QByteArray(R"({"format": "x", "version": 1})"), "\"format\"");
        row("newer", QByteArray(R"({"format": "kalvessa100-settings", "version": 2})"),
            "\"version\" 2");
        row("version 0", QByteArray(R"({"format": "kalvessa100-settings", "version": 0})"),
            "\"version\"");
        row("unknown key", file(R"("timestamp": true)"), "\"timestamp\"");
        row("unknown filter key", file(R"("filter": {"vlan": "*"})"), "\"filter.vlan\"");
        row("filter not object", file(R"("filter": true)"), "\"filter\"");
        row("switch as text", file(R"("fcs": "on")"), "\"fcs\"");
        row("match", file(R"("filter": {"match": "maybe"})"), "\"filter.match\"");
        row("short mac", file(R"("filter": {"eth_dst": "00:0e:c6"})"), "\"filter.eth_dst\"");
        row("octet range", file(R"("filter": {"ip_dst": "10.0.0.256"})"), "\"filter.ip_dst\"");
        row("number for text", file(R"("filter": {"ip_proto": 17})"), "\"filter.ip_proto\"");
    }

    void refusedFiles()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, named);
        QString error;
        QVERIFY(!SettingsFile::parse(content, &error));
        QVERIFY2(error.contains(named), qPrintable(error));
    }

    void saveReplacesWholeOrReportsWhy()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("tap.json"));
        QString error;
        QVERIFY(SettingsFile::save(path, DeviceSettings(), &error));
        QVERIFY2(SettingsFile::save(path, sample(), &error), qPrintable(error));
        const std::optional<SettingsPatch> loaded = SettingsFile::load(path, &error);
        QVERIFY2(loaded, qPrintable(error));
        QCOMPARE(loaded->appliedTo(DeviceSettings()), sample());

        const QString nowhere = dir.filePath(QStringLiteral("missing/tap.json"));
        QVERIFY(!SettingsFile::save(nowhere, sample(), &error));
        QVERIFY2(error.contains(nowhere), qPrintable(error));
        QVERIFY(!SettingsFile::load(nowhere, &error));
        QVERIFY2(error.contains(nowhere), qPrintable(error));
    }
};

QTEST_APPLESS_MAIN(TestSettingsFile)
#include "tst_settingsfile.moc"
