// One browser's peer session on a fake peer connection, with real files in temporary folders:
// negotiation, the route, downloads byte for byte, flow control, uploads and what a browser may
// get wrong, cancel and close. (Folders and the whole shelf as ZIPs, read back by
// Python's zipfile, come from a real browser in tests/web.)

#include "share/PeerSession.h"

#include "core/Ids.h"
#include "logic/TransferProtocol.h"
#include "platform/fake/FakePeerConnection.h"
#include "shelf/Shelf.h"

#include "TestSupport.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

using namespace vyo;
using namespace vyo::test;
using Content = ShelfItem::Content;
using Route = PeerSession::Route;
using ChannelState = PeerConnection::ChannelState;

Q_DECLARE_METATYPE(std::optional<qint64>)

namespace {

QJsonObject object(const QString &text)
{
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

QString message(const QJsonObject &json)
{
    return TransferProtocol::encode(json);
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

    // The text messages sent so far, parsed.
    QList<QJsonObject> replies() const
    {
        QList<QJsonObject> list;
        for (const QString &text : connection ? connection->sentTexts() : QStringList())
            list.append(object(text));
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
};

} // namespace

class TestPeerSession : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void negotiation();

    void downloadsInChunks_data();
    void downloadsInChunks();
    void flowControl();

    void browserScripts_data();
    void browserScripts();

    void closing();

private:
    QString path(const QString &relative) const { return m_dir->filePath(relative); }
    QString write(const QString &relative, const QByteArray &bytes)
    {
        const QString file = path(relative);
        writeFile(file, bytes);
        return file;
    }

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
    // (The offer and the candidates as they travel: tst_sharecenter, and tests/web with a real
    // browser.)
    Peer &peer = *m_peer;
    QVERIFY(peer.connection->completeOffer(QStringLiteral("v=0")));
    QVERIFY(peer.connection->completeLocalDescription());
    QCOMPARE(peer.signalsSent.size(), 1);
    peer.connection->gatherCandidate({QStringLiteral("candidate:2"), 1, std::nullopt});
    QCOMPARE(peer.signalsSent.last(),
             QStringLiteral(R"({"candidate":{"candidate":"candidate:2","sdpMLineIndex":1}})"));

    // The browser's candidates wait for its answer; what is not an answer or a candidate is
    // ignored.
    for (const char *ignored : {"not json", "[1]", R"({"sdp":{"sdp":"v=0","type":"offer"}})",
                                R"({"sdp":{"sdp":7,"type":"answer"}})",
                                R"({"candidate":{"candidate":""}})", R"({"candidate":"a"})"})
        peer.session->handleSignal(QString::fromUtf8(ignored));
    QCOMPARE(peer.connection->remoteDescriptions().size(), 0);
    peer.session->handleSignal(R"({"candidate":{"candidate":"a","sdpMLineIndex":2,"sdpMid":"x"}})");
    peer.session->handleSignal(R"({"candidate":{"candidate":"b"}})");
    QCOMPARE(peer.connection->addedCandidates().size(), 0);

    peer.session->handleSignal(R"({"sdp":{"sdp":"v=0 answer","type":"answer"}})");
    QCOMPARE(peer.connection->remoteDescriptions().last(),
             (FakePeerConnection::Description{"answer", "v=0 answer"}));
    QVERIFY(peer.connection->completeRemoteDescription());
    QVERIFY(peer.session->hasRemoteDescription());
    QCOMPARE(peer.connection->addedCandidates(),
             (QList<IceCandidate>{{"a", 2, QStringLiteral("x")}, {"b", 0, std::nullopt}}));

    // A browser behind a relay reaches the desktop before its relay candidate arrives: the first
    // statistics name a peer-reflexive candidate, the ones after the candidate a relay.
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

// Downloads

void TestPeerSession::downloadsInChunks_data()
{
    QTest::addColumn<std::optional<qint64>>("maxMessageSize");
    QTest::addColumn<int>("payload");
    QTest::newRow("no announcement") << std::optional<qint64>() << 65532;
    QTest::newRow("1028") << std::optional<qint64>(1028) << 1024;
    QTest::newRow("1000 keeps the floor") << std::optional<qint64>(1000) << 1024;
}

void TestPeerSession::downloadsInChunks()
{
    QFETCH(std::optional<qint64>, maxMessageSize);
    QFETCH(int, payload);
    QCOMPARE(PeerSession::chunkPayloadSize(maxMessageSize), qint64(payload));

    Peer &peer = *m_peer;
    const QByteArray bytes = randomBytes(200000, 1);
    // A decomposed Korean name goes out composed.
    const QString decomposed = QStringLiteral("\u1100\u1161 \u110b\u1175\u11ab.txt");
    const ShelfItem item = peer.addFile(write(decomposed, bytes));
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
}

void TestPeerSession::flowControl()
{
    Peer &peer = *m_peer;
    const QByteArray bytes = randomBytes(3 * 1024 * 1024, 2);
    const QByteArray second = randomBytes(70000, 3);
    const ShelfItem item = peer.addFile(write("big.bin", bytes));
    const ShelfItem b = peer.addFile(write("b.bin", second));
    peer.connection->setBuffering(true);
    peer.greet();
    peer.get(5, item);
    // The "file" message and 16 frames of 65536 bytes fill the buffer past 1 MiB; 15 would not.
    QCOMPARE(peer.connection->sentBinaries().size(), 16);
    QVERIFY(peer.connection->bufferedAmount() >= PeerSession::maximumBufferedAmount);
    QVERIFY(peer.connection->bufferedAmount() - 65536 < PeerSession::maximumBufferedAmount);

    // A second download waits its turn, but its "file" goes out at once.
    peer.get(6, b);
    QVERIFY(peer.reply("file", 6));
    QVERIFY(peer.downloaded(6).isEmpty());
    for (int round = 0; round < 10 && !peer.reply("end", 6); ++round)
        peer.connection->setBufferedAmount(262144);
    QCOMPARE(peer.downloaded(5), bytes);
    QCOMPARE(peer.downloaded(6), second);

    // A channel that refuses a frame loses nothing: the same bytes go out later.
    Peer refused;
    const QByteArray small = randomBytes(100000, 4);
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

// Uploads

void TestPeerSession::browserScripts_data()
{
    // What the browser sends, one step a line: "put <tid> <size> <name>", "data <tid> <length>"
    // (random bytes), "short" (a binary message too short for a frame), "end <tid>",
    // "cancel <tid>", "get <tid> <unknown|text|missing|big|folder>", "get-all <tid>",
    // "raw <text>", "close" (the channel closes), "buffer" (the channel keeps what is sent until
    // "drain"), "delete|grow big" (big.bin while it is sent), "drop-shelf|drop-session"
    // (the shelf or the session goes), "wait" (for archives being written). The shelf holds a text,
    // a deleted file, big.bin (2 MiB) and a folder.
    QTest::addColumn<QStringList>("steps");
    // The replies, "<t> <tid>[ <message>]".
    QTest::addColumn<QStringList>("expected");
    // The names of the uploads stored on the shelf.
    QTest::addColumn<QStringList>("stored");

    // Downloads that end arrive byte for byte as the file was when asked for. An open file keeps
    // its bytes when it is deleted; one that changes size fails.
    const QString unreadable = QStringLiteral("error 3 파일을 읽지 못했어요.");
    QTest::newRow("deleted while sent") << QStringList{"buffer", "get 3 big", "delete big", "drain"}
                                        << QStringList{"file 3", "end 3"} << QStringList{};
    QTest::newRow("grown while sent") << QStringList{"buffer", "get 3 big", "grow big", "drain"}
                                      << QStringList{"file 3", unreadable} << QStringList{};
    // What was asked for still arrives whole; nothing new can be found.
    QTest::newRow("shelf closed mid-download")
        << QStringList{"buffer", "get 1 big", "drop-shelf", "drain", "get 2 big", "get-all 3"}
        << QStringList{"file 1", "end 1", "error 2 셸프에서 찾을 수 없는 항목이에요.",
                       "error 3 받을 파일이 없어요."}
        << QStringList{};
    // (Cancelled while its frames go out: tests/web, from a real browser.)
    QTest::newRow("cancelled while the archive is written")
        << QStringList{"get 1 folder", "cancel 1", "wait"} << QStringList{} << QStringList{};
    // The archive being written when the session goes is deleted once it is finished.
    QTest::newRow("session gone while archiving")
        << QStringList{"get 1 folder", "drop-session", "wait"} << QStringList{} << QStringList{};

    const QString notFound = QStringLiteral(" 셸프에서 찾을 수 없는 항목이에요.");
    QTest::newRow("whole upload, an empty piece and a short frame")
        << QStringList{"put 1 300000 사진.jpg", "data 1 100000", "data 1 0", "short",
                       "data 1 200000",         "end 1"}
        << QStringList{"stored 1"} << QStringList{"사진.jpg"};
    QTest::newRow("4 GiB is accepted")
        << QStringList{"put 1 4294967296 big.iso"} << QStringList{} << QStringList{};
    QTest::newRow("above 4 GiB") << QStringList{"put 1 4294967297 big.iso", "end 1"}
                                 << QStringList{"error 1 4GB보다 큰 파일은 올릴 수 없어요."}
                                 << QStringList{};
    QTest::newRow("parent steps") << QStringList{"put 1 1 ../../폴더/파일.txt", "data 1 1", "end 1"}
                                  << QStringList{"stored 1"} << QStringList{"_.._폴더_파일.txt"};
    QTest::newRow("only dots") << QStringList{"put 1 1 ....", "data 1 1", "end 1"}
                               << QStringList{"error 1 파일을 저장할 수 없어요."} << QStringList{};
    QTest::newRow("more than announced")
        << QStringList{"put 1 10 a.txt", "data 1 6", "data 1 5", "data 1 1", "end 1"}
        << QStringList{"error 1 받은 크기가 맞지 않거나 저장하지 못했어요."} << QStringList{};
    QTest::newRow("end before all data")
        << QStringList{"put 1 10 a.txt", "data 1 6", "end 1", "data 1 4", "end 1"}
        << QStringList{"error 1 파일이 끝까지 오지 않았어요. 다시 올려 주세요."} << QStringList{};
    QTest::newRow("cancelled upload is discarded")
        << QStringList{"put 3 2 c.txt", "data 3 1", "cancel 3", "end 3"} << QStringList{}
        << QStringList{};
    QTest::newRow("channel closing mid-upload")
        << QStringList{"put 1 100 half.bin", "data 1 50", "close"} << QStringList{}
        << QStringList{};
    QTest::newRow("items that cannot be got")
        << QStringList{"get 1 unknown", "get 2 text", "get 3 missing"}
        << QStringList{"error 1" + notFound, "error 2" + notFound, "error 3" + notFound}
        << QStringList{};
    // Garbage, and the end or cancel of nothing, get no reply at all.
    QTest::newRow("garbage") << QStringList{"raw hello",
                                            R"(raw {"t":"get","tid":7,"id":"x"})",
                                            R"(raw {"t":"put","tid":7,"name":"a"})",
                                            "end 7",
                                            "cancel 7",
                                            "data 7 0"}
                             << QStringList{} << QStringList{};
}

void TestPeerSession::browserScripts()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, expected);
    QFETCH(QStringList, stored);

    Peer &peer = *m_peer;
    const QString big = write("big.bin", randomBytes(2 * 1024 * 1024, 5));
    write("folder/a.txt", "a");
    const QMap<QString, QUuid> ids{{"unknown", newId()},
                                   {"text", peer.add(Content::text("안녕")).id()},
                                   {"missing", peer.addFile(path("gone.txt")).id()},
                                   {"big", peer.addFile(big).id()},
                                   {"folder", peer.addFile(path("folder")).id()}};
    const qsizetype itemsBefore = peer.shelf->items().size();
    peer.greet(std::nullopt, "Mozilla/5.0 (iPhone)");
    const QString items = itemsDirectory();
    const QStringList foldersBefore = filesIn(items);
    QHash<quint32, QByteArray> sent, asked;
    QSet<quint32> running;
    for (const QString &step : steps) {
        const QStringList words = step.split(u' ');
        const quint32 tid = words.value(1).toUInt();
        if (words[0] == u"put") {
            peer.send(message({{"t", "put"},
                               {"tid", qint64(tid)},
                               {"name", words.mid(3).join(u' ')},
                               {"size", words[2].toLongLong()}}));
            sent[tid].clear();
            running.insert(tid);
        } else if (words[0] == u"data") {
            const QByteArray piece = randomBytes(words[2].toInt(), 6);
            sent[tid] += piece;
            peer.sendFrame(tid, piece);
        } else if (words[0] == u"end" || words[0] == u"cancel" || words[0] == u"get-all") {
            peer.send(message({{"t", words[0]}, {"tid", qint64(tid)}}));
            running.remove(tid);
        } else if (words[0] == u"get") {
            asked[tid] = readFile(big);
            peer.send(
                message({{"t", "get"}, {"tid", qint64(tid)}, {"id", uuidText(ids[words[2]])}}));
        } else if (words[0] == u"buffer") {
            peer.connection->setBuffering(true);
        } else if (words[0] == u"drain") {
            for (int round = 0; round < 40 && peer.connection->bufferedAmount() > 0; ++round)
                peer.connection->setBufferedAmount(0);
        } else if (words[0] == u"delete") {
            QVERIFY(QFile::remove(big));
        } else if (words[0] == u"grow") {
            QFile file(big);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.resize(file.size() + 100));
        } else if (words[0] == u"drop-shelf") {
            peer.shelf.reset();
        } else if (words[0] == u"drop-session") {
            peer.session.reset();
            QVERIFY(peer.connection.isNull());
        } else if (words[0] == u"wait") {
            QVERIFY(QThreadPool::globalInstance()->waitForDone(60000));
            QTRY_COMPARE(temporaryArchives(), QStringList());
        } else if (words[0] == u"short") {
            peer.connection->receiveBinary(QByteArray(3, '\0'));
        } else if (words[0] == u"close") {
            peer.connection->setChannelState(ChannelState::closed);
            QCOMPARE(peer.session->route(), Route::closed);
            running.clear();
        } else {
            Q_EMIT peer.connection->messageReceived({step.mid(4).toUtf8(), false});
        }
    }
    QStringList replies;
    for (const QJsonObject &reply : peer.replies()) {
        replies.append(QStringList{reply.value("t").toString(),
                                   QString::number(reply.value("tid").toInteger()),
                                   reply.value("message").toString()}
                           .join(u' ')
                           .trimmed());
    }
    QCOMPARE(replies, expected);

