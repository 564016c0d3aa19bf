#include "GuardedTcpServer.h"

#include "ServiceLog.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

namespace vyo {

namespace {

void answerAndClose(QTcpSocket *socket, const QByteArray &status)
{
    socket->write("HTTP/1.1 " + status + "\r\nConnection: close\r\nContent-Length: 0\r\n\r\n");
    socket->disconnectFromHost();
}

// Lives as a child of an accepted socket and counts it out when the socket goes, whoever owns it by
// then (upgraded sockets belong to their WebSocket, and the upgrade drops every signal connection).
class OpenConnection : public QObject
{
public:
    OpenConnection(int &count, QObject *counter, QObject *socket)
        : QObject(socket)
        , m_count(count)
        , m_counter(counter)
    {
        ++m_count;
    }
    ~OpenConnection() override
    {
        if (m_counter)
            --m_count;
    }

private:
    int &m_count;
    QPointer<QObject> m_counter;
};

} // namespace

GuardedTcpServer::GuardedTcpServer(qint64 maxRequestBytes, std::chrono::milliseconds idleTimeout,
                                   int maxConnections, QObject *parent)
    : QTcpServer(parent)
    , m_maxRequestBytes(maxRequestBytes)
    , m_idleTimeout(idleTimeout)
    , m_maxConnections(maxConnections)
{}

QTcpSocket *GuardedTcpServer::nextPendingConnection()
{
    // Bounded by the kernel's queue: each turn takes one pending connection off it.
    while (QTcpSocket *socket = QTcpServer::nextPendingConnection()) {
        if (m_openConnections >= m_maxConnections) {
            qCInfo(lcService) << "refused a connection: too many open connections";
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            answerAndClose(socket, "503 Service Unavailable");
            QTimer::singleShot(1000, socket, [socket] {
                socket->abort();
                socket->deleteLater();
            });
            continue;
        }
        guard(socket);
        return socket;
    }
    return nullptr;
}

void GuardedTcpServer::guard(QTcpSocket *socket)
{
    new OpenConnection(m_openConnections, this, socket);

    // The HTTP server parses inside a read transaction, so the whole pending request stays in the
    // socket's buffer: capping the buffer caps the request.
    socket->setReadBufferSize(m_maxRequestBytes);
    auto *idle = new QTimer(socket);
    idle->setSingleShot(true);
    const qint64 limit = m_maxRequestBytes;
    auto reading = std::make_shared<QMetaObject::Connection>();
    *reading = QObject::connect(socket, &QIODevice::readyRead, idle, [socket, idle, limit] {
        idle->start();
        if (socket->bytesAvailable() >= limit) {
            qCInfo(lcService) << "refused an HTTP request larger than" << limit << "bytes";
            answerAndClose(socket, "413 Content Too Large");
            QTimer::singleShot(1000, socket, &QTcpSocket::abort);
        }
    });
    QObject::connect(idle, &QTimer::timeout, socket, [socket, idle, reading] {
        // Upgrading to WebSocket disconnects every slot of the socket, ours too: then the
        // WebSocket layer owns the socket and its own keep-alive watches it.
        if (!*reading) {
            idle->deleteLater();
            return;
        }
        socket->abort();
    });
    idle->start(m_idleTimeout);
}

} // namespace vyo
