#include "app/SingleInstance.h"

#include "core/Log.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

namespace vyo {

namespace {

// A forwarded batch is a few URLs; anything much larger is not from another copy of Vyo.
constexpr qint64 maximumMessageBytes = 4 * 1024 * 1024;

QString socketPath(const QString &folder)
{
    return folder + QStringLiteral("/vyo.socket");
}

} // namespace

SingleInstance::SingleInstance(const QString &folder, QObject *parent)
    : QObject(parent)
    , m_folder(folder)
    , m_lock(folder + QStringLiteral("/vyo.lock"))
{
    // A lock is stale only when its process is gone, never because of its age.
    m_lock.setStaleLockTime(0);
}

SingleInstance::~SingleInstance()
{
    if (m_server)
        m_server->close();
}

QString SingleInstance::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

bool SingleInstance::claim()
{
    QDir().mkpath(m_folder);
    if (!m_lock.tryLock(0)) {
        if (m_lock.error() != QLockFile::LockFailedError) {
            // No lock can be made here (a missing or read-only folder): that says nothing about
            // another copy, so this one runs, unguarded.
            vyoError(lcApp, u"실행 잠금 파일을 만들 수 없어 다른 Vyo를 확인하지 못함: %{public}s",
                     m_folder);
            return true;
        }
        QString hostname, application;
        m_lock.getLockInfo(&m_otherPid, &hostname, &application);
        return false;
    }
    // We hold the lock, so a socket file still there was left by a copy that died.
    QLocalServer::removeServer(socketPath(m_folder));
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(socketPath(m_folder)))
        vyoError(lcApp, u"다른 Vyo가 주소를 넘겨줄 소켓을 열지 못함: %{public}s",
                 m_server->errorString());
    connect(m_server.get(), &QLocalServer::newConnection, this, &SingleInstance::acceptConnection);
    return true;
}

void SingleInstance::acceptConnection()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::readyRead, socket, [socket] {
            if (socket->bytesAvailable() > maximumMessageBytes)
                socket->abort();
        });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
            const QByteArray bytes = socket->readAll();
            socket->deleteLater();
            QStringList messages;
            for (const QByteArray &line : bytes.split('\n')) {
                if (!line.isEmpty())
                    messages.append(QString::fromUtf8(line));
            }
            if (!messages.isEmpty())
                Q_EMIT messagesReceived(messages);
        });
    }
}

bool SingleInstance::forward(const QStringList &messages, int timeoutMilliseconds)
{
    QDeadlineTimer deadline(timeoutMilliseconds);
    QLocalSocket socket;
    // The running copy may still be starting and not listen yet: try again for a short while.
    while (true) {
        socket.connectToServer(socketPath(m_folder));
        if (socket.waitForConnected(int(std::max<qint64>(deadline.remainingTime(), 1))))
            break;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(50);
    }
    QByteArray bytes;
    for (const QString &message : messages) {
        QString line = message;
        line.remove(u'\n');
        bytes += line.toUtf8() + '\n';
    }
    socket.write(bytes);
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(int(std::max<qint64>(deadline.remainingTime(), 1))))
            return false;
    }
    socket.disconnectFromServer();
    return true;
}

} // namespace vyo
