#include <QtTest>

#include <pcap/pcap.h>
#include <net/if.h>
#include <poll.h>

#include <memory>
#include <optional>

#include "FrameLayout.h"
#include "TapTestBed.h"

namespace {

constexpr int ReadTimeoutMs = 10;
constexpr int ReplyWaitReads = 200;   // a reply that takes two seconds is lost
constexpr int SettingsSectorLength = 65536;
constexpr int FlashLength = 196608;
constexpr int StatusOffset = 0x300;

QByteArray request(uint8_t opcode, int address, uint8_t value = 0, int length = frame::RequestLength)
{
    QByteArray f(length, '\0');
    auto *b = reinterpret_cast<uint8_t *>(f.data());
    b[frame::OpcodeOffset] = opcode;
    frame::putAddress(b, address);
    b[frame::ValueOffset] = value;
    return f;
}

uint8_t mirror(uint8_t v)
{
    uint8_t out = 0;
    for (int bit = 0; bit < 8; ++bit)
        if (v & (1 << bit))
            out |= static_cast<uint8_t>(0x80 >> bit);
    return out;
}

QByteArray pageFrame(uint8_t opcode, int addressOrIndex, const QByteArray &imageBytes)
{
    QByteArray f = request(opcode, addressOrIndex, 0, frame::PageFrameLength);
    for (int i = 0; i < frame::PageSize; ++i)
        f[frame::PageDataOffset + i] = static_cast<char>(mirror(static_cast<uint8_t>(imageBytes[i])));
    return f;
}

QByteArray imagePage(int seed)
{
    QByteArray page(frame::PageSize, '\0');
    for (int i = 0; i < frame::PageSize; ++i)
        page[i] = static_cast<char>((i * 7 + seed * 13 + 1) & 0xFF);
    return page;
}

// The host side as the program would see it, minus the program: a raw capture on the host end
// of the pair, incoming frames only, so our own requests never show up.
class HostLink
{
public:
    explicit HostLink(const QString &interfaceName, bool zeroAddressOnly = true)
    {
        char err[PCAP_ERRBUF_SIZE] = {};
        m_p.reset(pcap_create(interfaceName.toLocal8Bit().constData(), err));
        if (!m_p)
            return;
        pcap_set_snaplen(m_p.get(), 65535);
        pcap_set_promisc(m_p.get(), 1);
        pcap_set_timeout(m_p.get(), 10);
        pcap_set_immediate_mode(m_p.get(), 1);
        if (pcap_activate(m_p.get()) < 0 || pcap_setdirection(m_p.get(), PCAP_D_IN) != 0) {
            m_p.reset();
            return;
        }
        if (zeroAddressOnly) {
            bpf_program prog{};
            if (pcap_compile(m_p.get(), &prog, "ether host 00:00:00:00:00:00", 1, PCAP_NETMASK_UNKNOWN) != 0
                || pcap_setfilter(m_p.get(), &prog) != 0)
                m_p.reset();
            pcap_freecode(&prog);
        }
        if (m_p && pcap_setnonblock(m_p.get(), 1, err) != 0)
            m_p.reset();
    }
    bool isOpen() const { return m_p != nullptr; }
    bool send(const QByteArray &f)
    {
        return pcap_inject(m_p.get(), f.constData(), static_cast<size_t>(f.size())) == f.size();
    }
    // Next frame within the read budget, or nothing. The capture is non-blocking and waited on
    // with poll(): a blocking pcap read does not come back on a quiet line with every libpcap.
    std::optional<QByteArray> next(int reads = ReplyWaitReads)
    {
        for (int i = 0; i <= reads; ++i) {
            pcap_pkthdr *h = nullptr;
            const u_char *d = nullptr;
            const int r = pcap_next_ex(m_p.get(), &h, &d);
            if (r < 0)
                return std::nullopt;
            if (r == 1)
                return QByteArray(reinterpret_cast<const char *>(d), static_cast<int>(h->caplen));
            pollfd fd{pcap_get_selectable_fd(m_p.get()), POLLIN, 0};
            ::poll(&fd, 1, ReadTimeoutMs);
        }
        return std::nullopt;
    }
    // Sends and returns the next frame that arrives.
    std::optional<QByteArray> exchange(const QByteArray &f)
    {
        if (!send(f))
            return std::nullopt;
        return next();
    }
    // Whatever already arrived, without waiting.
    QList<QByteArray> drain()
    {
        QList<QByteArray> out;
        pcap_pkthdr *h = nullptr;
        const u_char *d = nullptr;
        while (pcap_next_ex(m_p.get(), &h, &d) == 1)
            out.append(QByteArray(reinterpret_cast<const char *>(d), static_cast<int>(h->caplen)));
        return out;
    }

private:
    struct Closer { void operator()(pcap_t *p) const { pcap_close(p); } };
    std::unique_ptr<pcap_t, Closer> m_p;
};

uint8_t at(const QByteArray &f, int i) { return static_cast<uint8_t>(f.at(i)); }

} // namespace

