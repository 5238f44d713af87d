#pragma once

// Programs run as a script runs them, judged by their exit status and both output streams;
// and the small file chores around them.

#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

struct Run
{
    int code = -1;  // -1: did not end on its own
    QString out;
    QString err;
};

inline Run finished(QProcess &process, int timeoutMs = 120000)
{
    Run run;
    if (process.waitForFinished(timeoutMs) && process.exitStatus() == QProcess::NormalExit)
        run.code = process.exitCode();
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

inline Run program(const QString &path, const QStringList &arguments, int timeoutMs = 120000)
{
    QProcess process;
    process.start(path, arguments);
    return finished(process, timeoutMs);
}

inline QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Replaces the file's content; false unless all of it was written.
inline bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write(content) == content.size() && file.flush();
}
