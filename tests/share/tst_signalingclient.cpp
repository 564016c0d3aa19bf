// The signaling client against the real share service on 127.0.0.1 (with a guest WebSocket in
// the test), against a scripted WebSocket server for the receive rules, and through a TCP relay
// that can cut the connection for the reconnection rules.

#include "core/Base64Url.h"
#include "logic/Signing.h"
#include "share/SignalingClient.h"

#include "RoomHub.h"
#include "ServiceTestSupport.h"
#include "SignalingRecorder.h"
#include "TestSupport.h"

#include <QJsonDocument>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QWebSocketServer>

using namespace vyo;
using namespace vyo::test;
using Event = SignalingClient::Event;
using Kind = SignalingClient::Event::Kind;

Q_DECLARE_METATYPE(vyo::SignalingClient::Event)

namespace {

const QString roomKey = QString::fromLatin1(base64UrlEncode(QByteArray(32, '\x5a')));
const double timeScale = 0.01;

using Recorder = SignalingRecorder;

QString signalText(const QString &from, const QString &payload, const QString &sig)
{
    return QString::fromUtf8(
        QJsonDocument(
            QJsonObject{{"type", "signal"}, {"from", from}, {"payload", payload}, {"sig", sig}})
            .toJson(QJsonDocument::Compact));
}

QJsonObject guestSignal(const QString &payload, const QString &sig)
{
    return {{"type", "signal"}, {"payload", payload}, {"sig", sig}};
}

// A WebSocket server the test scripts by hand: what the client receives, and what it sent.
class ScriptedServer : public QObject
{
public:
    ScriptedServer()
        : m_server(QStringLiteral("scripted"), QWebSocketServer::NonSecureMode)
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QWebSocketServer::newConnection, this, [this] {
            while (QWebSocket *socket = m_server.nextPendingConnection()) {
                socket->setParent(this);
                sockets.append(socket);
                received.append(QStringList());
                closeCodes.append(-1);
                const qsizetype index = sockets.size() - 1;
                QObject::connect(
                    socket, &QWebSocket::textMessageReceived, this,
                    [this, index](const QString &text) { received[index].append(text); });
                QObject::connect(socket, &QWebSocket::disconnected, this, [this, index, socket] {
                    closeCodes[index] = int(socket->closeCode());
                });
            }
        });
    }
    QUrl base() const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()));
    }
    bool waitForSockets(qsizetype count)
    {
        return QTest::qWaitFor([&] { return sockets.size() >= count; }, 5000);
    }

    QList<QWebSocket *> sockets;
    QList<QStringList> received;
    QList<int> closeCodes;

private:
    QWebSocketServer m_server;
};

// Passes TCP connections on to a target port; can cut every connection and refuse new ones,
// like a network that goes away for a while.
class TcpRelay : public QObject
{
public:
    explicit TcpRelay(quint16 target)
        : m_target(target)
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *client = m_server.nextPendingConnection()) {
                client->setParent(this);
                if (down) {
                    client->abort();
                    client->deleteLater();
                    continue;
                }
                auto *upstream = new QTcpSocket(this);
                upstream->connectToHost(QHostAddress::LocalHost, m_target);
                QObject::connect(client, &QTcpSocket::readyRead, upstream,
                                 [client, upstream] { upstream->write(client->readAll()); });
                QObject::connect(upstream, &QTcpSocket::readyRead, client,
                                 [client, upstream] { client->write(upstream->readAll()); });
                m_pairs.append(
                    std::make_pair(QPointer<QTcpSocket>(client), QPointer<QTcpSocket>(upstream)));
            }
        });
    }
    quint16 port() const { return m_server.serverPort(); }
    void cut()
    {
        for (const auto &[client, upstream] : std::as_const(m_pairs)) {
            if (client)
                client->abort();
            if (upstream)
                upstream->abort();
        }
        m_pairs.clear();
    }

    bool down = false;

private:
    quint16 m_target;
    QTcpServer m_server;
    QList<std::pair<QPointer<QTcpSocket>, QPointer<QTcpSocket>>> m_pairs;
};

