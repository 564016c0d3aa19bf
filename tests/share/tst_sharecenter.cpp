// The share center against a real share service on 127.0.0.1 (in-process) with fake peer
// connections: starting (one share for two starts, the offline message, the fallback STUN
// server, the embedded service on 127.0.0.2 standing for the LAN), browsers joining and leaving,
// listings, expiry on an injected clock, the idle-sleep hold and what stopping
// the last share releases.

#include "share/ShareCenter.h"

#include "core/Defaults.h"
#include "core/Ids.h"
#include "logic/Signing.h"
#include "platform/fake/FakeDesktop.h"
#include "platform/fake/FakePeerConnection.h"
#include "share/ShareHelpers.h"
#include "share/SignalingClient.h"
#include "shelf/Shelf.h"

#include "ServiceTestSupport.h"
#include "TestSupport.h"

#include <QBuffer>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

using namespace vyo;
using namespace vyo::test;
using namespace std::chrono_literals;
using Content = ShelfItem::Content;
using Route = PeerSession::Route;

namespace {

// An HTTP server on 127.0.0.1 that holds every request for the ICE-server list until the test
// answers it, so a test decides when and how the list arrives. Anything else (the signaling
// client knocking) is turned away.
class IceStub : public QObject
{
public:
    IceStub()
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                    if (m_requests.contains(socket) || !socket->peek(4096).contains("\r\n\r\n"))
                        return;
                    if (socket->peek(13) == "GET /api/ice ")
                        m_requests.append(socket);
                    else
                        socket->abort();
                });
            }
        });
    }
    QUrl base() const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(m_server.serverPort()));
    }
    int requestCount() const { return int(m_requests.size()); }
    void answer(int index, int status, const QByteArray &body)
    {
        QTcpSocket *socket = m_requests.at(index);
        socket->write("HTTP/1.1 " + QByteArray::number(status) +
                      " Answer\r\nContent-Type: application/json\r\nContent-Length: " +
                      QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
        socket->disconnectFromHost();
    }

private:
    QTcpServer m_server;
    QList<QTcpSocket *> m_requests;
};

QByteArray noisePng(int side)
{
    QImage image(side, side, QImage::Format_RGB32);
    QRandomGenerator generator(7);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
            image.setPixel(x, y, generator.generate());
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QJsonObject parsed(const QString &text)
{
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

} // namespace

class TestShareCenter : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void embeddedServiceRunsWhileShared();
    void iceListAnswers();
    void shareHoldAndStop();
    void joinSignalLeaveAndRejoin();
    void expiry();

private:
    // Starts sharing `shelf` and waits for the share; null when none came.
    ShareSession *share(Shelf *shelf);
    // A guest joins the share's room; its peer identifier and the fake connection made for it.
    QString join(ShareSession *session, TestSocket &guest, QPointer<FakePeerConnection> *fake);
    // Opens the channel of a peer and says "ready".
    void greet(FakePeerConnection *fake, const QString &device = QString());
    QStringList lists(FakePeerConnection *fake) const;

    std::unique_ptr<ShareService> m_service;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeDesktop> m_desktop;
    std::unique_ptr<ShareCenter> m_center;
    std::unique_ptr<Shelf> m_shelf;
    QList<QPointer<FakePeerConnection>> m_connections;
    QList<QList<IceServer>> m_connectionServers;
    QDateTime m_now;
};

void TestShareCenter::initTestCase()
{
    Defaults::shared().registerDefaults();
    m_service = startService();
    QVERIFY(m_service);
}

void TestShareCenter::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_desktop = std::make_unique<FakeDesktop>();
    m_center = std::make_unique<ShareCenter>();
    m_now = QDateTime(QDate(2026, 3, 7), QTime(14, 5));
    m_center->setClock([this] { return m_now; });
    m_connections.clear();
    m_connectionServers.clear();
    m_center->setPeerConnectionMaker([this](const QList<IceServer> &servers) {
        auto fake = std::make_unique<FakePeerConnection>(servers);
        m_connections.append(fake.get());
        m_connectionServers.append(servers);
        return std::unique_ptr<PeerConnection>(std::move(fake));
    });
    Defaults::shared().setValue(DefaultsKey::shareServiceURL, serviceBase(*m_service).toString());
    Defaults::shared().remove(DefaultsKey::shareExpiryMinutes);
    m_shelf = std::make_unique<Shelf>();
}

