#include <QProcess>
#include <QtTest>

#include <memory>

#include "HelperFrameLink.h"
#include "LinkHelperFraming.h"
#include "TapTestBed.h"

using namespace linkhelper;

namespace {

QByteArray header(char type, quint32 length)
{
    QByteArray out(1, type);
    for (int shift = 24; shift >= 0; shift -= 8)
        out.append(char(length >> shift));
    return out;
}

QByteArray withPayload(char type, const QByteArray &payload)
{
    return header(type, quint32(payload.size())) + payload;
}

// A frame of 60 bytes with these addresses (hex, six bytes each).
QByteArray frame(const char *destination, const char *source)
{
    QByteArray f = QByteArray::fromHex(destination) + QByteArray::fromHex(source);
    f.append(QByteArray::fromHex("88b5"));
    f.resize(60, '\x11');
    return f;
}

const QByteArray Open = header('O', 0);
const QByteArray Zero = "000000000000";

// The types of the helper's messages, in order, each checked against its own framing.
QByteArray replyTypes(const QByteArray &out)
{
    QByteArray types;
    for (qsizetype at = 0; at < out.size();) {
        if (out.size() - at < HeaderLength)
            return types + '!';
        const auto *bytes = reinterpret_cast<const uint8_t *>(out.constData() + at);
        const std::optional<MessageLimits> limits = limitsOf(bytes[0], false);
        const quint32 length = readCount(bytes + 1);
        if (!limits || length < limits->least || length > limits->most
            || out.size() - at - HeaderLength < qsizetype(length))
            return types + '!';
        types.append(char(bytes[0]));
        at += HeaderLength + length;
    }
    return types;
}

}  // namespace

class TestLinkHelper : public QObject
{
    Q_OBJECT

    std::unique_ptr<TapTestBed> bed;

private slots:
    void initTestCase()
    {
        REQUIRE_TAP_TEST_BED();
        bed = std::make_unique<TapTestBed>();
        QVERIFY(bed->plug());
    }

    // What the helper refuses ends it with status 2 and one line saying why; what it accepts
    // ends with its caller. Every row talks to the helper as a caller would, byte by byte.
    void refusals_data()
    {
        QTest::addColumn<QString>("interface");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QByteArray>("replies");

        struct Row
        {
            const char *name;
            const char *interface;
            QByteArray input;
            int status;
            const char *reason;
            const char *replies;
        };
        const QByteArray zeroFrame = frame(Zero, Zero);
        const Row rows[] = {
            {"not a tap", "lo", Open, 2, "lo is not a Kalvessa 100 tap", "e"},
            {"no such interface", "kvnone0", Open, 2, "kvnone0: No such device exists", "e"},
            {"name past the kernel's limit",
             "kvtap0123456789x",
             {},
             2,
             "not an interface name",
             ""},
            {"header cut short", "kvtap0", Open.left(3), 2, "request header cut short", ""},
            {"frame cut short", "kvtap0", header('S', 60) + zeroFrame.left(10), 2,
             "request cut short", ""},
            {"frame over the snapshot length", "kvtap0", header('S', MostFrameLength + 1), 2,
             "out of bounds", ""},
            {"frame shorter than its addresses", "kvtap0", withPayload('S', QByteArray(13, 0)), 2,
             "out of bounds", ""},
            {"wait of two bytes", "kvtap0", withPayload('R', QByteArray(2, 0)), 2, "out of bounds",
             ""},
            {"wait over a minute", "kvtap0", withPayload('R', QByteArray::fromHex("0000ea61")), 2,
             "too long", ""},
            {"an answer sent as a request", "kvtap0", header('q', 0), 2, "unknown request", ""},
            {"unknown request", "kvtap0", header('X', 0), 2, "unknown request", ""},
            {"length with its top bit set", "kvtap0", header('S', 0x80000040), 2, "out of bounds",
             ""},
            {"frame to another address", "kvtap0",
             Open + withPayload('S', frame("ffffffffffff", Zero)), 2, "not all zero", "o"},
            {"frame from another address", "kvtap0",
             Open + withPayload('S', frame(Zero, "000ec6123456")), 2, "not all zero", "o"},
            {"caller goes away", "kvtap0", Open, 0, "", "o"},
            {"zero-address frame goes out", "kvtap0", Open + withPayload('S', zeroFrame), 0, "",
             "os"},
        };
        for (const Row &row : rows)
            QTest::newRow(row.name) << QString::fromLatin1(row.interface) << row.input << row.status
                                    << QString::fromLatin1(row.reason) << QByteArray(row.replies);
    }
    void refusals()
    {
        QFETCH(QString, interface);
        QFETCH(QByteArray, input);
        QFETCH(int, status);
        QFETCH(QString, reason);
        QFETCH(QByteArray, replies);

        QProcess helper;
        helper.start(QStringLiteral(KALVESSA_LINK_HELPER_BUILT), {interface});
        QVERIFY(helper.waitForStarted());
        // A helper that already refused may have closed its input.
        helper.write(input);
        helper.closeWriteChannel();
        QVERIFY(helper.waitForFinished(10000));
        QCOMPARE(helper.exitStatus(), QProcess::NormalExit);
        QCOMPARE(helper.exitCode(), status);
        const QString said = QString::fromLocal8Bit(helper.readAllStandardError());
        if (status == 0) {
            QCOMPARE(said, QString());
        } else {
            QCOMPARE(said.count(QLatin1Char('\n')), 1);
            QVERIFY2(said.contains(reason), qPrintable(said));
        }
        QCOMPARE(replyTypes(helper.readAllStandardOutput()), replies);
    }

