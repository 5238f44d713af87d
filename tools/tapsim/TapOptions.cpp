#include "TapOptions.h"

#include <QCommandLineParser>
#include <QRegularExpression>

#include <algorithm>

namespace tapsim {

namespace {
constexpr int MaxFramesBeforeReply = 1000;
constexpr double MaxFrameRate = 100000.0;
constexpr int MaxDelayMs = 60000;
constexpr int MaxByte = 0xFF;
constexpr int MaxWord = 0xFFFF;

struct JunkKindName
{
    const char *name;
    JunkKind kind;
};

const JunkKindName JunkKindNames[] = {{"random", JunkKind::Random},
                                      {"runt", JunkKind::Runt},
                                      {"replay", JunkKind::Replay},
                                      {"protocol", JunkKind::Protocol}};

struct OptionInfo
{
    const char *name;
    const char *value;  // nullptr: a flag
    const char *help;
};

const OptionInfo OptionList[] = {
    {"interface", "IF", "Interface to serve (the far end of the veth pair). Required."},
    {"generation", "4|3", "4 answers every request; 3 answers nothing (default 4)."},
    {"firmware-version", "X.Y",
     "Reported version: register 0x70300 = X, 0x70301 = Y; \"0\" reports 0 (default 4.0)."},
    {"firmware-type", "HEX",
     "Reported type code, 0x70302 low byte, 0x70303 high byte (default 220c)."},
    {"reset-after-update", nullptr,
     "Restart into the flash right after a completed programming run (see README)."},
    {"boot-any-image", nullptr,
     "A restart after an update answers as firmware 4.0 whatever the flash holds."},
    {"record", "FILE", "Record every frame received, one line per frame (see README)."},
    {"record-pcap", "FILE", "Record every frame received and sent, as a pcap file."},
    {"state-dir", "DIR", "Write flash.bin, settings-working.bin and settings-stored.bin here."},
    {"silent", nullptr, "Generation 4 that carries out commands but answers nothing."},
    {"drop-every", "N", "Ignore every Nth command frame (neither carried out nor answered)."},
    {"drop-fraction", "F", "Ignore each command frame with probability F (0..1)."},
    {"seed", "S", "Seed for --drop-fraction and the junk (default 1)."},
    {"wrong-code", "OP:CODE",
     "Answer opcode OP with reply code CODE, both hex, and leave it undone (repeatable)."},
    {"refuse-page", "PAGE:COUNT",
     "Refuse program-page PAGE (decimal index) COUNT times, then accept (repeatable)."},
    {"delay-ms", "MS", "Delay every reply by MS milliseconds."},
    {"false-echo", nullptr, "Before each reply, send back an exact copy of the request."},
    {"replay-before-reply", nullptr,
     "On each command, send the previous reply again at once, ahead of the reply itself."},
    {"junk-before-reply", "N",
     "Before each reply, send N copies of it with a non-zero source MAC."},
    {"junk-field", "source|ethertype|reserved",
     "Which header field the junk copies make non-zero (default source: the source MAC)."},
    {"reply-length", "N", "Cut or zero-pad every reply to N bytes (16 to 1514)."},
    {"short-before-reply", "N", "Before each reply, send N zero-header frames of 15 bytes."},
    {"background-rate", "PPS",
     "Send foreign frames (non-zero addresses) at PPS frames per second."},
    {"junk-rate", "PPS",
     "Send zero-address junk at PPS frames per second on average, at random times."},
    {"junk-kinds", "random,runt,replay,protocol",
     "Which junk --junk-rate sends, drawn evenly frame by frame (default random)."},
    {"lose-reply-fraction", "F", "Carry out each command but lose its reply with probability F."},
    {"duplicate-fraction", "F",
     "Send each reply a second time with probability F, --duplicate-lag-ms after the first."},
    {"duplicate-lag-ms", "MS", "How long after the first a duplicated reply follows (default 0)."},
    {"reorder-fraction", "F",
     "Hold each reply back with probability F until the next reply has gone out."},
    {"jitter-ms", "MS", "Delay every reply by a further 0..MS milliseconds, drawn evenly."},
    {"late-fraction", "F", "Delay each reply by a further --late-ms with probability F."},
    {"late-ms", "MS", "The long delay of --late-fraction (default 0)."},
    {"no-echo", nullptr,
     "Replies carry zeros in place of the request's address, page index and data."},
};

void addOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(QStringLiteral(
        "Simulated Kalvessa 100 tap: answers the tap's raw-frame protocol on one interface."));
    parser.addHelpOption();
    for (const OptionInfo &s : OptionList) {
        if (s.value)
            parser.addOption(QCommandLineOption(QString::fromLatin1(s.name),
                                                QString::fromLatin1(s.help),
                                                QString::fromLatin1(s.value)));
        else
            parser.addOption(
                QCommandLineOption(QString::fromLatin1(s.name), QString::fromLatin1(s.help)));
    }
}

bool toInt(const QString &text, int base, int min, int max, int *out)
{
    QString t = text.trimmed();
    if (base == 16 && t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        t = t.mid(2);
    bool ok = false;
    const qlonglong v = t.toLongLong(&ok, base);
    if (!ok || v < min || v > max)
        return false;
    *out = static_cast<int>(v);
    return true;
}

bool toRate(const QString &text, double *out)
{
    bool ok = false;
    *out = text.toDouble(&ok);
    return ok && *out >= 0.0 && *out <= MaxFrameRate;
}

bool toFraction(const QString &text, double *out)
{
    bool ok = false;
    *out = text.toDouble(&ok);
    return ok && *out >= 0.0 && *out <= 1.0;
}

bool toJunkKinds(const QString &text, std::vector<JunkKind> *out)
{
    out->clear();
    for (const QString &name : text.split(QLatin1Char(','))) {
        const auto *known =
            std::find_if(std::begin(JunkKindNames), std::end(JunkKindNames),
                         [&](const JunkKindName &k) { return name == QLatin1String(k.name); });
        if (known == std::end(JunkKindNames))
            return false;
        out->push_back(known->kind);
    }
    return true;
}

bool toPair(const QString &text, int base, int maxFirst, int maxSecond, int *first, int *second)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    return parts.size() == 2 && toInt(parts[0], base, 0, maxFirst, first)
        && toInt(parts[1], base, 0, maxSecond, second);
}
}  // namespace

