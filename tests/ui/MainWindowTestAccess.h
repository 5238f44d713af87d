#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include "MainWindow.h"
#include "ResourcePaths.h"
#include "TapTestBed.h"

// What the tests need of a window: its widgets by name, and a little beyond them.
// Every window runs the worker, which talks to any tap it can see, and some tests click
// "Apply"; so windows are made only in a private network namespace (REQUIRE_TAP_TEST_BED).
class MainWindowTestAccess
{
public:
    MainWindow *w = nullptr;

    template <typename T = QWidget> T *get(const char *name) const { return w->findChild<T *>(QLatin1String(name)); }
    QLineEdit *edit(int i) const
    {
        return w->findChild<QLineEdit *>(i == 1 ? QStringLiteral("lineEdit") : QStringLiteral("lineEdit_%1").arg(i));
    }
    QString text(const char *label) const { return get<QLabel>(label)->text(); }
    QPushButton *update() const { return get<QPushButton>("pushButton_4"); }
    QProgressBar *bar() const { return get<QProgressBar>("progressBar"); }
    // Whether the status light shows this image.
    bool shows(const QString &light) const
    {
        const auto argb = [](const QPixmap &p) { return p.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied); };
        return argb(get<QLabel>("label")->pixmap()) == argb(QPixmap(light));
    }
    void setUpdating(bool updating) { w->updating = updating; }
    void showProblem(const QString &line) { w->showProblem(line, QStringLiteral("title"), QStringLiteral("details")); }
};
