#include "ExchangeRecorder.h"

#include <algorithm>

namespace tapsim {

namespace {

constexpr uint32_t PcapMagic = 0xA1B2C3D4;  // microsecond timestamps, host byte order
constexpr uint16_t PcapMajor = 2;
constexpr uint16_t PcapMinor = 4;
constexpr uint32_t SnapshotLength = 65535;
constexpr uint32_t LinkTypeEthernet = 1;

template <typename T> void put(FILE *file, T value)
{
    std::fwrite(&value, sizeof value, 1, file);
}

}  // namespace

ExchangeRecorder::ExchangeRecorder(const std::string &path, TapWire &wire, FrameLog *received)
    : m_wire(wire)
    , m_received(received)
    , m_file(std::fopen(path.c_str(), "wb"))
{
    if (!m_file)
        return;
    put(m_file.get(), PcapMagic);
    put(m_file.get(), PcapMajor);
    put(m_file.get(), PcapMinor);
    put(m_file.get(), uint32_t{0});
    put(m_file.get(), uint32_t{0});
    put(m_file.get(), SnapshotLength);
    put(m_file.get(), LinkTypeEthernet);
    if (std::fflush(m_file.get()) != 0)
        m_file.reset();
}

void ExchangeRecorder::record(const timeval &time, int wireLength, const uint8_t *bytes,
                              int capturedLength)
{
    if (m_received)
        m_received->record(time, wireLength, bytes, capturedLength);
    write(time, wireLength, bytes, capturedLength);
}

void ExchangeRecorder::write(const timeval &time, int wireLength, const uint8_t *bytes,
                             int capturedLength)
{
    if (!m_file || capturedLength < 0)
        return;
    const uint32_t kept = std::min<uint32_t>(static_cast<uint32_t>(capturedLength), SnapshotLength);
    put(m_file.get(), static_cast<uint32_t>(time.tv_sec));
    put(m_file.get(), static_cast<uint32_t>(time.tv_usec));
    put(m_file.get(), kept);
    put(m_file.get(), static_cast<uint32_t>(std::max(wireLength, capturedLength)));
    std::fwrite(bytes, 1, kept, m_file.get());
    std::fflush(m_file.get());
}

bool ExchangeRecorder::send(const uint8_t *bytes, int length)
{
    const bool sent = m_wire.send(bytes, length);
    if (sent) {
        timeval now{};
        gettimeofday(&now, nullptr);
        write(now, length, bytes, length);
    }
    return sent;
}

}  // namespace tapsim
