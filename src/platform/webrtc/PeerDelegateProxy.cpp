#include "platform/webrtc/PeerDelegateProxy.h"

#include "platform/webrtc/WebRtcPeerConnection.h"

#include <QMetaObject>

namespace vyo {

namespace {

PeerConnection::State stateOf(webrtc::PeerConnectionInterface::PeerConnectionState state)
{
    using WebRtcState = webrtc::PeerConnectionInterface::PeerConnectionState;
    switch (state) {
    case WebRtcState::kNew:
        return PeerConnection::State::fresh;
    case WebRtcState::kConnecting:
        return PeerConnection::State::connecting;
    case WebRtcState::kConnected:
        return PeerConnection::State::connected;
    case WebRtcState::kDisconnected:
        return PeerConnection::State::disconnected;
    case WebRtcState::kFailed:
        return PeerConnection::State::failed;
    case WebRtcState::kClosed:
        return PeerConnection::State::closed;
    }
    return PeerConnection::State::failed;
}

PeerConnection::ChannelState channelStateOf(webrtc::DataChannelInterface::DataState state)
{
    switch (state) {
    case webrtc::DataChannelInterface::kConnecting:
        return PeerConnection::ChannelState::connecting;
    case webrtc::DataChannelInterface::kOpen:
        return PeerConnection::ChannelState::open;
    case webrtc::DataChannelInterface::kClosing:
        return PeerConnection::ChannelState::closing;
    case webrtc::DataChannelInterface::kClosed:
        return PeerConnection::ChannelState::closed;
    }
    return PeerConnection::ChannelState::closed;
}

} // namespace

PeerDelegateProxy::PeerDelegateProxy(WebRtcPeerConnection *owner)
    : m_owner(owner)
{}

void PeerDelegateProxy::clearOwner()
{
    QMutexLocker lock(&m_mutex);
    m_owner = nullptr;
}

WebRtcPeerConnection *PeerDelegateProxy::owner()
{
    QMutexLocker lock(&m_mutex);
    return m_owner;
}

void PeerDelegateProxy::deliver(std::function<void(WebRtcPeerConnection &owner)> delivery)
{
    // Posting while the lock is held keeps the owner alive until the call is queued; Qt drops
    // the queued call when the owner is destroyed before it runs.
    QMutexLocker lock(&m_mutex);
    if (!m_owner)
        return;
    QMetaObject::invokeMethod(
        m_owner,
        [self = shared_from_this(), delivery = std::move(delivery)] {
            if (WebRtcPeerConnection *owner = self->owner())
                delivery(*owner);
        },
        Qt::QueuedConnection);
}

void PeerDelegateProxy::OnIceCandidate(const webrtc::IceCandidateInterface *candidate)
{
    std::string line;
    if (!candidate->ToString(&line))
        return;
    IceCandidate local;
    local.candidate = QString::fromStdString(line);
    local.sdpMLineIndex = candidate->sdp_mline_index();
    if (!candidate->sdp_mid().empty())
        local.sdpMid = QString::fromStdString(candidate->sdp_mid());
    deliver([local](WebRtcPeerConnection &owner) { owner.deliverIceCandidate(local); });
}

void PeerDelegateProxy::OnConnectionChange(
    webrtc::PeerConnectionInterface::PeerConnectionState state)
{
    deliver([state = stateOf(state)](WebRtcPeerConnection &owner) { owner.deliverState(state); });
}

void PeerDelegateProxy::OnStateChange()
{
    const PeerConnection::ChannelState state = channelStateOf(m_channel->state());
    deliver([state](WebRtcPeerConnection &owner) { owner.deliverChannelState(state); });
}

void PeerDelegateProxy::OnMessage(const webrtc::DataBuffer &buffer)
{
    PeerConnection::Message message;
    message.data = QByteArray(reinterpret_cast<const char *>(buffer.data.cdata()),
                              qsizetype(buffer.data.size()));
    message.binary = buffer.binary;
    deliver([message = std::move(message)](WebRtcPeerConnection &owner) {
        owner.deliverMessage(message);
    });
}

void PeerDelegateProxy::OnBufferedAmountChange(uint64_t)
{
    // WebRTC reports what it has just sent; the owner is told what is still waiting.
    const quint64 amount = m_channel->buffered_amount();
    deliver([amount](WebRtcPeerConnection &owner) { owner.deliverBufferedAmount(amount); });
}

} // namespace vyo
