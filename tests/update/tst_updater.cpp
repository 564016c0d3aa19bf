// The updater against a feed server on 127.0.0.1: scheduled and user-started checks and the
// pending version, bad feeds and a server that never answers, signed and refused downloads, the
// daily schedule across restarts with a set clock, and what the tray menu and the update window
// show of it.

#include "app/StatusItemController.h"
#include "core/Defaults.h"
#include "platform/fake/FakeDesktop.h"
#include "platform/fake/FakeHotKeys.h"
#include "settings/UpdateWindow.h"
#include "shelf/ShelfManager.h"
#include "shelfwindow/ShelfPanelController.h"
#include "shortcuts/KeyboardShortcuts.h"
#include "update/Updater.h"

#include "TestSupport.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace vyo;
using namespace std::chrono_literals;

namespace {

// Answers GET requests from a table of paths; a path without an answer never gets one.
class FeedServer : public QObject
{
public:
    struct Answer
    {
        QByteArray status = "200 OK";
        QByteArray headers;
        QByteArray body;
        // The Content-Length sent; the body's own length when negative.
        qint64 declaredLength = -1;
        bool neverAnswers = false;

        static Answer ok(const QByteArray &body, qint64 declaredLength = -1)
        {
            Answer answer;
            answer.body = body;
            answer.declaredLength = declaredLength;
            return answer;
        }
        static Answer reply(const QByteArray &status, const QByteArray &headers = {})
        {
            Answer answer;
            answer.status = status;
            answer.headers = headers;
            return answer;
        }
        static Answer silence()
        {
            Answer answer;
            answer.neverAnswers = true;
            return answer;
        }
    };

    FeedServer()
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { answer(socket); });
            }
        });
    }

    QUrl url(const QString &path) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
    }
    void set(const QByteArray &path, const Answer &answer) { m_answers[path] = answer; }
    int requests = 0;

private:
    void answer(QTcpSocket *socket)
    {
        QByteArray &request = m_requests[socket];
        request += socket->readAll();
        if (!request.contains("\r\n\r\n"))
            return;
        ++requests;
        const QByteArray path = request.split(' ').value(1);
        const Answer answer = m_answers.value(path, Answer::silence());
        if (answer.neverAnswers)
            return;
        const qint64 length =
            answer.declaredLength < 0 ? answer.body.size() : answer.declaredLength;
        socket->write("HTTP/1.1 " + answer.status +
                      "\r\nContent-Length: " + QByteArray::number(length) +
                      "\r\nConnection: close\r\n" + answer.headers + "\r\n" + answer.body);
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QHash<QByteArray, Answer> m_answers;
    QHash<QTcpSocket *, QByteArray> m_requests;
};

QString runSigningScript(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(VYO_SIGNING_SCRIPT), arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        return {};
    return QString::fromLatin1(process.readAllStandardOutput()).trimmed();
}

QByteArray feedOffering(const QByteArray &version, const QUrl &package, qint64 length,
                        const QString &signature)
{
    return "<?xml version=\"1.0\"?><rss version=\"2.0\" "
           "xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"><channel><item>"
           "<title>Vyo " +
           version + "</title><link>https://vyo.example/releases/" + version +
           "</link><sparkle:version>" + version + "</sparkle:version><description><![CDATA[<p>" +
           version + " 고친 점</p>]]></description><enclosure url=\"" + package.toEncoded() +
           "\" length=\"" + QByteArray::number(length) + "\" sparkle:edSignature=\"" +
           signature.toLatin1() + "\"/></item></channel></rss>";
}

QStringList menuLines(const QMenu *menu)
{
    QStringList lines;
    for (const QAction *action : menu->actions()) {
        if (!action->isSeparator())
            lines << (action->isEnabled() ? action->text() : "(" + action->text() + ")");
    }
    return lines;
}

UpdateWindow *shownUpdateWindow()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == u"updateWindow" && widget->isVisible())
            return qobject_cast<UpdateWindow *>(widget);
    }
    return nullptr;
}

} // namespace

Q_DECLARE_METATYPE(FeedServer::Answer)

