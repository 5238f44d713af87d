#include "ByteFieldRow.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLineEdit>
#include <QRegularExpression>
#include <QValidator>

#include <algorithm>

namespace {

constexpr int Hexadecimal = 16;
constexpr int ByteMaximum = 255;
constexpr qsizetype HexDigitsPerByte = 2;
constexpr qsizetype DecimalDigitsPerByte = 3;

// Any of these between the bytes of an address, whatever the row's own separator.
const QRegularExpression Separators(QStringLiteral("[:.\\-]"));
const QString SeparatorKeys = QStringLiteral(":.- ");
const QString HexPrefix = QStringLiteral("0x");

qsizetype digitsPerByte(int base)
{
    return base == Hexadecimal ? HexDigitsPerByte : DecimalDigitsPerByte;
}

// One byte as a field shows it, or nothing when the text is not one.
std::optional<QString> piece(const QString &text, int base)
{
    if (text.isEmpty() || text.size() > digitsPerByte(base))
        return std::nullopt;
    bool ok = false;
    const uint value = text.toUInt(&ok, base);
    // toUInt admits a sign and surrounding blanks; a field takes digits only.
    const bool digitsOnly = std::all_of(text.begin(), text.end(), [base](QChar c) {
        return base == Hexadecimal ? QStringLiteral("0123456789abcdefABCDEF").contains(c)
                                   : c.isDigit();
    });
    if (!ok || !digitsOnly || value > ByteMaximum)
        return std::nullopt;
    return text.toLower();
}

// The bytes of an address as people write it: with separators, or, in hexadecimal, as one run
// of digits two per byte ("000ec6123456").
std::optional<QStringList> pieces(QString text, int base)
{
    text = text.trimmed();
    if (base == Hexadecimal && text.startsWith(HexPrefix, Qt::CaseInsensitive))
        text = text.mid(HexPrefix.size());
    QStringList parts = text.split(Separators);
    if (parts.size() == 1 && base == Hexadecimal && text.size() > HexDigitsPerByte) {
        if (text.size() % HexDigitsPerByte != 0)
            return std::nullopt;
        parts.clear();
        for (qsizetype i = 0; i < text.size(); i += HexDigitsPerByte)
            parts << text.mid(i, HexDigitsPerByte);
    }
    QStringList out;
    for (const QString &part : parts) {
        const std::optional<QString> byte = piece(part, base);
        if (!byte)
            return std::nullopt;
        out << *byte;
    }
    return out;
}

// Admits one byte per field (hexadecimal shown in lower case) and, for a moment, a whole
// address or the rest of one, which the row then spreads over its fields.
class ByteFieldValidator : public QValidator
{
public:
    ByteFieldValidator(int base, qsizetype width, qsizetype index, QObject *parent)
        : QValidator(parent)
        , m_base(base)
        , m_width(width)
        , m_index(index)
    {
    }

    State validate(QString &input, int &) const override
    {
        if (m_base == Hexadecimal)
            input = input.toLower();
        if (input.isEmpty() || piece(input, m_base))
            return Acceptable;
        return ByteFieldRow::spread(input, m_base, m_width, m_index) ? Intermediate : Invalid;
    }

private:
    int m_base;
    qsizetype m_width;
    qsizetype m_index;
};

}  // namespace

ByteFieldRow::ByteFieldRow(const QList<QLineEdit *> &fields, int base, QChar separator,
                           QObject *parent)
    : QObject(parent)
    , m_fields(fields)
    , m_base(base)
    , m_separator(separator)
{
    for (qsizetype i = 0; i < m_fields.size(); ++i) {
        QLineEdit *field = m_fields[i];
        field->setValidator(new ByteFieldValidator(base, m_fields.size(), i, this));
        field->installEventFilter(this);
        // textEdited: only what people type or paste, never what the window puts there.
        connect(field, &QLineEdit::textEdited, this,
                [this, i](const QString &text) { edited(i, text); });
    }
}

std::optional<ByteFieldRow::Spread> ByteFieldRow::spread(const QString &text, int base,
                                                         qsizetype width, qsizetype into)
{
    const std::optional<QStringList> bytes = pieces(text, base);
    if (!bytes)
        return std::nullopt;
    Spread out;
    out.pieces = *bytes;
    out.first = bytes->size() == width ? 0 : into;
    if (out.first + bytes->size() > width)
        return std::nullopt;
    return out;
}

qsizetype ByteFieldRow::fullLength() const
{
    return digitsPerByte(m_base);
}

void ByteFieldRow::edited(qsizetype index, const QString &text)
{
    QLineEdit *field = m_fields[index];
    if (!text.isEmpty() && !piece(text, m_base)) {
        // Only a spread passes the validator and is not one byte.
        if (const std::optional<Spread> s = spread(text, m_base, m_fields.size(), index))
            fill(*s);
        return;
    }
    if (text.size() == fullLength() && field->cursorPosition() == text.size()
        && index + 1 < m_fields.size())
        moveTo(index + 1, true);
}

void ByteFieldRow::fill(const Spread &spread)
{
    for (qsizetype i = 0; i < spread.pieces.size(); ++i)
        m_fields[spread.first + i]->setText(spread.pieces[i]);
    const qsizetype last = spread.first + spread.pieces.size() - 1;
    moveTo(last, false);
}

void ByteFieldRow::moveTo(qsizetype index, bool selectAll)
{
    QLineEdit *field = m_fields[index];
    field->setFocus(Qt::OtherFocusReason);
    if (selectAll)
        field->selectAll();
    else
        field->end(false);
}

bool ByteFieldRow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    const qsizetype index = m_fields.indexOf(static_cast<QLineEdit *>(watched));
    if (index < 0)
        return false;
    QLineEdit *field = m_fields[index];
    const auto *key = static_cast<QKeyEvent *>(event);

    if (key->matches(QKeySequence::Paste)) {
        // Pasted over whatever the field holds: an address is meant to replace the row.
        const QString pasted = QApplication::clipboard()->text();
        const std::optional<Spread> s = spread(pasted, m_base, m_fields.size(), index);
        if (s && s->pieces.size() > 1) {
            fill(*s);
            return true;
        }
        return false;
    }
    if (key->key() == Qt::Key_Backspace && field->text().isEmpty() && index > 0) {
        moveTo(index - 1, false);
        return true;
    }
    const QString typed = key->text();
    if (typed.size() == 1 && SeparatorKeys.contains(typed)) {
        // In an empty field it is the separator after a byte that already moved on by itself.
        if (!field->text().isEmpty() && index + 1 < m_fields.size())
            moveTo(index + 1, true);
        return true;
    }
    if (m_base == Hexadecimal && typed.compare(QStringLiteral("x"), Qt::CaseInsensitive) == 0
        && field->text() == QStringLiteral("0")) {
        field->clear();  // "0x" starts a hexadecimal number; the digits follow
        return true;
    }
    return false;
}