// A local port where nothing listens (for now).
quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace

class TestSignalingClient : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void roomURL();
    void joinSignalAndLeaveThroughTheService();
    void receiveRules_data();
    void receiveRules();
    void sendStopLimitOnOneServer();
    void backOffSequenceAndResetOnPong();
    void reconnectKeepsTheRoom();

private:
    std::unique_ptr<ShareService> m_service;
};

void TestSignalingClient::initTestCase()
{
    m_service = startService();
    QVERIFY(m_service);
}

void TestSignalingClient::roomURL()
{
    const auto url = [](const char *base) {
        return SignalingClient(QUrl(base), "ROOM", roomKey).url().toString(QUrl::FullyEncoded);
    };
    QCOMPARE(url("http://host:8080"), "ws://host:8080/api/room/ROOM?role=host");
    QCOMPARE(url("https://host:8443/x?y=1#f"), "wss://host:8443/api/room/ROOM?role=host");
}

void TestSignalingClient::joinSignalAndLeaveThroughTheService()
{
    LogCapture log;
    const QString room = testRoomID(1);
    SignalingClient client(serviceBase(*m_service), room, roomKey);
    Recorder recorder;
    QVERIFY(recorder.connect(client));
    TestSocket phone(serviceOrigin(*m_service));
    const QString phoneID = joinGuest(phone, *m_service, room);
    QVERIFY(!phoneID.isEmpty());
    QVERIFY(recorder.waitFor(Event::peerJoined(phoneID)));

    // Desktop to browser: the browser gets the payload and a signature it can check.
    const QString offer =
        QStringLiteral("{\"sdp\":\"v=0\\r\\na=x/y\",\"note\":\"한글 제안\",\"type\":\"offer\"}");
    client.send(phoneID, offer);
    const auto received = phone.take("signal");
    QVERIFY(received);
    QCOMPARE(received->value("payload").toString(), offer);
    QVERIFY(verifyPayload(offer, received->value("sig").toString(), roomKey));

    // Browser to desktop: what the room key did not sign is dropped, and the log shows neither
    // the payload nor the key.
    const QString answer = QStringLiteral("{\"type\":\"answer\",\"sdp\":\"v=0 candidate:1\"}");
    const QString answerSig = *signPayload(answer, roomKey);
    phone.sendJson(guestSignal(QString(answer).replace("v=0", "v=1"), answerSig));
    phone.sendJson(guestSignal(
        answer, *signPayload(answer, QString::fromLatin1(base64UrlEncode("other key")))));
    phone.sendJson(guestSignal(answer, answerSig));
    QVERIFY(recorder.waitFor(Event::signal(phoneID, answer)));
    QCOMPARE(log.messages().count(QStringLiteral("서명이 맞지 않는 시그널을 버림")), 2);

    // Another client of the room, with a secret of its own, is turned away and keeps trying.
    // (Which host the service accepts is its own rule: tests/service.)
    SignalingClient intruder(serviceBase(*m_service), room, roomKey);
    intruder.setTimeScale(timeScale);
    Recorder intruderEvents;
    intruderEvents.attach(intruder);
    intruder.connect();
    QVERIFY(intruderEvents.waitFor(Kind::disconnected, 2));
    QCOMPARE(intruderEvents.count(Kind::connected), 0);
    intruder.stop();
    client.send(phoneID, QStringLiteral("still the host"));
    QCOMPARE(phone.takeValue("signal", "payload"), QJsonValue(QStringLiteral("still the host")));
    client.stop();
    QVERIFY(phone.take("host-left"));
    QCOMPARE(recorder.events, QList<Event>({Event::connected(), Event::peerJoined(phoneID),
                                            Event::signal(phoneID, answer)}));
    QVERIFY(!recorder.offMainThread);

    // Another client of the same desktop, given the owner's secret, is the host.
    SignalingClient successor(serviceBase(*m_service), room, roomKey, client.hostSecret());
    Recorder successorEvents;
    successorEvents.attach(successor);
    successor.connect();
    QVERIFY(successorEvents.waitFor(Event::peerJoined(phoneID)));
    QVERIFY(phone.take("host-joined"));
    phone.close();
    QVERIFY(successorEvents.waitFor(Event::peerLeft(phoneID)));
    for (const QString &line : log.messages()) {
        QVERIFY2(!line.contains("candidate:1") && !line.contains(roomKey) &&
                     !line.contains(QString::fromLatin1(client.hostSecret())),
                 qPrintable(line));
    }
}

