#include "ShareService.h"

#include "GuardedTcpServer.h"
#include "IceServers.h"
#include "RoomHub.h"
#include "ServiceLog.h"
#include "core/Json.h"

#include <QDateTime>
#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QHttpServerResponse>
#include <QRegularExpression>
#include <QTimer>
#include <QWebSocket>

namespace vyo {

namespace {

// How long sockets closed at the end of a drain may take to finish their closing handshake.
constexpr int closingGraceMilliseconds = 3000;

QByteArray resource(const QString &name)
{
    QFile file(QStringLiteral(":/web/") + name);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

// The headers every page and script of the service carries.
void setCommonHeaders(QHttpServerResponse &response)
{
    response.setHeader("Cache-Control", "no-store");
    response.setHeader("X-Content-Type-Options", "nosniff");
}

// A script, style sheet or licence of the share page, by its name below ":/web/"; 404 for
// anything else.
QHttpServerResponse asset(const QString &name)
{
    static const QRegularExpression form(
        QStringLiteral("^(noble/)?[A-Za-z0-9_][A-Za-z0-9_.-]*\\.(js|css)$|^noble/LICENSE$"));
    const QByteArray body = form.match(name).hasMatch() ? resource(name) : QByteArray();
    if (body.isEmpty())
        return QHttpServerResponse(QHttpServerResponse::StatusCode::NotFound);
    QByteArray type = "text/plain; charset=utf-8";
    if (name.endsWith(u".js"))
        type = "text/javascript; charset=utf-8";
    else if (name.endsWith(u".css"))
        type = "text/css; charset=utf-8";
    QHttpServerResponse response(type, body);
    setCommonHeaders(response);
    return response;
}

QHttpServerResponse
page(const QString &name,
     QHttpServerResponse::StatusCode status = QHttpServerResponse::StatusCode::Ok)
{
    QHttpServerResponse response(QByteArrayLiteral("text/html; charset=utf-8"), resource(name),
                                 status);
    setCommonHeaders(response);
    // The share address carries the room in its path: no other site should learn it.
    response.setHeader("Referrer-Policy", "no-referrer");
    // Scripts only from the service itself; WebSockets also to another signaling service (the
    // share address's "signal" item); thumbnails arrive as data URLs.
    response.setHeader(
        "Content-Security-Policy",
        "default-src 'self'; connect-src 'self' ws: wss:; style-src 'self' 'unsafe-inline'; "
        "img-src 'self' data: blob:; frame-ancestors 'none'");
    return response;
}

} // namespace

ShareService::ShareService(const ServiceConfig &config, QObject *parent)
    : QObject(parent)
    , m_config(config)
    , m_hub(new RoomHub(config, this))
    , m_http(new QHttpServer(this))
{
    addRoutes();
    QObject::connect(m_http, &QAbstractHttpServer::newWebSocketConnection, this,
                     &ShareService::takeWebSockets);
}

ShareService::~ShareService()
{
    // Rooms go first, while the HTTP server still exists.
    delete m_hub;
    m_hub = nullptr;
    delete m_http;
    m_http = nullptr;
}

bool ShareService::listen()
{
    if (!m_tcp.isEmpty())
        return true;
    GuardedTcpServer *tcp = listenOn(m_config.listenAddress, m_config.port);
    if (!tcp)
        return false;
    m_tcp.append(tcp);
    return true;
}

bool ShareService::listenAlso(const QHostAddress &address)
{
    if (m_tcp.isEmpty()) {
        m_errorString = QStringLiteral("not listening");
        return false;
    }
    GuardedTcpServer *tcp = listenOn(address, port());
    if (!tcp)
        return false;
    m_tcp.append(tcp);
    return true;
}

GuardedTcpServer *ShareService::listenOn(const QHostAddress &address, quint16 port)
{
    auto *tcp = new GuardedTcpServer(m_config.maxRequestBytes, m_config.httpIdleTimeout,
                                     m_config.maxConnections);
    tcp->setListenBacklogSize(m_config.listenBacklog);
    if (!tcp->listen(address, port)) {
        m_errorString = tcp->errorString();
        delete tcp;
        return nullptr;
    }
    m_http->bind(tcp);
    return tcp;
}

quint16 ShareService::port() const
{
    return m_tcp.isEmpty() ? 0 : m_tcp.first()->serverPort();
}

void ShareService::setPublicURL(const QUrl &url)
{
    m_config.publicURL = url;
    m_hub->setPublicURL(url);
}

int ShareService::openConnections() const
{
    int count = 0;
    for (const GuardedTcpServer *tcp : m_tcp)
        count += tcp->openConnections();
    return count;
}

void ShareService::addRoutes()
{
    m_http->route(QStringLiteral("/"), QHttpServerRequest::Method::Get,
                  [] { return page(QStringLiteral("index.html")); });

    m_http->route(QStringLiteral("/s/<arg>"), QHttpServerRequest::Method::Get,
                  [](const QString &roomID) {
                      if (!RoomHub::isRoomID(roomID))
                          return page(QStringLiteral("missing.html"),
                                      QHttpServerResponse::StatusCode::NotFound);
                      return page(QStringLiteral("share.html"));
                  });

    m_http->route(QStringLiteral("/web/<arg>"), QHttpServerRequest::Method::Get,
                  [](const QString &name) { return asset(name); });
    m_http->route(QStringLiteral("/web/noble/<arg>"), QHttpServerRequest::Method::Get,
                  [](const QString &name) { return asset(QStringLiteral("noble/") + name); });

    // For load balancers: 200 while the service takes new rooms, 503 while it drains.
    m_http->route(QStringLiteral("/healthz"), QHttpServerRequest::Method::Get, [this] {
        const QJsonObject answer{{QStringLiteral("status"), m_draining
                                                                ? QStringLiteral("draining")
                                                                : QStringLiteral("accepting")},
                                 {QStringLiteral("rooms"), m_hub->roomCount()},
                                 {QStringLiteral("members"), m_hub->memberCount()}};
        QHttpServerResponse response(QByteArrayLiteral("application/json"), compactJson(answer),
                                     m_draining
                                         ? QHttpServerResponse::StatusCode::ServiceUnavailable
                                         : QHttpServerResponse::StatusCode::Ok);
        response.setHeader("Cache-Control", "no-store");
        return response;
    });

    m_http->route(QStringLiteral("/api/ice"), QHttpServerRequest::Method::Get, [this] {
        const QJsonObject answer = iceAnswer(m_config, QDateTime::currentSecsSinceEpoch());
        QHttpServerResponse response(QByteArrayLiteral("application/json"), compactJson(answer));
        response.setHeader("Cache-Control", "no-store");
        return response;
    });

    // A WebSocket upgrade is handed to the WebSocket layer only when a route matches its path
    // and writes nothing; the hub then checks the room, the role and the origin.
    m_http->route(
        QStringLiteral("/api/room/<arg>"), QHttpServerRequest::Method::Get,
        [](const QString &, const QHttpServerRequest &request, QHttpServerResponder &&responder) {
            if (request.value("upgrade").compare("websocket", Qt::CaseInsensitive) == 0)
                return;
            responder.write("WebSocket upgrade required\n", "text/plain",
                            QHttpServerResponder::StatusCode::UpgradeRequired);
        });
}

void ShareService::drain()
{
    if (m_draining)
        return;
    m_draining = true;
    m_hub->setDraining(true);
    qCInfo(lcService).noquote() << "draining:" << m_hub->memberCount() << "sockets in"
                                << m_hub->roomCount() << "rooms, for at most"
                                << m_config.drainTimeout.count() / 1000.0 << "s";
    QObject::connect(m_hub, &RoomHub::emptied, this, &ShareService::finishDrainWhenEmpty);
    QTimer::singleShot(m_config.drainTimeout, this, [this] {
        if (m_drained)
            return;
        qCInfo(lcService) << "drain time-out: closing" << m_hub->memberCount() << "sockets";
        m_hub->closeAll();
        // Sockets that do not finish their closing handshake are aborted by then.
        QTimer::singleShot(closingGraceMilliseconds + 500, this, [this] {
            if (!m_drained) {
                m_drained = true;
                Q_EMIT drained();
            }
        });
    });
    // Queued, so that a caller connected after this call hears it too.
    QMetaObject::invokeMethod(this, &ShareService::finishDrainWhenEmpty, Qt::QueuedConnection);
}

void ShareService::finishDrainWhenEmpty()
{
    if (m_drained || m_hub->memberCount() > 0)
        return;
    m_drained = true;
    Q_EMIT drained();
}

void ShareService::takeWebSockets()
{
    // Bounded by the connections the HTTP server has upgraded so far.
    while (m_http->hasPendingWebSocketConnections()) {
        std::unique_ptr<QWebSocket> socket = m_http->nextPendingWebSocketConnection();
        if (!socket)
            break;
        m_hub->accept(socket.release());
    }
}

} // namespace vyo
