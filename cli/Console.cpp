#include "Console.h"

#include <QCoreApplication>
#include <QJsonDocument>

#include <cstdio>

#include <unistd.h>

Q_LOGGING_CATEGORY(lcCli, "kalvessa.cli", QtInfoMsg)

namespace console {

namespace {

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

void out(const QString &text)
{
    put(stdout, (text + QLatin1Char('\n')).toLocal8Bit());
}

void err(const QString &text)
{
    put(stderr, (text + QLatin1Char('\n')).toLocal8Bit());
}

void json(const QJsonObject &object)
{
    put(stdout, QJsonDocument(object).toJson(QJsonDocument::Indented));
}

void write(const QString &text)
{
    put(stdout, text.toLocal8Bit());
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
