#include "MV1Device.h"

MV1Device::MV1Device(const char *interfaceName)
    : QThread(nullptr),
      m_interfaceName(interfaceName != nullptr ? interfaceName : ""),
      m_session(interfaceName != nullptr ? std::make_unique<PacketSession>(interfaceName) : nullptr)
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
