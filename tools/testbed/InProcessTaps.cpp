#include "InProcessTaps.h"

#include <algorithm>
#include <sys/eventfd.h>
#include <sys/time.h>
#include <unistd.h>

#include "InterfaceDiscovery.h"
#include "TapOptions.h"
#include "TapState.h"

namespace {

// A capture's ring on the host end holds this many frames whatever their size (every slot has
// room for a whole snapshot); more that arrive before the host reads are lost.
constexpr size_t RingFrames = 32;
// What the kernel sends on an Ethernet interface: a header at least, the MTU beyond it at most.
constexpr int MinFrameLength = 14;
constexpr int EthernetHeaderLength = 14;
constexpr int MacLength = 6;
constexpr int SourceOffset = 6;

// The capture library's and the kernel's words for what befalls a capture.
constexpr const char *NoSuchDevice = "No such device exists";
constexpr const char *Disappeared = "The interface disappeared";
constexpr const char *NotUp = "That device is not up";
constexpr const char *WentDown = "The interface went down";
constexpr const char *SendDown = "send: Network is down";
constexpr const char *SendGone = "send: No such device or address";
constexpr const char *SendTooShort = "send: Invalid argument";
constexpr const char *SendTooLong = "send: Message too long";
constexpr const char *NotOpen = "the capture is not open";

bool zeroMac(const uint8_t *bytes)
{
    return std::all_of(bytes, bytes + MacLength, [](uint8_t b) { return b == 0; });
}

// "ether host 00:00:00:00:00:00" as the kernel runs it: its program loads both addresses, so a
// frame too short to hold them is refused.
bool passesHostFilter(const uint8_t *bytes, int length)
{
    return length >= 2 * MacLength && (zeroMac(bytes) || zeroMac(bytes + SourceOffset));
}

// The simulated tap's own filter, "ether dst 00:00:00:00:00:00".
bool passesTapFilter(const uint8_t *bytes, int length)
{
    return length >= MacLength && zeroMac(bytes);
}

QByteArray bytesOf(const std::vector<uint8_t> &bytes)
{
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size()));
}

LinkReception failed(LinkError::Kind kind, const char *text)
{
    LinkReception got;
    got.result = LinkReception::Result::Failed;
    got.error = {kind, text};
    return got;
}

LinkOpening notOpened(const char *text, LinkError::Kind kind = LinkError::Kind::InterfaceGone)
{
    LinkOpening opening;
    opening.error = {kind, text};
    return opening;
}

// A link of this process to an interface of the in-process network. Like a capture, it keeps
// to the interface by name: once the interface has gone, opening it again finds whatever now
// carries that name.
class InProcessLink : public FrameLink
{
public:
    InProcessLink(InProcessTaps &taps, QString name) : m_taps(taps), m_name(std::move(name)) {}
    ~InProcessLink() override { release(); }
    InProcessLink(const InProcessLink &) = delete;
    InProcessLink &operator=(const InProcessLink &) = delete;

    LinkOpening open() override
    {
        std::shared_ptr<SimulatedLine> now = m_taps.line(m_name);
        if (now != m_line) {
            release();
            m_line = std::move(now);
            if (m_line)
                m_line->attach(m_port);
        }
        LinkOpening opening = m_line ? m_line->open(m_port) : notOpened(NoSuchDevice);
        if (!opening.opened)
            release();  // as a capture that cannot be activated, it holds nothing
        return opening;
    }
    std::optional<LinkError> send(const uint8_t *bytes, int length) override
    {
        if (!m_line)
            return LinkError{LinkError::Kind::Other, NotOpen};
        return m_line->send(m_port, bytes, length);
    }
    LinkReception receive(int timeoutMs) override
    {
        if (!m_line)
            return failed(LinkError::Kind::Other, NotOpen);
        return m_line->receive(m_port, timeoutMs);
    }
    void close() override
    {
        if (m_line)
            m_line->park(m_port);
    }
    void release() override
    {
        if (m_line)
            m_line->detach(m_port);
        m_line.reset();
    }
    int mtu() const override
    {
        const std::shared_ptr<SimulatedLine> now = m_taps.line(m_name);
        return now ? now->mtu() : 0;
    }

private:
    InProcessTaps &m_taps;
    const QString m_name;
    std::shared_ptr<SimulatedLine> m_line;
    SimulatedLine::Port m_port;
};

}  // namespace

