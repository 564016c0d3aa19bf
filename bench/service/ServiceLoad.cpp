// Bounded load on a running share service over loopback: ROOMS rooms, each with one host and
// GUESTS guests connected at once; then every guest sends MESSAGES signals to its host and every
// host sends MESSAGES signals to each of its guests, and the relayed messages are counted.
// Prints one JSON object with the timings, the relay rate and the service's memory.
//
// Usage: service-load PORT SERVICE_PID [ROOMS] [GUESTS] [MESSAGES]

#include "LoadSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkRequest>
#include <QTimer>
#include <QWebSocket>

#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

using vyo::bench::statusKiB;
using vyo::bench::waitUntil;

namespace {

struct Client
{
    std::unique_ptr<QWebSocket> socket;
    bool isHost = false;
    int room = 0;
    QString peerID;
    bool welcomed = false;
    int joinedSeen = 0;
    int signalCount = 0;
};

QJsonObject memory(qint64 pid)
{
    QJsonObject result;
    for (const char *key : {"VmRSS", "VmHWM"}) {
        if (const qint64 kib = statusKiB(pid, key); kib >= 0)
            result.insert(QString::fromLatin1(key) + "KiB", kib);
    }
    return result;
}

QString roomID(int n)
{
    return QStringLiteral("bench-%1").arg(n, 16, 10, QLatin1Char('0'));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: service-load PORT SERVICE_PID [ROOMS] [GUESTS] [MESSAGES]\n");
        return 2;
    }
    const int port = args[1].toInt();
    const qint64 pid = args[2].toLongLong();
    const int rooms = args.value(3, "200").toInt();
    const int guests = args.value(4, "3").toInt();
    const int messages = args.value(5, "20").toInt();
    const int phaseLimit = 60000;
    const QString origin = QStringLiteral("http://127.0.0.1:%1").arg(port);
    const QString payload = QString(600, u'p');
    const QString sig = QString(43, u's');

    QJsonObject report{{"rooms", rooms}, {"guestsPerRoom", guests}, {"messagesEach", messages}};
    report.insert("memoryAtStart", memory(pid));
    int errors = 0;
    std::vector<Client> clients;
    clients.reserve(size_t(rooms * (guests + 1)));

    auto open = [&](int room, bool isHost) {
        Client &client = clients.emplace_back();
        client.isHost = isHost;
        client.room = room;
        client.socket = std::make_unique<QWebSocket>(isHost ? QString() : origin);
        QWebSocket *socket = client.socket.get();
        const size_t index = clients.size() - 1;
        QObject::connect(socket, &QWebSocket::textMessageReceived, [&, index](const QString &text) {
            Client &c = clients[index];
            const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
            const QString type = message.value("type").toString();
            if (type == u"welcome") {
                c.welcomed = true;
                c.peerID = message.value("peerId").toString();
            } else if (type == u"peer-joined") {
                ++c.joinedSeen;
            } else if (type == u"signal") {
                ++c.signalCount;
            }
        });
        QObject::connect(socket, &QWebSocket::disconnected, [&, index] {
            if (clients[index].socket->closeCode() != QWebSocketProtocol::CloseCodeNormal)
                ++errors;
        });
        QNetworkRequest request(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/room/%2?role=%3")
                                         .arg(port)
                                         .arg(roomID(room), isHost ? "host" : "guest")));
        // A host proves with its secret that the room is its own.
        if (isHost)
            request.setRawHeader("Vyo-Host-Secret", "bench-host-secret-" + roomID(room).toLatin1());
        socket->open(request);
    };
    auto count = [&](const std::function<bool(const Client &)> &predicate) {
        return int(std::count_if(clients.begin(), clients.end(), predicate));
    };

    QElapsedTimer clock;
    clock.start();
    for (int room = 0; room < rooms; ++room)
        open(room, true);
    const bool hostsOpen = waitUntil(
        [&] {
            return count([](const Client &c) {
                       return c.socket->state() == QAbstractSocket::ConnectedState;
                   }) == rooms;
        },
        phaseLimit);
    for (int room = 0; room < rooms; ++room) {
        for (int g = 0; g < guests; ++g)
            open(room, false);
    }
    const bool everyoneIn = waitUntil(
        [&] {
            return count([](const Client &c) { return !c.isHost && c.welcomed; }) ==
                       rooms * guests &&
                   count([guests](const Client &c) {
                       return c.isHost && c.joinedSeen == guests;
                   }) == rooms;
        },
        phaseLimit);
    report.insert("connectMs", clock.elapsed());
    report.insert("sockets", int(clients.size()));
    report.insert("allConnected", hostsOpen && everyoneIn);
    report.insert("memoryConnected", memory(pid));

    // The guests of each room, for the host to address them.
    std::vector<std::vector<QString>> guestIDs(static_cast<size_t>(rooms));
    for (const Client &c : clients) {
        if (!c.isHost)
            guestIDs[size_t(c.room)].push_back(c.peerID);
    }
    const QString guestSignal = QString::fromUtf8(
        QJsonDocument(QJsonObject{{"type", "signal"}, {"payload", payload}, {"sig", sig}})
            .toJson(QJsonDocument::Compact));
    clock.restart();
    for (int k = 0; k < messages; ++k) {
        for (Client &c : clients) {
            if (!c.isHost) {
                c.socket->sendTextMessage(guestSignal);
                continue;
            }
            for (const QString &to : guestIDs[size_t(c.room)]) {
                c.socket->sendTextMessage(QString::fromUtf8(
                    QJsonDocument(
                        QJsonObject{
                            {"type", "signal"}, {"to", to}, {"payload", payload}, {"sig", sig}})
                        .toJson(QJsonDocument::Compact)));
            }
        }
    }
    const qint64 expected = qint64(rooms) * guests * messages * 2;
    const bool allRelayed = waitUntil(
        [&] {
            qint64 received = 0;
            for (const Client &c : clients)
                received += c.signalCount;
            return received >= expected;
        },
        phaseLimit);
    const qint64 exchangeMs = std::max<qint64>(1, clock.elapsed());
    qint64 received = 0;
    for (const Client &c : clients)
        received += c.signalCount;
    report.insert("relayedExpected", expected);
    report.insert("relayedReceived", received);
    report.insert("allRelayed", allRelayed);
    report.insert("exchangeMs", exchangeMs);
    report.insert("relayedPerSecond", qint64(received * 1000 / exchangeMs));
    report.insert("memoryAfterExchange", memory(pid));

    clock.restart();
    for (Client &c : clients)
        c.socket->close();
    waitUntil(
        [&] {
            return count([](const Client &c) {
                       return c.socket->state() == QAbstractSocket::UnconnectedState;
                   }) == int(clients.size());
        },
        phaseLimit);
    report.insert("closeMs", clock.elapsed());
    report.insert("memoryAtEnd", memory(pid));
    report.insert("errors", errors);
    std::printf("%s\n", QJsonDocument(report).toJson(QJsonDocument::Indented).constData());
    return errors == 0 && hostsOpen && everyoneIn && allRelayed ? 0 : 1;
}
