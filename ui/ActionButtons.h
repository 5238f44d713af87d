#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class QPushButton;
class QTabWidget;
class QWidget;

// The window's action buttons (Read, Apply, Flash and the firmware update) turned on and off
// alike: each says in its tooltip what it does and, while off, why. A button that turns itself
// off while it has the focus would hand it to the next widget that takes it, the tab bar; the
// form is where the user goes on, so the focus goes back there.
class ActionButtons : public QObject
{
    Q_OBJECT

public:
    ActionButtons(QTabWidget *form, QObject *parent);

    void switchButton(QPushButton *button, bool on, const QString &purpose, const QString &whyOff);

private:
    void keepFocusInForm();

    QPointer<QTabWidget> m_form;
    QPointer<QWidget> m_lastFormFocus;
};
