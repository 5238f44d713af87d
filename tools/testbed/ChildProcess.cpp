#include "ChildProcess.h"

#include <QDeadlineTimer>
#include <QFile>

#include <cerrno>
#include <csignal>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
constexpr int ReadChunk = 4096;
constexpr int ReapPollMs = 5;
constexpr int ExecFailed = 127;
}  // namespace

ChildProcess::~ChildProcess()
{
    constexpr int StopTimeoutMs = 5000;
    if (running()) {
        terminate();
        if (!waitForFinished(StopTimeoutMs)) {
            ::kill(m_pid, SIGKILL);
            reap(true);
        }
    }
    if (m_output >= 0)
        ::close(m_output);
}

bool ChildProcess::start(const QString &program, const QStringList &arguments, Errors errors,
                         bool dieWithParent)
{
    // Everything the child needs is made before the fork: between fork and exec a child of a
    // threaded program may only make async-signal-safe calls.
    std::vector<QByteArray> storage;
    storage.push_back(QFile::encodeName(program));
    for (const QString &a : arguments)
        storage.push_back(a.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0)
        return false;
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(pipeEnds[0]);
        ::close(pipeEnds[1]);
        return false;
    }
    if (pid == 0) {
        if (dieWithParent) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (::getppid() != parent)
                ::_exit(1);
        }
        ::dup2(pipeEnds[1], STDOUT_FILENO);
        if (errors == Errors::Merged)
            ::dup2(pipeEnds[1], STDERR_FILENO);
        ::execvp(argv[0], argv.data());
        ::_exit(ExecFailed);
    }
    ::close(pipeEnds[1]);
    m_pid = pid;
    m_output = pipeEnds[0];
    m_exitCode = -1;
    return true;
}

bool ChildProcess::reap(bool wait)
{
    if (m_pid < 0)
        return true;
    int status = 0;
    const pid_t done = ::waitpid(m_pid, &status, wait ? 0 : WNOHANG);
    if (done == 0)
        return false;
    m_exitCode = done == m_pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    m_pid = -1;
    return true;
}

bool ChildProcess::running()
{
    return !reap(false);
}

QByteArray ChildProcess::read(int timeoutMs)
{
    QByteArray got;
    if (m_output < 0)
        return got;
    pollfd readable{m_output, POLLIN, 0};
    if (::poll(&readable, 1, timeoutMs) <= 0)
        return got;
    char chunk[ReadChunk];
    const ssize_t n = ::read(m_output, chunk, sizeof chunk);
    if (n > 0)
        got.append(chunk, static_cast<qsizetype>(n));
    return got;
}

void ChildProcess::terminate()
{
    if (m_pid > 0)
        ::kill(m_pid, SIGTERM);
}

bool ChildProcess::waitForFinished(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (running()) {
        if (deadline.hasExpired())
            return false;
        ::usleep(ReapPollMs * 1000);
    }
    return true;
}

int ChildProcess::run(const QString &program, const QStringList &arguments, QByteArray *output,
                      int timeoutMs)
{
    ChildProcess child;
    if (!child.start(program, arguments, Errors::Merged))
        return -1;
    const QDeadlineTimer deadline(timeoutMs);
    QByteArray all;
    for (;;) {
        const QByteArray got =
            child.read(static_cast<int>(qMax<qint64>(0, deadline.remainingTime())));
        all += got;
        if (got.isEmpty() && (!child.running() || deadline.hasExpired()))
            break;
    }
    if (output)
        *output = all;
    if (!child.waitForFinished(static_cast<int>(qMax<qint64>(0, deadline.remainingTime()))))
        return -1;
    return child.exitCode();
}
