// One browser's peer session on a fake peer connection, with real files in temporary folders:
// negotiation, routes, device names, downloads byte for byte (single files, folders and the whole
// shelf as ZIPs read back by Python's zipfile), flow control, uploads and everything a browser
// may get wrong, cancel and close.

#include "share/PeerSession.h"

#include "core/Ids.h"
#include "logic/TransferProtocol.h"
#include "platform/fake/FakePeerConnection.h"
#include "shelf/Shelf.h"

#include "TestSupport.h"
#include "ZipSupport.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

using namespace vyo;
using namespace vyo::test;
using Content = ShelfItem::Content;
using Route = PeerSession::Route;
using ChannelState = PeerConnection::ChannelState;

Q_DECLARE_METATYPE(std::optional<qint64>)
Q_DECLARE_METATYPE(vyo::RtcStatsReport)
Q_DECLARE_METATYPE(vyo::PeerSession::Route)

namespace {

QJsonObject object(const QString &text)
{
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

QString message(const QJsonObject &json)
{
    return TransferProtocol::encode(json);
}

QString tidMessage(const char *type, quint32 tid)
{
    return message({{"t", type}, {"tid", qint64(tid)}});
}

QString putMessage(quint32 tid, const QString &name, qint64 size)
{
    return message({{"t", "put"}, {"tid", qint64(tid)}, {"name", name}, {"size", size}});
}

QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator{quint32(size)};
    for (char &byte : bytes)
        byte = char(generator.bounded(256));
    return bytes;
}

QStringList filesIn(const QString &folder, const QString &pattern = QStringLiteral("*"))
{
    return QDir(folder).entryList({pattern}, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
}

QStringList temporaryArchives()
{
    return filesIn(QDir::tempPath(), QStringLiteral("vyo-*.zip"));
}

// One peer session with its fake connection, its shelf and everything its callbacks reported.
struct Peer
{
    std::unique_ptr<Shelf> shelf = std::make_unique<Shelf>();
    QPointer<FakePeerConnection> connection;
    std::unique_ptr<PeerSession> session;
    QStringList signalsSent;
    QStringList activities;
    QStringList calls;

    Peer()
    {
        auto fake = std::make_unique<FakePeerConnection>();
        connection = fake.get();
        session =
            std::make_unique<PeerSession>(QStringLiteral("peer-1"), shelf.get(), std::move(fake));
        session->sendSignal = [this](const QString &payload) { signalsSent.append(payload); };
        session->onActivity = [this](const QString &text) { activities.append(text); };
        session->onRouteChange = [this] { calls.append(QStringLiteral("route")); };
        session->onReady = [this] { calls.append(QStringLiteral("ready")); };
        session->onClosed = [this] { calls.append(QStringLiteral("closed")); };
    }

    // Opens the channel and says "ready" as a browser would.
    void greet(std::optional<qint64> maxMessageSize = std::nullopt,
               const QString &device = QString())
    {
        connection->setChannelState(ChannelState::open);
        QJsonObject ready{{"t", "ready"}, {"device", device}};
        if (maxMessageSize)
            ready.insert("maxMessageSize", *maxMessageSize);
        connection->receiveText(message(ready));
        connection->clearSent();
        calls.clear();
    }

    void send(const QString &text) { connection->receiveText(text); }
    void sendFrame(quint32 tid, const QByteArray &payload)
    {
        connection->receiveBinary(TransferProtocol::frame(tid, payload));
    }

    ShelfItem add(const Content &content)
    {
        const ShelfItem item(content);
        shelf->add({item});
        return item;
    }
    ShelfItem addFile(const QString &path) { return add(Content::file(QUrl::fromLocalFile(path))); }
    void get(quint32 tid, const ShelfItem &item)
    {
        send(message({{"t", "get"}, {"tid", qint64(tid)}, {"id", uuidText(item.id())}}));
    }
    // Drains the buffer again and again (at most `rounds` times) until `tid` ends or fails.
    void drainUntilDone(quint32 tid, int rounds)
    {
        for (int round = 0; round < rounds && !reply("end", tid) && !reply("error", tid); ++round)
            connection->setBufferedAmount(0);
    }

    // The text messages sent so far, parsed.
    QList<QJsonObject> replies() const
    {
        QList<QJsonObject> list;
        for (const QString &text : connection->sentTexts())
            list.append(object(text));
        return list;
    }
    // The "t" of every message sent, binary frames as "frame <tid>", repeats left out.
    QStringList sequence() const
    {
        QStringList list;
        for (const PeerConnection::Message &m : connection->sentMessages()) {
            if (m.binary)
                list.append(
                    QStringLiteral("frame %1").arg(TransferProtocol::splitFrame(m.data)->tid));
            else
                list.append(object(QString::fromUtf8(m.data)).value("t").toString());
        }
        list.removeDuplicates();
        return list;
    }
    // The payloads of every frame of `tid`, joined, and how many frames carried them.
    QByteArray downloaded(quint32 tid, int *frames = nullptr) const
    {
        QByteArray bytes;
        int count = 0;
        for (const QByteArray &binary : connection->sentBinaries()) {
            const auto frame = TransferProtocol::splitFrame(binary);
            if (frame && frame->tid == tid) {
                bytes += frame->payload;
                ++count;
            }
        }
        if (frames)
            *frames = count;
        return bytes;
    }
    std::optional<QJsonObject> reply(const QString &type, quint32 tid) const
    {
        for (const QJsonObject &json : replies()) {
            if (json.value("t").toString() == type && json.value("tid").toInteger() == tid)
                return json;
        }
        return std::nullopt;
    }
    QString errorText(quint32 tid) const
    {
        return reply("error", tid).value_or(QJsonObject()).value("message").toString();
    }
};

} // namespace

class TestPeerSession : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void negotiation();
    void routeFromStatistics_data();
    void routeFromStatistics();
    void relayCandidateAfterConnecting();
    void connectionStates();
    void deviceNames_data();
    void deviceNames();
    void readyNamesTheDeviceAndCallsBack();

