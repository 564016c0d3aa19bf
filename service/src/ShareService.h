#pragma once

// The share service on one port: the pages (GET / and the share page GET /s/<room>, compiled into
// the program), the ICE-server list (GET /api/ice) and the signaling rooms (WebSocket
// /api/room/<room>?role=host|guest).

#include "ServiceConfig.h"

#include <QHttpServer>
#include <QList>
#include <QObject>

namespace vyo {

class GuardedTcpServer;
class RoomHub;

class ShareService : public QObject
{
    Q_OBJECT
public:
    explicit ShareService(const ServiceConfig &config, QObject *parent = nullptr);
    ~ShareService() override;

    // Starts listening on the configured address and port; false with `errorString` when it
    // cannot.
    bool listen();
    // Listens on one more address, on the port it already listens on; false with `errorString`
    // when it cannot (or does not listen yet). Each address has its own connection limit.
    bool listenAlso(const QHostAddress &address);
    // The port it listens on (the chosen one when the configuration says 0).
    quint16 port() const;
    // Guests' pages must come from this address from now on.
    void setPublicURL(const QUrl &url);
    QString errorString() const { return m_errorString; }

    const ServiceConfig &config() const { return m_config; }
    RoomHub &hub() { return *m_hub; }
    // Open TCP connections, HTTP and WebSocket.
    int openConnections() const;

    // Stops taking new rooms (GET /healthz answers 503 from now on, so a load balancer sends new
    // rooms elsewhere) and keeps the open ones until they end or the drain time-out passes; then
    // closes what is left and emits `drained`.
    void drain();
    bool isDraining() const { return m_draining; }

Q_SIGNALS:
    void drained();

private:
    void addRoutes();
    void takeWebSockets();
    void finishDrainWhenEmpty();

    ServiceConfig m_config;
    RoomHub *m_hub;
    QHttpServer *m_http;
    GuardedTcpServer *listenOn(const QHostAddress &address, quint16 port);

    // The first is the configured address's.
    QList<GuardedTcpServer *> m_tcp;
    QString m_errorString;
    bool m_draining = false;
    bool m_drained = false;
};

} // namespace vyo
