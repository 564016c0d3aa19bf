#pragma once

// The listening socket of the share service, with the guards the HTTP server lacks: a bounded
// number of open connections, a bounded request size (413 and close when a request outgrows it)
// and an idle time-out for HTTP connections. Sockets upgraded to WebSocket leave its care.

#include <QTcpServer>

#include <chrono>

namespace vyo {

class GuardedTcpServer : public QTcpServer
{
    Q_OBJECT
public:
    GuardedTcpServer(qint64 maxRequestBytes, std::chrono::milliseconds idleTimeout,
                     int maxConnections, QObject *parent = nullptr);

    // The HTTP server takes each new connection through here; refused ones never reach it.
    QTcpSocket *nextPendingConnection() override;

    // Connections accepted and not yet closed, WebSockets included.
    int openConnections() const { return m_openConnections; }

private:
    void guard(QTcpSocket *socket);

    qint64 m_maxRequestBytes;
    std::chrono::milliseconds m_idleTimeout;
    int m_maxConnections;
    int m_openConnections = 0;
};

} // namespace vyo
