#pragma once

#include <QJsonObject>
#include <QLoggingCategory>
#include <QString>

// The tool's diagnostics ("kalvessa.cli"): which tap was taken, and why others were passed over.
Q_DECLARE_LOGGING_CATEGORY(lcCli)

// Standard output carries results (text, or JSON that scripts read); standard error carries
// problems and notes, so a script that redirects the results still sees why something failed.
namespace console {

QString tr(const char *text, int n = -1);

void out(const QString &text);  // followed by a new line
void err(const QString &text);  // followed by a new line
void json(const QJsonObject &object);
// Text on standard output without a new line, flushed at once: prompts and progress.
void write(const QString &text);

bool outputIsTerminal();
bool inputIsTerminal();
// One line from standard input, without its end; empty at the end of input.
QString readLine();

}  // namespace console
