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

    template <typename Call> void post(Call call)
    {
        QMutexLocker lock(&mutex);
        if (peer)
            QMetaObject::invokeMethod(peer, std::move(call), Qt::QueuedConnection);
    }
};

class AnswerObserver : public webrtc::CreateSessionDescriptionObserver
{
public:
    std::promise<std::unique_ptr<webrtc::SessionDescriptionInterface>> result;
    void OnSuccess(webrtc::SessionDescriptionInterface *description) override
    {
        result.set_value(std::unique_ptr<webrtc::SessionDescriptionInterface>(description));
    }
    void OnFailure(webrtc::RTCError) override { result.set_value(nullptr); }
};

class LocalObserver : public webrtc::SetLocalDescriptionObserverInterface
{
public:
    std::promise<bool> result;
    void OnSetLocalDescriptionComplete(webrtc::RTCError error) override
    {
        result.set_value(error.ok());
    }
};

class RemoteObserver : public webrtc::SetRemoteDescriptionObserverInterface
{
public:
    std::promise<bool> result;
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
    std::atomic<bool> open = false, closed = false, forward = true;
    std::atomic<quint64> bytes = 0, messages = 0;
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
        gate->post([gate = gate, local] {
            if (gate->peer)
                Q_EMIT gate->peer->iceCandidate(local);
        });
    }

    void OnStateChange() override
    {
        const auto state = currentChannel()->state();
        if (state == webrtc::DataChannelInterface::kOpen && !open.exchange(true)) {
            gate->post([gate = gate] {
                if (gate->peer)
                    Q_EMIT gate->peer->channelOpened();
            });
        } else if (state == webrtc::DataChannelInterface::kClosed && !closed.exchange(true)) {
            gate->post([gate = gate] {
                if (gate->peer)
                    Q_EMIT gate->peer->channelClosed();
            });
        }
    }

    void OnMessage(const webrtc::DataBuffer &buffer) override
    {
        bytes += buffer.size();
        ++messages;
        if (!forward)
            return;
        PeerConnection::Message message{
            QByteArray(reinterpret_cast<const char *>(buffer.data.cdata()),
                       qsizetype(buffer.size())),
            buffer.binary};
        gate->post([gate = gate, message] {
            if (gate->peer)
                Q_EMIT gate->peer->messageReceived(message);
        });
    }
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
    if (auto channel = d->currentChannel())
        channel->UnregisterObserver();
    close();
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
    if (!d->connection)
        return std::nullopt;
    webrtc::SdpParseError parseError;
    std::unique_ptr<webrtc::SessionDescriptionInterface> offer = webrtc::CreateSessionDescription(
        webrtc::SdpType::kOffer, offerSdp.toStdString(), &parseError);
    if (!offer)
        return std::nullopt;
    auto remote = rtc::make_ref_counted<RemoteObserver>();
    auto remoteSet = remote->result.get_future();
    d->connection->SetRemoteDescription(std::move(offer), remote);
    if (!waitFor(std::move(remoteSet)).value_or(false))
        return std::nullopt;

    auto made = rtc::make_ref_counted<AnswerObserver>();
    auto answerMade = made->result.get_future();
    d->connection->CreateAnswer(made.get(),
                                webrtc::PeerConnectionInterface::RTCOfferAnswerOptions());
    auto answer = waitFor(std::move(answerMade));
    if (!answer || !*answer)
        return std::nullopt;
    std::string sdp;
    (*answer)->ToString(&sdp);

    auto local = rtc::make_ref_counted<LocalObserver>();
    auto localSet = local->result.get_future();
    d->connection->SetLocalDescription(std::move(*answer), local);
    if (!waitFor(std::move(localSet)).value_or(false))
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

QString AnsweringPeer::channelLabel() const
{
    auto channel = d->currentChannel();
    return channel ? QString::fromStdString(channel->label()) : QString();
}

bool AnsweringPeer::channelOrdered() const
{
    auto channel = d->currentChannel();
    return channel && channel->ordered();
}

void AnsweringPeer::setForwardMessages(bool forward)
{
    d->forward = forward;
}

quint64 AnsweringPeer::receivedBytes() const
{
    return d->bytes;
}

