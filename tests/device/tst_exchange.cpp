#include <QtTest>

#include <pcap/pcap.h>
#include <poll.h>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "DeviceTestUtil.h"
#include "FrameLayout.h"
#include "MV1Device_v4.h"
#include "TapTestBed.h"

using namespace devtest;

namespace {

QStringList opts(std::initializer_list<const char *> list)
{
    QStringList out;
    for (const char *s : list)
        out.append(QString::fromLatin1(s));
    return out;
}

QByteArray frameOf(const MV1Device_v4::Frame &f)
{
    return QByteArray(reinterpret_cast<const char *>(f.data()), static_cast<int>(f.size()));
}

const uint8_t *bytes(const QByteArray &f) { return reinterpret_cast<const uint8_t *>(f.constData()); }

// Stands in for the tap where a test needs frames the simulated tap never sends: it answers
// each request arriving on the far end of the pair with the frames `script` makes for it.
class ScriptedFarEnd
{
public:
    using Script = std::function<QList<QByteArray>(const QByteArray &request)>;

    ScriptedFarEnd(const QString &interfaceName, Script script) : m_script(std::move(script))
    {
        char err[PCAP_ERRBUF_SIZE] = {};
        m_p = pcap_create(interfaceName.toLocal8Bit().constData(), err);
        if (m_p == nullptr)
            return;
        bpf_program prog{};
        if (pcap_set_immediate_mode(m_p, 1) != 0 || pcap_activate(m_p) < 0
            || pcap_setdirection(m_p, PCAP_D_IN) != 0
            || pcap_compile(m_p, &prog, "ether dst 00:00:00:00:00:00", 1, PCAP_NETMASK_UNKNOWN) != 0
            || pcap_setfilter(m_p, &prog) != 0 || pcap_setnonblock(m_p, 1, err) != 0) {
            pcap_freecode(&prog);
            pcap_close(m_p);
            m_p = nullptr;
            return;
        }
        pcap_freecode(&prog);
        m_thread = std::thread([this] { serve(); });
    }
    ~ScriptedFarEnd()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_p != nullptr)
            pcap_close(m_p);
    }
    bool ready() const { return m_p != nullptr; }
    int requests() const { return m_requests; }

private:
    void serve()
    {
        while (!m_stop) {
            pcap_pkthdr *h = nullptr;
            const u_char *d = nullptr;
            const int r = pcap_next_ex(m_p, &h, &d);
            if (r < 0)
                return;
            if (r == 0) {
                pollfd fd{pcap_get_selectable_fd(m_p), POLLIN, 0};
                ::poll(&fd, 1, 10);
                continue;
            }
            const QByteArray request(reinterpret_cast<const char *>(d), static_cast<int>(h->caplen));
            ++m_requests;
            for (const QByteArray &f : m_script(request))
                pcap_inject(m_p, f.constData(), static_cast<size_t>(f.size()));
        }
    }

    Script m_script;
    pcap_t *m_p = nullptr;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_requests{0};
    std::thread m_thread;
};

// The request with a reply code in its place, as a tap answers.
QByteArray answer(const QByteArray &req, uint8_t code, int length = RequestLength)
{
    QByteArray f = req.left(length);
    f.resize(length, '\0');
    f[OpcodeAt] = static_cast<char>(code);
    return f;
}

} // namespace

class TestExchange : public QObject
{
    Q_OBJECT

    std::unique_ptr<TapTestBed> bed;
    std::unique_ptr<MV1Device_v4> dev;

    void startTap(const QStringList &options = {})
    {
        bed = std::make_unique<TapTestBed>();
        QVERIFY(bed->plug());
        QVERIFY(bed->startTap(options));
        dev = std::make_unique<MV1Device_v4>(qPrintable(bed->hostInterface()));
    }

private slots:
    void initTestCase() { REQUIRE_TAP_TEST_BED(); }
    void cleanup()
    {
        dev.reset();
        bed.reset();
    }

