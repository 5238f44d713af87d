#include "HelperFrameLink.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "DeviceLog.h"
#include "HardwareAddress.h"

using namespace linkhelper;

namespace {

constexpr const char *HelperName = "kalvessa100-link";
// Opening a capture sets up the kernel's ring; everything else the helper says at once, and a
// message it has begun it finishes at once.
constexpr auto OpenAllowance = std::chrono::seconds(10);
constexpr auto AnswerAllowance = std::chrono::seconds(2);
constexpr size_t MostErrorText = 512;
constexpr size_t MostMessage = HeaderLength + FrameBytesAt + MostFrameLength;
// Room for many of the tap's frames per read, and always for the largest message.
constexpr size_t InputSize = 4 * MostMessage;

bool executable(const std::string &path)
{
    return ::access(path.c_str(), X_OK) == 0;
}

std::string ownFolder()
{
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return {};
    const std::string exe(path, static_cast<size_t>(n));
    return exe.substr(0, exe.find_last_of('/'));
}

LinkReception failed(LinkError error)
{
    LinkReception got;
    got.result = LinkReception::Result::Failed;
    got.error = std::move(error);
    return got;
}

// A kind the helper names that this program does not know stays Other.
LinkError::Kind kindOf(uint8_t value)
{
    return value <= static_cast<uint8_t>(LinkError::Kind::FrameTooLong)
        ? static_cast<LinkError::Kind>(value)
        : LinkError::Kind::Other;
}

}  // namespace

std::string HelperFrameLink::helperPath()
{
    // A build keeps the helper in its own folder beside ui/ and cli/; the package among its
    // private programs.
    const std::string folder = ownFolder();
    if (!folder.empty()) {
        for (const std::string &beside :
             {folder + "/" + HelperName, folder + "/../linkhelper/" + HelperName}) {
            if (executable(beside))
                return beside;
        }
    }
    return KALVESSA_LINK_HELPER_INSTALLED;
}

HelperFrameLink::HelperFrameLink(std::string interfaceName, std::string helperPath)
    : m_name(std::move(interfaceName))
    , m_helper(std::move(helperPath))
{
}

HelperFrameLink::~HelperFrameLink()
{
    release();
}

std::optional<LinkError> HelperFrameLink::start()
{
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        return LinkError{LinkError::Kind::Other,
                         std::string("socketpair: ") + std::strerror(errno)};
    int errors[2];
    if (::pipe2(errors, O_CLOEXEC) != 0) {
        ::close(pair[0]);
        ::close(pair[1]);
        return LinkError{LinkError::Kind::Other, std::string("pipe: ") + std::strerror(errno)};
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pair[1], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pair[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errors[1], STDERR_FILENO);
    char *const argv[] = {const_cast<char *>(HelperName), const_cast<char *>(m_name.c_str()),
                          nullptr};
    char *const noEnvironment[] = {nullptr};
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, m_helper.c_str(), &actions, nullptr, argv, noEnvironment);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pair[1]);
    ::close(errors[1]);
    if (spawned != 0) {
        ::close(pair[0]);
        ::close(errors[0]);
        // Without its helper this program has no way to the capture privilege.
        return LinkError{LinkError::Kind::NoPrivilege,
                         "cannot run the capture helper " + m_helper + ": "
                             + std::strerror(spawned)};
    }
    m_pid = pid;
    m_socket = pair[0];
    m_errors = errors[0];
    m_input.resize(InputSize);
    return std::nullopt;
}

LinkOpening HelperFrameLink::open()
{
    if (m_pid < 0 || !m_opened)
        return openAnew();
    // Resumed with whatever is asked next, so that the exchange's first frame goes in the same
    // write and no answer is waited for; what the helper pushed before it parked is thrown
    // away as it arrives.
    close();
    m_captureFailed.reset();
    m_notSent.reset();
    m_kept.clear();
    m_unconfirmed = false;
    ask(MessageType::Resume);
    ++m_opening;
    m_parked = false;
    LinkOpening opening;
    opening.opened = true;
    opening.warnings = m_warnings;
    return opening;
}