class TestTapTestBed : public QObject
{
    Q_OBJECT

    std::unique_ptr<TapTestBed> bed;

    void startBed(const QStringList &options = {})
    {
        bed = std::make_unique<TapTestBed>();
        QVERIFY(bed->plug());
        QVERIFY(bed->startTap(options));
    }

private slots:
    void initTestCase() { REQUIRE_TAP_TEST_BED(); }
    void cleanup() { bed.reset(); }

    void registerCommandsAreAnsweredAndRecordedByteForByte()
    {
        startBed();
        HostLink host(bed->hostInterface());
        QVERIFY(host.isOpen());

        const QByteArray write = request(0x70, 0x70001, 0x5A);
        const auto reply = host.exchange(write);
        QVERIFY(reply);
        QCOMPARE(reply->size(), frame::RequestLength);
        QCOMPARE(reply->left(frame::HeaderLength), QByteArray(frame::HeaderLength, '\0'));
        QCOMPARE(at(*reply, frame::OpcodeOffset), reply::WriteRegister);
        QCOMPARE(reply->mid(16), write.mid(16));   // the rest echoes the request

        const auto readWorking = host.exchange(request(0x71, 0x70001));
        QVERIFY(readWorking);
        QCOMPARE(at(*readWorking, frame::OpcodeOffset), reply::ReadRegister);
        QCOMPARE(at(*readWorking, frame::ValueOffset), uint8_t(0x5A));

        const auto readStored = host.exchange(request(0x81, 0x70001));
        QVERIFY(readStored);
        QCOMPARE(at(*readStored, frame::OpcodeOffset), reply::ReadRegisterPersistent);
        QCOMPARE(at(*readStored, frame::ValueOffset), uint8_t(0xFF));   // never written: erased

        const QList<TapFrame> frames = bed->frames();
        QCOMPARE(frames.size(), 3);
        QCOMPARE(frames[0].bytes, write);
        QCOMPARE(frames[1].bytes, request(0x71, 0x70001));
        QVERIFY(frames[0].time > 0 && frames[0].time <= frames[1].time);
    }

    void framesIncludeEverythingSentBeforeTheCall()
    {
        // Generation 3 answers nothing, so nothing paces the sender: the frames are still on
        // their way when frames() is called.
        startBed({QStringLiteral("--generation"), QStringLiteral("3")});
        HostLink host(bed->hostInterface());
        QVERIFY(host.isOpen());
        QList<QByteArray> sent;
        for (int i = 0; i < 300; ++i) {
            sent.append(i % 3 == 2 ? pageFrame(opcode::V3WritePage, i * 256, imagePage(i))
                                   : request(0x70, 0x70200 + i % 23, static_cast<uint8_t>(i)));
            QVERIFY(host.send(sent.last()));
        }
        QList<TapFrame> frames = bed->frames();
        QCOMPARE(frames.size(), sent.size());
        for (int i = 0; i < sent.size(); ++i)
            QCOMPARE(frames[i].bytes, sent[i]);
        QVERIFY(host.drain().isEmpty());   // and generation 3 never answered

        bed->clearFrames();
        QVERIFY(bed->frames().isEmpty());
        QVERIFY(host.send(sent.first()));
        frames = bed->frames();
        QCOMPARE(frames.size(), 1);
        QCOMPARE(frames[0].bytes, sent.first());
    }

