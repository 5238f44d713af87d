#pragma once

#include <QList>
#include <QObject>
#include <QStringList>

#include <optional>

class QLineEdit;

// The fields of one address in the form (a MAC address, the EtherType, an IPv4 address...),
// one byte each, typed as one address: a full field moves on to the next, a separator moves on
// early, Backspace in an empty field moves back, and a whole address typed or pasted into any
// of the fields spreads over the row. Hexadecimal fields take either case and show lower case.
class ByteFieldRow : public QObject
{
    Q_OBJECT

public:
    ByteFieldRow(const QList<QLineEdit *> &fields, int base, QChar separator, QObject *parent);

    const QList<QLineEdit *> &fields() const { return m_fields; }
    int base() const { return m_base; }
    QChar separator() const { return m_separator; }

    // Where text entered into field `into` goes: the field it starts at and one piece per field,
    // each a valid byte in the row's base (hexadecimal in lower case). A whole address fills the
    // row from its first field whichever field it went into. Nothing when the text is no byte,
    // no address, or does not fit from that field on.
    struct Spread
    {
        qsizetype first = 0;
        QStringList pieces;
    };
    static std::optional<Spread> spread(const QString &text, int base, qsizetype width,
                                        qsizetype into);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void edited(qsizetype index, const QString &text);
    // Puts the pieces into the row and the cursor after the last of them.
    void fill(const Spread &spread);
    void moveTo(qsizetype index, bool selectAll);
    qsizetype fullLength() const;

    QList<QLineEdit *> m_fields;
    int m_base;
    QChar m_separator;
};
