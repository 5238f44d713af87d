#include "WholeFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("WholeFile", text);
}

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// Empty when `path` may be written: a regular file (or a link to one) or a name not yet taken.
// Renaming a new file over a device node or a pipe would quietly replace it with a regular file.
QString whyNotWritable(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat target
    {};
    if (::stat(native.constData(), &target) == 0)
        return S_ISREG(target.st_mode) ? QString() : tr("not a regular file");
    const int why = errno;
    if (why != ENOENT)
        return systemError(why);
    struct stat link
    {};
    // A link to nothing would create a file wherever it points.
    if (::lstat(native.constData(), &link) == 0)
        return tr("a symbolic link to a file that does not exist");
    return {};
}

}  // namespace

namespace wholefile {

std::optional<QByteArray> readAll(QIODevice &input, qint64 limit, QString *error)
{
    QByteArray content(limit + 1, Qt::Uninitialized);
    qint64 total = 0;
    while (total <= limit) {
        const qint64 n = input.read(content.data() + total, limit + 1 - total);
        if (n < 0) {
            *error = input.errorString();
            return std::nullopt;
        }
        if (n == 0 && !input.waitForReadyRead(-1))
            break;
        total += n;
    }
    if (total > limit) {
        *error = tr("longer than the %1 bytes read at most").arg(limit);
        return std::nullopt;
    }
    content.truncate(total);
    return content;
}

bool replace(const QString &path, const QByteArray &content, QString *error)
{
    *error = whyNotWritable(path);
    if (!error->isEmpty())
        return false;
    // Unbuffered, so that a write that fails (a full file system) fails here, where it is
    // seen, and not in a flush whose error the commit would not notice.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)
        || file.write(content) != content.size()) {
        *error = file.errorString();
        return false;
    }
    // The data on disk before the name moves to it: a crash must not leave an empty file.
    if (::fsync(file.handle()) != 0) {
        *error = systemError(errno);
        return false;
    }
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

}  // namespace wholefile
