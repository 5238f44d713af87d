// The form's widget tree, texts, focus chain and initial state, checked against the
// layout the window is meant to have.
#include <QCheckBox>
#include <QFormLayout>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QVBoxLayout>

#include "MainWindowForm.h"

namespace {

struct WidgetPlacement
{
    const char *name;
    const char *className;
    const char *parent;
    const char *layout;  // the layout the widget sits in
    int index;           // position within a box layout (0-based), -1 for grid/form cells
};

// Box-layout members, in order, with the layout that carries them.
const WidgetPlacement BoxPlacements[] = {
    {"frame", "QFrame", "centralWidget", "verticalLayout", 0},
    {"tabWidget", "QTabWidget", "centralWidget", "verticalLayout", 1},
    {"pushButton", "QPushButton", "centralWidget", "verticalLayout", 2},
    {"pushButton_2", "QPushButton", "centralWidget", "verticalLayout", 3},
    {"pushButton_3", "QPushButton", "centralWidget", "verticalLayout", 4},
    {"label", "QLabel", "frame", "horizontalLayout", 0},
    {"pushButton_4", "QPushButton", "frame", "verticalLayout_3", 0},
    {"progressBar", "QProgressBar", "frame", "verticalLayout_3", 1},
    {"checkBox", "QCheckBox", "tab", "verticalLayout_4", 0},
    {"radioButton", "QRadioButton", "tab", "verticalLayout_4", 2},
    {"radioButton_2", "QRadioButton", "tab", "verticalLayout_4", 3},
    {"logo", "QLabel", "tab", "horizontalLayout_2", 1},
    {"checkBox_2", "QCheckBox", "tab_2", "verticalLayout_2", 0},
    {"checkBox_3", "QCheckBox", "tab_3", "verticalLayout_5", 0},
    {"checkBox_4", "QCheckBox", "tab_3", "verticalLayout_5", 1},
};

struct GridCell
{
    const char *name;
    int row;
    int column;
};

const GridCell GridCells[] = {
    {"label_10", 0, 0}, {"lineEdit", 0, 1}, {"label_16", 0, 2}, {"lineEdit_2", 0, 3},
    {"label_17", 0, 4}, {"lineEdit_3", 0, 5}, {"label_18", 0, 6}, {"lineEdit_4", 0, 7},
    {"label_19", 0, 8}, {"lineEdit_5", 0, 9}, {"label_20", 0, 10}, {"lineEdit_6", 0, 11},
    {"label_11", 1, 0}, {"lineEdit_7", 1, 1}, {"label_21", 1, 2}, {"lineEdit_8", 1, 3},
    {"label_22", 1, 4}, {"lineEdit_9", 1, 5}, {"label_23", 1, 6}, {"lineEdit_10", 1, 7},
    {"label_24", 1, 8}, {"lineEdit_11", 1, 9}, {"label_25", 1, 10}, {"lineEdit_12", 1, 11},
    {"label_12", 2, 0}, {"lineEdit_13", 2, 1}, {"lineEdit_14", 2, 3},
    {"label_13", 3, 0}, {"lineEdit_15", 3, 1},
    {"label_14", 4, 0}, {"lineEdit_16", 4, 1}, {"label_26", 4, 2}, {"lineEdit_17", 4, 3},
    {"label_27", 4, 4}, {"lineEdit_18", 4, 5}, {"label_28", 4, 6}, {"lineEdit_19", 4, 7},
    {"label_15", 5, 0}, {"lineEdit_20", 5, 1}, {"label_29", 5, 2}, {"lineEdit_21", 5, 3},
    {"label_30", 5, 4}, {"lineEdit_22", 5, 5}, {"label_31", 5, 6}, {"lineEdit_23", 5, 7},
};

struct FormCell
{
    const char *name;
    int row;
    QFormLayout::ItemRole role;
};

const FormCell FormCells[] = {
    {"label_2", 0, QFormLayout::LabelRole},  {"label_32", 1, QFormLayout::LabelRole},
    {"label_3", 2, QFormLayout::LabelRole},  {"label_4", 2, QFormLayout::FieldRole},
    {"label_5", 3, QFormLayout::LabelRole},  {"label_6", 3, QFormLayout::FieldRole},
    {"label_7", 4, QFormLayout::LabelRole},  {"label_8", 4, QFormLayout::FieldRole},
};

const char *const FocusChain[] = {
    "tabWidget", "checkBox", "lineEdit", "lineEdit_2", "lineEdit_3", "lineEdit_4",
    "lineEdit_5", "lineEdit_6", "lineEdit_7", "lineEdit_8", "lineEdit_9", "lineEdit_10",
    "lineEdit_11", "lineEdit_12", "lineEdit_13", "lineEdit_14", "lineEdit_15", "lineEdit_16",
    "lineEdit_17", "lineEdit_18", "lineEdit_19", "lineEdit_20", "lineEdit_21", "lineEdit_22",
    "lineEdit_23", "radioButton", "radioButton_2", "checkBox_2", "checkBox_3", "checkBox_4",
    "pushButton", "pushButton_2", "pushButton_3", "pushButton_4",
};

struct Text
{
    const char *name;
    const char *text;
};

const Text Texts[] = {
    {"label", "PlaceHolder"}, {"label_2", "Marvolen not found"}, {"label_32", ""},
    {"label_3", "MAC Address :"}, {"label_4", "-"}, {"label_5", "Firmware Type :"},
    {"label_6", "-"}, {"label_7", "Firmware Version :"}, {"label_8", "-"},
    {"pushButton_4", ""}, {"checkBox", "Enable Filter"},
    {"label_10", "Ethernet MAC Destination address :"},
    {"label_11", "Ethernet MAC Source address :"}, {"label_12", "Ethernet Type :"},
    {"label_13", "IPv4 Protocol :"}, {"label_14", "IPv4 Source address :"},
    {"label_15", "IPv4 Destination address"}, {"radioButton", "Keep Filter"},
    {"radioButton_2", "Discard Filter"}, {"logo", "PLaceHolder"},
    {"checkBox_2", "Enable Timestamps"}, {"checkBox_3", "Capture CRC error frames"},
    {"checkBox_4", "Capture Frame CRC32 Field (FCS)"}, {"pushButton", "Read Current Setup"},
    {"pushButton_2", "Apply"}, {"pushButton_3", "Flash"},
};

QString textOf(QObject *o)
{
    if (auto *l = qobject_cast<QLabel *>(o))
        return l->text();
    if (auto *b = qobject_cast<QAbstractButton *>(o))
        return b->text();
    return QStringLiteral("<no text>");
}

QStringList lineEditNames()
{
    QStringList names{QStringLiteral("lineEdit")};
    for (int i = 2; i <= 23; ++i)
        names << QStringLiteral("lineEdit_%1").arg(i);
    return names;
}

bool samePolicy(const QSizePolicy &p, QSizePolicy::Policy h, QSizePolicy::Policy v)
{
    return p.horizontalPolicy() == h && p.verticalPolicy() == v && p.horizontalStretch() == 0
        && p.verticalStretch() == 0;
}

} // namespace

