// The share page in headless Chromium against the real share service on 127.0.0.1: it loads over
// plain http, joins its room as a guest, answers a signed offer with signed signals that the
// desktop's signaling client verifies, drops signals the room key did not sign before they reach
// its peer connection, shows when the host leaves, and signs exactly like the desktop with
// WebCrypto and with the bundled HMAC. The browser is driven by tests/web/driver.mjs.

#include "core/Base64Url.h"
#include "logic/Signing.h"
#include "logic/TransferProtocol.h"
#include "share/SignalingClient.h"

#include "ChildProcess.h"
#include "RoomHub.h"
#include "ServiceTestSupport.h"
#include "SharePageDriver.h"
#include "SignalingRecorder.h"
#include "TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QTest>

using namespace vyo;
using namespace vyo::test;
using Event = SignalingClient::Event;
using Kind = SignalingClient::Event::Kind;

namespace {

const QString roomKey = QString::fromLatin1(base64UrlEncode(QByteArray(32, '\x37')));
QString shareAddress(const ShareService &service, const QString &roomID,
                     const QString &key = roomKey)
{
    return QStringLiteral("http://127.0.0.1:%1/s/%2#%3").arg(service.port()).arg(roomID, key);
}

QString offerPayload(const QString &sdp)
{
    return TransferProtocol::encode(
        {{"sdp", QJsonObject{{"sdp", sdp}, {"type", QStringLiteral("offer")}}}});
}

QString candidatePayload(const QString &line)
{
    return TransferProtocol::encode(
        {{"candidate", QJsonObject{{"candidate", line}, {"sdpMLineIndex", 0}, {"sdpMid", "0"}}}});
}

} // namespace

class TestSharePage : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void joinsAsGuestAndShowsTheHostLeaving();
    void signedSignalsBothWays_data();
    void signedSignalsBothWays();
    void forgedSignalsNeverReachThePeerConnection();
    void signaturesMatchTheDesktops();
    void addressWithoutKey();

private:
    std::unique_ptr<ShareService> m_service;
};

void TestSharePage::initTestCase()
{
    QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("node")).isEmpty(), "node is missing");
    m_service = startService();
    QVERIFY(m_service);
}

void TestSharePage::joinsAsGuestAndShowsTheHostLeaving()
{
    const QString room = testRoomID(1);
    SignalingClient desktop(serviceBase(*m_service), room, roomKey);
    SignalingRecorder recorder;
    QVERIFY(recorder.connect(desktop));

    Driver driver;
    QVERIFY2(driver.call("open", {{"url", shareAddress(*m_service, room)}}),
             qPrintable(driver.error));
    const auto joined = recorder.take(Kind::peerJoined, browserWait);
    QVERIFY(joined);
    // The host is there: the page waits for its offer.
    auto status = driver.call("waitForStatus", {{"state", "negotiating"}});
    QVERIFY2(status, qPrintable(driver.error));
    QCOMPARE(status->toObject().value("text").toString(),
             QStringLiteral("컴퓨터와 직접 연결하는 중이에요…"));
    QCOMPARE(status->toObject().value("retry").toBool(), false);

    // The desktop stops sharing.
    desktop.stop();
    status = driver.call("waitForStatus", {{"state", "host-left"}});
    QVERIFY2(status, qPrintable(driver.error));
    QCOMPARE(status->toObject().value("text").toString(),
             QStringLiteral("컴퓨터에서 공유를 멈췄어요."));
    QCOMPARE(status->toObject().value("retry").toBool(), true);

    // The retry button joins the room anew, and the page waits until the desktop shares again.
    QVERIFY2(driver.call("clickRetry"), qPrintable(driver.error));
    status = driver.call("waitForStatus", {{"state", "waiting-host"}});
    QVERIFY2(status, qPrintable(driver.error));
    QCOMPARE(status->toObject().value("retry").toBool(), false);
    desktop.connect();
    const auto again = recorder.take(Kind::peerJoined, browserWait);
    QVERIFY(again);
    QVERIFY(again->peerID != joined->peerID);
    QVERIFY2(driver.call("waitForStatus", {{"state", "negotiating"}}), qPrintable(driver.error));
}