void TestShareCenter::cleanup()
{
    m_center.reset();
    m_shelf.reset();
    m_desktop.reset();
    QThreadPool::globalInstance()->waitForDone(60000);
    m_dir.reset();
}

ShareSession *TestShareCenter::share(Shelf *shelf)
{
    m_center->startSharing(shelf);
    if (!QTest::qWaitFor([&] { return m_center->session(shelf->id()) != nullptr; }, 10000))
        return nullptr;
    return m_center->session(shelf->id());
}

QString TestShareCenter::join(ShareSession *session, TestSocket &guest,
                              QPointer<FakePeerConnection> *fake)
{
    const qsizetype before = m_connections.size();
    const QString peerID = joinGuest(guest, *m_service, session->roomID());
    if (peerID.isEmpty() || !QTest::qWaitFor([&] { return m_connections.size() > before; }, 10000))
        return QString();
    *fake = m_connections.last();
    return peerID;
}

void TestShareCenter::greet(FakePeerConnection *fake, const QString &device)
{
    fake->setChannelState(PeerConnection::ChannelState::open);
    fake->receiveText(TransferProtocol::encode({{"t", "ready"}, {"device", device}}));
}

QStringList TestShareCenter::lists(FakePeerConnection *fake) const
{
    QStringList texts;
    for (const QString &text : fake->sentTexts()) {
        if (parsed(text).value("t").toString() == u"list")
            texts.append(text);
    }
    return texts;
}

// Starting

void TestShareCenter::embeddedServiceRunsWhileShared()
{
    // Without "shareServiceURL" the embedded service on the LAN address shares.
    Defaults::shared().remove(DefaultsKey::shareServiceURL);
    EmbeddedService &embedded = m_center->embeddedService();
    const QHostAddress lan(QStringLiteral("127.0.0.2"));
    embedded.setAddressSource([lan] { return lan; });
    quint16 port = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(lan, 0));
        port = probe.serverPort();
    }
    embedded.setPorts(port, 1);

    // Two shelves: the service starts with the first share and stops with the last.
    ShareSession *session = share(m_shelf.get());
    QVERIFY(session);
    QVERIFY(embedded.isRunning());
    const QUrl lanBase(QStringLiteral("http://127.0.0.2:%1/").arg(port));
    // The page and its signaling are both on the LAN address: no "signal" item.
    QCOMPARE(session->url(), shareAddress(lanBase, lanBase, session->roomID(), session->key()));
    QCOMPARE(session->iceServers(), QList<IceServer>());
    QTRY_VERIFY(session->isOnline());
    Shelf other;
    QVERIFY(share(&other));

    // A browser on the LAN joins; the desktop hears of it over loopback.
    TestSocket guest(QStringLiteral("http://127.0.0.2:%1").arg(port));
    guest.open(QUrl(QStringLiteral("ws://127.0.0.2:%1/api/room/%2?role=guest")
                        .arg(port)
                        .arg(session->roomID())));
    QVERIFY(guest.waitOpen());
    QTRY_COMPARE(m_connections.size(), 1);

    m_center->stopSharing(m_shelf->id());
    QVERIFY(embedded.isRunning());
    m_center->stopSharing(other.id());
    QVERIFY(!embedded.isRunning());
    QTcpServer again;
    QVERIFY(again.listen(lan, port));
}

