// Sharing end to end, every part real: the desktop's share center with its WebRTC peer sessions in
// this process, the share service on 127.0.0.1 (in-process too), and the share page in headless
// Chromium (tests/web/driver.mjs). What the browser lists, downloads and uploads is compared with
// the files on disk; archives are read back by Python's zipfile.

#include "core/Defaults.h"
#include "platform/PeerConnection.h"
#include "platform/fake/FakeDesktop.h"
#include "share/ShareCenter.h"
#include "shelf/Shelf.h"

#include "ChildProcess.h"
#include "ServiceTestSupport.h"
#include "SharePageDriver.h"
#include "ShareTestSupport.h"
#include "TestSupport.h"
#include "ZipSupport.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

using namespace vyo;
using namespace vyo::test;

namespace {

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    generator.fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

// The names in a ZIP archive as Python's zipfile reads them, sorted, after it has checked every
// entry's CRC; the reason when it cannot read the archive.
QStringList zipNames(const QString &archive)
{
    QString error;
    const QJsonObject report = pythonReport(archive, &error);
    if (!error.isEmpty() || !report.value(QStringLiteral("testzip")).isNull())
        return {error};
    QStringList names = pythonNames(report);
    names.sort();
    return names;
}

// A free UDP port on 127.0.0.1 to start a server on.
quint16 freeUdpPort()
{
    QUdpSocket socket;
    return socket.bind(QHostAddress::LocalHost, 0) ? socket.localPort() : 0;
}

QJsonObject itemNamed(const QJsonArray &items, const QString &name)
{
    for (const QJsonValue &item : items) {
        if (item.toObject().value(QStringLiteral("name")).toString() == name)
            return item.toObject();
    }
    return {};
}

} // namespace

class TestShareEndToEnd : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void listsAndDownloads();
    void uploadsLandOnTheShelf();
    void cancelledArchiveIsDeleted();
    void devicesComeAndGo();
    void stopSaysGoodbye();
    void relayedConnection();

private:
    QString path(const QString &name) const { return m_files.filePath(name); }

    QTemporaryDir m_files;
    QTemporaryDir m_downloads;
    std::unique_ptr<ShareService> m_service;
    std::unique_ptr<FakeDesktop> m_desktop;
    std::unique_ptr<ShareCenter> m_center;
    std::unique_ptr<Driver> m_driver;
    Shelf m_shelf;
    QString m_url;
};

void TestShareEndToEnd::initTestCase()
{
    QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("node")).isEmpty(), "node is missing");
    m_service = startService();
    QVERIFY(m_service);
    Defaults::shared().setValue(QString::fromLatin1(DefaultsKey::shareServiceURL),
                                serviceBase(*m_service).toString());
    m_desktop = std::make_unique<FakeDesktop>();
    m_center = std::make_unique<ShareCenter>();
    m_center->setPeerConnectionMaker(makePeerConnection);
    m_driver = std::make_unique<Driver>();

    // A file, a photo, a folder and a text, with Korean names.
    QVERIFY(writeFile(path("한글 문서.bin"), randomBytes(3 * 1024 * 1024, 1)));
    QImage photo(320, 200, QImage::Format_RGB32);
    photo.fill(Qt::darkCyan);
    QVERIFY(photo.save(path("사진.png")));
    QVERIFY(writeFile(path("사진 모음/가.txt"), "가나다"));
    QVERIFY(writeFile(path("사진 모음/나.bin"), randomBytes(512 * 1024, 2)));
    m_shelf.add({ShelfItem(ShelfItem::Content::file(QUrl::fromLocalFile(path("한글 문서.bin")))),
                 ShelfItem(ShelfItem::Content::file(QUrl::fromLocalFile(path("사진.png")))),
                 ShelfItem(ShelfItem::Content::file(QUrl::fromLocalFile(path("사진 모음")))),
                 ShelfItem(ShelfItem::Content::text(QStringLiteral("메모 한 줄")))});
    m_url = startShare(*m_center, m_shelf);
    QVERIFY(!m_url.isEmpty());
}

void TestShareEndToEnd::cleanupTestCase()
{
    m_driver.reset();
    m_center.reset();
    m_desktop.reset();
}