quint64 AnsweringPeer::receivedMessages() const
{
    return d->messages;
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

quint64 AnsweringPeer::streamLeft() const
{
    return d->streamLeft;
}

void AnsweringPeer::close()
{
    if (auto channel = d->currentChannel())
        channel->Close();
    if (d->connection)
        d->connection->Close();
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
        std::optional<QString> offer;
        bool offerDone = false;
        std::optional<std::optional<QString>> localSet, remoteSet;
        int candidatesAdded = 0;
        QStringList candidateFailures;
    };
    auto progress = std::make_shared<Progress>();
    // The offering side may be destroyed by a handler of its own signals on the way.
    const QPointer<PeerConnection> alive(&offering);
    auto waitUntil = [&](auto condition) {
        return QTest::qWaitFor([&] { return !alive || condition(); }, milliseconds) && alive;
    };
    // The connections made here end with this object.
    QObject scope;
    bool answeringHasOffer = false;
    bool offeringHasAnswer = false;
    QList<IceCandidate> heldForAnswering, heldForOffering;

    auto addToOffering = [alive, progress](const IceCandidate &candidate) {
        if (alive)
            alive->addIceCandidate(candidate, [progress](std::optional<QString> error) {
                ++progress->candidatesAdded;
                if (error)
                    progress->candidateFailures.append(*error);
            });
    };
    QObject::connect(&offering, &PeerConnection::iceCandidate, &scope,
                     [&](const IceCandidate &candidate) {
                         ++negotiation.offeringCandidates;
                         if (!answeringHasOffer)
                             heldForAnswering.append(candidate);
                         else if (!answering.addCandidate(candidate))
                             progress->candidateFailures.append(candidate.candidate);
                     });
    QObject::connect(&answering, &AnsweringPeer::iceCandidate, &scope,
                     [&](const IceCandidate &candidate) {
                         ++negotiation.answeringCandidates;
                         if (!offeringHasAnswer)
                             heldForOffering.append(candidate);
                         else
                             addToOffering(candidate);
                     });

    offering.createOffer([progress](std::optional<QString> sdp, const QString &) {
        progress->offer = sdp;
        progress->offerDone = true;
    });
    if (!waitUntil([&] { return progress->offerDone; }) || !progress->offer)
        return fail(QStringLiteral("no offer"));
    const QString offer = *progress->offer;
    negotiation.offerSdp = offer;

    offering.setLocalDescription(
        QStringLiteral("offer"), offer,
        [progress](std::optional<QString> error) { progress->localSet = error; });
    if (!waitUntil([&] { return progress->localSet.has_value(); }) || *progress->localSet)
        return fail(QStringLiteral("offer not set"));
    // Candidates gathered for the offer come before anyone has answered.
    if (!waitUntil([&] { return !heldForAnswering.isEmpty(); }))
        return fail(QStringLiteral("no candidate for the offer"));

    const std::optional<QString> answer = answering.answer(offer);
    if (!alive)
        return fail(QStringLiteral("offering side gone"));
    if (!answer)
        return fail(QStringLiteral("no answer"));
    answeringHasOffer = true;
    negotiation.heldForAnswering = int(heldForAnswering.size());
    for (const IceCandidate &candidate : std::as_const(heldForAnswering)) {
        if (!answering.addCandidate(candidate))
            progress->candidateFailures.append(candidate.candidate);
    }
    if (!waitUntil([&] { return !heldForOffering.isEmpty(); }))
        return fail(QStringLiteral("no candidate for the answer"));

    if (!alive)
        return fail(QStringLiteral("offering side gone"));
    offering.setRemoteDescription(
        QStringLiteral("answer"), *answer,
        [progress](std::optional<QString> error) { progress->remoteSet = error; });
    if (!waitUntil([&] { return progress->remoteSet.has_value(); }) || *progress->remoteSet)
        return fail(QStringLiteral("answer not set"));
    offeringHasAnswer = true;
    negotiation.heldForOffering = int(heldForOffering.size());
    for (const IceCandidate &candidate : std::as_const(heldForOffering))
        addToOffering(candidate);
    if (!waitUntil([&] { return progress->candidatesAdded >= negotiation.heldForOffering; }))
        return fail(QStringLiteral("held candidates not added"));

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
