#include "SimulatedTap.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include "CaptureLink.h"
#include "FrameRecorder.h"
#include "StateFiles.h"
#include "SyncMarker.h"
#include "TapState.h"

namespace tapsim {

namespace {
constexpr int ExitCaptureEnded = 3;
constexpr int ShortFrameLength = frame::MinReplyLength - 1;
constexpr int ForeignFrameLength = MinReplyFrameLength;
// Source address of the junk copies and of foreign traffic: locally administered, never zero.
constexpr uint8_t ForeignSource[6] = {0x02, 0x4B, 0x56, 0x4A, 0x4E, 0x4B};
constexpr uint8_t Broadcast[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
constexpr uint8_t ForeignEtherType[2] = {0x88, 0xB6};  // IEEE local experimental 2
constexpr int MacLength = 6;
constexpr int SourceOffset = 6;
constexpr int EtherTypeOffset = 12;
constexpr int ReservedOffset = 14;
constexpr uint8_t JunkReserved = 0x01;
constexpr auto MaxBackgroundLag = std::chrono::seconds(1);
// Junk frames sent in one turn of the loop at most: a request that came meanwhile is answered
// on the next turn, not behind a burst, so the junk changes the tap's reply latency no more
// than a few sends do.
constexpr int MaxJunkPerTurn = 4;

// Blocks the signals the loop handles and hands them to a descriptor it can wait on.
class SignalDescriptor
{
public:
    SignalDescriptor()
    {
        sigemptyset(&m_set);
        for (int s : {SIGTERM, SIGINT, SIGHUP, SIGUSR1})
            sigaddset(&m_set, s);
        sigprocmask(SIG_BLOCK, &m_set, nullptr);
        m_fd = signalfd(-1, &m_set, SFD_CLOEXEC | SFD_NONBLOCK);
    }
    ~SignalDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        sigprocmask(SIG_UNBLOCK, &m_set, nullptr);
    }
    SignalDescriptor(const SignalDescriptor &) = delete;
    SignalDescriptor &operator=(const SignalDescriptor &) = delete;
    int fd() const { return m_fd; }
    int take() const
    {
        signalfd_siginfo info{};
        return ::read(m_fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)
            ? static_cast<int>(info.ssi_signo)
            : 0;
    }

private:
    sigset_t m_set{};
    int m_fd = -1;
};

timespec toTimespec(std::chrono::steady_clock::duration d)
{
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
    constexpr long long NanosecondsPerSecond = 1000000000;
    return timespec{static_cast<time_t>(ns / NanosecondsPerSecond),
                    static_cast<long>(ns % NanosecondsPerSecond)};
}
}  // namespace

SimulatedTap::SimulatedTap(const TapOptions &options, CaptureLink &link, TapState &state,
                           FrameRecorder *recorder, const StateFiles *stateFiles)
    : m_options(options)
    , m_link(link)
    , m_state(state)
    , m_protocol(options.generation, state, options.faults, options.resetAfterUpdate)
    , m_recorder(recorder)
    , m_stateFiles(stateFiles)
    , m_random(options.seed)
{
    if (options.backgroundRate > 0.0)
        m_backgroundPeriod = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(1.0 / options.backgroundRate));
    if (options.junkRate > 0.0)
        m_junk.emplace(options.junkKinds, options.junkRate, options.seed);
}

void SimulatedTap::saveState()
{
    if (m_stateFiles && !m_stateFiles->save(m_state))
        std::fprintf(stderr, "kalvessa-tapsim: cannot write the state files\n");
}

int SimulatedTap::finish(int exitCode)
{
    saveState();
    if (const unsigned dropped = m_link.dropped())
        std::fprintf(stderr,
                     "kalvessa-tapsim: the capture buffer overflowed; %u frames were lost\n",
                     dropped);
    return exitCode;
}

