#include "CommandLine.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QJsonArray>
#include <QLoggingCategory>

#include <algorithm>
#include <array>
#include <functional>

#include "Commands.h"
#include "Console.h"
#include "KalvessaVersion.h"
#include "SettingOptions.h"
#include "TapAccess.h"

namespace {

using console::tr;

constexpr int CommandColumnWidth = 18;

const QString TapOption = QStringLiteral("tap");
const QString AllOption = QStringLiteral("all");
const QString JsonOption = QStringLiteral("json");
const QString QuietOption = QStringLiteral("quiet");
const QString VerboseOption = QStringLiteral("verbose");
const QString HelpOption = QStringLiteral("help");
const QString ProfileOption = QStringLiteral("profile");
const QString StoreOption = QStringLiteral("store");
const QString CheckOption = QStringLiteral("check");
const QString FromDirOption = QStringLiteral("from-dir");
const QString YesOption = QStringLiteral("yes");
const QString ForceStandInOption = QStringLiteral("force-stand-in");
const QString ForceOption = QStringLiteral("force");
const QString WaitOption = QStringLiteral("wait");
const QString TimeoutOption = QStringLiteral("timeout");
constexpr int MaxWaitSeconds = 86400;
const QString PcapOption = QStringLiteral("pcap");
const QString WriteOption = QStringLiteral("write");

// The names of the one option that names a tap; --interface is what it was first called.
const QStringList TapOptionNames{QStringLiteral("t"), TapOption, QStringLiteral("i"),
                                 QStringLiteral("interface")};
// Options that may come before the command, as in "kalvessa100ctl --json list"; the first
// group takes a value.
const QStringList ValuedGlobalOptions{QStringLiteral("-t"), QStringLiteral("--tap"),
                                      QStringLiteral("-i"), QStringLiteral("--interface")};

// How a command's command line names taps.
enum class Taps {
    None,  // the command names no tap
    One,  // one tap, by option or as the positional argument
    Several,  // as many as named, or --all; by option or as positional arguments
    SeveralByOption,  // as Several, but the positional argument is the command's own
};

// What the command line gave a command beyond its options.
struct Invocation
{
    QStringList arguments;  // the command's own positional argument, if it takes one
    QStringList selectors;  // the taps named, in order
    bool all = false;
};

using Runner = ExitCode (*)(const QCommandLineParser &parser, const Invocation &invocation);
using OptionAdder = void (*)(QCommandLineParser &parser);

struct Command
{
    const char *name;
    const char *argument;  // the command's own positional argument, or null
    const char *argumentHelp;
    Taps taps;
    const char *summary;
    OptionAdder addOptions;
    Runner run;
};

void addTapOptions(QCommandLineParser &parser, Taps taps)
{
    if (taps == Taps::None)
        return;
    const bool several = taps == Taps::Several || taps == Taps::SeveralByOption;
    parser.addOption(
        {TapOptionNames,
         several ? tr("The tap: its interface (kvtap0) or MAC address (00:0e:c6:12:34:56, "
                      "00-0E-C6-12-34-56, 000ec6123456, 000e.c612.3456). Give it again for more "
                      "taps. Without it, the one tap attached.")
                 : tr("The tap: its interface or MAC address. Without it, the one tap attached."),
         QStringLiteral("TAP")});
    if (several)
        parser.addOption({AllOption, tr("Every tap attached, one after the other.")});
}

// The filter commands take their settings from a tap, a settings file or options, as apply does.
// A bare --tap (no tap named) starts from the one tap attached, as it always has.
void addFilterSource(QCommandLineParser &parser)
{
    parser.addOption({ProfileOption, tr("Settings file to take (- for standard input)."),
                      QStringLiteral("FILE")});
    parser.addOptions(settingoptions::options());
}

bool readFilterSource(const QCommandLineParser &parser, const Invocation &invocation,
                      FilterSource *source)
{
    QString error;
    if (!settingoptions::read(parser, &source->options, &error)) {
        console::err(error);
        return false;
    }
    source->selector = invocation.selectors.value(0);
    source->tap = parser.isSet(TapOption) || !invocation.selectors.isEmpty();
    source->profilePath = parser.value(ProfileOption);
    return true;
}

// One tap named (or none): the command runs on it as it always has, its document printed
// alone. Several, or --all: on each in turn, each tap's lines as the command prints them, or
// with --json one document with an entry per tap; the status is that of the tap worst off.
ExitCode serveTaps(const Invocation &invocation,
                   const std::function<ExitCode(const QString &, QJsonObject *)> &serve)
{
    const bool json = console::jsonMode();
    if (!invocation.all && invocation.selectors.size() <= 1) {
        QJsonObject document;
        const ExitCode code = serve(invocation.selectors.value(0), &document);
        if (json && !document.isEmpty()) {
            // A result that ended badly (an update not running the new firmware) still tells
            // what was seen, beside the error.
            if (code != ExitCode::Success)
                document.insert(QStringLiteral("error"),
                                QJsonObject{{QStringLiteral("code"), exitStatus(code)},
                                            {QStringLiteral("message"),
                                             console::takeErrors().join(QLatin1Char('\n'))}});
            console::json(document);
        }
        return code;
    }
    ExitCode failure = ExitCode::Success;
    const std::optional<QList<tapaccess::Target>> targets =
        tapaccess::targets(invocation.selectors, invocation.all, &failure);
    if (!targets)
        return failure;
    ExitCode worst = ExitCode::Success;
    QJsonArray entries;
    console::takeErrors();
    for (const tapaccess::Target &target : *targets) {
        QJsonObject document;
        const ExitCode code = serve(target.interfaceName, &document);
        const QStringList errors = console::takeErrors();
        worst = mostSevere(worst, code);
        QJsonObject entry{
            {QStringLiteral("interface"), target.interfaceName},
            {QStringLiteral("mac"),
             target.address == MacAddress{} ? QJsonValue() : tapaccess::macText(target.address)},
            {QStringLiteral("exit_code"), exitStatus(code)}};
        if (!document.isEmpty())
            entry.insert(QStringLiteral("result"), document);
        if (code != ExitCode::Success) {
            entry.insert(QStringLiteral("error"),
                         QJsonObject{{QStringLiteral("code"), exitStatus(code)},
                                     {QStringLiteral("message"), errors.join(QLatin1Char('\n'))}});
        }
        entries.append(entry);
    }
    if (json)
        console::json(QJsonObject{{QStringLiteral("taps"), entries}});
    return worst;
}

// Said in every filter command's help: what the model takes the tap to do.
#define KALVESSA_FILTER_MODEL_NOTE                                                                 \
    " The tap's own rule is not documented; this is a model of it. It takes the tap to compare "   \
    "each byte at a fixed place of the frame, as if every frame were untagged Ethernet II with "   \
    "a 20-byte IPv4 header at offset 14, whatever its EtherType says: destination address "        \
    "bytes 0-5, source 6-11, EtherType 12-13, IPv4 protocol 23, IPv4 source 26-29 and "            \
    "destination 30-33. A VLAN-tagged frame moves them. A frame too short to hold a compared "     \
    "byte does not match."

const std::array<Command, 7> Commands{{
    {"list", nullptr, nullptr, Taps::None,
     QT_TRANSLATE_NOOP("kalvessa100ctl",
                       "List every attached Kalvessa 100: interface, MAC "
                       "address, generation and firmware (and whether an update is available), "
                       "or why it cannot be used."),
     [](QCommandLineParser &) {},
     [](const QCommandLineParser &, const Invocation &) { return listTaps(); }},
    {"show", nullptr, nullptr, Taps::Several,
     QT_TRANSLATE_NOOP("kalvessa100ctl",
                       "Show the settings the tap works with (generation 4); "
                       "--json prints them as a settings file."),
     [](QCommandLineParser &) {},
     [](const QCommandLineParser &, const Invocation &invocation) {
         return serveTaps(invocation, showSettings);
     }},
    {"apply", nullptr, nullptr, Taps::Several,
     QT_TRANSLATE_NOOP("kalvessa100ctl",
                       "Write settings into the tap's working copy, from a settings file and/or "
                       "options (options win). On generation 4 what neither gives stays as the "
                       "tap holds it, and nothing is written when the tap already holds the "
                       "result. On generation 3, which cannot be read back, every setting must be "
                       "given."),
     [](QCommandLineParser &p) {
         p.addOption({ProfileOption, tr("Settings file to apply (- for standard input)."),
                      QStringLiteral("FILE")});
         p.addOptions(settingoptions::options());
         p.addOption({StoreOption, tr("Also store the settings, so they survive a power cycle.")});
         p.addOption({CheckOption, tr("Print what would change and write nothing.")});
         p.addOption({FromDirOption,
                      tr("Take each tap's settings from this folder: the file named by its MAC "
                         "address (00-0e-c6-12-34-56.json), else default.json, else the tap is "
                         "left as it is. A file with \"store\": true is also stored."),
                      QStringLiteral("DIR")});
     },
     [](const QCommandLineParser &p, const Invocation &invocation) {
         SettingsPatch options;
         QString error;
         if (!settingoptions::read(p, &options, &error)) {
             console::err(error);
             return ExitCode::BadInput;
         }
         ApplyRequest request;
         request.store = p.isSet(StoreOption);
         request.check = p.isSet(CheckOption);
         if (p.isSet(FromDirOption)) {
             const QString folder = p.value(FromDirOption);
             if (p.isSet(ProfileOption)) {
                 console::err(tr("Either --profile or --from-dir, not both."));
                 return ExitCode::BadInput;
             }
             if (!QFileInfo(folder).isDir()) {
                 console::err(tr("--from-dir: %1 is not a folder that can be read.").arg(folder));
                 return ExitCode::BadInput;
             }
             request.settings = options;
             return serveTaps(invocation, [&](const QString &selector, QJsonObject *document) {
                 return applyDeclared(selector, folder, request, document);
             });
         }
         // Read once, even from standard input, however many taps it goes to.
         const std::optional<SettingsPatch> settings =
             requestedSettings(p.value(ProfileOption), options);
         if (!settings)
             return ExitCode::BadInput;
         request.settings = *settings;
         return serveTaps(invocation, [&](const QString &selector, QJsonObject *document) {
             return applySettings(selector, request, document);
         });
     }},
    {"save-profile", "FILE",
     QT_TRANSLATE_NOOP("kalvessa100ctl",
                       "The settings file to write (- for standard output); with several taps or "
                       "--all, the folder that gets one file per tap, named by its MAC address "
                       "(00-0e-c6-12-34-56.json)."),
     Taps::SeveralByOption,
     QT_TRANSLATE_NOOP("kalvessa100ctl",
                       "Read the tap's settings (generation 4) into a settings file."),
     [](QCommandLineParser &) {},
     [](const QCommandLineParser &, const Invocation &invocation) {
         const QString path = invocation.arguments.first();
         const bool intoFolder = invocation.all || invocation.selectors.size() > 1;
         if (path == StandardStream && (intoFolder || console::jsonMode())) {
             console::err(tr("save-profile - writes one tap's settings file to standard output; "
                             "for several taps name a folder, and leave out --json."));
             return ExitCode::BadInput;
         }
         return serveTaps(invocation, [&](const QString &selector, QJsonObject *document) {
             return saveProfile(selector, path, intoFolder, document);
         });
     }},
    {"update-firmware", nullptr, nullptr, Taps::Several,
     QT_TRANSLATE_NOOP("kalvessa100ctl",
                       "Write the firmware carried by this program into the tap. "
                       "Asks first unless --yes; the tap must stay plugged in. A tap that "
                       "answers as firmware 4.0 is left alone unless --force. The firmware "
                       "starts when the tap is unplugged and plugged in again; --wait waits for "
                       "that and says what the tap answers as."),
     [](QCommandLineParser &p) {
         p.addOption({{QStringLiteral("y"), YesOption}, tr("Do not ask.")});
         p.addOption({ForceOption, tr("Update even a tap that answers as firmware 4.0.")});
         p.addOption({WaitOption,
                      tr("After the last page, wait for the tap to be unplugged and plugged in "
                         "again; succeed only when it then answers as firmware 4.0.")});
         p.addOption({TimeoutOption, tr("How long --wait waits (default 120)."),
                      QStringLiteral("SECONDS")});
         p.addOption({ForceStandInOption,
                      tr("Write the stand-in image of a test build even into a tap that is not "
                         "the simulated one.")});
     },
     [](const QCommandLineParser &p, const Invocation &invocation) {
         UpdateRequest request;
         request.confirmed = p.isSet(YesOption);
         request.forceStandIn = p.isSet(ForceStandInOption);
         request.force = p.isSet(ForceOption);
         request.wait = p.isSet(WaitOption);
         if (p.isSet(TimeoutOption)) {
             bool ok = false;
             request.timeoutSeconds = p.value(TimeoutOption).toInt(&ok);
             if (!ok || request.timeoutSeconds < 1 || request.timeoutSeconds > MaxWaitSeconds
                 || !request.wait) {
                 console::err(
                     tr("--timeout takes 1 to %1 seconds, with --wait.").arg(MaxWaitSeconds));
                 return ExitCode::BadInput;
             }
         }
         if (!updateAllowed(request))
             return ExitCode::BadInput;
         return serveTaps(invocation, [&](const QString &selector, QJsonObject *document) {
             return updateFirmware(selector, request, document);
         });
     }},
    {"filter-expression", nullptr, nullptr, Taps::One,
     QT_TRANSLATE_NOOP(
         "kalvessa100ctl",
         "Print the tap's filter as a libpcap expression. Paste it into tcpdump or "
         "Wireshark's capture filter to capture the same traffic from a plain "
         "interface. The settings come from a tap (--tap, alone for the one tap "
         "attached), a settings file (--profile) and setting options, as apply "
         "takes them. An empty expression keeps every frame." KALVESSA_FILTER_MODEL_NOTE),
     [](QCommandLineParser &p) { addFilterSource(p); },
     [](const QCommandLineParser &p, const Invocation &invocation) {
         FilterSource source;
         if (!readFilterSource(p, invocation, &source))
             return ExitCode::BadInput;
         return printFilterExpression(source);
     }},
    {"preview", nullptr, nullptr, Taps::One,
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
     },
     [](const QCommandLineParser &p, const Invocation &invocation) {
         PreviewRequest request;
         if (!readFilterSource(p, invocation, &request.source))
             return ExitCode::BadInput;
         request.capturePath = p.value(PcapOption);
         request.keptPath = p.value(WriteOption);
         if (request.capturePath.isEmpty()) {
             console::err(tr("preview needs the capture file: --pcap FILE."));
             return ExitCode::BadInput;
         }
         return previewCapture(request);
     }},
}};

