// The program's own entry with one addition: once the event loop runs, it ends it with the
// code given in KALVESSA_TEST_EXIT_CODE.
#include <QCoreApplication>
#include <QTimer>

#include "Application.h"

static void scheduleExit()
{
    QTimer::singleShot(0, qApp, [] {
        QCoreApplication::exit(qEnvironmentVariableIntValue("KALVESSA_TEST_EXIT_CODE"));
    });
}
Q_COREAPP_STARTUP_FUNCTION(scheduleExit)

int main(int argc, char **argv)
{
    return runApplication(argc, argv);
}