void TestSharePage::signedSignalsBothWays_data()
{
    QTest::addColumn<bool>("bundledHmac");
    QTest::addColumn<QString>("signing");

    // 127.0.0.1 is a secure context, where the page has WebCrypto; the switch makes it use the
    // HMAC it brings for plain-http LAN addresses.
    QTest::newRow("WebCrypto") << false << "webcrypto";
    QTest::newRow("bundled HMAC") << true << "bundled";
}

void TestSharePage::signedSignalsBothWays()
{
    QFETCH(bool, bundledHmac);
    QFETCH(QString, signing);

    const QString room = testRoomID(bundledHmac ? 3 : 2);
    SignalingClient desktop(serviceBase(*m_service), room, roomKey);
    SignalingRecorder recorder;
    QVERIFY(recorder.connect(desktop));

    Driver driver;
    const auto offer = driver.call("makeOffer");
    QVERIFY2(offer && offer->toString().startsWith("v=0"), qPrintable(driver.error));
    QVERIFY2(driver.call("open",
                         {{"url", shareAddress(*m_service, room)}, {"bundledHmac", bundledHmac}}),
             qPrintable(driver.error));
    const auto joined = recorder.take(Kind::peerJoined, browserWait);
    QVERIFY(joined);

    // A candidate before the offer waits for it; the offer gets an answer. The signaling client
    // reports only signals whose signature it verified.
    desktop.send(joined->peerID, candidatePayload("candidate:1 1 udp 2122260223 127.0.0.1 "
                                                  "50000 typ host generation 0"));
    desktop.send(joined->peerID, offerPayload(offer->toString()));
    const auto answer = recorder.waitForPayload("sdp", browserWait);
    QVERIFY(answer);
    const QJsonObject sdp = answer->value("sdp").toObject();
    QCOMPARE(sdp.value("type").toString(), QStringLiteral("answer"));
    QVERIFY(sdp.value("sdp").toString().startsWith("v=0"));
    QVERIFY(sdp.value("sdp").toString().contains("webrtc-datachannel"));

    const auto counters = driver.call(
        "waitForCounters",
        {{"minimum",
          QJsonObject{{"signalsVerified", 2}, {"answersSent", 1}, {"candidatesQueued", 1}}}});
    QVERIFY2(counters, qPrintable(driver.error));
    QCOMPARE(counters->toObject().value("signalsDropped").toInt(), 0);
    const auto used = driver.call("signing");
    QVERIFY2(used, qPrintable(driver.error));
    QCOMPARE(used->toString(), signing);
    desktop.stop();
}

