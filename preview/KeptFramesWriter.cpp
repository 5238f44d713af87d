#include "KeptFramesWriter.h"

#include <QCoreApplication>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace {

// The classic pcap layout, in this host's byte order, which the magic number tells readers.
constexpr uint32_t NanosecondMagic = 0xa1b23c4d;
constexpr uint16_t VersionMajor = 2;
constexpr uint16_t VersionMinor = 4;
constexpr uint32_t LinkTypeEthernet = 1;

struct FileHeader
{
    uint32_t magic;
    uint16_t versionMajor;
    uint16_t versionMinor;
    int32_t thisZone;
    uint32_t sigFigs;
    uint32_t snapLength;
    uint32_t linkType;
};
static_assert(sizeof(FileHeader) == 24);

struct RecordHeader
{
    uint32_t seconds;
    uint32_t nanoseconds;
    uint32_t capturedLength;
    uint32_t wireLength;
};
static_assert(sizeof(RecordHeader) == 16);

template <typename T> bool put(QSaveFile &file, const T &value)
{
    return file.write(reinterpret_cast<const char *>(&value), sizeof value) == sizeof value;
}

}  // namespace

KeptFramesWriter::KeptFramesWriter(const QString &path) : m_file(path) {}

QString KeptFramesWriter::failure(const QString &reason) const
{
    return QCoreApplication::translate("KeptFramesWriter", "%1 cannot be written: %2")
        .arg(m_file.fileName(), reason);
}

QString KeptFramesWriter::failedWriteReason()
{
    // A write that fails while Qt empties its buffer into the file leaves no text of its own
    // ("Unknown error"); the kernel's reason is still in errno, and trying the buffer once more
    // makes Qt word it.
    const int code = errno;
    if (!m_file.flush())
        return m_file.errorString();
    return QString::fromLocal8Bit(std::strerror(code));
}

bool KeptFramesWriter::begin(int snapLength, QString *error)
{
    if (!m_file.open(QIODevice::WriteOnly)) {
        *error = failure(m_file.errorString());
        return false;
    }
    const FileHeader header{
        NanosecondMagic, VersionMajor, VersionMinor, 0, 0, static_cast<uint32_t>(snapLength),
        LinkTypeEthernet};
    m_failed = !put(m_file, header);
    if (m_failed)
        m_reason = failedWriteReason();
    return true;
}

bool KeptFramesWriter::write(const CaptureReader::Frame &frame)
{
    if (m_failed)
        return false;
    const RecordHeader header{static_cast<uint32_t>(frame.seconds), frame.nanoseconds,
                              frame.capturedLength, frame.wireLength};
    const auto length = static_cast<qint64>(frame.capturedLength);
    m_failed = !put(m_file, header)
        || m_file.write(reinterpret_cast<const char *>(frame.data), length) != length;
    if (m_failed)
        m_reason = failedWriteReason();
    return !m_failed;
}

bool KeptFramesWriter::finish(QString *error)
{
    if (m_failed || !m_file.commit()) {
        *error = failure(m_failed ? m_reason : m_file.errorString());
        m_file.cancelWriting();
        return false;
    }
    return true;
}
