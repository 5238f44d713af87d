#include "MV1Device_v4.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "DeviceLog.h"
#include "FirmwareProgramming.h"
#include "FrameLayout.h"
#include "LinkRecovery.h"
#include "ReplyFilter.h"
#include "SettingsRegisterMap.h"

namespace {

using RegisterRequest = std::array<uint8_t, frame::RequestLength>;
using PageRequest = std::array<uint8_t, frame::PageFrameLength>;
using Step = DeviceFailure::Step;
using Cause = DeviceFailure::Cause;

// How long an attempt still listens once a verdict frame has come: register commands only take
// what is already waiting, so a clean exchange costs no more than its round trip. Programming
// waits a little longer: a page the tap refused but someone else seemed to accept would leave
// a hole in the firmware that nothing afterwards can see.
constexpr int RegisterSettleMs = 0;
constexpr int ProgrammingSettleMs = 1;
constexpr int DoubtfulSettleMs = 5;

long long ceilMs(std::chrono::steady_clock::duration d)
{
    return std::chrono::ceil<std::chrono::milliseconds>(d).count();
}

RegisterRequest registerRequest(uint8_t opcodeByte, int address, uint8_t value)
{
    RegisterRequest request{};
    request[frame::OpcodeOffset] = opcodeByte;
    frame::putAddress(request.data(), address);
    request[frame::ValueOffset] = value;
    return request;
}

// Closes the session on every way out of an exchange.
class SessionGuard
{
public:
    explicit SessionGuard(PacketSession &session) : m_session(session) {}
    ~SessionGuard() { m_session.close(); }
    SessionGuard(const SessionGuard &) = delete;
    SessionGuard &operator=(const SessionGuard &) = delete;

private:
    PacketSession &m_session;
};

}  // namespace

MV1Device_v4::MV1Device_v4(const char *interfaceName, std::unique_ptr<FrameLink> link)
    : MV1Device(interfaceName, std::move(link))
{
    m_generation = 4;
}

MV1Device_v4::Exchange MV1Device_v4::exchange(const uint8_t *request, int length, int receiveBudget,
                                              int expectedCode, int settleMs)
{
    Exchange result = runExchange(request, length, receiveBudget, expectedCode, settleMs);
    m_unexpectedHeard += result.unexpectedFrames;
    // A send that went unanswered may still be answered, late, while a later request waits:
    // its answer then stands in for that request's.
    m_resends += std::max(0, result.sends - 1);
    // Strays come in spells (a line that repeats or delays one answer does so to others): the
    // exchanges after one, or after a send that went unanswered, are doubted too, and the doubt
    // wears off over clean ones.
    if (result.unexpectedFrames > 0 || result.sends > 1)
        m_doubtfulExchanges = DoubtAfterStray;
    else if (m_doubtfulExchanges > 0)
        --m_doubtfulExchanges;
    return result;
}