void TestShareCenter::iceListAnswers()
{
    // One service whose answers the test gives, in the order it chooses.
    IceStub stub;
    Defaults::shared().setValue(DefaultsKey::shareServiceURL, stub.base().toString());
    const auto urls = [this](const Shelf &shelf) {
        QStringList all;
        for (const IceServer &server : m_center->session(shelf.id())->iceServers())
            all += server.urls;
        return all;
    };
    // Two starts before the answer make one share.
    QSignalSpy sessions(m_center.get(), &ShareCenter::sessionsChanged);
    m_center->startSharing(m_shelf.get());
    m_center->startSharing(m_shelf.get());
    QTRY_COMPARE(stub.requestCount(), 2);
    stub.answer(0, 200,
                R"({"iceServers":[{"urls":["stun:127.0.0.1:3478","turn:127.0.0.1:3478"],)"
                R"("username":"u","credential":"c"}]})");
    QTRY_VERIFY(m_center->isSharing(m_shelf->id()));
    QCOMPARE(urls(*m_shelf), (QStringList{"stun:127.0.0.1:3478", "turn:127.0.0.1:3478"}));
    const QUuid first = m_center->session(m_shelf->id())->id();
    stub.answer(1, 200, R"({"iceServers":[]})");
    // The second answer arrives before that of a start made after it; it finds the share made.
    // A server error gives the fallback STUN server.
    Shelf other;
    m_center->startSharing(&other);
    QTRY_COMPARE(stub.requestCount(), 3);
    stub.answer(2, 500, "{}");
    QTRY_VERIFY(m_center->isSharing(other.id()));
    QCOMPARE(urls(other), QStringList{"stun:stun.cloudflare.com:3478"});
    QCOMPARE(sessions.size(), 2);
    QCOMPARE(m_center->session(m_shelf->id())->id(), first);
    QCOMPARE(m_desktop->idleInhibitor().holdCount(), 1);

    // No answer in time: no network, and nothing shared.
    m_center->setIceFetchTimeout(200ms);
    Shelf offline;
    m_center->startSharing(&offline);
    QTRY_COMPARE(m_center->lastError(), std::optional<QString>(ShareCenter::offlineMessage));
    QVERIFY(!m_center->isSharing(offline.id()));
    QCOMPARE(m_center->sessions().size(), size_t(2));
}

void TestShareCenter::shareHoldAndStop()
{
    FakeIdleInhibitor &inhibitor = m_desktop->idleInhibitor();
    const QString image = m_dir->filePath("a.png");
    QVERIFY(writeFile(image, noisePng(40)));
    m_shelf->add({ShelfItem(Content::image(QUrl::fromLocalFile(image)))});
    ShareSession *session = share(m_shelf.get());
    QVERIFY(session);
    QCOMPARE(session->url(), shareAddress(serviceBase(*m_service), serviceBase(*m_service),
                                          session->roomID(), session->key()));
    // With "shareServiceURL" set the embedded service never listens.
    QVERIFY(!m_center->embeddedService().isRunning());
    QTRY_VERIFY(session->isOnline());
    QVERIFY(inhibitor.isInhibiting());
    QVERIFY(m_center->isExpiryTimerRunning());
    m_center->listing(m_shelf.get());
    QTRY_COMPARE(m_center->thumbnails().size(), 1);
    TestSocket guest(serviceOrigin(*m_service));
    QPointer<FakePeerConnection> fake;
    QVERIFY(!join(session, guest, &fake).isEmpty());

    // Stopping the last sends the guests away (the host closed properly) and releases the hold,
    // the timer and the thumbnails.
    const QString roomID = session->roomID();
    QSignalSpy sessions(m_center.get(), &ShareCenter::sessionsChanged);
    m_center->stopSharing(m_shelf->id());
    QCOMPARE(sessions.size(), 1);
    QVERIFY(fake.isNull());
    QCOMPARE(guest.takeValue("host-left", "ended"), QJsonValue(true));
    QVERIFY(!inhibitor.isInhibiting());
    QVERIFY(!m_center->isExpiryTimerRunning());
    QCOMPARE(m_center->thumbnails().size(), 0);
    // Sharing again holds again, in a new room: a stopped share is never reused.
    ShareSession *again = share(m_shelf.get());
    QVERIFY(again && again->roomID() != roomID);
    QCOMPARE(inhibitor.holdCount(), 2);
}