    void downloadsInChunks_data();
    void downloadsInChunks();
    void getErrors();
    void folderAndEverythingAsZip();
    void flowControl();
    void downloadsOneAfterAnother();
    void fileChangedWhileSent_data();
    void fileChangedWhileSent();
    void shelfClosedMidDownload();

    void uploads_data();
    void uploads();
    void uploadReplacesSameTid();
    void garbageGetsNoReply();

    void cancelDownloadAndArchive();
    void cancelUnknownOrFinishedIsIgnored();
    void closeWithAndWithoutBye();
    void channelClosingMidUpload();
    void sessionGoneWhileArchiving();

private:
    QString path(const QString &relative) const { return m_dir->filePath(relative); }
    QString write(const QString &relative, const QByteArray &bytes)
    {
        const QString file = path(relative);
        writeFile(file, bytes);
        return file;
    }
    // Waits for the "file" of an archive and its "end"; the archive's entries as Python's
    // zipfile reads them.
    QStringList downloadArchive(Peer &peer, quint32 tid, QJsonObject *file);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Peer> m_peer;
};

void TestPeerSession::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_peer = std::make_unique<Peer>();
}

void TestPeerSession::cleanup()
{
    m_peer.reset();
    m_dir.reset();
    // Nothing the sessions made is left behind: no archive, no upload folder.
    QTRY_COMPARE(temporaryArchives(), QStringList());
}

// Negotiation

void TestPeerSession::negotiation()
{
    Peer &peer = *m_peer;
    // The offer goes out once the local description is set.
    QCOMPARE(peer.connection->pendingOffers(), 1);
    QVERIFY(peer.connection->completeOffer(QStringLiteral("v=0\r\no=- 1 2 IN IP4 127.0.0.1")));
    QVERIFY(peer.signalsSent.isEmpty());
    QVERIFY(peer.connection->completeLocalDescription());
    QCOMPARE(peer.signalsSent,
             QStringList{R"({"sdp":{"sdp":"v=0\r\no=- 1 2 IN IP4 127.0.0.1","type":"offer"}})"});
    // Local candidates go out at once.
    peer.signalsSent.clear();
    peer.connection->gatherCandidate({QStringLiteral("candidate:1"), 0, QStringLiteral("0")});
    peer.connection->gatherCandidate({QStringLiteral("candidate:2"), 1, std::nullopt});
    QCOMPARE(
        peer.signalsSent,
        (QStringList{R"({"candidate":{"candidate":"candidate:1","sdpMLineIndex":0,"sdpMid":"0"}})",
                     R"({"candidate":{"candidate":"candidate:2","sdpMLineIndex":1}})"}));

    // The browser's candidates wait for its answer; what is not an answer or a candidate is
    // ignored.
    for (const char *ignored : {"not json", "[1]", R"({"sdp":{"sdp":"v=0","type":"offer"}})",
                                R"({"sdp":{"sdp":7,"type":"answer"}})",
                                R"({"candidate":{"candidate":""}})", R"({"candidate":"a"})"})
        peer.session->handleSignal(QString::fromUtf8(ignored));
    QCOMPARE(peer.connection->remoteDescriptions().size(), 0);
    peer.session->handleSignal(R"({"candidate":{"candidate":"a","sdpMLineIndex":2,"sdpMid":"x"}})");
    peer.session->handleSignal(R"({"candidate":{"candidate":"b"}})");
    LogCapture log;
    peer.session->handleSignal(R"({"sdp":{"sdp":"bad","type":"answer"}})");
    QVERIFY(peer.connection->completeRemoteDescription(QStringLiteral("malformed")));
    QVERIFY(log.contains(QStringLiteral("malformed")));
    QVERIFY(!peer.session->hasRemoteDescription());
    QCOMPARE(peer.connection->addedCandidates().size(), 0);

    peer.session->handleSignal(R"({"sdp":{"sdp":"v=0 answer","type":"answer"}})");
    QCOMPARE(peer.connection->remoteDescriptions().last(),
             (FakePeerConnection::Description{"answer", "v=0 answer"}));
    QVERIFY(peer.connection->completeRemoteDescription());
    QVERIFY(peer.session->hasRemoteDescription());
    QCOMPARE(peer.connection->addedCandidates(),
             (QList<IceCandidate>{{"a", 2, QStringLiteral("x")}, {"b", 0, std::nullopt}}));
    peer.session->handleSignal(R"({"candidate":{"candidate":"c","sdpMLineIndex":"1"}})");
    QCOMPARE(peer.connection->addedCandidates().last(), (IceCandidate{"c", 0, std::nullopt}));
    QVERIFY(peer.connection->completeCandidate(QStringLiteral("stale")));

    // An offer that fails, or a local description that cannot be set, sends nothing.
    Peer failing, refused;
    QVERIFY(failing.connection->failOffer(QStringLiteral("no codecs")));
    QCOMPARE(failing.connection->localDescriptions().size(), 0);
    QVERIFY(refused.connection->completeOffer(QStringLiteral("v=0")));
    QVERIFY(refused.connection->completeLocalDescription(QStringLiteral("refused")));
    QVERIFY(failing.signalsSent.isEmpty() && refused.signalsSent.isEmpty());
}

