// The share service's rules against real WebSocket and HTTP clients on 127.0.0.1: roles,
// forwarding, what a returning host is told, every limit, the Origin check and bad input.

#include "IceServers.h"
#include "RoomHub.h"
#include "ServiceTestSupport.h"
#include "TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
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
// it or `milliseconds` pass.
QByteArray rawExchange(quint16 port, const QByteArray &request, int milliseconds,
                       bool *closedByServer = nullptr)
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
    if (closedByServer)
        *closedByServer = closed;
    return answer;
}

} // namespace

class TestShareService : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void httpRoutes_data();
    void httpRoutes();
    void iceList();
    void refusedSockets_data();
    void refusedSockets();
    void roomOwnership_data();
    void roomOwnership();
    void forgottenRoomHasNoOwner();
    void guestBeforeHost();
    void forwardingBothWays();
    void leavingIsAnnounced();
    void returningHostIsToldOnlyWhatItMissed();
    void badInputIsIgnored();
    void oversizedAndBinaryMessages();
    void floodClosesOnlyTheFlooder();
    void roomAndGuestLimits();
    void emptyRoomExpires();
    void drainKeepsOpenRoomsOnly_data();
    void drainKeepsOpenRoomsOnly();
    void originRules_data();
    void originRules();
    void publicURLOrigin();
    void silentSocketsAreDropped();
    void httpGuards();
    void connectionLimit();
    void closedConnectionsLeaveNothingBehind();

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
    QTest::newRow("share page") << "/s/" + testRoomID(1) << 200
                                << QByteArray("text/html; charset=utf-8")
                                << QStringLiteral("Vyo 셸프 공유");
    QTest::newRow("share page, short room")
        << "/s/abc" << 404 << QByteArray("text/html; charset=utf-8")
        << QStringLiteral("공유 주소가 올바르지 않아요");
    QTest::newRow("share page, bad character")
        << "/s/" + testRoomID(1).replace(0, 1, u'.') << 404
        << QByteArray("text/html; charset=utf-8") << QString();
    QTest::newRow("share page script")
        << "/web/share.js" << 200 << QByteArray("text/javascript; charset=utf-8")
        << QStringLiteral("transfer protocol");
    QTest::newRow("share page style")
        << "/web/share.css" << 200 << QByteArray("text/css; charset=utf-8") << QString();
    QTest::newRow("download worker")
        << "/web/share-sw.js" << 200 << QByteArray("text/javascript; charset=utf-8")
        << QStringLiteral("ReadableStream");
    QTest::newRow("bundled HMAC") << "/web/noble/hmac.js" << 200
                                  << QByteArray("text/javascript; charset=utf-8")
                                  << QStringLiteral("HMAC");
    QTest::newRow("bundled HMAC's licence")
        << "/web/noble/LICENSE" << 200 << QByteArray("text/plain; charset=utf-8")
        << QStringLiteral("Paul Miller");
    QTest::newRow("script that is not there")
        << "/web/missing.js" << 404 << QByteArray() << QString();
    QTest::newRow("page by its resource name")
        << "/web/share.html" << 404 << QByteArray() << QString();
    QTest::newRow("streamed download without its worker")
        << "/web/dl/1-2-3-4/file.txt" << 404 << QByteArray() << QString();
    QTest::newRow("ice list") << "/api/ice" << 200 << QByteArray("application/json")
                              << QStringLiteral("iceServers");
    QTest::newRow("room without upgrade")
        << "/api/room/" + testRoomID(1) << 426 << QByteArray("text/plain") << QString();
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

