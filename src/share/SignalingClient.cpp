#include "share/SignalingClient.h"

#include "core/Base64Url.h"
#include "core/Log.h"
#include "logic/Signing.h"
#include "logic/TransferProtocol.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkRequest>
#include <QRandomGenerator>
#include <QUrlQuery>
#include <QWebSocket>

#include <algorithm>
#include <utility>

namespace vyo {

namespace {

constexpr double longestRetryDelay = 30.0;
// The request header that carries the host secret.
constexpr char hostSecretHeader[] = "Vyo-Host-Secret";
// Signals held back while a connection opens, at most.
constexpr qsizetype maximumWaitingSignals = 1000;
// How long a stopped connection may take to finish its closing handshake.
constexpr int closingGraceMilliseconds = 3000;

QString failureDescription(QWebSocket *socket)
{
    if (socket->error() != QAbstractSocket::UnknownSocketError)
        return socket->errorString();
    QString text = QStringLiteral("closed with code %1").arg(int(socket->closeCode()));
    if (!socket->closeReason().isEmpty())
        text += QStringLiteral(" (") + socket->closeReason() + u')';
    return text;
}

// The string under `key`, or nothing when it is missing or not a string.
std::optional<QString> stringField(const QJsonObject &object, QLatin1String key)
{
    const QJsonValue value = object.value(key);
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

} // namespace

SignalingClient::Event SignalingClient::Event::peerJoined(const QString &peerID)
{
    return Event{Kind::peerJoined, peerID, {}, {}};
}

SignalingClient::Event SignalingClient::Event::peerLeft(const QString &peerID)
{
    return Event{Kind::peerLeft, peerID, {}, {}};
}

SignalingClient::Event SignalingClient::Event::signal(const QString &from, const QString &payload)
{
    return Event{Kind::signal, {}, from, payload};
}

SignalingClient::Event SignalingClient::Event::connected()
{
    return Event{Kind::connected, {}, {}, {}};
}

SignalingClient::Event SignalingClient::Event::disconnected()
{
    return Event{Kind::disconnected, {}, {}, {}};
}

SignalingClient::SignalingClient(const QUrl &serviceBase, const QString &roomID, const QString &key,
                                 QObject *parent)
    : SignalingClient(serviceBase, roomID, key, newHostSecret(), parent)
{}

SignalingClient::SignalingClient(const QUrl &serviceBase, const QString &roomID, const QString &key,
                                 const QByteArray &hostSecret, QObject *parent)
    : QObject(parent)
    , m_url(roomURL(serviceBase, roomID))
    , m_key(key)
    , m_hostSecret(hostSecret)
{
    if (!m_url.isValid())
        vyoError(lcShare, u"시그널링 주소가 올바르지 않음: %{public}s", m_url.errorString());
    m_reconnection.setSingleShot(true);
    m_reconnection.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_reconnection, &QTimer::timeout, this, [this] {
        if (!m_isStopped && !m_task)
            connect();
    });
}

SignalingClient::~SignalingClient()
{
    onEvent = nullptr;
    stop();
}

QByteArray SignalingClient::newHostSecret()
{
    constexpr int length = 32;
    std::optional<QByteArray> bytes = secureRandomBytes(length);
    if (!bytes) {
        // The operating system's generator is cryptographically secure as well.
        bytes = QByteArray(length, Qt::Uninitialized);
        QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(bytes->data()),
                                              length / int(sizeof(quint32)));
    }
    return base64UrlEncode(*bytes);
}

QUrl SignalingClient::roomURL(const QUrl &serviceBase, const QString &roomID)
{
    QUrl url = serviceBase;
    url.setScheme(serviceBase.scheme() == u"http" ? QStringLiteral("ws") : QStringLiteral("wss"));
    url.setPath(QStringLiteral("/api/room/") + roomID);
    url.setQuery(QStringLiteral("role=host"));
    url.setFragment(QString());
    return url;
}

void SignalingClient::connect()
{
    m_isStopped = false;
    m_reconnection.stop();
    dropTask();

    auto *socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
    socket->setMaxAllowedIncomingMessageSize(maximumMessageSize);
    socket->setMaxAllowedIncomingFrameSize(maximumMessageSize);
    m_task = socket;

    // Every completion first checks that its connection is still the current one.
    QObject::connect(socket, &QWebSocket::connected, this, [this, socket] {
        if (socket != m_task)
            return;
        // Signals sent while the connection opened go out first, in order.
        const QStringList waiting = std::exchange(m_waitingForOpen, {});
        for (const QString &text : waiting)
            sendText(text);
        socket->ping();
    });
    QObject::connect(socket, &QWebSocket::pong, this, [this, socket] {
        if (socket != m_task)
            return;
        m_retryDelay = 1.0;
        emitEvent(Event::connected());
    });
    QObject::connect(socket, &QWebSocket::textMessageReceived, this,
                     [this, socket](const QString &text) {
                         if (socket == m_task)
                             handleText(text);
                     });
    // Binary messages mean nothing here and are ignored.
    QObject::connect(socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this,
                     [this, socket] { connectionFailed(socket, failureDescription(socket)); });
    QObject::connect(socket, &QWebSocket::disconnected, this,
                     [this, socket] { connectionFailed(socket, failureDescription(socket)); });
    QNetworkRequest request(m_url);
    request.setRawHeader(hostSecretHeader, m_hostSecret);
    socket->open(request);
}

