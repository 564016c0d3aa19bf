// The share service's rules against real WebSocket and HTTP clients on 127.0.0.1: roles,
// forwarding, what a returning host is told, the limits, the Origin check, bad input, and the TURN
// credentials it hands out, which a real coturn on 127.0.0.1 accepts. Draining is tested on the
// service's own processes behind a load balancer (tst_balancedservice).

#include "RoomHub.h"

#include "ChildProcess.h"
#include "ServiceTestSupport.h"
#include "TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTest>

using namespace vyo;
using namespace vyo::test;

namespace {

const QString host = QStringLiteral("host");
const QString guest = QStringLiteral("guest");

QJsonObject signal(const QString &payload, const QString &sig, const QString &to = QString())
{
    QJsonObject message{{QStringLiteral("type"), QStringLiteral("signal")},
                        {QStringLiteral("payload"), payload},
                        {QStringLiteral("sig"), sig}};
    if (!to.isNull())
        message.insert(QStringLiteral("to"), to);
    return message;
}

// Sends raw bytes on a fresh TCP connection and returns what comes back until the server closes
// it (then `closedByServer`) or `milliseconds` pass.
QByteArray rawExchange(quint16 port, const QByteArray &request, int milliseconds,
                       bool *closedByServer)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(3000))
        return QByteArray();
    socket.write(request);
    QByteArray answer;
    bool closed = false;
    QObject::connect(&socket, &QTcpSocket::disconnected, [&closed] { closed = true; });
    (void)QTest::qWaitFor(
        [&] {
            answer += socket.readAll();
            return closed;
        },
        milliseconds);
    answer += socket.readAll();
    *closedByServer = closed;
    return answer;
}

// turnutils_uclient relaying one message to itself through an allocation made with the
// credentials; its output, or nothing when coturn refused them.
std::optional<QString> allocate(quint16 port, const QString &username, const QString &password)
{
    return runToEnd(QStringLiteral("turnutils_uclient"),
                    {"-p", QString::number(port), "-u", username, "-w", password, "-n", "1", "-m",
                     "1", "-y", "-c", "-e", "127.0.0.1", "127.0.0.1"},
                    20000);
}

} // namespace

class TestShareService : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void httpRoutes_data();
    void httpRoutes();
    void iceServers();
    void refusedSockets_data();
    void refusedSockets();
    void roomOwnership_data();
    void roomOwnership();
    void forwardingAndBadInput();
    void messageLimits();
    void roomAndGuestLimits();
    void emptyRoomExpires();
    void originRules_data();
    void originRules();
    void httpGuards();

    void init() { QVERIFY(start()); }
    void cleanup() { m_service.reset(); }

private:
    // (Re)starts the service the test talks to.
    bool start(const ServiceConfig &config = serviceTestConfig())
    {
        m_service = startService(config);
        return m_service != nullptr;
    }

    std::unique_ptr<ShareService> m_service;
};

void TestShareService::httpRoutes_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QString>("bodyContains");

    QTest::newRow("about page") << "/" << 200 << QByteArray("text/html; charset=utf-8")
                                << QStringLiteral("Vyo 공유 서비스");
    QTest::newRow("share page, short room")
        << "/s/abc" << 404 << QByteArray("text/html; charset=utf-8")
        << QStringLiteral("공유 주소가 올바르지 않아요");
    QTest::newRow("unknown path") << "/nothing" << 404 << QByteArray() << QString();
}

void TestShareService::httpRoutes()
{
    QFETCH(QString, path);
    QFETCH(int, status);
    QFETCH(QByteArray, contentType);
    QFETCH(QString, bodyContains);

    QUrl url = serviceBase(*m_service);
    url.setPath(path);
    const HttpAnswer answer = httpGet(url);
    QCOMPARE(answer.status, status);
    if (!contentType.isEmpty())
        QCOMPARE(answer.contentType, contentType);
    QVERIFY(QString::fromUtf8(answer.body).contains(bodyContains));
}

