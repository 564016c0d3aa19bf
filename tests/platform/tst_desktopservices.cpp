// The services of a freedesktop session: the handler of vyoshelf: links in the user's desktop
// files, and over D-Bus, against services of the test's own on a private bus, the file manager and
// systemd-logind holding off idle sleep (the private bus stands in for the system bus too).

#include "platform/ScreenshotFolder.h"
#include "platform/UrlSchemeRegistration.h"
#include "platform/linux/FreedesktopFileManager.h"
#include "platform/linux/LogindIdleInhibitor.h"

#include "DesktopFakes.h"
#include "PrivateSessionBus.h"
#include "TestSupport.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

using namespace vyo;

namespace {

const QString connectionName = QStringLiteral("fakeServices");
const QString fileManagerName = QStringLiteral("org.freedesktop.FileManager1");
const QString logindName = QStringLiteral("org.freedesktop.login1");

// org.freedesktop.login1.Manager.Inhibit: answers the write end of a pipe, so that the test can
// see when every copy of it is closed.
class FakeLogind : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    ~FakeLogind() override
    {
        if (readEnd >= 0)
            ::close(readEnd);
    }

    QStringList lastCall;
    int readEnd = -1;

    // Whether every copy of the handed-out descriptor has been closed.
    bool released() const
    {
        char byte;
        return readEnd >= 0 && ::read(readEnd, &byte, 1) == 0;
    }

public Q_SLOTS:
    QDBusUnixFileDescriptor Inhibit(const QString &what, const QString &who, const QString &why,
                                    const QString &mode)
    {
        lastCall = {what, who, why, mode};
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0)
            return {};
        ::fcntl(ends[0], F_SETFL, O_NONBLOCK);
        if (readEnd >= 0)
            ::close(readEnd);
        readEnd = ends[0];
        QDBusUnixFileDescriptor answer(ends[1]);
        ::close(ends[1]);
        return answer;
    }
};

} // namespace

class TestDesktopServices : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void revealSendsOneShowItemsCall();
    void revealOpensFoldersWithoutAFileManager();
    void idleIsHeldUntilReleased();
    void execQuoting_data();
    void execQuoting();
    void mimeappsUpdate_data();
    void mimeappsUpdate();
    void registrationWritesItsFiles();
    void unreadableFilesStayUntouched_data();
    void unreadableFilesStayUntouched();
    void packagedEntryMatchesRegisteredOne();
    void screenshotFolder_data();
    void screenshotFolder();

private:
    QDBusConnection bus() { return QDBusConnection(connectionName); }

    test::FakeFileManagerService m_fileManager;
    test::OpenedURLs m_opened;
    FakeLogind m_logind;
};

void TestDesktopServices::initTestCase()
{
    QDBusConnection bus =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName);
    QVERIFY(bus.isConnected());
    QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &m_fileManager,
                               QDBusConnection::ExportAllSlots));
    QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/login1"), &m_logind,
                               QDBusConnection::ExportAllSlots));
    QVERIFY(bus.registerService(logindName));
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &m_opened, "open");
}

void TestDesktopServices::cleanupTestCase()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QDBusConnection::disconnectFromBus(connectionName);
}

void TestDesktopServices::revealSendsOneShowItemsCall()
{
    QVERIFY(bus().registerService(fileManagerName));
    FreedesktopFileManager fileManager;
    fileManager.reveal({QUrl::fromLocalFile("/tmp/내려받기/보고서 최종.zip"),
                        QUrl::fromLocalFile("/tmp/other/a#b.txt")});
    // A second reveal: its call comes after every call of the first.
    fileManager.reveal({QUrl::fromLocalFile("/tmp/c.txt")});
    const QList<QStringList> expected{{"file:///tmp/%EB%82%B4%EB%A0%A4%EB%B0%9B%EA%B8%B0/"
                                       "%EB%B3%B4%EA%B3%A0%EC%84%9C%20%EC%B5%9C%EC%A2%85.zip",
                                       "file:///tmp/other/a%23b.txt"},
                                      {"file:///tmp/c.txt"}};
    QTRY_COMPARE(m_fileManager.calls, expected);
    QVERIFY(m_opened.urls.isEmpty());
    QVERIFY(bus().unregisterService(fileManagerName));
    // Opening a file goes to its default application.
    const QUrl file = QUrl::fromLocalFile("/tmp/문서.pdf");
    QVERIFY(fileManager.open(file));
    QCOMPARE(m_opened.urls, QList<QUrl>{file});
}

void TestDesktopServices::revealOpensFoldersWithoutAFileManager()
{
    m_fileManager.calls.clear();
    m_opened.urls.clear();
    // Each folder once, in order; a folder's folder; the root.
    FreedesktopFileManager().reveal(
        {QUrl::fromLocalFile("/tmp/a/1.txt"), QUrl::fromLocalFile("/tmp/b/2.txt"),
         QUrl::fromLocalFile("/tmp/a/3.txt"), QUrl::fromLocalFile("/tmp/c/d/"),
         QUrl::fromLocalFile("/e.txt")});
    QTRY_COMPARE(m_opened.urls,
                 (QList<QUrl>{QUrl::fromLocalFile("/tmp/a"), QUrl::fromLocalFile("/tmp/b"),
                              QUrl::fromLocalFile("/tmp/c"), QUrl::fromLocalFile("/")}));
    QVERIFY(m_fileManager.calls.isEmpty());
}

