#include "FilterFields.h"

#include <QLineEdit>

#include <array>

#include "ByteFieldRow.h"

namespace {

constexpr int Hexadecimal = 16;
constexpr int Decimal = 10;
constexpr int HexDigitsPerByte = 2;
constexpr qsizetype MostBytes = DeviceSettings::MacLength;

using Bytes = std::array<uint8_t, MostBytes>;

// One address of the filter: how many fields, how they are written, and where the record keeps
// its bytes and its care bits.
struct Group
{
    qsizetype width;
    int base;
    QChar separator;
    const char *name;
    void (*store)(DeviceSettings &, const uint8_t *bytes, uint8_t mask);
    void (*load)(const DeviceSettings &, uint8_t *bytes, uint8_t *mask);
};

const std::array<Group, 6> Groups = {{
    {DeviceSettings::MacLength, Hexadecimal, u':',
     QT_TRANSLATE_NOOP("FilterFields", "Ethernet destination address"),
     [](DeviceSettings &s, const uint8_t *b, uint8_t m) {
         s.setDstMac(b);
         s.setDstMacMask(m);
     },
     [](const DeviceSettings &s, uint8_t *b, uint8_t *m) {
         s.dstMac(b);
         s.dstMacMask(m);
     }},
    {DeviceSettings::MacLength, Hexadecimal, u':',
     QT_TRANSLATE_NOOP("FilterFields", "Ethernet source address"),
     [](DeviceSettings &s, const uint8_t *b, uint8_t m) {
         s.setSrcMac(b);
         s.setSrcMacMask(m);
     },
     [](const DeviceSettings &s, uint8_t *b, uint8_t *m) {
         s.srcMac(b);
         s.srcMacMask(m);
     }},
    {DeviceSettings::EtherTypeLength, Hexadecimal, u':',
     QT_TRANSLATE_NOOP("FilterFields", "EtherType"),
     [](DeviceSettings &s, const uint8_t *b, uint8_t m) {
         s.setEtherType(b);
         s.setEtherTypeMask(m);
     },
     [](const DeviceSettings &s, uint8_t *b, uint8_t *m) {
         s.etherType(b);
         s.etherTypeMask(m);
     }},
    {1, Hexadecimal, u':', QT_TRANSLATE_NOOP("FilterFields", "IPv4 protocol"),
     [](DeviceSettings &s, const uint8_t *b, uint8_t m) {
         s.setProtocol(b[0]);
         s.setProtocolMask(m);
     },
     [](const DeviceSettings &s, uint8_t *b, uint8_t *m) {
         s.protocol(b);
         s.protocolMask(m);
     }},
    {DeviceSettings::IpLength, Decimal, u'.',
     QT_TRANSLATE_NOOP("FilterFields", "IPv4 source address"),
     [](DeviceSettings &s, const uint8_t *b, uint8_t m) {
         s.setSrcIp(b);
         s.setSrcIpMask(m);
     },
     [](const DeviceSettings &s, uint8_t *b, uint8_t *m) {
         s.srcIp(b);
         s.srcIpMask(m);
     }},
    {DeviceSettings::IpLength, Decimal, u'.',
     QT_TRANSLATE_NOOP("FilterFields", "IPv4 destination address"),
     [](DeviceSettings &s, const uint8_t *b, uint8_t m) {
         s.setDstIp(b);
         s.setDstIpMask(m);
     },
     [](const DeviceSettings &s, uint8_t *b, uint8_t *m) {
         s.dstIp(b);
         s.dstIpMask(m);
     }},
}};

// Care bits run from the group's highest (first byte) down to 0x01 (last byte).
uint8_t careBit(qsizetype index, qsizetype width)
{
    return static_cast<uint8_t>(1u << (width - 1 - index));
}

QString byteText(uint8_t byte, int base)
{
    return base == Hexadecimal
        ? QStringLiteral("%1").arg(byte, HexDigitsPerByte, Hexadecimal, QLatin1Char('0'))
        : QString::number(byte);
}

// Equal when both are wildcards or both name the same byte ("a" and "0a" do).
bool sameValue(const QString &a, const QString &b, int base)
{
    if (a.isEmpty() || b.isEmpty())
        return a.isEmpty() == b.isEmpty();
    return a.toUInt(nullptr, base) == b.toUInt(nullptr, base);
}

}  // namespace

FilterFields::FilterFields(const QList<QLineEdit *> &fields, QObject *parent)
    : QObject(parent)
    , m_fields(fields)
{
    Q_ASSERT(m_fields.size() == FieldCount);
    qsizetype first = 0;
    for (const Group &group : Groups) {
        m_rows << new ByteFieldRow(m_fields.mid(first, group.width), group.base, group.separator,
                                   this);
        first += group.width;
    }
}

void FilterFields::read(DeviceSettings &settings) const
{
    for (qsizetype g = 0; g < m_rows.size(); ++g) {
        const QList<QLineEdit *> &row = m_rows[g]->fields();
        Bytes bytes{};
        uint8_t mask = 0;
        for (qsizetype i = 0; i < row.size(); ++i) {
            const QString text = row[i]->text();
            if (text.isEmpty())
                continue;
            bytes[i] = static_cast<uint8_t>(text.toUInt(nullptr, Groups[g].base));
            mask |= careBit(i, row.size());
        }
        Groups[g].store(settings, bytes.data(), mask);
    }
}

QStringList FilterFields::textsOf(const DeviceSettings &settings) const
{
    QStringList texts;
    for (const Group &group : Groups) {
        Bytes bytes{};
        uint8_t mask = 0;
        group.load(settings, bytes.data(), &mask);
        for (qsizetype i = 0; i < group.width; ++i)
            texts << ((mask & careBit(i, group.width)) ? byteText(bytes[i], group.base)
                                                       : QString());
    }
    return texts;
}

void FilterFields::show(const DeviceSettings &settings)
{
    const QStringList texts = textsOf(settings);
    for (qsizetype i = 0; i < m_fields.size(); ++i)
        m_fields[i]->setText(texts[i]);
}

QList<QLineEdit *> FilterFields::differingFrom(const DeviceSettings &settings) const
{
    const QStringList texts = textsOf(settings);
    QList<QLineEdit *> out;
    qsizetype i = 0;
    for (const ByteFieldRow *row : m_rows) {
        for (QLineEdit *field : row->fields()) {
            if (!sameValue(field->text(), texts[i], row->base()))
                out << field;
            ++i;
        }
    }
    return out;
}

void FilterFields::setEnabled(bool enabled)
{
    for (QLineEdit *field : m_fields)
        field->setEnabled(enabled);
}

void FilterFields::nameForAccessibility()
{
    for (qsizetype g = 0; g < m_rows.size(); ++g) {
        const QString name = tr(Groups[g].name);
        const QList<QLineEdit *> &row = m_rows[g]->fields();
        for (qsizetype i = 0; i < row.size(); ++i) {
            row[i]->setAccessibleName(
                row.size() == 1 ? name
                                : tr("%1, byte %2 of %3").arg(name).arg(i + 1).arg(row.size()));
        }
    }
}
