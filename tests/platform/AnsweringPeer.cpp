#include "AnsweringPeer.h"

#include <api/create_peerconnection_factory.h>
#include <api/jsep.h>
#include <api/peer_connection_interface.h>
#include <api/rtc_event_log/rtc_event_log_factory.h>
#include <api/task_queue/default_task_queue_factory.h>
#include <rtc_base/ssl_adapter.h>
#include <rtc_base/thread.h>

#include <QMetaObject>
#include <QMutex>
#include <QPointer>
#include <QTest>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>

namespace vyo::test {

namespace {

constexpr auto stepTime = std::chrono::seconds(10);

// Hands calls to the peer's thread, and drops them once the peer is gone.
struct Gate
{
    QMutex mutex;
    AnsweringPeer *peer = nullptr;

    // Calls `call` with the peer on its thread, unless the peer is gone by then.
    template <typename Call> void post(Call call)
    {
        QMutexLocker lock(&mutex);
        if (peer)
            QMetaObject::invokeMethod(
                peer, [peer = peer, call] { call(peer); }, Qt::QueuedConnection);
    }
};

// A description set on the peer's signaling thread, and whether that worked.
struct Completion
{
    std::promise<bool> result;
};
struct LocalSet : webrtc::SetLocalDescriptionObserverInterface, Completion
{
    void OnSetLocalDescriptionComplete(webrtc::RTCError error) override
    {
        result.set_value(error.ok());
    }
};
struct RemoteSet : webrtc::SetRemoteDescriptionObserverInterface, Completion
{
    void OnSetRemoteDescriptionComplete(webrtc::RTCError error) override
    {
        result.set_value(error.ok());
    }
};

template <typename T> std::optional<T> waitFor(std::future<T> future)
{
    if (future.wait_for(stepTime) != std::future_status::ready)
        return std::nullopt;
    return future.get();
}

} // namespace

struct AnsweringPeer::Private : webrtc::PeerConnectionObserver, webrtc::DataChannelObserver
{
    std::shared_ptr<Gate> gate = std::make_shared<Gate>();
    std::unique_ptr<rtc::Thread> network, worker, signaling;
    rtc::scoped_refptr<webrtc::PeerConnectionFactoryInterface> factory;
    rtc::scoped_refptr<webrtc::PeerConnectionInterface> connection;
    mutable std::mutex channelMutex;
    rtc::scoped_refptr<webrtc::DataChannelInterface> channel;
    std::atomic<bool> open = false, closed = false;
    std::atomic<quint64> bytes = 0;
    // The stream being sent; used on the signaling thread only, apart from the atomic count.
    std::atomic<quint64> streamLeft = 0;
    rtc::CopyOnWriteBuffer streamChunk;

    void fillStream()
    {
        auto current = currentChannel();
        while (current && streamLeft > 0 && current->buffered_amount() < 1024 * 1024) {
            const size_t size = std::min<quint64>(streamLeft, streamChunk.size());
            if (!current->Send(webrtc::DataBuffer(streamChunk.Slice(0, size), true)))
                return;
            streamLeft -= size;
        }
    }
    void OnBufferedAmountChange(uint64_t) override
    {
        if (streamLeft > 0 && currentChannel()->buffered_amount() <= 256 * 1024)
            fillStream();
    }

    rtc::scoped_refptr<webrtc::DataChannelInterface> currentChannel() const
    {
        std::lock_guard lock(channelMutex);
        return channel;
    }

    void OnSignalingChange(webrtc::PeerConnectionInterface::SignalingState) override {}
    void OnIceGatheringChange(webrtc::PeerConnectionInterface::IceGatheringState) override {}

    void OnDataChannel(rtc::scoped_refptr<webrtc::DataChannelInterface> arrived) override
    {
        {
            std::lock_guard lock(channelMutex);
            channel = arrived;
        }
        arrived->RegisterObserver(this);
        // A channel can already be open when it is handed over.
        OnStateChange();
    }

    void OnIceCandidate(const webrtc::IceCandidateInterface *candidate) override
    {
        std::string line;
        candidate->ToString(&line);
        IceCandidate local{QString::fromStdString(line), candidate->sdp_mline_index(),
                           QString::fromStdString(candidate->sdp_mid())};
        gate->post([local](AnsweringPeer *peer) { Q_EMIT peer->iceCandidate(local); });
    }

