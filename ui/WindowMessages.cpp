#include "WindowMessages.h"

#include <QMessageBox>

#include <cstdio>

WindowMessages::WindowMessages(QWidget *window) : QObject(window), m_window(window) {}

void WindowMessages::show(const QString &title, const QString &details, Topic topic)
{
    if (m_box)
        m_box->close();
    auto *box = new QMessageBox(QMessageBox::Warning, title, details, QMessageBox::Ok, m_window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    m_box = box;
    m_topic = topic;
    box->show();
}

void WindowMessages::close(Topic topic)
{
    if (m_box && m_topic == topic)
        m_box->close();
}

void WindowMessages::print(const QString &line)
{
    std::fprintf(stderr, "%s\n", qUtf8Printable(line));
    std::fflush(stderr);
}
