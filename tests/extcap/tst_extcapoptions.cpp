// What the extcap tells Wireshark about a tap, read without a tap: the validation patterns
// against the settings' own parser, the option lines Wireshark parses, the interface names.
#include <QRegularExpression>
#include <QtTest>

#include "ExtcapInterfaces.h"
#include "ExtcapOptions.h"
#include "SettingOptions.h"
#include "SettingValues.h"

Q_DECLARE_METATYPE(Setting)

namespace {

// Wireshark reads an option's fields as {name=value}, up to the first closing brace.
const QRegularExpression
    WellFormedLine(QStringLiteral("^(arg|value)( \\{[a-z]+=[^{}]*\\})? ?(\\{[a-z]+=[^{}]*\\})+$"));

}  // namespace

class TestExtcapOptions : public QObject
{
    Q_OBJECT

private slots:
    // The dialog refuses what the extcap would refuse; it may refuse a rare notation the
    // extcap reads (dots between runs of hex), never take one the extcap refuses.
    void patternAgreesWithTheParser_data()
    {
        QTest::addColumn<Setting>("setting");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("dialog");
        QTest::addColumn<bool>("extcap");
        struct Row
        {
            Setting setting;
            const char *text;
            bool dialog;
            bool extcap;
        };
        const Row rows[] = {
            {Setting::EthDst, "00:0e:c6:12:34:56", true, true},
            {Setting::EthDst, "00:0E:C6:*:*:*", true, true},
            {Setting::EthDst, "0:e:c6:1:2:3", true, true},
            {Setting::EthDst, "00-0e-c6-12-34-56", true, true},
            {Setting::EthSrc, "000ec6123456", true, true},
            {Setting::EthSrc, "0x000ec6123456", true, true},
            {Setting::EthSrc, "*", true, true},
            {Setting::EthSrc, "000e.c612.3456", false, true},
            {Setting::EthDst, "00:0e:c6:12:34", false, false},
            {Setting::EthDst, "00:0e:c6:12:34:56:78", false, false},
            {Setting::EthDst, "000ec612345", false, false},
            {Setting::EthDst, "00:0e:c6:12:34:5g", false, false},
            {Setting::EthDst, " 00:0e:c6:12:34:56", false, false},
            {Setting::EthDst, "00::0e:c6:12:34", false, false},
            {Setting::EthDst, "000:e:c6:12:34:56", false, false},
            {Setting::EtherType, "08:00", true, true},
            {Setting::EtherType, "0800", true, true},
            {Setting::EtherType, "0x0800", true, true},
            {Setting::EtherType, "8:*", true, true},
            {Setting::EtherType, "080", false, false},
            {Setting::EtherType, "08:00:00", false, false},
            {Setting::EtherType, "0x", false, false},
            {Setting::IpProto, "11", true, true},
            {Setting::IpProto, "0x11", true, true},
            {Setting::IpProto, "*", true, true},
            {Setting::IpProto, "0x123", false, false},
            {Setting::IpProto, "1 1", false, false},
            {Setting::IpSrc, "192.168.1.*", true, true},
            {Setting::IpSrc, "0.0.0.0", true, true},
            {Setting::IpSrc, "255.255.255.255", true, true},
            {Setting::IpDst, "001.002.003.004", true, true},
            {Setting::IpDst, "256.0.0.0", false, false},
            {Setting::IpDst, "1.2.3", false, false},
            {Setting::IpDst, "1.2.3.4.5", false, false},
            {Setting::IpDst, "a.b.c.d", false, false},
            {Setting::IpDst, "-1.2.3.4", false, false},
        };
        for (const Row &row : rows) {
            QTest::newRow(qPrintable(settingoptions::nameOf(row.setting) + QLatin1Char(' ')
                                     + QLatin1String(row.text)))
                << row.setting << QString::fromLatin1(row.text) << row.dialog << row.extcap;
        }
    }
    void patternAgreesWithTheParser()
    {
        QFETCH(Setting, setting);
        QFETCH(QString, text);
        QFETCH(bool, dialog);
        QFETCH(bool, extcap);
        const QString pattern = extcapoptions::validationPattern(setting);
        QVERIFY(!pattern.contains(QLatin1Char('{')) && !pattern.contains(QLatin1Char('}')));
        const QRegularExpression expression(pattern);
        QVERIFY2(expression.isValid(), qPrintable(expression.errorString()));
        QCOMPARE(expression.match(text).hasMatch(), dialog);
        QCOMPARE(settingoptions::parse(setting, text).has_value(), extcap);
        // An empty field is a setting left out, which the dialog lets through.
        QVERIFY(expression.match(QString()).hasMatch());
    }

