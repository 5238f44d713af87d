// libFuzzer target: the input is a request, what the exchange expects, and the frames and quiet
// reads that reach it, as the monitored network could arrange them. ReplyFilter is driven as
// MV1Device_v4::exchange drives it, and whatever it concludes is checked against what the
// frames it was shown allow. A broken promise aborts, so the fuzzer keeps the input.
//
// Input: 10 bytes of set-up, then events until the input ends (after which the line is quiet):
//   0 request shape (300 or 1500 bytes, or 1..256)   1 opcode   2..4 address   5 value
//   6 expectation (any frame, a protocol code, or byte 7 itself)   7 code
//   8 receive budget (0..63)   9 send attempts (1..4; bit 4: answers must repeat the address)
// Event byte, by its value modulo 8:
//   0 quiet read   1 the request itself   2 the request as an answer (code, value, length)
//   3 a zero-header frame (length, bytes)   4 any frame (length, bytes)   5 a runt (length)
//   6 no data (length)   7 the previous frame again

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <vector>

#include "FrameLayout.h"
#include "ReplyFilter.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Verdict = ReplyFilter::Verdict;
using Outcome = ReplyFilter::Outcome;

constexpr int SetUpLength = 10;
constexpr int MaxBudget = 64;
constexpr int MaxAttempts = 4;
constexpr int MaxFrameLength = 1600;  // beyond what a 1500-byte MTU carries
constexpr int SmallRequestLengths = 256;
constexpr int AnswerCopyLength = frame::RequestLength;
constexpr size_t AddressEnd = frame::AddressOffset + frame::AddressLength;
constexpr int ProtocolCodeCount = sizeof reply::ProtocolCodes;
constexpr uint8_t AnyCodeBelow = 32;  // expectation bytes below this: any frame answers
constexpr uint8_t RawCodeFrom = 160;  // from this on: byte 7 is the expected code as it is
// Frames an attempt can take: every one counts against the budget but its first answer, and it
// ends once the count passes the budget.
constexpr int FreeFramesPerAttempt = 2;

[[noreturn]] void broken(const char *promise)
{
    std::fprintf(stderr, "broken: %s\n", promise);
    std::abort();
}

void require(bool holds, const char *promise)
{
    if (!holds)
        broken(promise);
}

class Input
{
public:
    Input(const uint8_t *data, size_t size) : m_data(data), m_size(size) {}
    bool empty() const { return m_at >= m_size; }
    uint8_t byte() { return empty() ? 0 : m_data[m_at++]; }
    int word() { return (byte() << 8) | byte(); }

private:
    const uint8_t *m_data;
    size_t m_size;
    size_t m_at = 0;
};

int valueIn(const Bytes &f)
{
    return ReplyFilter::valueOf(f.data(), static_cast<int>(f.size()));
}

bool zeroHeader(const Bytes &f)
{
    if (f.size() < static_cast<size_t>(frame::HeaderLength))
        return false;
    for (int i = 0; i < frame::HeaderLength; ++i) {
        if (f[static_cast<size_t>(i)] != 0)
            return false;
    }
    return true;
}

// Whether the frame repeats the request's address (bytes 16..18), where the request has one.
bool repeatsAddress(const Bytes &f, const Bytes &request)
{
    if (request.size() < AddressEnd)
        return true;
    return f.size() >= AddressEnd
        && std::equal(request.begin() + frame::AddressOffset, request.begin() + AddressEnd,
                      f.begin() + frame::AddressOffset);
}

// One event of an attempt: a frame (present or not) or a quiet read.
struct Event
{
    bool quiet = false;
    bool present = true;  // false: the capture handed over no data
    Bytes bytes;
};

class Line
{
public:
    Line(Input &in, const Bytes &request, int expected)
        : m_in(in)
        , m_request(request)
        , m_expected(expected)
    {
    }