void TestShareService::iceList()
{
    QCOMPARE(httpGet(serviceBase(*m_service).resolved(QUrl("api/ice"))).body,
             QByteArray(R"({"iceServers":[]})"));
    ServiceConfig config = serviceTestConfig();
    config.stunURLs = {QStringLiteral("stun:stun.example.org:3478")};
    config.turnURLs = {QStringLiteral("turn:turn.example.org:3478?transport=udp"),
                       QStringLiteral("turns:turn.example.org:5349")};
    config.turnSecret = QStringLiteral("secret");
    config.turnCredentialLifetime = std::chrono::seconds(600);
    QVERIFY(start(config));
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    const HttpAnswer answer = httpGet(serviceBase(*m_service).resolved(QUrl("api/ice")));
    const QJsonArray servers =
        QJsonDocument::fromJson(answer.body).object().value("iceServers").toArray();
    QCOMPARE(servers.size(), 2);
    QCOMPARE(servers[0].toObject(),
             QJsonObject({{"urls", QJsonArray{"stun:stun.example.org:3478"}}}));
    const QJsonObject turn = servers[1].toObject();
    QCOMPARE(turn.value("urls").toArray(), QJsonArray({"turn:turn.example.org:3478?transport=udp",
                                                       "turns:turn.example.org:5349"}));
    const QStringList username = turn.value("username").toString().split(u':');
    QCOMPARE(username.size(), 2);
    QVERIFY(username[0].toLongLong() >= before + 600);
    QVERIFY(username[0].toLongLong() <= QDateTime::currentSecsSinceEpoch() + 600);
    QVERIFY(!username[1].isEmpty());
    QCOMPARE(turn.value("credential").toString(),
             turnCredential(QStringLiteral("secret"), turn.value("username").toString()));
}

void TestShareService::refusedSockets_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("closeCode");

    const QString room = testRoomID(7);
    QTest::newRow("no role") << "/api/room/" + room << CloseCode::badRole;
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
    QTest::addColumn<QString>("firstHost");
    QTest::addColumn<QByteArray>("secret");
    QTest::addColumn<int>("closeCode");
    QTest::addColumn<QString>("reason");

    const QByteArray other = "another-hosts-secret-0123";
    const QString required = QStringLiteral("host secret required");
    const QString foreign = QStringLiteral("room belongs to another host");
    const int accepted = 0;
    // How the first host is doing when the second one asks: still there, its connection broke,
    // or it stopped sharing (and its guest stays in the room).
    for (const QString firstHost : {"present", "broke", "ended"}) {
        const auto row = [&](const char *name) -> QTestData & {
            return QTest::addRow("%s, %s", qPrintable(firstHost), name) << firstHost;
        };
        row("no secret") << QByteArray() << CloseCode::notRoomHost << required;
        row("21 characters") << QByteArray(21, 'a') << CloseCode::notRoomHost << required;
        row("129 characters") << QByteArray(129, 'a') << CloseCode::notRoomHost << required;
        row("not base64url") << QByteArray("secret+with/plus=0123456789") << CloseCode::notRoomHost
                             << required;
        row("another secret") << other << CloseCode::notRoomHost << foreign;
        row("one character off") << QByteArray(testHostSecret).replace(0, 1, "x")
                                 << CloseCode::notRoomHost << foreign;
        row("a longer secret") << testHostSecret + "0" << CloseCode::notRoomHost << foreign;
        row("the same secret") << testHostSecret
                               << (firstHost == u"present" ? CloseCode::hostPresent : accepted)
                               << (firstHost == u"present"
                                       ? QStringLiteral("room already has a host")
                                       : QString());
    }
}

void TestShareService::roomOwnership()
{
    QFETCH(QString, firstHost);
    QFETCH(QByteArray, secret);
    QFETCH(int, closeCode);
    QFETCH(QString, reason);

    const QString room = testRoomID(1);
    TestSocket first, second, visitor(serviceOrigin(*m_service));
    QVERIFY(openHost(first, *m_service, room));
    const QString peerID = joinGuest(visitor, *m_service, room);
    QVERIFY(first.take("peer-joined"));
    if (firstHost == u"broke")
        first.socket().abort();
    else if (firstHost == u"ended")
        first.close(QWebSocketProtocol::CloseCodeGoingAway);
    if (firstHost != u"present")
        QVERIFY(visitor.take("host-left"));

    second.open(roomSocketURL(*m_service, room, host), secret);
    if (closeCode != 0) {
        QVERIFY(second.waitClosed());
        QCOMPARE(second.closeCode(), closeCode);
        QCOMPARE(second.closeReason(), reason);
        // The guest stays, and a present first host keeps working.
        QVERIFY(visitor.isOpen());
        QCOMPARE(first.isOpen(), firstHost == u"present");
        QVERIFY(visitor.pending().isEmpty());
        if (firstHost == u"present") {
            visitor.sendJson(signal("still", "s"));
            QVERIFY(first.take("signal"));
        }
        return;
    }
    // The owner is back and reaches its guest.
    QVERIFY(second.waitOpen());
    QVERIFY(visitor.take("host-joined"));
    second.sendJson({{"type", "signal"}, {"to", peerID}, {"payload", "back"}, {"sig", "s"}});
    QCOMPARE(visitor.takeValue("signal", "payload"), QJsonValue(QStringLiteral("back")));
}

