#pragma once

// Turns the signals that end a process politely (SIGTERM, SIGINT, SIGHUP) into a Qt signal on the
// main thread, so that the application can save before it quits.

#include <QObject>

class QSocketNotifier;

namespace vyo {

class TerminationSignals : public QObject
{
    Q_OBJECT
public:
    // Installs the handlers; one instance per process.
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

Q_SIGNALS:
    void received(int signalNumber);

private:
    QSocketNotifier *m_notifier = nullptr;
};

} // namespace vyo
