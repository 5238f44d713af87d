#pragma once

#include <QString>

// The progress of a long run: on a terminal one bar redrawn in place, elsewhere (a log, a
// pipe) a plain line every tenth of the way, so a log stays readable.
class ProgressDisplay
{
public:
    explicit ProgressDisplay(bool terminal);
    ~ProgressDisplay();  // ends the bar's line
    ProgressDisplay(const ProgressDisplay &) = delete;
    ProgressDisplay &operator=(const ProgressDisplay &) = delete;

    // `step` names where the run is ("page 12 of 768"); done of total steps are complete.
    void show(const QString &step, int done, int total);
    // Ends the bar's line, so that what is printed next starts on a line of its own.
    void finish();

private:
    const bool m_terminal;
    bool m_barShown = false;
    QString m_lastShown;
    int m_lastTenth = -1;
    int m_lastTotal = -1;
};