void TestPeerSession::routeFromStatistics_data()
{
    QTest::addColumn<RtcStatsReport>("report");
    QTest::addColumn<Route>("route");
    const auto candidate = [](const char *type) {
        return RtcStatistic{"local-candidate", {{"candidateType", type}}};
    };
    const auto pair = [](bool nominated, const char *state, const QVariant &local = "L") {
        return RtcStatistic{"candidate-pair",
                            {{"nominated", nominated},
                             {"state", state},
                             {"localCandidateId", local},
                             {"remoteCandidateId", "R"}}};
    };
    const RtcStatistic transport{"transport", {{"selectedCandidatePairId", "P"}}};
    const auto selected = &FakePeerConnection::selectedPairReport;

    QTest::newRow("no pair") << RtcStatsReport{{"L", candidate("relay")}} << Route::direct;
    QTest::newRow("selected pair, host candidates") << selected("host", "srflx") << Route::direct;
    QTest::newRow("selected pair, remote relay") << selected("host", "relay") << Route::relay;
    QTest::newRow("selected by the transport, neither nominated nor succeeded")
        << RtcStatsReport{{"T", transport},
                          {"P", pair(false, "in-progress")},
                          {"L", candidate("relay")},
                          {"R", candidate("host")}}
        << Route::relay;
    QTest::newRow("nominated succeeded pair without transport")
        << RtcStatsReport{{"P", pair(true, "succeeded")}, {"R", candidate("relay")}}
        << Route::relay;
    QTest::newRow("pair not nominated")
        << RtcStatsReport{{"P", pair(false, "succeeded")}, {"R", candidate("relay")}}
        << Route::direct;
    QTest::newRow("pair not succeeded")
        << RtcStatsReport{{"P", pair(true, "failed")}, {"R", candidate("relay")}} << Route::direct;
    QTest::newRow("transport names a missing pair")
        << RtcStatsReport{{"T", transport}, {"L", candidate("relay")}} << Route::direct;
    QTest::newRow("candidate ids not strings")
        << RtcStatsReport{{"P", pair(true, "succeeded", 5)}, {"5", candidate("relay")}}
        << Route::direct;
}

void TestPeerSession::routeFromStatistics()
{
    QFETCH(RtcStatsReport, report);
    QFETCH(Route, route);
    QCOMPARE(PeerSession::routeFor(report), route);

    // The same report, reached through a connection that becomes connected.
    Peer &peer = *m_peer;
    peer.connection->setState(PeerConnection::State::connected);
    QVERIFY(peer.connection->completeStatistics(report));
    QCOMPARE(peer.session->route(), route);
    QCOMPARE(peer.calls, QStringList{"route"});
}

void TestPeerSession::relayCandidateAfterConnecting()
{
    // A browser behind a relay reaches the desktop before its relay candidate arrives: the first
    // statistics name a peer-reflexive candidate, the ones after the candidate a relay.
    Peer &peer = *m_peer;
    peer.session->handleSignal(R"({"sdp":{"sdp":"v=0 answer","type":"answer"}})");
    QVERIFY(peer.connection->completeRemoteDescription());
    peer.connection->setState(PeerConnection::State::connected);
    QVERIFY(peer.connection->completeStatistics(
        FakePeerConnection::selectedPairReport("host", "prflx")));
    QCOMPARE(peer.session->route(), Route::direct);

    peer.session->handleSignal(R"({"candidate":{"candidate":"candidate:9 1 udp 5 127.0.0.1 )"
                               R"(40000 typ relay","sdpMLineIndex":0}})");
    QVERIFY(peer.connection->completeCandidate());
    // Asked again once WebRTC's last report has expired.
    QVERIFY(QTest::qWaitFor([&] {
        return peer.connection->completeStatistics(
            FakePeerConnection::selectedPairReport("host", "relay"));
    }));
    QCOMPARE(peer.session->route(), Route::relay);
    QCOMPARE(peer.calls, (QStringList{"route", "route"}));
}

void TestPeerSession::connectionStates()
{
    using State = PeerConnection::State;
    m_peer->connection->setState(State::disconnected);
    QCOMPARE(m_peer->session->route(), Route::connecting);
    QCOMPARE(m_peer->connection->pendingStatistics(), 0);

    // A report that arrives after the close changes nothing.
    m_peer->connection->setState(State::connected);
    QCOMPARE(m_peer->connection->pendingStatistics(), 1);
    m_peer->session->close(false);
    QVERIFY(!m_peer->connection->completeStatistics({}));
    QCOMPARE(m_peer->session->route(), Route::closed);

    for (const State state : {State::failed, State::closed}) {
        Peer peer;
        peer.greet();
        peer.connection->setState(state);
        QCOMPARE(peer.session->route(), Route::closed);
        QCOMPARE(peer.calls, (QStringList{"route", "closed"}));
        QVERIFY(peer.connection->sentTexts().isEmpty());
        QVERIFY(peer.connection->isClosed());
    }
}

