#include "ReplyFilter.h"

#include <algorithm>
#include <cstring>

#include "FrameLayout.h"

namespace {

bool headerIsZero(const uint8_t *frame)
{
    return std::all_of(frame, frame + frame::HeaderLength, [](uint8_t b) { return b == 0; });
}

}  // namespace

ReplyFilter::ReplyFilter(const uint8_t *request, int requestLength, int receiveBudget,
                         int expectedCode)
    : m_request(request)
    , m_requestLength(requestLength)
    , m_receiveBudget(receiveBudget)
    , m_expectedCode(expectedCode)
{
}

bool ReplyFilter::echoesAddress(const uint8_t *frame, int captured, const uint8_t *request,
                                int requestLength)
{
    constexpr int AddressEnd = frame::AddressOffset + frame::AddressLength;
    if (request == nullptr || requestLength < AddressEnd)
        return true;
    return frame != nullptr && captured >= AddressEnd
        && std::memcmp(frame + frame::AddressOffset, request + frame::AddressOffset,
                       frame::AddressLength)
        == 0;
}

bool ReplyFilter::foreignAddress(const uint8_t *frame, int captured, const uint8_t *request,
                                 int requestLength)
{
    constexpr int AddressEnd = frame::AddressOffset + frame::AddressLength;
    // A frame that ends before its address has none to tell by.
    if (frame == nullptr || captured < AddressEnd)
        return false;
    const bool zero = std::all_of(frame + frame::AddressOffset, frame + AddressEnd,
                                  [](uint8_t b) { return b == 0; });
    return !zero && !echoesAddress(frame, captured, request, requestLength);
}

ReplyFilter::Verdict ReplyFilter::judge(const uint8_t *frame, int captured, const uint8_t *request,
                                        int requestLength, int expectedCode, bool addressMustEcho)
{
    if (frame == nullptr || captured < frame::MinReplyLength || !headerIsZero(frame))
        return Verdict::Miss;
    if (captured == requestLength && request != nullptr
        && std::memcmp(frame, request, static_cast<size_t>(requestLength)) == 0)
        return Verdict::Echo;
    const uint8_t code = frame[frame::OpcodeOffset];
    if ((addressMustEcho && !echoesAddress(frame, captured, request, requestLength))
        || foreignAddress(frame, captured, request, requestLength))
        return reply::isProtocolCode(code) ? Verdict::Stray : Verdict::Miss;
    if (expectedCode == AnyCode || code == expectedCode)
        return Verdict::Answer;
    if (code == reply::Refused)
        return Verdict::Refusal;
    return reply::isProtocolCode(code) ? Verdict::Stray : Verdict::Miss;
}

int ReplyFilter::valueOf(const uint8_t *frame, int captured)
{
    return frame != nullptr && captured > frame::ValueOffset ? frame[frame::ValueOffset] : -1;
}

void ReplyFilter::startAttempt()
{
    m_misses = 0;
    m_answered = m_refused = m_ambiguous = m_quietAfterVerdict = false;
    m_refusalCode = 0;
    m_answer.clear();
}

void ReplyFilter::take(const uint8_t *frame, int captured)
{
    if (attemptOver())
        return;
    const Verdict verdict =
        judge(frame, captured, m_request, m_requestLength, m_expectedCode, m_addressMustEcho);
    if (verdict == Verdict::Stray
        || ((verdict == Verdict::Answer || verdict == Verdict::Refusal) && settling()))
        ++m_unexpected;
    switch (verdict) {
    case Verdict::Miss:
    case Verdict::Echo: countMiss(); return;
    case Verdict::Stray:
        m_sawPossibleReply = true;
        countMiss();
        return;
    case Verdict::Answer:
        m_sawPossibleReply = true;
        if (!m_answered) {
            m_answered = true;
            m_answer.assign(frame, frame + captured);
            return;
        }
        // The tap answers each send once; a second answer that says something else means one
        // of them is not the tap's, and nothing tells which.
        if (valueOf(m_answer.data(), static_cast<int>(m_answer.size())) != valueOf(frame, captured))
            m_ambiguous = true;
        countMiss();
        return;
    case Verdict::Refusal:
        m_sawPossibleReply = true;
        if (!m_refused) {
            m_refused = true;
            m_refusalCode = frame[frame::OpcodeOffset];
        }
        countMiss();
        return;
    }
}

void ReplyFilter::takeQuiet()
{
    if (attemptOver())
        return;
    if (settling())
        m_quietAfterVerdict = true;
    else
        countMiss();
}

ReplyFilter::Outcome ReplyFilter::outcome() const
{
    // A command whose answer is not examined takes the first frame that could be one.
    if (m_expectedCode == AnyCode && m_answered)
        return Outcome::Answered;
    if (m_quietAfterVerdict || m_misses > m_receiveBudget) {
        if (m_refused)
            return Outcome::Refused;
        if (m_answered && !m_ambiguous)
            return Outcome::Answered;
        return Outcome::Exhausted;
    }
    return Outcome::Pending;
}
