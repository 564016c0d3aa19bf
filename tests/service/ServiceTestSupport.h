#pragma once

// Helpers for tests that talk to a real share service on 127.0.0.1: starting one in-process, a
// coturn beside it, and a WebSocket client that records what it receives.

#include "ServiceConfig.h"
#include "ShareService.h"

#include "ChildProcess.h"

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>
#include <QWebSocket>

#include <memory>
#include <optional>

namespace vyo::test {

// Settings for a test service: 127.0.0.1, a free port, no keep-alive pings.
ServiceConfig serviceTestConfig();

// A running service, or nothing (with a test failure logged) when it cannot listen.
std::unique_ptr<ShareService> startService(const ServiceConfig &config = serviceTestConfig());

QUrl serviceBase(const ShareService &service);
QUrl roomSocketURL(const ShareService &service, const QString &roomID, const QString &role);
// The origin the service's own pages have: http://127.0.0.1:<port>.
QString serviceOrigin(const ShareService &service);

// coturn on 127.0.0.1 handing out time-limited credentials for `secret`, relaying on ports of its
// own; nothing (with its output logged) when it does not start.
struct TurnServer
{
    std::unique_ptr<ChildProcess> process;
    quint16 port = 0;
    QString url() const { return QStringLiteral("turn:127.0.0.1:%1?transport=udp").arg(port); }
};
std::optional<TurnServer> startTurnServer(const QString &secret);

// The host secret a TestSocket sends unless told otherwise; a guest's is ignored by the service.
inline const QByteArray testHostSecret = QByteArrayLiteral("test-host-secret-0123456789");

// A WebSocket client that keeps every text message it receives (as JSON objects) and how it was
// closed.
class TestSocket : public QObject
{
    Q_OBJECT
public:
    explicit TestSocket(const QString &origin = QString(), QObject *parent = nullptr);

    // Opens the socket, sending `hostSecret` as the room's host secret unless it is empty.
    void open(const QUrl &url, const QByteArray &hostSecret = testHostSecret);
    // Waits (at most `milliseconds`) until the socket is open; false when it closed or timed out.
    bool waitOpen(int milliseconds = 5000);
    bool waitClosed(int milliseconds = 5000);
    // Waits for the first not yet taken message of `type` and takes it; nothing on time-out.
    std::optional<QJsonObject> take(const QString &type, int milliseconds = 5000);
    // Takes as `take` does and answers the message's `key`; undefined when no message came.
    QJsonValue takeValue(const QString &type, const QString &key, int milliseconds = 5000)
    {
        const std::optional<QJsonObject> message = take(type, milliseconds);
        return message ? message->value(key) : QJsonValue(QJsonValue::Undefined);
    }
    // The messages not taken yet.
    QList<QJsonObject> pending() const { return m_messages; }
    int receivedCount() const { return m_received; }

    void sendJson(const QJsonObject &message);
    void sendText(const QString &text) { m_socket.sendTextMessage(text); }
    void close(QWebSocketProtocol::CloseCode code = QWebSocketProtocol::CloseCodeNormal)
    {
        m_socket.close(code);
    }

    QWebSocket &socket() { return m_socket; }
    bool isOpen() const { return m_socket.state() == QAbstractSocket::ConnectedState; }
    bool isClosed() const { return m_closed; }
    int closeCode() const { return m_closeCode; }
    QString closeReason() const { return m_closeReason; }

private:
    QWebSocket m_socket;
    QList<QJsonObject> m_messages;
    int m_received = 0;
    bool m_closed = false;
    int m_closeCode = -1;
    QString m_closeReason;
};

// Opens `host` as the host of `roomID` with `hostSecret`; false when it did not open.
bool openHost(TestSocket &host, const ShareService &service, const QString &roomID,
              const QByteArray &hostSecret = testHostSecret);

// Opens a guest in `roomID` with the service's own origin and takes its "welcome"; the guest's
// peer identifier, or an empty string on failure.
QString joinGuest(TestSocket &guest, const ShareService &service, const QString &roomID);

// An HTTP answer: status 0 when none came within five seconds.
struct HttpAnswer
{
    int status = 0;
    QByteArray contentType;
    QByteArray body;
};
HttpAnswer httpGet(const QUrl &url);

// A room identifier of the right form, different for every `n`.
QString testRoomID(int n);

} // namespace vyo::test
