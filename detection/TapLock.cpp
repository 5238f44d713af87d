#include "TapLock.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QStringList>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <optional>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "DetectionLog.h"

namespace {

constexpr mode_t LockFileMode = 0660;  // the group that shares the folder shares its locks
constexpr mode_t PrivateFolderMode = 0700;
constexpr int PidTextLength = 32;
// Each retry follows a holder that let go between our open and our lock; only a tap taken and
// released over and over would use them all.
constexpr int OpenAttempts = 16;

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

QString failure(const QString &path, int code)
{
    return QStringLiteral("%1: %2").arg(path, systemError(code));
}

// Closes the descriptor unless it was handed on.
class Descriptor
{
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;

    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

// Interface names and MAC addresses may repeat across network namespaces; the tap is the pair.
QString namespaceId()
{
    struct stat info
    {};
    if (::stat("/proc/self/ns/net", &info) != 0)
        return QStringLiteral("0");
    return QString::number(static_cast<qulonglong>(info.st_ino));
}

// A folder of this user's own inside one that anyone may write, checked to be a folder that only
// this user can put files into, whoever made it.
std::optional<QString> privateFolderIn(const QString &shared, QString *error)
{
    const QString path = QDir(shared).filePath(QStringLiteral("kalvessa100-%1").arg(::geteuid()));
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), PrivateFolderMode) != 0 && errno != EEXIST) {
        *error = failure(path, errno);
        return std::nullopt;
    }
    struct stat info
    {};
    if (::lstat(native.constData(), &info) != 0) {
        *error = failure(path, errno);
        return std::nullopt;
    }
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() || (info.st_mode & 077) != 0) {
        *error = QStringLiteral("%1 is not a folder of this user's alone").arg(path);
        return std::nullopt;
    }
    return path;
}

// Where this process may keep lock files that no one outside the programs' users can make.
std::optional<QString> usableFolder(const QString &folder, QString *error)
{
    const QByteArray native = QFile::encodeName(folder);
    struct stat info
    {};
    if (::stat(native.constData(), &info) != 0) {
        *error = failure(folder, errno);
        return std::nullopt;
    }
    if (!S_ISDIR(info.st_mode)) {
        *error = QStringLiteral("%1 is not a folder").arg(folder);
        return std::nullopt;
    }
    // Where anyone may make files, only the sticky bit keeps them from renaming ours away.
    if ((info.st_mode & S_IWOTH) && !(info.st_mode & S_ISVTX)) {
        *error = QStringLiteral("%1 may be written by anyone and is not sticky").arg(folder);
        return std::nullopt;
    }
    if (info.st_mode & S_IWOTH)
        return privateFolderIn(folder, error);
    // Its owner could empty and refill it at will.
    if (info.st_uid != 0 && info.st_uid != ::geteuid()) {
        *error = QStringLiteral("%1 belongs to another user").arg(folder);
        return std::nullopt;
    }
    if (::access(native.constData(), W_OK | X_OK) != 0) {
        *error = failure(folder, errno);
        return std::nullopt;
    }
    return folder;
}

std::optional<QString> lockFolder(QString *error)
{
    const QString chosen = qEnvironmentVariable("KALVESSA_LOCK_DIR");
    if (!chosen.isEmpty())
        return usableFolder(chosen, error);
    QStringList candidates{QStringLiteral(KALVESSA_SHARED_LOCK_DIR)};
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty())
        candidates << runtime;
    candidates << QDir::tempPath();
    QStringList reasons;
    for (const QString &candidate : candidates) {
        QString reason;
        if (const std::optional<QString> folder = usableFolder(candidate, &reason))
            return folder;
        reasons << reason;
    }
    *error =
        QStringLiteral("no folder for lock files (%1)").arg(reasons.join(QStringLiteral("; ")));
    return std::nullopt;
}

QString fileName(const TapLock::Address &address)
{
    const QByteArray mac(reinterpret_cast<const char *>(address.data()), int(address.size()));
    return QStringLiteral("kalvessa100-%1-%2.lock")
        .arg(namespaceId(), QString::fromLatin1(mac.toHex()));
}

// Whether `path` still names the file open as `fd`: a holder that lets go removes its file, so
// the file a newcomer opened just before may no longer be the one others find under the name.
bool namesFile(const QByteArray &path, int fd)
{
    struct stat named
    {
    }, open{};
    return ::stat(path.constData(), &named) == 0 && ::fstat(fd, &open) == 0
        && named.st_dev == open.st_dev && named.st_ino == open.st_ino;
}

// The holder's process id as its file gives it, while that process runs: a file written by an
// earlier holder that could not be rewritten may name a process long gone.
qint64 runningOwner(int fd)
{
    char text[PidTextLength] = {};
    const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    if (n <= 0)
        return 0;
    bool ok = false;
    const qint64 pid = QByteArray(text, static_cast<int>(n)).trimmed().toLongLong(&ok);
    if (!ok || pid <= 0 || pid != static_cast<pid_t>(pid))
        return 0;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM ? pid : 0;
}