QString generalHelp()
{
    QString text = tr("Usage: kalvessa100ctl [options] COMMAND [options] [TAP...]\n"
                      "Configures Kalvessa 100 network taps.\n\nCommands:\n");
    for (const Command &command : Commands) {
        const QString usage = QStringLiteral("%1 %2").arg(QLatin1String(command.name),
                                                          QLatin1String(command.argument));
        text += QStringLiteral("  %1 %2\n")
                    .arg(usage.leftJustified(CommandColumnWidth),
                         tr(command.summary).section(QLatin1Char('.'), 0, 0) + QLatin1Char('.'));
    }
    text += tr("\nA tap is named by its interface or its MAC address (-t TAP, or after the "
               "command). Options for every command, also before it: --json, -q/--quiet (only "
               "errors and results), --verbose (the device's own log).\n"
               "\"kalvessa100ctl COMMAND --help\" tells a command's options; --version prints "
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

// The arguments with the command's name first after the program's, the options given before it
// moved behind it. The index of the command's name, or 0 when there is none.
qsizetype commandIndex(const QStringList &arguments)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &word = arguments[i];
        if (commandNamed(word) != nullptr)
            return i;
        if (ValuedGlobalOptions.contains(word))
            ++i;
        else if (!word.startsWith(QLatin1Char('-')))
            return 0;
    }
    return 0;
}

