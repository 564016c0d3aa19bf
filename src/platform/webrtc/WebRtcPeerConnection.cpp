#include "platform/webrtc/WebRtcPeerConnection.h"

#include "platform/webrtc/PeerDelegateProxy.h"
#include "platform/webrtc/WebRtcFactory.h"

#include <api/jsep.h>
#include <api/stats/rtc_stats_collector_callback.h>
#include <api/stats/rtc_stats_report.h>

#include <QPointer>
#include <QVariantList>

namespace vyo {

namespace {

// The observers below are made with rtc::make_ref_counted, which derives from them.
using DescriptionCompletion = std::function<void(std::optional<QString> error)>;

QString errorText(const webrtc::RTCError &error)
{
    return QString::fromUtf8(error.message());
}

// Hands a WebRTC result to a completion on the main thread.
void complete(PeerDelegateProxy &proxy, DescriptionCompletion completion,
              std::optional<QString> error)
{
    proxy.deliver([completion = std::move(completion), error = std::move(error)](auto &) {
        if (completion)
            completion(error);
    });
}

class OfferObserver : public webrtc::CreateSessionDescriptionObserver
{
public:
    using Completion = std::function<void(std::optional<QString> sdp, const QString &error)>;

    OfferObserver(std::shared_ptr<PeerDelegateProxy> proxy, Completion completion)
        : m_proxy(std::move(proxy))
        , m_completion(std::move(completion))
    {}

    void OnSuccess(webrtc::SessionDescriptionInterface *description) override
    {
        const std::unique_ptr<webrtc::SessionDescriptionInterface> owned(description);
        std::string sdp;
        if (!owned->ToString(&sdp)) {
            finish(std::nullopt, QString());
            return;
        }
        finish(QString::fromStdString(sdp), QString());
    }

    void OnFailure(webrtc::RTCError error) override { finish(std::nullopt, errorText(error)); }

private:
    void finish(std::optional<QString> sdp, QString error)
    {
        m_proxy->deliver([completion = std::move(m_completion), sdp = std::move(sdp),
                          error = std::move(error)](auto &) {
            if (completion)
                completion(sdp, error);
        });
    }

    std::shared_ptr<PeerDelegateProxy> m_proxy;
    Completion m_completion;
};

class LocalDescriptionObserver : public webrtc::SetLocalDescriptionObserverInterface
{
public:
    LocalDescriptionObserver(std::shared_ptr<PeerDelegateProxy> proxy,
                             DescriptionCompletion completion)
        : m_proxy(std::move(proxy))
        , m_completion(std::move(completion))
    {}

    void OnSetLocalDescriptionComplete(webrtc::RTCError error) override
    {
        complete(*m_proxy, std::move(m_completion),
                 error.ok() ? std::nullopt : std::optional(errorText(error)));
    }

private:
    std::shared_ptr<PeerDelegateProxy> m_proxy;
    DescriptionCompletion m_completion;
};

class RemoteDescriptionObserver : public webrtc::SetRemoteDescriptionObserverInterface
{
public:
    RemoteDescriptionObserver(std::shared_ptr<PeerDelegateProxy> proxy,
                              DescriptionCompletion completion)
        : m_proxy(std::move(proxy))
        , m_completion(std::move(completion))
    {}

