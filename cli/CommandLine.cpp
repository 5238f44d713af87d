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
const QString TapOption = QStringLiteral("tap");
const QString PcapOption = QStringLiteral("pcap");
const QString WriteOption = QStringLiteral("write");

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

// The filter commands take their settings from a tap, a settings file or options, as apply does.
void addFilterSource(QCommandLineParser &parser)
{
    parser.addOption({TapOption, tr("Start from the settings the tap holds (see --interface).")});
    parser.addOption({{QStringLiteral("i"), InterfaceOption},
                      tr("The tap's interface, for --tap; without it, the first tap found."),
                      QStringLiteral("NAME")});
    parser.addOption({ProfileOption, tr("Settings file to take."), QStringLiteral("FILE")});
    parser.addOptions(settingoptions::options());
}

bool readFilterSource(const QCommandLineParser &parser, FilterSource *source)
{
    QString error;
    if (!settingoptions::read(parser, &source->options, &error)) {
        console::err(error);
        return false;
    }
    source->interfaceName = parser.value(InterfaceOption);
    source->tap = parser.isSet(TapOption) || !source->interfaceName.isEmpty();
    source->profilePath = parser.value(ProfileOption);
    return true;
}

// Said in every filter command's help: what the model takes the tap to do.
#define KALVESSA_FILTER_MODEL_NOTE                                                                 \
    " The tap's own rule is not documented; this is a model of it. It takes the tap to compare "   \
    "each byte at a fixed place of the frame, as if every frame were untagged Ethernet II with "   \
    "a 20-byte IPv4 header at offset 14, whatever its EtherType says: destination address "        \
    "bytes 0-5, source 6-11, EtherType 12-13, IPv4 protocol 23, IPv4 source 26-29 and "            \
    "destination 30-33. A VLAN-tagged frame moves them. A frame too short to hold a compared "     \
    "byte does not match."

constexpr const char *FirstTapHelp =
    QT_TRANSLATE_NOOP("kalvessa100ctl", "The tap's interface; without it, the first tap found.");
constexpr const char *OnlyTapHelp = QT_TRANSLATE_NOOP(
    "kalvessa100ctl", "The tap's interface; may be left out when only one tap is attached.");

const std::array<Command, 7> Commands{{
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
    {"filter-expression", nullptr, nullptr, true,
     QT_TRANSLATE_NOOP("kalvessa100ctl",
                       "Print the tap's filter as a libpcap expression. Paste it into tcpdump or "
                       "Wireshark's capture filter to capture the same traffic from a plain "
                       "interface. The settings come from a tap (--tap), a settings file "
                       "(--profile) and setting options, as apply takes them. An empty "
                       "expression keeps every frame." KALVESSA_FILTER_MODEL_NOTE),
     [](QCommandLineParser &p) { addFilterSource(p); },
     [](const QCommandLineParser &p, const QStringList &) {
         FilterSource source;
         if (!readFilterSource(p, &source))
             return ExitCode::BadInput;
         return printFilterExpression(source);
     }},
    {"preview", nullptr, nullptr, true,
     QT_TRANSLATE_NOOP("kalvessa100ctl",
                       "Count what the tap's filter keeps of a capture file. The file (pcap or "
                       "pcapng, Ethernet) is read as it is: the frames and bytes kept and "
                       "discarded, the five most frequent kept source/destination pairs, and with "
                       "-w the kept frames written as pcap. Settings as for filter-expression. A "
                       "frame cut short by "
                       "the capture's snap length before a compared byte is counted apart as "
                       "undecided." KALVESSA_FILTER_MODEL_NOTE),
     [](QCommandLineParser &p) {
         p.addOption({PcapOption, tr("The capture file to read."), QStringLiteral("FILE")});
         p.addOption({{QStringLiteral("w"), WriteOption},
                      tr("Write the kept frames into this pcap file."),
                      QStringLiteral("OUT")});
         addFilterSource(p);
         addJson(p);
     },
     [](const QCommandLineParser &p, const QStringList &) {
         PreviewRequest request;
         if (!readFilterSource(p, &request.source))
             return ExitCode::BadInput;
         request.capturePath = p.value(PcapOption);
         request.keptPath = p.value(WriteOption);
         request.json = p.isSet(JsonOption);
         if (request.capturePath.isEmpty()) {
             console::err(tr("preview needs the capture file: --pcap FILE."));
             return ExitCode::BadInput;
         }
         return previewCapture(request);
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
