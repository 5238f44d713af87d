#include "ActionButtons.h"

#include <QApplication>
#include <QPushButton>
#include <QTabWidget>

ActionButtons::ActionButtons(QTabWidget *form, QObject *parent) : QObject(parent), m_form(form)
{
    // Where focus goes back to when the button that had it turns itself off.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget *, QWidget *now) {
        if (now && m_form && m_form->currentWidget()->isAncestorOf(now))
            m_lastFormFocus = now;
    });
}

void ActionButtons::switchButton(QPushButton *button, bool on, const QString &purpose,
                                 const QString &whyOff)
{
    if (!on && button->hasFocus())
        keepFocusInForm();
    button->setEnabled(on);
    button->setToolTip(
        button->isEnabled() || whyOff.isEmpty() ? purpose : purpose + QLatin1Char('\n') + whyOff);
}

void ActionButtons::keepFocusInForm()
{
    QWidget *page = m_form->currentWidget();
    QWidget *target =
        m_lastFormFocus && page->isAncestorOf(m_lastFormFocus) ? m_lastFormFocus.data() : nullptr;
    if (!target || !target->isEnabled()) {
        target = nullptr;
        for (QWidget *w = page->nextInFocusChain(); w != page; w = w->nextInFocusChain()) {
            if (page->isAncestorOf(w) && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus)) {
                target = w;
                break;
            }
        }
    }
    if (target)
        target->setFocus(Qt::OtherFocusReason);
}