void TestPeerSession::deviceNames_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("name");
    const std::pair<const char *, const char *> rows[] = {
        {"", "다른 기기"},
        {"Mozilla/5.0 (Linux; Android 14; SM-S918N)", "갤럭시"},
        {"SamsungBrowser/23.0 Android", "갤럭시"},
        {"Mozilla/5.0 (LINUX; ANDROID 13; Pixel 7)", "안드로이드 휴대폰"},
        {"Mozilla/5.0 (iPhone; CPU iPhone OS 17_0 like Mac OS X)", "iPhone"},
        {"Mozilla/5.0 (iPad; CPU OS 16_0 like Mac OS X)", "iPad"},
        {"Mozilla/5.0 (Windows NT 10.0; Win64; x64)", "윈도우 PC"},
        {"Mozilla/5.0 (Macintosh; Intel Mac OS X 14_0)", "Mac"},
        {"Mozilla/5.0 (X11; Linux x86_64)", "리눅스 PC"},
        {"CrOS", "다른 기기"},
    };
    for (const auto &[device, name] : rows)
        QTest::addRow("%s", *device ? device : "empty")
            << QString::fromUtf8(device) << QString::fromUtf8(name);
}

void TestPeerSession::deviceNames()
{
    QFETCH(QString, device);
    QFETCH(QString, name);
    QCOMPARE(PeerSession::deviceNameFor(device), name);
}

void TestPeerSession::readyNamesTheDeviceAndCallsBack()
{
    Peer &peer = *m_peer;
    QCOMPARE(peer.session->deviceName(), QStringLiteral("다른 기기"));
    peer.session->sendText(QStringLiteral("too early"));
    peer.connection->setChannelState(ChannelState::open);
    peer.session->sendText(QStringLiteral("still too early"));
    QVERIFY(peer.connection->sentTexts().isEmpty());

    peer.send(R"({"t":"ready","maxMessageSize":16384,"device":"Windows NT"})");
    QVERIFY(peer.session->isReady());
    QCOMPARE(peer.session->deviceName(), QStringLiteral("윈도우 PC"));
    QCOMPARE(peer.session->remoteMaxMessageSize(), std::optional<qint64>(16384));
    QCOMPARE(peer.calls, (QStringList{"route", "ready"}));
    peer.session->sendText(QStringLiteral("listing"));
    QCOMPARE(peer.connection->sentTexts(), QStringList{"listing"});

    // A second "ready" is taken as it comes: the new announcement holds.
    peer.send(R"({"t":"ready","device":"iPhone"})");
    QCOMPARE(peer.session->deviceName(), QStringLiteral("iPhone"));
    QVERIFY(!peer.session->remoteMaxMessageSize());
    QCOMPARE(peer.calls, (QStringList{"route", "ready", "route", "ready"}));
}

// Downloads

// Downloads

void TestPeerSession::downloadsInChunks_data()
{
    QTest::addColumn<std::optional<qint64>>("maxMessageSize");
    QTest::addColumn<int>("payload");
    QTest::newRow("no announcement") << std::optional<qint64>() << 65532;
    QTest::newRow("65536") << std::optional<qint64>(65536) << 65532;
    QTest::newRow("larger") << std::optional<qint64>(262144) << 65532;
    QTest::newRow("1028") << std::optional<qint64>(1028) << 1024;
    QTest::newRow("1000 keeps the floor") << std::optional<qint64>(1000) << 1024;
    QTest::newRow("zero") << std::optional<qint64>(0) << 1024;
}

void TestPeerSession::downloadsInChunks()
{
    QFETCH(std::optional<qint64>, maxMessageSize);
    QFETCH(int, payload);
    QCOMPARE(PeerSession::chunkPayloadSize(maxMessageSize), qint64(payload));

    Peer &peer = *m_peer;
    const QByteArray bytes = randomBytes(200000);
    // A decomposed Korean name goes out composed.
    const QString decomposed = QStringLiteral("\u1100\u1161 \u110b\u1175\u11ab.txt");
    const ShelfItem item = peer.addFile(write(decomposed, bytes));
    const ShelfItem empty = peer.addFile(write("empty.bin", {}));
    peer.greet(maxMessageSize, QStringLiteral("iPhone"));
    peer.send(message({{"t", "get"}, {"tid", 7}, {"id", uuidText(item.id()).toLower()}}));

    const QList<QJsonObject> replies = peer.replies();
    QCOMPARE(replies.size(), 2);
    QCOMPARE(replies[0], (QJsonObject{{"t", "file"},
                                      {"tid", 7},
                                      {"name", QStringLiteral("\uAC00 \uC778.txt")},
                                      {"size", 200000},
                                      {"mime", "text/plain"}}));
    QCOMPARE(replies[1], (QJsonObject{{"t", "end"}, {"tid", 7}}));
    int frames = 0;
    QCOMPARE(peer.downloaded(7, &frames), bytes);
    QCOMPARE(frames, int((200000 + payload - 1) / payload));
    for (const QByteArray &frame : peer.connection->sentBinaries().mid(0, frames - 1))
        QCOMPARE(frame.size(), payload + 4);
    QCOMPARE(peer.activities, QStringList{"iPhone에서 " + item.displayName() + " 받는 중"});

    // An empty file: "file" and "end", no frame.
    peer.get(8, empty);
    QCOMPARE(peer.downloaded(8, &frames), QByteArray());
    QCOMPARE(frames, 0);
    QCOMPARE(peer.reply("file", 8)->value("mime").toString(), "application/octet-stream");
    QVERIFY(peer.reply("end", 8));
}