    Event next()
    {
        Event e;
        if (m_in.empty()) {
            e.quiet = true;
            return e;
        }
        switch (m_in.byte() % 8) {
        case 0: e.quiet = true; return e;
        case 1: e.bytes = m_request; break;
        case 2: e.bytes = answerLike(); break;
        case 3: e.bytes = filled(m_in.word() % MaxFrameLength, frame::HeaderLength); break;
        case 4: e.bytes = filled(m_in.word() % MaxFrameLength, 0); break;
        case 5: e.bytes = Bytes(m_in.byte() % frame::MinReplyLength, 0); break;
        case 6:
            e.present = false;
            e.bytes.resize(m_in.byte());
            break;
        case 7: e = m_previous; break;
        }
        m_previous = e;
        return e;
    }

private:
    // The request with a reply code and value in place, as the tap answers: the likeliest way
    // for an answer, a refusal or a disagreeing answer to reach the filter.
    Bytes answerLike()
    {
        const uint8_t which = m_in.byte();
        const uint8_t value = m_in.byte();
        const size_t copied = std::min<size_t>(m_request.size(), AnswerCopyLength);
        Bytes f(m_request.begin(), m_request.begin() + static_cast<long>(copied));
        const int length =
            frame::MinReplyLength + m_in.word() % (MaxFrameLength - frame::MinReplyLength);
        f.resize(static_cast<size_t>(length), 0);
        std::memset(f.data(), 0, frame::HeaderLength);
        f[frame::OpcodeOffset] = which < 128 && m_expected != ReplyFilter::AnyCode
            ? static_cast<uint8_t>(m_expected)
            : reply::ProtocolCodes[which % ProtocolCodeCount];
        if (f.size() > static_cast<size_t>(frame::ValueOffset))
            f[frame::ValueOffset] = value;
        return f;
    }

    Bytes filled(int length, int zeros)
    {
        Bytes f(static_cast<size_t>(length), 0);
        for (size_t i = static_cast<size_t>(zeros); i < f.size(); ++i)
            f[i] = m_in.byte();
        return f;
    }

    Input &m_in;
    const Bytes &m_request;
    const int m_expected;
    Event m_previous{true, true, {}};
};

// What one attempt was shown, for judging how it ended.
struct Seen
{
    std::vector<Bytes> answers;
    std::vector<uint8_t> refusalCodes;
    int events = 0;
};

void checkAnswered(const ReplyFilter &filter, const Seen &seen, const Bytes &request, int expected,
                   bool mustEcho)
{
    const Bytes &answer = filter.answer();
    require(!mustEcho || repeatsAddress(answer, request),
            "a tap known to repeat the address is never answered by a frame that does not");
    require(repeatsAddress(answer, request) || answer.size() < AddressEnd
                || std::all_of(answer.begin() + frame::AddressOffset, answer.begin() + AddressEnd,
                               [](uint8_t b) { return b == 0; }),
            "an answer carries the request's address or zeros there, never another address");
    require(!seen.answers.empty() && answer == seen.answers.front(),
            "the answer is the first answer seen");
    require(answer.size() >= static_cast<size_t>(frame::MinReplyLength) && zeroHeader(answer),
            "an answer has a zero header and room for a code");
    require(answer != request, "the request's own echo is never its answer");
    require(expected == ReplyFilter::AnyCode || answer[frame::OpcodeOffset] == expected,
            "an answer carries the expected code");
    if (expected == ReplyFilter::AnyCode)
        return;
    require(seen.refusalCodes.empty(), "a refusal seen in the attempt outweighs an answer");
    const int value = valueIn(answer);
    const bool holdsValue = answer.size() > static_cast<size_t>(frame::ValueOffset);
    require(value == (holdsValue ? answer[frame::ValueOffset] : -1),
            "a read's value is byte 19, and only when the answer holds it");
    for (const Bytes &other : seen.answers)
        require(valueIn(other) == value,
                "answers that disagree on the value leave the attempt without one");
}