class TestUpdater : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void nothingBeforeStartOrWithoutFeed();
    void checks_data();
    void checks();
    void pendingVersionRules();
    void failedChecks_data();
    void failedChecks();
    void downloads_data();
    void downloads();
    void buildFromSourceOpensTheReleasePage();
    void scheduleAcrossRestarts();
    void trayEntriesAndWindow();

private:
    // An updater of the test feed whose first scheduled check comes after `firstDelay`.
    std::unique_ptr<Updater> makeUpdater(std::chrono::milliseconds firstDelay = 1h);
    // Serves a feed offering `version` with the signed package.
    void offer(const QByteArray &version, const QString &signature = {});
    // Waits until a check that reached the server has ended.
    bool checkEnded(Updater &updater, int requestsBefore);

    QTemporaryDir m_keys;
    QString m_publicKey;
    QString m_signature;
    QString m_otherSignature;
    const QByteArray m_package = "!<arch>\nVyo 2.0 꾸러미\n" + QByteArray(5000, 'p');

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Defaults> m_defaults;
    std::unique_ptr<FakeDesktop> m_desktop;
    std::unique_ptr<FeedServer> m_server;
    QDateTime m_now;
    bool m_focused = false;
};

void TestUpdater::initTestCase()
{
    const QString packagePath = m_keys.filePath("vyo_2.0_amd64.deb");
    QVERIFY(test::writeFile(packagePath, m_package));
    m_publicKey = runSigningScript({"keygen", m_keys.filePath("release.pem")});
    QVERIFY(!runSigningScript({"keygen", m_keys.filePath("other.pem")}).isEmpty());
    m_signature =
        runSigningScript({"sign", m_keys.filePath("release.pem"), packagePath}).section('"', 3, 3);
    m_otherSignature =
        runSigningScript({"sign", m_keys.filePath("other.pem"), packagePath}).section('"', 3, 3);
    QVERIFY(!m_publicKey.isEmpty() && !m_signature.isEmpty() && !m_otherSignature.isEmpty());
}

void TestUpdater::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_defaults = std::make_unique<Defaults>(m_dir->filePath("Vyo.conf"));
    m_desktop = std::make_unique<FakeDesktop>();
    m_server = std::make_unique<FeedServer>();
    m_now = QDateTime(QDate(2026, 3, 1), QTime(9, 0), Qt::UTC);
    m_focused = false;
    m_server->set("/vyo_2.0_amd64.deb", FeedServer::Answer::ok(m_package));
    m_server->set("/files/vyo_2.0_amd64.deb", FeedServer::Answer::ok(m_package));
    offer("2.0");
}

void TestUpdater::cleanup()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == u"updateWindow")
            delete widget;
    }
    m_server.reset();
    m_desktop.reset();
    m_defaults.reset();
    m_dir.reset();
}

std::unique_ptr<Updater> TestUpdater::makeUpdater(std::chrono::milliseconds firstDelay)
{
    Updater::Configuration configuration;
    configuration.feedUrl = m_server->url("/appcast.xml");
    configuration.publicKey = m_publicKey;
    configuration.currentVersion = "1.5";
    configuration.schedule = {24h, firstDelay};
    configuration.timeout = 300ms;
    configuration.maxDownloadBytes = 64 * 1024;
    configuration.executablePath = "/usr/bin/vyo";
    configuration.dpkgInfoFolder = m_dir->filePath("dpkg");
    configuration.downloadFolder = m_dir->filePath("Downloads");
    auto updater = std::make_unique<Updater>(configuration, *m_defaults);
    updater->now = [this] { return m_now; };
    updater->isInFocus = [this] { return m_focused; };
    return updater;
}

void TestUpdater::offer(const QByteArray &version, const QString &signature)
{
    m_server->set("/appcast.xml",
                  FeedServer::Answer::ok(
                      feedOffering(version, m_server->url("/vyo_2.0_amd64.deb"), m_package.size(),
                                   signature.isEmpty() ? m_signature : signature)));
}