void TestShareService::forgottenRoomHasNoOwner()
{
    // Once a room is gone, its identifier is free for any host.
    const QString room = testRoomID(2);
    TestSocket first, second;
    QVERIFY(openHost(first, *m_service, room));
    first.close(QWebSocketProtocol::CloseCodeGoingAway);
    QVERIFY(first.waitClosed());
    QTRY_COMPARE(m_service->hub().roomCount(), 0);
    second.open(roomSocketURL(*m_service, room, host), "another-hosts-secret-0123");
    QVERIFY(second.waitOpen());
    QCOMPARE(m_service->hub().roomCount(), 1);
}

void TestShareService::guestBeforeHost()
{
    const QString room = testRoomID(2);
    TestSocket early(serviceOrigin(*m_service));
    early.open(roomSocketURL(*m_service, room, guest));
    QVERIFY(early.waitOpen());
    const auto welcome = early.take("welcome");
    QVERIFY(welcome);
    QCOMPARE(welcome->value("host").toBool(), false);
    const QString peerID = welcome->value("peerId").toString();
    QCOMPARE(peerID.size(), 16);

    TestSocket desktop;
    QVERIFY(openHost(desktop, *m_service, room));
    const auto joined = desktop.take("peer-joined");
    QVERIFY(joined);
    QCOMPARE(*joined, QJsonObject({{"type", "peer-joined"}, {"peerId", peerID}}));
    QVERIFY(early.take("host-joined"));

    TestSocket late(serviceOrigin(*m_service));
    const QString latePeerID = joinGuest(late, *m_service, room);
    QVERIFY(!latePeerID.isEmpty());
    QVERIFY(latePeerID != peerID);
    QCOMPARE(desktop.takeValue("peer-joined", "peerId"), QJsonValue(latePeerID));
}

void TestShareService::forwardingBothWays()
{
    LogCapture log;
    const QString room = testRoomID(3);
    TestSocket desktop, phone(serviceOrigin(*m_service)), laptop(serviceOrigin(*m_service));
    QVERIFY(openHost(desktop, *m_service, room));
    const QString phoneID = joinGuest(phone, *m_service, room);
    const QString laptopID = joinGuest(laptop, *m_service, room);
    QVERIFY(!phoneID.isEmpty() && !laptopID.isEmpty());

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
    QCOMPARE(m_service->hub().relayedCount(), qint64(3));
    for (const QString &line : log.messages()) {
        QVERIFY2(!line.contains(payload) && !line.contains(sig), qPrintable(line));
    }

    // A signal for nobody, or for a guest not in the room, is dropped; the host stays.
    desktop.sendJson(signal("lost", "s", QStringLiteral("nobody-is-called")));
    desktop.sendJson(signal("lost", "s"));
    desktop.sendJson(signal("found", "s", phoneID));
    QCOMPARE(phone.takeValue("signal", "payload"), QJsonValue(QStringLiteral("found")));
    QVERIFY(phone.pending().isEmpty() && laptop.pending().isEmpty());
    QVERIFY(desktop.isOpen());
}

