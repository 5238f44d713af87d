#pragma once

#include <QString>

#include <memory>

// One owner per tap: an advisory lock (flock) on a file named after the tap's interface and
// network namespace, held for as long as a program talks to that tap. The kernel drops it when
// the holder's process ends, however it ends, so a crash never leaves a tap locked.
//
// The file lives in $KALVESSA_LOCK_DIR when set, else /run/lock (shared by every user of the
// host), else $XDG_RUNTIME_DIR. It holds the owner's process id, so that a program that finds
// the tap taken can say by whom.
class TapLock
{
public:
    enum class Result { Taken, InUse, Unavailable };

    ~TapLock();
    TapLock(const TapLock &) = delete;
    TapLock &operator=(const TapLock &) = delete;

    // Taken: the lock is in *lock. InUse: another holder has it; *ownerPid is its process id
    // (0 when unknown). Unavailable: no lock file could be made (*error says why); callers go
    // on without one rather than lock people out of their tap.
    static Result acquire(const QString &interfaceName, std::unique_ptr<TapLock> *lock,
                          qint64 *ownerPid, QString *error);

    const QString &path() const { return m_path; }

private:
    TapLock(int fd, const QString &path);

    const int m_fd;
    const QString m_path;
};