void TestPeerSession::getErrors()
{
    Peer &peer = *m_peer;
    const ShelfItem text = peer.add(Content::text("안녕"));
    const ShelfItem missing = peer.addFile(path("gone.txt"));
    peer.greet();
    const QList<QUuid> ids{newId(), text.id(), missing.id()};
    for (quint32 tid = 0; tid < ids.size(); ++tid) {
        peer.send(message({{"t", "get"}, {"tid", qint64(tid)}, {"id", uuidText(ids[tid])}}));
        QCOMPARE(peer.errorText(tid), QStringLiteral("셸프에서 찾을 수 없는 항목이에요."));
    }
    // Nothing but a text and a deleted file: nothing to get all of.
    peer.send(tidMessage("get-all", 5));
    QCOMPARE(peer.errorText(5), QStringLiteral("받을 파일이 없어요."));
    QCOMPARE(peer.sequence(), QStringList{"error"});
    QVERIFY(peer.activities.isEmpty());
}

QStringList TestPeerSession::downloadArchive(Peer &peer, quint32 tid, QJsonObject *file)
{
    const bool finished = QTest::qWaitFor(
        [&peer, tid] { return peer.reply("end", tid) || peer.reply("error", tid); }, 60000);
    const std::optional<QJsonObject> fileMessage = peer.reply("file", tid);
    if (!finished || !fileMessage)
        return {QStringLiteral("no archive")};
    *file = *fileMessage;
    const QByteArray archive = peer.downloaded(tid);
    if (file->value("size").toInteger() != archive.size())
        return {QStringLiteral("size differs")};
    QString error;
    const QJsonObject report =
        pythonReport(write(QStringLiteral("%1.zip").arg(tid), archive), &error);
    if (!error.isEmpty() || !report.value("testzip").isNull())
        return {error};
    return pythonNames(report);
}

void TestPeerSession::folderAndEverythingAsZip()
{
    Peer &peer = *m_peer;
    peer.add(Content::text("not in the archive"));
    peer.add(Content::image(QUrl::fromLocalFile(write("보고서.pdf", "%PDF"))));
    peer.add(Content::link(QUrl("https://example.com")));
    peer.addFile(path("gone.txt"));
    write("사진 모음/바다.txt", "sea");
    write("사진 모음/하위/산.txt", randomBytes(100000));
    const ShelfItem folder = peer.addFile(path("사진 모음"));
    peer.greet(std::nullopt, "Android");

    peer.get(9, folder);
    // The "file" waits until the archive is written.
    QVERIFY(peer.replies().isEmpty() || peer.reply("file", 9));
    QJsonObject file;
    QCOMPARE(downloadArchive(peer, 9, &file),
             (QStringList{"사진 모음/", "사진 모음/바다.txt", "사진 모음/하위/",
                          "사진 모음/하위/산.txt"}));
    QCOMPARE(file.value("name").toString(), QStringLiteral("사진 모음.zip"));
    QCOMPARE(file.value("mime").toString(), QStringLiteral("application/zip"));

    peer.send(tidMessage("get-all", 4));
    QCOMPARE(downloadArchive(peer, 4, &file),
             (QStringList{"보고서.pdf", "사진 모음/", "사진 모음/바다.txt", "사진 모음/하위/",
                          "사진 모음/하위/산.txt"}));
    QVERIFY2(QRegularExpression(R"(^Vyo \d{4}-\d\d-\d\d \d\d\.\d\d\.zip$)")
                 .match(file.value("name").toString())
                 .hasMatch(),
             qPrintable(file.value("name").toString()));
    QCOMPARE(peer.activities, (QStringList{"안드로이드 휴대폰에서 사진 모음 받는 중",
                                           "안드로이드 휴대폰에서 2개를 ZIP으로 받는 중"}));
    QCOMPARE(temporaryArchives(), QStringList());
}

void TestPeerSession::flowControl()
{
    Peer &peer = *m_peer;
    const QByteArray bytes = randomBytes(3 * 1024 * 1024);
    const ShelfItem item = peer.addFile(write("big.bin", bytes));
    peer.connection->setBuffering(true);
    peer.greet();
    peer.get(5, item);
    // The "file" message and 16 frames of 65536 bytes fill the buffer past 1 MiB; 15 would not.
    QCOMPARE(peer.connection->sentBinaries().size(), 16);
    QVERIFY(peer.connection->bufferedAmount() >= PeerSession::maximumBufferedAmount);
    QVERIFY(peer.connection->bufferedAmount() - 65536 < PeerSession::maximumBufferedAmount);

    // Drained, but not enough: the pump waits for 256 KiB.
    peer.connection->setBufferedAmount(262145);
    QCOMPARE(peer.connection->sentBinaries().size(), 16);
    // The channel reopening does not overfill it either.
    peer.connection->setBufferedAmount(1048576, false);
    peer.connection->setChannelState(ChannelState::open);
    QCOMPARE(peer.connection->sentBinaries().size(), 16);

    for (int round = 0; round < 10 && !peer.reply("end", 5); ++round)
        peer.connection->setBufferedAmount(262144);
    QVERIFY(peer.reply("end", 5));
    QCOMPARE(peer.downloaded(5), bytes);

    // A channel that refuses a frame loses nothing: the same bytes go out later.
    Peer refused;
    const QByteArray small = randomBytes(100000);
    const ShelfItem other = refused.addFile(write("small.bin", small));
    refused.greet();
    refused.connection->setRefusingSends(true);
    refused.get(1, other);
    QCOMPARE(refused.connection->sentMessages().size(), 0);
    refused.connection->setRefusingSends(false);
    refused.connection->setBufferedAmount(0);
    QVERIFY(refused.reply("end", 1));
    QCOMPARE(refused.downloaded(1), small);
}