LinkOpening HelperFrameLink::openAnew()
{
    release();
    LinkOpening opening;
    if (std::optional<LinkError> notStarted = start()) {
        opening.error = std::move(*notStarted);
        return opening;
    }
    // A helper that refused and ended has left its reason to read: read on whether or not it
    // took the request.
    ask(MessageType::Open);
    m_opening = 1;
    post();
    const Clock::time_point deadline = Clock::now() + OpenAllowance;
    for (;;) {
        Message message;
        switch (next(deadline, &message, &opening.error)) {
        case Waited::Lost: return opening;
        case Waited::Quiet: opening.error = helperLost("stopped answering"); return opening;
        case Waited::Message: break;
        }
        switch (message.type) {
        case MessageType::Opened: {
            const std::string lines(message.payload, message.payload + message.length);
            for (size_t from = 0; from < lines.size();) {
                const size_t end = std::min(lines.find('\n', from), lines.size());
                if (end > from)
                    opening.warnings.push_back(lines.substr(from, end - from));
                from = end + 1;
            }
            m_warnings = opening.warnings;
            m_opened = true;
            opening.opened = true;
            return opening;
        }
        case MessageType::Failure:
            // As a capture that failed to open: the next open starts afresh.
            opening.error = errorOf(message);
            release();
            return opening;
        case MessageType::Dropped: noteDropped(readCount(message.payload)); break;
        default: opening.error = helperLost("answered out of turn"); return opening;
        }
    }
}

std::optional<LinkError> HelperFrameLink::send(const uint8_t *bytes, int length)
{
    if (m_notSent) {
        const LinkError notSent = std::move(*m_notSent);
        m_notSent.reset();
        return notSent;
    }
    if (m_pid < 0 || m_parked)
        return LinkError{LinkError::Kind::Other, "the capture is not open"};
    // The helper ends itself on any other frame; refused here so that the capture stays.
    if (bytes == nullptr || length < static_cast<int>(LeastFrameLength)
        || static_cast<uint32_t>(length) > MostFrameLength
        || std::any_of(bytes, bytes + AddressBytes, [](uint8_t b) { return b != 0; }))
        return LinkError{LinkError::Kind::Other,
                         "only frames between all-zero addresses go through the capture helper"};
    ask(MessageType::Send, bytes, static_cast<uint32_t>(length));
    if (!post())
        return helperLost("stopped taking frames");
    m_unconfirmed = true;
    m_answerDue = true;
    return std::nullopt;
}

std::optional<LinkError> HelperFrameLink::confirmSent()
{
    if (m_notSent) {
        const LinkError notSent = std::move(*m_notSent);
        m_notSent.reset();
        return notSent;
    }
    if (m_pid < 0 || !m_unconfirmed)
        return std::nullopt;
    ask(MessageType::Confirm);
    if (!post())
        return helperLost("stopped taking requests");
    m_answerDue = true;
    std::optional<LinkError> notSent;
    const Clock::time_point deadline = Clock::now() + AnswerAllowance;
    for (;;) {
        Message message;
        LinkError error;
        switch (next(deadline, &message, &error)) {
        case Waited::Lost: return error;
        case Waited::Quiet: return helperLost("stopped answering");
        case Waited::Message: break;
        }
        if (message.type == MessageType::Confirmed) {
            m_unconfirmed = m_answerDue = false;
            return notSent;
        }
        if (message.type == MessageType::NotSent) {
            if (current(message) && !notSent)
                notSent = errorOf(message);
            continue;
        }
        switch (hear(message, &error)) {
        case Heard::Nothing: break;
        case Heard::Frame:
            // Not this caller's to throw away: kept for its next receive, within reason.
            if (m_kept.size() < MostKeptFrames)
                m_kept.emplace_back(message.payload, message.payload + message.length);
            else
                noteDropped(1);
            break;
        case Heard::Failed:
            // A capture that stopped delivering tells the next receive; the frames sent are
            // still to be confirmed.
            if (m_captureFailed)
                break;
            return error;
        }
    }
}

LinkReception HelperFrameLink::receive(int timeoutMs)
{
    if (m_pid < 0 || m_parked)
        return failed({LinkError::Kind::Other, "the capture is not open"});
    if (!m_request.empty() && !post())
        return failed(helperLost("stopped taking requests"));
    if (!m_kept.empty()) {
        const std::vector<uint8_t> kept = std::move(m_kept.front());
        m_kept.pop_front();
        return frameOf(kept.data(), static_cast<uint32_t>(kept.size()));
    }
    if (m_captureFailed)
        return failed(*m_captureFailed);
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        Message message;
        LinkError error;
        switch (next(deadline, &message, &error)) {
        case Waited::Lost: return failed(std::move(error));
        case Waited::Quiet: m_answerDue = false; return {};
        case Waited::Message: break;
        }
        switch (hear(message, &error)) {
        case Heard::Nothing: break;
        case Heard::Frame: m_answerDue = false; return frameOf(message.payload, message.length);
        case Heard::Failed: return failed(std::move(error));
        }
    }
}