void TestSharePage::forgedSignalsNeverReachThePeerConnection()
{
    // A host socket of the test's own sends what the desktop never would.
    const QString room = testRoomID(4);
    TestSocket host;
    QVERIFY(openHost(host, *m_service, room));
    Driver driver;
    const auto offer = driver.call("makeOffer");
    QVERIFY2(offer, qPrintable(driver.error));
    QVERIFY2(driver.call("open", {{"url", shareAddress(*m_service, room)}}),
             qPrintable(driver.error));
    const auto joined = host.take("peer-joined", browserWait);
    QVERIFY(joined);
    const QString peerID = joined->value("peerId").toString();
    const auto signal = [&](const QString &payload, const QString &sig) {
        host.sendJson({{"type", "signal"}, {"to", peerID}, {"payload", payload}, {"sig", sig}});
    };

    const QString offerText = offerPayload(offer->toString());
    const QString candidate =
        candidatePayload("candidate:1 1 udp 2122260223 127.0.0.1 50000 typ host generation 0");
    QString altered = candidate;
    altered.replace("50000", "50001");
    const QString otherKey = QString::fromLatin1(base64UrlEncode(QByteArray(32, '\x01')));
    // An offer signed with another key, the same offer altered, then the real offer and two
    // candidates of which only the second is signed for what it says.
    signal(offerText, *signPayload(offerText, otherKey));
    signal(offerText + " ", *signPayload(offerText, roomKey));
    signal(offerText, *signPayload(offerText, roomKey));
    signal(altered, *signPayload(candidate, roomKey));
    signal(candidate, *signPayload(candidate, roomKey));
    signal(candidate, QStringLiteral("not base64!"));

    const auto counters = driver.call(
        "waitForCounters", {{"minimum", QJsonObject{{"signalsDropped", 4}, {"answersSent", 1}}}});
    QVERIFY2(counters, qPrintable(driver.error));
    const QJsonObject counted = counters->toObject();
    QCOMPARE(counted.value("signalsVerified").toInt(), 2);
    QCOMPARE(counted.value("answersSent").toInt(), 1);
    // Only the one genuine candidate reached the peer connection.
    QCOMPARE(counted.value("candidatesQueued").toInt() + counted.value("candidatesAdded").toInt(),
             1);

    // What the page sent is signed with the room key.
    const auto answer = host.take("signal", browserWait);
    QVERIFY(answer);
    QVERIFY(verifyPayload(answer->value("payload").toString(), answer->value("sig").toString(),
                          roomKey));
    QVERIFY(answer->value("payload").toString().contains("\"answer\""));
}

void TestSharePage::signaturesMatchTheDesktops()
{
    const QStringList payloads = {
        QStringLiteral("{\"sdp\":{\"sdp\":\"v=0\\r\\na=x/y\",\"type\":\"offer\"}}"),
        QStringLiteral("{\"note\":\"한글 제안 🙂\",\"candidate\":\"a/b\"}"),
        QString(),
        QString(5000, u'가'),
    };
    const QStringList keys = {
        roomKey, QString::fromLatin1(base64UrlEncode(
                     QByteArray("\xff\xfe\xfd\x00\x01\x02 a key of thirty-two bytes", 32)))};
    Driver driver;
    QVERIFY2(driver.call("open", {{"url", shareAddress(*m_service, testRoomID(5))}}),
             qPrintable(driver.error));
    for (const QString &key : keys) {
        QStringList expected;
        for (const QString &payload : payloads)
            expected.append(*signPayload(payload, key));
        for (const QString kind : {"webcrypto", "bundled"}) {
            const auto signed_ = driver.call(
                "sign",
                {{"key", key}, {"payloads", QJsonArray::fromStringList(payloads)}, {"kind", kind}});
            QVERIFY2(signed_, qPrintable(driver.error));
            QCOMPARE(signed_->toObject().value("kind").toString(), kind);
            QStringList signatures;
            for (const QJsonValue value : signed_->toObject().value("signatures").toArray())
                signatures.append(value.toString());
            QCOMPARE(signatures, expected);
            for (const QString &signature : std::as_const(signatures))
                QCOMPARE(signature.size(), 43);
        }
    }
}

void TestSharePage::addressWithoutKey()
{
    Driver driver;
    QVERIFY2(driver.call("open", {{"url", shareAddress(*m_service, testRoomID(6), QString())}}),
             qPrintable(driver.error));
    const auto status = driver.call("waitForStatus", {{"state", "bad-address"}});
    QVERIFY2(status, qPrintable(driver.error));
    QCOMPARE(
        status->toObject().value("text").toString(),
        QStringLiteral("공유 주소가 올바르지 않아요. 컴퓨터에 표시된 주소나 QR 코드를 다시 열어 "
                       "주세요."));
    QCOMPARE(m_service->hub().roomCount(), 0);
}

QTEST_GUILESS_MAIN(TestSharePage)
#include "tst_sharepage.moc"
