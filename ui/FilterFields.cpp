#include "FilterFields.h"

#include <QLineEdit>

#include <array>

#include "ByteFieldRow.h"
#include "SettingValues.h"

namespace {

constexpr int Hexadecimal = 16;
constexpr int Decimal = 10;
constexpr int HexDigitsPerByte = 2;

// The filter's addresses in the form's order; their width and notation come from the settings
// layer, which also moves their bytes and care bits in and out of the record.
struct Group
{
    Setting setting;
    const char *name;

    qsizetype width() const { return syntaxOf(setting).width; }
    int base() const
    {
        return syntaxOf(setting).notation == SettingSyntax::Notation::HexBytes ? Hexadecimal
                                                                               : Decimal;
    }
    QChar separator() const { return base() == Hexadecimal ? u':' : u'.'; }
};

const std::array<Group, 6> Groups = {{
    {Setting::EthDst, QT_TRANSLATE_NOOP("FilterFields", "Ethernet destination address")},
    {Setting::EthSrc, QT_TRANSLATE_NOOP("FilterFields", "Ethernet source address")},
    {Setting::EtherType, QT_TRANSLATE_NOOP("FilterFields", "EtherType")},
    {Setting::IpProto, QT_TRANSLATE_NOOP("FilterFields", "IPv4 protocol")},
    {Setting::IpSrc, QT_TRANSLATE_NOOP("FilterFields", "IPv4 source address")},
    {Setting::IpDst, QT_TRANSLATE_NOOP("FilterFields", "IPv4 destination address")},
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
        m_rows << new ByteFieldRow(m_fields.mid(first, group.width()), group.base(),
                                   group.separator(), this);
        first += group.width();
    }
}

void FilterFields::read(DeviceSettings &settings) const
{
    for (qsizetype g = 0; g < m_rows.size(); ++g) {
        const QList<QLineEdit *> &row = m_rows[g]->fields();
        FilterPattern pattern;
        for (qsizetype i = 0; i < row.size(); ++i) {
            const QString text = row[i]->text();
            if (text.isEmpty())
                continue;
            pattern.bytes[i] = static_cast<uint8_t>(text.toUInt(nullptr, Groups[g].base()));
            pattern.careMask |= careBit(i, row.size());
        }
        assignSetting(settings, Groups[g].setting, pattern);
    }
}

QStringList FilterFields::textsOf(const DeviceSettings &settings) const
{
    QStringList texts;
    for (const Group &group : Groups) {
        const FilterPattern pattern = std::get<FilterPattern>(settingOf(settings, group.setting));
        for (qsizetype i = 0; i < group.width(); ++i)
            texts << ((pattern.careMask & careBit(i, group.width()))
                          ? byteText(pattern.bytes[i], group.base())
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
