#pragma once

// The peer connection on WebRTC: the offering side with its one data channel "vyo". Every call
// is made on the main thread; WebRTC's callbacks come back through a PeerDelegateProxy.

#include "platform/PeerConnection.h"

#include <api/data_channel_interface.h>
#include <api/peer_connection_interface.h>

#include <memory>

namespace vyo {

class PeerDelegateProxy;
class WebRtcFactory;

class WebRtcPeerConnection final : public PeerConnection
{
    Q_OBJECT
public:
    WebRtcPeerConnection();
    ~WebRtcPeerConnection() override;

    // Makes the connection and its channel with the factory; false when WebRTC refuses.
    bool open(WebRtcFactory &factory, const QList<IceServer> &iceServers);

    void createOffer(
        std::function<void(std::optional<QString> sdp, const QString &error)> completion) override;
    void setLocalDescription(const QString &type, const QString &sdp,
                             std::function<void(std::optional<QString> error)> completion) override;
    void
    setRemoteDescription(const QString &type, const QString &sdp,
                         std::function<void(std::optional<QString> error)> completion) override;
    void addIceCandidate(const IceCandidate &candidate,
                         std::function<void(std::optional<QString> error)> completion) override;
    void statistics(std::function<void(const RtcStatsReport &report)> completion) override;
    State state() const override { return m_state; }
    ChannelState channelState() const override { return m_channelState; }
    quint64 bufferedAmount() const override;
    bool send(const Message &message) override;
    void close() override;

    // What the proxy delivers on the main thread.
    void deliverIceCandidate(const IceCandidate &candidate);
    void deliverState(State state);
    void deliverChannelState(ChannelState state);
    void deliverMessage(const Message &message);
    void deliverBufferedAmount(quint64 amount);

private:
    // Both descriptions go the same way; `remote` picks which one is set.
    void setDescription(bool remote, const QString &type, const QString &sdp,
                        std::function<void(std::optional<QString> error)> completion);

    std::shared_ptr<PeerDelegateProxy> m_proxy;
    WebRtcFactory *m_factory = nullptr;
    rtc::scoped_refptr<webrtc::PeerConnectionInterface> m_connection;
    rtc::scoped_refptr<webrtc::DataChannelInterface> m_channel;
    State m_state = State::fresh;
    ChannelState m_channelState = ChannelState::connecting;
};

} // namespace vyo
