#pragma once

// The share service on one port: the pages (GET / and the share page GET /s/<room>, compiled into
// the program), the ICE-server list (GET /api/ice) and the signaling rooms (WebSocket
// /api/room/<room>?role=host|guest).

#include "ServiceConfig.h"

#include <QHttpServer>
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
    // The port it listens on (the chosen one when the configuration says 0).
    quint16 port() const;
    QString errorString() const { return m_errorString; }

    const ServiceConfig &config() const { return m_config; }
    RoomHub &hub() { return *m_hub; }
    // Open TCP connections, HTTP and WebSocket.
    int openConnections() const;

private:
    void addRoutes();
    void takeWebSockets();

    ServiceConfig m_config;
    RoomHub *m_hub;
    QHttpServer *m_http;
    GuardedTcpServer *m_tcp = nullptr;
    QString m_errorString;
};

} // namespace vyo