SimulatedLine::SimulatedLine(QString name, const MacAddress &mac, int index)
    : m_name(std::move(name))
    , m_mac(mac)
    , m_index(index)
{
}

SimulatedLine::~SimulatedLine() = default;

void SimulatedLine::unplug()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_plugged = false;
    m_tap.reset();
    m_arrived.notify_all();
}

void SimulatedLine::setUp(bool up)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    // The far end loses its carrier with the host end, as a tap its power: it restarts, and
    // answers as what it restarted into once the link is back.
    if (!up && m_up && m_tap)
        m_tap->restart();
    m_up = up;
    m_arrived.notify_all();
}

bool SimulatedLine::isUp() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_up;
}

void SimulatedLine::setMtu(int mtu)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_mtu = mtu;
}

int SimulatedLine::mtu() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_mtu;
}

void SimulatedLine::setOpenWarning(const std::string &warning, bool tapHeard)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_openWarning = warning;
    m_tapHeard = tapHeard;
}

int SimulatedLine::refusedOpens() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_refusedOpens;
}

bool SimulatedLine::startTap(const QStringList &options, QString *error)
{
    tapsim::TapCommandLine commandLine;
    if (!commandLine.parse(
            QStringList{QStringLiteral("kalvessa-tapsim"), QStringLiteral("--interface"), m_name}
            + options)) {
        *error = commandLine.error();
        return false;
    }
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_plugged) {
        *error = QStringLiteral("%1 is not plugged").arg(m_name);
        return false;
    }
    m_tap.reset();
    m_options = std::make_unique<tapsim::TapOptions>(commandLine.options());
    m_state = std::make_unique<tapsim::TapState>(m_options->status);
    m_frames.clear();
    // Its record and state stay in memory; where they would go on disk does not matter here.
    tapsim::TapWire &wire = *this;
    tapsim::FrameLog *log = this;
    m_tap = std::make_unique<tapsim::SimulatedTap>(*m_options, wire, *m_state, log, nullptr);
    m_tap->start(Clock::now());
    return true;
}

void SimulatedLine::stopTap()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_tap.reset();
}

bool SimulatedLine::tapRunning() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_tap != nullptr;
}

QList<TapFrame> SimulatedLine::frames() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_frames;
}

void SimulatedLine::clearFrames()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_frames.clear();
}

QByteArray SimulatedLine::flash() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_state ? bytesOf(m_state->programmedArea()) : QByteArray();
}

QByteArray SimulatedLine::settingsSector(bool stored) const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_state ? bytesOf(m_state->settingsSector(stored)) : QByteArray();
}

int SimulatedLine::linksAttached() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(m_ports.size());
}

int SimulatedLine::linksEverAttached() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_attaches;
}

void SimulatedLine::attach(Port &port)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_ports.push_back(&port);
    ++m_attaches;
}

void SimulatedLine::detach(Port &port)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_ports.erase(std::remove(m_ports.begin(), m_ports.end(), &port), m_ports.end());
    port = Port();
}

LinkOpening SimulatedLine::open(Port &port)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_plugged)
        return notOpened(NoSuchDevice);
    if (!m_up) {
        ++m_refusedOpens;
        return notOpened(NotUp, LinkError::Kind::InterfaceDown);
    }
    port.waiting.clear();
    port.open = true;
    LinkOpening opening;
    opening.opened = true;
    if (!m_openWarning.empty())
        opening.warnings.push_back(m_openWarning);
    return opening;
}

void SimulatedLine::park(Port &port)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    port.open = false;
    port.waiting.clear();
}

