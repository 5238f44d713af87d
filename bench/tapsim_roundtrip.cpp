// Register-write round trips against the simulated tap: from handing the request to the
// capture library until the reply is in hand, with a non-blocking capture waited on by poll().
// Usage: bench_tapsim_roundtrip [interface=kvtap0] [exchanges=2000]

#include <pcap/pcap.h>
#include <poll.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "FrameLayout.h"

namespace {

constexpr int DefaultExchanges = 2000;
constexpr int WarmUp = 50;
constexpr int PollTimeoutMs = 1000;

struct Closer
{
    void operator()(pcap_t *p) const { pcap_close(p); }
};

void report(const char *what, std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const auto at = [&](double q) {
        return v[static_cast<size_t>(q * static_cast<double>(v.size() - 1))];
    };
    std::printf("%-11s median %7.1f us   p95 %7.1f us   p99 %7.1f us   max %7.1f us\n", what,
                at(0.5), at(0.95), at(0.99), v.back());
}

}  // namespace

int main(int argc, char **argv)
{
    const char *interfaceName = argc > 1 ? argv[1] : "kvtap0";
    const int exchanges = argc > 2 ? std::max(1, std::atoi(argv[2])) : DefaultExchanges;

    char err[PCAP_ERRBUF_SIZE] = {};
    std::unique_ptr<pcap_t, Closer> p(pcap_create(interfaceName, err));
    if (!p) {
        std::fprintf(stderr, "%s\n", err);
        return 1;
    }
    pcap_set_snaplen(p.get(), 2048);
    pcap_set_promisc(p.get(), 1);
    pcap_set_timeout(p.get(), 10);
    pcap_set_immediate_mode(p.get(), 1);
    pcap_set_buffer_size(p.get(), 1 << 20);
    bpf_program prog{};
    if (pcap_activate(p.get()) < 0
        || pcap_compile(p.get(), &prog, "ether host 00:00:00:00:00:00", 1, PCAP_NETMASK_UNKNOWN)
            != 0
        || pcap_setfilter(p.get(), &prog) != 0 || pcap_setnonblock(p.get(), 1, err) != 0) {
        std::fprintf(stderr, "cannot capture on %s: %s\n", interfaceName, pcap_geterr(p.get()));
        return 1;
    }
    pcap_freecode(&prog);

    std::array<uint8_t, frame::RequestLength> request{};
    request[frame::OpcodeOffset] = opcode::WriteRegister;
    frame::putAddress(request.data(), 0x70001);

    std::vector<double> roundTrip;
    const pollfd wait{pcap_get_selectable_fd(p.get()), POLLIN, 0};
    for (int i = 0; i < exchanges + WarmUp; ++i) {
        request[frame::ValueOffset] = static_cast<uint8_t>(i);
        const auto start = std::chrono::steady_clock::now();
        if (pcap_inject(p.get(), request.data(), request.size())
            != static_cast<int>(request.size())) {
            std::fprintf(stderr, "send failed: %s\n", pcap_geterr(p.get()));
            return 1;
        }
        for (;;) {
            pcap_pkthdr *h = nullptr;
            const u_char *d = nullptr;
            const int r = pcap_next_ex(p.get(), &h, &d);
            if (r < 0)
                return 1;
            if (r == 0) {
                pollfd fd = wait;
                if (poll(&fd, 1, PollTimeoutMs) == 0) {
                    std::fprintf(stderr, "no reply to exchange %d\n", i);
                    return 1;
                }
                continue;
            }
            if (h->caplen < frame::MinReplyLength)
                continue;
            if (d[frame::OpcodeOffset] != reply::WriteRegister
                || d[frame::ValueOffset] != request[frame::ValueOffset])
                continue;
            if (i >= WarmUp)
                roundTrip.push_back(std::chrono::duration<double, std::micro>(
                                        std::chrono::steady_clock::now() - start)
                                        .count());
            break;
        }
    }
    std::printf("%d register writes on %s\n", exchanges, interfaceName);
    report("round trip", roundTrip);
    return 0;
}