class TestMainWindowForm : public QObject
{
    Q_OBJECT

    QMainWindow *window = nullptr;
    MainWindowForm form;

    template <typename T = QWidget> T *find(const char *name) const
    {
        return window->findChild<T *>(QLatin1String(name));
    }

private slots:
    void init()
    {
        window = new QMainWindow;
        form.setupForm(window);
    }
    void cleanup()
    {
        delete window;
        window = nullptr;
    }

    void windowProperties()
    {
        QCOMPARE(window->objectName(), QStringLiteral("MainWindow"));
        QCOMPARE(window->size(), QSize(627, 606));
        QVERIFY(samePolicy(window->sizePolicy(), QSizePolicy::Fixed, QSizePolicy::Fixed));
        QCOMPARE(window->minimumSize(), QSize(0, 0));
        QCOMPARE(window->maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
        QCOMPARE(window->windowTitle(), QStringLiteral("Kalvessa 100"));
        QCOMPARE(window->centralWidget(), form.centralWidget);
        QCOMPARE(window->centralWidget()->objectName(), QStringLiteral("centralWidget"));
        QVERIFY(!window->windowIcon().isNull());
        QCOMPARE(window->windowIcon().pixmap(50, 50).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied),
                 QImage(QStringLiteral(":/img/green_small.png")).convertToFormat(QImage::Format_ARGB32_Premultiplied));
    }

