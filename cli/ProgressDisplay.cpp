#include "ProgressDisplay.h"

#include <algorithm>

#include "Console.h"

namespace {

constexpr int Percent = 100;
constexpr int BarWidth = 30;
constexpr int PlainLines = 10;

}  // namespace

ProgressDisplay::ProgressDisplay(bool terminal) : m_terminal(terminal) {}

ProgressDisplay::~ProgressDisplay()
{
    finish();
}

void ProgressDisplay::show(const QString &step, const OperationProgress &progress)
{
    const QString line = console::tr("%1 (%2%)").arg(step).arg(progress.percent);
    if (line == m_lastShown)
        return;
    m_lastShown = line;

    if (m_terminal) {
        const int filled = progress.percent * BarWidth / Percent;
        console::write(QStringLiteral("\r[%1%2] %3\x1b[K")
                           .arg(QString(filled, QLatin1Char('#')),
                                QString(BarWidth - filled, QLatin1Char('.')), line));
        m_barShown = true;
        return;
    }
    // A stage's start says nothing the line before it did not.
    if (progress.done <= 0)
        return;
    const int tenth = progress.percent * PlainLines / Percent;
    if (tenth == m_lastTenth && progress.done < progress.total)
        return;
    m_lastTenth = tenth;
    console::out(line);
}

void ProgressDisplay::show(const QString &step, int done, int total)
{
    if (total <= 0)
        return;
    OperationProgress progress;
    progress.percent =
        static_cast<int>(std::clamp<qint64>(qint64(done) * Percent / total, 0, Percent));
    progress.done = done;
    progress.total = total;
    show(step, progress);
}

void ProgressDisplay::finish()
{
    if (m_barShown)
        console::write(QStringLiteral("\n"));
    m_barShown = false;
}
