#pragma once

#include <cstdio>

#include <QByteArray>
#include <QTemporaryFile>

#include <unistd.h>

// Sends the process's standard output to a temporary file until text() is called, so a test
// can check the program's diagnostics. Restores the original output on every path.
class StdoutCapture
{
public:
    StdoutCapture()
    {
        std::fflush(stdout);
        if (m_file.open()) {
            m_saved = ::dup(STDOUT_FILENO);
            if (m_saved >= 0)
                ::dup2(m_file.handle(), STDOUT_FILENO);
        }
    }
    ~StdoutCapture() { restore(); }
    StdoutCapture(const StdoutCapture &) = delete;
    StdoutCapture &operator=(const StdoutCapture &) = delete;

    QByteArray text()
    {
        restore();
        m_file.seek(0);
        return m_file.readAll();
    }

private:
    void restore()
    {
        if (m_saved < 0)
            return;
        std::fflush(stdout);
        ::dup2(m_saved, STDOUT_FILENO);
        ::close(m_saved);
        m_saved = -1;
    }

    QTemporaryFile m_file;
    int m_saved = -1;
};
