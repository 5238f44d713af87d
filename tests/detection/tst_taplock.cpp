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
// Someone in none of our groups ("nobody").
const QStringList AsOutsider{"--reuid=65534", "--regid=65534", "--clear-groups"};

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

    // What an earlier holder left in the file, and whether it holds the file still: its
    // process id is told only while that process runs, and only the holder removes the file.
    // Looking without taking tells the holder from the kernel, whatever its file says.
    void filesLeftBehind_data()
    {
        QTest::addColumn<QByteArray>("content");  // "-": no file; "ended": an ended process's id
        QTest::addColumn<bool>("held");
        const QByteArray self = QByteArray::number(QCoreApplication::applicationPid());
        QTest::newRow("none") << QByteArray("-") << false;
        QTest::newRow("an ended holder's") << QByteArray("ended") << false;
        QTest::newRow("held by this process") << self << true;
        QTest::newRow("held, naming an ended process") << QByteArray("ended") << true;
    }

    void filesLeftBehind()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, held);
        const qint64 self = QCoreApplication::applicationPid();
        const QString path = lockPath();
        QVERIFY(!path.isEmpty() && !QFile::exists(path));
        QFile other(path);
        if (content != "-") {
            QVERIFY(other.open(QIODevice::WriteOnly));
            other.write(content == "ended" ? QByteArray::number(endedPid()) : content);
            QVERIFY(other.flush() && (!held || ::flock(other.handle(), LOCK_EX | LOCK_NB) == 0));
        }
        qint64 holder = -1;
        QCOMPARE(TapLock::isHeld(Tap, &holder), held);
        QCOMPARE(holder, held ? self : 0);
        Attempt first = acquire();
        QCOMPARE(first.result, held ? TapLock::Result::InUse : TapLock::Result::Taken);
        QCOMPARE(first.ownerPid, held && content.toLongLong() == self ? self : 0);
        const Attempt second = acquire();
        QCOMPARE(second.ownerPid, held ? first.ownerPid : self);  // the first holds it now
        first.lock.reset();
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
        std::atomic<int> holding{0}, overlaps{0}, taken{0}, unavailable{0};
        const auto work = [&] {
            for (int round = 0; round < Rounds; ++round) {
                const Attempt a = acquire();
                unavailable += a.result == TapLock::Result::Unavailable;
                if (a.result == TapLock::Result::Taken) {
                    ++taken;
                    overlaps += holding.fetch_add(1) != 0;
                    std::this_thread::yield();
                    holding.fetch_sub(1);
                }
            }
        };
        std::vector<std::thread> threads;
        for (int i = 0; i < Threads; ++i)
            threads.emplace_back(work);
        for (std::thread &t : threads)
            t.join();
        QCOMPARE(overlaps.load(), 0);
        QCOMPARE(unavailable.load(), 0);
        QVERIFY(taken.load() > 0);
    }

    // Whoever can make a tap's file first holds the tap, so a user outside the programs' users
    // must not be able to make one where they look: at worst they keep them from locking.
    void anOutsiderCannotHoldATap_data()
    {
        QTest::addColumn<int>("folderMode");
        QTest::addColumn<bool>("squatted");  // the outsider made the member's own folder first
        QTest::newRow("the group's folder") << 02770 << false;
        QTest::newRow("a folder for everyone") << 01777 << false;
        QTest::newRow("a folder for everyone, squatted") << 01777 << true;
    }

    void anOutsiderCannotHoldATap()
    {
        QFETCH(int, folderMode);
        QFETCH(bool, squatted);
        // Only root can become another user, and not in a user namespace that maps none.
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        if (setpriv.isEmpty()
            || QProcess::execute(setpriv, AsOutsider + QStringList{"true"}) != 0) {
            if (qEnvironmentVariableIsSet("CI"))
                QFAIL("No second user: this needs root and setpriv");
            QSKIP("No second user: this needs root and setpriv");
        }
        // The outsider reaches the folder, as it would reach /run.
        const QString folder = qEnvironmentVariable("KALVESSA_LOCK_DIR");
        QCOMPARE(::chmod(QFile::encodeName(scratch.path()).constData(), 0755), 0);
        QCOMPARE(::chmod(QFile::encodeName(folder).constData(), mode_t(folderMode)), 0);
        const QString path = lockPath();
        QVERIFY(!path.isEmpty() && (!squatted || QDir().rmdir(QFileInfo(path).path())));

        // It makes the folders on the way and holds the file until told to stop.
        QProcess outsider;
        outsider.start(setpriv,
                       AsOutsider
                           + QStringList{"sh", "-c",
                                         "mkdir -p \"${1%/*}\"; exec flock -n "
                                         "\"$1\" sh -c 'echo held; exec cat'",
                                         "outsider", path});
        QVERIFY(outsider.waitForStarted());
        outsider.waitForReadyRead();  // "held", or its end
        const Attempt member = acquire();
        outsider.closeWriteChannel();
        outsider.waitForFinished();
        QCOMPARE(outsider.state(), QProcess::NotRunning);
        QVERIFY2(member.result
                     == (squatted ? TapLock::Result::Unavailable : TapLock::Result::Taken),
                 qPrintable(member.error));
    }
};

QTEST_GUILESS_MAIN(TestTapLock)
#include "tst_taplock.moc"