void TestShareService::leavingIsAnnounced()
{
    const QString room = testRoomID(5);
    TestSocket desktop, phone(serviceOrigin(*m_service)), laptop(serviceOrigin(*m_service));
    QVERIFY(openHost(desktop, *m_service, room));
    const QString phoneID = joinGuest(phone, *m_service, room);
    const QString laptopID = joinGuest(laptop, *m_service, room);
    QVERIFY(!laptopID.isEmpty());

    phone.close();
    const auto left = desktop.take("peer-left");
    QVERIFY(left);
    QCOMPARE(*left, QJsonObject({{"type", "peer-left"}, {"peerId", phoneID}}));

    // A host that closes properly has stopped sharing; when it comes back it is new to the room.
    desktop.close(QWebSocketProtocol::CloseCodeGoingAway);
    QCOMPARE(laptop.takeValue("host-left", "ended"), QJsonValue(true));
    QVERIFY(laptop.isOpen());
    TestSocket again;
    QVERIFY(openHost(again, *m_service, room));
    QCOMPARE(again.takeValue("peer-joined", "peerId"), QJsonValue(laptopID));
}

void TestShareService::returningHostIsToldOnlyWhatItMissed()
{
    const QString room = testRoomID(6);
    TestSocket stays(serviceOrigin(*m_service)), goes(serviceOrigin(*m_service)),
        comes(serviceOrigin(*m_service)), visits(serviceOrigin(*m_service));
    const QString staysID = joinGuest(stays, *m_service, room);
    const QString goesID = joinGuest(goes, *m_service, room);
    QVERIFY(!staysID.isEmpty() && !goesID.isEmpty());

    auto desktop = std::make_unique<TestSocket>();
    QVERIFY(openHost(*desktop, *m_service, room));
    QVERIFY(QTest::qWaitFor([&] { return desktop->receivedCount() == 2; }, 5000));
    QCOMPARE(desktop->pending(),
             QList<QJsonObject>({{{"type", "peer-joined"}, {"peerId", staysID}},
                                 {{"type", "peer-joined"}, {"peerId", goesID}}}));

    // The connection breaks (no closing handshake): the host may come back.
    desktop->socket().abort();
    QCOMPARE(stays.takeValue("host-left", "ended"), QJsonValue(false));
    goes.close();
    QVERIFY(goes.waitClosed());
    const QString comesID = joinGuest(comes, *m_service, room);
    QVERIFY(!comesID.isEmpty());
    // A guest who came and went while the host was away is nothing the host needs to hear.
    QVERIFY(!joinGuest(visits, *m_service, room).isEmpty());
    visits.close();
    QVERIFY(visits.waitClosed());
    QTRY_COMPARE(m_service->hub().memberCount(), 2);

    TestSocket returning;
    QVERIFY(openHost(returning, *m_service, room));
    QVERIFY(QTest::qWaitFor([&] { return returning.receivedCount() >= 2; }, 5000));
    QCOMPARE(returning.pending(),
             QList<QJsonObject>({{{"type", "peer-left"}, {"peerId", goesID}},
                                 {{"type", "peer-joined"}, {"peerId", comesID}}}));
    QVERIFY(stays.take("host-joined"));

    // The guest that stayed still reaches the host.
    stays.sendJson(signal("still here", "s"));
    QCOMPARE(returning.takeValue("signal", "from"), QJsonValue(staysID));
    QCOMPARE(returning.receivedCount(), 3);
}

void TestShareService::badInputIsIgnored()
{
    const QString room = testRoomID(8);
    TestSocket desktop, phone(serviceOrigin(*m_service));
    QVERIFY(openHost(desktop, *m_service, room));
    const QString phoneID = joinGuest(phone, *m_service, room);
    QVERIFY(!phoneID.isEmpty());
    QVERIFY(desktop.take("peer-joined"));

    const QStringList bad = {
        QStringLiteral("not json"),
        QStringLiteral("[1,2]"),
        QStringLiteral("\"signal\""),
        QStringLiteral(R"({"type":"shout","payload":"p","sig":"s"})"),
        QStringLiteral(R"({"type":5,"payload":"p","sig":"s"})"),
        QStringLiteral(R"({"type":"signal","payload":7,"sig":"s"})"),
        QStringLiteral(R"({"type":"signal","payload":"p"})"),
        QStringLiteral(R"({"type":"signal","payload":"p","sig":null})"),
        QStringLiteral(R"({"type":"peer-joined","peerId":"fake"})"),
    };
    for (const QString &text : bad)
        phone.sendText(text);
    phone.sendJson(signal("good", "s"));
    QCOMPARE(desktop.takeValue("signal", "payload"), QJsonValue(QStringLiteral("good")));
    QVERIFY(desktop.pending().isEmpty());
    QVERIFY(phone.isOpen());
    QVERIFY(desktop.isOpen());
}