    void OnSetRemoteDescriptionComplete(webrtc::RTCError error) override
    {
        complete(*m_proxy, std::move(m_completion),
                 error.ok() ? std::nullopt : std::optional(errorText(error)));
    }

private:
    std::shared_ptr<PeerDelegateProxy> m_proxy;
    DescriptionCompletion m_completion;
};

template <typename T> const T &valueOf(const webrtc::RTCStatsMemberInterface &member)
{
    return *member.cast_to<webrtc::RTCStatsMember<T>>();
}

template <typename T> QVariantList listOf(const webrtc::RTCStatsMemberInterface &member)
{
    QVariantList list;
    for (const auto &item : valueOf<std::vector<T>>(member)) {
        if constexpr (std::is_same_v<T, std::string>)
            list.append(QString::fromStdString(item));
        else if constexpr (std::is_same_v<T, bool>)
            list.append(bool(item));
        else if constexpr (std::is_integral_v<T> && std::is_signed_v<T>)
            list.append(qint64(item));
        else if constexpr (std::is_integral_v<T>)
            list.append(quint64(item));
        else
            list.append(item);
    }
    return list;
}

template <typename T> QVariantMap mapOf(const webrtc::RTCStatsMemberInterface &member)
{
    QVariantMap map;
    for (const auto &[key, value] : valueOf<std::map<std::string, T>>(member)) {
        if constexpr (std::is_integral_v<T>)
            map.insert(QString::fromStdString(key), quint64(value));
        else
            map.insert(QString::fromStdString(key), value);
    }
    return map;
}

// One value of a statistic as Qt holds it: strings as QString, numbers as int, uint, qint64,
// quint64 or double, lists and maps as QVariantList and QVariantMap.
QVariant variantOf(const webrtc::RTCStatsMemberInterface &member)
{
    using Member = webrtc::RTCStatsMemberInterface;
    switch (member.type()) {
    case Member::kBool:
        return valueOf<bool>(member);
    case Member::kInt32:
        return int(valueOf<int32_t>(member));
    case Member::kUint32:
        return uint(valueOf<uint32_t>(member));
    case Member::kInt64:
        return qint64(valueOf<int64_t>(member));
    case Member::kUint64:
        return quint64(valueOf<uint64_t>(member));
    case Member::kDouble:
        return valueOf<double>(member);
    case Member::kString:
        return QString::fromStdString(valueOf<std::string>(member));
    case Member::kSequenceBool:
        return listOf<bool>(member);
    case Member::kSequenceInt32:
        return listOf<int32_t>(member);
    case Member::kSequenceUint32:
        return listOf<uint32_t>(member);
    case Member::kSequenceInt64:
        return listOf<int64_t>(member);
    case Member::kSequenceUint64:
        return listOf<uint64_t>(member);
    case Member::kSequenceDouble:
        return listOf<double>(member);
    case Member::kSequenceString:
        return listOf<std::string>(member);
    case Member::kMapStringUint64:
        return mapOf<uint64_t>(member);
    case Member::kMapStringDouble:
        return mapOf<double>(member);
    }
    return QString::fromStdString(member.ValueToString());
}

RtcStatsReport reportOf(const webrtc::RTCStatsReport &report)
{
    RtcStatsReport converted;
    for (const webrtc::RTCStats &stats : report) {
        RtcStatistic statistic;
        statistic.type = QString::fromUtf8(stats.type());
        for (const webrtc::RTCStatsMemberInterface *member : stats.Members()) {
            if (member->is_defined())
                statistic.values.insert(QString::fromUtf8(member->name()), variantOf(*member));
        }
        converted.insert(QString::fromStdString(stats.id()), statistic);
    }
    return converted;
}

class StatisticsCallback : public webrtc::RTCStatsCollectorCallback
{
public:
    using Completion = std::function<void(const RtcStatsReport &report)>;

    StatisticsCallback(std::shared_ptr<PeerDelegateProxy> proxy, Completion completion)
        : m_proxy(std::move(proxy))
        , m_completion(std::move(completion))
    {}

