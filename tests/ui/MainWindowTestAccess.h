#pragma once

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include <functional>

#include "Detection.h"
#include "InProcessTaps.h"
#include "MainWindow.h"
#include "ResourcePaths.h"

// What the tests need of a window: its widgets by name, and a little beyond them.
// Every window runs the worker, which talks to any tap it can see, and some tests click
// "Apply"; so windows are made only where the tap service sees the test's own interfaces: the
// in-process ones (InProcessTaps attached), or a private network namespace's.
class MainWindowTestAccess
{
public:
    MainWindow *w = nullptr;

    template <typename T = QWidget> T *get(const char *name) const
    {
        return w->findChild<T *>(QLatin1String(name));
    }
    QLineEdit *edit(int i) const
    {
        return w->findChild<QLineEdit *>(i == 1 ? QStringLiteral("lineEdit")
                                                : QStringLiteral("lineEdit_%1").arg(i));
    }
    QString text(const char *label) const { return get<QLabel>(label)->text(); }
    QPushButton *update() const { return get<QPushButton>("pushButton_4"); }
    QProgressBar *bar() const { return get<QProgressBar>("progressBar"); }
    // Whether the status light shows this image.
    bool shows(const QString &light) const
    {
        const auto argb = [](const QPixmap &p) {
            return p.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
        };
        return argb(get<QLabel>("label")->pixmap()) == argb(QPixmap(light));
    }

    // The worker ends and what it already said is taken in; from then on only report() speaks
    // for it, and requests the window posts go nowhere.
    void stopWorker()
    {
        w->m_detection->stop();
        w->m_detection->wait();
        QCoreApplication::sendPostedEvents();
    }
    void report(const TapSnapshot &snapshot, const QList<TapOutcome> &outcomes = {})
    {
        w->present(snapshot, outcomes);
    }
    void progress(int percent) { w->updateProgress(percent); }
};

// Where the window keeps the tap chosen for the next start, among the user's settings.
inline const QString ChoiceKey = QStringLiteral("window/tap");
inline QSettings kept()
{
    return QSettings(QStringLiteral("kalvessa"), QStringLiteral("kalvessa100"));
}

// Answers the next modal question with `choice` and keeps its text in `asked`.
inline void answerNextQuestion(QMessageBox::StandardButton choice, QString *asked)
{
    QTimer::singleShot(0, [asked, choice] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            *asked = box->text();
            box->button(choice)->click();
        }
    });
}

// Chooses an entry of a list as a person does: the list opened, the entry clicked (`beforeClick`
// done just before). An entry that cannot be chosen leaves the list open; it is closed then.
inline void pickInList(QComboBox *list, int entry, const std::function<void()> &beforeClick = {})
{
    list->showPopup();
    QAbstractItemView *view = list->view();
    QTRY_VERIFY(view->isVisible());
    if (beforeClick)
        beforeClick();
    const QRect at = view->visualRect(view->model()->index(entry, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at.center());
    if (view->isVisible())
        list->hidePopup();
}
