#include "JunkSource.h"

#include <utility>

namespace tapsim {

namespace {
constexpr int AddressesLength = 12;   // destination and source MAC
constexpr int MaxByte = 0xFF;
} // namespace

JunkSource::JunkSource(std::vector<JunkKind> kinds, double framesPerSecond, uint32_t seed)
    : m_kinds(std::move(kinds)), m_random(seed),
      m_gapSeconds(framesPerSecond > 0.0 ? framesPerSecond : 1.0)
{
    m_replies.reserve(RepliesKept);
}

void JunkSource::remember(const Reply &reply)
{
    if (m_replies.size() < static_cast<size_t>(RepliesKept)) {
        m_replies.push_back(reply);
        return;
    }
    m_replies[m_nextSlot] = reply;
    m_nextSlot = (m_nextSlot + 1) % m_replies.size();
}

void JunkSource::randomBytes(Reply &frame, int from)
{
    std::uniform_int_distribution<int> byte(0, MaxByte);
    for (int i = from; i < frame.length; ++i)
        frame.bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(byte(m_random));
}

Reply JunkSource::next()
{
    Reply frame;
    if (m_kinds.empty())
        return frame;
    std::uniform_int_distribution<size_t> pick(0, m_kinds.size() - 1);
    switch (m_kinds[pick(m_random)]) {
    case JunkKind::Random:
        frame.length = std::uniform_int_distribution<int>(frame::MinReplyLength, MaxFrameLength)(m_random);
        randomBytes(frame, frame::OpcodeOffset);
        break;
    case JunkKind::Runt:
        frame.length = std::uniform_int_distribution<int>(MinRuntLength, frame::MinReplyLength - 1)(m_random);
        randomBytes(frame, AddressesLength);
        break;
    case JunkKind::Replay:
        if (!m_replies.empty())
            frame = m_replies[std::uniform_int_distribution<size_t>(0, m_replies.size() - 1)(m_random)];
        break;
    }
    return frame;
}

JunkSource::Clock::duration JunkSource::nextGap()
{
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(m_gapSeconds(m_random)));
}

} // namespace tapsim
