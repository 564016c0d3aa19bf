#pragma once

// The desktop's connection to the signaling service for one shared shelf: a WebSocket to the
// shelf's room that reports browsers joining and leaving and relays signed negotiation messages
// ("signals") between the desktop's peer sessions and the browsers. It reconnects by itself after
// 1, 2, 4, 8, 16 and then every 30 seconds until it is stopped.

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <functional>

class QWebSocket;

namespace vyo {

class SignalingClient : public QObject
{
    Q_OBJECT
public:
    struct Event
    {
        enum class Kind { peerJoined, peerLeft, signal, connected, disconnected };

        Kind kind = Kind::connected;
        // peerJoined, peerLeft: the browser's peer identifier.
        QString peerID;
        // signal: the sender's peer identifier and the verified payload.
        QString from;
        QString payload;

        static Event peerJoined(const QString &peerID);
        static Event peerLeft(const QString &peerID);
        static Event signal(const QString &from, const QString &payload);
        static Event connected();
        static Event disconnected();

        friend bool operator==(const Event &, const Event &) = default;
    };

    // The largest message accepted from the service.
    static constexpr qint64 maximumMessageSize = 262144;

    // A client for the room `roomID` on the service at `serviceBase`, signing with `key` (the
    // room key in base64url). It makes its own host secret. It does nothing until `connect`.
    SignalingClient(const QUrl &serviceBase, const QString &roomID, const QString &key,
                    QObject *parent = nullptr);
    // The same with a given host secret (22 to 128 base64url characters), for a client that takes
    // over a room another client of this desktop opened.
    SignalingClient(const QUrl &serviceBase, const QString &roomID, const QString &key,
                    const QByteArray &hostSecret, QObject *parent = nullptr);
    ~SignalingClient() override;

    // The room's WebSocket address: ws for an http base, wss otherwise, path "/api/room/<room>",
    // query "role=host", host and port of the base.
    static QUrl roomURL(const QUrl &serviceBase, const QString &roomID);

    // Called on the main thread for every event; set by the owner.
    std::function<void(const Event &)> onEvent;

    const QUrl &url() const { return m_url; }
    const QString &key() const { return m_key; }
    // Proves to the service that the room is this client's: the first host of a room owns it, and
    // only a host that sends the same secret may come back (request header "Vyo-Host-Secret").
    const QByteArray &hostSecret() const { return m_hostSecret; }

    // A new random host secret: 32 random bytes in base64url (43 characters).
    static QByteArray newHostSecret();
    bool isStopped() const { return m_isStopped; }
    // Seconds before the next reconnection attempt.
    double retryDelay() const { return m_retryDelay; }
    // Whether a connection exists (opening or open).
    bool hasConnection() const { return !m_task.isNull(); }

    // Opens a connection to the room, replacing any earlier one.
    void connect();
    // Closes for good (close code 1001); no event, and no pending reconnection happens.
    void stop();
    // Signs `payload` and sends it to the browser `peerID`. Dropped when there is no connection;
    // while one is opening, it leaves once the connection is open (and is lost if it never opens).
    void send(const QString &peerID, const QString &payload);

    // Multiplies the reconnection waits: 1.0 waits real seconds; tests pass a small factor.
    void setTimeScale(double scale) { m_timeScale = scale; }

private:
    void emitEvent(const Event &event);
    void handleText(const QString &text);
    void connectionFailed(QWebSocket *socket, const QString &description);
    void scheduleReconnection();
    void dropTask();
    void sendText(const QString &text);

    QUrl m_url;
    QString m_key;
    QByteArray m_hostSecret;
    QPointer<QWebSocket> m_task;
    // Signals sent while `m_task` was still opening.
    QStringList m_waitingForOpen;
    bool m_isStopped = false;
    double m_retryDelay = 1.0;
    double m_timeScale = 1.0;
    QTimer m_reconnection;
};

} // namespace vyo
