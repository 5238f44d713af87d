#include "Application.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Diagnostics.h"
#include "FirmwareImage.h"
#include "KalvessaVersion.h"
#include "MainWindow.h"
#include "Translations.h"

namespace {

// The desktop id shared by the desktop entry, the AppStream metainfo and the icons
// (packaging/); it ties the window to its entry where the desktop asks the program.
const char *const DesktopId = "org.kalvessa.Kalvessa100";

class CommandLine
{
    Q_DECLARE_TR_FUNCTIONS(CommandLine)

public:
    // --help and --version answer on the terminal, with or without a display, so they are
    // read before any application object exists. Everything else is left for QApplication:
    // its own options (-platform, -style, -reverse, ...) are unknown here, which is no error,
    // and are read as whole words, never as bundles of one-letter options.
    // Returns the exit code when the program is done, or -1 to go on to the window.
    static int answer(int argc, char **argv)
    {
        QStringList arguments;
        for (int i = 0; i < argc; ++i)
            arguments << QString::fromLocal8Bit(argv[i]);
        QCommandLineParser parser;
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        parser.setApplicationDescription(
            tr("Configures a Kalvessa 100 network tap: its packet filter, timestamps, capture\n"
               "of CRC-error frames and FCS, and its firmware. The window needs a display.\n\n"
               "Talking to the tap needs the capture privilege: with the Debian package, the\n"
               "members of the group kalvessa have it (see man kalvessa100).\n"
               "Options of the Qt toolkit, such as -platform, are passed on to it."));
        const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                      tr("Print this help and exit."));
        const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                         tr("Print the version and exit."));
        parser.addOption(help);
        parser.addOption(version);
        parser.parse(arguments);

        if (parser.isSet(help)) {
            // Without an application object the parser cannot know the program's name.
            QString text = parser.helpText();
            text.replace(QStringLiteral("<executable_name>"), QStringLiteral("kalvessa100"));
            std::fputs(qPrintable(text), stdout);
            return EXIT_SUCCESS;
        }
        if (parser.isSet(version)) {
            std::printf("kalvessa100 %s\n", KALVESSA_VERSION);
            if (firmwareImageIsStandIn)
                std::puts(qPrintable(tr("This build carries a stand-in firmware image: it is "
                                        "not a release, and its firmware update is for the "
                                        "simulated tap only.")));
            return EXIT_SUCCESS;
        }
        return -1;
    }
};

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

}  // namespace

int runApplication(int &argc, char **argv)
{
    if (const int done = CommandLine::answer(argc, argv); done >= 0)
        return done;

    if (!displayAvailable(argc, argv)) {
        std::fputs("There is no display to show the window on; run it under a virtual one, "
                   "for example: xvfb-run -a kalvessa100\n",
                   stderr);
        return EXIT_FAILURE;
    }

    // The window has always told what went wrong below it on standard output.
    diagnostics::writeTo(stdout);
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QString::fromLatin1(DesktopId));
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
    }  // the window goes before the application object
    return result;
}
