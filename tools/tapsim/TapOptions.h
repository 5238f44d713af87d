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
    QString exchangePath;  // both directions, as pcap
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

    // Faults of an imperfect line, each drawn per reply from the generator --seed starts.
    double loseReplyFraction = 0.0;  // carried out, the reply lost
    double duplicateFraction = 0.0;  // the reply sent a second time...
    int duplicateLagMs = 0;  // ...this much after the first
    double reorderFraction = 0.0;  // held back until the next reply has gone out
    int jitterMs = 0;  // a further 0..jitterMs on every reply
    double lateFraction = 0.0;  // now and then a long delay...
    int lateMs = 0;  // ...of this much
    bool noEcho = false;  // replies carry zeros where the request had address, index and data
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