MV1Device_v4::Exchange MV1Device_v4::runExchange(const uint8_t *request, int length,
                                                 int receiveBudget, int expectedCode, int settleMs)
{
    Exchange result;
    PacketSession *s = session();
    if (s == nullptr || request == nullptr || length <= 0) {
        result.result = Exchange::Result::CannotOpen;
        result.detail = noInterface().detail;
        return result;
    }
    const SessionGuard guard(*s);
    LinkRecovery link(*s);
    const auto linkFailed = [&result, &link](Exchange::Result why) {
        result.result = why;
        result.detail = link.error().text;
        result.linkError = link.error().kind;
        return result;
    };
    if (!link.open())
        return linkFailed(Exchange::Result::CannotOpen);

    ReplyFilter filter(request, length, receiveBudget, expectedCode);
    filter.setAddressMustEcho(m_echoesAddress);
    // What a read's value or a refusal says is what a stray could say as well; once anything
    // unexpected was heard, only a repeat of the request that says the same is believed. An
    // acknowledgement without a value is not repeated: what it acknowledged is read back or
    // sent again by the operation that asked.
    const bool carriesValue =
        expectedCode == reply::ReadRegister || expectedCode == reply::ReadRegisterPersistent;
    // Timing is the defence of last resort, for a tap whose answers carry nothing of the request:
    // one that repeats the address is answered for by the address, and timing a tap that shares
    // the host's CPUs with a loaded machine would doubt answers that were merely quick.
    ReplyTiming *timing = m_echoesAddress               ? nullptr
        : expectedCode == reply::ReadRegister           ? &m_readTiming
        : expectedCode == reply::ReadRegisterPersistent ? &m_persistentReadTiming
                                                        : nullptr;
    // Verdict frames of a read that came before the tap could have answered (ReplyTiming).
    int earlyReplies = 0;
    // What the last attempt said and nothing yet confirmed: refusal code or -1, value or -1.
    bool pending = false;
    std::pair<int, int> unconfirmed{-1, -1};
    std::string sendError;
    for (int attempt = 0; attempt < MaxSendAttempts; ++attempt) {
        filter.startAttempt();
        ++result.sends;
        // A frame lost on the way out is not fatal: the wait below simply sees no reply and
        // sends again.
        const LinkRecovery::Sent sent = link.send(request, length);
        if (sent == LinkRecovery::Sent::Never) {
            result.heardReply = filter.sawPossibleReply();
            result.unexpectedFrames = filter.unexpectedFrames();
            return linkFailed(Exchange::Result::CannotSend);
        }
        if (sent == LinkRecovery::Sent::Lost)
            sendError = link.error().text;
        const auto sentAt = std::chrono::steady_clock::now();
        std::chrono::steady_clock::duration tookToVerdict{};
        // After an early verdict frame, the attempt listens until the tap's own answer is due.
        std::optional<std::chrono::steady_clock::time_point> listenUntil;
        const int unexpectedBefore = filter.unexpectedFrames();

        // On a line heard to carry strays, a value or refusal that came first may be a replay
        // with the tap's own answer right behind it: a little longer a listen lets the two
        // disagree, instead of two replays agreeing.
        const int settle = carriesValue && (m_doubtfulExchanges > 0 || filter.heardUnexpected())
            ? std::max(settleMs, DoubtfulSettleMs)
            : settleMs;
        while (!filter.attemptOver()) {
            const auto now = std::chrono::steady_clock::now();
            const bool listening = listenUntil && now < *listenUntil;
            const int wait = !filter.settling() ? PacketSession::ReadTimeoutMs
                : listening ? std::max(settle, static_cast<int>(ceilMs(*listenUntil - now)))
                            : settle;
            const LinkReception got = s->receive(wait);
            if (got.result == LinkReception::Result::Failed) {
                if (link.mayRecover(got.error))
                    break;  // the next send waits for the interface
                result.heardReply = filter.sawPossibleReply();
                result.unexpectedFrames = filter.unexpectedFrames();
                return linkFailed(Exchange::Result::CaptureError);
            }
            if (got.result == LinkReception::Result::Quiet) {
                if (!listening || std::chrono::steady_clock::now() >= *listenUntil)
                    filter.takeQuiet();
                continue;
            }
            const bool wasSettling = filter.settling();
            filter.take(got.bytes, got.captured);  // never beyond the capture
            if (wasSettling || !filter.settling())
                continue;
            tookToVerdict = std::chrono::steady_clock::now() - sentAt;
            if (timing != nullptr
                && timing->early(std::chrono::duration_cast<ReplyTiming::Micros>(tookToVerdict))) {
                ++earlyReplies;
                listenUntil = sentAt + timing->listenFor();
            }
        }
        result.unexpectedFrames = filter.unexpectedFrames() + earlyReplies;

        const ReplyFilter::Outcome outcome = filter.outcome();
        if (outcome != ReplyFilter::Outcome::Answered && outcome != ReplyFilter::Outcome::Refused)
            continue;
        // Only an answer that came alone tells how soon the tap answers.
        if (timing != nullptr && outcome == ReplyFilter::Outcome::Answered
            && filter.unexpectedFrames() == unexpectedBefore)
            timing->learn(std::chrono::duration_cast<ReplyTiming::Micros>(tookToVerdict));
        const bool refused = outcome == ReplyFilter::Outcome::Refused;
        const std::pair<int, int> said{
            refused ? filter.refusalCode() : -1,
            refused ? -1
                    : ReplyFilter::valueOf(filter.answer().data(),
                                           static_cast<int>(filter.answer().size()))};
        const bool doubted = (refused || carriesValue)
            && (filter.heardUnexpected() || earlyReplies > 0 || m_doubtfulExchanges > 0);
        // On such a line a refusal heard beside an answer says nothing either way: a stray
        // can carry the refusal code as well as the expected one.
        if (doubted && refused && filter.heardAnswer()) {
            pending = false;
            continue;
        }
        if (doubted && (!pending || unconfirmed != said)) {
            pending = true;
            unconfirmed = said;
            qCDebug(lcDevice) << "stray frames on" << interfaceName()
                              << "; asking again to confirm what was heard";
            continue;
        }
        result.heardReply = true;
        if (refused) {
            result.result = Exchange::Result::Refused;
            result.code = filter.refusalCode();
            return result;
        }
        result.result = Exchange::Result::Answered;
        result.answer = filter.answer();
        learnAddressEcho(request, length, result.answer);
        return result;
    }
    result.heardReply = filter.sawPossibleReply();
    // Every send refused by the library: that, not the tap's silence, is the reason.
    if (!sendError.empty() && !result.heardReply) {
        result.result = Exchange::Result::CaptureError;
        result.detail = sendError;
    }
    qCDebug(lcDevice) << "no answer from" << interfaceName() << "after" << result.sends << "sends";
    return result;
}

