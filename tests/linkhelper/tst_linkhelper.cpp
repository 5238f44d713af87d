#include <QProcess>
#include <QtTest>

#include <memory>

#include <unistd.h>

#include "FrameLayout.h"
#include "HelperFrameLink.h"
#include "LinkHelperFraming.h"
#include "MV1Device_v3.h"
#include "PcapFrameLink.h"
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
QByteArray frameBetween(const char *destination, const char *source)
{
    QByteArray f = QByteArray::fromHex(destination) + QByteArray::fromHex(source);
    f.append(QByteArray::fromHex("88b5"));
    f.resize(60, '\x11');
    return f;
}

QByteArray count(quint32 value)
{
    return header('\0', value).mid(1);
}

// A stand-in for the helper: takes the Open, answers Opened, then says `said` and either ends
// or waits for its caller to go.
QString standIn(const QTemporaryDir &dir, const QByteArray &said, bool ends)
{
    QString octal;
    for (const char byte : QByteArray("o\0\0\0\0", HeaderLength) + said)
        octal += QStringLiteral("\\%1").arg(uint(uchar(byte)), 3, 8, QLatin1Char('0'));
    const QString path = dir.filePath(QStringLiteral("stand-in-%1").arg(qHash(said) ^ ends));
    QFile script(path);
    if (!script.open(QIODevice::WriteOnly))
        return {};
    script.write(QStringLiteral("#!/bin/sh\n/usr/bin/head -c %1 >/dev/null\nprintf '%2'\n%3\n")
                     .arg(HeaderLength)
                     .arg(octal, ends ? QStringLiteral("exit 0") : QStringLiteral("exec /bin/cat"))
                     .toLatin1());
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

const QByteArray Open = header('O', 0);
const QByteArray Confirm = header('C', 0);
const QByteArray Zero = "000000000000";

const QByteArray ZeroFrame = frameBetween(Zero, Zero);

const uint8_t *bytes(const QByteArray &frame)
{
    return reinterpret_cast<const uint8_t *>(frame.constData());
}

std::optional<LinkError> send(FrameLink &link, const QByteArray &frame)
{
    return link.send(bytes(frame), int(frame.size()));
}

QByteArray readRequest()
{
    QByteArray r(frame::RequestLength, '\0');
    r[frame::OpcodeOffset] = char(opcode::ReadRegister);
    frame::putAddress(reinterpret_cast<uint8_t *>(r.data()), 0x70001);
    return r;
}

bool isReadReply(const LinkReception &got)
{
    return got.result == LinkReception::Result::Frame && got.captured > frame::OpcodeOffset
        && got.bytes[frame::OpcodeOffset] == reply::ReadRegister;
}

// The capture helper this process runs, found among its children; -1 when there is none.
pid_t helperChild()
{
    const QDir proc(QStringLiteral("/proc"));
    for (const QString &entry : proc.entryList(QDir::Dirs)) {
        bool number = false;
        const pid_t pid = entry.toInt(&number);
        QFile stat(proc.filePath(entry + QStringLiteral("/stat")));
        if (!number || !stat.open(QIODevice::ReadOnly))
            continue;
        // pid (comm) state ppid ...: the name cut to fifteen characters by the kernel.
        const QByteArray line = stat.readAll();
        const qsizetype end = line.lastIndexOf(')');
        const QList<QByteArray> after = line.mid(end + 2).split(' ');
        if (line.contains("(kalvessa100-lin)") && after.size() > 1
            && after[1].toInt() == ::getpid())
            return pid;
    }
    return -1;
}

// The most memory the process has held (kB), from the kernel's account; -1 when unknown.
int peakKilobytes(pid_t pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toInt();
    }
    return -1;
}

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
    // The helper's code, the capture's ring and its bounded queue, with room to spare; far less
    // than a queue that kept the whole flood.
    static constexpr int MostHelperKilobytes = 16 * 1024;
    static constexpr int FloodFrames = 4000;  // six megabytes

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
            {"frame cut short", "kvtap0", header('S', 60) + ZeroFrame.left(10), 2,
             "request cut short", ""},
            {"frame over the snapshot length", "kvtap0", header('S', MostFrameLength + 1), 2,
             "out of bounds", ""},
            {"frame shorter than its addresses", "kvtap0", withPayload('S', QByteArray(13, 0)), 2,
             "out of bounds", ""},
            {"park with a payload", "kvtap0", withPayload('P', QByteArray(1, 0)), 2,
             "out of bounds", ""},
            {"confirm with a payload", "kvtap0", Open + withPayload('C', QByteArray(4, 0)), 2,
             "out of bounds", "o"},
            {"an answer sent as a request", "kvtap0", header('f', 0), 2, "unknown request", ""},
            {"unknown request", "kvtap0", header('X', 0), 2, "unknown request", ""},
            {"length with its top bit set", "kvtap0", header('S', 0x80000040), 2, "out of bounds",
             ""},
            {"frame to another address", "kvtap0",
             Open + withPayload('S', frameBetween("ffffffffffff", Zero)), 2, "not all zero", "o"},
            {"frame from another address", "kvtap0",
             Open + withPayload('S', frameBetween(Zero, "000ec6123456")), 2, "not all zero", "o"},
            {"caller goes away", "kvtap0", Open, 0, "", "o"},
            {"zero-address frame goes out unanswered", "kvtap0",
             Open + withPayload('S', ZeroFrame) + Confirm, 0, "", "ok"},
            {"frame over the MTU is told", "kvtap0",
             Open + withPayload('S', ZeroFrame + QByteArray(2000, 0)) + Confirm, 0, "", "onk"},
            {"park and resume answer nothing", "kvtap0",
             Open + header('P', 0) + header('R', 0) + Confirm, 0, "", "ok"},
            {"resume answers only a failure", "kvtap0", header('R', 0) + Confirm, 0, "", "k"},
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
        QVERIFY(send(link, frameBetween("ffffffffffff", Zero)).has_value());
        QCOMPARE(send(link, ZeroFrame), std::nullopt);
        QCOMPARE(int(link.receive(0).result) != int(LinkReception::Result::Failed), true);
        QVERIFY(link.open().opened);  // parked and opened again: the same helper
    }

    // Whatever the helper says is checked as a frame from the line would be: every length
    // against its type's limits, what belongs to an earlier opening passed over, a message
    // half told not waited for longer than an answer would be. A helper that breaks the
    // framing is ended with the reason; one that tells a failure keeps the link.
    void whatTheHelperSays_data()
    {
        QTest::addColumn<QByteArray>("said");
        QTest::addColumn<bool>("ends");  // after saying it
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("told");  // in the error's text, or the frame's bytes in hex
        QTest::addColumn<int>("dropped");

        const int frame = int(LinkReception::Result::Frame),
                  quiet = int(LinkReception::Result::Quiet),
                  failed = int(LinkReception::Result::Failed), other = int(LinkError::Kind::Other);
        const QByteArray now = count(1), before = count(0);
        const QByteArray reasonTooLong = header('n', LeastFailure + MostTextLength + 1);
        struct Row
        {
            const char *name;
            QByteArray said;
            bool ends;
            int result;
            int kind;
            QString told;
            int dropped;
        };
        const Row rows[] = {
            {"a frame of this opening", withPayload('f', now + count(60) + ZeroFrame), false, frame,
             other, QString::fromLatin1(ZeroFrame.toHex()), 0},
            {"a frame of an earlier opening", withPayload('f', before + count(60) + ZeroFrame),
             false, quiet, other, "", 0},
            {"frames dropped for a slow reader", withPayload('d', count(7)), false, quiet, other,
             "", 7},
            {"a send that failed", withPayload('n', now + '\5' + "too long"), false, failed,
             int(LinkError::Kind::FrameTooLong), "too long", 0},
            {"a send of an earlier opening that failed", withPayload('n', before + '\5' + "x"),
             false, quiet, other, "", 0},
            {"a capture that failed", withPayload('c', now + '\3' + "went away"), false, failed,
             int(LinkError::Kind::InterfaceGone), "went away", 0},
            {"an unknown type", header('z', 0), false, failed, other, "broke the framing", 0},
            {"a frame shorter than its lead", withPayload('f', now + "abc"), false, failed, other,
             "broke the framing", 0},
            {"a reason over the limit", reasonTooLong, false, failed, other, "broke the framing",
             0},
            {"a confirmation nobody asked for", header('k', 0), false, failed, other,
             "answered out of turn", 0},
            {"an opening nobody asked for", header('o', 0), false, failed, other,
             "answered out of turn", 0},
            {"half a message, then silence", header('f', 68) + now, false, failed, other,
             "stopped answering", 0},
            {"half a message, then the end", header('f', 68) + now, true, failed, other,
             "stopped answering", 0},
            {"the end", {}, true, failed, other, "stopped answering", 0},
        };
        for (const Row &row : rows)
            QTest::newRow(row.name)
                << row.said << row.ends << row.result << row.kind << row.told << row.dropped;
    }
    void whatTheHelperSays()
    {
        QFETCH(QByteArray, said);
        QFETCH(bool, ends);
        QFETCH(int, result);
        QFETCH(int, kind);
        QFETCH(QString, told);
        QFETCH(int, dropped);

        const QTemporaryDir dir;
        const QString path = standIn(dir, said, ends);
        QVERIFY(!path.isEmpty());
        HelperFrameLink link("kvtap0", path.toStdString());
        QVERIFY(link.open().opened);
        if (dropped > 0)
            QTest::ignoreMessage(
                QtWarningMsg,
                qPrintable(QStringLiteral("kvtap0: %1 captured frames were dropped: "
                                          "read too slowly from the capture helper")
                               .arg(dropped)));
        const LinkReception got = link.receive(200);
        QCOMPARE(int(got.result), result);
        QCOMPARE(link.droppedFrames(), quint64(dropped));
        if (result == int(LinkReception::Result::Frame))
            QCOMPARE(
                QString::fromLatin1(
                    QByteArray(reinterpret_cast<const char *>(got.bytes), got.captured).toHex()),
                told);
        if (result != int(LinkReception::Result::Failed))
            return;
        QCOMPARE(int(got.error.kind), kind);
        QVERIFY2(QString::fromStdString(got.error.text).contains(told), got.error.text.c_str());
        switch (LinkError::Kind(kind)) {
        case LinkError::Kind::FrameTooLong: {
            // Told again by the next send, so that whoever retries waits it out first.
            const std::optional<LinkError> again = send(link, ZeroFrame);
            QVERIFY(again && again->kind == LinkError::Kind::FrameTooLong);
            break;
        }
        case LinkError::Kind::InterfaceGone:
            // A broken capture keeps telling it, as one of our own would.
            QCOMPARE(int(link.receive(0).error.kind), kind);
            break;
        default:
            // The helper was ended for it.
            QCOMPARE(link.receive(0).error.text, std::string("the capture is not open"));
        }
    }

    // A send is not waited for, yet a frame that could not leave is never taken for one that
    // did: the next receive tells it, the next send tells it again (so that whoever waits out
    // the interface does), and a caller no answer will tell asks confirmSent().
    void sendFailuresAreTold_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<bool>("confirm");
        QTest::addColumn<int>("kind");  // -1: the frame left

        const int tooLong = int(LinkError::Kind::FrameTooLong);
        QTest::newRow("over the MTU, told by the next receive") << 2000 << false << tooLong;
        QTest::newRow("over the MTU, told by confirmSent") << 2000 << true << tooLong;
        QTest::newRow("within the MTU, nothing to receive") << 60 << false << -1;
    }
    void sendFailuresAreTold()
    {
        QFETCH(int, length);
        QFETCH(bool, confirm);
        QFETCH(int, kind);

        HelperFrameLink link("kvtap0", KALVESSA_LINK_HELPER_BUILT);
        QVERIFY(link.open().opened);
        QByteArray zero = ZeroFrame;
        zero.resize(length, '\0');
        QCOMPARE(send(link, zero), std::nullopt);
        if (confirm) {
            const std::optional<LinkError> told = link.confirmSent();
            QCOMPARE(told ? int(told->kind) : -1, kind);
        } else {
            const LinkReception got = link.receive(1000);
            QCOMPARE(int(got.result),
                     int(kind < 0 ? LinkReception::Result::Quiet : LinkReception::Result::Failed));
            if (kind >= 0) {
                QCOMPARE(int(got.error.kind), kind);
                const std::optional<LinkError> again = send(link, zero);
                QVERIFY(again.has_value());
                QCOMPARE(int(again->kind), kind);
            }
        }
        // Told once: the capture goes on.
        QCOMPARE(send(link, ZeroFrame), std::nullopt);
        QCOMPARE(link.confirmSent(), std::nullopt);
    }

    // A tap of generation 3 answers nothing, so only the link can tell that a frame never
    // left: through the helper, which does not wait for a send, a frame the interface refuses
    // still fails the operation, with the cause and the fix, instead of passing for written.
    void oneWayTapThroughTheHelper_data()
    {
        QTest::addColumn<int>("mtu");
        QTest::addColumn<bool>("erase");  // the settings' sector, else a register
        QTest::addColumn<QString>("failure");  // empty: done

        QTest::newRow("register within the MTU") << 1500 << false << "";
        QTest::newRow("register over the MTU")
            << 100 << false << "register 0x70001, kvtap0's MTU is 100";
        QTest::newRow("erase over the MTU")
            << 1000 << true << "erase of sector 0x70000, kvtap0's MTU is 1000";
    }
    void oneWayTapThroughTheHelper()
    {
        QFETCH(int, mtu);
        QFETCH(bool, erase);
        QFETCH(QString, failure);

        QVERIFY(bed->setMtu(mtu));
        MV1Device_v3 dev("kvtap0",
                         std::make_unique<HelperFrameLink>("kvtap0", KALVESSA_LINK_HELPER_BUILT));
        const bool done = erase ? dev.eraseSettings() : dev.writeRegister(0x70001, 0x5A, false);
        QVERIFY(bed->setMtu(1500));
        QCOMPARE(done, failure.isEmpty());
        if (!done)
            QVERIFY2(dev.lastFailure().text().startsWith(failure),
                     qPrintable(dev.lastFailure().text()));
    }

    // What arrived while the link was parked is never shown after it opens again, however far
    // the helper had got with it; what comes after is shown once. A frame that arrives while
    // confirmSent() waits is kept for the next receive.
    void parkingThroughTheHelper_data()
    {
        QTest::addColumn<bool>("receiveFirst");  // the exchange before the park read its answer
        QTest::addColumn<bool>("confirm");  // the exchange after it confirmed its send

        QTest::newRow("answer left unread") << false << false;
        QTest::newRow("answer read") << true << false;
        QTest::newRow("answer left unread, send confirmed") << false << true;
    }
    void parkingThroughTheHelper()
    {
        QFETCH(bool, receiveFirst);
        QFETCH(bool, confirm);
        QVERIFY(bed->startTap());
        const QByteArray request = readRequest();
        HelperFrameLink link("kvtap0", KALVESSA_LINK_HELPER_BUILT);
        QVERIFY(link.open().opened);
        QCOMPARE(link.send(bytes(request), int(request.size())), std::nullopt);
        if (receiveFirst)
            QVERIFY(isReadReply(link.receive(1000)));
        // Long enough for the tap's answer to reach the helper, whichever way it goes on.
        QTRY_COMPARE(bed->frames().size(), 1);
        link.close();
        QVERIFY(link.open().opened);
        QCOMPARE(int(link.receive(100).result), int(LinkReception::Result::Quiet));

        QCOMPARE(link.send(bytes(request), int(request.size())), std::nullopt);
        if (confirm)
            QCOMPARE(link.confirmSent(), std::nullopt);
        QVERIFY(isReadReply(link.receive(1000)));
        QCOMPARE(int(link.receive(100).result), int(LinkReception::Result::Quiet));
        bed->stopTap();
    }

    // A caller that stops reading while the line floods it costs the helper a bounded amount
    // of memory; the frames it was too slow for are dropped and counted, and the capture goes
    // on once it reads again.
    void aSlowCallerCostsBoundedMemory()
    {
        HelperFrameLink link("kvtap0", KALVESSA_LINK_HELPER_BUILT);
        QVERIFY(link.open().opened);
        const pid_t helper = helperChild();
        QVERIFY(helper > 0);
        // From the tap's end, while the caller reads nothing: far more than the socket and the
        // helper's queue hold together, paced so that the capture's ring keeps up.
        PcapFrameLink line(bed->tapInterface().toStdString());
        QVERIFY(line.open().opened);
        QByteArray flood = ZeroFrame;
        flood.resize(1514, '\x5a');
        for (int i = 0; i < FloodFrames; ++i) {
            QCOMPARE(send(line, flood), std::nullopt);
            if (i % 8 == 7)
                QThread::usleep(1000);
        }
        // Whoever runs the program hears of it, not only whoever asks the link.
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral(
                                 "^kvtap0: [1-9][0-9]* captured frames were dropped")));
        int frames = 0;
        QElapsedTimer reading;
        reading.start();
        while (link.droppedFrames() == 0 && reading.elapsed() < 20000) {
            const LinkReception got = link.receive(100);
            QVERIFY(got.result != LinkReception::Result::Failed);
            frames += got.result == LinkReception::Result::Frame;
        }
        const int peak = peakKilobytes(helper);
        qInfo("%d frames read, %llu dropped, the helper's peak %d kB", frames,
              static_cast<unsigned long long>(link.droppedFrames()), peak);
        QVERIFY(link.droppedFrames() > 0);
        QVERIFY(peak > 0 && peak < MostHelperKilobytes);
        QCOMPARE(send(link, ZeroFrame), std::nullopt);
        QCOMPARE(link.confirmSent(), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestLinkHelper)
#include "tst_linkhelper.moc"
