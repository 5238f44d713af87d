#pragma once

// What the tap should receive, computed here independently of the code under test.

#include <QByteArray>
#include <QList>
#include <QVariant>

#include <cstdint>

#include "FirmwareImage.h"

namespace fwtest {

constexpr int Page = 256;
constexpr int OpcodeAt = 15;
constexpr int AddressAt = 16;
constexpr int PayloadAt = 19;
constexpr int ProgrammedArea = 768 * Page;

inline uint8_t mirror(uint8_t b)
{
    uint8_t out = 0;
    for (int bit = 0; bit < 8; ++bit) {
        if (b & (1 << bit))
            out |= static_cast<uint8_t>(0x80 >> bit);
    }
    return out;
}

// The programmed area as the tap should hold it: the image, then zeros.
inline QByteArray imageThenZeros(int areaLength = ProgrammedArea)
{
    QByteArray area(areaLength, '\0');
    for (int i = 0; i < firmwareImageLength && i < areaLength; ++i)
        area[i] = static_cast<char>(firmwareImage[i]);
    return area;
}

// Page `index` as it travels on the wire: mirrored image bytes, zero after the image.
inline QByteArray wirePage(int index)
{
    QByteArray page(Page, '\0');
    for (int i = 0; i < Page; ++i) {
        const int at = index * Page + i;
        if (at < firmwareImageLength)
            page[i] = static_cast<char>(mirror(firmwareImage[at]));
    }
    return page;
}

inline uint8_t byteAt(const QByteArray &frame, int offset)
{
    return static_cast<uint8_t>(frame.at(offset));
}

inline int addressOf(const QByteArray &frame)
{
    return (byteAt(frame, AddressAt) << 16) | (byteAt(frame, AddressAt + 1) << 8)
           | byteAt(frame, AddressAt + 2);
}

// A request frame of `length` zero bytes with opcode, address and payload filled in.
inline QByteArray request(int length, uint8_t opcode, int address, const QByteArray &payload = {})
{
    QByteArray frame(length, '\0');
    frame[OpcodeAt] = static_cast<char>(opcode);
    frame[AddressAt] = static_cast<char>((address >> 16) & 0xFF);
    frame[AddressAt + 1] = static_cast<char>((address >> 8) & 0xFF);
    frame[AddressAt + 2] = static_cast<char>(address & 0xFF);
    frame.replace(PayloadAt, payload.size(), payload);
    return frame;
}

using Progress = QList<std::pair<int, int>>;

template<typename Spy>
Progress progressOf(const Spy &spy)
{
    Progress out;
    for (const QList<QVariant> &args : spy)
        out.append({args.at(0).toInt(), args.at(1).toInt()});
    return out;
}

// (0, total), (1, total) ... (last, total); `last` defaults to total.
inline Progress countUp(int total, int last = -1)
{
    Progress out;
    for (int i = 0; i <= (last < 0 ? total : last); ++i)
        out.append({i, total});
    return out;
}

} // namespace fwtest