    void unplugEndsTheTapAndReplugServesAgain()
    {
        startBed();
        QVERIFY(bed->tapRunning());
        QVERIFY(bed->unplug());
        QTRY_VERIFY(!bed->tapRunning());
        QVERIFY(bed->plug());
        QVERIFY(bed->startTap());
        HostLink host(bed->hostInterface());
        QVERIFY(host.isOpen());
        const auto reply = host.exchange(request(0x70, 0x70001, 1));
        QVERIFY(reply);
        QCOMPARE(at(*reply, frame::OpcodeOffset), reply::WriteRegister);
    }

    void stateShowsSettingsAndProgrammedFlash()
    {
        startBed({QStringLiteral("--firmware-version"), QStringLiteral("0"),
                  QStringLiteral("--reset-after-update")});
        HostLink host(bed->hostInterface());
        QVERIFY(host.isOpen());

        QVERIFY(host.exchange(request(0x70, 0x70009, 0x3C)));
        QVERIFY(host.exchange(request(0x80, 0x70200, 0xA5)));
        QByteArray working = bed->settingsSector(false);
        QByteArray stored = bed->settingsSector(true);
        QCOMPARE(working.size(), SettingsSectorLength);
        QCOMPARE(stored.size(), SettingsSectorLength);
        QCOMPARE(at(working, 9), uint8_t(0x3C));
        QCOMPARE(at(stored, 9), uint8_t(0xFF));
        QCOMPARE(at(stored, 0x200), uint8_t(0xA5));
        QCOMPARE(working.mid(StatusOffset, 4), QByteArray::fromHex("00000c22"));

        QVERIFY(host.exchange(request(0x8F, 0)));
        stored = bed->settingsSector(true);
        QCOMPARE(at(stored, 9), uint8_t(0x3C));      // committed from the working copy
        QCOMPARE(at(stored, 0x200), uint8_t(0xA5));  // the persistent write survives the commit

        const auto begin = host.exchange(request(0xB0, 0));
        QVERIFY(begin);
        QCOMPARE(at(*begin, frame::OpcodeOffset), reply::BeginProgramming);
        for (int index : {0, 5, 767}) {
            const auto r = host.exchange(pageFrame(0xB1, index, imagePage(index)));
            QVERIFY(r);
            QCOMPARE(at(*r, frame::OpcodeOffset), reply::ProgramPage);
        }
        const auto end = host.exchange(request(0xB2, 0));
        QVERIFY(end);
        QCOMPARE(at(*end, frame::OpcodeOffset), reply::EndProgramming);

        const QByteArray flash = bed->flash();
        QCOMPARE(flash.size(), FlashLength);
        QCOMPARE(flash.mid(0, 256), imagePage(0));
        QCOMPARE(flash.mid(5 * 256, 256), imagePage(5));
        QCOMPARE(flash.mid(767 * 256, 256), imagePage(767));
        QCOMPARE(flash.mid(256, 256), QByteArray(256, '\xFF'));   // pages never sent stay erased
        working = bed->settingsSector(false);
        QCOMPARE(working.mid(StatusOffset, 4), QByteArray::fromHex("04000c22"));

        // The state is also left behind when the tap goes away.
        bed->stopTap();
        QCOMPARE(bed->flash().mid(5 * 256, 256), imagePage(5));
    }