bool TestUpdater::checkEnded(Updater &updater, int requestsBefore)
{
    return QTest::qWaitFor(
        [&] { return m_server->requests > requestsBefore && updater.canCheckForUpdates(); }, 10000);
}

void TestUpdater::nothingBeforeStartOrWithoutFeed()
{
    std::unique_ptr<Updater> updater = makeUpdater(0ms);
    updater->setAutomaticallyChecksForUpdates(true);
    updater->checkForUpdates();
    QVERIFY(!updater->automaticallyChecksForUpdates());
    QVERIFY(!updater->canCheckForUpdates());
    QVERIFY(!m_defaults->contains("automaticallyChecksForUpdates"));

    Updater::Configuration noFeed;
    Updater withoutFeed(noFeed, *m_defaults);
    QSignalSpy started(&withoutFeed, &Updater::started);
    withoutFeed.start();
    withoutFeed.checkForUpdates();
    QVERIFY(!withoutFeed.isStarted() && !withoutFeed.canCheckForUpdates());
    QCOMPARE(started.count(), 0);
    QVERIFY(!withoutFeed.nextScheduledCheck().isValid());
    QCOMPARE(m_server->requests, 0);
}

void TestUpdater::checks_data()
{
    QTest::addColumn<QByteArray>("version");
    QTest::addColumn<bool>("userInitiated");
    QTest::addColumn<bool>("focused");
    QTest::addColumn<QString>("pending");
    // What the window is told: "update", "upToDate" or nothing.
    QTest::addColumn<QString>("shown");
    QTest::newRow("scheduled, newer, elsewhere") << QByteArray("2.0") << false << false << "2.0"
                                                 << "";
    QTest::newRow("scheduled, newer, in Vyo") << QByteArray("2.0") << false << true << ""
                                              << "update";
    QTest::newRow("scheduled, equal") << QByteArray("1.5.0") << false << false << ""
                                      << "";
    QTest::newRow("user, newer") << QByteArray("2.0") << true << false << ""
                                 << "update";
    QTest::newRow("user, equal") << QByteArray("1.5") << true << false << ""
                                 << "upToDate";
    QTest::newRow("user, older") << QByteArray("1.4.9") << true << true << ""
                                 << "upToDate";
}

void TestUpdater::checks()
{
    QFETCH(QByteArray, version);
    QFETCH(bool, userInitiated);
    QFETCH(bool, focused);
    QFETCH(QString, pending);
    QFETCH(QString, shown);
    offer(version);
    m_focused = focused;
    test::LogCapture log;
    std::unique_ptr<Updater> updater = makeUpdater(userInitiated ? 1h : 0ms);
    QSignalSpy found(updater.get(), &Updater::updateFound);
    QSignalSpy upToDate(updater.get(), &Updater::upToDate);
    updater->start();
    if (userInitiated)
        updater->checkForUpdates();
    QVERIFY(checkEnded(*updater, 0));

    QCOMPARE(updater->pendingVersionText(), pending);
    QCOMPARE(log.contains("새 버전 2.0 대기 중"), !pending.isEmpty());
    QVERIFY(!log.contains("업데이트 실패"));
    QCOMPARE(found.count(), shown == "update" ? 1 : 0);
    QCOMPARE(upToDate.count(), shown == "upToDate" ? 1 : 0);
    if (!found.isEmpty()) {
        const auto item = found.first().at(0).value<UpdateItem>();
        QCOMPARE(item.displayVersion, "2.0");
        QCOMPARE(found.first().at(1).toBool(), userInitiated);
    }
    QCOMPARE(m_server->requests, 1);
}

