// The updater against a feed server on 127.0.0.1 (how feeds, versions and signatures read is
// tst_updatefeed's): failing servers, signed and refused downloads, the schedule across restarts,
// and what a scheduled check leaves in the tray menu and the update window.

#include "app/StatusItemController.h"
#include "core/Defaults.h"
#include "platform/fake/FakeDesktop.h"
#include "platform/fake/FakeHotKeys.h"
#include "settings/UpdateWindow.h"
#include "shelf/ShelfManager.h"
#include "shelfwindow/ShelfPanelController.h"
#include "shortcuts/KeyboardShortcuts.h"
#include "update/Updater.h"

#include "LoopbackHttpServer.h"
#include "TestSupport.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace vyo;
using namespace std::chrono_literals;

namespace {

using FeedServer = test::LoopbackHttpServer;

QString runSigningScript(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(VYO_SIGNING_SCRIPT), arguments);
    process.waitForFinished(30000);
    return process.exitCode() == 0 ? QString::fromLatin1(process.readAllStandardOutput()).trimmed()
                                   : QString();
}

QByteArray feedOffering(const QByteArray &version, const QUrl &package, qint64 length,
                        const QString &signature)
{
    return "<rss version=\"2.0\" xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/"
           "sparkle\"><channel><item><link>https://vyo.example/releases/" +
           version + "</link><sparkle:version>" + version +
           "</sparkle:version><description><![CDATA[<p>고친 점</p>]]></description><enclosure "
           "url=\"" +
           package.toEncoded() + "\" length=\"" + QByteArray::number(length) +
           "\" sparkle:edSignature=\"" + signature.toLatin1() + "\"/></item></channel></rss>";
}

UpdateWindow *shownUpdateWindow()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == u"updateWindow" && widget->isVisible())
            return qobject_cast<UpdateWindow *>(widget);
    }
    return nullptr;
}

// What each test starts from: its own settings, fake desktop and feed server offering 2.0.
struct Session
{
    QTemporaryDir dir;
    Defaults defaults{dir.filePath("Vyo.conf")};
    FakeDesktop desktop;
    FeedServer server;
};

} // namespace

Q_DECLARE_METATYPE(FeedServer::Answer)

class TestUpdater : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void failures_data();
    void failures();
    void downloads_data();
    void downloads();
    void scheduleAcrossRestarts();
    void pendingVersionInTheTrayAndWindow();

private:
    // An updater of the test feed whose first scheduled check comes after `firstDelay`.
    std::unique_ptr<Updater> makeUpdater(std::chrono::milliseconds firstDelay = 1h);
    // Waits until a check that reached the server has ended.
    bool checkEnded(Updater &updater, int requestsBefore);

    QTemporaryDir m_keys;
    QString m_publicKey;
    QString m_signature;
    const QByteArray m_package = "!<arch>\nVyo 2.0 꾸러미\n" + QByteArray(5000, 'p');
    std::unique_ptr<Session> m_session;
    QDateTime m_now;
};

void TestUpdater::initTestCase()
{
    const QString package = m_keys.filePath("vyo_2.0_amd64.deb");
    QVERIFY(test::writeFile(package, m_package));
    m_publicKey = runSigningScript({"keygen", m_keys.filePath("release.pem")});
    m_signature = runSigningScript({"sign", m_keys.filePath("release.pem"), package});
    QVERIFY(m_signature.startsWith(QStringLiteral("length=\"%1\" ").arg(m_package.size())));
    m_signature = m_signature.section('"', 3, 3);
    QVERIFY(!m_publicKey.isEmpty() && !m_signature.isEmpty());
}

void TestUpdater::init()
{
    m_session = std::make_unique<Session>();
    m_now = QDateTime(QDate(2026, 3, 1), QTime(9, 0), Qt::UTC);
    m_session->server.set("/vyo_2.0_amd64.deb", FeedServer::Answer(m_package));
    m_session->server.set("/appcast.xml",
                          feedOffering("2.0", m_session->server.url("/vyo_2.0_amd64.deb"),
                                       m_package.size(), m_signature));
}

