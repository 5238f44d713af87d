#pragma once

// Frames as the tap sees them, built and decoded here independently of the code under test,
// so that a wrong offset in the program cannot hide behind the same wrong offset in a test.

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>

#include "TapTestBed.h"

namespace wire {

constexpr int RequestLength = 300;
constexpr int PageFrameLength = 1500;
constexpr int OpcodeAt = 15;
constexpr int AddressAt = 16;
constexpr int ValueAt = 19;  // register value; also where page data starts
constexpr int PageSize = 256;

inline uint8_t byteAt(const QByteArray &frame, int offset)
{
    return static_cast<uint8_t>(frame.at(offset));
}

inline int addressOf(const QByteArray &frame)
{
    return (byteAt(frame, AddressAt) << 16) | (byteAt(frame, AddressAt + 1) << 8)
        | byteAt(frame, AddressAt + 2);
}

// A request of `length` zero bytes with opcode, 24-bit address and payload filled in.
inline QByteArray request(uint8_t opcode, int address, const QByteArray &payload = {},
                          int length = RequestLength)
{
    QByteArray frame(length, '\0');
    frame[OpcodeAt] = static_cast<char>(opcode);
    frame[AddressAt] = static_cast<char>((address >> 16) & 0xFF);
    frame[AddressAt + 1] = static_cast<char>((address >> 8) & 0xFF);
    frame[AddressAt + 2] = static_cast<char>(address & 0xFF);
    frame.replace(ValueAt, payload.size(), payload);
    return frame;
}

inline QByteArray request(uint8_t opcode, int address, uint8_t value, int length = RequestLength)
{
    return request(opcode, address, QByteArray(1, static_cast<char>(value)), length);
}

inline QList<QByteArray> bytesOf(const QList<TapFrame> &frames)
{
    QList<QByteArray> out;
    for (const TapFrame &f : frames)
        out.append(f.bytes);
    return out;
}

// One register access as the tap saw it.
struct Access
{
    int opcode;
    int address;
    int value;
    bool operator==(const Access &) const = default;
};

inline QList<Access> accessesOf(const QList<TapFrame> &frames)
{
    QList<Access> out;
    for (const TapFrame &f : frames)
        out.append({byteAt(f.bytes, OpcodeAt), addressOf(f.bytes), byteAt(f.bytes, ValueAt)});
    return out;
}

// The opcodes of the requests, in the order the tap received them.
inline QList<int> opcodesOf(const QList<TapFrame> &frames)
{
    QList<int> out;
    for (const TapFrame &f : frames)
        out.append(byteAt(f.bytes, OpcodeAt));
    return out;
}

// The 28 generation-4 settings registers in the order they are written, then, withStatus, the
// four status registers: the order of a settings read.
inline QList<int> settingsRegisters(bool withStatus)
{
    QList<int> order{0x70000, 0x70001, 0x70007, 0x70008, 0x70009};
    for (int a = 0x70200; a <= 0x70216; ++a)
        order.append(a);
    if (withStatus)
        order << 0x70300 << 0x70301 << 0x70302 << 0x70303;
    return order;
}

// Register writes to these addresses with these values, in order (missing values are 0).
inline QList<Access> writesOf(int opcode, const QList<int> &order, const QByteArray &values)
{
    QList<Access> out;
    for (int i = 0; i < order.size(); ++i)
        out.append({opcode, order[i], i < values.size() ? uint8_t(values.at(i)) : 0});
    return out;
}

// Register reads of these addresses, each read `times` in a row.
inline QList<Access> readsOf(int opcode, const QList<int> &order, int times = 1)
{
    QList<Access> out;
    for (int address : order) {
        for (int i = 0; i < times; ++i)
            out.append({opcode, address, 0});
    }
    return out;
}

// A whole generation-4 settings read: every register and status word, each twice in a row.
inline QList<Access> settingsReadOf(int opcode)
{
    return readsOf(opcode, settingsRegisters(true), 2);
}

inline char *toString(const Access &a)
{
    return qstrdup(QStringLiteral("op %1 @%2 = %3")
                       .arg(a.opcode, 2, 16, QLatin1Char('0'))
                       .arg(a.address, 6, 16, QLatin1Char('0'))
                       .arg(a.value, 2, 16, QLatin1Char('0'))
                       .toLatin1()
                       .constData());
}

}  // namespace wire
