#include "MV1Device_v4.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "FrameLayout.h"
#include "SettingsRegisterMap.h"

namespace {

using RegisterRequest = std::array<uint8_t, frame::RequestLength>;
using PageRequest = std::array<uint8_t, frame::PageFrameLength>;

RegisterRequest registerRequest(uint8_t opcodeByte, int address, uint8_t value)
{
    RegisterRequest request{};
    request[frame::OpcodeOffset] = opcodeByte;
    frame::putAddress(request.data(), address);
    request[frame::ValueOffset] = value;
    return request;
}

// An exchange only ever accepts frames of at least MinReplyLength bytes, so the code byte
// is always there; the check keeps that promise local.
bool hasCode(const std::optional<MV1Device_v4::Frame> &reply, uint8_t code)
{
    return reply && reply->size() > static_cast<size_t>(frame::OpcodeOffset)
           && (*reply)[frame::OpcodeOffset] == code;
}

// Closes the session on every way out of an exchange.
class SessionGuard
{
public:
    explicit SessionGuard(PacketSession &session) : m_session(session) {}
    ~SessionGuard() { m_session.close(); }
    SessionGuard(const SessionGuard &) = delete;
    SessionGuard &operator=(const SessionGuard &) = delete;

private:
    PacketSession &m_session;
};

bool headerIsZero(const u_char *data)
{
    return std::all_of(data, data + frame::HeaderLength, [](u_char b) { return b == 0; });
}

} // namespace

MV1Device_v4::MV1Device_v4(const char *interfaceName) : MV1Device(interfaceName)
{
    m_generation = 4;
}

std::optional<MV1Device_v4::Frame> MV1Device_v4::exchange(const uint8_t *request, int length,
                                                          int receiveBudget)
{
    PacketSession *s = session();
    if (s == nullptr || request == nullptr || length <= 0)
        return std::nullopt;
    const SessionGuard guard(*s);
    if (!s->open())
        return std::nullopt;

    for (int attempt = 0; attempt < MaxSendAttempts; ++attempt) {
        replyFound = false;
        int misses = 0;
        // A refused send is not fatal: the wait below simply sees no reply and sends again.
        s->send(request, length);

        while (misses <= receiveBudget) {
            struct pcap_pkthdr *header = nullptr;
            const u_char *data = nullptr;
            const int result = s->receive(&header, &data);
            if (result < 0)
                return std::nullopt;
            if (result == 0 || header == nullptr || data == nullptr) {
                ++misses;  // one read timeout of a quiet line
                continue;
            }

            // Everything below stays within what was actually captured.
            const int captured = static_cast<int>(header->caplen);
            if (captured < frame::MinReplyLength)
                continue;

            replyFound = true;
            if (!headerIsZero(data)) {
                replyFound = false;  // someone else's traffic
                ++misses;
            } else if (captured == length && std::memcmp(data, request, length) == 0) {
                replyFound = false;  // our own request, seen on the way out
                ++misses;
            }

            if (replyFound)
                return Frame(data, data + captured);
        }
    }
    return std::nullopt;
}

bool MV1Device_v4::writeRegister(int address, uint8_t value, bool persistent)
{
    const RegisterRequest request = registerRequest(
        persistent ? opcode::WriteRegisterPersistent : opcode::WriteRegister, address, value);
    const auto reply = exchange(request.data(), frame::RequestLength, budget::Register);
    return hasCode(reply, persistent ? reply::WriteRegisterPersistent : reply::WriteRegister);
}

bool MV1Device_v4::eraseSettings()
{
    return eraseSector(reg::SettingsSector);
}

bool MV1Device_v4::eraseSector(int address)
{
    const RegisterRequest request = registerRequest(opcode::EraseSector, address, 0);
    const auto reply = exchange(request.data(), frame::RequestLength, budget::EraseSector);
    return hasCode(reply, reply::EraseSector);
}

bool MV1Device_v4::readRegister(int address, uint8_t *value, bool persistent)
{
    const RegisterRequest request = registerRequest(
        persistent ? opcode::ReadRegisterPersistent : opcode::ReadRegister, address, 0);
    const auto reply = exchange(request.data(), frame::RequestLength, budget::Register);
    if (!hasCode(reply, persistent ? reply::ReadRegisterPersistent : reply::ReadRegister))
        return false;
    // A reply can be accepted with as few as 16 bytes; without byte 19 there is no value.
    if (reply->size() <= static_cast<size_t>(frame::ValueOffset) || value == nullptr)
        return false;
    *value = (*reply)[frame::ValueOffset];
    return true;
}