void TestShareService::iceServers()
{
    if (QStandardPaths::findExecutable("turnserver").isEmpty() ||
        QStandardPaths::findExecutable("turnutils_uclient").isEmpty())
        QSKIP("coturn (turnserver, turnutils_uclient) is not installed; scripts/install-deps.sh "
              "installs it");
    // coturn on 127.0.0.1 sharing a secret with the service: longer than an HMAC block, not ASCII.
    const QString secret = QStringLiteral("공유 비밀 열쇠 ").repeated(6);
    const std::optional<TurnServer> coturn = startTurnServer(secret);
    QVERIFY(coturn);

    ServiceConfig config = serviceTestConfig();
    config.turnURLs = {coturn->url(), QStringLiteral("turns:turn.example.org:5349")};
    config.turnSecret = secret;
    config.turnCredentialLifetime = std::chrono::seconds(600);
    QVERIFY(start(config));
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    const HttpAnswer answer = httpGet(serviceBase(*m_service).resolved(QUrl("api/ice")));
    const QJsonArray servers =
        QJsonDocument::fromJson(answer.body).object().value("iceServers").toArray();
    QCOMPARE(servers.size(), 1);
    const QJsonObject turn = servers[0].toObject();
    QCOMPARE(turn.value("urls").toArray(), QJsonArray::fromStringList(config.turnURLs));
    const QString username = turn.value("username").toString();
    const QString credential = turn.value("credential").toString();
    const QStringList parts = username.split(u':');
    QCOMPARE(parts.size(), 2);
    QVERIFY(parts[0].toLongLong() >= before + 600);
    QVERIFY(parts[0].toLongLong() <= QDateTime::currentSecsSinceEpoch() + 600);
    QVERIFY(!parts[1].isEmpty() && !credential.isEmpty());

    // What the service hands out works; an altered password does not.
    const std::optional<QString> accepted = allocate(coturn->port, username, credential);
    QVERIFY2(accepted && accepted->contains("Total lost packets 0"),
             qPrintable(accepted.value_or(coturn->process->output())));
    QVERIFY(!allocate(coturn->port, username,
                      QString(credential).replace(0, 1, credential[0] == u'A' ? "B" : "A")));
}

void TestShareService::refusedSockets_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("closeCode");

    const QString room = testRoomID(7);
    QTest::newRow("unknown role") << "/api/room/" + room + "?role=admin" << CloseCode::badRole;
    QTest::newRow("21 characters")
        << "/api/room/" + room.left(21) + "?role=host" << CloseCode::badRoom;
    QTest::newRow("23 characters") << "/api/room/" + room + "x?role=host" << CloseCode::badRoom;
    QTest::newRow("not base64url")
        << "/api/room/" + room.left(21) + "+?role=guest" << CloseCode::badRoom;
}

void TestShareService::refusedSockets()
{
    QFETCH(QString, path);
    QFETCH(int, closeCode);

    TestSocket socket(serviceOrigin(*m_service));
    QUrl url = serviceBase(*m_service);
    url.setScheme("ws");
    url.setPath(path.section(u'?', 0, 0));
    url.setQuery(path.section(u'?', 1));
    socket.open(url);
    QVERIFY(socket.waitClosed());
    QCOMPARE(socket.closeCode(), closeCode);
    QVERIFY(!socket.closeReason().isEmpty());
    QCOMPARE(m_service->hub().roomCount(), 0);
}

void TestShareService::roomOwnership_data()
{
    QTest::addColumn<bool>("broke");
    QTest::addColumn<QByteArray>("secret");
    QTest::addColumn<int>("closeCode");
    QTest::addColumn<QString>("reason");

    const QString required = QStringLiteral("host secret required");
    const QString foreign = QStringLiteral("room belongs to another host");
    // The first host is still there, or its connection broke (it may return).
    for (const bool broke : {false, true}) {
        const auto row = [&](const char *name) -> QTestData & {
            return QTest::addRow("%s, %s", broke ? "broke" : "present", name) << broke;
        };
        row("no secret") << QByteArray() << CloseCode::notRoomHost << required;
        row("21 characters") << QByteArray(21, 'a') << CloseCode::notRoomHost << required;
        row("129 characters") << QByteArray(129, 'a') << CloseCode::notRoomHost << required;
        row("not base64url") << QByteArray("secret+with/plus=0123456789") << CloseCode::notRoomHost
                             << required;
        row("one character off") << QByteArray(testHostSecret).replace(0, 1, "x")
                                 << CloseCode::notRoomHost << foreign;
        row("a longer secret") << testHostSecret + "0" << CloseCode::notRoomHost << foreign;
        if (!broke)
            row("the same secret") << testHostSecret << CloseCode::hostPresent
                                   << QStringLiteral("room already has a host");
    }
}

