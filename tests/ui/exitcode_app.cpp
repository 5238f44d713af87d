// The program's own entry with one addition: as soon as the event loop runs, it reports
// the window it finds and ends the loop with the code given in KALVESSA_TEST_EXIT_CODE.
#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QTimer>
#include <QWidget>

#include <cstdio>

#include "Application.h"

namespace {

void reportAndExit()
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *w : windows) {
        if (w->objectName() == QLatin1String("MainWindow") && w->isVisible())
            std::printf("window: %s\n", qPrintable(w->windowTitle()));
    }
    std::printf("images: %s\n", QFile::exists(QStringLiteral(":/img/red_small.png")) ? "yes" : "no");
    std::fflush(stdout);
    QCoreApplication::exit(qEnvironmentVariableIntValue("KALVESSA_TEST_EXIT_CODE"));
}

void scheduleExit()
{
    QTimer::singleShot(0, qApp, reportAndExit);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(scheduleExit)

int main(int argc, char **argv)
{
    return runApplication(argc, argv);
}
