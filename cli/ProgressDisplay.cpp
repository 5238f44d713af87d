#include "ProgressDisplay.h"

#include "Console.h"

namespace {

constexpr int Percent = 100;
constexpr int BarWidth = 30;
constexpr int PlainLinesPerStage = 10;

}  // namespace

ProgressDisplay::ProgressDisplay(bool terminal) : m_terminal(terminal) {}

ProgressDisplay::~ProgressDisplay()
{
    finish();
}

void ProgressDisplay::show(const QString &step, int done, int total)
{
    if (total <= 0)
        return;
    const int percent = static_cast<int>(qint64(done) * Percent / total);
    const QString line = console::tr("%1 (%2%)").arg(step).arg(percent);
    if (line == m_lastShown)
        return;  // the last step is reported twice: once written, once acknowledged
    m_lastShown = line;

    if (m_terminal) {
        const int filled = static_cast<int>(qint64(done) * BarWidth / total);
        console::write(QStringLiteral("\r[%1%2] %3\x1b[K")
                           .arg(QString(filled, QLatin1Char('#')),
                                QString(BarWidth - filled, QLatin1Char('.')), line));
        m_barShown = true;
        return;
    }
    // A new stage (a generation-3 tap erases before it writes) starts its own lines; its
    // start says nothing the line before the run did not.
    if (done == 0)
        return;
    const int tenth = done * PlainLinesPerStage / total;
    if (total == m_lastTotal && tenth == m_lastTenth)
        return;
    m_lastTotal = total;
    m_lastTenth = tenth;
    console::out(line);
}

void ProgressDisplay::finish()
{
    if (m_barShown)
        console::write(QStringLiteral("\n"));
    m_barShown = false;
}