int MV1Device_v4::programmingSettleMs() const
{
    // A tap known to repeat the address is answered only by frames that repeat the page's index,
    // which no earlier answer carries: nothing is left for the extra wait to catch.
    return m_echoesAddress ? RegisterSettleMs : ProgrammingSettleMs;
}

void MV1Device_v4::learnAddressEcho(const uint8_t *request, int length, const Frame &answer)
{
    constexpr int AddressEnd = frame::AddressOffset + frame::AddressLength;
    // A request to address 0 shows nothing: a tap that leaves those bytes zero would match.
    if (m_echoesAddress || length < AddressEnd
        || std::all_of(request + frame::AddressOffset, request + AddressEnd,
                       [](uint8_t b) { return b == 0; }))
        return;
    if (ReplyFilter::echoesAddress(answer.data(), static_cast<int>(answer.size()), request,
                                   length)) {
        m_echoesAddress = true;
        qCDebug(lcDevice) << interfaceName() << "repeats the address in its answers";
    }
}

bool MV1Device_v4::command(const uint8_t *request, int length, int receiveBudget, int expectedCode,
                           int settleMs, const DeviceFailure &step, Frame *answer)
{
    Exchange ex = exchange(request, length, receiveBudget, expectedCode, settleMs);
    if (ex.result == Exchange::Result::Answered) {
        if (answer != nullptr)
            *answer = std::move(ex.answer);
        return succeed();
    }

    DeviceFailure failure = step;
    failure.count = ex.sends;
    failure.heardReply = ex.heardReply;
    failure.detail = ex.detail;
    const LinkError linkError{ex.linkError, ex.detail};
    switch (ex.result) {
    case Exchange::Result::Answered: break;
    case Exchange::Result::Refused:
        failure.cause = Cause::Refused;
        failure.code = ex.code;
        break;
    case Exchange::Result::NoReply: failure.cause = Cause::NoReply; break;
    case Exchange::Result::CannotOpen:
        failure = linkFailure(failure, Cause::CannotOpen, linkError);
        break;
    case Exchange::Result::CannotSend:
        failure = linkFailure(failure, Cause::CannotSend, linkError);
        break;
    case Exchange::Result::CaptureError:
        failure = linkFailure(
            failure, ex.sends > 0 && ex.detail.empty() ? Cause::NoReply : Cause::CannotSend,
            linkError);
        break;
    }
    return fail(failure);
}

