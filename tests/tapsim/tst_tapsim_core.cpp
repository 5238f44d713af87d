#include <QtTest>

#include <cstring>
#include <memory>
#include <vector>

#include "FrameRecorder.h"
#include "TapOptions.h"
#include "TapProtocol.h"
#include "TapState.h"

using namespace tapsim;

namespace {

// Exactly `length` bytes on the heap, so the sanitizers catch any read past the frame.
std::vector<uint8_t> command(uint8_t opcode, int address, uint8_t value = 0,
                             int length = frame::RequestLength)
{
    std::vector<uint8_t> f(static_cast<size_t>(length), 0);
    if (length > frame::OpcodeOffset)
        f[frame::OpcodeOffset] = opcode;
    if (length >= frame::AddressOffset + frame::AddressLength)
        frame::putAddress(f.data(), address);
    if (length > frame::ValueOffset)
        f[frame::ValueOffset] = value;
    return f;
}

std::vector<uint8_t> page(uint8_t opcode, int indexOrAddress, uint8_t first)
{
    std::vector<uint8_t> f = command(opcode, indexOrAddress, 0, frame::PageFrameLength);
    for (int i = 0; i < frame::PageSize; ++i)
        f[static_cast<size_t>(frame::PageDataOffset + i)] = mirrorBits(static_cast<uint8_t>(first + i));
    return f;
}

std::optional<Reply> send(TapProtocol &p, const std::vector<uint8_t> &f)
{
    return p.handle(f.data(), static_cast<int>(f.size()));
}

uint8_t codeOf(const std::optional<Reply> &r) { return r ? r->bytes[frame::OpcodeOffset] : 0; }

} // namespace

class TestTapsimCore : public QObject
{
    Q_OBJECT

private slots:
    void repliesHaveTheShapeTheHostExpects()
    {
        TapState state;
        TapProtocol tap(4, state);
        struct Case { uint8_t opcode; int length; uint8_t code; int replyLength; };
        const Case cases[] = {
            {0x70, 300, reply::WriteRegister, 300},
            {0x80, 300, reply::WriteRegisterPersistent, 300},
            {0x71, 300, reply::ReadRegister, 300},
            {0x81, 300, reply::ReadRegisterPersistent, 300},
            {0xE0, 300, reply::EraseSector, 300},
            {0x8F, 300, code::Commit, 300},
            {0xB0, 300, reply::BeginProgramming, 300},
            {0x70, 20, reply::WriteRegister, 60},      // short requests get a minimum frame
            {0x42, 300, code::Refused, 300},           // unknown opcode
        };
        for (const Case &c : cases) {
            const auto f = command(c.opcode, 0x70001, 0x33, c.length);
            const auto r = send(tap, f);
            QVERIFY(r);
            QCOMPARE(codeOf(r), c.code);
            QCOMPARE(r->length, c.replyLength);
            for (int i = 0; i < frame::HeaderLength; ++i)
                QCOMPARE(r->bytes[static_cast<size_t>(i)], uint8_t(0));
            // Never the same bytes as the request, or the host would take it for its own echo.
            QVERIFY(r->length != c.length
                    || std::memcmp(r->bytes.data(), f.data(), static_cast<size_t>(c.length)) != 0);
        }
        const auto pageReply = send(tap, page(0xB1, 0, 0));
        QCOMPARE(codeOf(pageReply), reply::ProgramPage);
        QCOMPARE(pageReply->length, frame::RequestLength);   // the page frame's first 300 bytes
        QCOMPARE(codeOf(send(tap, command(0xB2, 0))), reply::EndProgramming);
    }

    void framesThatAreNotCommandsAreIgnored()
    {
        TapState state;
        TapProtocol tap(4, state);
        QVERIFY(!send(tap, command(0x70, 0x70001, 1, 15)));   // no room for an opcode
        auto foreign = command(0x70, 0x70001, 1);
        foreign[7] = 0x01;                                     // non-zero source address
        QVERIFY(!send(tap, foreign));
        auto etherType = command(0x70, 0x70001, 1);
        etherType[13] = 0x01;
        QVERIFY(!send(tap, etherType));
        QCOMPARE(state.readRegister(0x70001, false), ErasedByte);

        // Too short to carry the fields the command needs: refused, nothing read past the end.
        QCOMPARE(codeOf(send(tap, command(0x70, 0x70001, 1, 19))), code::Refused);
        QCOMPARE(codeOf(send(tap, command(0x71, 0x70001, 0, 17))), code::Refused);
        QCOMPARE(codeOf(send(tap, command(0xE0, 0x70000, 0, 18))), code::Refused);
        QCOMPARE(codeOf(send(tap, command(0xB0, 0))), reply::BeginProgramming);
        QCOMPARE(codeOf(send(tap, command(0xB1, 0, 0, frame::PageDataOffset + frame::PageSize - 1))),
                 code::Refused);
    }