bool HelperFrameLink::current(const Message &message) const
{
    return readCount(message.payload) == m_opening;
}

HelperFrameLink::Heard HelperFrameLink::hear(const Message &message, LinkError *error)
{
    // What belongs to an opening before the latest is over: a frame of an exchange that has
    // ended, a failure the resume has since tried to mend.
    switch (message.type) {
    case MessageType::Frame: return current(message) ? Heard::Frame : Heard::Nothing;
    case MessageType::Dropped: noteDropped(readCount(message.payload)); return Heard::Nothing;
    case MessageType::NotSent:
        if (!current(message))
            return Heard::Nothing;
        m_notSent = errorOf(message);
        *error = *m_notSent;
        return Heard::Failed;
    case MessageType::CaptureFailed:
        if (!current(message))
            return Heard::Nothing;
        m_captureFailed = errorOf(message);
        *error = *m_captureFailed;
        return Heard::Failed;
    case MessageType::Failure:
        // Only a resume is answered so, and only when the capture could not be opened again:
        // the next open starts afresh, the next send tells why.
        if (!current(message))
            return Heard::Nothing;
        *error = errorOf(message);
        release();
        m_notSent = *error;
        return Heard::Failed;
    default: break;
    }
    *error = helperLost("answered out of turn");
    return Heard::Failed;
}

LinkReception HelperFrameLink::frameOf(const uint8_t *payload, uint32_t length)
{
    m_frame.assign(payload + FrameBytesAt, payload + length);
    LinkReception got;
    got.result = LinkReception::Result::Frame;
    got.bytes = m_frame.data();
    got.captured = static_cast<int>(m_frame.size());
    // Never shorter than what came: the wire length only ever adds what was not captured.
    got.length = static_cast<int>(std::max<uint32_t>(
        std::min(readCount(payload + OpeningLength), MostFrameLength), m_frame.size()));
    return got;
}

void HelperFrameLink::noteDropped(uint32_t count)
{
    if (count == 0)
        return;
    m_dropped += count;
    m_droppedUntold += count;
    // A flood tells this often: the first of an opening is a warning, the rest are details
    // until the opening's close sums them up.
    if (m_droppedWarned) {
        qCDebug(lcDevice, "%s: %u more captured frames dropped", m_name.c_str(), count);
        return;
    }
    tellDropped();
    m_droppedWarned = true;
}

void HelperFrameLink::tellDropped()
{
    if (m_droppedUntold == 0)
        return;
    // Dropped frames are lost frames: an answer among them makes an exchange fail or repeat,
    // and a capture shown to someone misses them.
    qCWarning(lcDevice,
              "%s: %llu captured frames were dropped: read too slowly from the capture helper",
              m_name.c_str(), static_cast<unsigned long long>(m_droppedUntold));
    m_droppedUntold = 0;
}

void HelperFrameLink::close()
{
    if (m_pid < 0 || m_parked)
        return;
    tellDropped();
    m_droppedWarned = false;
    m_parked = true;
    // A resume not yet written leaves the helper parked as it was.
    if (!m_request.empty()) {
        m_request.clear();
        --m_opening;
        return;
    }
    // Not waited for: a helper that went away is found out by the next request.
    ask(MessageType::Park);
    post();
}

void HelperFrameLink::ask(MessageType type, const uint8_t *payload, uint32_t length)
{
    appendMessage(m_request, type, payload, length);
}