bool MV1Device_v4::writeRegister(int address, uint8_t value, bool persistent)
{
    const RegisterRequest request = registerRequest(
        persistent ? opcode::WriteRegisterPersistent : opcode::WriteRegister, address, value);
    return command(request.data(), frame::RequestLength, budget::Register,
                   persistent ? reply::WriteRegisterPersistent : reply::WriteRegister,
                   RegisterSettleMs,
                   DeviceFailure::during(Step::Register, address & frame::AddressMask));
}

bool MV1Device_v4::eraseSettings()
{
    return eraseSector(reg::SettingsSector);
}

bool MV1Device_v4::eraseSector(int address)
{
    const RegisterRequest request = registerRequest(opcode::EraseSector, address, 0);
    return command(request.data(), frame::RequestLength, budget::EraseSector, reply::EraseSector,
                   RegisterSettleMs,
                   DeviceFailure::during(Step::Erase, address & frame::AddressMask));
}

bool MV1Device_v4::readRegister(int address, uint8_t *value, bool persistent)
{
    const RegisterRequest request = registerRequest(
        persistent ? opcode::ReadRegisterPersistent : opcode::ReadRegister, address, 0);
    const DeviceFailure step = DeviceFailure::during(Step::Register, address & frame::AddressMask);
    Frame answer;
    if (!command(request.data(), frame::RequestLength, budget::Register,
                 persistent ? reply::ReadRegisterPersistent : reply::ReadRegister, RegisterSettleMs,
                 step, &answer))
        return false;
    // An answer can be as short as 16 bytes; without byte 19 there is no value.
    const int carried = ReplyFilter::valueOf(answer.data(), static_cast<int>(answer.size()));
    if (carried < 0 || value == nullptr) {
        DeviceFailure failure = step;
        failure.cause = Cause::NoReply;
        failure.count = 1;
        failure.heardReply = true;
        return fail(failure);
    }
    *value = static_cast<uint8_t>(carried);
    return true;
}

bool MV1Device_v4::writeSettings(const DeviceSettings &settings, bool persistent)
{
    // The whole sequence is always sent, so that one lost write does not leave the rest of
    // the tap's settings stale; the first failure is what the caller hears of.
    DeviceFailure first;
    for (const RegisterWrite &write : v4SettingsRegisters(settings)) {
        if (!writeRegister(write.address, write.value, persistent) && !first.failed())
            first = lastFailure();
        if (first.interfaceFault())
            return fail(first);  // nothing more gets through, the commit included
    }
    if (persistent)
        commitSettings();  // its answer carries no verdict the host can check
    if (first.failed())
        return fail(first);
    // An acknowledgement is a code any frame on the line can carry; what the registers hold
    // afterwards is what counts.
    return verifySettings(settings, persistent);
}

bool MV1Device_v4::verifySettings(const DeviceSettings &settings, bool persistent)
{
    for (const RegisterWrite &write : v4SettingsRegisters(settings)) {
        uint8_t held = 0;
        if (!readRegister(write.address, &held, persistent))
            return false;
        const uint8_t mask = v4ReadBackMask(write.address);
        if ((held & mask) != (write.value & mask)) {
            DeviceFailure failure = DeviceFailure::during(Step::Register, write.address);
            failure.cause = Cause::ReadsBack;
            failure.code = held;
            failure.wanted = write.value;
            return fail(failure);
        }
    }
    return succeed();
}