void TestDesktopServices::idleIsHeldUntilReleased()
{
    LogindIdleInhibitor inhibitor;
    inhibitor.inhibit(QStringLiteral("Vyo 셸프를 휴대폰·PC와 공유하는 중"));
    QTRY_VERIFY(inhibitor.isInhibiting());
    QCOMPARE(m_logind.lastCall,
             QStringList({"idle", "Vyo", "Vyo 셸프를 휴대폰·PC와 공유하는 중", "block"}));
    QVERIFY(!m_logind.released());
    inhibitor.inhibit(QStringLiteral("again")); // holding already: no second call
    QCOMPARE(m_logind.lastCall.at(2), QStringLiteral("Vyo 셸프를 휴대폰·PC와 공유하는 중"));
    inhibitor.release();
    QVERIFY(!inhibitor.isInhibiting());
    QVERIFY(m_logind.released());
}

void TestDesktopServices::execQuoting_data()
{
    QTest::addColumn<QString>("executable");
    QTest::addColumn<QString>("execLine");
    const std::pair<const char *, const char *> rows[] = {
        {"/opt/my apps/vyo", "Exec=\"/opt/my apps/vyo\" %u"},
        {"/opt/100%/vyo", "Exec=\"/opt/100%%/vyo\" %u"},
        {"/o/$x\"y/vyo", "Exec=\"/o/\\\\$x\\\\\"y/vyo\" %u"},
        {"/home/사용자/vyo", "Exec=/home/사용자/vyo %u"},
    };
    for (const auto &[executable, execLine] : rows)
        QTest::newRow(executable) << QString::fromUtf8(executable) << QString::fromUtf8(execLine);
}

void TestDesktopServices::execQuoting()
{
    QFETCH(QString, executable);
    QFETCH(QString, execLine);
    const QString text = desktopEntryText(executable);
    QVERIFY2(text.split('\n').contains(execLine), qPrintable(text));
    QVERIFY(text.contains("MimeType=x-scheme-handler/vyoshelf;"));
}

void TestDesktopServices::mimeappsUpdate_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    const QString entry = "x-scheme-handler/vyoshelf=app.vyo.Vyo.desktop";
    QTest::newRow("empty") << ""
                           << "[Default Applications]\n" + entry + "\n";
    QTest::newRow("other sections kept")
        << "[Added Associations]\ntext/plain=gedit.desktop;\n"
        << "[Added Associations]\ntext/plain=gedit.desktop;\n\n[Default Applications]\n" + entry +
               "\n";
    QTest::newRow("inserted into existing section")
        << "[Default Applications]\ntext/html=firefox.desktop\n[Other]\nx=y\n"
        << "[Default Applications]\n" + entry + "\ntext/html=firefox.desktop\n[Other]\nx=y\n";
    QTest::newRow("old handler replaced")
        << "[Default Applications]\nx-scheme-handler/vyoshelf=old.desktop\n"
        << "[Default Applications]\n" + entry + "\n";
    QTest::newRow("same key in another section untouched")
        << "[Removed Associations]\nx-scheme-handler/vyoshelf=app.vyo.Vyo.desktop;\n"
        << "[Removed Associations]\nx-scheme-handler/vyoshelf=app.vyo.Vyo.desktop;\n\n"
           "[Default Applications]\n" +
               entry + "\n";
}

void TestDesktopServices::mimeappsUpdate()
{
    QFETCH(QString, before);
    QFETCH(QString, after);
    QCOMPARE(withDefaultApplication(before, "x-scheme-handler/vyoshelf", "app.vyo.Vyo.desktop"),
             after);
}

void TestDesktopServices::registrationWritesItsFiles()
{
    QString error;
    QVERIFY2(registerUrlSchemeHandler("/opt/vyo/bin/vyo", &error), qPrintable(error));
    QFile entry(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                "/applications/app.vyo.Vyo.desktop");
    QVERIFY(entry.open(QIODevice::ReadOnly));
    QVERIFY(entry.readAll().contains("Exec=/opt/vyo/bin/vyo %u"));
    QFile mimeapps(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                   "/mimeapps.list");
    QVERIFY(mimeapps.open(QIODevice::ReadOnly));
    const QByteArray first = mimeapps.readAll();
    QVERIFY(first.contains("x-scheme-handler/vyoshelf=app.vyo.Vyo.desktop"));
    // The entry's icon, byte for byte the packaged one.
    QFile icon(userIconPath());
    QVERIFY2(icon.open(QIODevice::ReadOnly), qPrintable(userIconPath()));
    QFile packagedIcon(VYO_PACKAGED_ICON);
    QVERIFY(packagedIcon.open(QIODevice::ReadOnly));
    QCOMPARE(icon.readAll(), packagedIcon.readAll());
    // A second registration leaves the files as they are.
    QVERIFY(registerUrlSchemeHandler("/opt/vyo/bin/vyo", &error));
    mimeapps.seek(0);
    QCOMPARE(mimeapps.readAll(), first);
}