void TestUpdater::cleanup()
{
    for (QWidget *widget : QApplication::topLevelWidgets())
        delete qobject_cast<UpdateWindow *>(widget);
    m_session.reset();
}

std::unique_ptr<Updater> TestUpdater::makeUpdater(std::chrono::milliseconds firstDelay)
{
    Updater::Configuration configuration;
    configuration.feedUrl = m_session->server.url("/appcast.xml");
    configuration.publicKey = m_publicKey;
    configuration.currentVersion = "1.5";
    configuration.schedule = {24h, firstDelay};
    configuration.timeout = 300ms;
    configuration.maxDownloadBytes = 64 * 1024;
    configuration.executablePath = "/usr/bin/vyo";
    configuration.dpkgInfoFolder = m_session->dir.filePath("dpkg");
    configuration.downloadFolder = m_session->dir.filePath("Downloads");
    auto updater = std::make_unique<Updater>(configuration, m_session->defaults);
    updater->now = [this] { return m_now; };
    updater->isInFocus = [] { return false; };
    return updater;
}

bool TestUpdater::checkEnded(Updater &updater, int requestsBefore)
{
    return QTest::qWaitFor(
        [&] { return m_session->server.requests > requestsBefore && updater.canCheckForUpdates(); },
        10000);
}

void TestUpdater::failures_data()
{
    QTest::addColumn<FeedServer::Answer>("answer");
    QTest::addColumn<QString>("reason");
    using Answer = FeedServer::Answer;
    QTest::newRow("huge") << Answer(QByteArray(2 * 1024 * 1024, '<')) << "크기보다 큼";
    QTest::newRow("never answers") << Answer({}, {}) << "제때 응답하지 않음";
    QTest::newRow("redirect to http")
        << Answer({}, "302 Found", "Location: http://localhost/appcast.xml\r\n")
        << "안전하지 않은 주소";
}

void TestUpdater::failures()
{
    QFETCH(FeedServer::Answer, answer);
    QFETCH(QString, reason);
    m_session->server.set("/appcast.xml", answer);
    std::unique_ptr<Updater> updater = makeUpdater(1h);
    QSignalSpy found(updater.get(), &Updater::updateFound);
    QSignalSpy failed(updater.get(), &Updater::checkFailed);
    updater->start();
    updater->checkForUpdates();
    QVERIFY(checkEnded(*updater, 0));
    // Told to the user who asked; the schedule carries on.
    QVERIFY(found.isEmpty());
    QCOMPARE(failed.count(), 1);
    const QString told = failed.first().at(0).toString();
    QVERIFY2(told.contains(reason), qPrintable(told));
    QCOMPARE(m_session->server.requests, 1);
    QCOMPARE(updater->nextScheduledCheck(), m_now.addDays(1));
}

void TestUpdater::downloads_data()
{
    QTest::addColumn<FeedServer::Answer>("answer");
    QTest::addColumn<QString>("detail"); // the landed package's path, or the reason of a refusal
    using Answer = FeedServer::Answer;
    QByteArray altered = m_package;
    altered[40] = 'q';
    QTest::newRow("verified") << Answer(m_package) << "Downloads/vyo_2.0_amd64-1.deb";
    QTest::newRow("altered byte") << Answer(altered) << "서명이 맞지 않음";
    QTest::newRow("truncated") << Answer(m_package.left(1000), "200 OK", {}, 5000) << "";
    QTest::newRow("larger than declared") << Answer(m_package + "more") << "크기보다 큼";
}