bool HelperFrameLink::post()
{
    const Clock::time_point deadline = Clock::now() + AnswerAllowance;
    size_t done = 0;
    while (done < m_request.size()) {
        const ssize_t n = ::send(m_socket, m_request.data() + done, m_request.size() - done,
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
            break;
        // The helper reads no requests while its answers wait for us, and we do not read while
        // we write: a helper that takes nothing in time will not.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        struct pollfd waitFor
        {
            m_socket, POLLOUT, 0
        };
        if (left.count() <= 0 || ::poll(&waitFor, 1, static_cast<int>(left.count())) == 0)
            break;
    }
    const bool all = done == m_request.size();
    m_request.clear();
    return all;
}

HelperFrameLink::Waited HelperFrameLink::next(Clock::time_point deadline, Message *message,
                                              LinkError *lost)
{
    for (;;) {
        const size_t waiting = m_inputEnd - m_inputStart;
        if (waiting >= HeaderLength) {
            const uint8_t *header = m_input.data() + m_inputStart;
            const std::optional<MessageLimits> limits = limitsOf(header[0], false);
            const uint32_t length = readCount(header + 1);
            if (!limits || length < limits->least || length > limits->most) {
                *lost = helperLost("broke the framing");
                return Waited::Lost;
            }
            if (waiting - HeaderLength >= length) {
                *message = {limits->type, header + HeaderLength, length};
                m_inputStart += HeaderLength + length;
                m_partSince.reset();
                return Waited::Message;
            }
        }
        // A message begun is finished at once: half of one is not left to wait for ever.
        Clock::time_point until = deadline;
        if (waiting > 0) {
            if (!m_partSince)
                m_partSince = Clock::now();
            until = std::max(deadline, *m_partSince + AnswerAllowance);
        }
        switch (readMore(until)) {
        case Read::Some: break;
        case Read::Closed: *lost = helperLost("stopped answering"); return Waited::Lost;
        case Read::Nothing:
            if (waiting > 0 && Clock::now() >= *m_partSince + AnswerAllowance) {
                *lost = helperLost("stopped answering");
                return Waited::Lost;
            }
            return Waited::Quiet;
        }
    }
}

HelperFrameLink::Read HelperFrameLink::readMore(Clock::time_point deadline)
{
    if (m_inputStart == m_inputEnd) {
        m_inputStart = m_inputEnd = 0;
    } else if (m_input.size() - m_inputEnd < MostMessage) {
        std::memmove(m_input.data(), m_input.data() + m_inputStart, m_inputEnd - m_inputStart);
        m_inputEnd -= m_inputStart;
        m_inputStart = 0;
    }
    // What is there already is taken without a wait, the way a pushed frame mostly is; right
    // after a request its answer cannot be there yet, and looking would cost a system call.
    bool wait = m_answerDue;
    for (;;) {
        if (wait) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            struct pollfd waitFor
            {
                m_socket, POLLIN, 0
            };
            const int ready =
                ::poll(&waitFor, 1, static_cast<int>(std::max<int64_t>(0, left.count())));
            if (ready < 0 && errno != EINTR)
                return Read::Closed;
            if (ready == 0)
                return Read::Nothing;
        }
        wait = true;
        const ssize_t n = ::recv(m_socket, m_input.data() + m_inputEnd, m_input.size() - m_inputEnd,
                                 MSG_DONTWAIT);
        if (n > 0) {
            m_inputEnd += static_cast<size_t>(n);
            return Read::Some;
        }
        if (n == 0)
            return Read::Closed;
        if (errno == EINTR)
            wait = false;
        else if (errno != EAGAIN && errno != EWOULDBLOCK)
            return Read::Closed;
        else if (Clock::now() >= deadline)
            return Read::Nothing;
    }
}

LinkError HelperFrameLink::errorOf(const Message &message)
{
    return {kindOf(message.payload[OpeningLength]),
            std::string(message.payload + LeastFailure, message.payload + message.length)};
}

LinkError HelperFrameLink::helperLost(const std::string &what)
{
    // Its last words, if it left any, say more than our guess.
    std::string said;
    if (m_pid > 0)
        ::kill(m_pid, SIGKILL);
    if (m_errors >= 0) {
        char buffer[MostErrorText];
        const ssize_t n = ::read(m_errors, buffer, sizeof buffer);
        if (n > 0)
            said.assign(buffer, static_cast<size_t>(n));
        while (!said.empty() && (said.back() == '\n' || said.back() == '\r'))
            said.pop_back();
    }
    release();
    LinkError error;
    error.text = said.empty() ? "the capture helper " + what : said;
    switch (readInterfaceState(m_name.c_str())) {
    case InterfaceState::Gone: error.kind = LinkError::Kind::InterfaceGone; break;
    case InterfaceState::Down: error.kind = LinkError::Kind::InterfaceDown; break;
    case InterfaceState::Up: break;
    }
    return error;
}

void HelperFrameLink::release()
{
    tellDropped();
    m_droppedWarned = false;
    if (m_socket >= 0)
        ::close(m_socket);
    if (m_errors >= 0)
        ::close(m_errors);
    m_socket = m_errors = -1;
    if (m_pid > 0) {
        // Parked between requests, it would end on the closed socket by itself; not waited for.
        ::kill(m_pid, SIGKILL);
        while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {}
    }
    m_pid = -1;
    m_frame.clear();
    m_request.clear();
    m_inputStart = m_inputEnd = 0;
    m_partSince.reset();
    m_kept.clear();
    m_warnings.clear();
    m_opened = m_parked = m_unconfirmed = m_answerDue = false;
    m_opening = 0;
    m_captureFailed.reset();
    m_notSent.reset();
}