    void namedWindowKeepsItsName()
    {
        QMainWindow named;
        named.setObjectName(QStringLiteral("ConfigWindow"));
        MainWindowForm other;
        other.setupForm(&named);
        QCOMPARE(named.objectName(), QStringLiteral("ConfigWindow"));
    }

    void boxLayoutsHoldTheirWidgetsInOrder()
    {
        for (const WidgetPlacement &p : BoxPlacements) {
            QWidget *w = find(p.name);
            QVERIFY2(w, p.name);
            QCOMPARE(w->metaObject()->className(), p.className);
            QCOMPARE(w->parentWidget()->objectName(), QLatin1String(p.parent));
            auto *layout = window->findChild<QBoxLayout *>(QLatin1String(p.layout));
            QVERIFY2(layout, p.layout);
            QVERIFY2(layout->indexOf(w) == p.index, p.name);
        }
    }

    void nestedLayoutsAndSpacers()
    {
        // centralWidget's layout
        QCOMPARE(form.centralWidget->layout(), form.verticalLayout);
        QCOMPARE(form.verticalLayout->count(), 5);

        // status panel: light, fields, spacer, update button column
        QCOMPARE(form.frame->layout(), form.horizontalLayout);
        QCOMPARE(form.horizontalLayout->count(), 4);
        QCOMPARE(form.horizontalLayout->itemAt(1)->layout(), form.formLayout);
        QSpacerItem *panelSpacer = form.horizontalLayout->itemAt(2)->spacerItem();
        QVERIFY(panelSpacer);
        QCOMPARE(panelSpacer->sizeHint(), QSize(40, 20));
        QVERIFY(samePolicy(panelSpacer->sizePolicy(), QSizePolicy::Expanding, QSizePolicy::Minimum));
        QCOMPARE(form.horizontalLayout->itemAt(3)->layout(), form.verticalLayout_3);
        QCOMPARE(form.verticalLayout_3->count(), 2);

        // Filter tab: check box, grid, two radios, spacer, logo row
        QCOMPARE(form.tab->layout(), form.verticalLayout_4);
        QCOMPARE(form.verticalLayout_4->count(), 6);
        QCOMPARE(form.verticalLayout_4->itemAt(1)->layout(), form.gridLayout);
        QSpacerItem *filterSpacer = form.verticalLayout_4->itemAt(4)->spacerItem();
        QVERIFY(filterSpacer);
        QCOMPARE(filterSpacer->sizeHint(), QSize(20, 40));
        QVERIFY(samePolicy(filterSpacer->sizePolicy(), QSizePolicy::Minimum, QSizePolicy::Expanding));
        QCOMPARE(form.verticalLayout_4->itemAt(5)->layout(), form.horizontalLayout_2);
        QCOMPARE(form.horizontalLayout_2->count(), 2);
        QSpacerItem *logoSpacer = form.horizontalLayout_2->itemAt(0)->spacerItem();
        QVERIFY(logoSpacer);
        QCOMPARE(logoSpacer->sizeHint(), QSize(40, 20));
        QVERIFY(samePolicy(logoSpacer->sizePolicy(), QSizePolicy::Expanding, QSizePolicy::Minimum));

        // the other two tabs end in a vertical spacer
        QCOMPARE(form.tab_2->layout(), form.verticalLayout_2);
        QCOMPARE(form.verticalLayout_2->count(), 2);
        QVERIFY(form.verticalLayout_2->itemAt(1)->spacerItem());
        QCOMPARE(form.tab_3->layout(), form.verticalLayout_5);
        QCOMPARE(form.verticalLayout_5->count(), 3);
        QVERIFY(form.verticalLayout_5->itemAt(2)->spacerItem());

        // grid column 12 of row 0 takes the free width
        const int spacerIndex = form.gridLayout->indexOf(form.horizontalSpacer_3);
        QVERIFY(spacerIndex >= 0);
        int row, column, rowSpan, columnSpan;
        form.gridLayout->getItemPosition(spacerIndex, &row, &column, &rowSpan, &columnSpan);
        QCOMPARE(QList<int>({row, column, rowSpan, columnSpan}), QList<int>({0, 12, 1, 1}));
        QVERIFY(samePolicy(form.horizontalSpacer_3->sizePolicy(), QSizePolicy::Expanding,
                           QSizePolicy::Minimum));
    }

