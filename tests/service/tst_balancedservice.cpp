// Several vyo-service processes behind HAProxy with the shipped example configuration, all on
// 127.0.0.1: every room's members meet on one process, rooms spread over the processes, and a
// draining process keeps its open rooms while new rooms go elsewhere, then exits.

#include "ChildProcess.h"
#include "RoomHub.h"
#include "ServiceTestSupport.h"

#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

using namespace vyo;
using namespace vyo::test;

namespace {

constexpr int processCount = 3;
constexpr int roomCount = 30;

// A room as a host and two guests see it, all connected through the balancer.
struct BalancedRoom
{
    QString id;
    std::unique_ptr<TestSocket> host;
    std::unique_ptr<TestSocket> guests[2];
    int process = -1;
};

} // namespace

class TestBalancedService : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void roomsMeetOnOneProcessAndSpread();
    void drainingProcessKeepsItsRoomsOnly();

private:
    QUrl roomURL(const QString &roomID, const QString &role) const;
    QString origin() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_balancerPort); }
    // Rooms per process, from each process's own /healthz; -1 for one that does not answer.
    QList<int> roomsPerProcess() const;
    // Connects a host and two guests through the balancer and checks that they met.
    bool openRoom(BalancedRoom &room);

    QTemporaryDir m_dir;
    std::unique_ptr<ChildProcess> m_services[processCount];
    quint16 m_ports[processCount] = {};
    std::unique_ptr<ChildProcess> m_balancer;
    quint16 m_balancerPort = 0;
    std::vector<BalancedRoom> m_rooms;
};

QUrl TestBalancedService::roomURL(const QString &roomID, const QString &role) const
{
    return QUrl(QStringLiteral("ws://127.0.0.1:%1/api/room/%2?role=%3")
                    .arg(m_balancerPort)
                    .arg(roomID, role));
}

QList<int> TestBalancedService::roomsPerProcess() const
{
    QList<int> counts;
    for (quint16 port : m_ports) {
        const HttpAnswer answer =
            httpGet(QUrl(QStringLiteral("http://127.0.0.1:%1/healthz").arg(port)));
        counts.append(answer.status ? QJsonDocument::fromJson(answer.body)["rooms"].toInt() : -1);
    }
    return counts;
}

bool TestBalancedService::openRoom(BalancedRoom &room)
{
    room.host = std::make_unique<TestSocket>();
    room.host->open(roomURL(room.id, QStringLiteral("host")));
    if (!room.host->waitOpen())
        return false;
    for (auto &guest : room.guests) {
        guest = std::make_unique<TestSocket>(origin());
        guest->open(roomURL(room.id, QStringLiteral("guest")));
        const std::optional<QJsonObject> welcome = guest->take(QStringLiteral("welcome"));
        // The guest found the host: both reached the same process.
        if (!welcome || !(*welcome)[QLatin1String("host")].toBool())
            return false;
    }
    return room.host->take(QStringLiteral("peer-joined")) &&
           room.host->take(QStringLiteral("peer-joined"));
}

