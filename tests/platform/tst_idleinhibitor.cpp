// Holding off idle sleep through systemd-logind, against a logind of the test's own on a private
// bus that stands in for the system bus: the hold is the descriptor logind hands out, and it
// must be let go exactly when the share ends.

#include "platform/linux/LogindIdleInhibitor.h"

#include "PrivateSessionBus.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

using namespace vyo;

namespace {

const QString connectionName = QStringLiteral("fakeLogind");

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

class TestIdleInhibitor : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void holdsUntilReleased();
    void releasedBeforeLogindAnswers();
    void withoutLogindNothingIsHeld();

private:
    test::PrivateSessionBus m_bus;
    FakeLogind m_logind;
};

void TestIdleInhibitor::initTestCase()
{
    QVERIFY(m_bus.start());
    // The inhibitor talks to the system bus: make it this private one.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", qgetenv("DBUS_SESSION_BUS_ADDRESS"));
    QDBusConnection bus =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName);
    QVERIFY(bus.isConnected());
    QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/login1"), &m_logind,
                               QDBusConnection::ExportAllSlots));
    QVERIFY(bus.registerService(QStringLiteral("org.freedesktop.login1")));
}

void TestIdleInhibitor::cleanupTestCase()
{
    QDBusConnection::disconnectFromBus(connectionName);
}

void TestIdleInhibitor::holdsUntilReleased()
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

void TestIdleInhibitor::releasedBeforeLogindAnswers()
{
    LogindIdleInhibitor inhibitor;
    inhibitor.inhibit(QStringLiteral("짧게"));
    inhibitor.release();
    // The answer arrives later and is let go at once.
    QTRY_COMPARE(m_logind.lastCall.value(2), QStringLiteral("짧게"));
    QTRY_VERIFY(m_logind.released());
    QVERIFY(!inhibitor.isInhibiting());
}

void TestIdleInhibitor::withoutLogindNothingIsHeld()
{
    QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName)
        .unregisterService(QStringLiteral("org.freedesktop.login1"));
    test::LogCapture log;
    LogindIdleInhibitor inhibitor;
    inhibitor.inhibit(QStringLiteral("없음"));
    QTRY_VERIFY(log.contains("잠자기 방지를 켜지 못함"));
    QVERIFY(!inhibitor.isInhibiting());
    inhibitor.release();
}

QTEST_GUILESS_MAIN(TestIdleInhibitor)
#include "tst_idleinhibitor.moc"