    // What each command puts on the wire, byte for byte, and how it reads the answer.
    void registerCommandFrames()
    {
        startTap();
        uint8_t value = 0;
        QVERIFY(dev->writeRegister(0x70001, 0xFF, false));
        QVERIFY(dev->readRegister(0x70001, &value, false));
        QCOMPARE(value, uint8_t(0xFF));
        QVERIFY(dev->writeRegister(0x70200, 0x5A, true));
        QVERIFY(dev->readRegister(0x70200, &value, true));
        QCOMPARE(value, uint8_t(0x5A));
        QVERIFY(dev->eraseSettings());
        QVERIFY(!dev->commitSettings());   // never reports success, whatever the answer
        QVERIFY(dev->eraseSector(0x1234567));   // bits above 23 dropped

        const QList<QByteArray> expected{
            request(0x70, 0x70001, 0xFF), request(0x71, 0x70001), request(0x80, 0x70200, 0x5A),
            request(0x81, 0x70200),       request(0xE0, 0x70000), request(0x8F, 0),
            request(0xE0, 0x234567)};
        QCOMPARE(bytesOf(bed->frames()), expected);
        QCOMPARE(byteAt(expected[1], 16), uint8_t(0x07));   // 0x70001 as 07 00 01
        QCOMPARE(byteAt(expected[1], 18), uint8_t(0x01));
        // The erase reached the stored copy that the write had set.
        QCOMPARE(bed->settingsSector(true).at(0x200), '\xff');
    }

    void programmingFramesAndNothingFromWriteFirmwarePage()
    {
        startTap();
        QByteArray page(256, '\0');
        for (int i = 0; i < page.size(); ++i)
            page[i] = static_cast<char>(255 - i);

        QVERIFY(dev->writeFirmwarePage(0x500, bytes(page)));
        QVERIFY(dev->beginProgramming());
        QVERIFY(dev->writeFirmwarePage(0x500, bytes(page)));
        QVERIFY(dev->programPage(5, bytes(page)));
        QVERIFY(dev->endProgramming());

        QByteArray pageFrame = request(0xB1, 5, 0, PageFrameLength);
        pageFrame.replace(19, 256, page);
        const QList<QByteArray> got = bytesOf(bed->frames());
        QCOMPARE(got, (QList<QByteArray>{request(0xB0, 0), pageFrame, request(0xB2, 0)}));
        QCOMPARE(got[1].mid(16, 3), QByteArray::fromHex("000005"));
        QCOMPARE(got[1].mid(275), QByteArray(1225, '\0'));
    }

    // The reply is told from the request by its content, not by its length or its first bytes.
    void replySelection()
    {
        // A reply as long as the request that differs only in byte 15 is the answer.
        startTap();
        const QByteArray write = request(0x70, 0x70005, 0x42);
        auto reply = dev->exchange(bytes(write), RequestLength, frame::RequestLength);
        QVERIFY(reply);
        QCOMPARE(frameOf(*reply), answer(write, 7));

        // A shorter answer that begins exactly like the request is the answer too.
        startTap(opts({"--wrong-code", "b1:b1"}));
        QVERIFY(dev->beginProgramming());
        QByteArray page = request(0xB1, 2, 0, PageFrameLength);
        reply = dev->exchange(bytes(page), PageFrameLength, 50);
        QVERIFY(reply);
        QCOMPARE(frameOf(*reply), page.left(RequestLength));
        QCOMPARE(bed->frames().size(), 2);   // answered at the first send

        // A copy of the request coming back first is passed over; the answer after it is taken.
        startTap(opts({"--false-echo"}));
        QVERIFY(dev->writeRegister(0x70009, 0x3C, false));
        uint8_t value = 0;
        QVERIFY(dev->readRegister(0x70009, &value, false));
        QCOMPARE(value, uint8_t(0x3C));
        QCOMPARE(bed->frames().size(), 2);
    }