void TestBalancedService::initTestCase()
{
    const QString haproxy = QStandardPaths::findExecutable(QStringLiteral("haproxy"));
    QVERIFY2(!haproxy.isEmpty(), "haproxy is missing: run scripts/install-deps.sh");
    QVERIFY(m_dir.isValid());
    for (int i = 0; i < processCount; ++i) {
        m_services[i] = std::make_unique<ChildProcess>(
            QStringLiteral(VYO_SERVICE_BINARY),
            QStringList{"--port", "0", "--drain-timeout", "20", "--keepalive", "0"});
        QVERIFY(m_services[i]->waitForOutput(QRegularExpression("listening on \\S+ port \\d+\\n")));
        const QRegularExpressionMatch port =
            QRegularExpression("port (\\d+)").match(m_services[i]->output());
        m_ports[i] = quint16(port.captured(1).toUInt());
    }
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        m_balancerPort = probe.serverPort();
    }

    // The shipped configuration, with this test's ports in place of the example's.
    QFile shipped(QStringLiteral(VYO_HAPROXY_CONFIG));
    QVERIFY(shipped.open(QIODevice::ReadOnly));
    QString config = QString::fromUtf8(shipped.readAll());
    QVERIFY(config.contains(QStringLiteral("bind 127.0.0.1:8080")));
    config.replace(QStringLiteral("bind 127.0.0.1:8080"),
                   QStringLiteral("bind 127.0.0.1:%1").arg(m_balancerPort));
    for (int i = 0; i < processCount; ++i) {
        const QString server = QStringLiteral(" 127.0.0.1:%1\n").arg(8081 + i);
        QVERIFY2(config.contains(server), qPrintable(server));
        config.replace(server, QStringLiteral(" 127.0.0.1:%1\n").arg(m_ports[i]));
    }
    QFile written(m_dir.filePath(QStringLiteral("haproxy.cfg")));
    QVERIFY(written.open(QIODevice::WriteOnly) && written.write(config.toUtf8()) > 0);
    written.close();
    m_balancer =
        std::make_unique<ChildProcess>(haproxy, QStringList{"-db", "-f", written.fileName()});
    QVERIFY2(
        QTest::qWaitFor(
            [this] {
                return httpGet(
                           QUrl(QStringLiteral("http://127.0.0.1:%1/healthz").arg(m_balancerPort)))
                           .status == 200;
            },
            10000),
        qPrintable(m_balancer->output()));
}

void TestBalancedService::roomsMeetOnOneProcessAndSpread()
{
    QList<int> before = roomsPerProcess();
    for (int n = 0; n < roomCount; ++n) {
        BalancedRoom &room = m_rooms.emplace_back();
        room.id = testRoomID(n);
        QVERIFY2(openRoom(room), qPrintable(room.id));
        const QList<int> after = roomsPerProcess();
        for (int i = 0; i < processCount; ++i) {
            if (after[i] == before[i] + 1)
                room.process = i;
        }
        QVERIFY(room.process >= 0);
        before = after;
        // Signals go both ways within the room.
        room.host->sendJson({{"type", "signal"}, {"to", "nobody"}, {"payload", "p"}, {"sig", "s"}});
        room.guests[0]->sendJson({{"type", "signal"}, {"payload", "p"}, {"sig", "s"}});
        QVERIFY(room.host->take(QStringLiteral("signal")));
    }
    for (int i = 0; i < processCount; ++i)
        QVERIFY2(before[i] > 0 && before[i] < roomCount * 2 / 3, qPrintable(QString::number(i)));
}

void TestBalancedService::drainingProcessKeepsItsRoomsOnly()
{
    const int draining = 0;
    // One room of the draining process stays open; the others end, so that their identifiers
    // now belong to no room.
    BalancedRoom *kept = nullptr;
    QStringList freed;
    for (BalancedRoom &room : m_rooms) {
        if (room.process != draining || room.id.isEmpty())
            continue;
        if (!kept) {
            kept = &room;
            continue;
        }
        room.host->close();
        room.guests[0]->close();
        room.guests[1]->close();
        freed.append(room.id);
        room.id.clear();
    }
    QVERIFY(kept && !freed.isEmpty());
    QTRY_COMPARE(roomsPerProcess()[draining], 1);

    m_services[draining]->signal(SIGTERM);
    QTRY_COMPARE(
        httpGet(QUrl(QStringLiteral("http://127.0.0.1:%1/healthz").arg(m_ports[draining]))).status,
        503);
    // A new room that hashes to the draining process is refused there until the balancer's
    // health checks take the process out; then it opens on another one.
    QVERIFY(QTest::qWaitFor(
        [&] {
            TestSocket host;
            host.open(roomURL(freed.first(), QStringLiteral("host")));
            return host.waitOpen();
        },
        20000));
    QCOMPARE(roomsPerProcess()[draining], 1);

    // The open room carries on: a new guest of it still finds its host, signals still pass.
    kept->guests[0]->sendJson({{"type", "signal"}, {"payload", "p"}, {"sig", "s"}});
    QVERIFY(kept->host->take(QStringLiteral("signal")));
    // It ends, and the drained process exits cleanly.
    kept->host->close();
    kept->guests[0]->close();
    kept->guests[1]->close();
    QVERIFY(m_services[draining]->waitForExit(10000));
    QCOMPARE(m_services[draining]->exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_services[draining]->exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestBalancedService)
#include "tst_balancedservice.moc"
