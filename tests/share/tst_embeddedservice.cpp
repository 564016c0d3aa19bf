// The share service built into the app: which address counts as the LAN (the routing tables and
// interfaces), the port fallback against ports held by test sockets and a change of the LAN
// address. Loopback addresses (127.0.0.2, 127.0.0.3) stand for the LAN.

#include "share/EmbeddedService.h"

#include "RoomHub.h"
#include "ServiceTestSupport.h"

#include <QRegularExpression>
#include <QTcpServer>
#include <QTest>

using namespace vyo;
using namespace vyo::test;

Q_DECLARE_METATYPE(std::optional<QHostAddress>)

namespace {

const QHostAddress lanStandIn(QStringLiteral("127.0.0.2"));

// The first of `count` consecutive ports that are free on 127.0.0.1 and 127.0.0.2 right now.
quint16 freePorts(int count)
{
    QTcpServer probe;
    for (int attempt = 0; attempt < 20 && probe.listen(QHostAddress::LocalHost, 0); ++attempt) {
        const quint16 first = probe.serverPort();
        probe.close();
        bool allFree = first + count <= 65535;
        for (int i = 0; allFree && i < count; ++i) {
            QTcpServer local;
            QTcpServer lan;
            allFree = local.listen(QHostAddress::LocalHost, quint16(first + i)) &&
                      lan.listen(lanStandIn, quint16(first + i));
        }
        if (allFree)
            return first;
    }
    return 0;
}

// The WebSocket address of a room on a service base.
QUrl roomSocket(QUrl base, const QString &roomID, const QString &role)
{
    base.setScheme(QStringLiteral("ws"));
    return base.resolved(QUrl(QStringLiteral("api/room/%1?role=%2").arg(roomID, role)));
}

bool listensOn(const QHostAddress &address, quint16 port)
{
    QTcpServer server;
    return !server.listen(address, port);
}

} // namespace

class TestEmbeddedService : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void defaultRoutes();
    void lanAddress_data();
    void lanAddress();
    void portFallback();
    void runsAndFollowsTheAddress();
};

void TestEmbeddedService::defaultRoutes()
{
    const QByteArray header =
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
    const QByteArray lan = "wlan0\t0000A8C0\t00000000\t0001\t0\t0\t600\t00FFFFFF\t0\t0\t0\n";
    const QByteArray wifi = "wlan0\t00000000\t0100A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n";
    const QByteArray wired = "eth0\t00000000\t0101A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n";
    const QByteArray zeros(32, '0');
    const QByteArray unreachable =
        zeros + " 00 " + zeros + " 00 " + zeros + " ffffffff 00000001 00000000 00200200 lo\n";
    const QByteArray ipv6Wifi = zeros + " 00 " + zeros + " 00 fe800000000000000000000000000001" +
                                " 00000258 00000001 00000000 00000003 wlan0\n";
    const QByteArray ipv6Prefix = "20010db8000000000000000000000000 40 " + zeros + " 00 " + zeros +
                                  " 00000100 00000001 00000000 00000001 eth0\n";

    // The interfaces of the IPv4 and the IPv6 default route: the lowest metric wins, an
    // unreachable route on lo is none.
    const LanAddress::DefaultRoutes routes = LanAddress::parseDefaultRoutes(
        header + lan + wifi + wired, unreachable + ipv6Prefix + ipv6Wifi);
    QCOMPARE(QStringList({routes.ipv4, routes.ipv6}), (QStringList{"eth0", "wlan0"}));
}

void TestEmbeddedService::lanAddress_data()
{
    QTest::addColumn<QList<LanAddress::Interface>>("interfaces");
    // The interfaces of the IPv4 and the IPv6 default route, and the one named to override them.
    QTest::addColumn<QStringList>("routes");
    QTest::addColumn<std::optional<QHostAddress>>("expected");

    const auto address = [](const char *text) { return QHostAddress(QLatin1String(text)); };
    const LanAddress::Interface loopback{"lo", true, {address("127.0.0.1"), address("::1")}};
    const LanAddress::Interface wifi{"wlan0",
                                     true,
                                     {address("fe80::1"), address("2001:db8::5"),
                                      address("169.254.3.4"), address("192.168.0.5")}};
    const LanAddress::Interface docker{"docker0", true, {address("172.17.0.1")}};
    const LanAddress::Interface linkLocalOnly{
        "wlan0", true, {address("fe80::1"), address("169.254.3.4")}};
    const LanAddress::Interface veth{"veth-near", true, {address("10.231.7.1")}};
    const QList<LanAddress::Interface> usual{loopback, docker, wifi, veth};
    const std::optional<QHostAddress> none;

    QTest::newRow("IPv4 of the route's interface")
        << usual << QStringList{"wlan0", "wlan0", ""} << std::optional(address("192.168.0.5"));
    QTest::newRow("link-local only")
        << QList{loopback, linkLocalOnly} << QStringList{"wlan0", "wlan0", ""} << none;
    QTest::newRow("override") << usual << QStringList{"wlan0", "wlan0", "veth-near"}
                              << std::optional(address("10.231.7.1"));
}

