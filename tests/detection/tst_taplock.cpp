// The per-tap lock in a folder of the test's own: files left behind, the holder's process id,
// holders racing to take and let go, and a second user who tries to hold a tap first.
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include <atomic>
#include <thread>

#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "TapLock.h"

namespace {

const TapLock::Address Tap{0x00, 0x0e, 0xc6, 0x12, 0x34, 0x56};
constexpr uid_t Outsider = 65534;  // nobody, in none of our groups

struct Attempt
{
    TapLock::Result result;
    qint64 ownerPid = 0;
    QString error;
    std::unique_ptr<TapLock> lock;
};

Attempt acquire()
{
    Attempt a;
    a.result = TapLock::acquire(Tap, &a.lock, &a.ownerPid, &a.error);
    return a;
}

// The path a holder's file has in the folder now chosen; the file goes with the lock.
QString lockPath()
{
    const Attempt a = acquire();
    return a.lock ? a.lock->path() : QString();
}

// A process id that no process has now.
qint64 endedPid()
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

}  // namespace

Q_DECLARE_METATYPE(TapLock::Result)

class TestTapLock : public QObject
{
    Q_OBJECT

    QTemporaryDir scratch;

private slots:
    void init()
    {
        // Each test in a folder of its own that no one else may write.
        static int folder = 0;
        const QString path = scratch.filePath(QString::number(++folder));
        QVERIFY(QDir().mkpath(path));
        QVERIFY(
            QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        qputenv("KALVESSA_LOCK_DIR", QFile::encodeName(path));
    }

    // What another holder left in the file, and whether it holds it still.
    void filesLeftBehind_data()
    {
        QTest::addColumn<QByteArray>("content");  // "-": no file; "ended": an ended process's id
        QTest::addColumn<bool>("held");
        QTest::addColumn<TapLock::Result>("result");
        QTest::addColumn<bool>("ownerTold");  // this process, holding it

        QTest::newRow("none") << QByteArray("-") << false << TapLock::Result::Taken << false;
        QTest::newRow("an ended holder's")
            << QByteArray("ended") << false << TapLock::Result::Taken << false;
        QTest::newRow("held by this process")
            << QByteArray::number(QCoreApplication::applicationPid()) << true
            << TapLock::Result::InUse << true;
        QTest::newRow("held, naming an ended process")
            << QByteArray("ended") << true << TapLock::Result::InUse << false;
        QTest::newRow("held, naming nothing")
            << QByteArray("x\n") << true << TapLock::Result::InUse << false;
    }

    void filesLeftBehind()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, held);
        QFETCH(TapLock::Result, result);
        QFETCH(bool, ownerTold);
        const QString path = lockPath();
        QVERIFY(!path.isEmpty() && !QFile::exists(path));
        QFile other(path);
        if (content != "-") {
            QVERIFY(other.open(QIODevice::WriteOnly));
            other.write(content == "ended" ? QByteArray::number(endedPid()) : content);
            QVERIFY(other.flush());
            QVERIFY(!held || ::flock(other.handle(), LOCK_EX | LOCK_NB) == 0);
        }

