#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <memory>

// One owner per tap: an advisory lock (flock) on a file named after the tap's MAC address and
// network namespace, held for as long as a program talks to that tap. The MAC address is the
// tap's identity wherever it is seen, so renaming its interface does not free it. The kernel
// drops the lock when the holder's process ends, however it ends, so a crash never leaves a
// tap locked; a holder that lets go removes the file, and the next holder of a file left behind
// removes it in turn.
//
// Whoever can create a tap's file first can hold the tap against everyone, so the files live in
// a folder that only the programs' users may write: $KALVESSA_LOCK_DIR when set; else the shared
// folder that the package installs (/run/kalvessa100, root:kalvessa 2770) where this process may
// write; else $XDG_RUNTIME_DIR, this user's own; else (root, a service) the temporary folder. A
// folder that anyone may write (the temporary folder, /run/lock) is used only through a folder
// of this user's own inside it, kalvessa100-<uid>, mode 0700. The file holds the holder's
// process id, so that a program that finds the tap taken can say by whom.
class TapLock
{
public:
    enum class Result { Taken, InUse, Unavailable };
    using Address = std::array<uint8_t, 6>;

    ~TapLock();
    TapLock(const TapLock &) = delete;
    TapLock &operator=(const TapLock &) = delete;

    // Taken: the lock is in *lock. InUse: another holder has it; *ownerPid is its process id
    // while that process runs (0 when unknown). Unavailable: no lock file could be had (*error
    // says why); callers go on without one rather than lock people out of their tap.
    static Result acquire(const Address &address, std::unique_ptr<TapLock> *lock, qint64 *ownerPid,
                          QString *error);

    // Whether someone holds the tap's lock, told without taking it even for a moment (a
    // program trying to take it just then would be turned away): from the kernel's table of
    // locks, else, where that cannot be read, from the holder's file. *ownerPid as acquire().
    static bool isHeld(const Address &address, qint64 *ownerPid);

    const QString &path() const { return m_path; }

private:
    TapLock(int fd, const QString &path);

    const int m_fd;
    const QString m_path;
};
