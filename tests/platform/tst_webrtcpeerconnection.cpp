// The peer connection on WebRTC against a real answering peer on loopback (made directly on
// WebRTC in this process): negotiation, and that nothing arrives once the connection is closed or
// gone, even when it goes inside its own signal handler, or when the process ends with connections
// still open. Messages, statistics and flow control over real WebRTC are proved by sharing with a
// browser (tests/web).

#include "AnsweringPeer.h"

#include "platform/PeerConnection.h"

#include "ChildProcess.h"

#include <QCoreApplication>
#include <QDir>
#include <QSignalSpy>
#include <QTest>

#include <cstdio>

using namespace vyo;
using test::AnsweringPeer;
using test::Negotiation;

namespace {

const char exitWithOpenConnectionsArgument[] = "--exit-with-open-connections";

// The threads of the process-wide WebRTC factory (named "vyo-rtc-…") still running.
int factoryThreads()
{
    int count = 0;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile name(tasks.filePath(task + QStringLiteral("/comm")));
        if (name.open(QIODevice::ReadOnly) && name.readAll().startsWith("vyo-rtc-"))
            ++count;
    }
    return count;
}

PeerConnection *childOpen = nullptr;
PeerConnection *childNegotiating = nullptr;

// Registered before the factory exists, so it runs after the factory was taken down.
void reportAtExit()
{
    const bool closed = childOpen->state() == PeerConnection::State::closed &&
                        childNegotiating->state() == PeerConnection::State::closed;
    std::printf("at exit: %s, %d WebRTC threads\n", closed ? "both closed" : "still open",
                factoryThreads());
    std::fflush(stdout);
}

// The child process: one connection with its channel open, owned by the application object
// (destroyed after the factory), and one still negotiating that is never destroyed at all, when
// the program returns from main.
int exitWithOpenConnections(QCoreApplication &application)
{
    qAddPostRoutine(reportAtExit);
    std::unique_ptr<PeerConnection> open = makePeerConnection({});
    AnsweringPeer answering;
    if (!open || !answering.isValid() || !test::negotiate(*open, answering).succeeded)
        return 2;
    childOpen = open.release();
    childOpen->setParent(&application);
    childNegotiating = makePeerConnection({}).release();
    if (!childNegotiating)
        return 3;
    childNegotiating->createOffer([](std::optional<QString>, const QString &) {});
    std::printf("channel open, %d WebRTC threads\n", factoryThreads());
    std::fflush(stdout);
    return 0;
}

} // namespace

class TestWebRtcPeerConnection : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void opensOneChannelAndCloseEndsEverything();
    void destroyedInItsOwnHandler_data();
    void destroyedInItsOwnHandler();
    void processEndsCleanlyWithOpenConnections();

private:
    // Negotiates the fixture's pair; fails the test when the channel does not open.
    bool openChannel();

    std::unique_ptr<PeerConnection> m_offering;
    std::unique_ptr<AnsweringPeer> m_answering;
    Negotiation m_negotiation;
};

void TestWebRtcPeerConnection::init()
{
    m_offering = makePeerConnection({});
    QVERIFY(m_offering);
    m_answering = std::make_unique<AnsweringPeer>();
    QVERIFY(m_answering->isValid());
}

void TestWebRtcPeerConnection::cleanup()
{
    m_offering.reset();
    m_answering.reset();
    m_negotiation = {};
}

bool TestWebRtcPeerConnection::openChannel()
{
    m_negotiation = test::negotiate(*m_offering, *m_answering);
    if (!m_negotiation.succeeded)
        qWarning("negotiation failed: %s", qPrintable(m_negotiation.failure));
    return m_negotiation.succeeded;
}