    void generation3AppliesErasePagesAndRegisterWrites()
    {
        startBed({QStringLiteral("--generation"), QStringLiteral("3")});
        HostLink host(bed->hostInterface());
        QVERIFY(host.isOpen());
        QVERIFY(host.send(pageFrame(opcode::V3WritePage, 0x500, imagePage(5))));
        QVERIFY(host.send(request(0x80, 0x70005, 0xF0)));
        QVERIFY(host.send(request(0x70, 0x70004, 0xFF)));
        QCOMPARE(bed->flash().mid(0x500, 256), imagePage(5));
        QCOMPARE(at(bed->settingsSector(true), 5), uint8_t(0xF0));
        QCOMPARE(at(bed->settingsSector(false), 4), uint8_t(0xFF));

        QByteArray erase = request(opcode::V3EraseSector, 0, 0, frame::PageFrameLength);
        QVERIFY(host.send(erase));
        QCOMPARE(bed->flash().mid(0x500, 256), QByteArray(256, '\xFF'));
    }

    void faultsComeInTheOrderTheHostMustCopeWith()
    {
        startBed({QStringLiteral("--false-echo"), QStringLiteral("--junk-before-reply"), QStringLiteral("2"),
                  QStringLiteral("--short-before-reply"), QStringLiteral("1"),
                  QStringLiteral("--wrong-code"), QStringLiteral("70:8")});
        HostLink host(bed->hostInterface());
        QVERIFY(host.isOpen());
        const QByteArray write = request(0x70, 0x70001, 3);
        QVERIFY(host.send(write));
        QList<QByteArray> seen;
        for (int i = 0; i < 5; ++i) {
            const auto f = host.next();
            QVERIFY(f);
            seen.append(*f);
        }
        QCOMPARE(seen[0], write);                           // the false echo
        for (int i : {1, 2}) {                              // junk: a reply from a foreign source
            QCOMPARE(seen[i].size(), frame::RequestLength);
            QVERIFY(seen[i].mid(6, 6) != QByteArray(6, '\0'));
            QCOMPARE(seen[i].left(6), QByteArray(6, '\0'));
        }
        QCOMPARE(seen[3], QByteArray(15, '\0'));            // short zero-header frame
        QCOMPARE(at(seen[4], frame::OpcodeOffset), uint8_t(8));   // the wrong code
        QCOMPARE(seen[4].left(frame::HeaderLength), QByteArray(frame::HeaderLength, '\0'));
    }

    void junkFieldAndReplyLengthShapeTheFrames()
    {
        for (const char *field : {"ethertype", "reserved"}) {
            startBed({QStringLiteral("--junk-before-reply"), QStringLiteral("1"),
                      QStringLiteral("--junk-field"), QString::fromLatin1(field),
                      QStringLiteral("--reply-length"), QStringLiteral("18")});
            HostLink host(bed->hostInterface());
            QVERIFY(host.isOpen());
            QVERIFY(host.send(request(0x71, 0x70001)));
            const auto junk = host.next();
            const auto reply = host.next();
            QVERIFY(junk && reply);
            QCOMPARE(junk->size(), 18);
            QCOMPARE(junk->left(12), QByteArray(12, '\0'));   // both addresses zero ...
            QVERIFY(junk->mid(12, 3) != QByteArray(3, '\0'));  // ... but not the rest of the header
            QCOMPARE(reply->size(), 18);                       // too short to carry byte 19
            QCOMPARE(reply->left(frame::HeaderLength), QByteArray(frame::HeaderLength, '\0'));
            QCOMPARE(at(*reply, frame::OpcodeOffset), reply::ReadRegister);
            bed.reset();
        }
    }

