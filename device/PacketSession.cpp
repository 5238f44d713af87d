#include "PacketSession.h"

#include "DeviceLog.h"
#include "HardwareAddress.h"

PacketSession::PacketSession(const char *interfaceName, std::unique_ptr<FrameLink> link)
    : m_name(interfaceName != nullptr ? interfaceName : "")
    , m_link(link ? std::move(link) : makeCaptureLink(m_name))
{
}

PacketSession::~PacketSession() = default;

bool PacketSession::open()
{
    close();
    m_lastError = {};
    LinkOpening opening = m_link->open();
    std::vector<std::string> warnings;
    for (const std::string &warning : opening.warnings)
        warnings.push_back(m_name + ": " + warning);
    // A parked capture tells its warnings again at every open; said once, the caller passes
    // them on.
    if (warnings != m_warnings) {
        for (const std::string &warning : warnings)
            qCDebug(lcDevice) << "capture opened with:" << warning.c_str();
    }
    m_warnings = std::move(warnings);
    if (!opening.opened) {
        m_holding = false;  // a link that cannot open keeps nothing attached
        m_lastError = std::move(opening.error);
        if (!m_quiet)
            reportOpenFailure();
        return false;
    }
    m_open = true;
    m_holding = true;
    return true;
}

void PacketSession::reportOpenFailure() const
{
    qCWarning(lcDevice, "Cannot open interface : %s", m_lastError.text.c_str());
}

int PacketSession::send(const uint8_t *frameBytes, int length)
{
    if (!m_open || frameBytes == nullptr || length <= 0) {
        m_lastError = {LinkError::Kind::Other,
                       m_open ? "nothing to send" : "the capture is not open"};
        return -1;
    }
    if (std::optional<LinkError> refused = m_link->send(frameBytes, length)) {
        m_lastError = std::move(*refused);
        return -1;
    }
    return length;
}

bool PacketSession::confirmSent()
{
    if (!m_open) {
        m_lastError = {LinkError::Kind::Other, "the capture is not open"};
        return false;
    }
    if (std::optional<LinkError> refused = m_link->confirmSent()) {
        m_lastError = std::move(*refused);
        return false;
    }
    return true;
}

LinkReception PacketSession::receive(int timeoutMs)
{
    LinkReception got;
    if (!m_open) {
        got.result = LinkReception::Result::Failed;
        got.error = {LinkError::Kind::Other, "the capture is not open"};
    } else {
        got = m_link->receive(timeoutMs);
    }
    if (got.result == LinkReception::Result::Failed)
        m_lastError = got.error;
    return got;
}

void PacketSession::close()
{
    if (m_open) {
        m_link->close();
        m_parkedAt = Clock::now();
    }
    m_open = false;
}

void PacketSession::release()
{
    m_open = false;
    m_holding = false;
    m_link->release();
}

int PacketSession::msUntilIdleRelease(Clock::time_point now) const
{
    if (!m_holding || m_open)
        return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(
        m_parkedAt + std::chrono::milliseconds(IdleReleaseMs) - now);
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

bool PacketSession::releaseIfIdle(Clock::time_point now)
{
    if (msUntilIdleRelease(now) != 0)
        return false;
    release();
    return true;
}

int PacketSession::mtu() const
{
    const int known = m_link->mtu();
    return known > 0 ? known : readInterfaceMtu(m_name.c_str());
}

bool PacketSession::hardwareAddress(uint8_t *out) const
{
    if (m_name.empty())
        return false;
    return readHardwareAddress(m_name.c_str(), out);
}
