#include "CaptureReader.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <pcap/pcap.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>

namespace {

constexpr size_t ReadBufferSize = 1 << 20;

QString tr(const char *text)
{
    return QCoreApplication::translate("CaptureReader", text);
}

}  // namespace

std::unique_ptr<CaptureReader> CaptureReader::open(const QString &path, QString *error)
{
    const auto refuse = [&](const QString &reason) {
        *error = tr("%1 cannot be read as a capture file: %2").arg(path, reason);
        return nullptr;
    };
    std::FILE *file = std::fopen(QFile::encodeName(path).constData(), "rb");
    if (file == nullptr)
        return refuse(QString::fromLocal8Bit(std::strerror(errno)));
    // The stream's own buffer is a page; a large one saves a system call per few frames,
    // which is most of what reading a capture costs.
    auto buffer = std::make_unique<char[]>(ReadBufferSize);
    std::setvbuf(file, buffer.get(), _IOFBF, ReadBufferSize);
    posix_fadvise(fileno(file), 0, 0, POSIX_FADV_SEQUENTIAL);
    char reason[PCAP_ERRBUF_SIZE] = {};
    // Nanoseconds, so a kept frame written back out loses nothing of its time stamp.
    pcap_t *handle =
        pcap_fopen_offline_with_tstamp_precision(file, PCAP_TSTAMP_PRECISION_NANO, reason);
    if (handle == nullptr) {
        std::fclose(file);
        return refuse(QString::fromLocal8Bit(reason));
    }
    const int linkType = pcap_datalink(handle);
    if (linkType != DLT_EN10MB) {
        const char *name = pcap_datalink_val_to_name(linkType);
        const char *description = pcap_datalink_val_to_description(linkType);
        *error =
            tr("%1 is not an Ethernet capture: its link type is %2 (%3), and only Ethernet "
               "frames can be compared with the tap's filter.")
                .arg(path, name != nullptr ? QString::fromLatin1(name) : QString::number(linkType),
                     description != nullptr ? QString::fromLatin1(description) : tr("unknown"));
        pcap_close(handle);
        return nullptr;
    }
    return std::unique_ptr<CaptureReader>(
        new CaptureReader(handle, std::move(buffer), QFileInfo(path).size()));
}

CaptureReader::CaptureReader(pcap *handle, std::unique_ptr<char[]> buffer, int64_t size)
    : m_buffer(std::move(buffer))
    , m_handle(handle)
    , m_size(size)
{
}

CaptureReader::~CaptureReader()
{
    pcap_close(m_handle);
}

CaptureReader::Next CaptureReader::next(Frame *frame)
{
    pcap_pkthdr *header = nullptr;
    const u_char *data = nullptr;
    switch (pcap_next_ex(m_handle, &header, &data)) {
    case 1:
        frame->data = data;
        frame->capturedLength = header->caplen;
        frame->wireLength = header->len;
        frame->seconds = header->ts.tv_sec;
        frame->nanoseconds = static_cast<uint32_t>(header->ts.tv_usec);
        return Next::Frame;
    case PCAP_ERROR_BREAK: return Next::End;
    default:
        // libpcap says "truncated" in its own words; that the reader stands at the file's end
        // tells it without them.
        return std::feof(pcap_file(m_handle)) ? Next::Truncated : Next::Damaged;
    }
}

QString CaptureReader::problem() const
{
    return QString::fromLocal8Bit(pcap_geterr(m_handle));
}

int CaptureReader::snapLength() const
{
    return pcap_snapshot(m_handle);
}

int64_t CaptureReader::position() const
{
    return std::ftell(pcap_file(m_handle));
}