std::optional<LinkError> SimulatedLine::send(Port &from, const uint8_t *bytes, int length)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_plugged)
        return LinkError{LinkError::Kind::InterfaceGone, SendGone};
    if (!m_up)
        return LinkError{LinkError::Kind::InterfaceDown, SendDown};
    if (length < MinFrameLength)
        return LinkError{LinkError::Kind::Other, SendTooShort};
    if (length > m_mtu + EthernetHeaderLength)
        return LinkError{LinkError::Kind::FrameTooLong, SendTooLong};
    catchUp(Clock::now());
    for (Port *port : m_ports) {
        if (port != &from)
            deliver(*port, bytes, length);
    }
    if (m_tap && passesTapFilter(bytes, length)) {
        timeval now{};
        ::gettimeofday(&now, nullptr);
        m_tap->take(now, length, bytes, length);  // a sync frame needs no answer in-process
    }
    m_arrived.notify_all();
    return std::nullopt;
}

LinkReception SimulatedLine::receive(Port &port, int timeoutMs)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        const Clock::time_point now = Clock::now();
        catchUp(now);
        // What reached the ring before the interface went is still read, then the loss.
        if (!port.waiting.empty()) {
            port.handedOut = std::move(port.waiting.front());
            port.waiting.pop_front();
            LinkReception got;
            got.result = LinkReception::Result::Frame;
            got.bytes = port.handedOut.data();
            got.captured = static_cast<int>(port.handedOut.size());
            got.length = got.captured;
            return got;
        }
        if (!m_plugged)
            return failed(LinkError::Kind::InterfaceGone, Disappeared);
        if (!m_up)
            return failed(LinkError::Kind::InterfaceDown, WentDown);
        if (now >= deadline)
            return {};
        Clock::time_point wake = deadline;
        if (const std::optional<Clock::time_point> due = m_tap ? m_tap->nextWake() : std::nullopt)
            wake = std::min(wake, *due);
        m_arrived.wait_until(lock, wake);
    }
}

void SimulatedLine::catchUp(Clock::time_point now)
{
    // One turn per moment the program's loop would have woken at, so that junk and background
    // traffic come at their times and rates, as they would on a veth pair.
    while (m_tap) {
        const std::optional<Clock::time_point> due = m_tap->nextWake();
        if (!due || *due > now)
            return;
        m_tap->advance(*due);
    }
}

bool SimulatedLine::send(const uint8_t *bytes, int length)
{
    // An interface that drops what is not addressed to it never hears the zero address.
    if (m_tapHeard) {
        for (Port *port : m_ports)
            deliver(*port, bytes, length);
    }
    m_arrived.notify_all();  // a link waiting on another thread
    return true;
}

void SimulatedLine::record(const timeval &time, int, const uint8_t *bytes, int capturedLength)
{
    constexpr double MicrosecondsPerSecond = 1e6;
    m_frames.append({double(time.tv_sec) + double(time.tv_usec) / MicrosecondsPerSecond,
                     QByteArray(reinterpret_cast<const char *>(bytes), capturedLength)});
}

void SimulatedLine::deliver(Port &port, const uint8_t *bytes, int length)
{
    if (port.open && port.waiting.size() < RingFrames && passesHostFilter(bytes, length))
        port.waiting.emplace_back(bytes, bytes + length);
}

// Link notices of the in-process network, on an eventfd the worker can wait on.
class InProcessTaps::Watch : public LinkChanges
{
public:
    explicit Watch(InProcessTaps &taps)
        : m_taps(taps)
        , m_fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
    {
        const std::lock_guard<std::mutex> lock(m_taps.m_mutex);
        m_taps.m_watches.push_back(this);
    }
    ~Watch() override
    {
        {
            const std::lock_guard<std::mutex> lock(m_taps.m_mutex);
            m_taps.m_watches.erase(
                std::remove(m_taps.m_watches.begin(), m_taps.m_watches.end(), this),
                m_taps.m_watches.end());
        }
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Watch(const Watch &) = delete;
    Watch &operator=(const Watch &) = delete;

    int fd() const override { return m_fd; }
    bool drain() override
    {
        uint64_t count = 0;
        return ::read(m_fd, &count, sizeof count) == static_cast<ssize_t>(sizeof count)
            && count > 0;
    }
    void tell()
    {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_fd, &one, sizeof one);
    }

private:
    InProcessTaps &m_taps;
    const int m_fd;
};

