#include "CommandLine.h"

#include <QCommandLineParser>

#include <array>

#include "Commands.h"
#include "Console.h"
#include "KalvessaVersion.h"
#include "SettingOptions.h"

namespace {

using console::tr;

constexpr int CommandColumnWidth = 18;

const QString InterfaceOption = QStringLiteral("interface");
const QString JsonOption = QStringLiteral("json");
const QString ProfileOption = QStringLiteral("profile");
const QString StoreOption = QStringLiteral("store");
const QString CheckOption = QStringLiteral("check");
const QString YesOption = QStringLiteral("yes");
const QString ForceStandInOption = QStringLiteral("force-stand-in");

using Runner = ExitCode (*)(const QCommandLineParser &parser, const QStringList &arguments);
using OptionAdder = void (*)(QCommandLineParser &parser);

struct Command
{
    const char *name;
    const char *argument;  // the one positional argument after the command's name, or null
    const char *argumentHelp;
    bool choosesTap;  // takes --interface
    const char *summary;
    OptionAdder addOptions;
    Runner run;
};

void addInterface(QCommandLineParser &parser, const char *help)
{
    parser.addOption({{QStringLiteral("i"), InterfaceOption}, tr(help), QStringLiteral("NAME")});
}

void addJson(QCommandLineParser &parser)
{
    parser.addOption({JsonOption, tr("Print JSON instead of text.")});
}

constexpr const char *FirstTapHelp =
    QT_TRANSLATE_NOOP("kalvessa100ctl", "The tap's interface; without it, the first tap found.");
constexpr const char *OnlyTapHelp = QT_TRANSLATE_NOOP(
    "kalvessa100ctl", "The tap's interface; may be left out when only one tap is attached.");

const std::array<Command, 5> Commands{{
    {"list", nullptr, nullptr, false,
     QT_TRANSLATE_NOOP("kalvessa100ctl",
                       "List every attached Kalvessa 100: interface, MAC "
                       "address, generation and firmware, or why it cannot be used."),
     [](QCommandLineParser &p) { addJson(p); },
     [](const QCommandLineParser &p, const QStringList &) {
         return listTaps(p.isSet(JsonOption));
     }},
    {"show", nullptr, nullptr, true,
     QT_TRANSLATE_NOOP("kalvessa100ctl",
                       "Show the settings the tap works with (generation 4); "
                       "--json prints them as a settings file."),
     [](QCommandLineParser &p) {
         addInterface(p, FirstTapHelp);
         addJson(p);
     },
     [](const QCommandLineParser &p, const QStringList &) {
         return showSettings(p.value(InterfaceOption), p.isSet(JsonOption));
     }},
    {"apply", nullptr, nullptr, true,
     QT_TRANSLATE_NOOP("kalvessa100ctl",
                       "Write settings into the tap's working copy, from a settings file and/or "
                       "options (options win). On generation 4 what neither gives stays as the "
                       "tap holds it, and nothing is written when the tap already holds the "
                       "result. On generation 3, which cannot be read back, every setting must be "
                       "given."),
     [](QCommandLineParser &p) {
         addInterface(p, OnlyTapHelp);
         p.addOption({ProfileOption, tr("Settings file to apply."), QStringLiteral("FILE")});
         p.addOptions(settingoptions::options());
         p.addOption({StoreOption, tr("Also store the settings, so they survive a power cycle.")});
         p.addOption({CheckOption, tr("Print what would change and write nothing.")});
         addJson(p);
     },
     [](const QCommandLineParser &p, const QStringList &) {
         ApplyRequest request;
         QString error;
         if (!settingoptions::read(p, &request.options, &error)) {
             console::err(error);
             return ExitCode::BadInput;
         }
         request.interfaceName = p.value(InterfaceOption);
         request.profilePath = p.value(ProfileOption);
         request.store = p.isSet(StoreOption);
         request.check = p.isSet(CheckOption);
         request.json = p.isSet(JsonOption);
         return applySettings(request);
     }},
    {"save-profile", "FILE", QT_TRANSLATE_NOOP("kalvessa100ctl", "The settings file to write."),
     true,
     QT_TRANSLATE_NOOP("kalvessa100ctl",
                       "Read the tap's settings (generation 4) into a settings file."),
     [](QCommandLineParser &p) { addInterface(p, FirstTapHelp); },
     [](const QCommandLineParser &p, const QStringList &arguments) {
         return saveProfile(p.value(InterfaceOption), arguments.first());
     }},
    {"update-firmware", nullptr, nullptr, true,
     QT_TRANSLATE_NOOP("kalvessa100ctl",
                       "Write the firmware carried by this program into the tap. "
                       "Asks first unless --yes; the tap must stay plugged in."),
     [](QCommandLineParser &p) {
         addInterface(p, OnlyTapHelp);
         p.addOption({YesOption, tr("Do not ask.")});
         p.addOption({ForceStandInOption,
                      tr("Write the stand-in image of a test build even into a tap that is not "
                         "the simulated one.")});
     },
     [](const QCommandLineParser &p, const QStringList &) {
         UpdateRequest request;
         request.interfaceName = p.value(InterfaceOption);
         request.confirmed = p.isSet(YesOption);
         request.forceStandIn = p.isSet(ForceStandInOption);
         return updateFirmware(request);
     }},
}};

QString generalHelp()
{
    QString text = tr("Usage: kalvessa100ctl COMMAND [options]\n"
                      "Configures Kalvessa 100 network taps.\n\nCommands:\n");
    for (const Command &command : Commands) {
        const QString usage = QStringLiteral("%1 %2").arg(QLatin1String(command.name),
                                                          QLatin1String(command.argument));
        text += QStringLiteral("  %1 %2\n")
                    .arg(usage.leftJustified(CommandColumnWidth),
                         tr(command.summary).section(QLatin1Char('.'), 0, 0) + QLatin1Char('.'));
    }
    text += tr("\n\"kalvessa100ctl COMMAND --help\" tells a command's options; --version prints "
               "the version.\nExit status: 0 done; 1 the tap refused or did not answer; 2 bad "
               "usage or input; 3 no tap; 4 the tap cannot be reached; 5 another program holds "
               "the tap.");
    return text;
}

const Command *commandNamed(const QString &name)
{
    for (const Command &command : Commands) {
        if (name == QLatin1String(command.name))
            return &command;
    }
    return nullptr;
}

}  // namespace

