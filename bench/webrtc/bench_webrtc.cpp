// Throughput of the peer connection over loopback, against an answering WebRTC peer in the same
// process: TOTAL MiB in binary messages of 65536 bytes, sent as a share sends a download (at most
// 1 MiB buffered, more once the buffer has drained to 256 KiB), and received as a share receives
// an upload (every message handed to the main thread). Prints MB/s for each direction.
//
// Usage: bench_webrtc [MIB] [send|receive|both]   (defaults: 256 both)

#include "AnsweringPeer.h"

#include "platform/PeerConnection.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>

#include <cstdio>

using namespace vyo;

namespace {

constexpr int messageSize = 65536;
constexpr quint64 highWater = 1024 * 1024;
constexpr quint64 lowWater = 256 * 1024;
constexpr int timeLimit = 600000;

// Desktop to peer, with the share's flow control.
double sendTo(PeerConnection &offering, test::AnsweringPeer &answering, quint64 total)
{
    const quint64 start = answering.receivedBytes();
    QByteArray chunk(messageSize, Qt::Uninitialized);
    for (int i = 0; i < messageSize; ++i)
        chunk[i] = char(i * 13);
    quint64 queued = 0;
    auto pump = [&] {
        while (queued < total && offering.bufferedAmount() < highWater) {
            if (!offering.send({chunk, true}))
                return;
            queued += messageSize;
        }
    };
    QObject scope;
    QObject::connect(&offering, &PeerConnection::bufferedAmountChanged, &scope,
                     [&](quint64 amount) {
                         if (amount <= lowWater)
                             pump();
                     });
    QElapsedTimer timer;
    timer.start();
    pump();
    if (!QTest::qWaitFor([&] { return answering.receivedBytes() - start >= total; }, timeLimit))
        return -1;
    return total / (timer.nsecsElapsed() / 1e9) / 1e6;
}

// Peer to desktop.
double receiveFrom(PeerConnection &offering, test::AnsweringPeer &answering, quint64 total)
{
    quint64 received = 0;
    QObject scope;
    QObject::connect(
        &offering, &PeerConnection::messageReceived, &scope,
        [&](const PeerConnection::Message &message) { received += quint64(message.data.size()); });
    QElapsedTimer timer;
    timer.start();
    answering.sendStream(total, messageSize);
    if (!QTest::qWaitFor([&] { return received >= total; }, timeLimit))
        return -1;
    return total / (timer.nsecsElapsed() / 1e9) / 1e6;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    const quint64 mebibytes = arguments.size() > 1 ? arguments.at(1).toULongLong() : 256;
    const QString direction = arguments.size() > 2 ? arguments.at(2) : QStringLiteral("both");
    const quint64 total = mebibytes * 1024 * 1024;

    std::unique_ptr<PeerConnection> offering = makePeerConnection({});
    test::AnsweringPeer answering;
    if (!offering || !answering.isValid())
        return 1;
    const test::Negotiation negotiation = test::negotiate(*offering, answering);
    if (!negotiation.succeeded) {
        std::fprintf(stderr, "negotiation failed: %s\n", qPrintable(negotiation.failure));
        return 1;
    }
    int status = 0;
    if (direction != QLatin1String("receive")) {
        const double rate = sendTo(*offering, answering, total);
        std::printf("send    %llu MiB: %.1f MB/s\n", mebibytes, rate);
        status |= rate < 0;
    }
    if (direction != QLatin1String("send")) {
        const double rate = receiveFrom(*offering, answering, total);
        std::printf("receive %llu MiB: %.1f MB/s\n", mebibytes, rate);
        status |= rate < 0;
    }
    return status;
}