    void droppedAndRefusedRequestsGoUnanswered()
    {
        startBed({QStringLiteral("--drop-every"), QStringLiteral("2"),
                  QStringLiteral("--refuse-page"), QStringLiteral("3:2")});
        HostLink host(bed->hostInterface());
        QVERIFY(host.isOpen());
        const auto first = host.exchange(request(0x71, 0x70001));
        QVERIFY(first);
        // The second command is dropped (not carried out either), so the next frame to arrive
        // is the answer to the third.
        QVERIFY(host.send(request(0x70, 0x70002, 0x11)));
        const auto third = host.exchange(request(0x71, 0x70002));
        QVERIFY(third);
        QCOMPARE(frame::getAddress(reinterpret_cast<const uint8_t *>(third->constData())), 0x70002);
        QCOMPARE(at(*third, frame::ValueOffset), uint8_t(0xFF));
        QCOMPARE(bed->frames().size(), 3);   // all three arrived and were recorded

        // Command 4 is dropped; 5 opens a run; then page 3 arrives six times: 6 dropped,
        // 7 refused, 8 dropped, 9 refused a second time, 10 dropped, 11 accepted.
        QVERIFY(host.send(request(0xB0, 0)));
        const auto begin = host.exchange(request(0xB0, 0));
        QVERIFY(begin);
        QCOMPARE(at(*begin, frame::OpcodeOffset), reply::BeginProgramming);
        QList<uint8_t> codes;
        for (int i = 0; i < 6; ++i) {
            QVERIFY(host.send(pageFrame(0xB1, 3, imagePage(3))));
            if (i % 2 == 1) {
                const auto r = host.next();
                QVERIFY(r);
                codes.append(at(*r, frame::OpcodeOffset));
            }
        }
        QCOMPARE(codes, (QList<uint8_t>{0xFF, 0xFF, reply::ProgramPage}));
    }

    void delayedRepliesComeLateAndInOrder()
    {
        startBed({QStringLiteral("--delay-ms"), QStringLiteral("300")});
        HostLink host(bed->hostInterface());
        QVERIFY(host.isOpen());
        QVERIFY(host.send(request(0x71, 0x70001)));
        QVERIFY(host.send(request(0x71, 0x70002)));
        // Only the lower bound is certain: a loaded machine makes replies later, never earlier.
        QVERIFY(!host.next(5));
        const auto first = host.next();
        const auto second = host.next();
        QVERIFY(first && second);
        QCOMPARE(frame::getAddress(reinterpret_cast<const uint8_t *>(first->constData())), 0x70001);
        QCOMPARE(frame::getAddress(reinterpret_cast<const uint8_t *>(second->constData())), 0x70002);
    }

    void silentTapRecordsButNeverAnswers()
    {
        startBed({QStringLiteral("--silent")});
        HostLink host(bed->hostInterface());
        QVERIFY(host.isOpen());
        QVERIFY(host.send(request(0x70, 0x70001, 9)));
        QCOMPARE(bed->frames().size(), 1);
        QVERIFY(host.drain().isEmpty());
        QCOMPARE(at(bed->settingsSector(false), 1), uint8_t(9));   // carried out all the same
    }

    void refusesToCreateInterfacesOutsideItsNamespace()
    {
        // As if the test had been started in some other namespace with the variables inherited.
        const QByteArray id = qgetenv("KALVESSA_NETNS_ID");
        qputenv("KALVESSA_NETNS_ID", "net:[1]");
        TapTestBed stray(QStringLiteral("kvguard0"));
        const bool plugged = stray.plug();
        qputenv("KALVESSA_NETNS_ID", id);
        QVERIFY(!plugged);
        QCOMPARE(if_nametoindex("kvguard0"), 0u);
    }

    void backgroundTrafficHasForeignAddresses()
    {
        startBed({QStringLiteral("--background-rate"), QStringLiteral("2000")});
        HostLink host(bed->hostInterface(), false);
        QVERIFY(host.isOpen());
        int foreign = 0;
        while (foreign < 20) {
            const auto f = host.next();
            QVERIFY(f);
            QVERIFY(f->size() >= 14);
            QVERIFY(f->left(6) != QByteArray(6, '\0'));
            QVERIFY(f->mid(6, 6) != QByteArray(6, '\0'));
            ++foreign;
        }
        QVERIFY(bed->frames().isEmpty());   // the tap's own traffic is never recorded
    }
};

QTEST_GUILESS_MAIN(TestTapTestBed)
#include "tst_taptestbed.moc"