void TestUpdater::pendingVersionRules()
{
    std::unique_ptr<Updater> updater = makeUpdater(0ms);
    QSignalSpy changed(updater.get(), &Updater::pendingVersionChanged);
    updater->start();
    QVERIFY(checkEnded(*updater, 0));
    QCOMPARE(updater->pendingVersion(), std::optional<QString>("2.0"));
    QCOMPARE(changed.count(), 1);

    // The user's check of the same version leaves it; so does a scheduled check finding it again.
    QSignalSpy found(updater.get(), &Updater::updateFound);
    updater->checkForUpdates();
    QVERIFY(checkEnded(*updater, 1));
    QCOMPARE(found.count(), 1);
    m_now = m_now.addDays(1);
    updater->setAutomaticallyChecksForUpdates(false);
    updater->setAutomaticallyChecksForUpdates(true);
    QVERIFY(checkEnded(*updater, 2));
    QCOMPARE(updater->pendingVersion(), std::optional<QString>("2.0"));
    QCOMPARE(changed.count(), 1);

    // Looking at it, or the session's end, clears it, once.
    updater->userDidAttend();
    QVERIFY(!updater->pendingVersion());
    updater->finishSession();
    QCOMPARE(changed.count(), 2);
}

void TestUpdater::failedChecks_data()
{
    QTest::addColumn<FeedServer::Answer>("answer");
    QTest::addColumn<QString>("reason");
    using Answer = FeedServer::Answer;
    QTest::newRow("not XML") << Answer::ok("서버 점검 중") << "읽을 수 없음";
    QTest::newRow("huge") << Answer::ok(QByteArray(2 * 1024 * 1024, '<')) << "크기보다 큼";
    QTest::newRow("no items") << Answer::ok("<rss><channel/></rss>") << "버전이 없음";
    QTest::newRow("bad version")
        << Answer::ok("<rss xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/"
                      "sparkle\"><channel><item><sparkle:version>2.0 최종</sparkle:version>"
                      "</item></channel></rss>")
        << "버전을 읽을 수 없음";
    QTest::newRow("not found") << Answer::reply("404 Not Found") << "HTTP 404";
    QTest::newRow("never answers") << Answer::silence() << "제때 응답하지 않음";
    QTest::newRow("redirect to http")
        << Answer::reply("302 Found", "Location: http://localhost/appcast.xml\r\n")
        << "안전하지 않은 주소";
}

void TestUpdater::failedChecks()
{
    QFETCH(FeedServer::Answer, answer);
    QFETCH(QString, reason);
    m_server->set("/appcast.xml", answer);
    test::LogCapture log;
    std::unique_ptr<Updater> updater = makeUpdater();
    updater->start();
    QSignalSpy failed(updater.get(), &Updater::checkFailed);
    updater->checkForUpdates();
    QVERIFY(checkEnded(*updater, 0));
    QCOMPARE(failed.count(), 1);
    QVERIFY(failed.first().at(0).toString().contains(reason));
    QVERIFY(log.contains("업데이트 실패: " + failed.first().at(0).toString()));
    QVERIFY(!updater->pendingVersion());
    // The schedule carries on.
    QCOMPARE(updater->nextScheduledCheck(), m_now.addDays(1));
}

void TestUpdater::downloads_data()
{
    QTest::addColumn<FeedServer::Answer>("answer");
    QTest::addColumn<bool>("signedByOtherKey");
    QTest::addColumn<bool>("installerOpens");
    QTest::addColumn<Updater::InstallOutcome>("outcome");
    QTest::addColumn<QString>("detail");
    using Answer = FeedServer::Answer;
    using O = Updater::InstallOutcome;
    QByteArray altered = m_package;
    altered[40] = 'q';
    const QByteArray redirect = "302 Found";
    QTest::newRow("verified") << Answer::ok(m_package) << false << true << O::openedInstaller
                              << "Downloads/vyo_2.0_amd64-1.deb";
    QTest::newRow("no installer") << Answer::ok(m_package) << false << false << O::needsCommand
                                  << "sudo apt install '";
    QTest::newRow("redirect on the server")
        << Answer::reply(redirect, "Location: /files/vyo_2.0_amd64.deb\r\n") << false << true
        << O::openedInstaller << "vyo_2.0_amd64-1.deb";
    QTest::newRow("altered byte") << Answer::ok(altered) << false << true << O::failed
                                  << "서명이 맞지 않음";
    QTest::newRow("wrong key") << Answer::ok(m_package) << true << true << O::failed
                               << "서명이 맞지 않음";
    QTest::newRow("truncated") << Answer::ok(m_package.left(1000), m_package.size()) << false
                               << true << O::failed << "";
    QTest::newRow("larger than declared")
        << Answer::ok(m_package + "more") << false << true << O::failed << "크기보다 큼";
    QTest::newRow("redirect to http")
        << Answer::reply(redirect, "Location: http://localhost/vyo.deb\r\n") << false << true
        << O::failed << "안전하지 않은 주소";
}