    void workingAndStoredCopiesAndTheCommit()
    {
        TapState state;
        TapProtocol tap(4, state);
        QCOMPARE(send(tap, command(0x71, 0x70009))->bytes[frame::ValueOffset], ErasedByte);

        send(tap, command(0x70, 0x70000, 0x0B));
        send(tap, command(0x70, 0x70200, 0x11));
        send(tap, command(0x80, 0x70200, 0x22));
        QCOMPARE(send(tap, command(0x71, 0x70000))->bytes[frame::ValueOffset], uint8_t(0x0B));
        QCOMPARE(send(tap, command(0x81, 0x70000))->bytes[frame::ValueOffset], ErasedByte);
        QCOMPARE(send(tap, command(0x81, 0x70200))->bytes[frame::ValueOffset], uint8_t(0x22));

        send(tap, command(0x8F, 0));
        QCOMPARE(state.readRegister(0x70000, true), uint8_t(0x0B));   // working copied over
        QCOMPARE(state.readRegister(0x70200, true), uint8_t(0x22));   // persistent write kept
        QCOMPARE(state.readRegister(0x70200, false), uint8_t(0x11));

        // After the commit, the working copy wins again at that register.
        send(tap, command(0x70, 0x70200, 0x33));
        send(tap, command(0x8F, 0));
        QCOMPARE(state.readRegister(0x70200, true), uint8_t(0x33));

        // The worker's "Flash": working write, persistent write, commit: both copies agree.
        send(tap, command(0x70, 0x70001, 0x1F));
        send(tap, command(0x80, 0x70001, 0x1F));
        send(tap, command(0x8F, 0));
        QCOMPARE(state.settingsSector(true), state.settingsSector(false));
    }

    void statusRegistersAndAddressesOutsideTheSector()
    {
        TapState state(FirmwareStatus{4, 1, 0x220C});
        TapProtocol tap(4, state);
        const uint8_t expected[] = {4, 1, 0x0C, 0x22};
        for (int i = 0; i < 4; ++i) {
            send(tap, command(0x70, reg::FirmwareVersion + i, 0x99));
            send(tap, command(0x80, reg::FirmwareVersion + i, 0x99));
            QCOMPARE(send(tap, command(0x71, reg::FirmwareVersion + i))->bytes[frame::ValueOffset], expected[i]);
            QCOMPARE(send(tap, command(0x81, reg::FirmwareVersion + i))->bytes[frame::ValueOffset], expected[i]);
        }
        QCOMPARE(codeOf(send(tap, command(0x70, 0x123456, 0x01))), reply::WriteRegister);
        QCOMPARE(send(tap, command(0x71, 0x123456))->bytes[frame::ValueOffset], ErasedByte);
        QCOMPARE(state.programmedArea(), std::vector<uint8_t>(ProgramAreaLength, ErasedByte));

        // Bits above 23 never reach the wire; an address at the very top stays in range.
        QCOMPARE(codeOf(send(tap, command(0x70, 0xFFFFFF, 0x01))), reply::WriteRegister);
    }

    void eraseClearsTheStoredSector()
    {
        TapState state;
        TapProtocol tap(4, state);
        send(tap, command(0x70, 0x70001, 0x01));
        send(tap, command(0x80, 0x70001, 0x02));
        QCOMPARE(codeOf(send(tap, command(0xE0, 0x70000))), reply::EraseSector);
        QCOMPARE(state.readRegister(0x70001, true), ErasedByte);
        QCOMPARE(state.readRegister(0x70001, false), uint8_t(0x01));
        // An erase also forgets persistent writes, so a later commit copies the working copy.
        send(tap, command(0x8F, 0));
        QCOMPARE(state.readRegister(0x70001, true), uint8_t(0x01));
    }