int runCommandLine(const QStringList &arguments)
{
    const QString word = arguments.value(1);
    if (word == QLatin1String("-h") || word == QLatin1String("--help")
        || word == QLatin1String("help")) {
        console::out(generalHelp());
        return exitStatus(ExitCode::Success);
    }
    if (word == QLatin1String("-v") || word == QLatin1String("--version")) {
        console::out(QStringLiteral("kalvessa100ctl " KALVESSA_VERSION));
        return exitStatus(ExitCode::Success);
    }
    const Command *command = commandNamed(word);
    if (command == nullptr) {
        if (!word.isEmpty())
            console::err(tr("Unknown command \"%1\".").arg(word));
        console::err(generalHelp());
        return exitStatus(ExitCode::BadInput);
    }

    QCommandLineParser parser;
    parser.setApplicationDescription(tr(command->summary));
    const QCommandLineOption help = parser.addHelpOption();
    parser.addPositionalArgument(word, tr("The command."));
    const int argumentCount = command->argument != nullptr ? 1 : 0;
    if (argumentCount > 0)
        parser.addPositionalArgument(QLatin1String(command->argument), tr(command->argumentHelp));
    command->addOptions(parser);
    const QString seeHelp = tr("See: kalvessa100ctl %1 --help").arg(word);
    if (!parser.parse(arguments)) {
        console::err(parser.errorText() + QLatin1Char('\n') + seeHelp);
        return exitStatus(ExitCode::BadInput);
    }
    if (parser.isSet(help)) {
        console::out(parser.helpText());
        return exitStatus(ExitCode::Success);
    }
    const QStringList positional = parser.positionalArguments().mid(1);
    if (positional.size() != argumentCount) {
        console::err(
            argumentCount == 0
                ? tr("%1 takes no arguments, but was given: %2")
                      .arg(word, positional.join(QLatin1Char(' ')))
                : tr("%1 needs one argument: %2.").arg(word, QLatin1String(command->argument)));
        console::err(seeHelp);
        return exitStatus(ExitCode::BadInput);
    }
    if (command->choosesTap && parser.isSet(InterfaceOption)
        && parser.value(InterfaceOption).isEmpty()) {
        console::err(tr("--interface needs the name of the tap's interface."));
        return exitStatus(ExitCode::BadInput);
    }
    return exitStatus(command->run(parser, positional));
}
