#include "TapProtocol.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "FirmwareImage.h"

namespace tapsim {

namespace {
constexpr int RegisterFrameMinimum = frame::ValueOffset + 1;
constexpr int PageFrameMinimum = frame::PageDataOffset + frame::PageSize;
constexpr int AddressFrameMinimum = frame::AddressOffset + frame::AddressLength;
constexpr FirmwareStatus StatusAfterReset{4, 0, firmwarestatus::RecognisedType};
}  // namespace

bool isCommandFrame(const uint8_t *bytes, int length)
{
    if (length < frame::MinReplyLength)
        return false;
    return std::all_of(bytes, bytes + frame::HeaderLength, [](uint8_t b) { return b == 0; });
}

uint8_t mirrorBits(uint8_t byte)
{
    uint8_t out = 0;
    for (int bit = 0; bit < 8; ++bit) {
        if (byte & (1u << bit))
            out |= static_cast<uint8_t>(0x80u >> bit);
    }
    return out;
}

TapProtocol::TapProtocol(int generation, TapState &state, ProtocolFaults faults,
                         bool resetAfterUpdate, Boot boot)
    : m_generation(generation)
    , m_state(state)
    , m_faults(std::move(faults))
    , m_resetAfterUpdate(resetAfterUpdate)
    , m_boot(boot)
{
}

bool TapProtocol::holdsCarriedImage(const TapState &state)
{
    const std::vector<uint8_t> area = state.programmedArea();
    return firmwareImageLength <= static_cast<int>(area.size())
        && std::equal(firmwareImage, firmwareImage + firmwareImageLength, area.begin());
}

void TapProtocol::restart()
{
    m_state.endProgramming();
    if (!m_state.firmwareWritten())
        return;
    if (m_boot == Boot::AnyImage || holdsCarriedImage(m_state)) {
        m_generation = 4;
        m_state.setStatus(StatusAfterReset);
    } else {
        m_generation = 3;  // the boot loader: silent, but it takes the generation-3 update
    }
}

std::optional<Reply> TapProtocol::handle(const uint8_t *bytes, int length)
{
    if (!isCommandFrame(bytes, length))
        return std::nullopt;
    if (m_generation == 3) {
        handleGeneration3(bytes, length);
        return std::nullopt;
    }
    std::optional<Reply> reply = handleGeneration4(bytes, length);
    // The acknowledgement leaves before the tap starts what it has just been given.
    if (std::exchange(m_restartDue, false))
        restart();
    return reply;
}

bool TapProtocol::takeProgrammingCompleted()
{
    return std::exchange(m_programmingCompleted, false);
}

std::optional<Reply> TapProtocol::handleGeneration4(const uint8_t *bytes, int length)
{
    const uint8_t opcode = bytes[frame::OpcodeOffset];
    uint8_t value = 0;
    bool hasValue = false;
    uint8_t replyCode = 0;
    // A tap that answers with the wrong code has not done what was asked.
    if (const auto wrong = m_faults.wrongCodes.find(opcode); wrong != m_faults.wrongCodes.end()) {
        replyCode = wrong->second;
    } else {
        replyCode = carryOut(opcode, bytes, length, &value);
        hasValue = (opcode == opcode::ReadRegister || opcode == opcode::ReadRegisterPersistent)
            && replyCode != code::Refused;
    }

    Reply reply;
    reply.length = std::max(MinReplyFrameLength, std::min(length, frame::RequestLength));
    std::memcpy(reply.bytes.data(), bytes,
                static_cast<size_t>(std::min(length, frame::RequestLength)));
    reply.bytes[frame::OpcodeOffset] = replyCode;
    if (hasValue)
        reply.bytes[frame::ValueOffset] = value;
    return reply;
}

uint8_t TapProtocol::carryOut(uint8_t opcode, const uint8_t *bytes, int length, uint8_t *value)
{
    const bool hasRegisterFields = length >= RegisterFrameMinimum;
    const int address = hasRegisterFields ? frame::getAddress(bytes) : 0;
    switch (opcode) {
    case opcode::WriteRegister:
    case opcode::WriteRegisterPersistent: {
        if (!hasRegisterFields)
            return code::Refused;
        const bool stored = opcode == opcode::WriteRegisterPersistent;
        m_state.writeRegister(address, bytes[frame::ValueOffset], stored);
        return stored ? reply::WriteRegisterPersistent : reply::WriteRegister;
    }
    case opcode::ReadRegister:
    case opcode::ReadRegisterPersistent: {
        if (!hasRegisterFields)
            return code::Refused;
        const bool stored = opcode == opcode::ReadRegisterPersistent;
        *value = m_state.readRegister(address, stored);
        return stored ? reply::ReadRegisterPersistent : reply::ReadRegister;
    }
    case opcode::EraseSector:
        if (length < AddressFrameMinimum)
            return code::Refused;
        m_state.eraseSector(frame::getAddress(bytes));
        return reply::EraseSector;
    case opcode::CommitSettings: m_state.commit(); return code::Commit;
    case opcode::BeginProgramming: m_state.beginProgramming(); return reply::BeginProgramming;
    case opcode::ProgramPage: return programPage(bytes, length);
    case opcode::EndProgramming:
        if (!m_state.isProgramming())
            return code::Refused;
        m_state.endProgramming();
        m_programmingCompleted = true;
        m_restartDue = m_resetAfterUpdate;
        return reply::EndProgramming;
    default: return code::Refused;
    }
}

uint8_t TapProtocol::programPage(const uint8_t *bytes, int length)
{
    if (!m_state.isProgramming() || length < PageFrameMinimum)
        return code::Refused;
    const int index = frame::getAddress(bytes);
    if (auto refused = m_faults.refusedPages.find(index);
        refused != m_faults.refusedPages.end() && refused->second > 0) {
        --refused->second;
        return code::Refused;
    }
    std::array<uint8_t, frame::PageSize> page;
    for (int i = 0; i < frame::PageSize; ++i)
        page[static_cast<size_t>(i)] = mirrorBits(bytes[frame::PageDataOffset + i]);
    return m_state.programPage(index, page.data()) ? reply::ProgramPage : code::Refused;
}

void TapProtocol::handleGeneration3(const uint8_t *bytes, int length)
{
    const uint8_t opcode = bytes[frame::OpcodeOffset];
    switch (opcode) {
    case opcode::WriteRegister:
    case opcode::WriteRegisterPersistent:
        if (length >= RegisterFrameMinimum)
            m_state.writeRegister(frame::getAddress(bytes), bytes[frame::ValueOffset],
                                  opcode == opcode::WriteRegisterPersistent);
        break;
    case opcode::V3EraseSector:
        if (length >= AddressFrameMinimum)
            m_state.eraseSector(frame::getAddress(bytes));
        break;
    case opcode::V3WritePage:
        if (length >= PageFrameMinimum) {
            std::array<uint8_t, frame::PageSize> page;
            for (int i = 0; i < frame::PageSize; ++i)
                page[static_cast<size_t>(i)] = mirrorBits(bytes[frame::PageDataOffset + i]);
            m_state.writeFlash(frame::getAddress(bytes), page.data(), frame::PageSize);
        }
        break;
    default: break;  // a generation-3 tap has nothing else to carry out
    }
}

}  // namespace tapsim
