#pragma once

// Helpers for the device tests: expected frames built here independently of the code under
// test, and a capture of what the program prints on standard output.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTemporaryFile>

#include <cstdint>
#include <cstdio>
#include <unistd.h>

#include "TapTestBed.h"

namespace devtest {

constexpr int RequestLength = 300;
constexpr int PageFrameLength = 1500;
constexpr int OpcodeAt = 15;
constexpr int AddressAt = 16;
constexpr int ValueAt = 19;

inline uint8_t byteAt(const QByteArray &f, int i) { return static_cast<uint8_t>(f.at(i)); }

inline int addressOf(const QByteArray &f)
{
    return (byteAt(f, AddressAt) << 16) | (byteAt(f, AddressAt + 1) << 8) | byteAt(f, AddressAt + 2);
}

inline QByteArray request(uint8_t opcode, int address, uint8_t value = 0,
                          int length = RequestLength)
{
    QByteArray f(length, '\0');
    f[OpcodeAt] = static_cast<char>(opcode);
    f[AddressAt] = static_cast<char>((address >> 16) & 0xFF);
    f[AddressAt + 1] = static_cast<char>((address >> 8) & 0xFF);
    f[AddressAt + 2] = static_cast<char>(address & 0xFF);
    f[ValueAt] = static_cast<char>(value);
    return f;
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

// Everything written to file descriptor 1 while it lives.
class StdoutCapture
{
public:
    StdoutCapture()
    {
        std::fflush(stdout);
        if (m_file.open()) {
            m_saved = ::dup(STDOUT_FILENO);
            ::dup2(m_file.handle(), STDOUT_FILENO);
        }
    }
    ~StdoutCapture() { restore(); }
    StdoutCapture(const StdoutCapture &) = delete;
    StdoutCapture &operator=(const StdoutCapture &) = delete;

    QByteArray text()
    {
        restore();
        m_file.seek(0);
        return m_file.readAll();
    }

private:
    void restore()
    {
        std::fflush(stdout);
        if (m_saved >= 0) {
            ::dup2(m_saved, STDOUT_FILENO);
            ::close(m_saved);
            m_saved = -1;
        }
    }

    QTemporaryFile m_file;
    int m_saved = -1;
};

inline char *toString(const Access &a)
{
    return qstrdup(QStringLiteral("op %1 @%2 = %3")
                       .arg(a.opcode, 2, 16, QLatin1Char('0'))
                       .arg(a.address, 6, 16, QLatin1Char('0'))
                       .arg(a.value, 2, 16, QLatin1Char('0'))
                       .toLatin1()
                       .constData());
}

} // namespace devtest
