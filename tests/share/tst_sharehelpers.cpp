// Room identifiers and keys, the share address, and the ICE-server list fetched from a real share
// service on 127.0.0.1 (with the failures the share center tells apart).

#include "share/ShareHelpers.h"

#include "logic/Signing.h"

#include "ServiceTestSupport.h"

#include <QHttpServer>
#include <QSet>
#include <QTcpServer>
#include <QTest>

using namespace vyo;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(std::optional<QList<vyo::IceServer>>)

namespace {

// Fetches and waits for the answer (bounded).
std::optional<IceFetch::Result> fetchNow(const QUrl &base, std::chrono::milliseconds timeout = 3s)
{
    QObject context;
    std::optional<IceFetch::Result> result;
    IceFetch::fetch(
        base, &context, [&result](const IceFetch::Result &answer) { result = answer; }, timeout);
    (void)QTest::qWaitFor([&result] { return result.has_value(); }, 15000);
    return result;
}

} // namespace

class TestShareHelpers : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void roomIDAndKey();
    void shareAddress_data();
    void shareAddress();
    void decodePayload_data();
    void decodePayload();
    void fetchFromService();
    void fetchFailures();
};

void TestShareHelpers::roomIDAndKey()
{
    QSet<QString> seen;
    for (int i = 0; i < 50; ++i) {
        const std::optional<QString> room = makeRoomID();
        const std::optional<QString> key = makeRoomKey();
        QVERIFY(room && key);
        // base64url without padding of 16 and 32 random bytes
        QCOMPARE(base64UrlBytes(*room).value_or(QByteArray()).size(), 16);
        QCOMPARE(base64UrlBytes(*key).value_or(QByteArray()).size(), 32);
        QCOMPARE(room->size() + key->size(), 22 + 43);
        seen.insert(*room);
        seen.insert(*key);
    }
    QCOMPARE(seen.size(), 100);
}

void TestShareHelpers::shareAddress_data()
{
    QTest::addColumn<QUrl>("pageBase");
    QTest::addColumn<QUrl>("signalingBase");
    QTest::addColumn<QString>("expected");

    QTest::newRow("same base") << QUrl("https://share.example.org")
                               << QUrl("https://share.example.org")
                               << "https://share.example.org/s/ROOM#KEY";
    QTest::newRow("signaling base with query characters")
        << QUrl("https://share.example.org") << QUrl("https://sig.example.org/a+b?x=1&y=2")
        << "https://share.example.org/s/ROOM?signal=https://sig.example.org/"
           "a%2Bb%3Fx%3D1%26y%3D2#KEY";
}

void TestShareHelpers::shareAddress()
{
    QFETCH(QUrl, pageBase);
    QFETCH(QUrl, signalingBase);
    QFETCH(QString, expected);

    const QUrl address = vyo::shareAddress(pageBase, signalingBase, "ROOM", "KEY");
    QCOMPARE(address.toString(QUrl::FullyEncoded), expected);
    // The key never reaches the server: it is only in the fragment.
    QVERIFY(!address.toString(QUrl::RemoveFragment).contains("KEY"));
    if (signalingBase != pageBase) {
        QCOMPARE(QUrl(QUrlQuery(address).queryItemValue("signal", QUrl::FullyDecoded)),
                 signalingBase);
    }
}

void TestShareHelpers::decodePayload_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<std::optional<QList<IceServer>>>("expected");

    using Servers = QList<IceServer>;
    QTest::newRow("stun and turn")
        << QByteArray(
               R"({"iceServers":[{"urls":["stun:a:3478"]},{"urls":["turn:b:3478","turns:b:5349"],"username":"1:x","credential":"c"}],"ttl":5})")
        << std::optional<Servers>(
               Servers{{{"stun:a:3478"}, {}, {}}, {{"turn:b:3478", "turns:b:5349"}, "1:x", "c"}});
    QTest::newRow("server without urls")
        << QByteArray(R"({"iceServers":[{"username":"u"}]})") << std::optional<Servers>();
    QTest::newRow("not JSON") << QByteArray("<html>") << std::optional<Servers>();
}

void TestShareHelpers::decodePayload()
{
    QFETCH(QByteArray, body);
    QFETCH(std::optional<QList<IceServer>>, expected);

    const std::optional<IceFetch::Payload> payload = IceFetch::Payload::decode(body);
    QCOMPARE(payload.has_value(), expected.has_value());
    if (payload)
        QCOMPARE(payload->iceServers, *expected);
}

void TestShareHelpers::fetchFromService()
{
    ServiceConfig config = test::serviceTestConfig();
    config.stunURLs = {QStringLiteral("stun:127.0.0.1:3478")};
    config.turnURLs = {QStringLiteral("turn:127.0.0.1:3478?transport=udp")};
    config.turnSecret = QStringLiteral("secret");
    const auto service = test::startService(config);
    QVERIFY(service);
    const QUrl base = test::serviceBase(*service);
    // A fetch whose context has gone answers nobody; the service answers in order, so by the
    // time the later fetch is answered the first one has been too.
    bool called = false;
    auto context = std::make_unique<QObject>();
    IceFetch::fetch(base, context.get(), [&called](const IceFetch::Result &) { called = true; });
    context.reset();
    const std::optional<IceFetch::Result> result = fetchNow(base);
    QVERIFY(result);
    QVERIFY(!called);
    QCOMPARE(result->failure, std::nullopt);
    QCOMPARE(result->servers.size(), 2);
    QCOMPARE(result->servers[0], (IceServer{{"stun:127.0.0.1:3478"}, {}, {}}));
    QCOMPARE(result->servers[1].urls, QStringList({"turn:127.0.0.1:3478?transport=udp"}));
    QVERIFY(result->servers[1].username && result->servers[1].credential);
}

void TestShareHelpers::fetchFailures()
{
    // What the share center tells apart: an answer it cannot read and a refused connection (not
    // offline); a server that never answers (offline): tst_sharecenter.
    QHttpServer garbage;
    garbage.route("/api/ice",
                  [] { return QHttpServerResponse("text/html", "<html>maintenance</html>"); });
    const quint16 garbagePort = garbage.listen(QHostAddress::LocalHost, 0);
    QVERIFY(garbagePort);
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        closedPort = probe.serverPort();
    }
    const auto failure = [](const QString &url) {
        const std::optional<IceFetch::Result> result = fetchNow(QUrl(url));
        return result ? result->failure : std::nullopt;
    };
    using Failure = IceFetch::Failure;
    QCOMPARE(failure(QStringLiteral("http://127.0.0.1:%1/").arg(garbagePort)),
             std::optional(Failure::undecodable));
    QCOMPARE(failure(QStringLiteral("http://127.0.0.1:%1/").arg(closedPort)),
             std::optional(Failure::other));
}

QTEST_MAIN(TestShareHelpers)
#include "tst_sharehelpers.moc"