void TestEmbeddedService::lanAddress()
{
    QFETCH(QList<LanAddress::Interface>, interfaces);
    QFETCH(QStringList, routes);
    QFETCH(std::optional<QHostAddress>, expected);
    QCOMPARE(LanAddress::choose(interfaces, {routes[0], routes[1]}, routes[2]), expected);
}

void TestEmbeddedService::portFallback()
{
    const quint16 first = freePorts(3);
    QVERIFY(first > 0);
    const QHostAddress loopback(QHostAddress::LocalHost);
    // The first port taken on the LAN, the second on loopback: the third serves on both.
    QTcpServer takenOnLan, takenOnLoopback, lastTaken;
    QVERIFY(takenOnLan.listen(lanStandIn, first));
    QVERIFY(takenOnLoopback.listen(loopback, quint16(first + 1)));
    EmbeddedService embedded;
    embedded.setPorts(first, 3);
    embedded.setAddressSource([] { return lanStandIn; });
    const std::optional<EmbeddedService::Bases> bases = embedded.start();
    QVERIFY(bases);
    const quint16 port = quint16(first + 2);
    QCOMPARE(bases->local, QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(port)));
    QCOMPARE(bases->lan, QUrl(QStringLiteral("http://127.0.0.2:%1/").arg(port)));
    QCOMPARE(httpGet(bases->lan).status, 200);
    embedded.stop();
    QVERIFY(!listensOn(loopback, port) && !listensOn(lanStandIn, port));

    // All taken: the message, and nothing left listening on the ports tried.
    QVERIFY(lastTaken.listen(loopback, port));
    QVERIFY(!embedded.start());
    QCOMPARE(embedded.errorMessage(), EmbeddedService::noFreePortMessage);
    QVERIFY(!embedded.isRunning());
    takenOnLan.close();
    takenOnLoopback.close();
    lastTaken.close();
    for (int offset = 0; offset < 3; ++offset) {
        QVERIFY(!listensOn(loopback, quint16(first + offset)));
        QVERIFY(!listensOn(lanStandIn, quint16(first + offset)));
    }
}

void TestEmbeddedService::runsAndFollowsTheAddress()
{
    const quint16 first = freePorts(1);
    QVERIFY(first > 0);
    std::optional<QHostAddress> lan = lanStandIn;
    EmbeddedService embedded;
    embedded.setPorts(first, 1);
    embedded.setAddressSource([&lan] { return lan; });
    const std::optional<EmbeddedService::Bases> bases = embedded.start();
    QVERIFY(bases);
    // Guests' pages come from the LAN address only; the desktop is a host over loopback.
    const QString room = testRoomID(1);
    TestSocket host;
    host.open(roomSocket(bases->local, room, QStringLiteral("host")));
    QVERIFY(host.waitOpen());
    TestSocket foreign(QStringLiteral("http://127.0.0.1:%1").arg(first));
    foreign.open(roomSocket(bases->lan, room, QStringLiteral("guest")));
    QVERIFY(foreign.waitClosed());
    QCOMPARE(foreign.closeCode(), CloseCode::forbiddenOrigin);

    // A new LAN address: a new share gets it, and the service answers there.
    lan = QHostAddress(QStringLiteral("127.0.0.3"));
    QTest::ignoreMessage(QtInfoMsg, QRegularExpression(QStringLiteral("127.0.0.2에서 127.0.0.3")));
    embedded.checkAddress();
    const std::optional<EmbeddedService::Bases> moved = embedded.start();
    QVERIFY(moved);
    QCOMPARE(moved->lan, QUrl(QStringLiteral("http://127.0.0.3:%1/").arg(first)));
    TestSocket guest(QStringLiteral("http://127.0.0.3:%1").arg(first));
    guest.open(roomSocket(moved->lan, room, QStringLiteral("guest")));
    QVERIFY(guest.waitOpen());
    QVERIFY(guest.take(QStringLiteral("welcome")));
    // ::1 stands for a global IPv6 address: brackets in the share address and the page's origin.
    lan = QHostAddress(QHostAddress::LocalHostIPv6);
    embedded.checkAddress();
    QCOMPARE(embedded.start()->lan.toString(), QStringLiteral("http://[::1]:%1/").arg(first));

    // No address: new shares fail with the message, the running service stays for the old ones.
    lan.reset();
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("LAN 주소가 사라짐")));
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("LAN 주소가 없어")));
    QVERIFY(!embedded.start());
    QCOMPARE(embedded.errorMessage(), EmbeddedService::noNetworkMessage);
    QVERIFY(embedded.isRunning());
    lan = lanStandIn;
    QCOMPARE(embedded.start()->lan, bases->lan);
}

QTEST_MAIN(TestEmbeddedService)
#include "tst_embeddedservice.moc"