void TestShareEndToEnd::listsAndDownloads()
{
    const auto items = m_driver->openPage(m_url, 4);
    QVERIFY2(items, qPrintable(m_driver->error));
    QCOMPARE(items->size(), 4);
    const QJsonObject file = itemNamed(*items, QStringLiteral("한글 문서.bin"));
    const QJsonObject folder = itemNamed(*items, QStringLiteral("사진 모음.zip"));
    QVERIFY(!file.isEmpty());
    QVERIFY(!folder.isEmpty());
    QVERIFY(!itemNamed(*items, QStringLiteral("메모 한 줄")).isEmpty());
    // The photo's thumbnail follows in a second listing.
    QVERIFY(QTest::qWaitFor(
        [&] {
            const auto now = m_driver->call(QStringLiteral("items"));
            return now &&
                   itemNamed(now->toArray(), QStringLiteral("사진.png")).value("thumb").toBool();
        },
        browserWait));

    // One file, byte for byte.
    const auto saved = m_driver->download(file.value("id").toString(), m_downloads.path());
    QVERIFY2(saved, qPrintable(m_driver->error));
    QCOMPARE(saved->value("name").toString(), QStringLiteral("한글 문서.bin"));
    QVERIFY(fileContents(saved->value("path").toString()) == fileContents(path("한글 문서.bin")));

    // A folder and everything, as archives with Korean names.
    const auto folderZip = m_driver->download(folder.value("id").toString(), m_downloads.path());
    QVERIFY2(folderZip, qPrintable(m_driver->error));
    QCOMPARE(zipNames(folderZip->value("path").toString()),
             QStringList({"사진 모음/", "사진 모음/가.txt", "사진 모음/나.bin"}));
    const auto all = m_driver->download(QStringLiteral("all"), m_downloads.path());
    QVERIFY2(all, qPrintable(m_driver->error));
    QVERIFY(all->value("name").toString().startsWith(QStringLiteral("Vyo ")));
    QCOMPARE(zipNames(all->value("path").toString()),
             QStringList({"사진 모음/", "사진 모음/가.txt", "사진 모음/나.bin", "사진.png",
                          "한글 문서.bin"}));
    // No archive is left behind on the desktop.
    QTRY_VERIFY(QDir::temp().entryList({"vyo-*.zip"}).isEmpty());
}

void TestShareEndToEnd::uploadsLandOnTheShelf()
{
    QVERIFY2(m_driver->openPage(m_url, 4), qPrintable(m_driver->error));
    const QString local = m_downloads.filePath(QStringLiteral("올린 파일.bin"));
    QVERIFY(writeFile(local, randomBytes(2 * 1024 * 1024 + 3, 3)));
    // Above 4 GiB the page refuses before sending anything (a sparse file: no disk is used).
    const QString huge = m_downloads.filePath(QStringLiteral("큰 파일.bin"));
    QFile hugeFile(huge);
    QVERIFY(hugeFile.open(QIODevice::WriteOnly) && hugeFile.resize(4294967296LL + 1));
    hugeFile.close();

    const auto rows =
        m_driver->call(QStringLiteral("upload"), {{"paths", QJsonArray{local, huge}}}, 90000);
    QVERIFY2(rows, qPrintable(m_driver->error));
    QStringList states;
    for (const QJsonValue &row : rows->toArray())
        states << row.toObject().value("state").toString() + u' ' +
                      row.toObject().value("name").toString();
    states.sort();
    QCOMPARE(states, QStringList({"done 올린 파일.bin", "error 큰 파일.bin"}));

    QTRY_COMPARE(m_shelf.items().size(), 5);
    const ShelfItem &uploaded = m_shelf.items().last();
    QCOMPARE(uploaded.displayName(), QStringLiteral("올린 파일.bin"));
    const QByteArray received = fileContents(uploaded.content().url().toLocalFile());
    QCOMPARE(received.size(), fileContents(local).size());
    const QByteArray sent = fileContents(local);
    qsizetype firstDifference = 0;
    while (firstDifference < sent.size() && sent[firstDifference] == received[firstDifference])
        ++firstDifference;
    QVERIFY2(received == sent,
             qPrintable(QStringLiteral("differs from byte %1").arg(firstDifference)));
}

void TestShareEndToEnd::cancelledArchiveIsDeleted()
{
    // A folder large enough that its archive is still being sent when the browser cancels.
    Shelf shelf;
    QVERIFY(writeFile(path("큰 폴더/a.bin"), randomBytes(48 * 1024 * 1024, 4)));
    shelf.add({ShelfItem(ShelfItem::Content::file(QUrl::fromLocalFile(path("큰 폴더"))))});
    const QString url = startShare(*m_center, shelf);
    QVERIFY(!url.isEmpty());
    const auto items = m_driver->openPage(url, 1);
    QVERIFY2(items, qPrintable(m_driver->error));
    QVERIFY(m_driver->call(QStringLiteral("startDownload"),
                           {{"item", items->first().toObject().value("id").toString()}}));

    int tid = 0;
    QVERIFY(QTest::qWaitFor(
        [&] {
            const auto rows = m_driver->call(QStringLiteral("transfers"));
            const QJsonObject row = rows ? rows->toArray().first().toObject() : QJsonObject();
            tid = row.value("tid").toInt();
            return row.value("state").toString() == u"running" && tid > 0;
        },
        browserWait));
    QVERIFY(!QDir::temp().entryList({"vyo-*.zip"}).isEmpty());
    QVERIFY2(m_driver->call(QStringLiteral("cancel"), {{"tid", tid}}), qPrintable(m_driver->error));
    QTRY_VERIFY_WITH_TIMEOUT(QDir::temp().entryList({"vyo-*.zip"}).isEmpty(), 10000);
    const auto rows = m_driver->call(QStringLiteral("transfers"));
    QVERIFY(rows);
    QCOMPARE(rows->toArray().first().toObject().value("state").toString(),
             QStringLiteral("cancelled"));
    m_center->stopSharing(shelf.id());
}