void TestShareService::roomOwnership()
{
    QFETCH(bool, broke);
    QFETCH(QByteArray, secret);
    QFETCH(int, closeCode);
    QFETCH(QString, reason);

    const QString room = testRoomID(1);
    TestSocket first, second, visitor(serviceOrigin(*m_service));
    QVERIFY(openHost(first, *m_service, room));
    QVERIFY(!joinGuest(visitor, *m_service, room).isEmpty());
    QVERIFY(first.take("peer-joined"));
    if (broke) {
        first.socket().abort();
        QVERIFY(visitor.take("host-left"));
    }
    second.open(roomSocketURL(*m_service, room, host), secret);
    QVERIFY(second.waitClosed());
    QCOMPARE(second.closeCode(), closeCode);
    QCOMPARE(second.closeReason(), reason);
    // The guest stays, and a present first host keeps working.
    QVERIFY(visitor.isOpen() && visitor.pending().isEmpty());
    if (!broke) {
        visitor.sendJson(signal("still", "s"));
        QVERIFY(first.take("signal"));
    }
}

void TestShareService::forwardingAndBadInput()
{
    LogCapture log;
    const QString room = testRoomID(3);
    TestSocket desktop, phone(serviceOrigin(*m_service)), laptop(serviceOrigin(*m_service));
    QVERIFY(openHost(desktop, *m_service, room));
    const QString phoneID = joinGuest(phone, *m_service, room);
    const QString laptopID = joinGuest(laptop, *m_service, room);
    QVERIFY(!phoneID.isEmpty() && !laptopID.isEmpty());
    QVERIFY(desktop.take("peer-joined") && desktop.take("peer-joined"));

    // Payload and signature are carried as they are, whatever they hold.
    const QString payload =
        QStringLiteral("{\"sdp\":\"v=0\\r\\na=x:/한글/\\\"q\\\"\",\"type\":\"offer\"}");
    const QString sig = QStringLiteral("sig/+=-_");
    desktop.sendJson(signal(payload, sig, phoneID));
    const auto toPhone = phone.take("signal");
    QVERIFY(toPhone);
    QCOMPARE(*toPhone, QJsonObject({{"type", "signal"}, {"payload", payload}, {"sig", sig}}));

    phone.sendJson(signal(payload + "answer", sig + "2", QStringLiteral("ignored")));
    const auto fromPhone = desktop.take("signal");
    QVERIFY(fromPhone);
    QCOMPARE(*fromPhone, QJsonObject({{"type", "signal"},
                                      {"from", phoneID},
                                      {"payload", QString(payload + "answer")},
                                      {"sig", QString(sig + "2")}}));

    // Only the named guest hears the host; guests never hear each other.
    desktop.sendJson(signal("to laptop", "s", laptopID));
    QVERIFY(laptop.take("signal"));
    QVERIFY(phone.pending().isEmpty());
    for (const QString &line : log.messages()) {
        QVERIFY2(!line.contains(payload) && !line.contains(sig), qPrintable(line));
    }

    // A signal for nobody, or for a guest not in the room, is dropped; the host stays.
    desktop.sendJson(signal("lost", "s", QStringLiteral("nobody-is-called")));
    desktop.sendJson(signal("lost", "s"));
    desktop.sendJson(signal("found", "s", phoneID));
    QCOMPARE(phone.takeValue("signal", "payload"), QJsonValue(QStringLiteral("found")));
    QVERIFY(phone.pending().isEmpty() && laptop.pending().isEmpty());

    // What is no signal is ignored, and the guest that sent it stays.
    const QStringList bad = {
        QStringLiteral("not json"),
        QStringLiteral("[1,2]"),
        QStringLiteral(R"({"type":"shout","payload":"p","sig":"s"})"),
        QStringLiteral(R"({"type":"signal","payload":7,"sig":"s"})"),
        QStringLiteral(R"({"type":"signal","payload":"p"})"),
        QStringLiteral(R"({"type":"peer-joined","peerId":"fake"})"),
    };
    for (const QString &text : bad)
        phone.sendText(text);
    phone.sendJson(signal("good", "s"));
    QCOMPARE(desktop.takeValue("signal", "payload"), QJsonValue(QStringLiteral("good")));
    QVERIFY(desktop.pending().isEmpty());
    QVERIFY(phone.isOpen() && desktop.isOpen());
}

