// The form's widget tree, texts, focus chain and initial state.
#include <QFormLayout>
#include <QGridLayout>
#include <QLineEdit>
#include <QMainWindow>
#include <QTest>

#include "MainWindowForm.h"

namespace {

// Every layout with the widget it belongs to and its items in order: "~" a spacer, "-" an
// empty cell, a layout's name a nested layout. Grid and form rows are separated by " | ";
// a form row is "label field".
const char *const Tree[][3] = {
    {"verticalLayout", "centralWidget", "frame tabWidget pushButton pushButton_2 pushButton_3"},
    {"horizontalLayout", "frame", "label formLayout ~ verticalLayout_3"},
    {"formLayout", "frame", "label_2 - | label_32 - | label_3 label_4 | label_5 label_6 | label_7 label_8"},
    {"verticalLayout_3", "frame", "pushButton_4 progressBar"},
    {"verticalLayout_4", "tab", "checkBox gridLayout radioButton radioButton_2 ~ horizontalLayout_2"},
    {"gridLayout", "tab",
     "label_10 lineEdit label_16 lineEdit_2 label_17 lineEdit_3 label_18 lineEdit_4 label_19 lineEdit_5 label_20 lineEdit_6 ~"
     " | label_11 lineEdit_7 label_21 lineEdit_8 label_22 lineEdit_9 label_23 lineEdit_10 label_24 lineEdit_11 label_25 lineEdit_12"
     " | label_12 lineEdit_13 - lineEdit_14 | label_13 lineEdit_15"
     " | label_14 lineEdit_16 label_26 lineEdit_17 label_27 lineEdit_18 label_28 lineEdit_19"
     " | label_15 lineEdit_20 label_29 lineEdit_21 label_30 lineEdit_22 label_31 lineEdit_23"},
    {"horizontalLayout_2", "tab", "~ logo"},
    {"verticalLayout_2", "tab_2", "checkBox_2 ~"},
    {"verticalLayout_5", "tab_3", "checkBox_3 checkBox_4 ~"},
};

const char *const Tabs[] = {"tab Filter", "tab_2 Timestamps", "tab_3 CRC Errors"};

const char *const Texts[][2] = {  // the status panel's placeholders are checked after retranslating
    {"label", "PlaceHolder"}, {"label_32", ""}, {"label_3", "MAC Address :"}, {"label_5", "Firmware Type :"},
    {"label_7", "Firmware Version :"}, {"checkBox", "Enable Filter"}, {"logo", "PLaceHolder"},
    {"label_10", "Ethernet MAC Destination address :"}, {"label_11", "Ethernet MAC Source address :"},
    {"label_12", "Ethernet Type :"}, {"label_13", "IPv4 Protocol :"}, {"label_14", "IPv4 Source address :"},
    {"label_15", "IPv4 Destination address"}, {"radioButton", "Keep Filter"}, {"radioButton_2", "Discard Filter"},
    {"checkBox_2", "Enable Timestamps"}, {"checkBox_3", "Capture CRC error frames"},
    {"checkBox_4", "Capture Frame CRC32 Field (FCS)"}, {"pushButton", "Read Current Setup"},
    {"pushButton_2", "Apply"}, {"pushButton_3", "Flash"},
};

// uic names a widget after its class unless told otherwise; only the logo was renamed.
QString classOf(const QString &name)
{
    QString base = name == QLatin1String("logo") ? QStringLiteral("label") : name.section(QLatin1Char('_'), 0, 0);
    base[0] = base[0].toUpper();
    return QLatin1Char('Q') + base;
}

QString field(int i) { return i == 1 ? QStringLiteral("lineEdit") : QStringLiteral("lineEdit_%1").arg(i); }

} // namespace

class TestMainWindowForm : public QObject
{
    Q_OBJECT

    QMainWindow *window = nullptr;
    MainWindowForm form;

    QString text(const QString &name) const { return window->findChild<QObject *>(name)->property("text").toString(); }

private slots:
    void init() { form.setupForm(window = new QMainWindow); }
    void cleanup() { delete window; }