    void programmingStoresPagesInImageOrder()
    {
        TapState state(FirmwareStatus{0, 0, 0});
        TapProtocol tap(4, state, {}, true);
        QCOMPARE(codeOf(send(tap, page(0xB1, 0, 0))), code::Refused);   // no run open
        QCOMPARE(codeOf(send(tap, command(0xB2, 0))), code::Refused);
        QVERIFY(!tap.takeProgrammingCompleted());

        QCOMPARE(codeOf(send(tap, command(0xB0, 0))), reply::BeginProgramming);
        QCOMPARE(codeOf(send(tap, page(0xB1, 0, 0x12))), reply::ProgramPage);
        QCOMPARE(codeOf(send(tap, page(0xB1, 767, 0x80))), reply::ProgramPage);
        QCOMPARE(codeOf(send(tap, page(0xB1, 768, 0x00))), code::Refused);
        const std::vector<uint8_t> flash = state.programmedArea();
        QCOMPARE(flash[0], uint8_t(0x12));     // sent as 0x48, stored back as the image byte
        QCOMPARE(flash[255], uint8_t(0x11));
        QCOMPARE(flash[256], ErasedByte);
        QCOMPARE(flash[767 * 256], uint8_t(0x80));
        QCOMPARE(state.readRegister(reg::FirmwareVersion, false), uint8_t(0));

        QCOMPARE(codeOf(send(tap, command(0xB2, 0))), reply::EndProgramming);
        QVERIFY(tap.takeProgrammingCompleted());
        QVERIFY(!tap.takeProgrammingCompleted());
        QCOMPARE(state.readRegister(reg::FirmwareVersion, false), uint8_t(4));
        QCOMPARE(state.readRegister(reg::FirmwareTypeCode, false), uint8_t(0x0C));
        QCOMPARE(state.readRegister(reg::FirmwareTypeCode + 1, false), uint8_t(0x22));

        // A new run starts from erased flash.
        send(tap, command(0xB0, 0));
        QCOMPARE(state.programmedArea(), std::vector<uint8_t>(ProgramAreaLength, ErasedByte));
    }

    void refusedPagesAndWrongCodes()
    {
        TapState state;
        ProtocolFaults faults;
        faults.refusedPages[10] = 2;
        faults.wrongCodes[0x70] = 0x07 + 1;
        TapProtocol tap(4, state, faults);
        send(tap, command(0xB0, 0));
        QCOMPARE(codeOf(send(tap, page(0xB1, 10, 1))), code::Refused);
        QCOMPARE(state.programmedArea()[10 * 256], ErasedByte);   // a refused page is not kept
        QCOMPARE(codeOf(send(tap, page(0xB1, 11, 1))), reply::ProgramPage);
        QCOMPARE(codeOf(send(tap, page(0xB1, 10, 1))), code::Refused);
        QCOMPARE(codeOf(send(tap, page(0xB1, 10, 1))), reply::ProgramPage);
        QCOMPARE(codeOf(send(tap, page(0xB1, 10, 1))), reply::ProgramPage);

        QCOMPARE(codeOf(send(tap, command(0x70, 0x70001, 5))), uint8_t(8));
        QCOMPARE(state.readRegister(0x70001, false), ErasedByte);   // a wrong code: not done
        QCOMPARE(codeOf(send(tap, command(0x80, 0x70001, 5))), reply::WriteRegisterPersistent);
        QCOMPARE(state.readRegister(0x70001, true), uint8_t(5));
    }

    void generation3AppliesSilently()
    {
        TapState state;
        TapProtocol tap(3, state);
        QVERIFY(!send(tap, command(0x70, 0x70002, 0xFF)));
        QVERIFY(!send(tap, command(0x80, 0x70005, 0xF0)));
        QVERIFY(!send(tap, command(0x71, 0x70002)));
        QCOMPARE(state.readRegister(0x70002, false), uint8_t(0xFF));
        QCOMPARE(state.readRegister(0x70005, true), uint8_t(0xF0));
        QCOMPARE(state.readRegister(0x70005, false), ErasedByte);

        // Pages by byte address, written twice like the host does, then an erase.
        QVERIFY(!send(tap, page(0xDD, 0x500, 0x12)));
        QVERIFY(!send(tap, page(0xDD, 0x500, 0x12)));
        QCOMPARE(state.programmedArea()[0x500], uint8_t(0x12));
        QVERIFY(!send(tap, command(0xEE, 0x70000, 0, frame::PageFrameLength)));
        QCOMPARE(state.readRegister(0x70005, true), ErasedByte);
        QVERIFY(!send(tap, command(0xEE, 0x00000, 0, frame::PageFrameLength)));
        QCOMPARE(state.programmedArea()[0x500], ErasedByte);

        // A page that runs past the end of the address space is cut there.
        QVERIFY(!send(tap, page(0xDD, 0xFFFF80, 0)));
        QVERIFY(!send(tap, page(0xDD, 0x600, 0x00)));
        QVERIFY(!send(tap, command(0xDD, 0x700, 0, frame::PageDataOffset + 10)));   // too short
        QCOMPARE(state.programmedArea()[0x700], ErasedByte);
        // Generation-4 opcodes mean nothing here.
        QVERIFY(!send(tap, command(0xB0, 0)));
        QCOMPARE(state.programmedArea()[0x600], uint8_t(0x00));
    }

