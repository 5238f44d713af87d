#pragma once

#include <QJsonObject>
#include <QLoggingCategory>
#include <QString>
#include <QStringList>

// The tool's diagnostics ("kalvessa.cli"): which tap was taken, and why others were passed over.
Q_DECLARE_LOGGING_CATEGORY(lcCli)

// Standard output carries results (text, or JSON that scripts read); standard error carries
// problems and notes, so a script that redirects the results still sees why something failed.
namespace console {

QString tr(const char *text, int n = -1);

// --quiet: only errors and the results asked for; what the tool did and how far it got is not
// told. --json: standard output holds nothing but JSON documents.
void setQuiet(bool quiet);
void setJson(bool json);
bool jsonMode();
// Whether lines that tell people what happens (not results, not errors) are shown.
bool informing();

void out(const QString &text);  // a result, followed by a new line
void info(const QString &text);  // what was done, on standard output; shown when informing()
void err(const QString &text);  // a problem, followed by a new line
void note(const QString &text);  // a remark on standard error; shown when not quiet
void json(const QJsonObject &object);
bool jsonWritten();  // a JSON document went to standard output
// Text on standard output without a new line, flushed at once: prompts and progress. Under
// --json it goes to standard error, to keep the output one document.
void write(const QString &text);

// The problems reported since the last call, for the JSON that carries them.
QStringList takeErrors();

bool outputIsTerminal();
bool inputIsTerminal();
// One line from standard input, without its end; empty at the end of input.
QString readLine();

}  // namespace console
