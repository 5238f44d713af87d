// Replies matched to requests on an imperfect line: lost, late, repeated and reordered replies,
// strays and junk carrying the protocol's own codes, from a tap that repeats the request and
// from one that does not. Whatever the line does, a read never returns someone else's value, an
// operation never reports a success the tap's state does not bear out, a refusal is the tap's,
// and a clean line costs one send per request.
#include <QtTest>

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#include "DeviceOnBed.h"
#include "DeviceSettings.h"
#include "FirmwareProgramming.h"
#include "FrameLayout.h"
#include "MV1Device_v4.h"
#include "PacketSession.h"
#include "SettingsRegisterMap.h"
#include "SettingsOnTap.h"
#include "TapBed.h"
#include "TapWire.h"

using namespace wire;

namespace {

constexpr int VersionMajor = 0x70300;  // reads 4 with --firmware-version 4.2
constexpr int VersionMinor = 0x70301;  // reads 2

}  // namespace

class TestReplyMatching
    : public QObject
    , private DeviceOnBed
{
    Q_OBJECT

private slots:
    void initTestCase() { REQUIRE_TAP_BED(); }

    // The simulated tap's line faults as the host sees them: 100 reads of registers 0..99,
    // sent 2 ms apart, and every frame that comes back until 200 ms after the last.
    void lineFaults_data()
    {
        QTest::addColumn<QString>("options");
        QTest::addColumn<int>("fewest");
        QTest::addColumn<int>("most");
        QTest::addColumn<bool>("repeatsAddress");
        QTest::addColumn<bool>("inOrder");
        QTest::addColumn<bool>("repeatable");  // the same seed, the same frames (in any order)
        QTest::newRow("clean") << "" << 100 << 100 << true << true << true;
        QTest::newRow("replies lost")
            << "--lose-reply-fraction 0.3" << 55 << 85 << true << true << true;
        QTest::newRow("every reply twice")
            << "--duplicate-fraction 1 --duplicate-lag-ms 1" << 200 << 200 << true << false << true;
        QTest::newRow("held behind the next")
            << "--reorder-fraction 0.2" << 100 << 100 << true << false << true;
        QTest::newRow("rare long delays")
            << "--late-fraction 0.1 --late-ms 50" << 100 << 100 << true << false << true;
        QTest::newRow("jitter") << "--jitter-ms 8" << 100 << 100 << true << false << true;
        QTest::newRow("not repeating") << "--no-echo" << 100 << 100 << false << true << true;
        QTest::newRow("protocol junk")
            << "--junk-rate 2000 --junk-kinds protocol" << 150 << 5000 << true << false << false;
    }

    void lineFaults()
    {
        IN_PROCESS_ONLY();
        QFETCH(QString, options);
        QFETCH(int, fewest);
        QFETCH(int, most);
        QFETCH(bool, repeatsAddress);
        QFETCH(bool, inOrder);
        QFETCH(bool, repeatable);
        const auto run = [&] {
            std::vector<QByteArray> got;
            if (!startTap(options + QStringLiteral(" --firmware-version 4.2")))
                return got;
            PacketSession capture(qPrintable(bed->hostInterface()), bed->link());
            if (!capture.open())
                return got;
            // Whatever arrives within `ms`, junk included, which never lets the line go quiet.
            const auto listen = [&](int ms) {
                QElapsedTimer timer;
                timer.start();
                while (!timer.hasExpired(ms)) {
                    const LinkReception in = capture.receive(1);
                    if (in.result == LinkReception::Result::Frame)
                        got.emplace_back(reinterpret_cast<const char *>(in.bytes), in.captured);
                }
            };
            for (int address = 0; address < 100; ++address) {
                const QByteArray r = request(0x71, address);
                capture.send(reinterpret_cast<const uint8_t *>(r.constData()), RequestLength);
                listen(2);
            }
            listen(200);
            return got;
        };
        const std::vector<QByteArray> got = run();
        QVERIFY2(int(got.size()) >= fewest && int(got.size()) <= most,
                 qPrintable(QString::number(got.size())));
        QCOMPARE(bed->frames().size(), 100);  // every request reached the tap
        bool ordered = true;
        int last = -1;
        int answers = 0;
        for (const QByteArray &f : got) {
            QCOMPARE(f.left(15), QByteArray(15, '\0'));
            // Each answer either repeats its request but for the code and the value, or carries
            // zeros but for those two.
            const QByteArray asked = request(0x71, addressOf(f));
            const bool answer = f.size() == RequestLength && byteAt(f, OpcodeAt) == 23;
            const bool repeating =
                answer && f.mid(16, 3) == asked.mid(16, 3) && f.mid(20) == asked.mid(20);
            const bool bare = answer && addressOf(f) == 0 && f.mid(20) == QByteArray(280, '\0');
            answers += repeating || bare ? 1 : 0;
            if (!repeatable) {  // junk: 60 bytes, a code of the tap's, address and value
                QVERIFY(answer
                        || (f.size() == 60 && reply::isProtocolCode(byteAt(f, OpcodeAt))
                            && f.mid(20) == QByteArray(40, '\0')));
                continue;
            }
            QVERIFY(repeatsAddress ? repeating : bare);
            ordered = ordered && addressOf(f) > last;
            last = addressOf(f);
        }
        QVERIFY(answers >= (repeatable ? fewest : 100));
        if (repeatsAddress && repeatable)
            QCOMPARE(ordered, inOrder);
        if (repeatable) {  // the same seed repeats the run
            std::vector<QByteArray> again = run(), first = got;
            std::sort(again.begin(), again.end());
            std::sort(first.begin(), first.end());
            QCOMPARE(again, first);
        }
    }

    // Reads and applies on a faulty line, both ways: an apply that says it succeeded left the
    // tap holding the settings, a settings read that succeeded returns what the tap holds, and
    // reads of two registers in turn never take the other's value: from a tap that repeats the
    // address, on every row; from one that does not, wherever a stray can be told from the
    // answer by its address or by coming before the tap could have answered (a reply lost
    // behind a late one leaves nothing to tell them by; the settings read's reads in a row are
    // what settles a value there). Where the line only repeats or delays, all succeed.
    void registersUnderFaults_data()
    {
        QTest::addColumn<QString>("options");
        QTest::addColumn<bool>("mustSucceed");
        QTest::addColumn<bool>("readsRight");  // also from a tap that does not repeat the address
        const auto bothWays = [](const char *name, const QString &options, bool mustSucceed,
                                 bool readsRight = true) {
            QTest::addRow("%s, repeating", name) << options << mustSucceed << true;
            QTest::addRow("%s, not repeating", name)
                << options + QStringLiteral(" --no-echo") << mustSucceed << readsRight;
        };
        bothWays("clean", "", true);
        bothWays("every reply twice", "--duplicate-fraction 1", true);
        bothWays("every reply twice, lagging", "--duplicate-fraction 1 --duplicate-lag-ms 3", true);
        bothWays("every reply twice, 1 % lost", "--duplicate-fraction 1 --drop-fraction 0.01",
                 false);
        bothWays("late 80 to 120 ms", "--delay-ms 80 --jitter-ms 40", false, false);
        bothWays("5 % late", "--late-fraction 0.05 --late-ms 30", true);
        bothWays("reordered", "--reorder-fraction 0.1", false, false);
        bothWays("replies lost", "--lose-reply-fraction 0.05", true);
        bothWays("protocol junk", "--junk-rate 2000 --junk-kinds protocol", false);
        bothWays("protocol junk, answering in 1 ms",
                 "--junk-rate 2000 --junk-kinds protocol --delay-ms 1", true);
        bothWays("earlier answer replayed", "--replay-before-reply --delay-ms 2", true);
        bothWays("answers replayed by others", "--junk-rate 300 --junk-kinds replay --delay-ms 1",
                 false);
    }

    void registersUnderFaults()
    {
        IN_PROCESS_ONLY();
        QFETCH(QString, options);
        QFETCH(bool, mustSucceed);
        QFETCH(bool, readsRight);
        QVERIFY(startTap(options + QStringLiteral(" --firmware-version 4.2")));
        int failures = 0;
        for (int i = 0; i < 8; ++i) {
            uint8_t major = 0, minor = 0;
            if (!dev->readRegister(VersionMajor, &major, false))
                ++failures;
            else if (readsRight)
                QCOMPARE(major, uint8_t(4));
            if (!dev->readRegister(VersionMinor, &minor, false))
                ++failures;
            else if (readsRight)
                QCOMPARE(minor, uint8_t(2));
        }
        const DeviceSettings written = someSettings();
        if (dev->writeSettings(written, false)) {
            const QByteArray sector = bed->settingsSector(false);
            for (const RegisterWrite &w : v4SettingsRegisters(written)) {
                const uint8_t mask = v4ReadBackMask(w.address);
                QCOMPARE(uint8_t(sector.at(w.address - reg::SettingsSector)) & mask,
                         w.value & mask);
            }
        } else {
            ++failures;
            QVERIFY(dev->lastFailure().cause != DeviceFailure::Cause::Refused);
        }
        DeviceSettings back;
        if (dev->readSettings(back, false))
            QVERIFY(back == held(bed->settingsSector(false)));
        else
            ++failures;
        if (mustSucceed)
            QCOMPARE(failures, 0);
    }

    // What counts as a refusal, and what a clean line costs: a register read or write, a page
    // and the begin, each answered by the tap's refusal code, by another command's success code
    // (a stray, never a refusal), or as asked; with every reply repeated a refusal still
    // stands, confirmed by a second send.
    void refusalsAndStrays_data()
    {
        QTest::addColumn<QString>("options");
        QTest::addColumn<int>("op");  // 0 read, 1 write, 2 page, 3 begin
        QTest::addColumn<int>("cause");  // DeviceFailure::Cause, None when it succeeds
        QTest::addColumn<int>("sends");
        using C = DeviceFailure::Cause;
        const auto row = [](const char *name, const char *options, int op, C cause, int sends) {
            for (const bool echo : {true, false}) {
                if (TapBed::runsRow(echo && sends == 1))
                    QTest::addRow("%s, %s", name, echo ? "repeating" : "not repeating")
                        << QString::fromLatin1(options) + (echo ? "" : " --no-echo") << op
                        << int(cause) << sends;
            }
        };
        row("read, clean", "", 0, C::None, 1);
        row("write, clean", "", 1, C::None, 1);
        row("page, clean", "", 2, C::None, 1);
        row("begin, clean", "", 3, C::None, 1);
        row("read refused", "--wrong-code 71:ff", 0, C::Refused, 1);
        row("page refused", "--refuse-page 3:100", 2, C::Refused, 1);
        row("read refused, replies twice", "--wrong-code 71:ff --duplicate-fraction 1", 0,
            C::Refused, 2);
        row("page refused, replies twice", "--refuse-page 3:100 --duplicate-fraction 1", 2,
            C::Refused, 2);
        row("read answered with a write's code", "--wrong-code 71:07", 0, C::NoReply, 10);
        row("begin answered with a read's code", "--wrong-code b0:17", 3, C::NoReply, 10);
        row("write answered with a page's code", "--wrong-code 70:1b", 1, C::NoReply, 10);
        row("read, replies twice", "--duplicate-fraction 1", 0, C::None, 2);
    }

    void refusalsAndStrays()
    {
        QFETCH(QString, options);
        QFETCH(int, op);
        QFETCH(int, cause);
        QFETCH(int, sends);
        QVERIFY(startTap(options + QStringLiteral(" --firmware-version 4.2")));
        const std::vector<uint8_t> page(PageSize, 0x3C);
        bool ok = false;
        uint8_t value = 0xA5;
        switch (op) {
        case 0: ok = dev->readRegister(VersionMajor, &value, false); break;
        case 1: ok = dev->writeRegister(0x70001, 0x12, false); break;
        case 2:
            QVERIFY(dev->beginProgramming());
            bed->clearFrames();
            ok = dev->programPage(3, page.data());
            break;
        case 3: ok = dev->beginProgramming(); break;
        }
        QCOMPARE(ok, cause == int(DeviceFailure::Cause::None));
        QCOMPARE(bed->frames().size(), sends);
        if (op == 0)  // a read that fails leaves the caller's byte alone
            QCOMPARE(value, uint8_t(ok ? 4 : 0xA5));
        if (!ok) {
            QCOMPARE(int(dev->lastFailure().cause), cause);
            if (cause == int(DeviceFailure::Cause::Refused)) {
                QCOMPARE(dev->lastFailure().code, 0xFF);
                QCOMPARE(dev->lastFailure().where, op == 2 ? 3 : VersionMajor);
            }
        }
    }

    // Whole updates, both ways: one that succeeds left the flash exact wherever the tap
    // repeats the page index, and says whether every page was tied to its answer; pages whose
    // answers could not be tied go out once more when strays were heard; a clean line sends
    // each page once.
    void updateUnderFaults_data()
    {
        QTest::addColumn<QString>("options");
        QTest::addColumn<bool>("strays");  // the line repeats replies
        const auto bothWays = [](const char *name, const QString &options, bool strays) {
            QTest::addRow("%s, repeating", name) << options << strays;
            QTest::addRow("%s, not repeating", name)
                << options + QStringLiteral(" --no-echo") << strays;
        };
        bothWays("clean", QString(), false);
        bothWays("5 % twice lagging, 1 % lost",
                 "--duplicate-fraction 0.05 --duplicate-lag-ms 20 --drop-fraction 0.01", true);
        bothWays("every reply twice, 1 % lost", "--duplicate-fraction 1 --drop-fraction 0.01",
                 true);
    }

    void updateUnderFaults()
    {
        IN_PROCESS_ONLY();
        QFETCH(QString, options);
        QFETCH(bool, strays);
        QVERIFY(startTap(options));
        const bool echo = !options.contains(QLatin1String("--no-echo"));
        uint8_t value = 0;
        QVERIFY(dev->readRegister(VersionMajor, &value, false));  // as detection does first
        QCOMPARE(dev->echoesAddress(), echo);
        bed->clearFrames();

        std::vector<uint8_t> image(firmware::V4PageCount * firmware::PageSize);
        for (size_t i = 0; i < image.size(); ++i)
            image[i] = uint8_t(i * 7 + i / 256);
        const bool ok = dev->updateFirmware(image.data(), int(image.size()));
        const UpdateReceipt &r = dev->lastUpdateReceipt();
        QCOMPARE(r.pages, 768);
        QCOMPARE(r.sentUnanswered, 0);
        if (!ok)
            return;  // failed honestly: nothing claimed
        QCOMPARE(r.acknowledgedWithIndex + r.acknowledgedWithoutIndex, 768);
        QCOMPARE(r.verifiedByEcho(), echo);
        QCOMPARE(r.passes, !echo && strays ? 2 : 1);
        QCOMPARE(r.unexpectedFrames > 0, strays);
        if (echo)
            QCOMPARE(
                bed->flash(),
                QByteArray(reinterpret_cast<const char *>(image.data()), qsizetype(image.size())));
        if (!strays)
            QCOMPARE(bed->frames().size(), 1 + 768 + 1);
    }
};

QTEST_GUILESS_MAIN(TestReplyMatching)
#include "tst_replymatching.moc"