    void mirrorBitsMatchesTheExamples()
    {
        QCOMPARE(mirrorBits(0x01), uint8_t(0x80));
        QCOMPARE(mirrorBits(0x12), uint8_t(0x48));
        QCOMPARE(mirrorBits(0x0F), uint8_t(0xF0));
        for (int v = 0; v < 256; ++v)
            QCOMPARE(mirrorBits(mirrorBits(static_cast<uint8_t>(v))), uint8_t(v));
    }

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("valid");
        const QString i = QStringLiteral("--interface=kvtap0s");
        QTest::newRow("interface only") << QStringList{i} << true;
        QTest::newRow("no interface") << QStringList{} << false;
        QTest::newRow("generation 5") << QStringList{i, QStringLiteral("--generation=5")} << false;
        QTest::newRow("version x") << QStringList{i, QStringLiteral("--firmware-version=4.x")} << false;
        QTest::newRow("version 256") << QStringList{i, QStringLiteral("--firmware-version=256.0")} << false;
        QTest::newRow("type too wide") << QStringList{i, QStringLiteral("--firmware-type=10000")} << false;
        QTest::newRow("wrong code no colon") << QStringList{i, QStringLiteral("--wrong-code=70")} << false;
        QTest::newRow("page 768") << QStringList{i, QStringLiteral("--refuse-page=768:1")} << false;
        QTest::newRow("fraction 2") << QStringList{i, QStringLiteral("--drop-fraction=2")} << false;
        QTest::newRow("negative delay") << QStringList{i, QStringLiteral("--delay-ms=-1")} << false;
        QTest::newRow("stray") << QStringList{i, QStringLiteral("extra")} << false;
        QTest::newRow("reply 15 bytes") << QStringList{i, QStringLiteral("--reply-length=15")} << false;
        QTest::newRow("reply 1515 bytes") << QStringList{i, QStringLiteral("--reply-length=1515")} << false;
        QTest::newRow("junk field") << QStringList{i, QStringLiteral("--junk-field=dst")} << false;
    }

    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, valid);
        TapCommandLine line;
        QCOMPARE(line.parse(QStringList{QStringLiteral("kalvessa-tapsim")} + arguments), valid);
        QCOMPARE(line.error().isEmpty(), valid);
    }

    void commandLineValues()
    {
        TapCommandLine line;
        QVERIFY(line.parse({QStringLiteral("tapsim"), QStringLiteral("--interface"), QStringLiteral("x"),
                            QStringLiteral("--firmware-version"), QStringLiteral("4.1"),
                            QStringLiteral("--firmware-type"), QStringLiteral("0x1234"),
                            QStringLiteral("--wrong-code"), QStringLiteral("b1:ff"),
                            QStringLiteral("--wrong-code"), QStringLiteral("70:8"),
                            QStringLiteral("--refuse-page"), QStringLiteral("10:20")}));
        const TapOptions &o = line.options();
        QCOMPARE(o.generation, 4);
        QCOMPARE(o.status.major, uint8_t(4));
        QCOMPARE(o.status.minor, uint8_t(1));
        QCOMPARE(o.status.typeCode, uint16_t(0x1234));
        QCOMPARE(o.faults.wrongCodes.at(0xB1), uint8_t(0xFF));
        QCOMPARE(o.faults.wrongCodes.at(0x70), uint8_t(0x08));
        QCOMPARE(o.faults.refusedPages.at(10), 20);

        TapCommandLine zero;
        QVERIFY(zero.parse({QStringLiteral("tapsim"), QStringLiteral("--interface=x"),
                            QStringLiteral("--firmware-version=0")}));
        QCOMPARE(zero.options().status.major, uint8_t(0));
        QCOMPARE(zero.options().status.minor, uint8_t(0));
        QCOMPARE(zero.options().status.typeCode, RecognisedFirmwareType);
    }

    void recordLineFormat()
    {
        const uint8_t bytes[] = {0x00, 0x0A, 0xFF};
        const timeval t{1700000000, 42};
        QCOMPARE(QString::fromStdString(FrameRecorder::formatLine(t, 3, bytes, 3)),
                 QStringLiteral("1700000000.000042 3 000aff"));
    }
};

QTEST_GUILESS_MAIN(TestTapsimCore)
#include "tst_tapsim_core.moc"
