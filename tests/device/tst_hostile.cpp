#include <QtTest>

#include <array>
#include <vector>

#include "DeviceSettings.h"
#include "MV1Device_v4.h"
#include "SettingsRegisterMap.h"
#include "TapService.h"
#include "SettingsOnTap.h"
#include "TapBed.h"

namespace {

// Junk frames per second. Taps that send nothing meet more, so their attempts end sooner. A
// settings read meets less: nothing in an answer ties it to its request, so a replay of another
// register's answer that lands between a request and its answer passes for it, and the
// request's own answer then passes for the next one's. At 2,000 frames/s that spoils a few
// settings reads in a hundred, at 500 about one in 5,000, at 100 none in 5,000
// (bench_hostile counts them).
constexpr int Junk = 500;
constexpr int MoreJunk = 2000;
constexpr int LessJunk = 100;

struct Kind
{
    const char *name;
    const char *kinds;  // --junk-kinds
    bool canPassForReply;  // without replies to copy, only random frames can
};

const Kind Kinds[] = {
    {"random", "random", true},
    {"runts", "runt", false},
    {"replays", "replay", false},
    {"mixed", "random,runt,replay", true},
    // The tap's own codes with random addresses and values: what only the address and
    // agreeing repeats tell from an answer.
    {"protocol", "protocol", true},
};

enum class Op {
    RegisterWrite,
    RegisterRead,
    SettingsWrite,
    SilentSettingsWrite,
    SettingsRead,
    RefusedUpdate,
    Probe4,
    Probe3
};

struct Operation
{
    const char *name;
    Op op;
    const char *tap;  // what the tap does besides the junk
    int rate;
    int repeats;
    bool answersNothing;  // a tap that sends nothing a replay could copy
    const char *endToEnd = nullptr;  // the kind of junk it also meets on a veth pair
};

const Operation Operations[] = {
    {"register write", Op::RegisterWrite, "", Junk, 20, false},
    {"register read", Op::RegisterRead, "", Junk, 20, false, "mixed"},
    {"settings write", Op::SettingsWrite, "", Junk, 3, false},
    {"settings write, silent tap", Op::SilentSettingsWrite, "--silent", MoreJunk, 1, true},
    {"settings read", Op::SettingsRead, "", LessJunk, 5, false},
    {"update, a page refused", Op::RefusedUpdate, "--refuse-page 1:1000000", Junk, 3, false},
    {"probe, generation 4", Op::Probe4, "", Junk, 3, false, "mixed"},
    {"probe, generation 4 not repeating, answering in 1 ms", Op::Probe4, "--no-echo --delay-ms 1",
     MoreJunk, 3, false},
    // Refused is heard, not silence: never a reason to take a tap for generation 3.
    {"probe, generation 4 refusing it", Op::Probe4, "--wrong-code 70:ff", Junk, 1, false},
    {"probe, generation 3", Op::Probe3, "--generation 3", MoreJunk, 1, true, "random"},
};

}  // namespace

// Zero-address junk from the monitored network against every operation. Whatever it does, an
// operation ends (the test's timeout is the bound), never reports a success it did not have,
// and the probe never takes a tap for the other generation ("unsettled" is allowed).
class TestHostile : public QObject
{
    Q_OBJECT

    std::unique_ptr<TapBed> bed = TapBed::make();

private slots:
    void initTestCase()
    {
        REQUIRE_TAP_BED();
        QVERIFY(bed->plug());
    }

    void junkNeverFakesSuccess_data()
    {
        QTest::addColumn<QStringList>("tap");
        QTest::addColumn<int>("op");
        QTest::addColumn<int>("repeats");
        for (const Operation &o : Operations) {
            for (const Kind &k : Kinds) {
                if (o.answersNothing && !k.canPassForReply)
                    continue;  // nothing on the line could pass for an answer: a quiet tap
                if (!TapBed::runsRow(o.endToEnd && qstrcmp(o.endToEnd, k.name) == 0))
                    continue;
                QTest::addRow("%s, %s", o.name, k.name)
                    << (QStringList{"--junk-rate", QString::number(o.rate), "--junk-kinds", k.kinds}
                        + QString::fromLatin1(o.tap).split(QLatin1Char(' '), Qt::SkipEmptyParts))
                    << int(o.op) << o.repeats;
            }
        }
    }

    void junkNeverFakesSuccess()
    {
        QFETCH(QStringList, tap);
        QFETCH(int, op);
        QFETCH(int, repeats);
        QVERIFY(bed->startTap(tap));
        MV1Device_v4 dev(qPrintable(bed->hostInterface()), bed->link());
        const DeviceSettings written = someSettings();
        const std::vector<uint8_t> image(1024, 0x5A);
        for (int i = 0; i < repeats; ++i) {
            uint8_t value = 0;
            DeviceSettings back;
            switch (Op(op)) {
            case Op::RegisterWrite: dev.writeRegister(reg::Control, uint8_t(i), false); break;
            case Op::RegisterRead:
                if (dev.readRegister(reg::Control, &value, false))
                    QCOMPARE(
                        value,
                        uint8_t(bed->settingsSector(false).at(reg::Control - reg::SettingsSector)));
                break;
            case Op::SettingsWrite:
                if (dev.writeSettings(written, false)) {
                    const QByteArray sector = bed->settingsSector(false);
                    for (const RegisterWrite &w : v4SettingsRegisters(written)) {
                        const uint8_t mask = v4ReadBackMask(w.address);
                        const uint8_t there = uint8_t(sector.at(w.address - reg::SettingsSector));
                        QCOMPARE(there & mask, w.value & mask);
                    }
                }
                break;
            case Op::SilentSettingsWrite: QVERIFY(!dev.writeSettings(written, false)); break;
            case Op::SettingsRead:
                if (dev.readSettings(back, false))
                    QVERIFY(back == held(bed->settingsSector(false)));
                break;
            case Op::RefusedUpdate:
                QVERIFY(!dev.updateFirmware(image.data(), int(image.size())));
                break;
            case Op::Probe4:
            case Op::Probe3: {
                const TapOpening opening = openTap(bed->hostInterface());
                if (opening.result == TapOpening::Result::Opened) {
                    QCOMPARE(opening.tap->generation(), Op(op) == Op::Probe4 ? 4 : 3);
                    // What the window then shows of it, the firmware above all, is the tap's.
                    if (Op(op) == Op::Probe4 && opening.tap->device().readSettings(back, false))
                        QVERIFY(back == held(bed->settingsSector(false)));
                } else
                    QCOMPARE(int(opening.result), int(TapOpening::Result::Unsettled));
                break;
            }
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestHostile)
#include "tst_hostile.moc"
