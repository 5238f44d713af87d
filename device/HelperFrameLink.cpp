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

#include "HardwareAddress.h"

using namespace linkhelper;

namespace {

constexpr const char *HelperName = "kalvessa100-link";
// Opening a capture sets up the kernel's ring; everything else answers at once, or after the
// wait asked for.
constexpr auto OpenAllowance = std::chrono::seconds(10);
constexpr auto AnswerAllowance = std::chrono::seconds(2);
constexpr size_t MostErrorText = 512;

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
    return std::nullopt;
}

LinkOpening HelperFrameLink::open()
{
    LinkOpening opening;
    if (m_pid < 0) {
        if (std::optional<LinkError> notStarted = start()) {
            opening.error = std::move(*notStarted);
            return opening;
        }
    }
    Reply reply;
    if (std::optional<LinkError> lost =
            exchange(MessageType::Open, nullptr, 0, Clock::now() + OpenAllowance, &reply)) {
        opening.error = std::move(*lost);
        return opening;
    }
    if (reply.type != MessageType::Opened) {
        // As a capture that failed to open: the next open starts afresh.
        opening.error = failureOf(reply);
        release();
        return opening;
    }
    const std::string lines(reply.payload.begin(), reply.payload.end());
    for (size_t from = 0; from < lines.size();) {
        const size_t end = std::min(lines.find('\n', from), lines.size());
        if (end > from)
            opening.warnings.push_back(lines.substr(from, end - from));
        from = end + 1;
    }
    opening.opened = true;
    return opening;
}

std::optional<LinkError> HelperFrameLink::send(const uint8_t *bytes, int length)
{
    if (m_pid < 0)
        return LinkError{LinkError::Kind::Other, "the capture is not open"};
    // The helper ends itself on any other frame; refused here so that the capture stays.
    if (bytes == nullptr || length < static_cast<int>(LeastFrameLength)
        || static_cast<uint32_t>(length) > MostFrameLength
        || std::any_of(bytes, bytes + AddressBytes, [](uint8_t b) { return b != 0; }))
        return LinkError{LinkError::Kind::Other,
                         "only frames between all-zero addresses go through the capture helper"};
    Reply reply;
    if (std::optional<LinkError> lost =
            exchange(MessageType::Send, bytes, static_cast<uint32_t>(length),
                     Clock::now() + AnswerAllowance, &reply))
        return lost;
    if (reply.type != MessageType::Sent)
        return failureOf(reply);
    return std::nullopt;
}

LinkReception HelperFrameLink::receive(int timeoutMs)
{
    if (m_pid < 0)
        return failed({LinkError::Kind::Other, "the capture is not open"});
    const uint32_t waitMs =
        static_cast<uint32_t>(std::clamp<int>(timeoutMs, 0, static_cast<int>(MostWaitMs)));
    std::vector<uint8_t> payload;
    appendCount(payload, waitMs);
    Reply reply;
    if (std::optional<LinkError> lost =
            exchange(MessageType::Receive, payload.data(), CountLength,
                     Clock::now() + std::chrono::milliseconds(waitMs) + AnswerAllowance, &reply))
        return failed(std::move(*lost));
    LinkReception got;
    switch (reply.type) {
    case MessageType::Quiet: return got;
    case MessageType::Frame: {
        m_frame.assign(reply.payload.begin() + CountLength, reply.payload.end());
        got.result = LinkReception::Result::Frame;
        got.bytes = m_frame.data();
        got.captured = static_cast<int>(m_frame.size());
        // Never shorter than what came: the wire length only ever adds what was not captured.
        got.length = static_cast<int>(std::max<uint32_t>(
            std::min(readCount(reply.payload.data()), MostFrameLength), m_frame.size()));
        return got;
    }
    default: return failed(failureOf(reply));
    }
}

std::optional<LinkError> HelperFrameLink::exchange(MessageType type, const uint8_t *payload,
                                                   uint32_t length, Clock::time_point deadline,
                                                   Reply *reply)
{
    const std::vector<uint8_t> request = message(type, payload, length);
    for (size_t done = 0; done < request.size();) {
        const ssize_t n =
            ::send(m_socket, request.data() + done, request.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        // A helper that refused and ended has left its reason to read: read on.
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }

    uint8_t header[HeaderLength];
    if (!readAll(header, sizeof header, deadline))
        return helperLost("stopped answering");
    const std::optional<MessageLimits> limits = limitsOf(header[0], false);
    const uint32_t replyLength = readCount(header + 1);
    if (!limits || replyLength < limits->least || replyLength > limits->most)
        return helperLost("broke the framing");
    reply->type = limits->type;
    reply->payload.resize(replyLength);
    if (replyLength > 0 && !readAll(reply->payload.data(), replyLength, deadline))
        return helperLost("stopped answering");
    // Only the answers this request may have; a Failure answers any.
    const bool fits = reply->type == MessageType::Failure
        || (type == MessageType::Open && reply->type == MessageType::Opened)
        || (type == MessageType::Send && reply->type == MessageType::Sent)
        || (type == MessageType::Receive
            && (reply->type == MessageType::Frame || reply->type == MessageType::Quiet));
    if (!fits)
        return helperLost("answered out of turn");
    return std::nullopt;
}

bool HelperFrameLink::readAll(uint8_t *out, size_t length, Clock::time_point deadline)
{
    for (size_t done = 0; done < length;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        struct pollfd waitFor
        {
            m_socket, POLLIN, 0
        };
        const int ready = ::poll(&waitFor, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        const ssize_t n = ::recv(m_socket, out + done, length - done, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

LinkError HelperFrameLink::failureOf(const Reply &reply)
{
    if (reply.type != MessageType::Failure || reply.payload.empty())
        return {LinkError::Kind::Other, "the capture helper gave no reason"};
    return {kindOf(reply.payload[0]), std::string(reply.payload.begin() + 1, reply.payload.end())};
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
}
