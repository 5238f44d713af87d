#include "TapTestBed.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include <array>
#include <net/if.h>
#include <netpacket/packet.h>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

#include "ChildProcess.h"
#include "FrameLink.h"
#include "SyncMarker.h"

namespace {

constexpr int MaxInterfaceName = IFNAMSIZ - 1;
constexpr int IpTimeoutMs = 10000;
constexpr int ReadyTimeoutMs = 10000;
constexpr int SyncReplyTimeoutMs = 1000;
constexpr int SyncTries = 5;
constexpr int StopTimeoutMs = 5000;
constexpr int FlashLength = 196608;
constexpr int SettingsSectorLength = 65536;
constexpr int MacLength = 6;

const char *const RecordName = "record.txt";
const char *const StateDirName = "state";

bool runIp(const QStringList &arguments, QString *error)
{
    QByteArray output;
    const int code = ChildProcess::run(QStringLiteral("ip"), arguments, &output, IpTimeoutMs);
    if (code == 0)
        return true;
    if (error)
        *error = QStringLiteral("ip %1: %2")
                     .arg(arguments.join(QLatin1Char(' ')),
                          code < 0 ? QStringLiteral("could not be run")
                                   : QString::fromLocal8Bit(output).trimmed());
    return false;
}

// in-netns.sh names the namespace it made (KALVESSA_NETNS_ID, the link text of
// /proc/self/ns/net inside it). Only a process still in that very namespace may create
// interfaces, so a variable inherited or copied by hand never lets a test touch the host's own
// network namespace.
bool insidePrivateNamespace()
{
    if (qEnvironmentVariable("KALVESSA_NETNS") != QLatin1String("1"))
        return false;
    const QString expected = qEnvironmentVariable("KALVESSA_NETNS_ID");
    char link[64] = {};
    const ssize_t n = ::readlink("/proc/self/ns/net", link, sizeof link - 1);
    return !expected.isEmpty() && n > 0
        && expected == QString::fromLatin1(link, static_cast<int>(n));
}

// A send-only packet socket (protocol 0 receives nothing).
class PacketSocket
{
public:
    PacketSocket() : m_fd(::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0)) {}
    ~PacketSocket()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    PacketSocket(const PacketSocket &) = delete;
    PacketSocket &operator=(const PacketSocket &) = delete;

    bool send(const QString &interfaceName, const uint8_t *bytes, int length) const
    {
        if (m_fd < 0)
            return false;
        sockaddr_ll to{};
        to.sll_family = AF_PACKET;
        to.sll_ifindex = static_cast<int>(if_nametoindex(interfaceName.toLocal8Bit().constData()));
        to.sll_halen = MacLength;
        if (to.sll_ifindex == 0)
            return false;
        return ::sendto(m_fd, bytes, static_cast<size_t>(length), 0,
                        reinterpret_cast<const sockaddr *>(&to), sizeof to)
            == length;
    }

private:
    int m_fd;
};

}  // namespace

TapTestBed::TapTestBed(const QString &hostInterface, const QString &mac)
    : m_host(hostInterface)
    , m_mac(mac)
{
}

TapTestBed::~TapTestBed()
{
    stopTap();
    if (m_plugged)
        unplug();
}

bool TapTestBed::namespaceReady(QString *why)
{
    static int ready = -1;  // -1 not probed yet
    static QString reason;
    if (ready < 0) {
        if (!insidePrivateNamespace()) {
            reason = qEnvironmentVariable("KALVESSA_NETNS_WHY");
            if (reason.isEmpty() && qEnvironmentVariableIsSet("KALVESSA_NETNS"))
                reason = QStringLiteral("KALVESSA_NETNS is set, but this is not the namespace "
                                        "that tools/testbed/in-netns.sh made");
            if (reason.isEmpty())
                reason = QStringLiteral("not running inside the private network namespace that "
                                        "tools/testbed/in-netns.sh makes");
            ready = 0;
        } else {
            const QString probe = QStringLiteral("kvprobe%1").arg(::getpid() % 1000000);
            ready = runIp({QStringLiteral("link"), QStringLiteral("add"), probe,
                           QStringLiteral("type"), QStringLiteral("veth"), QStringLiteral("peer"),
                           QStringLiteral("name"), probe + QLatin1Char('s')},
                          &reason)
                ? 1
                : 0;
            if (ready)
                runIp({QStringLiteral("link"), QStringLiteral("del"), probe}, nullptr);
            else
                reason = QStringLiteral("cannot make a veth pair: ") + reason;
        }
    }
    if (why)
        *why = ready ? QString() : reason;
    return ready == 1;
}

