#pragma once

// Keeps one copy of Vyo running per user. The first process holds a lock file in the user's
// runtime folder and listens on a local socket beside it; a later process finds the lock, hands
// its arguments (URLs) to the first one over the socket and exits. A lock or socket left behind by
// a crashed process does not stop the next start.

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QStringList>

#include <memory>

namespace vyo {

class SingleInstance : public QObject
{
    Q_OBJECT
public:
    // Uses the lock "vyo.lock" and the socket "vyo.socket" in `folder` (normally the user's
    // runtime folder).
    explicit SingleInstance(const QString &folder, QObject *parent = nullptr);
    ~SingleInstance() override;

    static QString defaultFolder();

    // Tries to become the running copy. True: this process is the first and now listens for
    // messages, or no lock can be made in the folder (logged; it then runs unguarded). False:
    // another copy runs (see otherProcessId).
    bool claim();
    // The process identifier of the running copy, after claim() returned false; 0 if unknown.
    qint64 otherProcessId() const { return m_otherPid; }

    // What a later copy started without URLs sends: the running copy shows its settings. No
    // forwarded URL can be this line (the command line refuses arguments that begin with "--").
    static constexpr auto showSettingsMessage = "--show-settings";

    // Hands messages to the running copy; false when it could not be reached in time.
    bool forward(const QStringList &messages, int timeoutMilliseconds = 3000);

Q_SIGNALS:
    // Messages that a later copy forwarded, in the order it sent them.
    void messagesReceived(const QStringList &messages);

private:
    void acceptConnection();

    QString m_folder;
    QLockFile m_lock;
    std::unique_ptr<QLocalServer> m_server;
    qint64 m_otherPid = 0;
};

} // namespace vyo