void TestWebRtcPeerConnection::opensOneChannelAndCloseEndsEverything()
{
    QCOMPARE(m_offering->state(), PeerConnection::State::fresh);
    QVERIFY(openChannel());
    // A data channel only, no media.
    QVERIFY(m_negotiation.offerSdp.contains(QLatin1String("webrtc-datachannel")));
    QVERIFY(!m_negotiation.offerSdp.contains(QLatin1String("m=audio")));
    QTRY_COMPARE(m_offering->state(), PeerConnection::State::connected);
    // A message beyond the send queue is refused, and the channel stays usable.
    QVERIFY(!m_offering->send({QByteArray(16 * 1024 * 1024 + 1, 'x'), true}));
    QCOMPARE(m_offering->channelState(), PeerConnection::ChannelState::open);

    QSignalSpy candidates(m_offering.get(), &PeerConnection::iceCandidate);
    QSignalSpy states(m_offering.get(), &PeerConnection::stateChanged);
    QSignalSpy channelStates(m_offering.get(), &PeerConnection::channelStateChanged);
    QSignalSpy messages(m_offering.get(), &PeerConnection::messageReceived);
    QSignalSpy amounts(m_offering.get(), &PeerConnection::bufferedAmountChanged);
    int completions = 0;
    auto count = [&completions](auto &&...) { ++completions; };

    // Work under way when the connection closes, and more asked for afterwards.
    m_offering->statistics(count);
    m_offering->createOffer(count);
    QVERIFY(m_offering->send({QByteArray(65536, 'x'), true}));
    QVERIFY(m_answering->send({QByteArray("in flight"), false}));
    m_offering->close();
    m_offering->statistics(count);
    m_offering->createOffer(count);
    m_offering->setRemoteDescription(QStringLiteral("answer"), QStringLiteral("v=0"), count);
    m_offering->addIceCandidate({QStringLiteral("candidate:1"), 0, QStringLiteral("0")}, count);

    QCOMPARE(m_offering->state(), PeerConnection::State::closed);
    QCOMPARE(m_offering->channelState(), PeerConnection::ChannelState::closed);
    QCOMPARE(m_offering->bufferedAmount(), quint64(0));
    QVERIFY(!m_offering->send({QByteArray("late"), false}));
    m_offering->close();

    // The other side sees the end, and by then nothing has reached this one.
    QTRY_VERIFY(m_answering->isChannelClosed());
    QCoreApplication::processEvents();
    QCOMPARE(completions, 0);
    QCOMPARE(candidates.size(), 0);
    QCOMPARE(states.size(), 0);
    QCOMPARE(channelStates.size(), 0);
    QCOMPARE(messages.size(), 0);
    QCOMPARE(amounts.size(), 0);
}

namespace {

enum class Moment { channelOpen, message, statistics };

} // namespace

Q_DECLARE_METATYPE(Moment)

void TestWebRtcPeerConnection::destroyedInItsOwnHandler_data()
{
    QTest::addColumn<Moment>("moment");
    QTest::newRow("channel open") << Moment::channelOpen;
    QTest::newRow("message") << Moment::message;
    QTest::newRow("statistics") << Moment::statistics;
}

void TestWebRtcPeerConnection::destroyedInItsOwnHandler()
{
    QFETCH(Moment, moment);
    PeerConnection *offering = m_offering.get();
    int destroyed = 0;
    auto destroy = [this, &destroyed](auto &&...) {
        ++destroyed;
        m_offering.reset();
    };
    if (moment != Moment::channelOpen)
        QVERIFY(openChannel());
    switch (moment) {
    case Moment::channelOpen:
        connect(offering, &PeerConnection::channelStateChanged, offering, destroy);
        QVERIFY(!test::negotiate(*offering, *m_answering).succeeded);
        break;
    case Moment::message:
        connect(offering, &PeerConnection::messageReceived, offering, destroy);
        for (int i = 0; i < 3; ++i)
            QVERIFY(m_answering->send({QByteArray("one of three"), false}));
        break;
    case Moment::statistics:
        offering->statistics(destroy);
        break;
    }

    QTRY_VERIFY(!m_offering);
    QCOMPARE(destroyed, 1);
    // Destroying it closed the channel the other side had.
    QTRY_VERIFY_WITH_TIMEOUT(m_answering->isChannelClosed(), 30000);
}

void TestWebRtcPeerConnection::processEndsCleanlyWithOpenConnections()
{
    test::ChildProcess child(QCoreApplication::applicationFilePath(),
                             {QString::fromLatin1(exitWithOpenConnectionsArgument)});
    QVERIFY(child.waitForExit(60000));
    const QString output = child.output();
    QVERIFY2(output.contains(QLatin1String("channel open, 3 WebRTC threads")), qPrintable(output));
    // The factory closed both on its way down and stopped its threads.
    QVERIFY2(output.contains(QLatin1String("at exit: both closed, 0 WebRTC threads")),
             qPrintable(output));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
}

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], exitWithOpenConnectionsArgument) == 0)
        return exitWithOpenConnections(application);
    TestWebRtcPeerConnection test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_webrtcpeerconnection.moc"