// A bare --tap in a filter command keeps its old meaning (start from the one tap attached): it
// is given an empty value, so it does not take the next argument as the tap.
QStringList withBareTap(QStringList arguments)
{
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const bool bare = arguments[i] == QLatin1String("--tap")
            && (i + 1 == arguments.size() || arguments[i + 1].startsWith(QLatin1Char('-')));
        if (bare)
            arguments[i] = QStringLiteral("--tap=");
    }
    return arguments;
}

void addCommonOptions(QCommandLineParser &parser)
{
    parser.addOption({{QStringLiteral("h"), HelpOption}, tr("Show this command's options.")});
    parser.addOption({JsonOption,
                      tr("Print JSON instead of text; errors too, as "
                         "{\"error\": {\"code\": N, \"message\": ...}}.")});
    parser.addOption({{QStringLiteral("q"), QuietOption},
                      tr("Print only errors and the results asked for, not what is done.")});
    parser.addOption({VerboseOption,
                      tr("Also print the device's own log: frames unanswered, "
                         "captures opened, and the like.")});
}

ExitCode runCommand(const Command &command, const QStringList &arguments)
{
    const QString word = QLatin1String(command.name);
    QCommandLineParser parser;
    parser.setApplicationDescription(tr(command.summary));
    parser.addPositionalArgument(word, tr("The command."));
    if (command.argument != nullptr)
        parser.addPositionalArgument(QLatin1String(command.argument), tr(command.argumentHelp));
    else if (command.taps != Taps::None)
        parser.addPositionalArgument(QStringLiteral("TAP"), tr("The tap, as --tap names it."),
                                     command.taps == Taps::One ? QStringLiteral("[TAP]")
                                                               : QStringLiteral("[TAP...]"));
    addCommonOptions(parser);
    addTapOptions(parser, command.taps);
    command.addOptions(parser);
    const QString seeHelp = tr("See: kalvessa100ctl %1 --help").arg(word);
    const QStringList given = command.taps == Taps::One ? withBareTap(arguments) : arguments;
    if (!parser.parse(given)) {
        console::err(parser.errorText() + QLatin1Char('\n') + seeHelp);
        return ExitCode::BadInput;
    }
    console::setJson(parser.isSet(JsonOption));
    console::setQuiet(parser.isSet(QuietOption));
    if (parser.isSet(VerboseOption))
        QLoggingCategory::setFilterRules(QStringLiteral("kalvessa.*.debug=true"));
    if (parser.isSet(HelpOption)) {
        console::out(parser.helpText());
        return ExitCode::Success;
    }

    Invocation invocation;
    QStringList positional = parser.positionalArguments().mid(1);
    const qsizetype ownCount = command.argument != nullptr ? 1 : 0;
    if (positional.size() < ownCount) {
        console::err(tr("%1 needs one argument: %2.").arg(word, QLatin1String(command.argument)));
        console::err(seeHelp);
        return ExitCode::BadInput;
    }
    invocation.arguments = positional.mid(0, ownCount);
    positional = positional.mid(ownCount);
    const bool tapsAsArguments = command.taps == Taps::One || command.taps == Taps::Several;
    if (!positional.isEmpty() && !tapsAsArguments) {
        console::err(tr("%1 takes no further arguments, but was given: %2")
                         .arg(word, positional.join(QLatin1Char(' '))));
        console::err(seeHelp);
        return ExitCode::BadInput;
    }
    if (command.taps != Taps::None) {
        for (const QString &selector : parser.values(TapOption)) {
            if (!selector.isEmpty())
                invocation.selectors.append(selector);
        }
        const bool bareTap = command.taps == Taps::One && parser.isSet(TapOption);
        if (invocation.selectors.size() < parser.values(TapOption).size() && !bareTap) {
            console::err(tr("--tap needs the tap's interface or MAC address."));
            return ExitCode::BadInput;
        }
        invocation.selectors += positional;
    }
    invocation.all =
        command.taps != Taps::None && command.taps != Taps::One && parser.isSet(AllOption);
    if (invocation.all && !invocation.selectors.isEmpty()) {
        console::err(tr("Either name taps or give --all, not both."));
        return ExitCode::BadInput;
    }
    // Named twice, a tap meant for one command could not say which was meant; two taps for a
    // command that serves one would leave the other silently untouched.
    if (command.taps == Taps::One && invocation.selectors.size() > 1) {
        console::err(tr("%1 works on one tap, but was given %2: %3.")
                         .arg(word)
                         .arg(invocation.selectors.size())
                         .arg(invocation.selectors.join(QStringLiteral(", "))));
        return ExitCode::BadInput;
    }
    return command.run(parser, invocation);
}

}  // namespace

