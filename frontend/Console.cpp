#include "Console.h"

#include <QCoreApplication>
#include <QJsonDocument>

#include <cstdio>

#include <unistd.h>

Q_LOGGING_CATEGORY(lcCli, "kalvessa.cli", QtInfoMsg)

namespace console {

namespace {

// One command per process: the modes are set once the command line has been read.
bool quietMode = false;
bool jsonOutput = false;
bool documentWritten = false;
QStringList errors;

void put(std::FILE *stream, const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
}

}  // namespace

QString tr(const char *text, int n)
{
    return QCoreApplication::translate("kalvessa100ctl", text, nullptr, n);
}

void setQuiet(bool quiet)
{
    quietMode = quiet;
}

void setJson(bool json)
{
    jsonOutput = json;
}

bool jsonMode()
{
    return jsonOutput;
}

bool informing()
{
    return !quietMode && !jsonOutput;
}

void out(const QString &text)
{
    put(stdout, (text + QLatin1Char('\n')).toLocal8Bit());
}

void info(const QString &text)
{
    if (informing())
        out(text);
}

void err(const QString &text)
{
    errors.append(text);
    put(stderr, (text + QLatin1Char('\n')).toLocal8Bit());
}

void note(const QString &text)
{
    if (!quietMode)
        put(stderr, (text + QLatin1Char('\n')).toLocal8Bit());
}

void json(const QJsonObject &object)
{
    documentWritten = true;
    put(stdout, QJsonDocument(object).toJson(QJsonDocument::Indented));
}

bool jsonWritten()
{
    return documentWritten;
}

void write(const QString &text)
{
    put(jsonOutput ? stderr : stdout, text.toLocal8Bit());
}

QStringList takeErrors()
{
    return std::exchange(errors, {});
}

bool outputIsTerminal()
{
    return ::isatty(STDOUT_FILENO) == 1;
}

bool inputIsTerminal()
{
    return ::isatty(STDIN_FILENO) == 1;
}

QString readLine()
{
    QByteArray line;
    for (int c = std::fgetc(stdin); c != EOF && c != '\n'; c = std::fgetc(stdin))
        line.append(static_cast<char>(c));
    return QString::fromLocal8Bit(line);
}

}  // namespace console
