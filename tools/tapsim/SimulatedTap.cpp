#include "SimulatedTap.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "StateFiles.h"
#include "SyncMarker.h"
#include "TapState.h"

namespace tapsim {

namespace {
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
// How long a reply held back waits for the next one to overtake it.
constexpr auto MaxHoldBack = std::chrono::milliseconds(100);

// What a tap that does not repeat the request answers: its code and, for a read, the value;
// zeros where the request had its address, page index and data.
void stripEcho(Reply &reply, const uint8_t *request)
{
    const uint8_t op = request[frame::OpcodeOffset];
    const bool read = op == opcode::ReadRegister || op == opcode::ReadRegisterPersistent;
    const uint8_t value = reply.bytes[frame::ValueOffset];
    std::fill(reply.bytes.begin() + frame::AddressOffset, reply.bytes.end(), 0);
    if (read)
        reply.bytes[frame::ValueOffset] = value;
}

}  // namespace

SimulatedTap::SimulatedTap(const TapOptions &options, TapWire &wire, TapState &state, FrameLog *log,
                           const StateFiles *stateFiles)
    : m_options(options)
    , m_wire(wire)
    , m_state(state)
    , m_protocol(options.generation, state, options.faults, options.resetAfterUpdate,
                 options.bootAnyImage ? TapProtocol::Boot::AnyImage : TapProtocol::Boot::Verified)
    , m_log(log)
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

void SimulatedTap::restart()
{
    m_pending.clear();
    m_previousReply.reset();
    m_protocol.restart();
}

void SimulatedTap::start(Clock::time_point now)
{
    saveState();
    m_nextBackground = now;
    if (m_junk)
        m_nextJunk = now + m_junk->nextGap();
}

void SimulatedTap::advance(Clock::time_point now)
{
    sendDueReplies(now);
    sendBackground(now);
    sendJunk(now);
}

std::optional<SimulatedTap::Clock::time_point> SimulatedTap::nextWake() const
{
    std::optional<Clock::time_point> wake;
    const auto sooner = [&wake](Clock::time_point t) { wake = wake ? std::min(*wake, t) : t; };
    if (!m_pending.empty())
        sooner(m_pending.front().due);
    if (m_heldBack)
        sooner(m_heldBack->due);
    if (m_backgroundPeriod.count() > 0)
        sooner(m_nextBackground);
    if (m_junk)
        sooner(m_nextJunk);
    return wake;
}

bool SimulatedTap::chance(double fraction)
{
    // Nothing drawn for a fault not asked for, so that adding one leaves the others' draws alone.
    return fraction > 0.0 && m_unit(m_random) < fraction;
}

bool SimulatedTap::shouldDrop()
{
    ++m_commandCount;
    if (m_options.dropEvery > 0 && m_commandCount % static_cast<unsigned>(m_options.dropEvery) == 0)
        return true;
    return chance(m_options.dropFraction);
}

SimulatedTap::Clock::duration SimulatedTap::replyDelay()
{
    int ms = m_options.delayMs;
    if (m_options.jitterMs > 0)
        ms += std::uniform_int_distribution<int>(0, m_options.jitterMs)(m_random);
    if (chance(m_options.lateFraction))
        ms += m_options.lateMs;
    return std::chrono::milliseconds(ms);
}

void SimulatedTap::schedule(const PendingReply &pending)
{
    // Behind everything due at the same time, so replies of equal delay keep their order.
    const auto at = std::upper_bound(
        m_pending.begin(), m_pending.end(), pending.due,
        [](Clock::time_point due, const PendingReply &queued) { return due < queued.due; });
    m_pending.insert(at, pending);
}

std::optional<uint32_t> SimulatedTap::take(const timeval &time, int wireLength,
                                           const uint8_t *bytes, int captured)
{
    const int length = captured;
    uint32_t nonce = 0;
    uint8_t flags = 0;
    if (syncmarker::parse(bytes, length, &nonce, &flags)) {
        if (flags & syncmarker::SaveState)
            saveState();
        return nonce;
    }
    if (m_log)
        m_log->record(time, wireLength, bytes, length);
    if (!isCommandFrame(bytes, length) || shouldDrop())
        return std::nullopt;

    const std::optional<Reply> reply = m_protocol.handle(bytes, length);
    if (m_protocol.takeProgrammingCompleted())
        saveState();
    if (!reply || m_options.silent || chance(m_options.loseReplyFraction))
        return std::nullopt;
    // Sent at once, ahead of the (possibly delayed) reply: what a replay from the monitored
    // network looks like to a host waiting for its answer.
    if (m_options.replayBeforeReply && m_previousReply)
        m_wire.send(m_previousReply->bytes.data(), m_previousReply->length);

    const Clock::time_point now = Clock::now();
    PendingReply pending;
    pending.due = now + replyDelay();
    pending.reply = *reply;
    if (m_options.noEcho)
        stripEcho(pending.reply, bytes);
    if (m_options.replyLength > 0)
        pending.reply.length = m_options.replyLength;  // the bytes beyond the reply are zero
    pending.requestLength = std::min(length, MaxFrameLength);
    std::memcpy(pending.request.data(), bytes, static_cast<size_t>(pending.requestLength));
    pending.holdBack = chance(m_options.reorderFraction);
    schedule(pending);
    if (chance(m_options.duplicateFraction)) {
        PendingReply again = pending;
        again.due += std::chrono::milliseconds(m_options.duplicateLagMs);
        again.holdBack = false;
        again.copy = true;
        schedule(again);
    }
    sendDueReplies(now);
    return std::nullopt;
}

void SimulatedTap::sendDueReplies(Clock::time_point now)
{
    while (!m_pending.empty() && m_pending.front().due <= now) {
        const PendingReply due = m_pending.front();
        m_pending.pop_front();
        if (due.holdBack && !m_heldBack) {
            m_heldBack = due;
            m_heldBack->due = now + MaxHoldBack;
            continue;
        }
        sendReply(due);
        if (m_heldBack) {
            sendReply(*m_heldBack);
            m_heldBack.reset();
        }
    }
    // Held back behind a reply that never came: a late reply, not a lost one.
    if (m_heldBack && m_heldBack->due <= now) {
        sendReply(*m_heldBack);
        m_heldBack.reset();
    }
}

void SimulatedTap::sendReply(const PendingReply &pending)
{
    if (pending.copy) {
        m_wire.send(pending.reply.bytes.data(), pending.reply.length);
        return;
    }
    if (m_options.falseEcho)
        m_wire.send(pending.request.data(), pending.requestLength);
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
            m_wire.send(junk.bytes.data(), junk.length);
    }
    if (m_options.shortBeforeReply > 0) {
        const std::array<uint8_t, ShortFrameLength> shortFrame{};
        for (int i = 0; i < m_options.shortBeforeReply; ++i)
            m_wire.send(shortFrame.data(), ShortFrameLength);
    }
    m_wire.send(pending.reply.bytes.data(), pending.reply.length);
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
        m_wire.send(foreign.data(), ForeignFrameLength);
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
            m_wire.send(junk.bytes.data(), junk.length);
        m_nextJunk += m_junk->nextGap();
    }
}

}  // namespace tapsim