bool MV1Device_v4::readSettings(DeviceSettings &settings, bool persistent)
{
    const auto &addresses = reg::V4ReadAddresses;
    constexpr int Count = V4ReadRegisterCount;
    DeviceFailure firstFailure;

    // A value is only taken when two reads of it in a row agree, so a stray answer to one read
    // cannot put someone else's byte into the record. The two reads follow each other: a read
    // that took a stray frame leaves the tap's own answer on its way, and the next read takes
    // that instead of its own. Read straight after, it carries this register's value; read a
    // whole pass later, every register would take its neighbour's value in both passes alike.
    std::array<uint8_t, Count> settled{};
    for (int i = 0; i < Count; ++i) {
        uint8_t last = 0;
        bool lastOk = readRegister(addresses[i], &last, persistent);
        DeviceFailure why = lastOk ? DeviceFailure() : lastFailure();
        bool agreed = false;
        for (int extra = 0; !agreed && !why.interfaceFault() && extra < 1 + ExtraReadsPerRegister;
             ++extra) {
            uint8_t value = 0;
            const bool ok = readRegister(addresses[i], &value, persistent);
            agreed = ok && lastOk && value == last;
            last = value;
            lastOk = ok;
            if (!ok)
                why = lastFailure();
        }
        if (agreed) {
            settled[i] = last;
        } else if (!firstFailure.failed()) {
            firstFailure = why.failed() ? why : DeviceFailure::during(Step::Register, addresses[i]);
            if (!why.failed())
                firstFailure.cause = Cause::Disagree;
        }
        if (firstFailure.interfaceFault())
            break;
    }

    // A register that could not be read stays 0, as a cleared record has it.
    v4SettingsFromRegisters(settled, settings);
    if (firstFailure.failed())
        return fail(firstFailure);
    return succeed();
}

bool MV1Device_v4::commitSettings()
{
    const RegisterRequest request = registerRequest(opcode::CommitSettings, 0, 0);
    exchange(request.data(), frame::RequestLength, budget::CommitSettings, ReplyFilter::AnyCode);
    return false;
}

bool MV1Device_v4::writeFirmwarePage(int, const uint8_t *)
{
    return lacks(Cause::NoPageWrites);
}

DeviceAbilities MV1Device_v4::abilities() const
{
    return {.readsBack = true, .confirms = true, .programsPages = true};
}

ProgressPlan MV1Device_v4::firmwareUpdatePlan() const
{
    // The begin erases the three sectors the pages go into, which takes the tap a while; the
    // end is a single exchange.
    return {{ProgressStage::Erase, 10}, {ProgressStage::Pages, 89}, {ProgressStage::Commit, 1}};
}

bool MV1Device_v4::beginProgramming()
{
    const RegisterRequest request = registerRequest(opcode::BeginProgramming, 0, 0);
    return command(request.data(), frame::RequestLength, budget::BeginProgramming,
                   reply::BeginProgramming, programmingSettleMs(),
                   DeviceFailure::during(Step::Begin));
}

bool MV1Device_v4::programPage(int pageIndex, const uint8_t *page)
{
    return sendPage(pageIndex, page, nullptr);
}

bool MV1Device_v4::sendPage(int pageIndex, const uint8_t *page, bool *withIndex)
{
    const DeviceFailure step = DeviceFailure::during(Step::Page, pageIndex, firmware::V4PageCount);
    if (page == nullptr) {
        DeviceFailure failure = step;
        failure.cause = Cause::CannotSend;
        failure.detail = "no page data";
        return fail(failure);
    }
    PageRequest request{};
    request[frame::OpcodeOffset] = opcode::ProgramPage;
    frame::putAddress(request.data(), pageIndex);
    std::memcpy(request.data() + frame::PageDataOffset, page, frame::PageSize);
    Frame answer;
    if (!command(request.data(), frame::PageFrameLength, budget::ProgramPage, reply::ProgramPage,
                 programmingSettleMs(), step, &answer))
        return false;
    // Only from a tap known to repeat the index is a repeat of it more than a coincidence: a
    // page-0 answer of zeros matches any tap.
    if (withIndex != nullptr)
        *withIndex = m_echoesAddress
            && ReplyFilter::echoesAddress(answer.data(), static_cast<int>(answer.size()),
                                          request.data(), frame::PageFrameLength);
    return true;
}

bool MV1Device_v4::endProgramming()
{
    const RegisterRequest request = registerRequest(opcode::EndProgramming, 0, 0);
    return command(request.data(), frame::RequestLength, budget::EndProgramming,
                   reply::EndProgramming, programmingSettleMs(), DeviceFailure::during(Step::End));
}

