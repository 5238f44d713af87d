#pragma once

#include <QByteArray>
#include <QList>

#include <cstdint>
#include <initializer_list>

// Capture files written byte by byte, for what libpcap's own writer will not make (other link
// types, pcapng, records cut short).
namespace capturebytes {

inline QByteArray littleEndian(std::initializer_list<uint32_t> words, int width = 4)
{
    QByteArray bytes;
    for (const uint32_t word : words) {
        for (int i = 0; i < width; ++i)
            bytes += char(word >> (8 * i));
    }
    return bytes;
}

inline QByteArray pcapHeader(uint32_t linkType)
{
    return littleEndian({0xa1b2c3d4}) + littleEndian({2, 4}, 2)
        + littleEndian({0, 0, 65535, linkType});
}

inline QByteArray pcapRecord(const QByteArray &frame, uint32_t capturedLength)
{
    return littleEndian({0, 0, capturedLength, uint32_t(frame.size())}) + frame;
}

// Section header, one Ethernet interface and an enhanced packet block per frame (frames of a
// multiple of 4 bytes, so no padding is needed).
inline QByteArray pcapng(const QList<QByteArray> &frames)
{
    QByteArray file = littleEndian({0x0a0d0d0a, 28, 0x1a2b3c4d}) + littleEndian({1, 0}, 2)
        + littleEndian({0xffffffff, 0xffffffff, 28}) + littleEndian({1, 20})
        + littleEndian({1, 0}, 2) + littleEndian({65535, 20});
    for (const QByteArray &frame : frames) {
        const uint32_t length = 32 + uint32_t(frame.size());
        file += littleEndian({6, length, 0, 0, 0, uint32_t(frame.size()), uint32_t(frame.size())})
            + frame + littleEndian({length});
    }
    return file;
}

}  // namespace capturebytes
