#include <QtTest>

#include <pcap/pcap.h>
#include <poll.h>

#include "TapTestBed.h"
#include "TapWire.h"

using wire::request;

namespace {

// The host end as the program sees it, without the program: incoming frames to the all-zero
// address, so neither our own requests nor the bed's sync frames show up.
struct HostLink
{
    explicit HostLink(const QString &name) : p(pcap_create(qPrintable(name), err))
    {
        bpf_program filter{};
        open = p && pcap_set_promisc(p, 1) == 0 && pcap_set_immediate_mode(p, 1) == 0
            && pcap_activate(p) >= 0 && pcap_setdirection(p, PCAP_D_IN) == 0
            && pcap_compile(p, &filter, "ether dst 0:0:0:0:0:0", 1, PCAP_NETMASK_UNKNOWN) == 0
            && pcap_setfilter(p, &filter) == 0 && pcap_setnonblock(p, 1, err) == 0;
        pcap_freecode(&filter);
    }
    ~HostLink()
    {
        if (p)
            pcap_close(p);
    }
    Q_DISABLE_COPY(HostLink)
    bool send(const QByteArray &f)
    {
        return pcap_inject(p, f.constData(), size_t(f.size())) == f.size();
    }
    // The next frame, or an empty one after two seconds. Read without blocking: a blocking read
    // does not come back on a quiet line with every libpcap.
    QByteArray next()
    {
        pcap_pkthdr *h = nullptr;
        const u_char *d = nullptr;
        pollfd fd{pcap_get_selectable_fd(p), POLLIN, 0};
        for (QDeadlineTimer deadline(2000); !deadline.hasExpired(); ::poll(&fd, 1, 10))
            if (pcap_next_ex(p, &h, &d) == 1)
                return QByteArray(reinterpret_cast<const char *>(d), int(h->caplen));
        return {};
    }

    char err[PCAP_ERRBUF_SIZE] = {};
    pcap_t *p = nullptr;
    bool open = false;
};

uint8_t at(const QByteArray &f, int i)
{
    return i < f.size() ? uint8_t(f[i]) : 0;
}

}  // namespace

class TestTapTestBed : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { REQUIRE_TAP_TEST_BED(); }

    void servesRecordsAndComesBackAfterReplugging()
    {
        TapTestBed bed;
        QVERIFY(bed.plug()
                && bed.startTap({"--false-echo", "--junk-before-reply", "1", "--junk-field",
                                 "reserved", "--short-before-reply", "1", "--reply-length", "18"}));
        HostLink host(bed.hostInterface());
        const QByteArray write = request(0x70, 0x70009, 0x3C),
                         persistent = request(0x80, 0x70200, 0xA5);
        QVERIFY(host.open && host.send(write));
        // Before the reply, in this order: the false echo, junk (a copy with byte 14 set), a short
        // frame.
        const QByteArray reply =
            QByteArray(wire::OpcodeAt, '\0') + '\x07' + write.mid(wire::AddressAt, 2);
        QCOMPARE(host.next(), write);
        QCOMPARE(host.next(), QByteArray(reply).replace(14, 1, "\x01"));
        QCOMPARE(host.next(), QByteArray(15, '\0'));
        QCOMPARE(host.next(), reply);
        QVERIFY(host.send(persistent));
        QCOMPARE(wire::bytesOf(bed.frames()), (QList<QByteArray>{write, persistent}));
        const QByteArray working = bed.settingsSector(false), stored = bed.settingsSector(true);
        QCOMPARE(at(working, 9), uint8_t(0x3C));
        QCOMPARE(at(stored, 9), uint8_t(0xFF));
        QCOMPARE(at(stored, 0x200), uint8_t(0xA5));
        QCOMPARE(working.mid(0x300, 4), QByteArray::fromHex("04000c22"));  // status registers

        // Unplugging ends the tap; plugged in again, a fresh one serves. Generation 3 answers
        // nothing, so nothing paces the sender, yet frames() returns every frame sent before it.
        QVERIFY(bed.unplug());
        QTRY_VERIFY(!bed.tapRunning());
        QVERIFY(bed.plug() && bed.startTap({"--generation", "3"}));
        HostLink again(bed.hostInterface());
        QVERIFY(again.open);
        QList<QByteArray> sent;
        for (int i = 0; i < 300; ++i)  // every third a page, its wire bytes 0x01 image bytes 0x80
            QVERIFY(again.send(
                sent.emplace_back(i % 3 ? request(0x70, 0x70000 + i, uint8_t(i))
                                        : request(0xDD, i * 256, QByteArray(256, 1), 1500))));
        QCOMPARE(wire::bytesOf(bed.frames()), sent);
        const QByteArray fresh = bed.settingsSector(false), flash = bed.flash(),
                         erased(256, '\xFF');
        QCOMPARE(at(fresh, 9), uint8_t(0xFF));
        QCOMPARE(at(fresh, 299), uint8_t(299 % 256));
        QCOMPARE(flash.size(), 196608);
        QCOMPARE(flash.mid(296 * 256, 768), erased + QByteArray(256, '\x80') + erased);
        QVERIFY(again.send(request(0xEE, 297 * 256, QByteArray(), 1500)));
        QCOMPARE(bed.flash().mid(297 * 256, 256), erased);
    }
};

QTEST_GUILESS_MAIN(TestTapTestBed)
#include "tst_taptestbed.moc"
