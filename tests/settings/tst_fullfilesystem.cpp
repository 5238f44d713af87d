// Saving onto a file system with no room left, on a tiny tmpfs mounted in the private mount
// namespace that tools/testbed/in-netns.sh makes for this program.
#include <QtTest>

#include <cerrno>
#include <cstring>

#include <sys/mount.h>

#include "SettingsFile.h"
#include "TapTestBed.h"

class TestFullFileSystem : public QObject
{
    Q_OBJECT

private slots:
    // Refused with the reason, over a file or under a new name: the old file as it was, no
    // partial file beside it.
    void saveOnAFullFileSystemLeavesTheOldFile()
    {
        REQUIRE_TAP_TEST_BED();  // the namespaces, where mounting touches nothing of the host
        QTemporaryDir scratch;
        const QByteArray mountPoint = QFile::encodeName(scratch.path());
        QVERIFY2(::mount("kalvessa-full", mountPoint.constData(), "tmpfs", 0, "size=64k") == 0,
                 std::strerror(errno));
        const auto unmount = qScopeGuard([&] { ::umount2(mountPoint.constData(), MNT_DETACH); });
        QDir dir(scratch.path());
        const QString path = dir.filePath(QStringLiteral("tap.json"));
        const QString newName = dir.filePath(QStringLiteral("new.json"));
        QString error;
        QVERIFY2(SettingsFile::save(path, DeviceSettings(), &error), qPrintable(error));
        QFile filler(dir.filePath(QStringLiteral("filler")));
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        while (filler.write(QByteArray(4096, 'x')) > 0) {}
        const QString noSpace = QString::fromLocal8Bit(std::strerror(ENOSPC));
        QCOMPARE(filler.errorString(), noSpace);

        DeviceSettings changed;
        changed.setCaptureFcs(1);
        for (const QString &target : {path, newName}) {
            QVERIFY(!SettingsFile::save(target, changed, &error));
            QVERIFY2(error.contains(target) && error.contains(noSpace), qPrintable(error));
        }
        QCOMPARE(dir.entryList(QDir::Files), (QStringList{"filler", "tap.json"}));
        QFile kept(path);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), SettingsFile::serialize(DeviceSettings()));
    }
};

QTEST_GUILESS_MAIN(TestFullFileSystem)
#include "tst_fullfilesystem.moc"
