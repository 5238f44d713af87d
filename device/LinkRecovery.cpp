#include "LinkRecovery.h"

#include <thread>

#include "PacketSession.h"

namespace {

bool passesWithTheInterface(LinkError::Kind kind)
{
    return kind == LinkError::Kind::InterfaceDown || kind == LinkError::Kind::InterfaceGone;
}

}  // namespace

LinkRecovery::LinkRecovery(PacketSession &session) : m_session(session) {}

bool LinkRecovery::withinGrace(const LinkError &error)
{
    if (!passesWithTheInterface(error.kind))
        return false;
    const Clock::time_point now = Clock::now();
    if (!m_deadline)
        m_deadline = now + std::chrono::milliseconds(GraceMs);
    return now < *m_deadline;
}

bool LinkRecovery::waitOut(const LinkError &error)
{
    if (!withinGrace(error))
        return false;
    const auto left = *m_deadline - Clock::now();
    std::this_thread::sleep_for(
        std::min<Clock::duration>(left, std::chrono::milliseconds(RetryEveryMs)));
    return true;
}

bool LinkRecovery::open()
{
    // Said once, when it finally fails, not at every try.
    const bool quiet = m_session.isQuiet();
    m_session.setQuiet(true);
    bool opened = m_session.open();
    while (!opened) {
        m_error = {m_session.lastErrorKind(), m_session.lastError()};
        if (!waitOut(m_error))
            break;
        opened = m_session.open();
    }
    m_session.setQuiet(quiet);
    if (!opened && !quiet)
        m_session.reportOpenFailure();
    return opened;
}

LinkRecovery::Sent LinkRecovery::send(const uint8_t *bytes, int length, Confirm confirm)
{
    for (;;) {
        if (m_session.send(bytes, length) == length
            && (confirm == Confirm::No || m_session.confirmSent()))
            return Sent::Yes;
        m_error = {m_session.lastErrorKind(), m_session.lastError()};
        if (m_error.kind == LinkError::Kind::Other)
            return Sent::Lost;
        if (!waitOut(m_error))
            return Sent::Never;
        // A capture of an interface that went away stays bound to it; only a new one finds the
        // interface that came back under the same name.
        m_session.release();
        if (!open())
            return Sent::Never;
    }
}

bool LinkRecovery::mayRecover(const LinkError &error)
{
    m_error = error;
    return withinGrace(error);
}