bool TapTestBed::plug()
{
    if (!insidePrivateNamespace()) {
        qWarning("TapTestBed: refusing to create interfaces outside the private namespace");
        return false;
    }
    if (m_host.size() >= MaxInterfaceName) {
        qWarning("TapTestBed: interface name %s leaves no room for its peer's suffix",
                 qPrintable(m_host));
        return false;
    }
    QString error;
    const bool made =
        runIp({QStringLiteral("link"), QStringLiteral("add"), m_host, QStringLiteral("address"),
               m_mac, QStringLiteral("type"), QStringLiteral("veth"), QStringLiteral("peer"),
               QStringLiteral("name"), tapInterface()},
              &error)
        && runIp(
            {QStringLiteral("link"), QStringLiteral("set"), tapInterface(), QStringLiteral("up")},
            &error)
        && runIp({QStringLiteral("link"), QStringLiteral("set"), m_host, QStringLiteral("up")},
                 &error);
    if (!made) {
        qWarning("TapTestBed: plug: %s", qPrintable(error));
        runIp({QStringLiteral("link"), QStringLiteral("del"), m_host}, nullptr);
        return false;
    }
    m_plugged = true;
    return true;
}

bool TapTestBed::unplug()
{
    QString error;
    const bool removed = runIp({QStringLiteral("link"), QStringLiteral("del"), m_host}, &error);
    if (!removed)
        qWarning("TapTestBed: unplug: %s", qPrintable(error));
    m_plugged = false;
    if (m_sim) {
        // The sim ends by itself once its interface is gone; reap it.
        if (!m_sim->waitForFinished(StopTimeoutMs))
            stopTap();
    }
    return removed;
}

bool TapTestBed::setUp(bool up)
{
    return ip({QStringLiteral("link"), QStringLiteral("set"), m_host,
               up ? QStringLiteral("up") : QStringLiteral("down")});
}

bool TapTestBed::setMtu(int mtu)
{
    return ip({QStringLiteral("link"), QStringLiteral("set"), m_host, QStringLiteral("mtu"),
               QString::number(mtu)});
}

bool TapTestBed::ip(const QStringList &arguments, QString *error)
{
    return runIp(arguments, error);
}

QString TapTestBed::simulatorPath()
{
    const QString fromEnvironment = qEnvironmentVariable("KALVESSA_TAPSIM");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    // The simulator built beside this library (set by the build).
    return QStringLiteral(KALVESSA_TAPSIM_PATH);
}

std::unique_ptr<FrameLink> TapTestBed::link() const
{
    return makeCaptureLink(m_host.toLocal8Bit().toStdString());
}

int TapTestBed::capturesHeld() const
{
    const unsigned index = if_nametoindex(m_host.toLocal8Bit().constData());
    if (index == 0)
        return 0;
    // The sockets of this process and of its children, by inode: a program without the capture
    // privilege holds its capture through a helper it runs. The simulated tap's own socket is on
    // the far end, and any other program's is not ours.
    QStringList holders{QStringLiteral("self")};
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile children(tasks.filePath(task + QStringLiteral("/children")));
        if (children.open(QIODevice::ReadOnly))
            for (const QByteArray &pid : children.readAll().simplified().split(' '))
                if (!pid.isEmpty())
                    holders << QString::fromLatin1(pid);
    }
    QSet<QByteArray> ours;
    for (const QString &holder : holders) {
        const QDir fds(QStringLiteral("/proc/%1/fd").arg(holder));
        for (const QString &fd : fds.entryList(QDir::Files | QDir::System)) {
            char target[64] = {};
            const ssize_t n = ::readlink(qPrintable(fds.filePath(fd)), target, sizeof target - 1);
            const QByteArray link(target, n > 0 ? static_cast<int>(n) : 0);
            if (link.startsWith("socket:[") && link.endsWith(']'))
                ours.insert(link.mid(8, link.size() - 9));
        }
    }
    // sk RefCnt Type Proto Iface R Rmem User Inode
    constexpr int IfaceColumn = 4;
    constexpr int InodeColumn = 8;
    QFile table(QStringLiteral("/proc/net/packet"));
    if (!table.open(QIODevice::ReadOnly))
        return 0;
    int held = 0;
    table.readLine();
    while (!table.atEnd()) {
        const QList<QByteArray> row = table.readLine().simplified().split(' ');
        if (row.size() > InodeColumn && row[IfaceColumn].toUInt() == index
            && ours.contains(row[InodeColumn]))
            ++held;
    }
    return held;
}

int TapTestBed::promiscuity(const QString &interfaceName)
{
    QByteArray output;
    if (ChildProcess::run(QStringLiteral("ip"),
                          {QStringLiteral("-d"), QStringLiteral("link"), QStringLiteral("show"),
                           QStringLiteral("dev"), interfaceName},
                          &output, IpTimeoutMs)
        != 0)
        return -1;
    const QRegularExpressionMatch found =
        QRegularExpression(QStringLiteral("promiscuity (\\d+)")).match(QString::fromLatin1(output));
    return found.hasMatch() ? found.captured(1).toInt() : -1;
}

QString TapTestBed::recordPath() const
{
    return m_dir.filePath(QString::fromLatin1(RecordName));
}

bool TapTestBed::tapRunning() const
{
    return m_sim && m_sim->running();
}

