#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include "HardwareAddress.h"
#include "InterfaceDiscovery.h"
#include "MainWindow.h"
#include "ResourcePaths.h"

// What the tests need of a window: its widgets by name, and a little beyond them.
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

// Every window runs the worker, which talks to any tap it can see, and some tests click
// "Apply". They run in a private network namespace; where a real tap is visible all the same,
// they must not run at all rather than write into it.
inline QString attachedTap()
{
    const InterfaceListPtr list = listInterfaces();
    for (pcap_if_t *e = list ? list->head : nullptr; e; e = e->next) {
        uint8_t address[HardwareAddressLength];
        if (e->name && readHardwareAddress(e->name, address) && isTapAddress(address))
            return QString::fromLocal8Bit(e->name);
    }
    return {};
}
#define SKIP_IF_A_TAP_IS_ATTACHED()                                                              \
    if (const QString tap_ = attachedTap(); !tap_.isEmpty())                                     \
    QSKIP(qPrintable(QStringLiteral("a tap is attached (%1); these tests would write to it").arg(tap_)))