InProcessTaps &InProcessTaps::instance()
{
    static InProcessTaps taps;
    return taps;
}

void InProcessTaps::attach()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (m_users++ > 0)
        return;
    m_before = HostInterfaces::putInPlace(this);
    // Taps of this process are no other program's business, and its tests may run beside
    // others that use the same interface names.
    if (qEnvironmentVariableIsEmpty("KALVESSA_LOCK_DIR")) {
        m_lockDirectory = std::make_unique<QTemporaryDir>();
        qputenv("KALVESSA_LOCK_DIR", m_lockDirectory->path().toLocal8Bit());
    }
}

void InProcessTaps::detach()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (--m_users > 0)
        return;
    HostInterfaces::putInPlace(m_before);
    m_before = nullptr;
    if (m_lockDirectory) {
        qunsetenv("KALVESSA_LOCK_DIR");
        m_lockDirectory.reset();
    }
}

std::shared_ptr<SimulatedLine> InProcessTaps::plug(const QString &name, const MacAddress &mac)
{
    std::shared_ptr<SimulatedLine> line;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        for (const std::shared_ptr<SimulatedLine> &there : m_lines) {
            if (there->name() == name)
                return nullptr;
        }
        line = std::make_shared<SimulatedLine>(name, mac, ++m_lastIndex);
        m_lines.push_back(line);
    }
    tellWatchers();
    return line;
}

void InProcessTaps::unplug(const QString &name)
{
    std::shared_ptr<SimulatedLine> gone;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = std::find_if(m_lines.begin(), m_lines.end(),
                                     [&name](const auto &line) { return line->name() == name; });
        if (it == m_lines.end())
            return;
        gone = *it;
        m_lines.erase(it);
    }
    gone->unplug();
    tellWatchers();
}

std::shared_ptr<SimulatedLine> InProcessTaps::line(const QString &name) const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    for (const std::shared_ptr<SimulatedLine> &line : m_lines) {
        if (line->name() == name)
            return line;
    }
    return nullptr;
}

void InProcessTaps::setUp(const QString &name, bool up)
{
    if (const std::shared_ptr<SimulatedLine> found = line(name)) {
        found->setUp(up);
        tellWatchers();
    }
}

bool InProcessTaps::linkUp(const QString &interfaceName)
{
    const std::shared_ptr<SimulatedLine> found = line(interfaceName);
    return found && found->isUp();
}

void InProcessTaps::tellWatchers()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    for (Watch *watch : m_watches)
        watch->tell();
}

std::optional<QList<TapInterface>> InProcessTaps::listTaps()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    QList<TapInterface> taps;
    for (const std::shared_ptr<SimulatedLine> &line : m_lines) {
        if (isTapAddress(line->mac().data()))
            taps.append({line->name(), line->mac()});
    }
    return taps;
}

bool InProcessTaps::anyTap()
{
    const std::optional<QList<TapInterface>> taps = listTaps();
    return taps && !taps->isEmpty();
}

bool InProcessTaps::hardwareAddress(const QString &interfaceName, MacAddress *out)
{
    const std::shared_ptr<SimulatedLine> found = line(interfaceName);
    if (!found)
        return false;
    *out = found->mac();
    return true;
}

int InProcessTaps::interfaceIndex(const QString &interfaceName)
{
    const std::shared_ptr<SimulatedLine> found = line(interfaceName);
    return found ? found->index() : 0;
}

QString InProcessTaps::interfaceName(int index)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    for (const std::shared_ptr<SimulatedLine> &line : m_lines) {
        if (line->index() == index)
            return line->name();
    }
    return {};
}

std::unique_ptr<FrameLink> InProcessTaps::linkFor(const QString &interfaceName)
{
    return std::make_unique<InProcessLink>(*this, interfaceName);
}

std::unique_ptr<LinkChanges> InProcessTaps::watchLinks()
{
    return std::make_unique<Watch>(*this);
}