    void OnStateChange() override
    {
        const auto state = currentChannel()->state();
        if (state == webrtc::DataChannelInterface::kOpen)
            open = true;
        else if (state == webrtc::DataChannelInterface::kClosed)
            closed = true;
    }

    void OnMessage(const webrtc::DataBuffer &buffer) override { bytes += buffer.size(); }
};

AnsweringPeer::AnsweringPeer()
    : d(std::make_unique<Private>())
{
    d->gate->peer = this;
    static std::once_flag initialised;
    std::call_once(initialised, [] { rtc::InitializeSSL(); });
    d->network = rtc::Thread::CreateWithSocketServer();
    d->worker = rtc::Thread::Create();
    d->signaling = rtc::Thread::Create();
    if (!d->network->Start() || !d->worker->Start() || !d->signaling->Start())
        return;
    webrtc::PeerConnectionFactoryDependencies dependencies;
    dependencies.network_thread = d->network.get();
    dependencies.worker_thread = d->worker.get();
    dependencies.signaling_thread = d->signaling.get();
    dependencies.task_queue_factory = webrtc::CreateDefaultTaskQueueFactory();
    dependencies.event_log_factory =
        std::make_unique<webrtc::RtcEventLogFactory>(dependencies.task_queue_factory.get());
    d->factory = webrtc::CreateModularPeerConnectionFactory(std::move(dependencies));
    if (!d->factory)
        return;
    webrtc::PeerConnectionFactoryInterface::Options options;
    options.network_ignore_mask = 0;
    d->factory->SetOptions(options);

    webrtc::PeerConnectionInterface::RTCConfiguration configuration;
    configuration.sdp_semantics = webrtc::SdpSemantics::kUnifiedPlan;
    auto connection = d->factory->CreatePeerConnectionOrError(
        configuration, webrtc::PeerConnectionDependencies(d.get()));
    if (connection.ok())
        d->connection = connection.MoveValue();
}

AnsweringPeer::~AnsweringPeer()
{
    {
        QMutexLocker lock(&d->gate->mutex);
        d->gate->peer = nullptr;
    }
    if (auto channel = d->currentChannel()) {
        channel->UnregisterObserver();
        channel->Close();
    }
    if (d->connection)
        d->connection->Close();
    {
        std::lock_guard lock(d->channelMutex);
        d->channel = nullptr;
    }
    d->connection = nullptr;
    d->factory = nullptr;
    for (auto *thread : {d->signaling.get(), d->worker.get(), d->network.get()}) {
        if (thread)
            thread->Stop();
    }
}

bool AnsweringPeer::isValid() const
{
    return d->connection != nullptr;
}

std::optional<QString> AnsweringPeer::answer(const QString &offerSdp)
{
    std::unique_ptr<webrtc::SessionDescriptionInterface> offer =
        webrtc::CreateSessionDescription(webrtc::SdpType::kOffer, offerSdp.toStdString());
    if (!d->connection || !offer)
        return std::nullopt;
    auto remote = rtc::make_ref_counted<RemoteSet>();
    d->connection->SetRemoteDescription(std::move(offer), remote);
    if (!waitFor(remote->result.get_future()).value_or(false))
        return std::nullopt;
    // With the offer in place, setting the local description makes the answer.
    auto local = rtc::make_ref_counted<LocalSet>();
    d->connection->SetLocalDescription(local);
    std::string sdp;
    if (!waitFor(local->result.get_future()).value_or(false) ||
        !d->connection->local_description()->ToString(&sdp))
        return std::nullopt;
    return QString::fromStdString(sdp);
}

bool AnsweringPeer::addCandidate(const IceCandidate &candidate)
{
    if (!d->connection)
        return false;
    webrtc::SdpParseError parseError;
    std::unique_ptr<webrtc::IceCandidateInterface> converted(webrtc::CreateIceCandidate(
        candidate.sdpMid.value_or(QString()).toStdString(), candidate.sdpMLineIndex,
        candidate.candidate.toStdString(), &parseError));
    if (!converted)
        return false;
    auto added = std::make_shared<std::promise<bool>>();
    auto result = added->get_future();
    d->connection->AddIceCandidate(
        std::move(converted), [added](webrtc::RTCError error) { added->set_value(error.ok()); });
    return waitFor(std::move(result)).value_or(false);
}

bool AnsweringPeer::isChannelOpen() const
{
    return d->open && !d->closed;
}

bool AnsweringPeer::isChannelClosed() const
{
    return d->closed;
}

bool AnsweringPeer::send(const PeerConnection::Message &message)
{
    auto channel = d->currentChannel();
    if (!channel)
        return false;
    const rtc::CopyOnWriteBuffer buffer(reinterpret_cast<const uint8_t *>(message.data.constData()),
                                        size_t(message.data.size()));
    return channel->Send(webrtc::DataBuffer(buffer, message.binary));
}

quint64 AnsweringPeer::receivedBytes() const
{
    return d->bytes;
}

void AnsweringPeer::sendStream(quint64 total, int messageSize)
{
    QByteArray chunk(messageSize, Qt::Uninitialized);
    for (int i = 0; i < messageSize; ++i)
        chunk[i] = char(i * 7);
    d->signaling->PostTask([d = d.get(), total, chunk] {
        d->streamChunk.SetData(reinterpret_cast<const uint8_t *>(chunk.constData()),
                               size_t(chunk.size()));
        d->streamLeft = total;
        d->fillStream();
    });
}

Negotiation negotiate(PeerConnection &offering, AnsweringPeer &answering, int milliseconds)
{
    Negotiation negotiation;
    auto fail = [&negotiation](const QString &why) {
        negotiation.failure = why;
        return negotiation;
    };
    // What the completions fill in; they may come after this function has given up.
    struct Progress
    {
        std::optional<std::optional<QString>> offer, localSet, remoteSet;
        QStringList candidateFailures;
    };
    auto progress = std::make_shared<Progress>();
    // The offering side may be destroyed by a handler of its own signals on the way.
    const QPointer<PeerConnection> alive(&offering);
    auto waitUntil = [&](auto condition) {
        return QTest::qWaitFor([&] { return !alive || condition(); }, milliseconds) && alive;
    };
    // Each side's candidates wait until both sides have their descriptions, then go at once.
    QObject scope; // the connections made here end with it
    bool described = false;
    QList<IceCandidate> toAnswering, toOffering;
    auto deliver = [&] {
        if (!described)
            return;
        for (const IceCandidate &candidate : std::exchange(toAnswering, {})) {
            if (!answering.addCandidate(candidate))
                progress->candidateFailures.append(candidate.candidate);
        }
        for (const IceCandidate &candidate : std::exchange(toOffering, {})) {
            if (alive)
                alive->addIceCandidate(candidate, [progress](std::optional<QString> error) {
                    if (error)
                        progress->candidateFailures.append(*error);
                });
        }
    };
    QObject::connect(&offering, &PeerConnection::iceCandidate, &scope,
                     [&](const IceCandidate &candidate) {
                         toAnswering.append(candidate);
                         deliver();
                     });
    QObject::connect(&answering, &AnsweringPeer::iceCandidate, &scope,
                     [&](const IceCandidate &candidate) {
                         toOffering.append(candidate);
                         deliver();
                     });

    offering.createOffer(
        [progress](std::optional<QString> sdp, const QString &) { progress->offer = sdp; });
    if (!waitUntil([&] { return progress->offer.has_value(); }) || !*progress->offer)
        return fail(QStringLiteral("no offer"));
    negotiation.offerSdp = **progress->offer;
    offering.setLocalDescription(
        QStringLiteral("offer"), negotiation.offerSdp,
        [progress](std::optional<QString> error) { progress->localSet = error; });
    if (!waitUntil([&] { return progress->localSet.has_value(); }) || *progress->localSet)
        return fail(QStringLiteral("offer not set"));
    const std::optional<QString> answer = answering.answer(negotiation.offerSdp);
    if (!alive || !answer)
        return fail(QStringLiteral("no answer"));
    offering.setRemoteDescription(
        QStringLiteral("answer"), *answer,
        [progress](std::optional<QString> error) { progress->remoteSet = error; });
    if (!waitUntil([&] { return progress->remoteSet.has_value(); }) || *progress->remoteSet)
        return fail(QStringLiteral("answer not set"));
    described = true;
    deliver();

    if (!waitUntil([&] {
            return alive->channelState() == PeerConnection::ChannelState::open &&
                   answering.isChannelOpen();
        }))
        return fail(QStringLiteral("channel not open"));
    if (!progress->candidateFailures.isEmpty())
        return fail(QStringLiteral("candidates refused: ") +
                    progress->candidateFailures.join(u'\n'));
    negotiation.succeeded = true;
    return negotiation;
}

} // namespace vyo::test
