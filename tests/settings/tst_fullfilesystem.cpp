// Saving onto a file system with no room left, on a tiny tmpfs mounted in the private mount
// namespace that tests/scripts/in-mountns.sh makes for this program.
#include <QtTest>

#include <cerrno>
#include <cstring>

#include <sys/mount.h>

#include "SettingsFile.h"

class TestFullFileSystem : public QObject
{
    Q_OBJECT

    QTemporaryDir scratch;
    QString mountPoint;

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariable("KALVESSA_MOUNTNS") != QLatin1String("1")) {
            const QString why = QStringLiteral("No private mount namespace: ")
                + qEnvironmentVariable("KALVESSA_MOUNTNS_WHY");
            if (qEnvironmentVariableIsSet("CI"))
                QFAIL(qPrintable(why));
            QSKIP(qPrintable(why));
        }
        mountPoint = scratch.filePath(QStringLiteral("full"));
        QVERIFY(QDir().mkpath(mountPoint));
        QVERIFY2(::mount("kalvessa-full", QFile::encodeName(mountPoint).constData(), "tmpfs", 0,
                         "size=64k")
                     == 0,
                 std::strerror(errno));
    }

    void cleanupTestCase()
    {
        if (!mountPoint.isEmpty())
            ::umount2(QFile::encodeName(mountPoint).constData(), MNT_DETACH);
    }

    // Refused with the reason, the file as it was, no partial file beside it.
    void saveOnAFullFileSystemLeavesTheOldFile_data()
    {
        QTest::addColumn<bool>("existing");
        QTest::newRow("over a file") << true;
        QTest::newRow("a new name") << false;
    }

    void saveOnAFullFileSystemLeavesTheOldFile()
    {
        QFETCH(bool, existing);
        QDir dir(mountPoint);
        for (const QString &name : dir.entryList(QDir::Files))
            QVERIFY(dir.remove(name));
        const QString path = dir.filePath(QStringLiteral("tap.json"));
        QString error;
        if (existing)
            QVERIFY2(SettingsFile::save(path, DeviceSettings(), &error), qPrintable(error));
        const QByteArray before = existing ? SettingsFile::serialize(DeviceSettings()) : "";

        QFile filler(dir.filePath(QStringLiteral("filler")));
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray block(4096, 'x');
        while (filler.write(block) > 0) {}
        const QString noSpace = QString::fromLocal8Bit(std::strerror(ENOSPC));
        QCOMPARE(filler.errorString(), noSpace);
        filler.close();
        const QStringList entries = dir.entryList(QDir::Files);

        DeviceSettings changed;
        changed.setCaptureFcs(1);
        QVERIFY(!SettingsFile::save(path, changed, &error));
        QVERIFY2(error.contains(path) && error.contains(noSpace), qPrintable(error));
        QCOMPARE(dir.entryList(QDir::Files), entries);
        QFile kept(path);
        QCOMPARE(kept.exists(), existing);
        QVERIFY(!existing || (kept.open(QIODevice::ReadOnly) && kept.readAll() == before));
    }
};

QTEST_GUILESS_MAIN(TestFullFileSystem)
#include "tst_fullfilesystem.moc"
