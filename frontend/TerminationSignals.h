#pragma once

#include <QObject>

class QSocketNotifier;

// SIGTERM, SIGINT and SIGHUP as a Qt signal, the way Qt's documentation shows it: the handler
// only writes the signal's number into a socket pair, and a QSocketNotifier reads it back in
// the event loop. So a program decides for itself what to finish before it ends (a firmware
// update must never be cut short) instead of being ended wherever it stands.
//
// One instance at a time; it restores the previous handlers when it goes.
class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

    // For a program busy without an event loop: the first signal that arrived since the last
    // call, or 0. Reads what the handler wrote; the Qt signal is then not emitted for it.
    int takePending();

signals:
    void received(int signalNumber);

private:
    void readOne();

    QSocketNotifier *m_notifier = nullptr;
};