// The kernel's table of locks, one per line: "1: FLOCK  ADVISORY  WRITE 1234 08:01:5678 0 EOF",
// the device's major and minor in hexadecimal, the inode in decimal. Blocked waiters ("->")
// hold nothing.
constexpr qint64 LockTableLimit = 4 * 1024 * 1024;
constexpr qint64 LockLineLimit = 256;

std::optional<qint64> holderInLockTable(const struct stat &file, bool *readable)
{
    QFile table(QStringLiteral("/proc/locks"));
    *readable = table.open(QIODevice::ReadOnly);
    if (!*readable)
        return std::nullopt;
    // Read line by line to its end: the table tells no size, so the file seems at its end.
    for (qint64 read = 0; read < LockTableLimit;) {
        const QByteArray line = table.readLine(LockLineLimit);
        if (line.isEmpty())
            break;
        read += line.size();
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 6 || fields.at(1) != "FLOCK")
            continue;
        const QList<QByteArray> where = fields.at(5).split(':');
        if (where.size() != 3)
            continue;
        bool ok[3] = {};
        const uint major = where.at(0).toUInt(&ok[0], 16);
        const uint minor = where.at(1).toUInt(&ok[1], 16);
        const qulonglong inode = where.at(2).toULongLong(&ok[2]);
        if (ok[0] && ok[1] && ok[2] && inode == file.st_ino && major == ::major(file.st_dev)
            && minor == ::minor(file.st_dev))
            return fields.at(4).toLongLong();
    }
    return std::nullopt;
}

}  // namespace

bool TapLock::isHeld(const Address &address, qint64 *ownerPid)
{
    *ownerPid = 0;
    QString error;
    const std::optional<QString> folder = lockFolder(&error);
    if (!folder)
        return false;
    const QByteArray native = QFile::encodeName(QDir(*folder).filePath(fileName(address)));
    // A holder that lets go removes its file: no file, no holder.
    const Descriptor file(::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    struct stat info
    {};
    if (file.get() < 0 || ::fstat(file.get(), &info) != 0)
        return false;
    bool readable = false;
    if (const std::optional<qint64> pid = holderInLockTable(info, &readable)) {
        *ownerPid = *pid > 0 ? *pid : 0;
        return true;
    }
    if (readable)
        return false;
    // A file left by a holder that ended names a process no longer running.
    *ownerPid = runningOwner(file.get());
    return *ownerPid > 0;
}

TapLock::TapLock(int fd, const QString &path) : m_fd(fd), m_path(path) {}

TapLock::~TapLock()
{
    // Removed while still held, and only while the name is still this file's.
    const QByteArray native = QFile::encodeName(m_path);
    if (namesFile(native, m_fd))
        ::unlink(native.constData());
    ::close(m_fd);
}

TapLock::Result TapLock::acquire(const Address &address, std::unique_ptr<TapLock> *lock,
                                 qint64 *ownerPid, QString *error)
{
    *ownerPid = 0;
    const std::optional<QString> folder = lockFolder(error);
    if (!folder)
        return Result::Unavailable;
    const QString path = QDir(*folder).filePath(fileName(address));
    const QByteArray native = QFile::encodeName(path);

    for (int attempt = 1; attempt <= OpenAttempts; ++attempt) {
        // A file another member made cannot always be written, but it can be locked and read.
        bool writable = true;
        int fd =
            ::open(native.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, LockFileMode);
        if (fd >= 0) {
            ::fchmod(fd, LockFileMode);  // the creator's umask would keep the group out
        } else if (errno == EACCES) {
            writable = false;
            fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        }
        Descriptor file(fd);
        if (file.get() < 0) {
            *error = failure(path, errno);
            return Result::Unavailable;
        }

        if (::flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
            const int why = errno;
            if (why == EWOULDBLOCK) {
                *ownerPid = runningOwner(file.get());
                return Result::InUse;
            }
            *error = failure(path, why);
            return Result::Unavailable;
        }
        if (!namesFile(native, file.get()))
            continue;

        if (writable) {
            const QByteArray pid = QByteArray::number(static_cast<qint64>(::getpid())) + '\n';
            if (::ftruncate(file.get(), 0) != 0
                || ::pwrite(file.get(), pid.constData(), pid.size(), 0) != pid.size())
                qCWarning(lcDetection) << "cannot record this process in" << path;
        }
        lock->reset(new TapLock(file.release(), path));
        return Result::Taken;
    }
    *error =
        QStringLiteral("%1 was replaced %2 times while being locked").arg(path).arg(OpenAttempts);
    return Result::Unavailable;
}
