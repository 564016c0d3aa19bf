// The file manager of a freedesktop session, over a private session bus with a file-manager
// service of the test's own.

#include "platform/linux/FreedesktopFileManager.h"

#include "DesktopFakes.h"
#include "PrivateSessionBus.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDesktopServices>
#include <QTest>

using namespace vyo;

namespace {

using test::FakeFileManagerService;
using test::OpenedURLs;

const QString connectionName = QStringLiteral("fakeFileManager");
const QString serviceName = QStringLiteral("org.freedesktop.FileManager1");

} // namespace

class TestFileManager : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void revealSendsOneShowItemsCall();
    void revealOpensFoldersWithoutAFileManager();
    void openUsesTheDefaultApplication();
    void parentFolders_data();
    void parentFolders();

private:
    FreedesktopFileManager m_freedesktop;
    FakeFileManagerService m_fileManager;
    OpenedURLs m_opened;
};

void TestFileManager::initTestCase()
{
    QDBusConnection bus =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName);
    QVERIFY(bus.isConnected());
    QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &m_fileManager,
                               QDBusConnection::ExportAllSlots));
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &m_opened, "open");
}

void TestFileManager::cleanupTestCase()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QDBusConnection::disconnectFromBus(connectionName);
}

void TestFileManager::init()
{
    m_fileManager.calls.clear();
    m_opened.urls.clear();
}

void TestFileManager::revealSendsOneShowItemsCall()
{
    QDBusConnection bus(connectionName);
    QVERIFY(bus.registerService(serviceName));
    const QList<QUrl> files{QUrl::fromLocalFile("/tmp/내려받기/보고서 최종.zip"),
                            QUrl::fromLocalFile("/tmp/other/a#b.txt")};
    m_freedesktop.reveal(files);
    QTRY_COMPARE(m_fileManager.calls.size(), 1);
    QCOMPARE(m_fileManager.calls.first(),
             (QStringList{"file:///tmp/%EB%82%B4%EB%A0%A4%EB%B0%9B%EA%B8%B0/"
                          "%EB%B3%B4%EA%B3%A0%EC%84%9C%20%EC%B5%9C%EC%A2%85.zip",
                          "file:///tmp/other/a%23b.txt"}));
    QTest::qWait(100);
    QCOMPARE(m_fileManager.calls.size(), 1);
    QVERIFY(m_opened.urls.isEmpty());
    QVERIFY(bus.unregisterService(serviceName));
}

void TestFileManager::revealOpensFoldersWithoutAFileManager()
{
    m_freedesktop.reveal({QUrl::fromLocalFile("/tmp/a/1.txt"), QUrl::fromLocalFile("/tmp/b/2.txt"),
                          QUrl::fromLocalFile("/tmp/a/3.txt")});
    QTRY_COMPARE(m_opened.urls.size(), 2);
    QCOMPARE(m_opened.urls,
             (QList<QUrl>{QUrl::fromLocalFile("/tmp/a"), QUrl::fromLocalFile("/tmp/b")}));
    QVERIFY(m_fileManager.calls.isEmpty());
}

void TestFileManager::openUsesTheDefaultApplication()
{
    const QUrl file = QUrl::fromLocalFile("/tmp/문서.pdf");
    QVERIFY(m_freedesktop.open(file));
    QCOMPARE(m_opened.urls, QList<QUrl>{file});
}

void TestFileManager::parentFolders_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("folders");
    QTest::newRow("one") << QStringList{"/a/b/c.txt"} << QStringList{"/a/b"};
    QTest::newRow("each folder once, in order")
        << QStringList{"/x/1", "/a/2", "/x/3"} << QStringList{"/x", "/a"};
    QTest::newRow("a folder's folder") << QStringList{"/a/b/"} << QStringList{"/a"};
    QTest::newRow("root") << QStringList{"/c.txt"} << QStringList{"/"};
}

void TestFileManager::parentFolders()
{
    QFETCH(QStringList, files);
    QFETCH(QStringList, folders);
    QList<QUrl> urls;
    for (const QString &file : files)
        urls.append(QUrl::fromLocalFile(file));
    QList<QUrl> expected;
    for (const QString &folder : folders)
        expected.append(QUrl::fromLocalFile(folder));
    QCOMPARE(FileManager::parentFolders(urls), expected);
}

int main(int argc, char **argv)
{
    // Before the application object, which may already use the session bus.
    vyo::test::PrivateSessionBus bus;
    if (!bus.start())
        return 1;
    QApplication application(argc, argv);
    TestFileManager test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_filemanager.moc"
