#pragma once

#include <cstdint>

// Wire layout of the frames exchanged with the tap. Both generations use the same request
// layout: all-zero MAC addresses, EtherType 0, a reserved zero byte, then opcode, 24-bit
// device address (most significant byte first) and a value byte or page data.
namespace frame {

constexpr int HeaderLength = 15;  // bytes 0..14: addresses, EtherType, reserved; all zero
constexpr int OpcodeOffset = 15;  // request opcode / reply code
constexpr int AddressOffset = 16;  // 3 bytes, big-endian
constexpr int AddressLength = 3;
constexpr int ValueOffset = 19;  // written value / value read back
constexpr int PageDataOffset = 19;  // 256 bytes of page data
constexpr int RequestLength = 300;  // register commands
constexpr int PageFrameLength = 1500;  // firmware pages; generation-3 erase frames
constexpr int MinReplyLength = 16;  // shortest frame that can carry a reply code
constexpr int PageSize = 256;
constexpr int EthernetHeaderLength = 14;  // what a frame carries beyond the interface's MTU
// The MTU people are told to set: the tap's longest frames, rounded to Ethernet's own.
constexpr int NeededMtu = PageFrameLength;
constexpr int AddressMask = 0xFFFFFF;

// Writes the 24-bit address at AddressOffset; bits above bit 23 are dropped.
inline void putAddress(uint8_t *frameBytes, int address)
{
    frameBytes[AddressOffset] = static_cast<uint8_t>((address >> 16) & 0xFF);
    frameBytes[AddressOffset + 1] = static_cast<uint8_t>((address >> 8) & 0xFF);
    frameBytes[AddressOffset + 2] = static_cast<uint8_t>(address & 0xFF);
}

inline int getAddress(const uint8_t *frameBytes)
{
    return (frameBytes[AddressOffset] << 16) | (frameBytes[AddressOffset + 1] << 8)
        | frameBytes[AddressOffset + 2];
}

}  // namespace frame

// Generation-4 opcodes and the reply code that means success for each.
namespace opcode {
constexpr uint8_t WriteRegister = 0x70;
constexpr uint8_t WriteRegisterPersistent = 0x80;
constexpr uint8_t ReadRegister = 0x71;
constexpr uint8_t ReadRegisterPersistent = 0x81;
constexpr uint8_t EraseSector = 0xE0;
constexpr uint8_t CommitSettings = 0x8F;
constexpr uint8_t BeginProgramming = 0xB0;
constexpr uint8_t ProgramPage = 0xB1;
constexpr uint8_t EndProgramming = 0xB2;

// Generation 3 (one-way, never answered).
constexpr uint8_t V3EraseSector = 0xEE;
constexpr uint8_t V3WritePage = 0xDD;
}  // namespace opcode

namespace reply {
constexpr uint8_t WriteRegister = 7;
constexpr uint8_t WriteRegisterPersistent = 8;
constexpr uint8_t ReadRegister = 23;
constexpr uint8_t ReadRegisterPersistent = 24;
constexpr uint8_t EraseSector = 14;
constexpr uint8_t BeginProgramming = 11;
constexpr uint8_t ProgramPage = 27;
constexpr uint8_t EndProgramming = 43;  // '+'
// What the tap answers a command it did not carry out (an unknown opcode, a page outside a
// programming run).
constexpr uint8_t Refused = 0xFF;

// The codes the tap answers with. A zero-address frame carrying any other code cannot be the
// tap's answer to anything, so it is someone else's traffic, not a refusal.
constexpr uint8_t ProtocolCodes[] = {
    WriteRegister, WriteRegisterPersistent, ReadRegister, ReadRegisterPersistent,
    EraseSector,   BeginProgramming,        ProgramPage,  EndProgramming,
    Refused};
constexpr bool isProtocolCode(uint8_t code)
{
    for (uint8_t known : ProtocolCodes) {
        if (code == known)
            return true;
    }
    return false;
}
}  // namespace reply

// How many missed 10 ms reads one send attempt tolerates, per command.
namespace budget {
constexpr int Register = 10;
constexpr int EraseSector = 200;
constexpr int CommitSettings = 100;
constexpr int BeginProgramming = 200;
constexpr int ProgramPage = 50;
constexpr int EndProgramming = 50;
}  // namespace budget