    void widgetTree()
    {
        QCOMPARE(window->centralWidget(), form.centralWidget);
        for (const auto &[name, owner, items] : Tree) {
            auto *layout = window->findChild<QLayout *>(QLatin1String(name));
            QVERIFY2(layout && layout->parentWidget()->objectName() == QLatin1String(owner), name);
            const QStringList rows = QString::fromLatin1(items).split(QStringLiteral(" | "));
            int count = 0;
            for (int r = 0; r < rows.size(); ++r) {
                const QStringList cells = rows[r].split(QLatin1Char(' '));
                for (int c = 0; c < cells.size(); ++c) {
                    const QString &want = cells[c];
                    QLayoutItem *item = layout->itemAt(c);
                    if (auto *grid = qobject_cast<QGridLayout *>(layout))
                        item = grid->itemAtPosition(r, c);
                    else if (auto *formLayout = qobject_cast<QFormLayout *>(layout))
                        item = formLayout->itemAt(r, c ? QFormLayout::FieldRole : QFormLayout::LabelRole);
                    QVERIFY2(bool(item) == (want != QLatin1String("-")), qPrintable(want + QLatin1String(" in ") + name));
                    count += item ? 1 : 0;
                    QWidget *w = item ? item->widget() : nullptr;
                    const QString found = !item ? want : item->spacerItem() ? QStringLiteral("~")
                        : item->layout() ? item->layout()->objectName() : w->objectName();
                    QCOMPARE(found, want);
                    if (w) {
                        QCOMPARE(QLatin1String(w->metaObject()->className()), classOf(want));
                        QCOMPARE(w->parentWidget()->objectName(), QLatin1String(owner));
                    }
                }
            }
            QVERIFY2(layout->count() == count, name);  // nothing unlisted
        }
        QCOMPARE(form.tabWidget->count(), 3);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(form.tabWidget->widget(i)->objectName() + QLatin1Char(' ') + form.tabWidget->tabText(i),
                     QString::fromUtf8(Tabs[i]));
    }

    void textsAndInitialState()
    {
        for (const auto &[name, expected] : Texts)
            QCOMPARE(text(QLatin1String(name)), QString::fromUtf8(expected));
        for (int i = 16; i <= 31; ++i)
            QCOMPARE(text(QStringLiteral("label_%1").arg(i)), i <= 25 ? QStringLiteral(":") : QStringLiteral("."));
        for (QAbstractButton *b : std::initializer_list<QAbstractButton *>{
                 form.checkBox, form.checkBox_2, form.checkBox_3, form.checkBox_4, form.radioButton, form.radioButton_2})
            QVERIFY2(!b->isChecked(), qPrintable(b->objectName()));
        for (int i = 1; i <= 23; ++i) {
            auto *e = window->findChild<QLineEdit *>(field(i));
            QVERIFY2(e->text().isEmpty() && e->isEnabled() && !e->validator(), qPrintable(field(i)));
        }
        QVERIFY(form.pushButton->isEnabled() && form.pushButton_2->isEnabled() && form.pushButton_3->isEnabled());
        QVERIFY(!form.pushButton_4->isEnabled() && form.progressBar->value() == 0 && form.progressBar->maximum() == 100);
        QCOMPARE(form.tabWidget->currentIndex(), 0);
    }

    void retranslateRestoresPlaceholders()
    {
        const auto placeholders = [this] {
            return QStringList({text("label_2"), text("label_4"), text("label_6"), text("label_8"), text("pushButton_4")});
        };
        const QStringList expected{"Marvolen not found", "-", "-", "-", ""};
        QCOMPARE(placeholders(), expected);
        for (QLabel *l : {form.label_2, form.label_4, form.label_6, form.label_8})
            l->setText(QStringLiteral("4.0"));
        form.pushButton_4->setText(QStringLiteral("Update to 4.0"));
        form.retranslateForm(window);
        QCOMPARE(placeholders(), expected);
    }

    void focusChainRunsFromTabWidgetToTheUpdateButton()
    {
        QStringList expected{QStringLiteral("tabWidget"), QStringLiteral("checkBox")};
        for (int i = 1; i <= 23; ++i)
            expected << field(i);
        expected << QStringLiteral("radioButton radioButton_2 checkBox_2 checkBox_3 checkBox_4 pushButton pushButton_2 "
                                   "pushButton_3 pushButton_4").split(QLatin1Char(' '));
        QStringList seen;
        QWidget *w = form.tabWidget;
        do {
            if (expected.contains(w->objectName()) && !seen.contains(w->objectName()))
                seen << w->objectName();
        } while ((w = w->nextInFocusChain()) != form.tabWidget);
        QCOMPARE(seen, expected);
    }

    void namedWindowKeepsItsName()
    {
        QMainWindow named;
        named.setObjectName(QStringLiteral("ConfigWindow"));
        MainWindowForm().setupForm(&named);
        QCOMPARE(named.objectName(), QStringLiteral("ConfigWindow"));
    }

    void gridFieldsStayNarrowInAWideWindow()
    {
        window->resize(2400, 606);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QTRY_COMPARE(window->width(), 2400);
        for (int i = 1; i <= 23; ++i)
            QVERIFY2(window->findChild<QLineEdit *>(field(i))->width() <= 35, qPrintable(field(i)));
    }
};

QTEST_MAIN(TestMainWindowForm)
#include "tst_mainwindowform.moc"
