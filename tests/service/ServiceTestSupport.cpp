#include "ServiceTestSupport.h"

#include "RoomHub.h"

#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTest>
#include <QUdpSocket>

namespace vyo::test {

ServiceConfig serviceTestConfig()
{
    ServiceConfig config;
    config.listenAddress = QHostAddress(QHostAddress::LocalHost);
    config.port = 0;
    config.keepAliveInterval = std::chrono::milliseconds(0);
    return config;
}

std::unique_ptr<ShareService> startService(const ServiceConfig &config)
{
    auto service = std::make_unique<ShareService>(config);
    if (!service->listen()) {
        qWarning() << "the test service cannot listen:" << service->errorString();
        return nullptr;
    }
    return service;
}

QUrl serviceBase(const ShareService &service)
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(service.port()));
}

QUrl roomSocketURL(const ShareService &service, const QString &roomID, const QString &role)
{
    return QUrl(QStringLiteral("ws://127.0.0.1:%1/api/room/%2?role=%3")
                    .arg(service.port())
                    .arg(roomID, role));
}

QString serviceOrigin(const ShareService &service)
{
    return QStringLiteral("http://127.0.0.1:%1").arg(service.port());
}

TestSocket::TestSocket(const QString &origin, QObject *parent)
    : QObject(parent)
    , m_socket(origin)
{
    connect(&m_socket, &QWebSocket::textMessageReceived, this, [this](const QString &text) {
        ++m_received;
        m_messages.append(QJsonDocument::fromJson(text.toUtf8()).object());
    });
    connect(&m_socket, &QWebSocket::disconnected, this, [this] {
        m_closed = true;
        m_closeCode = int(m_socket.closeCode());
        m_closeReason = m_socket.closeReason();
    });
}

void TestSocket::open(const QUrl &url, const QByteArray &hostSecret)
{
    QNetworkRequest request(url);
    if (!hostSecret.isEmpty())
        request.setRawHeader(RoomHub::hostSecretHeader, hostSecret);
    m_socket.open(request);
}

bool TestSocket::waitOpen(int milliseconds)
{
    return QTest::qWaitFor([this] { return isOpen() || m_closed; }, milliseconds) && isOpen();
}

bool TestSocket::waitClosed(int milliseconds)
{
    return QTest::qWaitFor([this] { return m_closed; }, milliseconds);
}

std::optional<QJsonObject> TestSocket::take(const QString &type, int milliseconds)
{
    std::optional<QJsonObject> found;
    (void)QTest::qWaitFor(
        [&] {
            for (qsizetype i = 0; i < m_messages.size(); ++i) {
                if (m_messages[i].value(QLatin1String("type")).toString() == type) {
                    found = m_messages.takeAt(i);
                    return true;
                }
            }
            return false;
        },
        milliseconds);
    return found;
}

void TestSocket::sendJson(const QJsonObject &message)
{
    m_socket.sendTextMessage(
        QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
}

bool openHost(TestSocket &host, const ShareService &service, const QString &roomID,
              const QByteArray &hostSecret)
{
    host.open(roomSocketURL(service, roomID, QStringLiteral("host")), hostSecret);
    return host.waitOpen();
}

QString joinGuest(TestSocket &guest, const ShareService &service, const QString &roomID)
{
    guest.open(roomSocketURL(service, roomID, QStringLiteral("guest")));
    if (!guest.waitOpen())
        return QString();
    const std::optional<QJsonObject> welcome = guest.take(QStringLiteral("welcome"));
    return welcome ? welcome->value(QLatin1String("peerId")).toString() : QString();
}

HttpAnswer httpGet(const QUrl &url)
{
    QNetworkAccessManager manager;
    QNetworkReply *reply = manager.get(QNetworkRequest(url));
    QSignalSpy finished(reply, &QNetworkReply::finished);
    if (!finished.wait(5000))
        return {};
    HttpAnswer answer{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                      reply->header(QNetworkRequest::ContentTypeHeader).toByteArray(),
                      reply->readAll()};
    delete reply;
    return answer;
}

QString testRoomID(int n)
{
    return QStringLiteral("room-%1").arg(n, 17, 10, QLatin1Char('0'));
}

namespace {

// A port free for both UDP and TCP on 127.0.0.1 (bounded tries).
quint16 freeTurnPort()
{
    for (int attempt = 0; attempt < 20; ++attempt) {
        QUdpSocket udp;
        QTcpServer tcp;
        if (udp.bind(QHostAddress::LocalHost, 0) &&
            tcp.listen(QHostAddress::LocalHost, udp.localPort()))
            return udp.localPort();
    }
    return 0;
}

} // namespace

std::optional<TurnServer> startTurnServer(const QString &secret)
{
    TurnServer turn;
    turn.port = freeTurnPort();
    const quint16 relayPorts = freeTurnPort();
    const QString program = QStandardPaths::findExecutable(QStringLiteral("turnserver"));
    if (turn.port == 0 || relayPorts == 0 || program.isEmpty())
        return std::nullopt;
    turn.process = std::make_unique<ChildProcess>(
        program, QStringList{"-n", "--listening-ip=127.0.0.1", "--relay-ip=127.0.0.1",
                             QStringLiteral("--listening-port=%1").arg(turn.port),
                             "--use-auth-secret", "--static-auth-secret=" + secret,
                             "--realm=vyo.test", "--allow-loopback-peers", "--no-tls", "--no-dtls",
                             "--no-cli", QStringLiteral("--min-port=%1").arg(relayPorts),
                             QStringLiteral("--max-port=%1").arg(relayPorts + 20),
                             "--log-file=stdout", "--simple-log"});
    if (!turn.process->waitForOutput(QStringLiteral("Total General servers"))) {
        qWarning("coturn did not start: %s", qPrintable(turn.process->output()));
        return std::nullopt;
    }
    return turn;
}

} // namespace vyo::test
