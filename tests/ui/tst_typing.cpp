// Typing into the filter's byte fields as people do: either case, "0x", whole addresses typed
// or pasted into any field of their row, separators and Backspace moving between fields.
#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QTest>

#include "ByteFieldRow.h"

class TestTyping : public QObject
{
    Q_OBJECT

private slots:
    void typing_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("base");
        QTest::addColumn<int>("into");  // the field that has focus first
        QTest::addColumn<QString>("how");  // keys, ctrl+v, or menu (QLineEdit::paste)
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("fields");
        QTest::addColumn<int>("focus");  // the field with focus afterwards

        const auto row = [](const char *name, int width, int base, int into, const char *how,
                            const char *input, const char *fields, int focus) {
            QTest::newRow(name) << width << base << into << QString::fromUtf8(how)
                                << QString::fromUtf8(input) << QString::fromUtf8(fields) << focus;
        };
        row("upper case, shown lower", 6, 16, 0, "keys", "FF", "ff|||||", 1);
        row("0x starts a number", 2, 16, 0, "keys", "0x8", "8|", 0);
        row("comma refused", 6, 16, 0, "keys", ",a,", "a|||||", 0);
        row("separator moves on", 6, 16, 0, "keys", "a:b-c", "a|b|c|||", 2);
        row("typed MAC", 6, 16, 0, "keys", "00:0e:C6:12:34:56", "00|0e|c6|12|34|56", 5);
        row("typed bare MAC", 6, 16, 0, "keys", "000ec6123456", "00|0e|c6|12|34|56", 5);
        row("MAC pasted into byte 4", 6, 16, 3, "ctrl+v", "00:0e:c6:12:34:56", "00|0e|c6|12|34|56",
            5);
        row("MAC with dashes", 6, 16, 1, "ctrl+v", "00-0E-C6-12-34-56", "00|0e|c6|12|34|56", 5);
        row("bare MAC from the menu", 6, 16, 5, "menu", " 000EC6123456 ", "00|0e|c6|12|34|56", 5);
        row("two bytes from byte 3", 6, 16, 2, "ctrl+v", "12:34", "||12|34||", 3);
        row("too long from byte 5", 6, 16, 4, "ctrl+v", "12:34:56", "|||||", 4);
        row("odd digit run", 6, 16, 0, "menu", "0ec61", "|||||", 0);
        row("EtherType 0x0800", 2, 16, 1, "ctrl+v", "0x0800", "08|00", 1);
        row("typed IPv4", 4, 10, 0, "keys", "192.168.1.10", "192|168|1|10", 3);
        row("pasted IPv4", 4, 10, 2, "ctrl+v", "10.0.0.255", "10|0|0|255", 3);
        row("octet above 255 refused", 4, 10, 0, "keys", "256", "25|||", 0);
        row("IPv4 with an octet above 255", 4, 10, 0, "menu", "10.0.0.256", "|||", 0);
        row("Backspace moves back", 6, 16, 0, "keys", "ab\b\bc", "ac|||||", 1);
    }

    void typing()
    {
        QFETCH(int, width);
        QFETCH(int, base);
        QFETCH(int, into);
        QFETCH(QString, how);
        QFETCH(QString, input);

        QWidget window;
        auto *layout = new QHBoxLayout(&window);
        QList<QLineEdit *> fields;
        for (int i = 0; i < width; ++i) {
            fields << new QLineEdit(&window);
            layout->addWidget(fields.last());
        }
        ByteFieldRow row(fields, base, base == 16 ? u':' : u'.', nullptr);
        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        fields[into]->setFocus();
        QVERIFY(fields[into]->hasFocus());

        if (how == QLatin1String("keys")) {
            for (QChar c : input)
                QTest::keyClicks(QApplication::focusWidget(), QString(c));
        } else {
            QApplication::clipboard()->setText(input);
            if (how == QLatin1String("menu"))
                fields[into]->paste();
            else
                QTest::keyClick(fields[into], Qt::Key_V, Qt::ControlModifier);
        }

        QStringList texts;
        for (QLineEdit *field : fields)
            texts << field->text();
        QTEST(texts.join(QLatin1Char('|')), "fields");
        QTEST(int(fields.indexOf(static_cast<QLineEdit *>(QApplication::focusWidget()))), "focus");
    }
};

QTEST_MAIN(TestTyping)
#include "tst_typing.moc"