    void OnStatsDelivered(const rtc::scoped_refptr<const webrtc::RTCStatsReport> &report) override
    {
        RtcStatsReport converted = report ? reportOf(*report) : RtcStatsReport();
        m_proxy->deliver(
            [completion = std::move(m_completion), converted = std::move(converted)](auto &) {
                if (completion)
                    completion(converted);
            });
    }

private:
    std::shared_ptr<PeerDelegateProxy> m_proxy;
    Completion m_completion;
};

} // namespace

WebRtcPeerConnection::WebRtcPeerConnection()
    : m_proxy(std::make_shared<PeerDelegateProxy>(this))
{}

WebRtcPeerConnection::~WebRtcPeerConnection()
{
    close();
}

bool WebRtcPeerConnection::open(WebRtcFactory &factory, const QList<IceServer> &iceServers)
{
    webrtc::PeerConnectionInterface::RTCConfiguration configuration;
    configuration.sdp_semantics = webrtc::SdpSemantics::kUnifiedPlan;
    configuration.continual_gathering_policy = webrtc::PeerConnectionInterface::GATHER_CONTINUALLY;
    for (const IceServer &server : iceServers) {
        webrtc::PeerConnectionInterface::IceServer converted;
        for (const QString &url : server.urls)
            converted.urls.push_back(url.toStdString());
        converted.username = server.username.value_or(QString()).toStdString();
        converted.password = server.credential.value_or(QString()).toStdString();
        configuration.servers.push_back(std::move(converted));
    }

    auto connection = factory.factory().CreatePeerConnectionOrError(
        configuration, webrtc::PeerConnectionDependencies(m_proxy.get()));
    if (!connection.ok())
        return false;
    m_connection = connection.MoveValue();

    webrtc::DataChannelInit init;
    init.ordered = true;
    auto channel = m_connection->CreateDataChannelOrError("vyo", &init);
    if (!channel.ok()) {
        m_connection->Close();
        m_connection = nullptr;
        return false;
    }
    m_channel = channel.MoveValue();
    m_proxy->setChannel(m_channel.get());
    m_channel->RegisterObserver(m_proxy.get());
    m_factory = &factory;
    factory.addConnection(this);
    return true;
}

void WebRtcPeerConnection::createOffer(
    std::function<void(std::optional<QString> sdp, const QString &error)> completion)
{
    if (!m_connection)
        return;
    auto observer = rtc::make_ref_counted<OfferObserver>(m_proxy, std::move(completion));
    m_connection->CreateOffer(observer.get(),
                              webrtc::PeerConnectionInterface::RTCOfferAnswerOptions());
}

void WebRtcPeerConnection::setLocalDescription(const QString &type, const QString &sdp,
                                               DescriptionCompletion completion)
{
    setDescription(false, type, sdp, std::move(completion));
}

void WebRtcPeerConnection::setRemoteDescription(const QString &type, const QString &sdp,
                                                DescriptionCompletion completion)
{
    setDescription(true, type, sdp, std::move(completion));
}

void WebRtcPeerConnection::setDescription(bool remote, const QString &type, const QString &sdp,
                                          DescriptionCompletion completion)
{
    if (!m_connection)
        return;
    const absl::optional<webrtc::SdpType> sdpType = webrtc::SdpTypeFromString(type.toStdString());
    if (!sdpType) {
        complete(*m_proxy, std::move(completion), QStringLiteral("unknown type ") + type);
        return;
    }
    webrtc::SdpParseError parseError;
    std::unique_ptr<webrtc::SessionDescriptionInterface> description =
        webrtc::CreateSessionDescription(*sdpType, sdp.toStdString(), &parseError);
    if (!description) {
        complete(*m_proxy, std::move(completion), QString::fromStdString(parseError.description));
        return;
    }
    if (remote)
        m_connection->SetRemoteDescription(
            std::move(description),
            rtc::make_ref_counted<RemoteDescriptionObserver>(m_proxy, std::move(completion)));
    else
        m_connection->SetLocalDescription(
            std::move(description),
            rtc::make_ref_counted<LocalDescriptionObserver>(m_proxy, std::move(completion)));
}

void WebRtcPeerConnection::addIceCandidate(const IceCandidate &candidate,
                                           DescriptionCompletion completion)
{
    if (!m_connection)
        return;
    webrtc::SdpParseError parseError;
    std::unique_ptr<webrtc::IceCandidateInterface> converted(webrtc::CreateIceCandidate(
        candidate.sdpMid.value_or(QString()).toStdString(), candidate.sdpMLineIndex,
        candidate.candidate.toStdString(), &parseError));
    if (!converted) {
        complete(*m_proxy, std::move(completion), QString::fromStdString(parseError.description));
        return;
    }
    m_connection->AddIceCandidate(
        std::move(converted),
        [proxy = m_proxy, completion = std::move(completion)](webrtc::RTCError error) mutable {
            complete(*proxy, std::move(completion),
                     error.ok() ? std::nullopt : std::optional(errorText(error)));
        });
}

void WebRtcPeerConnection::statistics(std::function<void(const RtcStatsReport &report)> completion)
{
    if (!m_connection)
        return;
    auto callback = rtc::make_ref_counted<StatisticsCallback>(m_proxy, std::move(completion));
    m_connection->GetStats(callback.get());
}

quint64 WebRtcPeerConnection::bufferedAmount() const
{
    return m_channel ? m_channel->buffered_amount() : 0;
}

bool WebRtcPeerConnection::send(const Message &message)
{
    if (!m_channel || m_channelState != ChannelState::open)
        return false;
    // Beyond its queue's limit WebRTC would close the channel rather than refuse the message.
    const quint64 size = quint64(message.data.size());
    if (m_channel->buffered_amount() + size > webrtc::DataChannelInterface::MaxSendQueueSize())
        return false;
    const rtc::CopyOnWriteBuffer buffer(reinterpret_cast<const uint8_t *>(message.data.constData()),
                                        size_t(size));
    return m_channel->Send(webrtc::DataBuffer(buffer, message.binary));
}

void WebRtcPeerConnection::close()
{
    m_proxy->clearOwner();
    // The order WebRTC needs: the channel, then the connection, then both released.
    if (m_channel) {
        m_channel->UnregisterObserver();
        m_channel->Close();
    }
    if (m_connection)
        m_connection->Close();
    m_channel = nullptr;
    m_connection = nullptr;
    m_state = State::closed;
    m_channelState = ChannelState::closed;
    if (m_factory)
        std::exchange(m_factory, nullptr)->removeConnection(this);
}

void WebRtcPeerConnection::deliverIceCandidate(const IceCandidate &candidate)
{
    Q_EMIT iceCandidate(candidate);
}

void WebRtcPeerConnection::deliverState(State state)
{
    if (state == m_state)
        return;
    m_state = state;
    Q_EMIT stateChanged(state);
}

void WebRtcPeerConnection::deliverChannelState(ChannelState state)
{
    if (state == m_channelState)
        return;
    m_channelState = state;
    Q_EMIT channelStateChanged(state);
}

void WebRtcPeerConnection::deliverMessage(const Message &message)
{
    // WebRTC may report a message before the news that the channel opened has come through
    // (they arrive on different threads): a channel a message came through is open. Otherwise
    // an answer sent at once (the listing after "ready") would be refused.
    if (m_channelState == ChannelState::connecting) {
        const QPointer<WebRtcPeerConnection> self(this);
        deliverChannelState(ChannelState::open);
        if (!self)
            return;
    }
    Q_EMIT messageReceived(message);
}

void WebRtcPeerConnection::deliverBufferedAmount(quint64 amount)
{
    Q_EMIT bufferedAmountChanged(amount);
}

std::unique_ptr<PeerConnection> makePeerConnection(const QList<IceServer> &iceServers)
{
    WebRtcFactory *factory = WebRtcFactory::shared();
    if (!factory)
        return nullptr;
    auto connection = std::make_unique<WebRtcPeerConnection>();
    if (!connection->open(*factory, iceServers))
        return nullptr;
    return connection;
}

} // namespace vyo