void TestShareEndToEnd::devicesComeAndGo()
{
    ShareSession *session = m_center->session(m_shelf.id());
    QVERIFY(session);
    QTRY_COMPARE_WITH_TIMEOUT(session->devices().size(), 2, browserWait); // the pages so far
    QVERIFY2(m_driver->openPage(m_url, 4), qPrintable(m_driver->error));
    QTRY_COMPARE_WITH_TIMEOUT(session->devices().size(), 3, browserWait);
    for (const ShareSession::Device &device : session->devices())
        QCOMPARE(device.route, PeerSession::Route::direct);

    // A closed tab leaves the list.
    QVERIFY(m_driver->call(QStringLiteral("closePage"), {{"page", 0}}));
    QTRY_COMPARE_WITH_TIMEOUT(session->devices().size(), 2, browserWait);
}

void TestShareEndToEnd::stopSaysGoodbye()
{
    QVERIFY2(m_driver->openPage(m_url, 4), qPrintable(m_driver->error));
    m_center->stopSharing(m_shelf.id());
    const auto status = m_driver->call(QStringLiteral("waitForStatus"), {{"state", "bye"}});
    QVERIFY2(status, qPrintable(m_driver->error));
    QVERIFY(!m_desktop->idleInhibitor().isInhibiting());
}

void TestShareEndToEnd::relayedConnection()
{
    // coturn on 127.0.0.1 with a shared secret, and a service that hands out its credentials.
    const quint16 turnPort = freeUdpPort();
    const quint16 relayPorts = freeUdpPort();
    QVERIFY(turnPort > 0 && relayPorts > 0);
    const QString secret = QStringLiteral("relay-test-secret");
    ChildProcess turn(QStandardPaths::findExecutable(QStringLiteral("turnserver")),
                      {"-n", "--listening-ip=127.0.0.1", "--relay-ip=127.0.0.1",
                       QStringLiteral("--listening-port=%1").arg(turnPort), "--use-auth-secret",
                       "--static-auth-secret=" + secret, "--realm=vyo.test",
                       "--allow-loopback-peers", "--no-tls", "--no-dtls", "--no-cli",
                       QStringLiteral("--min-port=%1").arg(relayPorts),
                       QStringLiteral("--max-port=%1").arg(relayPorts + 20), "--log-file=stdout",
                       "--simple-log"});
    QVERIFY2(turn.waitForOutput(QStringLiteral("Total General servers")),
             qPrintable(turn.output()));
    ServiceConfig config = serviceTestConfig();
    config.turnURLs = {QStringLiteral("turn:127.0.0.1:%1?transport=udp").arg(turnPort)};
    config.turnSecret = secret;
    const std::unique_ptr<ShareService> service = startService(config);
    QVERIFY(service);
    Defaults::shared().setValue(QString::fromLatin1(DefaultsKey::shareServiceURL),
                                serviceBase(*service).toString());

    // The page may only use the relay: the desktop sees its route go through it.
    Shelf shelf;
    shelf.add({ShelfItem(ShelfItem::Content::file(QUrl::fromLocalFile(path("한글 문서.bin"))))});
    const QString url = startShare(*m_center, shelf);
    QVERIFY(!url.isEmpty());
    QVERIFY2(m_driver->call(QStringLiteral("open"), {{"url", url}, {"relayOnly", true}}),
             qPrintable(m_driver->error));
    const auto items = m_driver->call(QStringLiteral("waitForListing"), {{"count", 1}});
    QVERIFY2(items, qPrintable(m_driver->error));
    ShareSession *session = m_center->session(shelf.id());
    QVERIFY(session);
    QTRY_COMPARE(session->devices().size(), 1);
    QTRY_COMPARE(session->devices().first().route, PeerSession::Route::relay);

    // Data goes through the relay too.
    const auto saved = m_driver->download(
        items->toArray().first().toObject().value("id").toString(), m_downloads.path());
    QVERIFY2(saved, qPrintable(m_driver->error));
    QVERIFY(fileContents(saved->value("path").toString()) == fileContents(path("한글 문서.bin")));
    m_center->stopSharing(shelf.id());
}

QTEST_MAIN(TestShareEndToEnd)
#include "tst_shareendtoend.moc"