void TestShareCenter::joinSignalLeaveAndRejoin()
{
    // (Device names, routes and activity lines as the share view shows them: tests/shelfwindow.)
    ShareSession *session = share(m_shelf.get());
    QVERIFY(session);
    QTRY_VERIFY(session->isOnline());
    m_now = m_now.addSecs(100);
    TestSocket guest(serviceOrigin(*m_service));
    QPointer<FakePeerConnection> fake;
    const QString peerID = join(session, guest, &fake);
    QVERIFY(!peerID.isEmpty());
    QCOMPARE(m_connectionServers.last(), session->iceServers());
    QCOMPARE(session->lastActivity(), m_now);

    // The offer reaches the browser, signed with the room key; its answer reaches the peer.
    QVERIFY(fake->completeOffer("v=0 offer"));
    QVERIFY(fake->completeLocalDescription());
    const std::optional<QJsonObject> offer = guest.take("signal");
    QVERIFY(offer);
    const QString payload = offer->value("payload").toString();
    QCOMPARE(payload, QStringLiteral(R"({"sdp":{"sdp":"v=0 offer","type":"offer"}})"));
    QVERIFY(verifyPayload(payload, offer->value("sig").toString(), session->key()));
    const QString answer = R"({"sdp":{"sdp":"v=0 answer","type":"answer"}})";
    guest.sendJson(
        {{"type", "signal"}, {"payload", answer}, {"sig", *signPayload(answer, session->key())}});
    QTRY_COMPARE(fake->remoteDescriptions().size(), 1);

    // A page that says "ready" again gets the listing again; the device connected only once.
    greet(fake, "iPhone");
    greet(fake, "iPhone");
    QCOMPARE(lists(fake).size(), 2);
    QCOMPARE(parsed(lists(fake)[0]).value("title").toString(), QStringLiteral("빈 셸프"));
    QCOMPARE(session->activities().size(), 1);
    // A change of the shelf reaches the ready peer.
    m_shelf->setName(QStringLiteral("여행"));
    m_shelf->add({ShelfItem(Content::link(QUrl("https://example.com/a/b")))});
    m_center->shelfChanged(m_shelf.get());
    const QString expected = R"({"items":[{"id":"%1","kind":"link","name":"example.com",)"
                             R"("url":"https://example.com/a/b"}],"t":"list","title":"여행"})";
    QCOMPARE(lists(fake), (QStringList{lists(fake)[0], lists(fake)[0],
                                       expected.arg(uuidText(m_shelf->items()[0].id()))}));

    // Leaving closes the peer; coming back is a new browser with a new peer.
    guest.close();
    QTRY_VERIFY(fake.isNull());
    QVERIFY(session->peers().empty());
    TestSocket back(serviceOrigin(*m_service));
    QPointer<FakePeerConnection> second;
    const QString secondID = join(session, back, &second);
    QVERIFY(!secondID.isEmpty() && secondID != peerID);
    QCOMPARE(session->devices().size(), 1);
    // Its channel open, it gets no listing until it is ready.
    second->setChannelState(PeerConnection::ChannelState::open);
    m_center->shelfChanged(m_shelf.get());
    QCOMPARE(lists(second).size(), 0);
    greet(second);
    QCOMPARE(lists(second), QStringList{expected.arg(uuidText(m_shelf->items()[0].id()))});
}

void TestShareCenter::expiry()
{
    // 30 minutes after the last activity line; a share whose shelf has gone closes at once.
    ShareSession *session = share(m_shelf.get());
    QVERIFY(session);
    auto gone = std::make_unique<Shelf>();
    const QUuid goneID = gone->id();
    QVERIFY(share(gone.get()));
    gone.reset();
    m_now = m_now.addSecs(1800);
    m_center->checkExpiry();
    QVERIFY(m_center->isSharing(m_shelf->id()));
    QVERIFY(!m_center->isSharing(goneID));
    session->log(QStringLiteral("받는 중"));
    m_now = m_now.addSecs(1800);
    m_center->checkExpiry();
    QVERIFY(m_center->isSharing(m_shelf->id()));
    m_now = m_now.addSecs(1);
    m_center->checkExpiry();
    QVERIFY(!m_center->isSharing(m_shelf->id()));
    QVERIFY(!m_desktop->idleInhibitor().isInhibiting());
    QVERIFY(!m_center->isExpiryTimerRunning());

    // A connected device keeps its share however long nothing happens; once it has gone, the
    // time since the last activity counts.
    session = share(m_shelf.get());
    QVERIFY(session);
    TestSocket guest(serviceOrigin(*m_service));
    QPointer<FakePeerConnection> fake;
    QVERIFY(!join(session, guest, &fake).isEmpty());
    m_now = m_now.addDays(30);
    m_center->checkExpiry();
    QVERIFY(m_center->isSharing(m_shelf->id()));
    fake->setChannelState(PeerConnection::ChannelState::closed);
    QCOMPARE(session->devices(), QList<ShareSession::Device>());
    m_center->checkExpiry();
    QVERIFY(!m_center->isSharing(m_shelf->id()));
}

QTEST_MAIN(TestShareCenter)
#include "tst_sharecenter.moc"