bool TapTestBed::startTap(const QStringList &options)
{
    stopTap();
    if (!m_dir.isValid()) {
        qWarning("TapTestBed: no temporary directory");
        return false;
    }
    m_sim = std::make_unique<ChildProcess>();
    m_simOutput.clear();
    m_recordOffset = 0;
    QFile::remove(recordPath());
    const QStringList arguments =
        QStringList{
            QStringLiteral("--interface"), tapInterface(),
            QStringLiteral("--record"),    recordPath(),
            QStringLiteral("--state-dir"), m_dir.filePath(QString::fromLatin1(StateDirName))}
        + options;
    // A sim that outlives a crashed test would keep its namespace alive forever.
    if (!m_sim->start(simulatorPath(), arguments, ChildProcess::Errors::Inherited, true)) {
        qWarning("TapTestBed: cannot start %s", qPrintable(simulatorPath()));
        m_sim.reset();
        return false;
    }
    if (!waitForLine(QStringLiteral("ready"), ReadyTimeoutMs)) {
        qWarning("TapTestBed: the simulated tap did not come up (%s %s)",
                 qPrintable(simulatorPath()), qPrintable(arguments.join(QLatin1Char(' '))));
        stopTap();
        return false;
    }
    // The tool asks before flashing a stand-in firmware image into a tap that may be real;
    // the tap on this bed is the simulator, as with tools/tapsim/with-simulated-tap.sh.
    qputenv("KALVESSA_SIMULATED_TAP", hostInterface().toLocal8Bit());
    return true;
}

void TapTestBed::stopTap()
{
    if (!m_sim)
        return;
    if (m_sim->running()) {
        m_sim->terminate();
        m_sim->waitForFinished(StopTimeoutMs);
    }
    m_sim.reset();  // kills and reaps one that would not stop
}

bool TapTestBed::waitForLine(const QString &line, int timeoutMs)
{
    const QByteArray wanted = line.toLatin1();
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        qsizetype newline;
        while ((newline = m_simOutput.indexOf('\n')) >= 0) {
            const QByteArray got = m_simOutput.left(newline).trimmed();
            m_simOutput.remove(0, newline + 1);
            if (got == wanted)
                return true;
        }
        if (!m_sim || deadline.hasExpired())
            return false;
        const QByteArray got =
            m_sim->read(static_cast<int>(qMax<qint64>(1, deadline.remainingTime())));
        if (got.isEmpty() && !m_sim->running())
            return false;
        m_simOutput += got;
    }
}

bool TapTestBed::sendSyncFrame(quint32 nonce, quint8 flags)
{
    std::array<uint8_t, syncmarker::Length> marker;
    syncmarker::build(marker.data(), nonce, flags);
    return PacketSocket().send(m_host, marker.data(), syncmarker::Length);
}

bool TapTestBed::sync(bool saveState)
{
    if (!tapRunning())
        return false;
    const quint32 nonce = ++m_nonce;
    const quint8 flags = saveState ? syncmarker::SaveState : 0;
    for (int attempt = 0; attempt < SyncTries; ++attempt) {
        if (!sendSyncFrame(nonce, flags)) {
            qWarning("TapTestBed: cannot send the sync frame on %s", qPrintable(m_host));
            return false;
        }
        if (waitForLine(QStringLiteral("sync %1").arg(nonce), SyncReplyTimeoutMs))
            return true;
        if (!tapRunning())
            break;
    }
    qWarning("TapTestBed: the simulated tap did not confirm the sync");
    return false;
}

QList<TapFrame> TapTestBed::frames()
{
    sync(false);
    QList<TapFrame> out;
    QFile record(recordPath());
    if (!record.open(QIODevice::ReadOnly))
        return out;
    record.seek(m_recordOffset);
    while (!record.atEnd()) {
        const QByteArray line = record.readLine();
        if (!line.endsWith('\n'))
            break;  // not yet complete
        const QList<QByteArray> fields = line.trimmed().split(' ');
        if (fields.size() < 2)
            continue;
        TapFrame f;
        f.time = fields[0].toDouble();
        f.bytes = fields.size() > 2 ? QByteArray::fromHex(fields[2]) : QByteArray();
        out.append(f);
    }
    return out;
}

void TapTestBed::clearFrames()
{
    sync(false);
    m_recordOffset = QFileInfo(recordPath()).size();
}

QByteArray TapTestBed::stateFile(const char *name, int expectedLength)
{
    sync(true);
    QFile file(m_dir.filePath(QString::fromLatin1(StateDirName) + QLatin1Char('/')
                              + QString::fromLatin1(name)));
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning("TapTestBed: no state file %s", name);
        return {};
    }
    QByteArray bytes = file.readAll();
    if (bytes.size() != expectedLength)
        qWarning("TapTestBed: state file %s has %lld bytes", name,
                 static_cast<long long>(bytes.size()));
    return bytes;
}

QByteArray TapTestBed::flash()
{
    return stateFile("flash.bin", FlashLength);
}

QByteArray TapTestBed::settingsSector(bool stored)
{
    return stateFile(stored ? "settings-stored.bin" : "settings-working.bin", SettingsSectorLength);
}
