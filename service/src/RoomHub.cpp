#include "RoomHub.h"

#include "IceServers.h"
#include "ServiceLog.h"
#include "core/Base64Url.h"
#include "core/Json.h"

#include <QJsonDocument>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QUrlQuery>
#include <QWebSocket>

#include <openssl/crypto.h>

#include <algorithm>

namespace vyo {

namespace {

// How long a refused socket may take to finish its closing handshake.
constexpr int closingGraceMilliseconds = 3000;

std::optional<QString> stringField(const QJsonObject &object, QLatin1String key)
{
    const QJsonValue value = object.value(key);
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

// Whether two secrets are equal, in time that does not depend on where they differ.
bool sameSecret(const QByteArray &a, const QByteArray &b)
{
    return a.size() == b.size() &&
           CRYPTO_memcmp(a.constData(), b.constData(), size_t(a.size())) == 0;
}

QJsonObject typed(const char *type, QJsonObject fields = {})
{
    fields.insert(QStringLiteral("type"), QString::fromLatin1(type));
    return fields;
}

} // namespace

RoomHub::RoomHub(const ServiceConfig &config, QObject *parent)
    : QObject(parent)
    , m_config(config)
{
    if (m_config.keepAliveInterval.count() > 0) {
        QObject::connect(&m_keepAlive, &QTimer::timeout, this, &RoomHub::keepAlive);
        m_keepAlive.start(m_config.keepAliveInterval);
    }
}

RoomHub::~RoomHub()
{
    // Sockets are children of the hub; forget them before they go, so that their last signals
    // find nothing to do.
    for (QWebSocket *socket : findChildren<QWebSocket *>(Qt::FindDirectChildrenOnly))
        QObject::disconnect(socket, nullptr, this, nullptr);
    m_members.clear();
    m_rooms.clear();
}

bool RoomHub::isRoomID(const QString &text)
{
    static const QRegularExpression form(QStringLiteral("^[A-Za-z0-9_-]{22}$"));
    return form.match(text).hasMatch();
}

bool RoomHub::isHostSecret(const QByteArray &text)
{
    static const QRegularExpression form(QStringLiteral("^[A-Za-z0-9_-]{22,128}$"));
    return form.match(QString::fromLatin1(text)).hasMatch();
}

void RoomHub::accept(QWebSocket *socket)
{
    socket->setParent(this);
    socket->setMaxAllowedIncomingMessageSize(m_config.maxMessageBytes);
    socket->setMaxAllowedIncomingFrameSize(m_config.maxMessageBytes);
    // The request-size cap of the HTTP side would keep large frames from ever arriving; the
    // message-size limit bounds memory from here on.
    socket->setReadBufferSize(0);
    QObject::connect(socket, &QWebSocket::disconnected, this, [this, socket] {
        memberLeft(socket);
        socket->deleteLater();
    });

    const QUrl url = socket->requestUrl();
    static const QString prefix = QStringLiteral("/api/room/");
    const QString path = url.path();
    const QString roomID = path.startsWith(prefix) ? path.mid(prefix.size()) : QString();
    if (!isRoomID(roomID)) {
        refuse(socket, CloseCode::badRoom, QStringLiteral("bad room identifier"));
        return;
    }
    const QString roleText = QUrlQuery(url).queryItemValue(QStringLiteral("role"));
    if (roleText != u"host" && roleText != u"guest") {
        refuse(socket, CloseCode::badRole, QStringLiteral("role must be host or guest"));
        return;
    }
    const Role role = roleText == u"host" ? Role::host : Role::guest;
    if (role == Role::host && m_config.hostsFromLoopbackOnly &&
        !socket->peerAddress().isLoopback()) {
        refuse(socket, CloseCode::hostNotLocal, QStringLiteral("hosts only from this computer"));
        return;
    }
    if (!isOriginAllowed(socket, role == Role::guest)) {
        refuse(socket, CloseCode::forbiddenOrigin, QStringLiteral("origin not allowed"));
        return;
    }
    const QByteArray hostSecret =
        role == Role::host ? socket->request().rawHeader(hostSecretHeader) : QByteArray();
    if (role == Role::host && !isHostSecret(hostSecret)) {
        refuse(socket, CloseCode::notRoomHost, QStringLiteral("host secret required"));
        return;
    }
    Room *existing = room(roomID);
    if (existing && role == Role::host && !existing->hostSecret.isEmpty() &&
        !sameSecret(existing->hostSecret, hostSecret)) {
        refuse(socket, CloseCode::notRoomHost, QStringLiteral("room belongs to another host"));
        return;
    }
    if (!existing && m_draining) {
        refuse(socket, CloseCode::full, QStringLiteral("service is shutting down"));
        return;
    }
    if (!existing && m_rooms.size() >= m_config.maxRooms) {
        refuse(socket, CloseCode::full, QStringLiteral("too many rooms"));
        return;
    }
    if (existing && role == Role::host && existing->host) {
        refuse(socket, CloseCode::hostPresent, QStringLiteral("room already has a host"));
        return;
    }
    if (existing && role == Role::guest && existing->guests.size() >= m_config.maxGuestsPerRoom) {
        refuse(socket, CloseCode::full, QStringLiteral("room is full"));
        return;
    }
    if (!existing) {
        auto created = std::make_shared<Room>();
        created->id = roomID;
        created->expiry.setSingleShot(true);
        QObject::connect(&created->expiry, &QTimer::timeout, this, [this, roomID] {
            // Removed outside the timer's own signal, since the timer goes with the room.
            QMetaObject::invokeMethod(
                this,
                [this, roomID] {
                    Room *expired = room(roomID);
                    if (expired && !expired->host && expired->guests.isEmpty())
                        m_rooms.remove(roomID);
                },
                Qt::QueuedConnection);
        });
        m_rooms.insert(roomID, created);
        existing = created.get();
    }
    join(socket, *existing, role, hostSecret);
}

void RoomHub::refuse(QWebSocket *socket, int code, const QString &reason)
{
    qCInfo(lcService).noquote() << "closing a socket:" << code << reason;
    QObject::disconnect(socket, &QWebSocket::textMessageReceived, this, nullptr);
    QObject::disconnect(socket, &QWebSocket::binaryMessageReceived, this, nullptr);
    // Closing inside the upgrade itself makes the WebSocket layer read from a closed device;
    // the close is queued.
    QMetaObject::invokeMethod(
        socket,
        [socket, code, reason] {
            socket->close(static_cast<QWebSocketProtocol::CloseCode>(code), reason);
        },
        Qt::QueuedConnection);
    QTimer::singleShot(closingGraceMilliseconds, socket, &QWebSocket::abort);
}

void RoomHub::join(QWebSocket *socket, Room &room, Role role, const QByteArray &hostSecret)
{
    Member member;
    member.roomID = room.id;
    member.role = role;
    member.tokens = m_config.maxMessagesPerSecond;
    member.refill.start();
    if (role == Role::guest)
        member.peerID = newPeerID();
    m_members.insert(socket, member);

    QObject::connect(socket, &QWebSocket::textMessageReceived, this,
                     [this, socket](const QString &text) { handleText(socket, text); });
    QObject::connect(socket, &QWebSocket::binaryMessageReceived, this, [this, socket] {
        refuse(socket, CloseCode::binaryMessage, QStringLiteral("text messages only"));
    });
    // Either side's closing handshake passes through here; a broken connection does not.
    QObject::connect(socket, &QWebSocket::aboutToClose, this, [this, socket] {
        if (auto it = m_members.find(socket); it != m_members.end())
            it->closeCode = socket->closeCode();
    });
    QObject::connect(socket, &QWebSocket::pong, this, [this, socket] {
        if (auto it = m_members.find(socket); it != m_members.end())
            it->awaitingPong = false;
    });

    room.expiry.stop();
    if (role == Role::host) {
        room.host = socket;
        // The first host owns the room for as long as the room exists.
        if (room.hostSecret.isEmpty())
            room.hostSecret = hostSecret;
        room.hostMayReturn = true;
        hostArrived(room);
        return;
    }
    room.guests.append(Guest{member.peerID, socket});
    send(socket, typed("welcome", {{QStringLiteral("peerId"), member.peerID},
                                   {QStringLiteral("host"), room.host != nullptr}}));
    if (room.host) {
        send(room.host, typed("peer-joined", {{QStringLiteral("peerId"), member.peerID}}));
        room.announced.insert(member.peerID);
    }
}

void RoomHub::hostArrived(Room &room)
{
    // A returning host keeps its working connections: it hears only of the guests that came or
    // went while it was away.
    QSet<QString> present;
    for (const Guest &guest : std::as_const(room.guests))
        present.insert(guest.peerID);
    QStringList gone;
    for (const QString &peerID : std::as_const(room.announced)) {
        if (!present.contains(peerID))
            gone.append(peerID);
    }
    gone.sort();
    for (const QString &peerID : std::as_const(gone))
        send(room.host, typed("peer-left", {{QStringLiteral("peerId"), peerID}}));
    for (const Guest &guest : std::as_const(room.guests)) {
        if (!room.announced.contains(guest.peerID))
            send(room.host, typed("peer-joined", {{QStringLiteral("peerId"), guest.peerID}}));
    }
    room.announced = present;
    for (const Guest &guest : std::as_const(room.guests))
        send(guest.socket, typed("host-joined"));
}

void RoomHub::handleText(QWebSocket *socket, const QString &text)
{
    const auto it = m_members.find(socket);
    if (it == m_members.end())
        return;
    Member &member = *it;
    member.awaitingPong = false;
    if (!takeToken(member)) {
        // Nothing it sends from here on is read; it leaves its room once it is closed.
        refuse(socket, CloseCode::tooManyMessages, QStringLiteral("too many messages"));
        return;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
    const QJsonObject message = document.object();
    const std::optional<QString> type = stringField(message, QLatin1String("type"));
    const std::optional<QString> payload = stringField(message, QLatin1String("payload"));
    const std::optional<QString> signature = stringField(message, QLatin1String("sig"));
    if (error.error != QJsonParseError::NoError || !document.isObject() || type != u"signal" ||
        !payload || !signature) {
        qCDebug(lcService) << "ignored a message that is not a signal";
        return;
    }
    Room *current = room(member.roomID);
    if (!current)
        return;
    if (member.role == Role::guest) {
        if (!current->host)
            return;
        send(current->host, typed("signal", {{QStringLiteral("from"), member.peerID},
                                             {QStringLiteral("payload"), *payload},
                                             {QStringLiteral("sig"), *signature}}));
        ++m_relayed;
        return;
    }
    const std::optional<QString> to = stringField(message, QLatin1String("to"));
    const auto guest = std::find_if(current->guests.cbegin(), current->guests.cend(),
                                    [&](const Guest &g) { return to && g.peerID == *to; });
    if (guest == current->guests.cend()) {
        qCDebug(lcService) << "ignored a signal to a guest who is not in the room";
        return;
    }
    send(guest->socket, typed("signal", {{QStringLiteral("payload"), *payload},
                                         {QStringLiteral("sig"), *signature}}));
    ++m_relayed;
}

void RoomHub::memberLeft(QWebSocket *socket)
{
    const auto it = m_members.find(socket);
    if (it == m_members.end())
        return;
    const Member member = *it;
    m_members.erase(it);
    Room *current = room(member.roomID);
    if (!current)
        return;
    if (member.role == Role::host) {
        if (current->host == socket) {
            // A host that closes its socket properly has stopped sharing; one whose connection
            // broke may come back and should find its room as it left it.
            const bool ended = member.closeCode == QWebSocketProtocol::CloseCodeNormal ||
                               member.closeCode == QWebSocketProtocol::CloseCodeGoingAway;
            current->host = nullptr;
            if (ended) {
                current->hostMayReturn = false;
                current->announced.clear();
            }
            for (const Guest &guest : std::as_const(current->guests))
                send(guest.socket, typed("host-left", {{QStringLiteral("ended"), ended}}));
        }
    } else {
        current->guests.removeIf([socket](const Guest &guest) { return guest.socket == socket; });
        if (current->host) {
            send(current->host, typed("peer-left", {{QStringLiteral("peerId"), member.peerID}}));
            current->announced.remove(member.peerID);
        }
    }
    roomMaybeEmpty(*current);
    if (m_members.isEmpty())
        Q_EMIT emptied();
}

void RoomHub::closeAll()
{
    const QList<QWebSocket *> sockets = m_members.keys();
    for (QWebSocket *socket : sockets) {
        socket->close(QWebSocketProtocol::CloseCodeGoingAway,
                      QStringLiteral("service is shutting down"));
        QTimer::singleShot(closingGraceMilliseconds, socket, &QWebSocket::abort);
    }
}

void RoomHub::roomMaybeEmpty(Room &room)
{
    if (room.host || !room.guests.isEmpty())
        return;
    // Only a host that may return needs the room kept: it will be told what it missed.
    if (!room.hostMayReturn || m_config.emptyRoomTimeout.count() == 0) {
        const QString id = room.id;
        m_rooms.remove(id);
        return;
    }
    room.expiry.start(m_config.emptyRoomTimeout);
}

bool RoomHub::takeToken(Member &member)
{
    const double rate = m_config.maxMessagesPerSecond;
    member.tokens = std::min(rate, member.tokens + member.refill.restart() * rate / 1000.0);
    if (member.tokens < 1.0)
        return false;
    member.tokens -= 1.0;
    return true;
}

void RoomHub::keepAlive()
{
    QList<QWebSocket *> silent;
    for (auto it = m_members.begin(); it != m_members.end(); ++it) {
        if (it->awaitingPong) {
            silent.append(it.key());
            continue;
        }
        it->awaitingPong = true;
        it.key()->ping();
    }
    for (QWebSocket *socket : std::as_const(silent)) {
        qCInfo(lcService) << "dropping a socket that did not answer a ping";
        socket->abort();
    }
}

bool RoomHub::isOriginAllowed(QWebSocket *socket, bool required) const
{
    const QString origin = socket->origin().toLower();
    if (origin.isEmpty())
        return !required;
    if (m_config.allowedOrigins().contains(origin))
        return true;
    if (!m_config.publicURL.isEmpty())
        return false;
    // Without a configured public address the page must come from the host it connects to.
    const QString host = QString::fromLatin1(socket->request().rawHeader("Host")).toLower();
    return !host.isEmpty() && (origin == QStringLiteral("http://") + host ||
                               origin == QStringLiteral("https://") + host);
}

void RoomHub::send(QWebSocket *socket, const QJsonObject &message)
{
    if (socket)
        socket->sendTextMessage(QString::fromUtf8(compactJson(message)));
}

RoomHub::Room *RoomHub::room(const QString &id)
{
    const auto it = m_rooms.constFind(id);
    return it == m_rooms.cend() ? nullptr : it->get();
}

QString RoomHub::newPeerID() const
{
    return QString::fromLatin1(base64UrlEncode(serviceRandomBytes(12)));
}

} // namespace vyo
