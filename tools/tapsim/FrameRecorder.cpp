#include "FrameRecorder.h"

#include <cinttypes>

namespace tapsim {

FrameRecorder::FrameRecorder(const std::string &path)
    : m_path(path)
    , m_file(std::fopen(path.c_str(), "w"))
{
}

std::string FrameRecorder::formatLine(const timeval &time, int wireLength, const uint8_t *bytes,
                                      int capturedLength)
{
    static constexpr char Hex[] = "0123456789abcdef";
    char prefix[64];
    const int n = std::snprintf(prefix, sizeof prefix, "%" PRId64 ".%06ld %d ",
                                static_cast<int64_t>(time.tv_sec), static_cast<long>(time.tv_usec),
                                wireLength);
    std::string line(prefix, static_cast<size_t>(n));
    line.reserve(line.size() + 2 * static_cast<size_t>(capturedLength));
    for (int i = 0; i < capturedLength; ++i) {
        line.push_back(Hex[bytes[i] >> 4]);
        line.push_back(Hex[bytes[i] & 0x0F]);
    }
    return line;
}

void FrameRecorder::record(const timeval &time, int wireLength, const uint8_t *bytes,
                           int capturedLength)
{
    if (!m_file)
        return;
    std::string line = formatLine(time, wireLength, bytes, capturedLength);
    line.push_back('\n');
    std::fwrite(line.data(), 1, line.size(), m_file.get());
    std::fflush(m_file.get());
}

}  // namespace tapsim