    void tabsInOrder()
    {
        QCOMPARE(form.tabWidget->count(), 3);
        QCOMPARE(form.tabWidget->widget(0), form.tab);
        QCOMPARE(form.tabWidget->widget(1), form.tab_2);
        QCOMPARE(form.tabWidget->widget(2), form.tab_3);
        QCOMPARE(form.tabWidget->tabText(0), QStringLiteral("Filter"));
        QCOMPARE(form.tabWidget->tabText(1), QStringLiteral("Timestamps"));
        QCOMPARE(form.tabWidget->tabText(2), QStringLiteral("CRC Errors"));
        QCOMPARE(form.tabWidget->currentIndex(), 0);
    }

    void gridCells()
    {
        QCOMPARE(form.gridLayout->rowCount(), 6);
        QCOMPARE(form.gridLayout->columnCount(), 13);
        // every cell listed, nothing else but the spacer
        QCOMPARE(form.gridLayout->count(), int(std::size(GridCells)) + 1);
        for (const GridCell &c : GridCells) {
            QWidget *w = find(c.name);
            QVERIFY2(w, c.name);
            QCOMPARE(w->parentWidget(), form.tab);
            const QString cls = QLatin1String(c.name).startsWith(QLatin1String("lineEdit"))
                ? QStringLiteral("QLineEdit") : QStringLiteral("QLabel");
            QCOMPARE(QLatin1String(w->metaObject()->className()), cls);
            int row, column, rowSpan, columnSpan;
            form.gridLayout->getItemPosition(form.gridLayout->indexOf(w), &row, &column, &rowSpan,
                                             &columnSpan);
            QVERIFY2(row == c.row && column == c.column && rowSpan == 1 && columnSpan == 1, c.name);
            QVERIFY2(form.gridLayout->itemAt(form.gridLayout->indexOf(w))->alignment() == 0, c.name);
        }
    }

    void statusPanelRows()
    {
        QCOMPARE(form.formLayout->rowCount(), 5);
        for (const FormCell &c : FormCells) {
            auto *w = find<QLabel>(c.name);
            QVERIFY2(w, c.name);
            QCOMPARE(w->parentWidget(), form.frame);
            int row = -1;
            QFormLayout::ItemRole role;
            form.formLayout->getWidgetPosition(w, &row, &role);
            QVERIFY2(row == c.row && role == c.role, c.name);
        }
        // rows 0 and 1 have no field
        QVERIFY(!form.formLayout->itemAt(0, QFormLayout::FieldRole));
        QVERIFY(!form.formLayout->itemAt(1, QFormLayout::FieldRole));
    }