void TestPeerSession::downloadsOneAfterAnother()
{
    Peer &peer = *m_peer;
    const QByteArray first = randomBytes(2 * 1024 * 1024);
    const QByteArray second = randomBytes(70000);
    const ShelfItem a = peer.addFile(write("a.bin", first));
    const ShelfItem b = peer.addFile(write("b.bin", second));
    peer.connection->setBuffering(true);
    peer.greet();
    peer.get(1, a);
    peer.get(2, b);
    peer.drainUntilDone(2, 20);
    // The second "file" went out at once, between frames of the first; its frames after them.
    QCOMPARE(peer.sequence(), (QStringList{"file", "frame 1", "end", "frame 2"}));
    QCOMPARE(peer.replies()[1], (QJsonObject{{"t", "file"},
                                             {"tid", 2},
                                             {"name", "b.bin"},
                                             {"size", 70000},
                                             {"mime", "application/octet-stream"}}));
    QCOMPARE(peer.downloaded(1), first);
    QCOMPARE(peer.downloaded(2), second);
}

void TestPeerSession::fileChangedWhileSent_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("succeeds");
    // An open file keeps its bytes when it is deleted.
    QTest::newRow("deleted") << "delete" << true;
    QTest::newRow("grown") << "grow" << false;
    QTest::newRow("truncated") << "truncate" << false;
}

void TestPeerSession::fileChangedWhileSent()
{
    QFETCH(QString, change);
    QFETCH(bool, succeeds);
    Peer &peer = *m_peer;
    const QByteArray bytes = randomBytes(2 * 1024 * 1024);
    const QString file = write("changing.bin", bytes);
    const ShelfItem item = peer.addFile(file);
    peer.connection->setBuffering(true);
    peer.greet();
    peer.get(3, item);
    QVERIFY(!peer.reply("end", 3));
    if (change == u"delete") {
        QVERIFY(QFile::remove(file));
    } else {
        QFile handle(file);
        QVERIFY(handle.open(change == u"grow" ? QIODevice::Append : QIODevice::ReadWrite));
        if (change == u"grow")
            handle.write(randomBytes(100));
        else
            QVERIFY(handle.resize(1024 * 1024 + 10));
    }
    peer.drainUntilDone(3, 40);
    if (succeeds) {
        QVERIFY(peer.reply("end", 3));
        QCOMPARE(peer.downloaded(3), bytes);
    } else {
        QVERIFY(!peer.reply("end", 3));
        QCOMPARE(peer.reply("error", 3)->value("message").toString(),
                 QStringLiteral("파일을 읽지 못했어요."));
    }
}

void TestPeerSession::shelfClosedMidDownload()
{
    Peer &peer = *m_peer;
    const QByteArray bytes = randomBytes(2 * 1024 * 1024);
    const ShelfItem item = peer.addFile(write("a.bin", bytes));
    peer.connection->setBuffering(true);
    peer.greet();
    peer.get(1, item);
    peer.shelf.reset();
    QCOMPARE(peer.session->shelf(), nullptr);
    // What was asked for still arrives whole; nothing new can be found.
    peer.drainUntilDone(1, 20);
    QCOMPARE(peer.downloaded(1), bytes);
    peer.get(2, item);
    QCOMPARE(peer.reply("error", 2)->value("message").toString(),
             QStringLiteral("셸프에서 찾을 수 없는 항목이에요."));
    peer.send(tidMessage("get-all", 3));
    QCOMPARE(peer.reply("error", 3)->value("message").toString(),
             QStringLiteral("받을 파일이 없어요."));
}

// Uploads