    // Every line parses as Wireshark parses it; with the tap's settings each option has the
    // tap's value as its default, without them none has one and the group says why.
    void configLines_data()
    {
        QTest::addColumn<bool>("readable");
        QTest::newRow("settings read from the tap") << true;
        QTest::newRow("generation 3: nothing read") << false;
    }
    void configLines()
    {
        QFETCH(bool, readable);
        DeviceSettings settings;
        const QList<std::pair<Setting, const char *>> given{
            {Setting::FilterEnabled, "on"},      {Setting::Match, "discard"},
            {Setting::EthDst, "00:0e:c6:*:*:*"}, {Setting::EtherType, "08:00"},
            {Setting::IpSrc, "10.*.1.2"},        {Setting::Fcs, "off"}};
        for (const auto &[setting, text] : given)
            assignSetting(settings, setting, *parseSetting(setting, QString::fromLatin1(text)));
        const QString note = QStringLiteral("kvtap0 cannot be read back (a note; no braces)");
        const QStringList lines = extcapoptions::configLines(
            readable ? std::optional<DeviceSettings>(settings) : std::nullopt,
            {readable ? QString() : note});

        QMap<QString, QString> defaults;
        QMap<QString, QString> calls;
        int args = 0;
        for (const QString &line : lines) {
            QVERIFY2(WellFormedLine.match(line).hasMatch(), qPrintable(line));
            const auto field = [&](const char *name) {
                return QRegularExpression(
                           QStringLiteral("\\{%1=([^}]*)\\}").arg(QLatin1String(name)))
                    .match(line)
                    .captured(1);
            };
            if (line.startsWith(QLatin1String("arg "))) {
                ++args;
                calls.insert(field("number"), field("call"));
                QCOMPARE(field("group").contains(note), !readable);
                if (line.contains(QLatin1String("{default=")))
                    defaults.insert(field("call"), field("default"));
            } else if (field("default") == QLatin1String("true")) {
                defaults.insert(calls.value(field("arg")), field("value"));
            }
        }
        QCOMPARE(args, SettingCount + 1);
        QCOMPARE(defaults.value(QStringLiteral("--store")), QStringLiteral("false"));
        for (int i = 0; i < SettingCount; ++i) {
            const Setting setting = static_cast<Setting>(i);
            const QString call = QStringLiteral("--") + settingoptions::nameOf(setting);
            const QString expected =
                readable ? formatSetting(setting, settingOf(settings, setting)) : QString();
            QCOMPARE(defaults.value(call), expected);
        }
    }

    void interfaceNames_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("mac");  // empty: not a name this extcap gives
        QTest::newRow("own name") << "kalvessa100-000ec6123456"
                                  << "00:0e:c6:12:34:56";
        QTest::newRow("upper case") << "kalvessa100-000EC612ABCD"
                                    << "00:0e:c6:12:ab:cd";
        QTest::newRow("a digit short") << "kalvessa100-000ec612345"
                                       << "";
        QTest::newRow("a digit over") << "kalvessa100-000ec61234567"
                                      << "";
        QTest::newRow("colons") << "kalvessa100-00:0e:c6:12:34:56"
                                << "";
        QTest::newRow("not hex") << "kalvessa100-zz0ec6123456"
                                 << "";
        QTest::newRow("another extcap's") << "randpkt-000ec6123456"
                                          << "";
        QTest::newRow("an interface") << "kvtap0"
                                      << "";
    }
    void interfaceNames()
    {
        QFETCH(QString, value);
        QFETCH(QString, mac);
        const std::optional<MacAddress> address = extcapinterfaces::addressOf(value);
        QCOMPARE(address.has_value(), !mac.isEmpty());
        if (!address)
            return;
        const TapInterface tap{QStringLiteral("kvtap0"), *address};
        QCOMPARE(extcapinterfaces::displayOf(tap),
                 QStringLiteral("Kalvessa 100 on kvtap0 (%1)").arg(mac));
        QCOMPARE(extcapinterfaces::valueOf(*address), value.toLower());
    }
};

QTEST_GUILESS_MAIN(TestExtcapOptions)
#include "tst_extcapoptions.moc"
