#pragma once

#include "MainWindow.h"

// What the tests need to reach inside the window beyond its widgets.
class MainWindowTestAccess
{
public:
    static void setStatusIcon(MainWindow &w, bool present) { w.setStatusIcon(present); }
    static void setUpdating(MainWindow &w, bool updating) { w.updating = updating; }
    static void showProblem(MainWindow &w, const QString &line)
    {
        w.showProblem(line, QStringLiteral("title"), QStringLiteral("details"));
    }
};