void TestSignalingClient::receiveRules_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("binary");
    QTest::addColumn<QList<Event>>("expected");

    const QString payload = QStringLiteral("{\"type\":\"answer\"}");
    const QString sig = *signPayload(payload, roomKey);
    QTest::newRow("peer-joined") << R"({"type":"peer-joined","peerId":"p1"})" << false
                                 << QList<Event>{Event::peerJoined("p1")};
    QTest::newRow("peer-joined, peerId a number")
        << R"({"type":"peer-joined","peerId":4})" << false << QList<Event>{};
    QTest::newRow("signal") << signalText("p1", payload, sig) << false
                            << QList<Event>{Event::signal("p1", payload)};
    QTest::newRow("signal, payload altered")
        << signalText("p1", payload + " ", sig) << false << QList<Event>{};
    QTest::newRow("signal, sig a number")
        << QString(R"({"type":"signal","from":"p1","payload":"x","sig":5})") << false
        << QList<Event>{};
    QTest::newRow("not JSON") << "peer-joined p1" << false << QList<Event>{};
    QTest::newRow("binary") << R"({"type":"peer-joined","peerId":"p1"})" << true << QList<Event>{};
}

void TestSignalingClient::receiveRules()
{
    QFETCH(QString, text);
    QFETCH(bool, binary);
    QFETCH(QList<Event>, expected);

    ScriptedServer server;
    SignalingClient client(server.base(), testRoomID(3), roomKey);
    Recorder recorder;
    QVERIFY(recorder.connect(client));
    QVERIFY(server.waitForSockets(1));
    if (binary)
        server.sockets[0]->sendBinaryMessage(text.toUtf8());
    else
        server.sockets[0]->sendTextMessage(text);
    // Messages arrive in order: once the marker is there, the message before it was handled.
    server.sockets[0]->sendTextMessage(R"({"type":"peer-joined","peerId":"marker"})");
    QVERIFY(recorder.waitFor(Event::peerJoined("marker")));
    expected.prepend(Event::connected());
    expected.append(Event::peerJoined("marker"));
    QCOMPARE(recorder.events, expected);
}

void TestSignalingClient::sendStopLimitOnOneServer()
{
    ScriptedServer server;
    SignalingClient client(server.base(), testRoomID(4), roomKey);
    QVERIFY(client.hostSecret() != SignalingClient(server.base(), "R", roomKey).hostSecret());
    QVERIFY(RoomHub::isHostSecret(client.hostSecret()));
    Recorder recorder;
    recorder.attach(client);
    client.connect();
    // Signals with sorted keys, unescaped slashes, signed; one sent while the connection opens
    // leaves first once it is open.
    const QString payload = QStringLiteral("{\"candidate\":\"a/b\"}");
    client.send("peer/1", payload);
    QVERIFY(recorder.waitFor(Kind::connected));
    client.send("peer/2", payload);
    QVERIFY(QTest::qWaitFor([&] { return server.received[0].size() == 2; }, 5000));
    const QString expected =
        QStringLiteral(
            R"({"payload":"{\"candidate\":\"a/b\"}","sig":"%1","to":"peer/%2","type":"signal"})")
            .arg(*signPayload(payload, roomKey));
    QCOMPARE(server.received[0], QStringList({expected.arg(1), expected.arg(2)}));

    // Stopping closes with "going away"; connecting after a stop works, with the same secret on
    // every connection and the URL the room's address alone.
    client.stop();
    QVERIFY(QTest::qWaitFor([&] { return server.closeCodes[0] != -1; }, 5000));
    QCOMPARE(server.closeCodes[0], int(QWebSocketProtocol::CloseCodeGoingAway));
    client.connect();
    QVERIFY(recorder.waitFor(Kind::connected, 2));
    QVERIFY(server.waitForSockets(2));
    for (QWebSocket *socket : std::as_const(server.sockets))
        QCOMPARE(socket->request().rawHeader(RoomHub::hostSecretHeader), client.hostSecret());
    QCOMPARE(server.sockets[1]->requestUrl().query(), QStringLiteral("role=host"));
    QCOMPARE(recorder.count(Kind::disconnected), 0);

    // The largest message is taken; a larger one drops the connection.
    const QString big =
        signalText("p1", QString(200000, u'x'), *signPayload(QString(200000, u'x'), roomKey));
    QVERIFY(big.toUtf8().size() <= SignalingClient::maximumMessageSize);
    server.sockets[1]->sendTextMessage(big);
    QVERIFY(recorder.waitFor(Kind::signal));
    server.sockets[1]->sendTextMessage(QString(SignalingClient::maximumMessageSize + 1, u'x'));
    QVERIFY(recorder.waitFor(Kind::disconnected));
    client.stop();
}

