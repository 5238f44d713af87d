#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class QMessageBox;
class QWidget;

// What the window says beyond its own lines: details in a dialog that does not block the
// window (a newer one replaces it), and failures on standard error for whoever started it from
// a terminal.
class WindowMessages : public QObject
{
    Q_OBJECT

public:
    // A message about the tap's problem goes when the problem does; any other stays until
    // closed or replaced.
    enum class Topic { Other, TapProblem };

    explicit WindowMessages(QWidget *window);

    void show(const QString &title, const QString &details, Topic topic = Topic::Other);
    // Closes the message shown if it is about this topic.
    void close(Topic topic);

    static void print(const QString &line);

private:
    QWidget *m_window;
    QPointer<QMessageBox> m_box;
    Topic m_topic = Topic::Other;
};