void TestUpdater::downloads()
{
    QFETCH(FeedServer::Answer, answer);
    QFETCH(QString, detail);
    // dpkg lists the executable, so this is a package install; a download of the same name is
    // there.
    QVERIFY(
        test::writeFile(m_session->dir.filePath("dpkg/vyo.list"), "/.\n/usr/bin\n/usr/bin/vyo\n"));
    const QDir downloads(m_session->dir.filePath("Downloads"));
    QVERIFY(test::writeFile(downloads.filePath("vyo_2.0_amd64.deb"), "older"));
    m_session->server.set("/vyo_2.0_amd64.deb", answer);

    std::unique_ptr<Updater> updater = makeUpdater(1h);
    updater->start();
    QVERIFY(updater->isPackageInstall());
    QSignalSpy found(updater.get(), &Updater::updateFound);
    updater->checkForUpdates();
    QTRY_COMPARE(found.count(), 1);
    QSignalSpy finished(updater.get(), &Updater::installFinished);
    updater->install(found.first().at(0).value<UpdateItem>());
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
    const bool landed = detail.endsWith(".deb");
    QCOMPARE(finished.first().at(0).value<Updater::InstallOutcome>(),
             landed ? Updater::InstallOutcome::openedInstaller : Updater::InstallOutcome::failed);
    QVERIFY2(finished.first().at(1).toString().contains(detail),
             qPrintable(finished.first().at(1).toString()));
    QVERIFY(updater->canCheckForUpdates());

    // Only a verified package lands, beside the earlier download, never over it, and is opened.
    const QUrl landedUrl = QUrl::fromLocalFile(downloads.filePath("vyo_2.0_amd64-1.deb"));
    QCOMPARE(downloads.entryList(QDir::Files).size(), landed ? 2 : 1);
    QFile older(downloads.filePath("vyo_2.0_amd64.deb"));
    QVERIFY(older.open(QIODevice::ReadOnly) && older.readAll() == "older");
    QFile package(landedUrl.toLocalFile());
    QVERIFY(!landed || (package.open(QIODevice::ReadOnly) && package.readAll() == m_package));
    QCOMPARE(m_session->desktop.fileManager().opened(),
             landed ? QList<QUrl>{landedUrl} : QList<QUrl>{});
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
    // A restart an hour later keeps the day's rhythm.
    m_now = launched.addSecs(3600);
    std::unique_ptr<Updater> restarted = makeUpdater(0ms);
    restarted->start();
    QCOMPARE(restarted->nextScheduledCheck(), launched.addDays(1));

    // Turned off, nothing is scheduled after a restart either.
    restarted->setAutomaticallyChecksForUpdates(false);
    std::unique_ptr<Updater> off = makeUpdater(0ms);
    off->start();
    QVERIFY(!off->nextScheduledCheck().isValid());
}

void TestUpdater::pendingVersionInTheTrayAndWindow()
{
    FakeHotKeys hotKeys;
    KeyboardShortcuts::Registry shortcuts(m_session->defaults, &hotKeys);
    ShelfManager manager(ShelfPersistence(m_session->dir.filePath("shelves.json")),
                         ShelfPanelController::windowMaker());
    StatusItemController tray(manager, shortcuts);
    std::unique_ptr<Updater> updater = makeUpdater(0ms);
    QSignalSpy changed(updater.get(), &Updater::pendingVersionChanged);
    UpdateWindow::follow(*updater);
    tray.setUpdater(updater.get());
    const auto entry = [&tray](const QString &title) {
        tray.rebuildMenu();
        return test::menuEntry(tray.menu(), title);
    };

    // A scheduled check while the user is elsewhere: the quiet entry, no window.
    updater->start();
    QVERIFY(checkEnded(*updater, 0));
    QCOMPARE(changed.count(), 1);
    QVERIFY(!shownUpdateWindow());
    QAction *install = entry("새 버전 2.0 설치…");
    QVERIFY(install);

    // Choosing it checks; the window shows the update: the user has seen it.
    install->trigger();
    QTRY_VERIFY(shownUpdateWindow());
    UpdateWindow *window = shownUpdateWindow();
    QCOMPARE(window->findChild<QLabel *>("updateTitle")->text(), "새 버전 Vyo 2.0");
    QVERIFY(!updater->pendingVersion());
    QCOMPARE(changed.count(), 2);
    QVERIFY(entry("업데이트 확인…")->isEnabled());
    QTest::mouseClick(window->findChild<QPushButton *>("laterButton"), Qt::LeftButton);
    QTRY_VERIFY(!shownUpdateWindow());
}

QTEST_MAIN(TestUpdater)
#include "tst_updater.moc"
