#include "MV1Device.h"

#include "FrameLayout.h"

MV1Device::MV1Device(const char *interfaceName, std::unique_ptr<FrameLink> link)
    : m_interfaceName(interfaceName != nullptr ? interfaceName : "")
    , m_session(interfaceName != nullptr
                    ? std::make_unique<PacketSession>(interfaceName, std::move(link))
                    : nullptr)
{
}

// The session's own destructor closes a capture that is still open.
MV1Device::~MV1Device() = default;

bool MV1Device::hardwareAddress(uint8_t *out) const
{
    if (!m_session)
        return false;
    return m_session->hardwareAddress(out);
}

bool MV1Device::releaseIdleCapture(PacketSession::Clock::time_point now)
{
    return m_session && m_session->releaseIfIdle(now);
}

int MV1Device::msUntilCaptureRelease() const
{
    return m_session ? m_session->msUntilIdleRelease() : -1;
}

void MV1Device::releaseCapture()
{
    if (m_session)
        m_session->release();
}

bool MV1Device::fail(const DeviceFailure &failure)
{
    m_lastFailure = failure;
    return false;
}

bool MV1Device::succeed()
{
    m_lastFailure = {};
    return true;
}

bool MV1Device::lacks(DeviceFailure::Cause cause)
{
    DeviceFailure failure;
    failure.cause = cause;
    return fail(failure);
}

DeviceFailure MV1Device::noInterface()
{
    DeviceFailure failure;
    failure.step = DeviceFailure::Step::Interface;
    failure.cause = DeviceFailure::Cause::CannotOpen;
    failure.detail = "the device was made without an interface name";
    return failure;
}

DeviceFailure MV1Device::linkFailure(const DeviceFailure &step, DeviceFailure::Cause otherwise,
                                     const LinkError &error) const
{
    const int mtu = m_session && error.kind == LinkError::Kind::FrameTooLong ? m_session->mtu() : 0;
    return step.ofLink(error, m_interfaceName, mtu, otherwise);
}

bool MV1Device::carriesFrames(int length, const DeviceFailure &step)
{
    const int mtu = m_session ? m_session->mtu() : 0;
    if (mtu <= 0 || length <= mtu + frame::EthernetHeaderLength)
        return true;
    return fail(
        linkFailure(step, DeviceFailure::Cause::CannotSend, {LinkError::Kind::FrameTooLong, {}}));
}
