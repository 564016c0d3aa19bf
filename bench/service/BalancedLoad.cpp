// Bounded load on several share-service processes behind a load balancer, over loopback: ROOMS
// rooms of one host and GUESTS guests connect through the balancer; every room must meet on one
// process, and the rooms must spread over the processes. Every socket then sends a signal to its
// peers every INTERVAL ms, spread evenly (timestamps in the payload give the relay latency).
// KILL_AFTER seconds into the relaying, one process is killed (SIGKILL); its rooms' members
// reconnect through the balancer the way the desktop does (after 1 s, doubling up to 30 s), and the
// time until each of those rooms is whole again (the host and every guest connected, and the host
// told of every guest) is measured. Prints one JSON object.
//
// Usage: balanced-load BALANCER_PORT PIDS PORTS [ROOMS] [GUESTS] [INTERVAL_MS] [KILL_AFTER_S]
//        [RECOVERY_S]      (PIDS and PORTS: the processes', comma-separated, in the same order)

#include "LoadSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSet>
#include <QTimer>
#include <QWebSocket>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

using vyo::bench::statusKiB;
using vyo::bench::waitUntil;

namespace {

QElapsedTimer monotonic;

struct Member
{
    std::unique_ptr<QWebSocket> socket;
    bool isHost = false;
    int room = 0;
    bool open = false;
    QString peerID;
    // A guest: whether the host is in the room, as the service last said.
    bool hostPresent = false;
    // A host: the guests it has been told about.
    QSet<QString> peers;
    double retryDelay = 1.0;
    QTimer retry;
};

struct Room
{
    std::vector<size_t> members; // the host first
    int process = -1;
    bool affected = false;
    qint64 wholeAgainMs = -1;
};

// The "rooms" count of each process's /healthz; -1 for one that does not answer.
QList<int> roomsPerProcess(QNetworkAccessManager &network, const QList<int> &ports)
{
    QList<int> counts;
    for (int port : ports) {
        QNetworkReply *reply = network.get(
            QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1/healthz").arg(port))));
        waitUntil([reply] { return reply->isFinished(); }, 5000);
        counts.append(reply->isFinished() && reply->error() == QNetworkReply::NoError
                          ? QJsonDocument::fromJson(reply->readAll())["rooms"].toInt()
                          : -1);
        delete reply;
    }
    return counts;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    monotonic.start();
    const QStringList args = app.arguments();
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: balanced-load BALANCER_PORT PIDS PORTS [ROOMS] [GUESTS] "
                             "[INTERVAL_MS] [KILL_AFTER_S] [RECOVERY_S]\n");
        return 2;
    }
    const int balancerPort = args[1].toInt();
    QList<qint64> pids;
    for (const QString &pid : args[2].split(u','))
        pids.append(pid.toLongLong());
    QList<int> ports;
    for (const QString &port : args[3].split(u','))
        ports.append(port.toInt());
    const int roomCount = args.value(4, "600").toInt();
    const int guests = args.value(5, "3").toInt();
    const int interval = args.value(6, "1000").toInt();
    const int killAfter = args.value(7, "10").toInt() * 1000;
    const int recoveryLimit = args.value(8, "35").toInt() * 1000;
    const int phaseLimit = 60000;
    const QString origin = QStringLiteral("http://127.0.0.1:%1").arg(balancerPort);
    const QString sig = QString(43, u's');

    QNetworkAccessManager network;
    std::vector<std::unique_ptr<Member>> members;
    std::vector<Room> rooms(static_cast<size_t>(roomCount));
    std::vector<qint64> latencies;
    latencies.reserve(1 << 20);
    qint64 relayed = 0;
    bool stopping = false;

