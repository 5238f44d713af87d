#pragma once

#include <cstdint>

// The tap's whole capture configuration plus the two status words it reports.
// A plain value: copied whole, every address field kept in transmission order so a
// writer can move it byte by byte to consecutive device registers.
//
// Care masks: one bit per byte of an address field, the first byte owning the highest
// used bit. A clear bit makes that byte a wildcard.
//
// Capturing CRC-error frames and capturing the FCS are stored inverted (drop / strip),
// so a zero-filled record captures both. Only the accessors below see the raw bytes.
class DeviceSettings
{
public:
    static constexpr int MacLength = 6;
    static constexpr int EtherTypeLength = 2;
    static constexpr int IpLength = 4;

    DeviceSettings() { clear(); }

    void clear();

    void setFilterMode(uint8_t enabled, uint8_t keep);
    uint8_t filterEnabled() const { return m_filterEnabled; }
    uint8_t keepMatching() const { return m_keepMatching; }

    void setTimestampsEnabled(uint8_t on) { m_timestampsEnabled = on; }
    uint8_t timestampsEnabled() const { return m_timestampsEnabled; }

    void setCaptureCrcErrorFrames(uint8_t on) { m_dropCrcErrorFrames = on ^ 1; }
    uint8_t captureCrcErrorFrames() const { return m_dropCrcErrorFrames ^ 1; }

    void setCaptureFcs(uint8_t on) { m_stripFcs = on ^ 1; }
    uint8_t captureFcs() const { return m_stripFcs ^ 1; }

    void setControlByte(uint8_t value) { m_controlByte = value; }
    void controlByte(uint8_t *out) const { *out = m_controlByte; }

    void setDstMacMask(uint8_t mask) { m_dstMacMask = mask; }
    void dstMacMask(uint8_t *out) const { *out = m_dstMacMask; }
    void setSrcMacMask(uint8_t mask) { m_srcMacMask = mask; }
    void srcMacMask(uint8_t *out) const { *out = m_srcMacMask; }
    void setEtherTypeMask(uint8_t mask) { m_etherTypeMask = mask; }
    void etherTypeMask(uint8_t *out) const { *out = m_etherTypeMask; }
    void setProtocolMask(uint8_t mask) { m_protocolMask = mask; }
    void protocolMask(uint8_t *out) const { *out = m_protocolMask; }
    void setSrcIpMask(uint8_t mask) { m_srcIpMask = mask; }
    void srcIpMask(uint8_t *out) const { *out = m_srcIpMask; }
    void setDstIpMask(uint8_t mask) { m_dstIpMask = mask; }
    void dstIpMask(uint8_t *out) const { *out = m_dstIpMask; }

    void setDstMac(const uint8_t *mac);
    void dstMac(uint8_t *out) const;
    void setSrcMac(const uint8_t *mac);
    void srcMac(uint8_t *out) const;
    // The EtherType is moved as one 16-bit unit exactly as it lies in memory (network
    // order, high-order byte first); it is never byte-swapped.
    void setEtherType(const uint8_t *type);
    void etherType(uint8_t *out) const;
    void setProtocol(uint8_t protocol) { m_protocol = protocol; }
    void protocol(uint8_t *out) const { *out = m_protocol; }
    void setSrcIp(const uint8_t *ip);
    void srcIp(uint8_t *out) const;
    void setDstIp(const uint8_t *ip);
    void dstIp(uint8_t *out) const;

    // Status reported by the tap; never written to it.
    void setFirmwareVersion(uint16_t version) { m_firmwareVersion = version; }
    uint16_t firmwareVersion() const { return m_firmwareVersion; }
    void setFirmwareTypeCode(uint16_t code) { m_firmwareTypeCode = code; }
    uint16_t firmwareTypeCode() const { return m_firmwareTypeCode; }

    bool operator==(const DeviceSettings &other) const = default;

private:
    uint8_t m_filterEnabled;
    uint8_t m_keepMatching;
    uint8_t m_timestampsEnabled;
    uint8_t m_dropCrcErrorFrames;
    uint8_t m_stripFcs;
    uint8_t m_controlByte;
    uint8_t m_dstMacMask;
    uint8_t m_srcMacMask;
    uint8_t m_etherTypeMask;
    uint8_t m_protocolMask;
    uint8_t m_srcIpMask;
    uint8_t m_dstIpMask;
    uint8_t m_dstMac[MacLength];
    uint8_t m_srcMac[MacLength];
    uint8_t m_etherType[EtherTypeLength];
    uint8_t m_protocol;
    uint8_t m_srcIp[IpLength];
    uint8_t m_dstIp[IpLength];
    uint16_t m_firmwareVersion;
    uint16_t m_firmwareTypeCode;
};
