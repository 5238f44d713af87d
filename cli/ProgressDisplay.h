#pragma once

#include <QString>

#include "OperationProgress.h"

// The progress of a long run: on a terminal one bar redrawn in place, elsewhere (a log, a
// pipe) a plain line every tenth of the way and at the end of every stage, so a log stays
// readable.
class ProgressDisplay
{
public:
    explicit ProgressDisplay(bool terminal);
    ~ProgressDisplay();  // ends the bar's line
    ProgressDisplay(const ProgressDisplay &) = delete;
    ProgressDisplay &operator=(const ProgressDisplay &) = delete;

    // `step` names where the run is ("page 12 of 768"); `progress` how far the whole run is.
    void show(const QString &step, const OperationProgress &progress);
    // A run of one stage: `done` of `total` steps.
    void show(const QString &step, int done, int total);
    // Ends the bar's line, so that what is printed next starts on a line of its own.
    void finish();

private:
    const bool m_terminal;
    bool m_barShown = false;
    QString m_lastShown;
    int m_lastTenth = -1;
};
