// The program's own entry with one addition: once the event loop runs, it names the window
// it finds shown and ends the loop with the code given in KALVESSA_TEST_EXIT_CODE.
#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <cstdio>

#include "Application.h"

static void scheduleExit()
{
    QTimer::singleShot(0, qApp, [] {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (w->objectName() == QLatin1String("MainWindow") && w->isVisible())
                std::printf("window: %s\n", qPrintable(w->windowTitle()));
        std::fflush(stdout);
        QCoreApplication::exit(qEnvironmentVariableIntValue("KALVESSA_TEST_EXIT_CODE"));
    });
}
Q_COREAPP_STARTUP_FUNCTION(scheduleExit)

int main(int argc, char **argv)
{
    return runApplication(argc, argv);
}
