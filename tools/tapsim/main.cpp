#include <QCoreApplication>
#include <QDir>

#include <cstdio>

#include "CaptureLink.h"
#include "ExchangeRecorder.h"
#include "FrameRecorder.h"
#include "SimulatedTap.h"
#include "StateFiles.h"
#include "TapLoop.h"
#include "TapOptions.h"
#include "TapState.h"

namespace {
constexpr int ExitUsage = 2;
constexpr int ExitSetup = 1;
}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kalvessa-tapsim"));
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    tapsim::TapCommandLine commandLine;
    if (!commandLine.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "kalvessa-tapsim: %s\n\n%s", qPrintable(commandLine.error()),
                     qPrintable(tapsim::TapCommandLine::helpText()));
        return ExitUsage;
    }
    if (commandLine.helpRequested()) {
        std::printf("%s", qPrintable(tapsim::TapCommandLine::helpText()));
        return 0;
    }
    const tapsim::TapOptions &options = commandLine.options();

    std::unique_ptr<tapsim::FrameRecorder> recorder;
    if (!options.recordPath.isEmpty()) {
        recorder = std::make_unique<tapsim::FrameRecorder>(options.recordPath.toStdString());
        if (!recorder->isOpen()) {
            std::fprintf(stderr, "kalvessa-tapsim: cannot create %s\n",
                         qPrintable(options.recordPath));
            return ExitSetup;
        }
    }
    std::unique_ptr<tapsim::StateFiles> stateFiles;
    if (!options.stateDirectory.isEmpty()) {
        if (!QDir().mkpath(options.stateDirectory)) {
            std::fprintf(stderr, "kalvessa-tapsim: cannot create %s\n",
                         qPrintable(options.stateDirectory));
            return ExitSetup;
        }
        stateFiles = std::make_unique<tapsim::StateFiles>(options.stateDirectory.toStdString());
    }

    tapsim::CaptureLink link;
    if (!link.open(options.interfaceName.toStdString())) {
        std::fprintf(stderr, "kalvessa-tapsim: %s\n", link.error().c_str());
        return ExitSetup;
    }
    tapsim::TapState state(options.status);
    std::unique_ptr<tapsim::ExchangeRecorder> exchanges;
    if (!options.exchangePath.isEmpty()) {
        exchanges = std::make_unique<tapsim::ExchangeRecorder>(options.exchangePath.toStdString(),
                                                               link, recorder.get());
        if (!exchanges->isOpen()) {
            std::fprintf(stderr, "kalvessa-tapsim: cannot create %s\n",
                         qPrintable(options.exchangePath));
            return ExitSetup;
        }
    }
    tapsim::TapWire &wire = exchanges ? static_cast<tapsim::TapWire &>(*exchanges) : link;
    tapsim::FrameLog *log =
        exchanges ? static_cast<tapsim::FrameLog *>(exchanges.get()) : recorder.get();
    tapsim::SimulatedTap tap(options, wire, state, log, stateFiles.get());
    return tapsim::TapLoop(options, link, tap).run();
}