void checkOutcome(const ReplyFilter &filter, const Seen &seen, const Bytes &request, int expected,
                  bool mustEcho)
{
    switch (filter.outcome()) {
    case Outcome::Pending: broken("an attempt that is over has an outcome");
    case Outcome::Answered: checkAnswered(filter, seen, request, expected, mustEcho); break;
    case Outcome::Refused:
        require(!seen.refusalCodes.empty() && filter.refusalCode() == seen.refusalCodes.front(),
                "a refusal carries the code of the first refusal seen");
        require(filter.refusalCode() == reply::Refused && filter.refusalCode() != expected,
                "only the tap's refusal code refuses; another command's success code never does");
        break;
    case Outcome::Exhausted: {
        require(seen.refusalCodes.empty(), "an attempt that saw a refusal is refused");
        bool disputed = false;
        for (const Bytes &a : seen.answers)
            disputed = disputed || valueIn(a) != valueIn(seen.answers.front());
        require(seen.answers.empty() || (disputed && expected != ReplyFilter::AnyCode),
                "an attempt with an undisputed answer is answered");
        break;
    }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < static_cast<size_t>(SetUpLength))
        return 0;
    Input in(data, size);
    const uint8_t shape = in.byte();
    const size_t requestLength = shape % 3 == 0 ? frame::RequestLength
        : shape % 3 == 1                        ? frame::PageFrameLength
                                                : 1 + shape % SmallRequestLengths;
    Bytes request(requestLength, 0);
    const uint8_t fields[] = {in.byte(), in.byte(), in.byte(), in.byte(), in.byte()};
    for (size_t i = 0; i < sizeof fields && frame::OpcodeOffset + i < request.size(); ++i)
        request[frame::OpcodeOffset + i] = fields[i];
    const uint8_t expectation = in.byte();
    const uint8_t code = in.byte();
    const uint8_t protocolCode = reply::ProtocolCodes[expectation % ProtocolCodeCount];
    const int expected = expectation < AnyCodeBelow ? ReplyFilter::AnyCode
        : expectation >= RawCodeFrom                ? code
                                                    : protocolCode;
    const int budget = in.byte() % MaxBudget;
    const uint8_t attemptByte = in.byte();
    const int attempts = 1 + attemptByte % MaxAttempts;
    constexpr int EchoBit = 4;
    const bool mustEcho = ((attemptByte >> EchoBit) & 1) != 0;

    // The filter refers to the request; both live on the heap at their exact size, so that a
    // read past either end is caught.
    ReplyFilter filter(request.data(), static_cast<int>(request.size()), budget, expected);
    filter.setAddressMustEcho(mustEcho);
    Line line(in, request, expected);
    bool possibleReply = false;
    bool unexpected = false;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        filter.startAttempt();
        Seen seen;
        while (!filter.attemptOver()) {
            require(++seen.events <= budget + FreeFramesPerAttempt,
                    "an attempt takes at most budget + 2 frames and quiet reads");
            Event e = line.next();
            if (e.quiet) {
                filter.takeQuiet();
                continue;
            }
            const uint8_t *bytes = e.present ? e.bytes.data() : nullptr;
            const int captured = static_cast<int>(e.bytes.size());
            const Verdict v =
                ReplyFilter::judge(bytes, captured, request.data(),
                                   static_cast<int>(request.size()), expected, mustEcho);
            if (v == Verdict::Answer)
                seen.answers.push_back(e.bytes);
            if (v == Verdict::Refusal)
                seen.refusalCodes.push_back(e.bytes[frame::OpcodeOffset]);
            const bool verdictFrame = v == Verdict::Answer || v == Verdict::Refusal;
            unexpected = unexpected || v == Verdict::Stray
                || (verdictFrame && seen.answers.size() + seen.refusalCodes.size() > 1);
            possibleReply = possibleReply || verdictFrame || v == Verdict::Stray;
            filter.take(bytes, captured);
            require(filter.heardUnexpected() == unexpected,
                    "a stray or a second verdict frame is remembered across attempts");
            // The frame is gone once taken, as the capture library reuses its buffer.
            e.bytes.assign(e.bytes.size(), 0xA5);
            require(filter.settling() == (!seen.answers.empty() || !seen.refusalCodes.empty()),
                    "an attempt settles once a verdict frame came");
        }
        require(filter.sawPossibleReply() == possibleReply,
                "a possible reply is remembered across attempts");
        checkOutcome(filter, seen, request, expected, mustEcho);

        // What arrives after the attempt is over changes nothing.
        const Outcome before = filter.outcome();
        const Bytes answer = filter.answer();
        const Event late = line.next();
        if (!late.quiet)
            filter.take(late.present ? late.bytes.data() : nullptr,
                        static_cast<int>(late.bytes.size()));
        require(filter.outcome() == before && filter.answer() == answer,
                "an attempt that is over stays over");
        if (before == Outcome::Answered || before == Outcome::Refused)
            break;
    }
    return 0;
}