int SimulatedTap::run()
{
    SignalDescriptor signalSource;
    if (signalSource.fd() < 0) {
        std::fprintf(stderr, "kalvessa-tapsim: signalfd: %s\n", std::strerror(errno));
        return ExitCaptureEnded;
    }
    saveState();
    m_nextBackground = Clock::now();
    if (m_junk)
        m_nextJunk = m_nextBackground + m_junk->nextGap();
    std::printf("ready\n");
    std::fflush(stdout);

    pollfd fds[2] = {{m_link.selectableFd(), POLLIN, 0}, {signalSource.fd(), POLLIN, 0}};
    for (;;) {
        Clock::duration wait{};
        const bool timed = nextWake(Clock::now(), &wait);
        const timespec timeout = toTimespec(wait);
        const int ready = ppoll(fds, 2, timed ? &timeout : nullptr, nullptr);
        if (ready < 0 && errno != EINTR) {
            std::fprintf(stderr, "kalvessa-tapsim: ppoll: %s\n", std::strerror(errno));
            return finish(ExitCaptureEnded);
        }
        if (ready > 0 && fds[1].revents) {
            const int received = signalSource.take();
            if (received == SIGUSR1) {
                saveState();
                std::printf("state %u\n", ++m_stateSaves);
                std::fflush(stdout);
            } else if (received != 0) {
                return finish(0);
            }
        }
        if (ready > 0 && fds[0].revents) {
            const int n = m_link.dispatch(&SimulatedTap::onFrame, reinterpret_cast<u_char *>(this));
            if (n < 0 || (n == 0 && (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)))) {
                std::fprintf(stderr, "kalvessa-tapsim: capture on %s ended: %s\n",
                             qPrintable(m_options.interfaceName),
                             n < 0 ? m_link.error().c_str() : "the interface went away");
                return finish(ExitCaptureEnded);
            }
        }
        const auto now = Clock::now();
        sendDueReplies(now);
        sendBackground(now);
        sendJunk(now);
    }
}

bool SimulatedTap::nextWake(Clock::time_point now, Clock::duration *wait) const
{
    bool timed = false;
    Clock::time_point wake = Clock::time_point::max();
    if (!m_pending.empty()) {
        wake = m_pending.front().due;
        timed = true;
    }
    if (m_backgroundPeriod.count() > 0) {
        wake = std::min(wake, m_nextBackground);
        timed = true;
    }
    if (m_junk) {
        wake = std::min(wake, m_nextJunk);
        timed = true;
    }
    *wait = timed ? std::max(Clock::duration::zero(), wake - now) : Clock::duration::zero();
    return timed;
}

void SimulatedTap::onFrame(u_char *user, const pcap_pkthdr *header, const u_char *bytes)
{
    reinterpret_cast<SimulatedTap *>(user)->handleFrame(*header, bytes);
}

bool SimulatedTap::shouldDrop()
{
    ++m_commandCount;
    if (m_options.dropEvery > 0 && m_commandCount % static_cast<unsigned>(m_options.dropEvery) == 0)
        return true;
    return m_options.dropFraction > 0.0 && m_unit(m_random) < m_options.dropFraction;
}

void SimulatedTap::handleFrame(const pcap_pkthdr &header, const uint8_t *bytes)
{
    const int length = static_cast<int>(header.caplen);
    uint32_t nonce = 0;
    uint8_t flags = 0;
    if (syncmarker::parse(bytes, length, &nonce, &flags)) {
        if (flags & syncmarker::SaveState)
            saveState();
        std::printf("sync %u\n", nonce);
        std::fflush(stdout);
        return;
    }
    if (m_recorder)
        m_recorder->record(header.ts, static_cast<int>(header.len), bytes, length);
    if (!isCommandFrame(bytes, length) || shouldDrop())
        return;

    const std::optional<Reply> reply = m_protocol.handle(bytes, length);
    if (m_protocol.takeProgrammingCompleted())
        saveState();
    if (!reply || m_options.silent)
        return;
    // Sent at once, ahead of the (possibly delayed) reply: what a replay from the monitored
    // network looks like to a host waiting for its answer.
    if (m_options.replayBeforeReply && m_previousReply)
        m_link.send(m_previousReply->bytes.data(), m_previousReply->length);

    PendingReply pending;
    pending.due = Clock::now() + std::chrono::milliseconds(m_options.delayMs);
    pending.reply = *reply;
    if (m_options.replyLength > 0)
        pending.reply.length = m_options.replyLength;  // the bytes beyond the reply are zero
    pending.requestLength = std::min(length, MaxFrameLength);
    std::memcpy(pending.request.data(), bytes, static_cast<size_t>(pending.requestLength));
    m_pending.push_back(pending);
    if (m_options.delayMs == 0)
        sendDueReplies(pending.due);
}