bool MV1Device_v4::sendPageWithTries(int index, const uint8_t *page, PageAck *ack)
{
    int refusals = 0;
    for (int attempt = 0; attempt < firmware::V4TriesPerPage; ++attempt) {
        bool withIndex = false;
        if (sendPage(index, page, &withIndex)) {
            *ack = withIndex ? PageAck::WithIndex : PageAck::WithoutIndex;
            return true;
        }
        refusals += lastFailure().cause == Cause::Refused ? 1 : 0;
        if (lastFailure().interfaceFault())
            return false;
    }
    // The tap stays in programming mode; the next update starts again with the begin.
    DeviceFailure failure = lastFailure();
    if (refusals == firmware::V4TriesPerPage)
        failure.cause = Cause::Refused;
    failure.count = firmware::V4TriesPerPage;
    return fail(failure);
}

bool MV1Device_v4::updateFirmware(const uint8_t *image, int length)
{
    m_updateReceipt = UpdateReceipt{};
    if (!firmwareFits(image, length, firmware::V4PageCount))
        return fail(firmwareTooLarge(length, firmware::V4PageCount));
    // The begin erases the flash: pages the interface cannot carry would leave it empty.
    if (!carriesFrames(frame::PageFrameLength, DeviceFailure::during(Step::Begin)))
        return false;
    emit MV1UpdateProgress(ProgressStage::Erase, 0, 1);
    if (!beginProgramming())
        return false;
    emit MV1UpdateProgress(ProgressStage::Erase, 1, 1);

    emit MV1UpdateProgress(ProgressStage::Pages, 0, firmware::V4PageCount);
    m_updateReceipt.pages = firmware::V4PageCount;
    std::vector<PageAck> acks(firmware::V4PageCount, PageAck::None);
    const auto tally = [this, &acks] {
        m_updateReceipt.acknowledgedWithIndex =
            static_cast<int>(std::count(acks.begin(), acks.end(), PageAck::WithIndex));
        m_updateReceipt.acknowledgedWithoutIndex =
            static_cast<int>(std::count(acks.begin(), acks.end(), PageAck::WithoutIndex));
    };
    const int unexpectedBefore = m_unexpectedHeard;
    const int resendsBefore = m_resends;
    uint8_t page[firmware::PageSize];
    // A pass sends every page still to be sent (all of them the first time); progress is shown
    // for the first, which is the whole update on a clean line.
    const auto pass = [&](bool again) {
        ++m_updateReceipt.passes;
        for (int index = 0; index < firmware::V4PageCount; ++index) {
            if (again && acks[index] == PageAck::WithIndex)
                continue;
            fillFirmwarePage(page, image, length, index);
            if (!sendPageWithTries(index, page, &acks[index])) {
                tally();
                m_updateReceipt.unexpectedFrames = m_unexpectedHeard - unexpectedBefore;
                return false;
            }
            if (!again)
                emit MV1UpdateProgress(ProgressStage::Pages, index + 1, firmware::V4PageCount);
        }
        return true;
    };
    if (!pass(false))
        return false;
    // An answer that cannot be tied to its page may be a late or repeated answer to another
    // page standing in for one whose request was lost. Once strays were heard, or a page had to
    // be sent again (its first answer may still come, late), the pages go out once more (the
    // same data programmed again changes nothing), so that a hole needs two losses in the same
    // place. A tap that repeats the index has its strays passed over; of its pages only those
    // answered before it was known to repeat (page 0) go again.
    const bool strays = m_unexpectedHeard > unexpectedBefore || m_resends > resendsBefore;
    const bool untied = std::find(acks.begin(), acks.end(), PageAck::WithoutIndex) != acks.end();
    if (untied && (strays || m_echoesAddress) && !pass(true))
        return false;
    tally();
    m_updateReceipt.unexpectedFrames = m_unexpectedHeard - unexpectedBefore;

    emit MV1UpdateProgress(ProgressStage::Commit, 0, 1);
    if (!endProgramming())
        return false;
    emit MV1UpdateProgress(ProgressStage::Commit, 1, 1);
    return succeed();
}
