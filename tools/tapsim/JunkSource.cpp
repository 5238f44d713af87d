#include "JunkSource.h"

#include <iterator>
#include <utility>

namespace tapsim {

namespace {
constexpr int AddressesLength = 12;  // destination and source MAC
constexpr int MaxByte = 0xFF;
}  // namespace

JunkSource::JunkSource(std::vector<JunkKind> kinds, double framesPerSecond, uint32_t seed)
    : m_kinds(std::move(kinds))
    , m_random(seed)
    , m_gapSeconds(framesPerSecond > 0.0 ? framesPerSecond : 1.0)
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

template <typename T> T JunkSource::draw(T from, T to)
{
    return std::uniform_int_distribution<T>(from, to)(m_random);
}

void JunkSource::randomBytes(Reply &frame, int from)
{
    for (int i = from; i < frame.length; ++i)
        frame.bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(draw(0, MaxByte));
}

Reply JunkSource::next()
{
    Reply frame;
    if (m_kinds.empty())
        return frame;
    switch (m_kinds[draw<size_t>(0, m_kinds.size() - 1)]) {
    case JunkKind::Random:
        frame.length = draw(frame::MinReplyLength, MaxFrameLength);
        randomBytes(frame, frame::OpcodeOffset);
        break;
    case JunkKind::Runt:
        frame.length = draw(MinRuntLength, frame::MinReplyLength - 1);
        randomBytes(frame, AddressesLength);
        break;
    case JunkKind::Protocol:
        frame.length = MinReplyFrameLength;
        frame.bytes[frame::OpcodeOffset] =
            reply::ProtocolCodes[draw<size_t>(0, std::size(reply::ProtocolCodes) - 1)];
        for (int i = frame::AddressOffset; i <= frame::ValueOffset; ++i)
            frame.bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(draw(0, MaxByte));
        break;
    case JunkKind::Replay:
        if (!m_replies.empty())
            frame = m_replies[draw<size_t>(0, m_replies.size() - 1)];
        break;
    }
    return frame;
}

JunkSource::Clock::duration JunkSource::nextGap()
{
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(m_gapSeconds(m_random)));
}

}  // namespace tapsim