void SimulatedTap::sendDueReplies(Clock::time_point now)
{
    while (!m_pending.empty() && m_pending.front().due <= now) {
        sendReply(m_pending.front());
        m_pending.pop_front();
    }
}

void SimulatedTap::sendReply(const PendingReply &pending)
{
    if (m_options.falseEcho)
        m_link.send(pending.request.data(), pending.requestLength);
    if (m_options.junkBeforeReply > 0) {
        Reply junk = pending.reply;
        switch (m_options.junkField) {
        case TapOptions::JunkField::Source:
            std::memcpy(junk.bytes.data() + SourceOffset, ForeignSource, MacLength);
            break;
        case TapOptions::JunkField::EtherType:
            std::memcpy(junk.bytes.data() + EtherTypeOffset, ForeignEtherType,
                        sizeof ForeignEtherType);
            break;
        case TapOptions::JunkField::Reserved: junk.bytes[ReservedOffset] = JunkReserved; break;
        }
        for (int i = 0; i < m_options.junkBeforeReply; ++i)
            m_link.send(junk.bytes.data(), junk.length);
    }
    if (m_options.shortBeforeReply > 0) {
        const std::array<uint8_t, ShortFrameLength> shortFrame{};
        for (int i = 0; i < m_options.shortBeforeReply; ++i)
            m_link.send(shortFrame.data(), ShortFrameLength);
    }
    m_link.send(pending.reply.bytes.data(), pending.reply.length);
    m_previousReply = pending.reply;
    if (m_junk)
        m_junk->remember(pending.reply);
}

void SimulatedTap::sendBackground(Clock::time_point now)
{
    if (m_backgroundPeriod.count() <= 0)
        return;
    if (now - m_nextBackground > MaxBackgroundLag)
        m_nextBackground = now;  // after a stall, carry on at the rate instead of bursting
    std::array<uint8_t, ForeignFrameLength> foreign{};
    std::memcpy(foreign.data(), Broadcast, MacLength);
    std::memcpy(foreign.data() + SourceOffset, ForeignSource, MacLength);
    std::memcpy(foreign.data() + EtherTypeOffset, ForeignEtherType, sizeof ForeignEtherType);
    while (m_nextBackground <= now) {
        const uint32_t seq = m_backgroundSequence++;
        std::memcpy(foreign.data() + frame::HeaderLength, &seq, sizeof seq);
        m_link.send(foreign.data(), ForeignFrameLength);
        m_nextBackground += m_backgroundPeriod;
    }
}

void SimulatedTap::sendJunk(Clock::time_point now)
{
    if (!m_junk)
        return;
    if (now - m_nextJunk > MaxBackgroundLag)
        m_nextJunk = now;  // after a stall, carry on at the rate instead of bursting
    for (int sent = 0; sent < MaxJunkPerTurn && m_nextJunk <= now; ++sent) {
        const Reply junk = m_junk->next();
        if (junk.length > 0)
            m_link.send(junk.bytes.data(), junk.length);
        m_nextJunk += m_junk->nextGap();
    }
}

}  // namespace tapsim
