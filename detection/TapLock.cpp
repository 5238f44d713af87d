#include "TapLock.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "DetectionLog.h"

namespace {

constexpr mode_t LockFileMode = 0666;  // any user may take a tap's lock once its holder is gone
constexpr int PidTextLength = 32;

QString lockDirectory()
{
    const QString chosen = qEnvironmentVariable("KALVESSA_LOCK_DIR");
    if (!chosen.isEmpty())
        return chosen;
    const QFileInfo shared(QStringLiteral("/run/lock"));
    if (shared.isDir() && shared.isWritable())
        return shared.filePath();
    return qEnvironmentVariable("XDG_RUNTIME_DIR");
}

// Interface names repeat across network namespaces; the tap is the pair.
QString namespaceId()
{
    struct stat info
    {};
    if (::stat("/proc/self/ns/net", &info) != 0)
        return QStringLiteral("0");
    return QString::number(static_cast<qulonglong>(info.st_ino));
}

qint64 readOwner(int fd)
{
    char text[PidTextLength] = {};
    const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    if (n <= 0)
        return 0;
    bool ok = false;
    const qint64 pid = QByteArray(text, static_cast<int>(n)).trimmed().toLongLong(&ok);
    return ok && pid > 0 ? pid : 0;
}

}  // namespace

TapLock::TapLock(int fd, const QString &path) : m_fd(fd), m_path(path) {}

TapLock::~TapLock()
{
    ::close(m_fd);  // releases the lock
}

TapLock::Result TapLock::acquire(const QString &interfaceName, std::unique_ptr<TapLock> *lock,
                                 qint64 *ownerPid, QString *error)
{
    *ownerPid = 0;
    const QString directory = lockDirectory();
    if (directory.isEmpty()) {
        *error = QStringLiteral("no directory for lock files");
        return Result::Unavailable;
    }
    const QString path = QDir(directory).filePath(
        QStringLiteral("kalvessa100-%1-%2.lock").arg(namespaceId(), interfaceName));
    const QByteArray native = QFile::encodeName(path);

    // Another user's lock file cannot be written, but it can still be locked and read.
    bool writable = true;
    int fd = ::open(native.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, LockFileMode);
    if (fd >= 0) {
        ::fchmod(fd, LockFileMode);  // the creator's umask would keep others out
    } else if (errno == EACCES) {
        writable = false;
        fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    }
    if (fd < 0) {
        *error = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return Result::Unavailable;
    }

    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int why = errno;
        *ownerPid = why == EWOULDBLOCK ? readOwner(fd) : 0;
        ::close(fd);
        if (why == EWOULDBLOCK)
            return Result::InUse;
        *error = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(why)));
        return Result::Unavailable;
    }

    if (writable) {
        const QByteArray pid = QByteArray::number(static_cast<qint64>(::getpid())) + '\n';
        if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.constData(), pid.size(), 0) != pid.size())
            qCWarning(lcDetection) << "cannot record this process in" << path;
    }
    lock->reset(new TapLock(fd, path));
    return Result::Taken;
}
