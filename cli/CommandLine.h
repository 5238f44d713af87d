#pragma once

#include <QStringList>

// Reads the command line (the program's name first, as QCoreApplication::arguments() has it),
// runs the command it names and returns the process's exit status.
int runCommandLine(const QStringList &arguments);
