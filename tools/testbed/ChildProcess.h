#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sys/types.h>

// A child program started with fork and exec, its standard output on a pipe.
//
// QProcess starts children with raw clone calls that ThreadSanitizer cannot follow; after the
// first one, a run under it silently reports nothing more. The test bed starts the simulated
// tap and `ip` through this instead, so the worker and window tests keep their race checks.
class ChildProcess
{
public:
    ChildProcess() = default;
    ~ChildProcess();  // terminates a child still running and reaps it
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    enum class Errors { Inherited, Merged };
    // Starts the program; its standard error stays the caller's or joins its output. With
    // dieWithParent the child is sent SIGTERM when the thread that started it ends, so a
    // crashed test leaves none behind.
    bool start(const QString &program, const QStringList &arguments,
               Errors errors = Errors::Inherited, bool dieWithParent = false);
    bool running();
    // What the child has written, waiting up to timeoutMs for something to arrive.
    QByteArray read(int timeoutMs);
    void terminate();
    // True when the child ended within the time.
    bool waitForFinished(int timeoutMs);
    int exitCode() const { return m_exitCode; }

    // Runs the program to its end; its exit code, or -1 when it could not be run or took
    // longer than the time. Its output (standard output and error together) goes to *output.
    static int run(const QString &program, const QStringList &arguments, QByteArray *output,
                   int timeoutMs);

private:
    bool reap(bool wait);

    pid_t m_pid = -1;
    int m_output = -1;
    int m_exitCode = -1;
};