void TestShareService::oversizedAndBinaryMessages()
{
    ServiceConfig config = serviceTestConfig();
    config.maxMessageBytes = 4096;
    QVERIFY(start(config));
    const QString room = testRoomID(9);
    TestSocket desktop, big(serviceOrigin(*m_service)), binary(serviceOrigin(*m_service));
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
    TestSocket fits(serviceOrigin(*m_service));
    QVERIFY(!joinGuest(fits, *m_service, room).isEmpty());
    fits.sendJson(signal(QString(3000, u'y'), "s"));
    QVERIFY(desktop.take("signal"));
}

void TestShareService::floodClosesOnlyTheFlooder()
{
    ServiceConfig config = serviceTestConfig();
    config.maxMessagesPerSecond = 20;
    QVERIFY(start(config));
    TestSocket desktop, flooder(serviceOrigin(*m_service)), otherDesktop,
        otherGuest(serviceOrigin(*m_service));
    QVERIFY(openHost(desktop, *m_service, testRoomID(10)) &&
            openHost(otherDesktop, *m_service, testRoomID(11)));
    QVERIFY(!joinGuest(flooder, *m_service, testRoomID(10)).isEmpty());
    QVERIFY(!joinGuest(otherGuest, *m_service, testRoomID(11)).isEmpty());

    for (int i = 0; i < 200; ++i)
        flooder.sendJson(signal(QString::number(i), "s"));
    QVERIFY(flooder.waitClosed());
    QCOMPARE(flooder.closeCode(), CloseCode::tooManyMessages);
    QVERIFY(desktop.take("peer-left"));
    // No more than a burst got through.
    int relayed = 0;
    while (desktop.take("signal", 0))
        ++relayed;
    QVERIFY2(relayed <= 21, qPrintable(QString::number(relayed)));

    otherGuest.sendJson(signal("other room", "s"));
    QVERIFY(otherDesktop.take("signal"));
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
    QCOMPARE(c.closeReason(), QStringLiteral("too many rooms"));

    TestSocket g1(serviceOrigin(*m_service)), g2(serviceOrigin(*m_service)),
        g3(serviceOrigin(*m_service));
    QVERIFY(!joinGuest(g1, *m_service, testRoomID(1)).isEmpty());
    QVERIFY(!joinGuest(g2, *m_service, testRoomID(1)).isEmpty());
    g3.open(roomSocketURL(*m_service, testRoomID(1), guest));
    QVERIFY(g3.waitClosed());
    QCOMPARE(g3.closeCode(), CloseCode::full);
    QCOMPARE(c.closeReason(), QStringLiteral("too many rooms"));
    QCOMPARE(g3.closeReason(), QStringLiteral("room is full"));

    // A room that closes makes space again.
    b.close();
    QTRY_COMPARE(m_service->hub().roomCount(), 1);
    TestSocket d;
    QVERIFY(openHost(d, *m_service, testRoomID(3)));
}

