// The desktop services reached over D-Bus, against services of the test's own on a private bus:
// the file manager of a freedesktop session, and systemd-logind holding off idle sleep (the private
// bus stands in for the system bus too).

#include "platform/linux/FreedesktopFileManager.h"
#include "platform/linux/LogindIdleInhibitor.h"

#include "DesktopFakes.h"
#include "PrivateSessionBus.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QDesktopServices>
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

class TestDBusServices : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void revealSendsOneShowItemsCall();
    void revealOpensFoldersWithoutAFileManager();
    void idleIsHeldUntilReleased();

private:
    QDBusConnection bus() { return QDBusConnection(connectionName); }

    test::FakeFileManagerService m_fileManager;
    test::OpenedURLs m_opened;
    FakeLogind m_logind;
};

void TestDBusServices::initTestCase()
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

void TestDBusServices::cleanupTestCase()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QDBusConnection::disconnectFromBus(connectionName);
}

void TestDBusServices::revealSendsOneShowItemsCall()
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

void TestDBusServices::revealOpensFoldersWithoutAFileManager()
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

void TestDBusServices::idleIsHeldUntilReleased()
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

int main(int argc, char **argv)
{
    // Before the application object, which may already use the session bus; the idle inhibitor
    // talks to the system bus: make it this private one too.
    vyo::test::PrivateSessionBus bus;
    if (!bus.start())
        return 1;
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", qgetenv("DBUS_SESSION_BUS_ADDRESS"));
    QApplication application(argc, argv);
    TestDBusServices test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_dbusservices.moc"