QString TapCommandLine::helpText()
{
    QCommandLineParser parser;
    addOptions(parser);
    return parser.helpText();
}

bool TapCommandLine::fail(const QString &message)
{
    m_error = message;
    return false;
}

bool TapCommandLine::parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    addOptions(parser);
    if (!parser.parse(arguments))
        return fail(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        m_help = true;
        return true;
    }
    if (!parser.positionalArguments().isEmpty())
        return fail(
            QStringLiteral("Unexpected argument: %1").arg(parser.positionalArguments().first()));

    TapOptions &o = m_options;
    const auto value = [&](const char *name) { return parser.value(QString::fromLatin1(name)); };
    const auto isSet = [&](const char *name) { return parser.isSet(QString::fromLatin1(name)); };

    o.interfaceName = value("interface");
    if (o.interfaceName.isEmpty())
        return fail(QStringLiteral("--interface is required"));

    if (isSet("generation")) {
        const QString g = value("generation");
        if (g != QLatin1String("3") && g != QLatin1String("4"))
            return fail(QStringLiteral("--generation must be 3 or 4"));
        o.generation = g.toInt();
    }
    if (isSet("firmware-version")) {
        static const QRegularExpression versionPattern(QStringLiteral("^(\\d+)(?:\\.(\\d+))?$"));
        const auto m = versionPattern.match(value("firmware-version"));
        int major = 0;
        int minor = 0;
        if (!m.hasMatch() || !toInt(m.captured(1), 10, 0, MaxByte, &major)
            || (m.hasCaptured(2) && !toInt(m.captured(2), 10, 0, MaxByte, &minor)))
            return fail(QStringLiteral("--firmware-version takes X.Y with 0 <= X, Y <= 255"));
        o.status.major = static_cast<uint8_t>(major);
        o.status.minor = static_cast<uint8_t>(minor);
    }
    if (isSet("firmware-type")) {
        int type = 0;
        if (!toInt(value("firmware-type"), 16, 0, MaxWord, &type))
            return fail(QStringLiteral("--firmware-type takes a hexadecimal 16-bit code"));
        o.status.typeCode = static_cast<uint16_t>(type);
    }
    o.resetAfterUpdate = isSet("reset-after-update");
    o.bootAnyImage = isSet("boot-any-image");
    o.recordPath = value("record");
    o.exchangePath = value("record-pcap");
    o.stateDirectory = value("state-dir");
    o.silent = isSet("silent");
    o.falseEcho = isSet("false-echo");
    o.replayBeforeReply = isSet("replay-before-reply");

    if (isSet("drop-every") && !toInt(value("drop-every"), 10, 0, INT32_MAX, &o.dropEvery))
        return fail(QStringLiteral("--drop-every takes a count of 0 or more"));
    if (isSet("drop-fraction")) {
        bool ok = false;
        o.dropFraction = value("drop-fraction").toDouble(&ok);
        if (!ok || !(o.dropFraction >= 0.0 && o.dropFraction <= 1.0))
            return fail(QStringLiteral("--drop-fraction takes a number from 0 to 1"));
    }
    if (isSet("seed")) {
        bool ok = false;
        o.seed = value("seed").toUInt(&ok);
        if (!ok)
            return fail(QStringLiteral("--seed takes an unsigned 32-bit number"));
    }
    for (const QString &w : parser.values(QStringLiteral("wrong-code"))) {
        int op = 0;
        int code = 0;
        if (!toPair(w, 16, MaxByte, MaxByte, &op, &code))
            return fail(QStringLiteral("--wrong-code takes OP:CODE, two hexadecimal bytes"));
        o.faults.wrongCodes[static_cast<uint8_t>(op)] = static_cast<uint8_t>(code);
    }
    for (const QString &r : parser.values(QStringLiteral("refuse-page"))) {
        int page = 0;
        int count = 0;
        if (!toPair(r, 10, ProgramPageCount - 1, INT32_MAX, &page, &count))
            return fail(QStringLiteral("--refuse-page takes PAGE:COUNT with PAGE from 0 to 767"));
        o.faults.refusedPages[page] = count;
    }
    if (isSet("delay-ms") && !toInt(value("delay-ms"), 10, 0, MaxDelayMs, &o.delayMs))
        return fail(QStringLiteral("--delay-ms takes 0 to %1").arg(MaxDelayMs));
    if (isSet("junk-before-reply")
        && !toInt(value("junk-before-reply"), 10, 0, MaxFramesBeforeReply, &o.junkBeforeReply))
        return fail(QStringLiteral("--junk-before-reply takes 0 to %1").arg(MaxFramesBeforeReply));
    if (isSet("junk-field")) {
        const QString f = value("junk-field");
        if (f == QLatin1String("source"))
            o.junkField = TapOptions::JunkField::Source;
        else if (f == QLatin1String("ethertype"))
            o.junkField = TapOptions::JunkField::EtherType;
        else if (f == QLatin1String("reserved"))
            o.junkField = TapOptions::JunkField::Reserved;
        else
            return fail(QStringLiteral("--junk-field takes source, ethertype or reserved"));
    }
    if (isSet("reply-length")
        && !toInt(value("reply-length"), 10, frame::MinReplyLength, MaxFrameLength, &o.replyLength))
        return fail(QStringLiteral("--reply-length takes %1 to %2")
                        .arg(frame::MinReplyLength)
                        .arg(MaxFrameLength));
    if (isSet("short-before-reply")
        && !toInt(value("short-before-reply"), 10, 0, MaxFramesBeforeReply, &o.shortBeforeReply))
        return fail(QStringLiteral("--short-before-reply takes 0 to %1").arg(MaxFramesBeforeReply));
    if (isSet("background-rate") && !toRate(value("background-rate"), &o.backgroundRate))
        return fail(
            QStringLiteral("--background-rate takes 0 to %1 frames per second").arg(MaxFrameRate));
    if (isSet("junk-rate") && !toRate(value("junk-rate"), &o.junkRate))
        return fail(
            QStringLiteral("--junk-rate takes 0 to %1 frames per second").arg(MaxFrameRate));
    if (isSet("junk-kinds") && !toJunkKinds(value("junk-kinds"), &o.junkKinds))
        return fail(QStringLiteral(
            "--junk-kinds takes a comma-separated list of random, runt, replay, protocol"));

    struct FractionOption
    {
        const char *name;
        double *into;
    };
    for (const FractionOption &f : {FractionOption{"lose-reply-fraction", &o.loseReplyFraction},
                                    FractionOption{"duplicate-fraction", &o.duplicateFraction},
                                    FractionOption{"reorder-fraction", &o.reorderFraction},
                                    FractionOption{"late-fraction", &o.lateFraction}}) {
        if (isSet(f.name) && !toFraction(value(f.name), f.into))
            return fail(
                QStringLiteral("--%1 takes a number from 0 to 1").arg(QString::fromLatin1(f.name)));
    }
    struct DelayOption
    {
        const char *name;
        int *into;
    };
    for (const DelayOption &d :
         {DelayOption{"duplicate-lag-ms", &o.duplicateLagMs}, DelayOption{"jitter-ms", &o.jitterMs},
          DelayOption{"late-ms", &o.lateMs}}) {
        if (isSet(d.name) && !toInt(value(d.name), 10, 0, MaxDelayMs, d.into))
            return fail(QStringLiteral("--%1 takes 0 to %2")
                            .arg(QString::fromLatin1(d.name))
                            .arg(MaxDelayMs));
    }
    o.noEcho = isSet("no-echo");
    return true;
}

}  // namespace tapsim