    void spacingsAndMargins()
    {
        const QMargins eleven(11, 11, 11, 11);
        for (QBoxLayout *l : {static_cast<QBoxLayout *>(form.verticalLayout),
                              static_cast<QBoxLayout *>(form.horizontalLayout),
                              static_cast<QBoxLayout *>(form.verticalLayout_4),
                              static_cast<QBoxLayout *>(form.verticalLayout_2),
                              static_cast<QBoxLayout *>(form.verticalLayout_5)}) {
            QVERIFY2(l->spacing() == 6, qPrintable(l->objectName()));
            QVERIFY2(l->contentsMargins() == eleven, qPrintable(l->objectName()));
        }
        QCOMPARE(form.verticalLayout_3->spacing(), 6);
        QCOMPARE(form.horizontalLayout_2->spacing(), 6);
        QCOMPARE(form.horizontalLayout_2->contentsMargins().top(), 0);
        QCOMPARE(form.formLayout->horizontalSpacing(), 6);
        QCOMPARE(form.formLayout->verticalSpacing(), 0);
        QCOMPARE(form.gridLayout->horizontalSpacing(), 6);
        QCOMPARE(form.gridLayout->verticalSpacing(), 6);

        // Right and bottom are pinned; left and top stay whatever a fresh nested layout has.
        QGridLayout fresh;
        const QMargins toolkit = fresh.contentsMargins();
        for (QLayout *l : {static_cast<QLayout *>(form.formLayout),
                           static_cast<QLayout *>(form.gridLayout)}) {
            const QMargins m = l->contentsMargins();
            QVERIFY2(m.right() == 0 && m.bottom() == 0, qPrintable(l->objectName()));
            QVERIFY2(m.left() == toolkit.left() && m.top() == toolkit.top(),
                     qPrintable(l->objectName()));
        }
    }

    void sizesAndPolicies()
    {
        QVERIFY(samePolicy(form.frame->sizePolicy(), QSizePolicy::Expanding, QSizePolicy::Fixed));
        QCOMPARE(form.frame->frameShape(), QFrame::Panel);
        QCOMPARE(form.frame->frameShadow(), QFrame::Raised);
        QCOMPARE(form.label->minimumSize(), QSize(50, 50));
        QCOMPARE(form.label->maximumSize(), QSize(50, 50));
        QVERIFY(samePolicy(form.pushButton_4->sizePolicy(), QSizePolicy::Minimum, QSizePolicy::Minimum));
        QVERIFY(samePolicy(form.progressBar->sizePolicy(), QSizePolicy::Fixed, QSizePolicy::Fixed));
        QCOMPARE(form.progressBar->minimumSize(), QSize(150, 0));
        QCOMPARE(form.progressBar->maximumSize(), QSize(150, 14));
        QCOMPARE(form.logo->minimumSize(), QSize(100, 0));
        QCOMPARE(form.logo->maximumSize(), QSize(300, QWIDGETSIZE_MAX));
        QVERIFY(samePolicy(form.pushButton->sizePolicy(), QSizePolicy::Minimum, QSizePolicy::Fixed));
        QVERIFY(samePolicy(form.label_10->sizePolicy(), QSizePolicy::Fixed, QSizePolicy::Preferred));

        const QSizePolicy editDefault = QLineEdit().sizePolicy();
        for (const QString &name : lineEditNames()) {
            auto *e = window->findChild<QLineEdit *>(name);
            QCOMPARE(e->maximumSize(), QSize(35, QWIDGETSIZE_MAX));
            const bool firstSix = name == QLatin1String("lineEdit")
                || QStringList({"lineEdit_2", "lineEdit_3", "lineEdit_4", "lineEdit_5", "lineEdit_6"})
                       .contains(name);
            if (firstSix)
                QVERIFY2(samePolicy(e->sizePolicy(), QSizePolicy::Fixed, QSizePolicy::Fixed), qPrintable(name));
            else
                QVERIFY2(e->sizePolicy() == editDefault, qPrintable(name));
        }
    }

    void gridFieldsStayNarrowInAWideWindow()
    {
        window->resize(2400, 606);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QTRY_COMPARE(window->width(), 2400);
        for (const QString &name : lineEditNames())
            QVERIFY2(window->findChild<QLineEdit *>(name)->width() <= 35, qPrintable(name));
        // the free width goes to the spacer in column 12, not to the caption column
        QVERIFY(form.horizontalSpacer_3->geometry().width() > 1000);
        QVERIFY(form.label_10->width() < 400);
    }