void TestSignalingClient::backOffSequenceAndResetOnPong()
{
    const quint16 port = closedPort();
    SignalingClient client(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port)), testRoomID(7),
                           roomKey);
    client.setTimeScale(timeScale);
    Recorder recorder;
    recorder.attach(client);
    client.connect();
    QVERIFY(recorder.waitFor(Kind::disconnected, 7, 10000));

    // The wait after each drop doubles up to 30 seconds; each attempt came no earlier.
    QCOMPARE(recorder.retryDelays.mid(0, 6), (QList<double>{1, 2, 4, 8, 16, 30}));
    for (qsizetype i = 0; i < 6; ++i) {
        QVERIFY(recorder.times[i + 1] - recorder.times[i] >=
                qint64(recorder.retryDelays[i] * 1000 * timeScale) - 1);
    }
    QCOMPARE(client.retryDelay(), 30.0);

    // The service appears on that port: the next attempt connects, and its pong resets the delay.
    ServiceConfig config = serviceTestConfig();
    config.port = port;
    auto service = startService(config);
    QVERIFY(service);
    QVERIFY(recorder.waitFor(Kind::connected, 1, 5000));
    QCOMPARE(client.retryDelay(), 1.0);
    client.stop();
}

void TestSignalingClient::reconnectKeepsTheRoom()
{
    ShareService *service = m_service.get();
    const QString room = testRoomID(11);
    TcpRelay relay(service->port());
    SignalingClient client(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(relay.port())), room,
                           roomKey);
    client.setTimeScale(timeScale);
    Recorder recorder;
    QVERIFY(recorder.connect(client));

    TestSocket stays(serviceOrigin(*service)), arrives(serviceOrigin(*service));
    const QString staysID = joinGuest(stays, *service, room);
    QVERIFY(recorder.waitFor(Event::peerJoined(staysID)));

    // The network goes away for a while; a browser joins meanwhile.
    relay.down = true;
    relay.cut();
    QVERIFY(recorder.waitFor(Kind::disconnected, 2));
    QCOMPARE(stays.takeValue("host-left", "ended"), QJsonValue(false));
    const QString arrivesID = joinGuest(arrives, *service, room);
    QVERIFY(!arrivesID.isEmpty());

    relay.down = false;
    QVERIFY(recorder.waitFor(Kind::connected, 2, 10000));
    QVERIFY(recorder.waitFor(Event::peerJoined(arrivesID)));
    QVERIFY(stays.take("host-joined"));

    // The browser that stayed keeps its session: its signals still arrive, and it was not
    // announced again.
    const QString payload = QStringLiteral("{\"candidate\":\"late\"}");
    stays.sendJson(guestSignal(payload, *signPayload(payload, roomKey)));
    QVERIFY(recorder.waitFor(Event::signal(staysID, payload)));
    QCOMPARE(recorder.events.count(Event::peerJoined(staysID)), 1);
}

QTEST_GUILESS_MAIN(TestSignalingClient)
#include "tst_signalingclient.moc"
