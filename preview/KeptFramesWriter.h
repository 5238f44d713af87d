#pragma once

#include <QSaveFile>
#include <QString>

#include "CaptureReader.h"

// Frames written into a pcap file (nanosecond time stamps, Ethernet) that replaces the file at
// the path whole when finished, or leaves what was there untouched when it is not.
class KeptFramesWriter
{
public:
    explicit KeptFramesWriter(const QString &path);

    // False, with *error naming the file and the reason, when the file cannot be started.
    bool begin(int snapLength, QString *error);
    // False once a write has failed; the reason comes from finish().
    bool write(const CaptureReader::Frame &frame);
    bool finish(QString *error);

private:
    QString failure(const QString &reason) const;
    // Why the write that just failed did, in the kernel's words.
    QString failedWriteReason();

    QSaveFile m_file;
    bool m_failed = false;
    QString m_reason;  // of the first failed write
};