int runCommandLine(const QStringList &arguments)
{
    const qsizetype index = commandIndex(arguments);
    QString word = arguments.value(1);
    if (index > 0) {
        word = arguments[index];
    } else {
        const auto notOption = std::find_if(arguments.begin() + 1, arguments.end(),
                                            [](const QString &a) { return !a.startsWith('-'); });
        if (notOption != arguments.end() && arguments.size() > 2)
            word = *notOption;
    }
    if (index == 0 && arguments.size() <= 2
        && (word == QLatin1String("-h") || word == QLatin1String("--help")
            || word == QLatin1String("help"))) {
        console::out(generalHelp());
        return exitStatus(ExitCode::Success);
    }
    if (index == 0 && arguments.size() <= 2
        && (word == QLatin1String("-v") || word == QLatin1String("--version"))) {
        console::out(QStringLiteral("kalvessa100ctl " KALVESSA_VERSION));
        return exitStatus(ExitCode::Success);
    }

    // Known before the command line is read, so that even a mistake in it is answered in JSON.
    const bool json = arguments.contains(QStringLiteral("--json"));
    ExitCode code = ExitCode::BadInput;
    if (index == 0) {
        console::setJson(json);
        if (!word.isEmpty())
            console::err(tr("Unknown command \"%1\".").arg(word));
        if (json)
            console::err(tr("Commands: list, show, apply, save-profile, update-firmware, "
                            "filter-expression, preview."));
        else
            console::err(generalHelp());
    } else {
        QStringList reordered{arguments.first(), arguments[index]};
        reordered += arguments.mid(1, index - 1);
        reordered += arguments.mid(index + 1);
        code = runCommand(*commandNamed(word), reordered);
    }
    if (json && code != ExitCode::Success && !console::jsonWritten()) {
        console::setJson(true);
        console::json(QJsonObject{{QStringLiteral("error"),
                                   QJsonObject{{QStringLiteral("code"), exitStatus(code)},
                                               {QStringLiteral("message"),
                                                console::takeErrors().join(QLatin1Char('\n'))}}}});
    }
    return exitStatus(code);
}