bool MV1Device_v4::writeSettings(const DeviceSettings &settings, bool persistent)
{
    uint8_t masks[reg::CareMaskLength];
    packCareMasks(settings, masks);
    uint8_t match[reg::MatchBytesLength];
    matchBytes(settings, match);
    uint8_t control = 0;
    settings.controlByte(&control);

    // The whole sequence is always sent, so that one lost write does not leave the rest of
    // the tap's settings stale; the result tells whether every write was acknowledged.
    bool allAcknowledged = writeRegister(reg::Flags, packFlags(settings), persistent);
    allAcknowledged &= writeRegister(reg::Control, control, persistent);
    for (int i = 0; i < reg::CareMaskLength; ++i)
        allAcknowledged &= writeRegister(reg::CareMask + i, masks[i], persistent);
    for (int i = 0; i < reg::MatchBytesLength; ++i)
        allAcknowledged &= writeRegister(reg::MatchBytes + i, match[i], persistent);

    if (persistent)
        commitSettings();  // answers carry no verdict the host can check
    return allAcknowledged;
}

bool MV1Device_v4::readSettings(DeviceSettings &settings, bool persistent)
{
    settings.clear();

    // A register that could not be read stays 0, as the cleared record has it.
    uint8_t flags = 0;
    uint8_t control = 0;
    readRegister(reg::Flags, &flags, persistent);
    readRegister(reg::Control, &control, persistent);
    unpackFlags(flags, settings);
    settings.setControlByte(control & ControlByteReadMask);

    uint8_t masks[reg::CareMaskLength] = {};
    for (int i = 0; i < reg::CareMaskLength; ++i)
        readRegister(reg::CareMask + i, &masks[i], persistent);
    unpackCareMasks(masks, settings);

    uint8_t match[reg::MatchBytesLength] = {};
    for (int i = 0; i < reg::MatchBytesLength; ++i)
        readRegister(reg::MatchBytes + i, &match[i], persistent);
    setMatchBytes(match, settings);

    constexpr int BitsPerByte = 8;
    uint8_t status[2] = {};
    readRegister(reg::FirmwareVersion, &status[0], persistent);
    readRegister(reg::FirmwareVersion + 1, &status[1], persistent);
    settings.setFirmwareVersion(static_cast<uint16_t>(status[0] | (status[1] << BitsPerByte)));
    status[0] = status[1] = 0;
    readRegister(reg::FirmwareTypeCode, &status[0], persistent);
    readRegister(reg::FirmwareTypeCode + 1, &status[1], persistent);
    settings.setFirmwareTypeCode(static_cast<uint16_t>(status[0] | (status[1] << BitsPerByte)));

    // Callers take the record as it is; the result has never carried a verdict.
    return false;
}

bool MV1Device_v4::commitSettings()
{
    const RegisterRequest request = registerRequest(opcode::CommitSettings, 0, 0);
    exchange(request.data(), frame::RequestLength, budget::CommitSettings);
    return false;
}

bool MV1Device_v4::writeFirmwarePage(int, const uint8_t *)
{
    return true;  // generation 4 takes firmware through programPage
}

bool MV1Device_v4::beginProgramming()
{
    const RegisterRequest request = registerRequest(opcode::BeginProgramming, 0, 0);
    const auto reply = exchange(request.data(), frame::RequestLength, budget::BeginProgramming);
    return hasCode(reply, reply::BeginProgramming);
}

bool MV1Device_v4::programPage(int pageIndex, const uint8_t *page)
{
    if (page == nullptr)
        return false;
    PageRequest request{};
    request[frame::OpcodeOffset] = opcode::ProgramPage;
    frame::putAddress(request.data(), pageIndex);
    std::memcpy(request.data() + frame::PageDataOffset, page, frame::PageSize);
    const auto reply = exchange(request.data(), frame::PageFrameLength, budget::ProgramPage);
    return hasCode(reply, reply::ProgramPage);
}

bool MV1Device_v4::endProgramming()
{
    const RegisterRequest request = registerRequest(opcode::EndProgramming, 0, 0);
    const auto reply = exchange(request.data(), frame::RequestLength, budget::EndProgramming);
    return hasCode(reply, reply::EndProgramming);
}