    void texts()
    {
        for (const Text &t : Texts) {
            QObject *o = find<QObject>(t.name);
            QVERIFY2(o, t.name);
            QCOMPARE(textOf(o), QString::fromUtf8(t.text));
        }
        for (int i = 16; i <= 25; ++i)
            QCOMPARE(textOf(find<QObject>(qPrintable(QStringLiteral("label_%1").arg(i)))), QStringLiteral(":"));
        for (int i = 26; i <= 31; ++i)
            QCOMPARE(textOf(find<QObject>(qPrintable(QStringLiteral("label_%1").arg(i)))), QStringLiteral("."));
    }

    void retranslateRestoresPlaceholders()
    {
        window->setWindowTitle(QStringLiteral("something else"));
        form.label_2->setText(QStringLiteral("Kalvessa 100 found"));
        form.label_4->setText(QStringLiteral("00:0e:c6:12:34:56"));
        form.label_6->setText(QStringLiteral("TF"));
        form.label_8->setText(QStringLiteral("4.0"));
        form.pushButton_4->setText(QStringLiteral("Update to 4.0"));
        form.tabWidget->setTabText(1, QStringLiteral("x"));

        form.retranslateForm(window);

        QCOMPARE(window->windowTitle(), QStringLiteral("Kalvessa 100"));
        QCOMPARE(form.label_2->text(), QStringLiteral("Marvolen not found"));
        QCOMPARE(form.label_4->text(), QStringLiteral("-"));
        QCOMPARE(form.label_6->text(), QStringLiteral("-"));
        QCOMPARE(form.label_8->text(), QStringLiteral("-"));
        QCOMPARE(form.pushButton_4->text(), QString());
        QCOMPARE(form.tabWidget->tabText(1), QStringLiteral("Timestamps"));
    }

    void focusChainRunsFromTabWidgetToTheUpdateButton()
    {
        const QSet<QString> listed = [] {
            QSet<QString> s;
            for (const char *n : FocusChain)
                s.insert(QLatin1String(n));
            return s;
        }();
        QStringList seen;
        QWidget *w = form.tabWidget;
        do {
            if (listed.contains(w->objectName()) && !seen.contains(w->objectName()))
                seen << w->objectName();
            w = w->nextInFocusChain();
        } while (w != form.tabWidget);

        QStringList expected;
        for (const char *n : FocusChain)
            expected << QLatin1String(n);
        QCOMPARE(seen, expected);
    }

    void initialState()
    {
        for (QCheckBox *c : {form.checkBox, form.checkBox_2, form.checkBox_3, form.checkBox_4})
            QVERIFY2(!c->isChecked(), qPrintable(c->objectName()));
        QVERIFY(!form.radioButton->isChecked());
        QVERIFY(!form.radioButton_2->isChecked());
        QVERIFY(form.radioButton->autoExclusive() && form.radioButton_2->autoExclusive());
        QCOMPARE(form.radioButton->parentWidget(), form.radioButton_2->parentWidget());
        for (const QString &name : lineEditNames()) {
            auto *e = window->findChild<QLineEdit *>(name);
            QVERIFY2(e->text().isEmpty() && e->isEnabled(), qPrintable(name));
            QVERIFY2(!e->validator(), qPrintable(name));  // the window installs them
        }
        QVERIFY(!form.pushButton_4->isEnabled());
        for (QPushButton *b : {form.pushButton, form.pushButton_2, form.pushButton_3})
            QVERIFY(b->isEnabled());
        QCOMPARE(form.progressBar->value(), 0);
        QCOMPARE(form.progressBar->minimum(), 0);
        QCOMPARE(form.progressBar->maximum(), 100);
        QVERIFY(!form.progressBar->isTextVisible());
    }
};

QTEST_MAIN(TestMainWindowForm)
#include "tst_mainwindowform.moc"