void TestPeerSession::uploads_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<qint64>("size");
    // The frames the browser sends after "put" ("<tid>:<length>"), then "end" when listed.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("expected");
    // The name stored on the shelf; empty when nothing is stored.
    QTest::addColumn<QString>("stored");

    const QString storeError = QStringLiteral("error 파일을 저장할 수 없어요.");
    const QString sizeError = QStringLiteral("error 받은 크기가 맞지 않거나 저장하지 못했어요.");
    const QString incomplete =
        QStringLiteral("error 파일이 끝까지 오지 않았어요. 다시 올려 주세요.");

    QTest::newRow("whole") << "사진.jpg" << qint64(300000)
                           << QStringList{"1:100000", "1:200000", "end"} << QStringList{"stored"}
                           << "사진.jpg";
    QTest::newRow("empty pieces and a short frame")
        << "a.txt" << qint64(10) << QStringList{"1:0", "short", "1:10", "end"}
        << QStringList{"stored"} << "a.txt";
    QTest::newRow("zero bytes") << "empty.txt" << qint64(0) << QStringList{"end"}
                                << QStringList{"stored"} << "empty.txt";
    QTest::newRow("4 GiB is accepted")
        << "big.iso" << qint64(4294967296) << QStringList{} << QStringList{} << "";
    QTest::newRow("above 4 GiB") << "big.iso" << qint64(4294967297) << QStringList{"end"}
                                 << QStringList{"error 4GB보다 큰 파일은 올릴 수 없어요."} << "";
    QTest::newRow("parent steps") << "../../폴더/파일.txt" << qint64(1) << QStringList{"1:1", "end"}
                                  << QStringList{"stored"} << "_.._폴더_파일.txt";
    QTest::newRow("only dots") << "...." << qint64(1) << QStringList{"1:1", "end"}
                               << QStringList{storeError} << "";
    QTest::newRow("more than announced")
        << "a.txt" << qint64(10) << QStringList{"1:6", "1:5", "1:1", "end"}
        << QStringList{sizeError} << "";
    QTest::newRow("end before all data")
        << "a.txt" << qint64(10) << QStringList{"1:6", "end", "1:4", "end"}
        << QStringList{incomplete} << "";
    QTest::newRow("data for an unknown tid")
        << "a.txt" << qint64(3) << QStringList{"2:3", "1:3", "9:1", "end"} << QStringList{"stored"}
        << "a.txt";
}

void TestPeerSession::uploads()
{
    QFETCH(QString, name);
    QFETCH(qint64, size);
    QFETCH(QStringList, steps);
    QFETCH(QStringList, expected);
    QFETCH(QString, stored);

    Peer &peer = *m_peer;
    peer.greet(std::nullopt, "Mozilla/5.0 (iPhone)");
    const QString items = itemsDirectory();
    const QStringList foldersBefore = filesIn(items);
    peer.send(putMessage(1, name, size));

    QByteArray sent;
    for (const QString &step : steps) {
        if (step == u"end") {
            peer.send(tidMessage("end", 1));
        } else if (step == u"short") {
            peer.connection->receiveBinary(QByteArray(3, '\0'));
        } else {
            const QStringList parts = step.split(u':');
            const QByteArray piece = randomBytes(parts[1].toInt());
            if (parts[0] == u"1")
                sent += piece;
            peer.sendFrame(parts[0].toUInt(), piece);
        }
    }
    QStringList replies;
    for (const QJsonObject &reply : peer.replies()) {
        QCOMPARE(reply.value("tid").toInt(), 1);
        replies.append(reply.value("t").toString() +
                       (reply.contains("message") ? QString(" " + reply.value("message").toString())
                                                  : QString()));
    }
    QCOMPARE(replies, expected);

    const QStringList newFolders = [&] {
        QStringList folders = filesIn(items);
        for (const QString &folder : foldersBefore)
            folders.removeAll(folder);
        return folders;
    }();
    if (stored.isEmpty()) {
        QCOMPARE(peer.shelf->items().size(), 0);
        // A running upload has its folder (until the session goes); a failed one leaves nothing.
        QCOMPARE(newFolders.size(), expected.isEmpty() ? 1 : 0);
        return;
    }
    QCOMPARE(newFolders.size(), 1);
    const QString file = QDir(items).filePath(newFolders[0] + u'/' + stored);
    QCOMPARE(peer.shelf->items().size(), 1);
    QCOMPARE(peer.shelf->items()[0].content(), Content::file(QUrl::fromLocalFile(file)));
    QFile stream(file);
    QVERIFY(stream.open(QIODevice::ReadOnly));
    QCOMPARE(stream.readAll(), sent);
    QCOMPARE(peer.activities, (QStringList{"iPhone에서 " + stored + " 올리는 중",
                                           "iPhone에서 " + stored + " 올림"}));
}

void TestPeerSession::uploadReplacesSameTid()
{
    Peer &peer = *m_peer;
    peer.greet();
    const QStringList before = filesIn(itemsDirectory());
    peer.send(putMessage(1, "first.txt", 5));
    peer.sendFrame(1, "12");
    peer.send(putMessage(1, "second.txt", 3));
    peer.sendFrame(1, "abc");
    peer.send(tidMessage("end", 1));
    QCOMPARE(peer.sequence(), QStringList{"stored"});
    QCOMPARE(filesIn(itemsDirectory()).size(), before.size() + 1);
    QCOMPARE(peer.shelf->items().size(), 1);
    QCOMPARE(peer.shelf->items()[0].displayName(), QStringLiteral("second.txt"));
}

void TestPeerSession::garbageGetsNoReply()
{
    Peer &peer = *m_peer;
    peer.addFile(write("a.txt", "a"));
    peer.greet();
    peer.connection->receiveBinary(QByteArray());
    for (const QByteArray &text :
         {QByteArray("hello"), QByteArray(R"({"t":"get","tid":7,"id":"x"})"),
          QByteArray("{\"t\":\"\xff\xfe\",\"tid\":7}"), QByteArray(R"({"t":"end","tid":7})"),
          QByteArray(R"({"t":"cancel","tid":7})")})
        Q_EMIT peer.connection->messageReceived({text, false});
    QCOMPARE(peer.connection->sentMessages().size(), 0);
    QCOMPARE(peer.session->route(), Route::connecting);
}

// Cancel and close