void SignalingClient::stop()
{
    m_isStopped = true;
    m_reconnection.stop();
    m_waitingForOpen.clear();
    QWebSocket *socket = m_task;
    m_task = nullptr;
    if (!socket)
        return;
    QObject::disconnect(socket, nullptr, this, nullptr);
    // The socket finishes its closing handshake on its own, even if this client goes away first.
    socket->setParent(nullptr);
    QObject::connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(closingGraceMilliseconds, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    if (socket->state() == QAbstractSocket::ConnectedState)
        socket->close(QWebSocketProtocol::CloseCodeGoingAway);
    else
        socket->abort();
}

void SignalingClient::send(const QString &peerID, const QString &payload)
{
    const std::optional<QString> signature = signPayload(payload, m_key);
    if (!signature)
        return;
    const QJsonObject message{{QStringLiteral("type"), QStringLiteral("signal")},
                              {QStringLiteral("to"), peerID},
                              {QStringLiteral("payload"), payload},
                              {QStringLiteral("sig"), *signature}};
    if (!m_task)
        return;
    const QString text = TransferProtocol::encode(message);
    if (m_task->state() == QAbstractSocket::ConnectedState) {
        sendText(text);
        return;
    }
    // The connection is still opening: the signal leaves once it is open, and is lost with it
    // if it never opens.
    if (m_waitingForOpen.size() >= maximumWaitingSignals) {
        vyoError(lcShare, u"시그널 전송 실패: %{public}s",
                 QStringLiteral("too many signals wait for the connection to open"));
        return;
    }
    m_waitingForOpen.append(text);
}

void SignalingClient::sendText(const QString &text)
{
    const qint64 expected = text.toUtf8().size();
    if (m_task->sendTextMessage(text) < expected)
        vyoError(lcShare, u"시그널 전송 실패: %{public}s", m_task->errorString());
}

void SignalingClient::emitEvent(const Event &event)
{
    if (onEvent)
        onEvent(event);
}

void SignalingClient::handleText(const QString &text)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return;
    const QJsonObject message = document.object();
    const std::optional<QString> type = stringField(message, QLatin1String("type"));
    if (!type)
        return;
    if (*type == u"peer-joined" || *type == u"peer-left") {
        const std::optional<QString> peerID = stringField(message, QLatin1String("peerId"));
        if (!peerID)
            return;
        emitEvent(*type == u"peer-joined" ? Event::peerJoined(*peerID) : Event::peerLeft(*peerID));
        return;
    }
    if (*type == u"signal") {
        const std::optional<QString> from = stringField(message, QLatin1String("from"));
        const std::optional<QString> payload = stringField(message, QLatin1String("payload"));
        const std::optional<QString> signature = stringField(message, QLatin1String("sig"));
        if (!from || !payload || !signature)
            return;
        if (!verifyPayload(*payload, *signature, m_key)) {
            vyoError(lcShare, u"서명이 맞지 않는 시그널을 버림");
            return;
        }
        emitEvent(Event::signal(*from, *payload));
    }
}

void SignalingClient::connectionFailed(QWebSocket *socket, const QString &description)
{
    if (socket != m_task)
        return;
    vyoInfo(lcShare, u"시그널링 연결 끊김: %{public}s", description);
    QPointer<SignalingClient> self(this);
    emitEvent(Event::disconnected());
    if (self)
        scheduleReconnection();
}

void SignalingClient::scheduleReconnection()
{
    if (m_isStopped)
        return;
    dropTask();
    const double delay = m_retryDelay;
    m_retryDelay = std::min(2 * delay, longestRetryDelay);
    m_reconnection.start(int(delay * 1000 * m_timeScale));
}

void SignalingClient::dropTask()
{
    m_waitingForOpen.clear();
    QWebSocket *socket = m_task;
    m_task = nullptr;
    if (!socket)
        return;
    QObject::disconnect(socket, nullptr, this, nullptr);
    socket->abort();
    socket->deleteLater();
}

} // namespace vyo