void TestUpdater::downloads()
{
    QFETCH(FeedServer::Answer, answer);
    QFETCH(bool, signedByOtherKey);
    QFETCH(bool, installerOpens);
    QFETCH(Updater::InstallOutcome, outcome);
    QFETCH(QString, detail);
    // Installed from the Debian package; a download of the same name is there already.
    QVERIFY(
        test::writeFile(m_dir->filePath("dpkg/vyo.list"), "/.\n/usr\n/usr/bin\n/usr/bin/vyo\n"));
    QVERIFY(test::writeFile(m_dir->filePath("Downloads/vyo_2.0_amd64.deb"), "older"));
    m_server->set("/vyo_2.0_amd64.deb", answer);
    offer("2.0", signedByOtherKey ? m_otherSignature : m_signature);
    m_desktop->fileManager().setOpenSucceeds(installerOpens);

    std::unique_ptr<Updater> updater = makeUpdater();
    updater->start();
    QVERIFY(updater->isPackageInstall());
    QSignalSpy found(updater.get(), &Updater::updateFound);
    updater->checkForUpdates();
    QTRY_COMPARE(found.count(), 1);
    QSignalSpy finished(updater.get(), &Updater::installFinished);
    updater->install(found.first().at(0).value<UpdateItem>());
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
    QCOMPARE(finished.first().at(0).value<Updater::InstallOutcome>(), outcome);
    QVERIFY2(finished.first().at(1).toString().contains(detail),
             qPrintable(finished.first().at(1).toString()));

    // Only a verified package lands, beside the earlier download, never over it.
    QDir downloads(m_dir->filePath("Downloads"));
    const bool landed = outcome != Updater::InstallOutcome::failed;
    QCOMPARE(downloads.entryList(QDir::Files),
             landed ? QStringList({"vyo_2.0_amd64-1.deb", "vyo_2.0_amd64.deb"})
                    : QStringList({"vyo_2.0_amd64.deb"}));
    QFile older(downloads.filePath("vyo_2.0_amd64.deb"));
    QVERIFY(older.open(QIODevice::ReadOnly));
    QCOMPARE(older.readAll(), "older");
    if (landed) {
        QFile package(downloads.filePath("vyo_2.0_amd64-1.deb"));
        QVERIFY(package.open(QIODevice::ReadOnly));
        QCOMPARE(package.readAll(), m_package);
    }
    QCOMPARE(m_desktop->fileManager().opened(),
             outcome == Updater::InstallOutcome::openedInstaller
                 ? QList<QUrl>{QUrl::fromLocalFile(downloads.filePath("vyo_2.0_amd64-1.deb"))}
                 : QList<QUrl>());
    QVERIFY(updater->canCheckForUpdates());
}

void TestUpdater::buildFromSourceOpensTheReleasePage()
{
    std::unique_ptr<Updater> updater = makeUpdater();
    updater->start();
    QVERIFY(!updater->isPackageInstall());
    QSignalSpy found(updater.get(), &Updater::updateFound);
    updater->checkForUpdates();
    QTRY_COMPARE(found.count(), 1);
    QSignalSpy finished(updater.get(), &Updater::installFinished);
    updater->install(found.first().at(0).value<UpdateItem>());
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.first().at(0).value<Updater::InstallOutcome>(),
             Updater::InstallOutcome::openedReleasePage);
    QCOMPARE(m_desktop->fileManager().opened(),
             QList<QUrl>{QUrl("https://vyo.example/releases/2.0")});
    QVERIFY(!QFileInfo::exists(m_dir->filePath("Downloads")));
    QCOMPARE(m_server->requests, 1);
}

