// kalvessa100-extcap: the tap as capture interfaces of Wireshark, tshark and dumpcap (their
// extcap interface), with the tap's capture settings as each interface's options.

#include <QCommandLineParser>
#include <QCoreApplication>

#include "Console.h"
#include "Diagnostics.h"
#include "ExtcapCommands.h"
#include "ExtcapOptions.h"
#include "KalvessaVersion.h"
#include "SettingOptions.h"

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("kalvessa100-extcap", text);
}

const QString Interfaces = QStringLiteral("extcap-interfaces");
const QString Version = QStringLiteral("extcap-version");
const QString Interface = QStringLiteral("extcap-interface");
const QString Dlts = QStringLiteral("extcap-dlts");
const QString Config = QStringLiteral("extcap-config");
const QString Capture = QStringLiteral("capture");
const QString Fifo = QStringLiteral("fifo");
const QString CaptureFilter = QStringLiteral("extcap-capture-filter");
const QString Debug = QStringLiteral("debug");
const QString DebugFile = QStringLiteral("debug-file");

void addOptions(QCommandLineParser &parser)
{
    parser.addOptions({
        {Interfaces, tr("List the attached taps as interfaces.")},
        {Version, tr("The Wireshark version asking (passed over)."), QStringLiteral("VERSION")},
        {Interface, tr("The interface a request is about."), QStringLiteral("NAME")},
        {Dlts, tr("List the interface's link types.")},
        {Config, tr("List the interface's options, prefilled from the tap.")},
        {Capture, tr("Apply the options' settings, then capture into --fifo.")},
        {Fifo, tr("The FIFO to write pcap into."), QStringLiteral("PATH")},
        {CaptureFilter, tr("A capture filter (libpcap syntax)."), QStringLiteral("FILTER")},
        {Debug, tr("Passed over.")},
        {DebugFile, tr("Passed over."), QStringLiteral("FILE")},
        {extcapoptions::storeOptionName(),
         tr("Also store the settings, so they survive a power cycle.")},
    });
    parser.addOptions(settingoptions::options());
    parser.addHelpOption();
}

// Wireshark shows standard error when the extcap fails; a missing value is said there too.
ExitCode need(const QCommandLineParser &parser, const QString &option)
{
    if (!parser.value(option).isEmpty())
        return ExitCode::Success;
    console::err(tr("--%1 is needed here.").arg(option));
    return ExitCode::BadInput;
}

ExitCode run(const QStringList &arguments)
{
    QCommandLineParser parser;
    addOptions(parser);
    if (!parser.parse(arguments)) {
        console::err(parser.errorText());
        return ExitCode::BadInput;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        console::out(parser.helpText());
        return ExitCode::Success;
    }
    if (parser.isSet(Interfaces))
        return extcapcommands::listInterfaces();
    if (const ExitCode missing = need(parser, Interface); missing != ExitCode::Success)
        return missing;
    const QString interfaceValue = parser.value(Interface);
    if (parser.isSet(Dlts))
        return extcapcommands::listLinkTypes(interfaceValue);
    if (parser.isSet(Config))
        return extcapcommands::printConfig(interfaceValue);
    if (parser.isSet(Capture)) {
        if (const ExitCode missing = need(parser, Fifo); missing != ExitCode::Success)
            return missing;
        extcapcommands::CaptureRequest request;
        request.interfaceValue = interfaceValue;
        request.fifo = parser.value(Fifo);
        request.captureFilter = parser.value(CaptureFilter);
        request.store = parser.isSet(extcapoptions::storeOptionName());
        // An empty value is a setting the dialog left out; any other that does not read is
        // refused, in kalvessa100ctl's words, before the tap is touched.
        QString error;
        if (!settingoptions::read(parser, &request.settings, &error,
                                  settingoptions::EmptyValue::LeftOut)) {
            console::err(error);
            return ExitCode::BadInput;
        }
        return extcapcommands::capture(request);
    }
    console::err(tr("Nothing asked: give --extcap-interfaces, --extcap-dlts, --extcap-config or "
                    "--capture."));
    return ExitCode::BadInput;
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kalvessa100-extcap"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KALVESSA_VERSION));
    // Wireshark reads standard output as the extcap's answer: only those lines go there.
    console::setQuiet(true);
    diagnostics::writeTo(stderr, diagnostics::Repeats::Once);
    return exitStatus(run(QCoreApplication::arguments()));
}