void TestPeerSession::cancelDownloadAndArchive()
{
    Peer &peer = *m_peer;
    const QByteArray bytes = randomBytes(2 * 1024 * 1024);
    write("folder/big.bin", bytes);
    const ShelfItem folder = peer.addFile(path("folder"));
    peer.connection->setBuffering(true);
    peer.greet();

    // Cancelled while its frames go out: the archive is deleted at once.
    peer.send(tidMessage("get-all", 2));
    QTRY_VERIFY(peer.reply("file", 2));
    QCOMPARE(temporaryArchives().size(), 1);
    const int framesBefore = peer.connection->sentBinaries().size();
    QVERIFY(framesBefore > 0);
    peer.send(tidMessage("cancel", 2));
    QCOMPARE(temporaryArchives(), QStringList());
    peer.connection->setBufferedAmount(0);
    QCOMPARE(peer.connection->sentBinaries().size(), framesBefore);
    QVERIFY(!peer.reply("end", 2));

    // Cancelled while the archive is written: nothing is ever sent for it, and it goes.
    peer.get(1, folder);
    peer.send(tidMessage("cancel", 1));
    QVERIFY(QThreadPool::globalInstance()->waitForDone(60000));
    QTRY_COMPARE(temporaryArchives(), QStringList());
    QVERIFY(!peer.reply("file", 1));
    QCOMPARE(peer.sequence(), (QStringList{"file", "frame 2"}));
}

void TestPeerSession::cancelUnknownOrFinishedIsIgnored()
{
    Peer &peer = *m_peer;
    const ShelfItem item = peer.addFile(write("a.txt", "abc"));
    peer.greet();
    peer.get(1, item);
    peer.send(putMessage(2, "b.txt", 1));
    peer.sendFrame(2, "b");
    peer.send(tidMessage("end", 2));
    const int sent = peer.connection->sentMessages().size();
    peer.send(tidMessage("cancel", 1));
    peer.send(tidMessage("cancel", 2));
    peer.send(tidMessage("cancel", 99));
    QCOMPARE(peer.connection->sentMessages().size(), sent);
    // The stored upload stays.
    QCOMPARE(peer.shelf->items().size(), 2);
    QVERIFY(QFile::exists(peer.shelf->items()[1].content().url().toLocalFile()));

    // Cancelling an upload discards it with its folder.
    const QStringList before = filesIn(itemsDirectory());
    peer.send(putMessage(3, "c.txt", 2));
    peer.sendFrame(3, "c");
    peer.send(tidMessage("cancel", 3));
    peer.send(tidMessage("end", 3));
    QCOMPARE(filesIn(itemsDirectory()), before);
    QCOMPARE(peer.connection->sentMessages().size(), sent);
}

void TestPeerSession::closeWithAndWithoutBye()
{
    for (const bool notify : {true, false}) {
        Peer peer;
        const ShelfItem item = peer.addFile(write("a.bin", randomBytes(3000000)));
        peer.connection->setBuffering(true);
        peer.greet();
        peer.send(message({{"t", "get-all"}, {"tid", 1}}));
        QTRY_VERIFY(peer.reply("file", 1));
        peer.get(2, item);
        QCOMPARE(temporaryArchives().size(), 1);

        peer.session->close(notify);
        QCOMPARE(temporaryArchives(), QStringList());
        QCOMPARE(peer.session->route(), Route::closed);
        QCOMPARE(peer.calls, (QStringList{"route", "closed"}));
        QCOMPARE(peer.connection->sentTexts().last() == u"{\"t\":\"bye\"}"_qs, notify);
        QVERIFY(peer.connection->isClosed());

        const int sent = peer.connection->sentMessages().size();
        peer.session->close(true);
        QCOMPARE(peer.calls, (QStringList{"route", "closed"}));
        QCOMPARE(peer.connection->sentMessages().size(), sent);
        QCOMPARE(peer.connection->closeCount(), 1);
        peer.session->sendText("after");
        QCOMPARE(peer.connection->sentMessages().size(), sent);
    }
}

void TestPeerSession::channelClosingMidUpload()
{
    Peer &peer = *m_peer;
    peer.greet();
    const QStringList before = filesIn(itemsDirectory());
    peer.send(putMessage(1, "half.bin", 100));
    peer.sendFrame(1, randomBytes(50));
    QCOMPARE(filesIn(itemsDirectory()).size(), before.size() + 1);
    peer.connection->setChannelState(ChannelState::closed);
    QCOMPARE(peer.session->route(), Route::closed);
    QCOMPARE(filesIn(itemsDirectory()), before);
    QCOMPARE(peer.connection->sentMessages().size(), 0);
    QCOMPARE(peer.shelf->items().size(), 0);
}

void TestPeerSession::sessionGoneWhileArchiving()
{
    Peer &peer = *m_peer;
    write("folder/big.bin", randomBytes(4 * 1024 * 1024));
    const ShelfItem folder = peer.addFile(path("folder"));
    peer.greet();
    peer.get(1, folder);
    peer.session.reset();
    // The archive being written is deleted once it is finished.
    QVERIFY(QThreadPool::globalInstance()->waitForDone(60000));
    QTRY_COMPARE(temporaryArchives(), QStringList());
    QVERIFY(peer.connection.isNull());
}

QTEST_MAIN(TestPeerSession)
#include "tst_peersession.moc"
