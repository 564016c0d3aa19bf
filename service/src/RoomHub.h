#pragma once

// The signaling rooms of the share service. A room has at most one host (the desktop sharing a
// shelf) and a bounded number of guests (browsers); the hub gives every guest a fresh peer
// identifier, tells the host who joins and leaves, and relays "signal" messages between the host
// and one guest with their "payload" and "sig" untouched. The wire protocol is documented in
// service/README.md.

#include "ServiceConfig.h"

#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <memory>

class QWebSocket;

namespace vyo {

// Close codes of refused or dropped sockets.
namespace CloseCode {
inline constexpr int badRole = 4400;
inline constexpr int notRoomHost = 4401;
inline constexpr int forbiddenOrigin = 4403;
inline constexpr int hostNotLocal = 4405;
inline constexpr int badRoom = 4404;
inline constexpr int hostPresent = 4409;
inline constexpr int binaryMessage = 4415;
inline constexpr int tooManyMessages = 4429;
inline constexpr int full = 4503;
} // namespace CloseCode

class RoomHub : public QObject
{
    Q_OBJECT
public:
    explicit RoomHub(const ServiceConfig &config, QObject *parent = nullptr);
    ~RoomHub() override;

    // Takes over a socket the HTTP server has upgraded: it joins its room, or is closed with a
    // 4xxx code and a reason.
    void accept(QWebSocket *socket);

    // Whether a room identifier has the right form: 22 base64url characters.
    static bool isRoomID(const QString &text);
    // Whether a host secret has the right form: 22 to 128 base64url characters.
    static bool isHostSecret(const QByteArray &text);

    // The request header in which a host proves that a room is its own.
    static constexpr char hostSecretHeader[] = "Vyo-Host-Secret";

    // Guests' pages must come from this address from now on (the public URL's origin).
    void setPublicURL(const QUrl &url) { m_config.publicURL = url; }

    // While draining, sockets for rooms that do not exist yet are refused (4503); open rooms
    // carry on.
    void setDraining(bool draining) { m_draining = draining; }
    // Closes every member's socket with 1001 (the service is going away).
    void closeAll();

    int roomCount() const { return int(m_rooms.size()); }
    // Sockets that are members of a room.
    int memberCount() const { return int(m_members.size()); }
    qint64 relayedCount() const { return m_relayed; }

Q_SIGNALS:
    // The last member of the last room has left.
    void emptied();

private:
    enum class Role { host, guest };

    struct Guest
    {
        QString peerID;
        QWebSocket *socket = nullptr;
    };

    struct Room
    {
        QString id;
        QWebSocket *host = nullptr;
        // The secret of the first host: only a host that sends it again may come back.
        QByteArray hostSecret;
        // In the order they joined.
        QList<Guest> guests;
        // The guests the host has been told about: what a returning host is compared against.
        QSet<QString> announced;
        // A host has been here and may come back after a lost connection.
        bool hostMayReturn = false;
        QTimer expiry;
    };

    struct Member
    {
        QString roomID;
        Role role = Role::guest;
        QString peerID;
        double tokens = 0;
        QElapsedTimer refill;
        bool awaitingPong = false;
        // The close code of a closing handshake; -1 while there was none (a lost connection).
        int closeCode = -1;
    };

    void refuse(QWebSocket *socket, int code, const QString &reason);
    void join(QWebSocket *socket, Room &room, Role role, const QByteArray &hostSecret);
    void hostArrived(Room &room);
    void handleText(QWebSocket *socket, const QString &text);
    void memberLeft(QWebSocket *socket);
    void roomMaybeEmpty(Room &room);
    bool takeToken(Member &member);
    void keepAlive();
    bool isOriginAllowed(QWebSocket *socket, bool required) const;
    void send(QWebSocket *socket, const QJsonObject &message);
    Room *room(const QString &id);
    QString newPeerID() const;

    ServiceConfig m_config;
    QHash<QString, std::shared_ptr<Room>> m_rooms;
    QHash<QWebSocket *, Member> m_members;
    QTimer m_keepAlive;
    qint64 m_relayed = 0;
    bool m_draining = false;
};

} // namespace vyo