    // Misses: frames with a non-zero header count, frames under 16 bytes do not; an attempt
    // tolerates the budget and ends at one more. The capture never sees this socket's own
    // requests, so here every miss is a frame the tap sent.
    void missCounting_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("sends");
        QTest::newRow("budget reached") << opts({"--junk-before-reply", "10"}) << 1;
        QTest::newRow("budget passed") << opts({"--junk-before-reply", "11"}) << 2;
        QTest::newRow("short frames are free")
            << opts({"--junk-before-reply", "10", "--short-before-reply", "12"}) << 1;
        QTest::newRow("echo and junk")
            << opts({"--false-echo", "--junk-before-reply", "10"}) << 2;
    }

    void missCounting()
    {
        QFETCH(QStringList, options);
        QFETCH(int, sends);
        startTap(options);
        QVERIFY(dev->writeRegister(0x70008, 0x81, false));
        // When an attempt runs out, the answer to it is still on its way and the next attempt
        // takes it: the request goes out exactly once more.
        const QList<QByteArray> got = bytesOf(bed->frames());
        QCOMPARE(got, QList<QByteArray>(sends, request(0x70, 0x70008, 0x81)));
    }

    void unansweredRequestsAreSentTenTimes()
    {
        startTap(opts({"--silent"}));
        QVERIFY(!dev->writeRegister(0x70001, 0xFF, false));
        QCOMPARE(bytesOf(bed->frames()), QList<QByteArray>(10, request(0x70, 0x70001, 0xFF)));

        // An answer that is an exact copy of the request is never taken.
        startTap(opts({"--wrong-code", "70:70"}));
        QVERIFY(!dev->exchange(bytes(request(0x70, 0x70002, 1)), RequestLength, 10));
        QCOMPARE(bed->frames().size(), 10);
    }

    void wrongCodesFailWithoutRetry()
    {
        startTap(opts({"--wrong-code", "80:7", "--wrong-code", "71:18", "--wrong-code", "8f:0",
                       "--wrong-code", "e0:0", "--wrong-code", "b0:0"}));
        QVERIFY(!dev->writeRegister(0x70001, 0x12, true));   // code 7 is the working copy's
        uint8_t value = 0xA5;
        QVERIFY(!dev->readRegister(0x70001, &value, false));
        QCOMPARE(value, uint8_t(0xA5));
        QVERIFY(!dev->commitSettings());
        QVERIFY(!dev->eraseSettings());
        QVERIFY(!dev->beginProgramming());
        QCOMPARE(bed->frames().size(), 5);   // each answered once, none sent again
    }

    void droppedRequestsAreSentAgain()
    {
        startTap(opts({"--drop-every", "2"}));
        for (int i = 0; i < 3; ++i)
            QVERIFY(dev->writeRegister(0x70200 + i, uint8_t(i), false));
        const QList<Access> got = accessesOf(bed->frames());
        QCOMPARE(got, (QList<Access>{{0x70, 0x70200, 0}, {0x70, 0x70201, 1}, {0x70, 0x70201, 1},
                                     {0x70, 0x70202, 2}, {0x70, 0x70202, 2}}));
    }

    void unopenableInterfaceSendsNothing()
    {
        startTap();
        MV1Device_v4 missing("kvnosuch0");
        StdoutCapture out;
        uint8_t value = 0xA5;
        QVERIFY(!missing.writeRegister(0x70001, 0xFF, false));
        QVERIFY(!missing.readRegister(0x70001, &value, false));
        QVERIFY(out.text().startsWith("Cannot open interface : "));
        QCOMPARE(value, uint8_t(0xA5));
        QVERIFY(bed->frames().isEmpty());
    }

    // Frames the simulated tap never sends: answers too short to carry a value, and headers
    // that are zero in the addresses but not in the EtherType or byte 14.
    void craftedAnswers()
    {
        bed = std::make_unique<TapTestBed>();
        QVERIFY(bed->plug());
        MV1Device_v4 device(qPrintable(bed->hostInterface()));

        for (int length = 16; length <= 20; ++length) {
            ScriptedFarEnd far(bed->tapInterface(), [length](const QByteArray &req) {
                QByteArray f = answer(req, 23, length);
                if (length > 19)
                    f[ValueAt] = 0x77;
                return QList<QByteArray>{f};
            });
            QVERIFY(far.ready());
            uint8_t value = 0xA5;
            const bool ok = device.readRegister(0x70001, &value, false);
            QCOMPARE(ok, length > 19);
            QCOMPARE(value, length > 19 ? uint8_t(0x77) : uint8_t(0xA5));
            QCOMPARE(far.requests(), 1);
        }

        // Eleven frames with a non-zero EtherType or byte 14 end the first attempt; the answer
        // behind them is taken by the second.
        ScriptedFarEnd far(bed->tapInterface(), [](const QByteArray &req) {
            QList<QByteArray> out;
            for (int i = 0; i < 11; ++i) {
                QByteArray f = answer(req, 7);
                f[i % 2 == 0 ? 12 : 14] = 1;
                out.append(f);
            }
            out.append(answer(req, 7));
            return out;
        });
        QVERIFY(far.ready());
        QVERIFY(device.writeRegister(0x70001, 0xFF, false));
        // The second request may still be on its way: the answer it took was the first one's.
        QTRY_COMPARE(far.requests(), 2);
    }
};

QTEST_GUILESS_MAIN(TestExchange)
#include "tst_exchange.moc"
