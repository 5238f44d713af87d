#include "InProcessTapBed.h"

#include "InProcessTaps.h"

InProcessTapBed::InProcessTapBed(const QString &hostInterface, const QString &mac)
    : m_host(hostInterface)
{
    const QByteArray bytes = QByteArray::fromHex(mac.toLatin1().replace(':', ""));
    if (bytes.size() == qsizetype(m_mac.size()))
        std::copy(bytes.begin(), bytes.end(), m_mac.begin());
    else
        qWarning("InProcessTapBed: %s is not a MAC address", qPrintable(mac));
    InProcessTaps::instance().attach();
}

InProcessTapBed::~InProcessTapBed()
{
    if (m_plugged)
        unplug();
    InProcessTaps::instance().detach();
}

bool InProcessTapBed::plug()
{
    std::shared_ptr<SimulatedLine> line = InProcessTaps::instance().plug(m_host, m_mac);
    if (!line) {
        qWarning("InProcessTapBed: %s is plugged already", qPrintable(m_host));
        return false;
    }
    m_line = std::move(line);
    m_plugged = true;
    return true;
}

bool InProcessTapBed::unplug()
{
    const bool was = m_plugged;
    InProcessTaps::instance().unplug(m_host);
    m_plugged = false;
    return was;
}

bool InProcessTapBed::setUp(bool up)
{
    if (!m_plugged)
        return false;
    InProcessTaps::instance().setUp(m_host, up);
    return true;
}

bool InProcessTapBed::setMtu(int mtu)
{
    if (!m_plugged)
        return false;
    m_line->setMtu(mtu);
    return true;
}

bool InProcessTapBed::startTap(const QStringList &options)
{
    QString error = QStringLiteral("%1 is not plugged").arg(m_host);
    if (!m_plugged || !m_line->startTap(options, &error)) {
        qWarning("InProcessTapBed: the simulated tap did not come up: %s", qPrintable(error));
        return false;
    }
    // As next to the veth bed's simulator: the tool need not ask before flashing its stand-in.
    qputenv("KALVESSA_SIMULATED_TAP", m_host.toLocal8Bit());
    return true;
}

void InProcessTapBed::stopTap()
{
    if (m_line)
        m_line->stopTap();
}

bool InProcessTapBed::tapRunning() const
{
    return m_line && m_line->tapRunning();
}

QList<TapFrame> InProcessTapBed::frames()
{
    return m_line ? m_line->frames() : QList<TapFrame>();
}

void InProcessTapBed::clearFrames()
{
    if (m_line)
        m_line->clearFrames();
}

QByteArray InProcessTapBed::flash()
{
    return m_line ? m_line->flash() : QByteArray();
}

QByteArray InProcessTapBed::settingsSector(bool stored)
{
    return m_line ? m_line->settingsSector(stored) : QByteArray();
}

std::unique_ptr<FrameLink> InProcessTapBed::link() const
{
    return InProcessTaps::instance().linkFor(m_host);
}

int InProcessTapBed::capturesHeld() const
{
    return m_plugged ? m_line->linksAttached() : 0;
}
