#include "FilterExpressionLine.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

#include "TapFilterModel.h"

FilterExpressionLine::FilterExpressionLine(QWidget *parent)
    : QWidget(parent)
    , m_caption(new QLabel(this))
    , m_line(new QLineEdit(this))
    , m_copy(new QToolButton(this))
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_caption);
    layout->addWidget(m_line, 1);
    layout->addWidget(m_copy);
    m_caption->setBuddy(m_line);
    m_line->setObjectName(QStringLiteral("filterExpression"));
    m_line->setReadOnly(true);  // still selectable, so it can be copied by hand too
    m_copy->setObjectName(QStringLiteral("copyFilterExpression"));
    connect(m_copy, &QToolButton::clicked, this,
            [this] { QGuiApplication::clipboard()->setText(m_line->text()); });
    retranslate();
}

void FilterExpressionLine::follow(const DeviceSettings &settings)
{
    m_line->setText(TapFilterModel(settings).expression());
    m_line->setCursorPosition(0);
    m_copy->setEnabled(!m_line->text().isEmpty());
}

void FilterExpressionLine::retranslate()
{
    m_caption->setText(tr("li&bpcap:"));
    m_line->setPlaceholderText(tr("every frame (no capture filter needed)"));
    m_line->setAccessibleName(tr("Filter as a libpcap expression"));
    m_line->setToolTip(
        tr("The filter as a libpcap expression, for tcpdump or Wireshark's capture filter on a "
           "plain interface. It models the tap's filter, whose own rule is not documented: the "
           "tap is taken to compare fixed places of untagged Ethernet II frames with a 20-byte "
           "IPv4 header at offset 14, whatever the EtherType says; a VLAN-tagged frame moves "
           "them. A frame too short to hold a compared byte does not match."));
    m_copy->setText(tr("Copy"));
    m_copy->setToolTip(tr("Copy the expression to the clipboard."));
}
