#include <QCoreApplication>

#include "CommandLine.h"
#include "KalvessaVersion.h"

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kalvessa100ctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KALVESSA_VERSION));
    return runCommandLine(QCoreApplication::arguments());
}
