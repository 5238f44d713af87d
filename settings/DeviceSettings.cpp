#include "DeviceSettings.h"

#include <cstring>

void DeviceSettings::clear()
{
    // Member-wise so that padding never matters to comparisons or copies.
    m_filterEnabled = 0;
    m_keepMatching = 0;
    m_timestampsEnabled = 0;
    m_dropCrcErrorFrames = 0;
    m_stripFcs = 0;
    m_controlByte = 0;
    m_dstMacMask = 0;
    m_srcMacMask = 0;
    m_etherTypeMask = 0;
    m_protocolMask = 0;
    m_srcIpMask = 0;
    m_dstIpMask = 0;
    std::memset(m_dstMac, 0, sizeof m_dstMac);
    std::memset(m_srcMac, 0, sizeof m_srcMac);
    std::memset(m_etherType, 0, sizeof m_etherType);
    m_protocol = 0;
    std::memset(m_srcIp, 0, sizeof m_srcIp);
    std::memset(m_dstIp, 0, sizeof m_dstIp);
    m_firmwareVersion = 0;
    m_firmwareTypeCode = 0;
}

void DeviceSettings::setFilterMode(uint8_t enabled, uint8_t keep)
{
    m_filterEnabled = enabled;
    m_keepMatching = keep;
}

void DeviceSettings::setDstMac(const uint8_t *mac)
{
    std::memcpy(m_dstMac, mac, MacLength);
}
void DeviceSettings::dstMac(uint8_t *out) const
{
    std::memcpy(out, m_dstMac, MacLength);
}
void DeviceSettings::setSrcMac(const uint8_t *mac)
{
    std::memcpy(m_srcMac, mac, MacLength);
}
void DeviceSettings::srcMac(uint8_t *out) const
{
    std::memcpy(out, m_srcMac, MacLength);
}
void DeviceSettings::setEtherType(const uint8_t *type)
{
    std::memcpy(m_etherType, type, EtherTypeLength);
}
void DeviceSettings::etherType(uint8_t *out) const
{
    std::memcpy(out, m_etherType, EtherTypeLength);
}
void DeviceSettings::setSrcIp(const uint8_t *ip)
{
    std::memcpy(m_srcIp, ip, IpLength);
}
void DeviceSettings::srcIp(uint8_t *out) const
{
    std::memcpy(out, m_srcIp, IpLength);
}
void DeviceSettings::setDstIp(const uint8_t *ip)
{
    std::memcpy(m_dstIp, ip, IpLength);
}
void DeviceSettings::dstIp(uint8_t *out) const
{
    std::memcpy(out, m_dstIp, IpLength);
}