void TestDesktopServices::unreadableFilesStayUntouched_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("damage");
    const QString mimeapps =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/mimeapps.list";
    const QString entry = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                          "/applications/app.vyo.Vyo.desktop";
    QTest::newRow("mimeapps.list, a folder") << mimeapps << "a folder";
    QTest::newRow("desktop entry, dangling link") << entry << "dangling link";
    QTest::newRow("mimeapps.list, not UTF-8") << mimeapps << "not UTF-8";
}

void TestDesktopServices::unreadableFilesStayUntouched()
{
    QFETCH(QString, file);
    QFETCH(QString, damage);
    // Other programs' choices, in bytes that are not UTF-8.
    const QByteArray others = "[Default Applications]\ntext/html=b\xe9"
                              "b\xe9.desktop\n";
    QFile::remove(file); // as registration wrote it
    QVERIFY(QDir().mkpath(damage == "a folder" ? file : QFileInfo(file).absolutePath()));
    if (damage == "dangling link")
        QVERIFY(QFile::link(file + ".gone", file));
    if (damage == "not UTF-8")
        QVERIFY(test::writeFile(file, others));
    QString error;
    QVERIFY(!registerUrlSchemeHandler("/opt/vyo/bin/vyo", &error));
    QVERIFY2(error.startsWith(file + ": "), qPrintable(error));
    QCOMPARE(QFileInfo(file).isDir(), damage == "a folder");
    QCOMPARE(QFileInfo(file).symLinkTarget(),
             damage == "dangling link" ? QString(file + ".gone") : QString());
    QCOMPARE(test::readFile(file), damage == "not UTF-8" ? others : QByteArray());
    QFile::remove(file);
    QDir(file).removeRecursively();
}

void TestDesktopServices::packagedEntryMatchesRegisteredOne()
{
    QFile packaged(VYO_PACKAGED_DESKTOP_ENTRY);
    QVERIFY(packaged.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(packaged.readAll()), desktopEntryText("vyo"));
}

void TestDesktopServices::screenshotFolder_data()
{
    QTest::addColumn<QString>("desktop");
    QTest::addColumn<QByteArray>("spectaclerc");
    QTest::addColumn<bool>("picturesScreenshotsExists");
    QTest::addColumn<QString>("expected");
    const QByteArray current = "[ImageSave]\nimageSaveLocation=file:///data/shots/\n";
    QTest::newRow("KDE, current setting") << "KDE" << current << false << "/data/shots";
    QTest::newRow("KDE, older setting")
        << "KDE" << QByteArray("[Save]\ndefaultSaveLocation=file:///data/old%20shots\n") << false
        << "/data/old shots";
    QTest::newRow("KDE, tilde") << "KDE" << QByteArray("[ImageSave]\nimageSaveLocation=~/Shots\n")
                                << false << "/home/u/Shots";
    QTest::newRow("KDE, not local")
        << "KDE" << QByteArray("[ImageSave]\nimageSaveLocation=smb://server/share\n") << false
        << "/home/u/Desktop";
    QTest::newRow("KDE settings elsewhere") << "XFCE" << current << false << "/home/u/Desktop";
    QTest::newRow("Ubuntu's GNOME")
        << "ubuntu:GNOME" << QByteArray() << false << "/home/u/Pictures/Screenshots";
    QTest::newRow("other, Screenshots exists")
        << "XFCE" << QByteArray() << true << "/home/u/Pictures/Screenshots";
}

void TestDesktopServices::screenshotFolder()
{
    QFETCH(QString, desktop);
    QFETCH(QByteArray, spectaclerc);
    QFETCH(bool, picturesScreenshotsExists);
    QFETCH(QString, expected);
    QTemporaryDir configHome;
    QVERIFY(spectaclerc.isEmpty() ||
            test::writeFile(configHome.filePath("spectaclerc"), spectaclerc));
    ScreenshotFolderSources sources;
    sources.currentDesktop = desktop;
    sources.configHome = configHome.path();
    sources.home = QStringLiteral("/home/u");
    sources.pictures = QStringLiteral("/home/u/Pictures");
    sources.desktop = QStringLiteral("/home/u/Desktop");
    sources.isFolder = [picturesScreenshotsExists](const QString &path) {
        return picturesScreenshotsExists && path == QStringLiteral("/home/u/Pictures/Screenshots");
    };
    QCOMPARE(vyo::screenshotFolder(sources), expected);
}

int main(int argc, char **argv)
{
    // Before the application object, which may already use the session bus; the idle inhibitor
    // talks to the system bus: make it this private one too.
    vyo::test::PrivateSessionBus bus;
    if (!bus.start())
        return 1;
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", qgetenv("DBUS_SESSION_BUS_ADDRESS"));
    QApplication application(argc, argv);
    TestDesktopServices test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_desktopservices.moc"
