#include "Application.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "FirmwareImage.h"
#include "MainWindow.h"
#include "Translations.h"

namespace {

// Without a display the toolkit aborts with a core dump and a page of plugin names;
// a person starting the tool on a headless machine deserves one plain sentence instead.
bool displayAvailable(int argc, char **argv)
{
    for (const char *var : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char *value = std::getenv(var);
        if (value && *value)
            return true;
    }
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return true;
    }
    return false;
}

} // namespace

int runApplication(int &argc, char **argv)
{
    if (!displayAvailable(argc, argv)) {
        std::fputs("There is no display to show the window on; run it under a virtual one, "
                   "for example: xvfb-run -a kalvessa100\n",
                   stderr);
        return EXIT_FAILURE;
    }

    QApplication app(argc, argv);
    const Translations translations;
    if (firmwareImageIsStandIn) {
        std::fputs("Note: this build carries a stand-in firmware image; the firmware update "
                   "is for the simulated tap only.\n",
                   stdout);
        std::fflush(stdout);
    }

    int result = 0;
    {
        MainWindow window;
        window.show();
        result = app.exec();
    } // the window goes before the application object
    return result;
}