    auto roomID = [](int n) {
        return QStringLiteral("balanced-%1").arg(n, 13, 10, QLatin1Char('0'));
    };
    std::function<void(Member &)> connectMember = [&](Member &m) {
        m.open = false;
        m.peers.clear();
        m.hostPresent = false;
        QNetworkRequest request(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/room/%2?role=%3")
                                         .arg(balancerPort)
                                         .arg(roomID(m.room), m.isHost ? "host" : "guest")));
        if (m.isHost)
            request.setRawHeader("Vyo-Host-Secret",
                                 "balanced-host-secret-" + roomID(m.room).toLatin1());
        m.socket->open(request);
    };
    auto add = [&](int room, bool isHost) {
        auto member = std::make_unique<Member>();
        Member &m = *member;
        m.isHost = isHost;
        m.room = room;
        m.socket = std::make_unique<QWebSocket>(isHost ? QString() : origin);
        m.retry.setSingleShot(true);
        QObject::connect(&m.retry, &QTimer::timeout, [&m, &connectMember] { connectMember(m); });
        QObject::connect(m.socket.get(), &QWebSocket::connected, [&m] {
            m.open = true;
            m.retryDelay = 1.0;
        });
        // Like the desktop, a failed upgrade counts as soon as it is reported, a lost connection
        // when it closes; either way the next try comes later.
        auto failed = [&m, &stopping] {
            m.open = false;
            if (stopping || m.retry.isActive())
                return;
            m.socket->abort();
            m.retry.start(int(m.retryDelay * 1000));
            m.retryDelay = std::min(2 * m.retryDelay, 30.0);
        };
        QObject::connect(m.socket.get(), &QWebSocket::disconnected, failed);
        QObject::connect(m.socket.get(),
                         qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), failed);
        QObject::connect(m.socket.get(), &QWebSocket::textMessageReceived,
                         [&m, &latencies, &relayed](const QString &text) {
                             const QJsonObject message =
                                 QJsonDocument::fromJson(text.toUtf8()).object();
                             const QString type = message["type"].toString();
                             if (type == u"signal") {
                                 ++relayed;
                                 const qint64 sent = message["payload"].toString().toLongLong();
                                 latencies.push_back(monotonic.nsecsElapsed() - sent);
                             } else if (type == u"welcome") {
                                 m.peerID = message["peerId"].toString();
                                 m.hostPresent = message["host"].toBool();
                             } else if (type == u"host-joined") {
                                 m.hostPresent = true;
                             } else if (type == u"host-left") {
                                 m.hostPresent = false;
                             } else if (type == u"peer-joined") {
                                 m.peers.insert(message["peerId"].toString());
                             } else if (type == u"peer-left") {
                                 m.peers.remove(message["peerId"].toString());
                             }
                         });
        rooms[size_t(room)].members.push_back(members.size());
        members.push_back(std::move(member));
        connectMember(m);
    };
    auto isWhole = [&](const Room &room) {
        const Member &host = *members[room.members.front()];
        if (!host.open)
            return false;
        QSet<QString> present;
        for (size_t i = 1; i < room.members.size(); ++i) {
            const Member &guest = *members[room.members[i]];
            if (!guest.open || !guest.hostPresent || guest.peerID.isEmpty())
                return false;
            present.insert(guest.peerID);
        }
        return host.peers == present;
    };
    auto wholeRooms = [&] { return int(std::count_if(rooms.begin(), rooms.end(), isWhole)); };

    QJsonObject report{
        {"rooms", roomCount}, {"guestsPerRoom", guests}, {"processes", int(pids.size())}};
    QElapsedTimer clock;
    clock.start();
    for (int r = 0; r < roomCount; ++r)
        add(r, true);
    const bool hostsOpen = waitUntil(
        [&] {
            return std::all_of(members.begin(), members.end(), [](auto &m) { return m->open; });
        },
        phaseLimit);
    for (int r = 0; r < roomCount; ++r) {
        for (int g = 0; g < guests; ++g)
            add(r, false);
    }
    const bool allWhole = waitUntil([&] { return wholeRooms() == roomCount; }, phaseLimit);
    report.insert("sockets", int(members.size()));
    report.insert("connectMs", clock.elapsed());
    report.insert("allMetOnOneProcess", hostsOpen && allWhole);

    // Where the rooms are: each process's own count.
    const QList<int> counts = roomsPerProcess(network, ports);
    QJsonArray share;
    int largest = 0;
    for (int count : counts) {
        share.append(count);
        largest = std::max(largest, count);
    }
    report.insert("roomsPerProcess", share);
    report.insert("largestSharePercent", 100.0 * largest / roomCount);
    const int victim = int(std::max_element(counts.begin(), counts.end()) - counts.begin());

    // Relaying: every socket signals its peers every `interval` ms.
    // Spread over the interval in slices, so that latency is the relay's, not a burst's queue.
    constexpr int slices = 50;
    int slice = 0;
    auto sendRound = [&] {
        const size_t first = rooms.size() * size_t(slice) / slices;
        const size_t last = rooms.size() * size_t(slice + 1) / slices;
        slice = (slice + 1) % slices;
        for (size_t r = first; r < last; ++r) {
            const Room &room = rooms[r];
            Member &host = *members[room.members.front()];
            for (size_t i = 1; i < room.members.size(); ++i) {
                Member &guest = *members[room.members[i]];
                const QString now = QString::number(monotonic.nsecsElapsed());
                if (guest.open && guest.hostPresent)
                    guest.socket->sendTextMessage(QString::fromUtf8(
                        QJsonDocument(
                            QJsonObject{{"type", "signal"}, {"payload", now}, {"sig", sig}})
                            .toJson(QJsonDocument::Compact)));
                if (host.open && host.peers.contains(guest.peerID))
                    host.socket->sendTextMessage(
                        QString::fromUtf8(QJsonDocument(QJsonObject{{"type", "signal"},
                                                                    {"to", guest.peerID},
                                                                    {"payload", now},
                                                                    {"sig", sig}})
                                              .toJson(QJsonDocument::Compact)));
            }
        }
    };
    QTimer rounds;
    QObject::connect(&rounds, &QTimer::timeout, sendRound);
    rounds.setTimerType(Qt::PreciseTimer);
    rounds.start(std::max(1, interval / slices));
    relayed = 0;
    clock.restart();
    waitUntil([] { return false; }, killAfter);
    const qint64 steadyRelayed = relayed;
    const qint64 steadyMs = clock.elapsed();
    report.insert("relayedPerSecond", qint64(steadyRelayed * 1000 / std::max<qint64>(1, steadyMs)));
    std::sort(latencies.begin(), latencies.end());
    if (!latencies.empty()) {
        report.insert("p50RelayMs", latencies[latencies.size() / 2] / 1e6);
        report.insert("p99RelayMs", latencies[latencies.size() * 99 / 100] / 1e6);
    }

    // One process dies; its rooms' members reconnect through the balancer.
    QJsonArray peaks;
    for (qint64 pid : pids)
        peaks.append(statusKiB(pid, "VmHWM"));
    // The victim's rooms are the ones whose host loses its connection.
    int affected = 0;
    QList<QMetaObject::Connection> watchers;
    for (Room &room : rooms) {
        Member &host = *members[room.members.front()];
        watchers.append(QObject::connect(host.socket.get(), &QWebSocket::disconnected,
                                         [&room] { room.affected = true; }));
    }
    ::kill(pid_t(pids[victim]), SIGKILL);
    clock.restart();
    waitUntil(
        [&] {
            affected = 0;
            int pending = 0;
            for (Room &room : rooms) {
                if (!room.affected)
                    continue;
                ++affected;
                if (room.wholeAgainMs < 0 && isWhole(room))
                    room.wholeAgainMs = clock.elapsed();
                if (room.wholeAgainMs < 0)
                    ++pending;
            }
            // Done when the victim's rooms (about its share) have all come back.
            return affected >= counts[victim] && pending == 0;
        },
        recoveryLimit + 5000);
    for (const auto &watcher : watchers)
        QObject::disconnect(watcher);
    int wholeInTime = 0;
    qint64 slowest = 0;
    for (const Room &room : rooms) {
        if (!room.affected)
            continue;
        if (room.wholeAgainMs >= 0 && room.wholeAgainMs <= recoveryLimit)
            ++wholeInTime;
        slowest = std::max(slowest, room.wholeAgainMs);
    }
    report.insert("killedProcess", victim);
    report.insert("roomsOfKilledProcess", counts[victim]);
    report.insert("roomsLost", affected);
    report.insert("roomsWholeAgainWithinLimit", wholeInTime);
    report.insert("recoveryLimitS", recoveryLimit / 1000);
    report.insert("slowestRecoveryMs", slowest);
    // How many of the lost rooms were whole again after so many seconds.
    QJsonObject byTime;
    for (int seconds : {2, 4, 8, 16, 35}) {
        byTime.insert(QStringLiteral("%1s").arg(seconds, 2, 10, QLatin1Char('0')),
                      int(std::count_if(rooms.begin(), rooms.end(), [seconds](const Room &room) {
                          return room.affected && room.wholeAgainMs >= 0 &&
                                 room.wholeAgainMs <= seconds * 1000;
                      })));
    }
    report.insert("roomsWholeAgainBy", byTime);
    report.insert("wholeRoomsAfterRecovery", wholeRooms());
    report.insert("roomsPerProcessAfterRecovery", QJsonArray::fromVariantList([&] {
                      QVariantList list;
                      for (int c : roomsPerProcess(network, ports))
                          list.append(c);
                      return list;
                  }()));
    rounds.stop();
    QJsonArray peaksAtEnd;
    for (int i = 0; i < pids.size(); ++i)
        peaksAtEnd.append(i == victim ? peaks[i].toInteger() : statusKiB(pids[i], "VmHWM"));
    report.insert("peakMemoryKiB", peaksAtEnd);

    stopping = true;
    for (auto &m : members) {
        m->retry.stop();
        m->socket->close();
    }
    waitUntil(
        [&] {
            return std::all_of(members.begin(), members.end(), [](auto &m) {
                return m->socket->state() == QAbstractSocket::UnconnectedState;
            });
        },
        10000);
    std::printf("%s\n", QJsonDocument(report).toJson(QJsonDocument::Indented).constData());
    const bool ok = hostsOpen && allWhole && largest * 100 <= roomCount * 45 &&
                    wholeInTime == affected && affected > 0;
    return ok ? 0 : 1;
}