        Attempt first = acquire();
        QCOMPARE(first.result, result);
        QCOMPARE(first.ownerPid, ownerTold ? QCoreApplication::applicationPid() : 0);
        if (result == TapLock::Result::Taken) {
            const Attempt second = acquire();
            QCOMPARE(second.result, TapLock::Result::InUse);
            QCOMPARE(second.ownerPid, QCoreApplication::applicationPid());
        }
        first.lock.reset();
        // Only the holder removes its file, as it lets go.
        QCOMPARE(QFile::exists(path), held);
    }

    // A file put under the name while a holder held the one before (a person removing files
    // by hand) is not the old holder's to remove.
    void letGoRemovesOnlyItsOwnFile()
    {
        Attempt first = acquire();
        QCOMPARE(first.result, TapLock::Result::Taken);
        const QString path = first.lock->path();
        QVERIFY(QFile::remove(path));
        QFile newer(path);
        QVERIFY(newer.open(QIODevice::WriteOnly) && ::flock(newer.handle(), LOCK_EX) == 0);
        first.lock.reset();
        QVERIFY(QFile::exists(path));
        QCOMPARE(acquire().result, TapLock::Result::InUse);
    }

    // Holders let go (and remove their file) while others are opening it: one that locks a file
    // no longer under its name must not count as holding the tap beside a newer holder.
    void holdersNeverOverlap()
    {
        constexpr int Threads = 4, Rounds = 2000;
        std::atomic<int> holding{0}, overlaps{0}, taken{0}, failures{0};
        const auto work = [&] {
            for (int round = 0; round < Rounds; ++round) {
                Attempt a = acquire();
                if (a.result == TapLock::Result::Unavailable)
                    ++failures;
                if (a.result != TapLock::Result::Taken)
                    continue;
                ++taken;
                if (holding.fetch_add(1) != 0)
                    ++overlaps;
                std::this_thread::yield();
                holding.fetch_sub(1);
            }
        };
        std::vector<std::thread> threads;
        for (int i = 0; i < Threads; ++i)
            threads.emplace_back(work);
        for (std::thread &t : threads)
            t.join();
        QCOMPARE(overlaps.load(), 0);
        QCOMPARE(failures.load(), 0);
        QVERIFY(taken.load() > 0);
    }

    // Whoever can make a tap's file first holds the tap, so a user outside the programs' users
    // must not be able to make one where they look: they may only be kept from locking at all.
    void anOutsiderCannotHoldATap_data()
    {
        QTest::addColumn<int>("folderMode");
        QTest::addColumn<bool>("squatted");  // the outsider made the member's own folder first
        QTest::addColumn<TapLock::Result>("result");

        QTest::newRow("the group's folder") << 02770 << false << TapLock::Result::Taken;
        QTest::newRow("a folder for everyone") << 01777 << false << TapLock::Result::Taken;
        QTest::newRow("a folder for everyone, squatted")
            << 01777 << true << TapLock::Result::Unavailable;
    }

    void anOutsiderCannotHoldATap()
    {
        QFETCH(int, folderMode);
        QFETCH(bool, squatted);
        QFETCH(TapLock::Result, result);
        // Only root can become another user, and not in a user namespace that maps none.
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        const QStringList asOutsider{QStringLiteral("--reuid=%1").arg(Outsider),
                                     QStringLiteral("--regid=%1").arg(Outsider),
                                     QStringLiteral("--clear-groups")};
        if (setpriv.isEmpty()
            || QProcess::execute(setpriv, asOutsider + QStringList{QStringLiteral("true")}) != 0) {
            const char *why = "No second user: this needs root and setpriv";
            if (qEnvironmentVariableIsSet("CI"))
                QFAIL(why);
            QSKIP(why);
        }
        // The outsider reaches the folder, as it would reach /run.
        const QString folder = qEnvironmentVariable("KALVESSA_LOCK_DIR");
        for (const QString &path : {scratch.path(), folder})
            QCOMPARE(::chmod(QFile::encodeName(path).constData(), 0755), 0);
        QCOMPARE(::chmod(QFile::encodeName(folder).constData(), mode_t(folderMode)), 0);
        const QString path = lockPath();
        QVERIFY(!path.isEmpty());
        if (squatted)
            QVERIFY(QDir().rmdir(QFileInfo(path).path()));

        // It makes the folders on the way and holds the file until told to stop.
        QProcess outsider;
        outsider.start(
            setpriv,
            asOutsider
                + QStringList{QStringLiteral("sh"), QStringLiteral("-c"),
                              QStringLiteral("mkdir -p \"${1%/*}\"; exec flock -n \"$1\" "
                                             "sh -c 'echo held; exec cat'"),
                              QStringLiteral("outsider"), path});
        QVERIFY(outsider.waitForStarted());
        outsider.waitForReadyRead();  // "held", or its end
        const Attempt member = acquire();
        outsider.closeWriteChannel();
        outsider.waitForFinished();
        QCOMPARE(outsider.state(), QProcess::NotRunning);
        QVERIFY2(member.result == result, qPrintable(member.error));
    }
};

QTEST_GUILESS_MAIN(TestTapLock)
#include "tst_taplock.moc"