void TestShareService::messageLimits()
{
    ServiceConfig config = serviceTestConfig();
    config.maxMessageBytes = 4096;
    config.maxMessagesPerSecond = 20;
    QVERIFY(start(config));
    const QString room = testRoomID(9);
    TestSocket desktop, big(serviceOrigin(*m_service)), binary(serviceOrigin(*m_service)),
        flooder(serviceOrigin(*m_service));
    QVERIFY(openHost(desktop, *m_service, room));
    QVERIFY(!joinGuest(big, *m_service, room).isEmpty());
    QVERIFY(!joinGuest(binary, *m_service, room).isEmpty());

    big.sendJson(signal(QString(4096, u'x'), "s"));
    QVERIFY(big.waitClosed());
    QCOMPARE(big.closeCode(), int(QWebSocketProtocol::CloseCodeTooMuchData));
    binary.socket().sendBinaryMessage(QByteArray(16, '\1'));
    QVERIFY(binary.waitClosed());
    QCOMPARE(binary.closeCode(), CloseCode::binaryMessage);
    QVERIFY(desktop.take("peer-left"));
    QVERIFY(desktop.take("peer-left"));
    QVERIFY(!desktop.take("signal", 0));

    // A message just under the limit is relayed.
    QVERIFY(!joinGuest(flooder, *m_service, room).isEmpty());
    flooder.sendJson(signal(QString(3000, u'y'), "s"));
    QVERIFY(desktop.take("signal"));

    // A flood closes the flooder after no more than a burst.
    for (int i = 0; i < 200; ++i)
        flooder.sendJson(signal(QString::number(i), "s"));
    QVERIFY(flooder.waitClosed());
    QCOMPARE(flooder.closeCode(), CloseCode::tooManyMessages);
    QVERIFY(desktop.take("peer-left"));
    int relayed = 0;
    while (desktop.take("signal", 0))
        ++relayed;
    QVERIFY2(relayed <= 21, qPrintable(QString::number(relayed)));
}

void TestShareService::roomAndGuestLimits()
{
    ServiceConfig config = serviceTestConfig();
    config.maxRooms = 2;
    config.maxGuestsPerRoom = 2;
    QVERIFY(start(config));
    TestSocket a, b, c;
    QVERIFY(openHost(a, *m_service, testRoomID(1)) && openHost(b, *m_service, testRoomID(2)));
    c.open(roomSocketURL(*m_service, testRoomID(3), host));
    QVERIFY(c.waitClosed());
    QCOMPARE(c.closeCode(), CloseCode::full);

    TestSocket g1(serviceOrigin(*m_service)), g2(serviceOrigin(*m_service)),
        g3(serviceOrigin(*m_service));
    QVERIFY(!joinGuest(g1, *m_service, testRoomID(1)).isEmpty());
    QVERIFY(!joinGuest(g2, *m_service, testRoomID(1)).isEmpty());
    g3.open(roomSocketURL(*m_service, testRoomID(1), guest));
    QVERIFY(g3.waitClosed());
    QCOMPARE(g3.closeCode(), CloseCode::full);
}

