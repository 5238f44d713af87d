#include <QCoreApplication>

#include "CommandLine.h"
#include "Diagnostics.h"
#include "KalvessaVersion.h"

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kalvessa100ctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KALVESSA_VERSION));
    // Standard output carries results, which scripts read; what the libraries say goes beside,
    // each cause once, however often a retry meets it again.
    diagnostics::writeTo(stderr, diagnostics::Repeats::Once);
    return runCommandLine(QCoreApplication::arguments());
}