    // Each stored upload has a folder of its own, and so has one still running (until the
    // session goes); a failed or cancelled one leaves nothing.
    QStringList folders = filesIn(items);
    for (const QString &folder : foldersBefore)
        folders.removeAll(folder);
    QCOMPARE(folders.size(), stored.size() + running.size());
    QCOMPARE(peer.shelf ? peer.shelf->items().size() : itemsBefore, itemsBefore + stored.size());
    for (qsizetype i = 0; i < stored.size(); ++i) {
        const QString file = peer.shelf->items()[itemsBefore + i].content().url().toLocalFile();
        QCOMPARE(QFileInfo(file).fileName(), stored[i]);
        QVERIFY(file.startsWith(items + u'/'));
        const quint32 tid = expected.filter(QStringLiteral("stored ")).at(i).mid(7).toUInt();
        QFile stream(file);
        QVERIFY(stream.open(QIODevice::ReadOnly));
        QCOMPARE(stream.readAll(), sent[tid]);
        QVERIFY(peer.activities.contains("iPhone에서 " + stored[i] + " 올림"));
    }
    for (auto download = asked.cbegin(); download != asked.cend(); ++download) {
        if (expected.contains(QStringLiteral("end %1").arg(download.key())))
            QCOMPARE(peer.downloaded(download.key()), download.value());
    }
}

// Cancel and close

void TestPeerSession::closing()
{
    // Closed with "bye", without it, or by a failed connection: the archive being sent goes too.
    for (const int way : {0, 1, 2}) {
        Peer peer;
        const ShelfItem item = peer.addFile(write("a.bin", randomBytes(3000000, 7)));
        peer.connection->setBuffering(true);
        peer.greet();
        peer.send(message({{"t", "get-all"}, {"tid", 1}}));
        QTRY_VERIFY(peer.reply("file", 1));
        peer.get(2, item);
        QCOMPARE(temporaryArchives().size(), 1);

        if (way == 2)
            peer.connection->setState(PeerConnection::State::failed);
        else
            peer.session->close(way == 0);
        QCOMPARE(temporaryArchives(), QStringList());
        QCOMPARE(peer.session->route(), Route::closed);
        QCOMPARE(peer.calls, (QStringList{"route", "closed"}));
        QCOMPARE(peer.connection->sentTexts().last() == u"{\"t\":\"bye\"}"_qs, way == 0);
        QVERIFY(peer.connection->isClosed());
    }
}

QTEST_MAIN(TestPeerSession)
#include "tst_peersession.moc"
