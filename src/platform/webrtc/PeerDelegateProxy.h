#pragma once

// The delegate of one WebRTC peer connection and its data channel. WebRTC calls it on its own
// threads; it hands every callback to its owner's thread and drops it there once the owner is
// gone or has cleared it, so nothing reaches a connection after it was closed or destroyed.
// WebRTC points at the proxy, never at the connection object: the owner can go at any time.

#include "platform/PeerConnection.h"

#include <api/data_channel_interface.h>
#include <api/peer_connection_interface.h>

#include <QMutex>

#include <functional>
#include <memory>

namespace vyo {

class WebRtcPeerConnection;

class PeerDelegateProxy final : public webrtc::PeerConnectionObserver,
                                public webrtc::DataChannelObserver,
                                public std::enable_shared_from_this<PeerDelegateProxy>
{
public:
    explicit PeerDelegateProxy(WebRtcPeerConnection *owner);

    // Owner's thread: nothing is delivered from now on.
    void clearOwner();
    // Any thread: runs `delivery` on the owner's thread, unless by then the owner is gone or has
    // cleared the proxy.
    void deliver(std::function<void(WebRtcPeerConnection &owner)> delivery);
    // The channel whose state and buffered amount the channel callbacks report; set before the
    // proxy is registered with it.
    void setChannel(webrtc::DataChannelInterface *channel) { m_channel = channel; }

    // webrtc::PeerConnectionObserver
    void OnSignalingChange(webrtc::PeerConnectionInterface::SignalingState) override {}
    void OnDataChannel(rtc::scoped_refptr<webrtc::DataChannelInterface>) override {}
    void OnIceGatheringChange(webrtc::PeerConnectionInterface::IceGatheringState) override {}
    void OnIceCandidate(const webrtc::IceCandidateInterface *candidate) override;
    void OnConnectionChange(webrtc::PeerConnectionInterface::PeerConnectionState state) override;

    // webrtc::DataChannelObserver
    void OnStateChange() override;
    void OnMessage(const webrtc::DataBuffer &buffer) override;
    void OnBufferedAmountChange(uint64_t sentDataSize) override;

private:
    WebRtcPeerConnection *owner();

    QMutex m_mutex;
    WebRtcPeerConnection *m_owner;
    webrtc::DataChannelInterface *m_channel = nullptr;
};

} // namespace vyo
