#pragma once

#include <QList>
#include <QObject>
#include <QStringList>

#include "DeviceSettings.h"

class ByteFieldRow;
class QLineEdit;

// The filter's 23 byte fields as the six addresses they make up (Ethernet destination and
// source, EtherType, IPv4 protocol, IPv4 source and destination), bound to the settings record.
// An empty field is a wildcard: its byte is not compared.
class FilterFields : public QObject
{
    Q_OBJECT

public:
    static constexpr qsizetype FieldCount = 23;

    // The form's byte fields, in the record's order.
    FilterFields(const QList<QLineEdit *> &fields, QObject *parent);

    const QList<QLineEdit *> &fields() const { return m_fields; }
    const QList<ByteFieldRow *> &rows() const { return m_rows; }

    void read(DeviceSettings &settings) const;
    void show(const DeviceSettings &settings);
    // The fields whose value is not the one the record holds.
    QList<QLineEdit *> differingFrom(const DeviceSettings &settings) const;
    void setEnabled(bool enabled);
    // "Ethernet destination address, byte 3 of 6", in the current language.
    void nameForAccessibility();

private:
    QStringList textsOf(const DeviceSettings &settings) const;

    QList<QLineEdit *> m_fields;
    QList<ByteFieldRow *> m_rows;
};
