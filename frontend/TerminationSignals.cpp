#include "TerminationSignals.h"

#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <cstring>
#include <csignal>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "Diagnostics.h"

namespace {

constexpr std::array<int, 3> Handled = {SIGTERM, SIGINT, SIGHUP};
int writeEnd = -1;  // what the handler may touch: an int it only reads
int readEnd = -1;
struct sigaction previous[Handled.size()];

void onSignal(int number)
{
    const int savedErrno = errno;  // write() may change it under the interrupted code
    const char byte = static_cast<char>(number);
    [[maybe_unused]] const ssize_t n = ::write(writeEnd, &byte, 1);
    errno = savedErrno;
}

}  // namespace

TerminationSignals::TerminationSignals(QObject *parent) : QObject(parent)
{
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pair) != 0) {
        qCWarning(lcFrontend) << "signals cannot be caught:" << std::strerror(errno);
        return;
    }
    writeEnd = pair[0];
    readEnd = pair[1];
    m_notifier = new QSocketNotifier(readEnd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::readOne);

    struct sigaction action
    {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < Handled.size(); ++i)
        ::sigaction(Handled[i], &action, &previous[i]);
}

TerminationSignals::~TerminationSignals()
{
    if (writeEnd < 0)
        return;
    for (size_t i = 0; i < Handled.size(); ++i)
        ::sigaction(Handled[i], &previous[i], nullptr);
    delete m_notifier;
    ::close(readEnd);
    ::close(writeEnd);
    readEnd = writeEnd = -1;
}

int TerminationSignals::takePending()
{
    char byte = 0;
    return readEnd >= 0 && ::read(readEnd, &byte, 1) == 1 ? byte : 0;
}

void TerminationSignals::readOne()
{
    if (const int number = takePending())
        emit received(number);
}