void TestUpdater::scheduleAcrossRestarts()
{
    const QDateTime launched = m_now;
    {
        std::unique_ptr<Updater> first = makeUpdater(0ms);
        first->start();
        QVERIFY(checkEnded(*first, 0));
        QCOMPARE(first->nextScheduledCheck(), launched.addDays(1));
    }
    // A restart an hour later keeps the day's rhythm; one after the day checks at once.
    m_now = launched.addSecs(3600);
    {
        std::unique_ptr<Updater> restarted = makeUpdater(0ms);
        restarted->start();
        QCOMPARE(restarted->nextScheduledCheck(), launched.addDays(1));
    }
    m_now = launched.addSecs(25 * 3600);
    std::unique_ptr<Updater> nextDay = makeUpdater(0ms);
    QSignalSpy changed(nextDay.get(), &Updater::automaticallyChecksForUpdatesChanged);
    nextDay->start();
    QCOMPARE(nextDay->nextScheduledCheck(), m_now);
    QVERIFY(checkEnded(*nextDay, 1));
    QCOMPARE(m_server->requests, 2);
    QCOMPARE(nextDay->nextScheduledCheck(), m_now.addDays(1));

    // Turned off, nothing is scheduled, across restarts too.
    QVERIFY(nextDay->automaticallyChecksForUpdates());
    nextDay->setAutomaticallyChecksForUpdates(false);
    nextDay->setAutomaticallyChecksForUpdates(false);
    QCOMPARE(changed.count(), 2);
    QVERIFY(!nextDay->nextScheduledCheck().isValid());
    std::unique_ptr<Updater> off = makeUpdater(0ms);
    off->start();
    QVERIFY(!off->automaticallyChecksForUpdates());
    QVERIFY(!off->nextScheduledCheck().isValid());
}

void TestUpdater::trayEntriesAndWindow()
{
    FakeHotKeys hotKeys;
    KeyboardShortcuts::Registry shortcuts(*m_defaults, &hotKeys);
    ShelfManager manager(ShelfPersistence(m_dir->filePath("shelves.json")),
                         ShelfPanelController::windowMaker());
    StatusItemController tray(manager, shortcuts);
    std::unique_ptr<Updater> updater = makeUpdater(0ms);
    UpdateWindow::follow(*updater);
    tray.setUpdater(updater.get());
    tray.rebuildMenu();
    QVERIFY(!menuLines(tray.menu()).contains("업데이트 확인…"));

    // A scheduled check while the user is elsewhere: the quiet entry, no window.
    updater->start();
    QVERIFY(checkEnded(*updater, 0));
    QVERIFY(!shownUpdateWindow());
    tray.rebuildMenu();
    QAction *install = test::menuEntry(tray.menu(), "새 버전 2.0 설치…");
    QVERIFY(install && !install->icon().isNull());
    QVERIFY(!menuLines(tray.menu()).contains("업데이트 확인…"));

    // Choosing it checks; the window shows the update, and the user has now seen it.
    install->trigger();
    QTRY_VERIFY(shownUpdateWindow());
    UpdateWindow *window = shownUpdateWindow();
    QCOMPARE(window->findChild<QLabel *>("updateTitle")->text(), "새 버전 Vyo 2.0");
    QVERIFY(window->findChild<QPushButton *>("downloadButton")->isVisible());
    QVERIFY(!updater->pendingVersion());
    QVERIFY(menuLines(tray.menu()).contains("업데이트 확인…"));
    QTest::mouseClick(window->findChild<QPushButton *>("laterButton"), Qt::LeftButton);
    QTRY_VERIFY(!shownUpdateWindow());

    // While a check runs the entry waits; an up-to-date answer shows in the window.
    offer("1.5");
    updater->checkForUpdates();
    QVERIFY(menuLines(tray.menu()).contains("(업데이트 확인…)"));
    QVERIFY(checkEnded(*updater, 1));
    QTRY_VERIFY(shownUpdateWindow());
    QCOMPARE(shownUpdateWindow()->findChild<QLabel *>("updateTitle")->text(),
             "최신 버전을 쓰고 있어요.");
}

QTEST_MAIN(TestUpdater)
#include "tst_updater.moc"
