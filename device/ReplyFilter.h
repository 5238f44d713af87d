#pragma once

#include <cstdint>
#include <vector>

// Decides, frame by frame, what a generation-4 request got back: the tap's answer, a refusal,
// or someone else's traffic. Everything captured on the tap's interface may come from the
// monitored network, so nothing here trusts a frame beyond what its own captured length holds,
// and every frame counts against the attempt's budget: no traffic can keep an attempt going.
//
// One attempt is one send. It ends when more frames or quiet reads than the budget allows have
// been seen, or once a verdict frame (the expected code, or another code of the protocol) has
// been seen and the caller found the line quiet again. A refusal seen in that time outweighs an
// answer, since a foreign frame can carry the expected code as easily as the tap can; and two
// answers that disagree on their value leave the attempt without one.
//
// Only the tap's refusal code refuses. Another command's success code is a stray: a late,
// repeated or foreign answer to some other request, which says nothing about this one. The
// filter remembers, across the attempts of one exchange, whether anything unexpected was heard
// (a stray, or a verdict frame beyond the first of an attempt): its owner then trusts an outcome
// only once a repeat of the request agrees with it.
//
// Plain C++ with no library underneath, so that a fuzzer can drive it directly.
class ReplyFilter
{
public:
    enum class Verdict {
        Miss,  // too short, someone else's header, or a code the tap never sends
        Echo,  // the request itself, seen on the wire
        Answer,  // a zero-header frame with the expected code
        Refusal,  // a zero-header frame with the tap's refusal code
        // A zero-header frame with another command's success code, or any code of the
        // protocol where the address does not fit this request: from a tap known to repeat it,
        // anything but this request's address; from any tap, an address that is neither this
        // request's nor zero.
        Stray,
    };
    enum class Outcome { Pending, Answered, Refused, Exhausted };

    // Any zero-header frame that is not the echo answers (a command whose reply is not looked at).
    static constexpr int AnyCode = -1;

    // The request is referred to, not copied: it must outlive the filter.
    ReplyFilter(const uint8_t *request, int requestLength, int receiveBudget, int expectedCode);

    // With addressMustEcho, a frame that does not repeat the request's address (bytes 16..18)
    // is someone else's: for a tap known to echo it, the one thing that ties an answer to its
    // request rather than to an earlier one.
    static Verdict judge(const uint8_t *frame, int captured, const uint8_t *request,
                         int requestLength, int expectedCode, bool addressMustEcho = false);
    // Whether the frame repeats the request's address; true for a request too short to carry one.
    static bool echoesAddress(const uint8_t *frame, int captured, const uint8_t *request,
                              int requestLength);
    // Whether the frame carries an address the tap never answers this request with: the tap
    // either repeats the request's address or leaves zeros there, so any other address is
    // someone else's (junk that knows the codes, or an answer to another request).
    static bool foreignAddress(const uint8_t *frame, int captured, const uint8_t *request,
                               int requestLength);
    void setAddressMustEcho(bool mustEcho) { m_addressMustEcho = mustEcho; }
    // The value a read's answer carries (byte 19), or -1 when the frame ends before it.
    static int valueOf(const uint8_t *frame, int captured);

    // A new send: the budget starts again; the verdicts of earlier attempts are forgotten.
    void startAttempt();
    // A frame as captured.
    void take(const uint8_t *frame, int captured);
    // A read that found the line quiet.
    void takeQuiet();

    // A verdict frame has been seen; the caller only drains what is already waiting.
    bool settling() const { return m_answered || m_refused; }
    bool attemptOver() const { return outcome() != Outcome::Pending; }
    Outcome outcome() const;

    // The first answer of the attempt, whole (valid once Answered).
    const std::vector<uint8_t> &answer() const { return m_answer; }
    uint8_t refusalCode() const { return m_refusalCode; }
    // Whether this attempt also heard a frame with the expected code (beside a refusal).
    bool heardAnswer() const { return m_answered; }
    // Whether any attempt so far saw a frame that could have come from the tap (an answer or a
    // refusal); a tap that is silent leaves this false.
    bool sawPossibleReply() const { return m_sawPossibleReply; }
    // Whether any attempt so far heard a stray, or a verdict frame after the first of its attempt.
    bool heardUnexpected() const { return m_unexpected > 0; }
    int unexpectedFrames() const { return m_unexpected; }

private:
    void countMiss() { ++m_misses; }

    const uint8_t *m_request;
    int m_requestLength;
    int m_receiveBudget;
    int m_expectedCode;
    bool m_addressMustEcho = false;

    int m_misses = 0;
    bool m_answered = false;
    bool m_refused = false;
    bool m_ambiguous = false;
    bool m_quietAfterVerdict = false;
    uint8_t m_refusalCode = 0;
    std::vector<uint8_t> m_answer;
    bool m_sawPossibleReply = false;
    int m_unexpected = 0;
};