void TestShareService::emptyRoomExpires()
{
    ServiceConfig config = serviceTestConfig();
    config.emptyRoomTimeout = std::chrono::milliseconds(300);
    QVERIFY(start(config));
    const QString room = testRoomID(12);
    TestSocket desktop, phone(serviceOrigin(*m_service));
    QVERIFY(openHost(desktop, *m_service, room));
    QVERIFY(!joinGuest(phone, *m_service, room).isEmpty());
    phone.close();
    QVERIFY(desktop.take("peer-left"));
    desktop.close();
    QVERIFY(desktop.waitClosed());
    // Kept for a while for a returning host, then gone.
    QCOMPARE(m_service->hub().roomCount(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(m_service->hub().roomCount(), 0, 5000);
}

void TestShareService::originRules_data()
{
    QTest::addColumn<QString>("role");
    QTest::addColumn<QString>("origin");
    QTest::addColumn<bool>("behindProxy");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("guest, own origin") << guest << "own" << false << true;
    QTest::newRow("guest, own origin over https") << guest << "https-own" << false << true;
    QTest::newRow("guest, no origin") << guest << "" << false << false;
    QTest::newRow("guest, other site") << guest << "https://evil.example" << false << false;
    QTest::newRow("guest, other port") << guest << "http://127.0.0.1:1" << false << false;
    QTest::newRow("guest, extra origin") << guest << "https://friend.example" << false << true;
    QTest::newRow("host, no origin") << host << "" << false << true;
    QTest::newRow("host, other site") << host << "https://evil.example" << false << false;
    // Behind a proxy the Host the service sees says nothing; the public address decides.
    QTest::newRow("proxied, own origin") << guest << "own" << true << false;
    QTest::newRow("proxied, public origin") << guest << "https://share.example.org" << true << true;
}

void TestShareService::originRules()
{
    QFETCH(QString, role);
    QFETCH(QString, origin);
    QFETCH(bool, behindProxy);
    QFETCH(bool, accepted);

    ServiceConfig config = serviceTestConfig();
    config.extraOrigins = {QStringLiteral("https://friend.example")};
    if (behindProxy)
        config.publicURL = QUrl(QStringLiteral("https://share.example.org/"));
    QVERIFY(start(config));
    if (origin == u"own")
        origin = serviceOrigin(*m_service);
    else if (origin == u"https-own")
        origin = serviceOrigin(*m_service).replace("http:", "https:");
    TestSocket socket(origin);
    socket.open(roomSocketURL(*m_service, testRoomID(13), role));
    if (accepted) {
        QVERIFY(socket.waitOpen());
        QCOMPARE(m_service->hub().memberCount(), 1);
    } else {
        QVERIFY(socket.waitClosed());
        QCOMPARE(socket.closeCode(), CloseCode::forbiddenOrigin);
        QCOMPARE(m_service->hub().roomCount(), 0);
    }
}

void TestShareService::httpGuards()
{
    ServiceConfig config = serviceTestConfig();
    config.httpIdleTimeout = std::chrono::milliseconds(300);
    config.maxRequestBytes = 4096;
    config.maxConnections = 2;
    QVERIFY(start(config));

    bool closed = false;
    const QByteArray idle = rawExchange(m_service->port(), QByteArray(), 5000, &closed);
    QVERIFY(closed);
    QVERIFY(idle.isEmpty());
    QByteArray huge = "GET /api/ice HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    for (int i = 0; i < 100; ++i)
        huge += "X-Padding: " + QByteArray(100, 'a') + "\r\n";
    QByteArray refused = rawExchange(m_service->port(), huge, 5000, &closed);
    QVERIFY(closed);
    QVERIFY2(refused.startsWith("HTTP/1.1 413"), refused.constData());

    // Beyond the connection limit a request is refused at once, until a connection ends.
    TestSocket a, b;
    QVERIFY(openHost(a, *m_service, testRoomID(16)) && openHost(b, *m_service, testRoomID(17)));
    QCOMPARE(m_service->openConnections(), 2);
    refused =
        rawExchange(m_service->port(), "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", 5000, &closed);
    QVERIFY(closed);
    QVERIFY2(refused.startsWith("HTTP/1.1 503"), refused.constData());
    a.close();
    QVERIFY(a.waitClosed());
    QTRY_COMPARE(m_service->openConnections(), 1);
    QCOMPARE(httpGet(serviceBase(*m_service)).status, 200);
}

QTEST_GUILESS_MAIN(TestShareService)
#include "tst_shareservice.moc"
