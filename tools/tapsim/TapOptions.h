#pragma once

#include <QString>
#include <QStringList>

#include "JunkSource.h"
#include "TapProtocol.h"
#include "TapState.h"

namespace tapsim {

struct TapOptions
{
    QString interfaceName;
    int generation = 4;
    FirmwareStatus status;
    bool resetAfterUpdate = false;
    bool bootAnyImage = false;
    QString recordPath;
    QString stateDirectory;

    bool silent = false;
    int dropEvery = 0;  // 0: drop nothing
    double dropFraction = 0.0;
    quint32 seed = 1;
    ProtocolFaults faults;
    int delayMs = 0;
    bool falseEcho = false;
    bool replayBeforeReply = false;
    int junkBeforeReply = 0;
    enum class JunkField { Source, EtherType, Reserved };
    JunkField junkField = JunkField::Source;  // the header field the junk copies make non-zero
    int replyLength = 0;  // 0: as built; else cut or zero-padded to this
    int shortBeforeReply = 0;
    double backgroundRate = 0.0;  // frames per second
    double junkRate = 0.0;  // zero-address junk, frames per second
    std::vector<JunkKind> junkKinds{JunkKind::Random};  // drawn from evenly, frame by frame
};

// The command line of kalvessa-tapsim.
class TapCommandLine
{
public:
    // False with error() set when an option is missing, unknown or out of range.
    bool parse(const QStringList &arguments);
    bool helpRequested() const { return m_help; }
    QString error() const { return m_error; }
    const TapOptions &options() const { return m_options; }
    static QString helpText();

private:
    bool fail(const QString &message);

    TapOptions m_options;
    QString m_error;
    bool m_help = false;
};

}  // namespace tapsim