void TestShareService::emptyRoomExpires()
{
    ServiceConfig config = serviceTestConfig();
    config.emptyRoomTimeout = std::chrono::milliseconds(300);
    QVERIFY(start(config));
    const QString room = testRoomID(12);

    // A room whose host never came goes as soon as it is empty.
    {
        TestSocket lonely(serviceOrigin(*m_service));
        QVERIFY(!joinGuest(lonely, *m_service, room).isEmpty());
        QCOMPARE(m_service->hub().roomCount(), 1);
        lonely.close();
        QTRY_COMPARE(m_service->hub().roomCount(), 0);
    }

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

void TestShareService::drainKeepsOpenRoomsOnly_data()
{
    QTest::addColumn<bool>("roomEnds");
    QTest::newRow("the room ends by itself") << true;
    QTest::newRow("the drain time-out closes it") << false;
}

void TestShareService::drainKeepsOpenRoomsOnly()
{
    QFETCH(bool, roomEnds);
    ServiceConfig config = serviceTestConfig();
    config.drainTimeout = std::chrono::milliseconds(roomEnds ? 60000 : 500);
    QVERIFY(start(config));
    const QUrl health = serviceBase(*m_service).resolved(QUrl("healthz"));
    HttpAnswer answer = httpGet(health);
    QCOMPARE(answer.status, 200);
    QCOMPARE(QJsonDocument::fromJson(answer.body)["status"].toString(), "accepting");

    TestSocket desktop, phone(serviceOrigin(*m_service));
    QVERIFY(openHost(desktop, *m_service, testRoomID(1)));
    QVERIFY(!joinGuest(phone, *m_service, testRoomID(1)).isEmpty());
    QVERIFY(desktop.take("peer-joined"));

    QSignalSpy drained(m_service.get(), &ShareService::drained);
    m_service->drain();
    answer = httpGet(health);
    QCOMPARE(answer.status, 503);
    QCOMPARE(QJsonDocument::fromJson(answer.body)["rooms"].toInt(), 1);

    // No new rooms; the open room still takes guests and relays.
    TestSocket newcomer;
    newcomer.open(roomSocketURL(*m_service, testRoomID(2), host));
    QVERIFY(newcomer.waitClosed());
    QCOMPARE(newcomer.closeCode(), CloseCode::full);
    QCOMPARE(newcomer.closeReason(), QStringLiteral("service is shutting down"));
    TestSocket late(serviceOrigin(*m_service));
    const QString lateID = joinGuest(late, *m_service, testRoomID(1));
    QVERIFY(!lateID.isEmpty());
    desktop.sendJson(signal("p", "s", lateID));
    QVERIFY(late.take("signal"));
    QVERIFY(drained.isEmpty());

    if (roomEnds) {
        late.close();
        phone.close();
        desktop.close();
    }
    QTRY_COMPARE_WITH_TIMEOUT(drained.size(), 1, 10000);
    QVERIFY(desktop.waitClosed() && phone.waitClosed() && late.waitClosed());
    if (!roomEnds)
        QCOMPARE(phone.closeCode(), int(QWebSocketProtocol::CloseCodeGoingAway));
}

void TestShareService::originRules_data()
{
    QTest::addColumn<QString>("role");
    QTest::addColumn<QString>("origin");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("guest, own origin") << guest << "own" << true;
    QTest::newRow("guest, own origin over https") << guest << "https-own" << true;
    QTest::newRow("guest, no origin") << guest << "" << false;
    QTest::newRow("guest, other site") << guest << "https://evil.example" << false;
    QTest::newRow("guest, other port") << guest << "http://127.0.0.1:1" << false;
    QTest::newRow("guest, extra origin") << guest << "https://friend.example" << true;
    QTest::newRow("host, no origin") << host << "" << true;
    QTest::newRow("host, other site") << host << "https://evil.example" << false;
}

void TestShareService::originRules()
{
    QFETCH(QString, role);
    QFETCH(QString, origin);
    QFETCH(bool, accepted);

    ServiceConfig config = serviceTestConfig();
    config.extraOrigins = {QStringLiteral("https://friend.example")};
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

void TestShareService::publicURLOrigin()
{
    ServiceConfig config = serviceTestConfig();
    config.publicURL = QUrl(QStringLiteral("https://share.example.org/"));
    QVERIFY(start(config));
    // Behind a proxy the Host the service sees says nothing; the public address decides.
    TestSocket local(serviceOrigin(*m_service)),
        proxied(QStringLiteral("https://share.example.org"));
    local.open(roomSocketURL(*m_service, testRoomID(14), guest));
    QVERIFY(local.waitClosed());
    QCOMPARE(local.closeCode(), CloseCode::forbiddenOrigin);
    proxied.open(roomSocketURL(*m_service, testRoomID(14), guest));
    QVERIFY(proxied.waitOpen());
}

void TestShareService::silentSocketsAreDropped()
{
    ServiceConfig config = serviceTestConfig();
    config.keepAliveInterval = std::chrono::milliseconds(100);
    QVERIFY(start(config));
    const QString room = testRoomID(15);
    TestSocket desktop;
    QVERIFY(openHost(desktop, *m_service, room));

    // A guest that completes the handshake by hand and then never answers a ping.
    QTcpSocket silent;
    silent.connectToHost(QHostAddress::LocalHost, m_service->port());
    QVERIFY(silent.waitForConnected(3000));
    silent.write(QStringLiteral("GET /api/room/%1?role=guest HTTP/1.1\r\nHost: 127.0.0.1:%2\r\n"
                                "Origin: %3\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                                "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                                "Sec-WebSocket-Version: 13\r\n\r\n")
                     .arg(room)
                     .arg(m_service->port())
                     .arg(serviceOrigin(*m_service))
                     .toLatin1());
    bool closed = false;
    connect(&silent, &QTcpSocket::disconnected, this, [&closed] { closed = true; });
    QVERIFY(desktop.take("peer-joined"));
    QVERIFY(QTest::qWaitFor([&] { return closed; }, 5000));
    QVERIFY(desktop.take("peer-left"));
    // The host answers its pings by itself and stays.
    QVERIFY(desktop.isOpen());
}

void TestShareService::httpGuards()
{
    ServiceConfig config = serviceTestConfig();
    config.httpIdleTimeout = std::chrono::milliseconds(300);
    config.maxRequestBytes = 4096;
    QVERIFY(start(config));

    bool closed = false;
    const QByteArray idle = rawExchange(m_service->port(), QByteArray(), 5000, &closed);
    QVERIFY(closed);
    QVERIFY(idle.isEmpty());

    QByteArray huge = "GET /api/ice HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    for (int i = 0; i < 100; ++i)
        huge += "X-Padding: " + QByteArray(100, 'a') + "\r\n";
    const QByteArray refused = rawExchange(m_service->port(), huge, 5000, &closed);
    QVERIFY(closed);
    QVERIFY2(refused.startsWith("HTTP/1.1 413"), refused.constData());

    // An ordinary request on the same service still works.
    const HttpAnswer answer = httpGet(serviceBase(*m_service).resolved(QUrl("api/ice")));
    QCOMPARE(answer.status, 200);
}

void TestShareService::connectionLimit()
{
    ServiceConfig config = serviceTestConfig();
    config.maxConnections = 2;
    QVERIFY(start(config));
    TestSocket a, b;
    QVERIFY(openHost(a, *m_service, testRoomID(16)) && openHost(b, *m_service, testRoomID(17)));
    QCOMPARE(m_service->openConnections(), 2);

    bool closed = false;
    const QByteArray refused =
        rawExchange(m_service->port(), "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", 5000, &closed);
    QVERIFY(closed);
    QVERIFY2(refused.startsWith("HTTP/1.1 503"), refused.constData());

    a.close();
    QVERIFY(a.waitClosed());
    QTRY_COMPARE(m_service->openConnections(), 1);
    const HttpAnswer answer = httpGet(serviceBase(*m_service));
    QCOMPARE(answer.status, 200);
}

void TestShareService::closedConnectionsLeaveNothingBehind()
{
    QCOMPARE(httpGet(serviceBase(*m_service)).status, 200);
    QTRY_COMPARE(m_service->openConnections(), 0);
    const qsizetype baseline = m_service->findChildren<QObject *>().size();

    for (int round = 0; round < 5; ++round) {
        const QString room = testRoomID(100 + round);
        TestSocket desktop, phone(serviceOrigin(*m_service)), refused(serviceOrigin(*m_service));
        QVERIFY(openHost(desktop, *m_service, room));
        QVERIFY(!joinGuest(phone, *m_service, room).isEmpty());
        refused.open(roomSocketURL(*m_service, "short", guest));
        QVERIFY(refused.waitClosed());
        QCOMPARE(httpGet(serviceBase(*m_service).resolved(QUrl("api/ice"))).status, 200);
        phone.socket().abort();
        desktop.close();
        QVERIFY(desktop.waitClosed());
    }
    QTRY_COMPARE(m_service->openConnections(), 0);
    QTRY_COMPARE(m_service->hub().roomCount(), 0);
    QTRY_COMPARE(m_service->findChildren<QObject *>().size(), baseline);
}

QTEST_GUILESS_MAIN(TestShareService)
#include "tst_shareservice.moc"