    // A program without the privilege gets the helper's failures as the same kinds a capture
    // of its own would give, and the helper's own words; a helper that breaks the framing or
    // says nothing is a failure with a reason, never a hang or an open link.
    void openingThroughTheHelper_data()
    {
        QTest::addColumn<QString>("interface");
        QTest::addColumn<QString>("helper");
        QTest::addColumn<bool>("down");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("text");

        const QString built = QStringLiteral(KALVESSA_LINK_HELPER_BUILT);
        const QString tap = QStringLiteral("kvtap0");
        QTest::newRow("not a tap") << "lo" << built << false << int(LinkError::Kind::NotATap)
                                   << "lo is not a Kalvessa 100 tap";
        QTest::newRow("gone") << "kvnone0" << built << false << int(LinkError::Kind::InterfaceGone)
                              << "No such device exists";
        QTest::newRow("down") << tap << built << true << int(LinkError::Kind::InterfaceDown) << "";
        QTest::newRow("no helper")
            << tap << "/nonexistent/kalvessa100-link" << false << int(LinkError::Kind::NoPrivilege)
            << "cannot run the capture helper";
        QTest::newRow("helper speaks no framing")
            << tap << "/bin/echo" << false << int(LinkError::Kind::Other) << "broke the framing";
        QTest::newRow("helper ends at once")
            << tap << "/bin/true" << false << int(LinkError::Kind::Other) << "stopped answering";
    }
    void openingThroughTheHelper()
    {
        QFETCH(QString, interface);
        QFETCH(QString, helper);
        QFETCH(bool, down);
        QFETCH(int, kind);
        QFETCH(QString, text);

        QVERIFY(bed->setUp(!down));
        HelperFrameLink link(interface.toStdString(), helper.toStdString());
        const LinkOpening opening = link.open();
        QVERIFY(bed->setUp(true));
        QVERIFY(!opening.opened);
        QCOMPARE(int(opening.error.kind), kind);
        QVERIFY2(QString::fromStdString(opening.error.text).contains(text),
                 opening.error.text.c_str());
        QCOMPARE(int(link.receive(0).result), int(LinkReception::Result::Failed));
    }

    // A frame the helper would end itself over is refused before it gets there: the capture
    // stays open for the frames that may go.
    void foreignAddressesKeepTheHelper()
    {
        HelperFrameLink link("kvtap0", KALVESSA_LINK_HELPER_BUILT);
        QVERIFY(link.open().opened);
        const QByteArray foreign = frame("ffffffffffff", Zero), zero = frame(Zero, Zero);
        const auto *bytes = reinterpret_cast<const uint8_t *>(foreign.constData());
        QVERIFY(link.send(bytes, int(foreign.size())).has_value());
        bytes = reinterpret_cast<const uint8_t *>(zero.constData());
        QCOMPARE(link.send(bytes, int(zero.size())), std::nullopt);
        QCOMPARE(int(link.receive(0).result) != int(LinkReception::Result::Failed), true);
        QVERIFY(link.open().opened);  // parked and opened again: the same helper
    }
};

QTEST_GUILESS_MAIN(TestLinkHelper)
#include "tst_linkhelper.moc"
