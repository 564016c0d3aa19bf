#pragma once

// One WebRTC peer connection with one data channel, as a share's peer session needs it: the
// offering side's negotiation, the channel's messages and flow control, and the statistics that
// tell a direct connection from a relayed one. The implementation on WebRTC lives in
// platform/webrtc/ (its own library, the only code that includes WebRTC's headers); tests use
// platform/fake/FakePeerConnection.
//
// Every signal and every completion is delivered on the thread the object lives on (the main
// thread), never after the object is gone.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

namespace vyo {

// One STUN or TURN server.
struct IceServer
{
    QStringList urls;
    std::optional<QString> username;
    std::optional<QString> credential;

    friend bool operator==(const IceServer &, const IceServer &) = default;
};

struct IceCandidate
{
    QString candidate;
    int sdpMLineIndex = 0;
    std::optional<QString> sdpMid;

    friend bool operator==(const IceCandidate &, const IceCandidate &) = default;
};

// One statistic of a statistics report: its type and values, by the W3C names ("transport",
// "selectedCandidatePairId", "candidate-pair", "candidateType", …).
struct RtcStatistic
{
    QString type;
    QVariantMap values;
};
// Statistics by identifier.
using RtcStatsReport = QHash<QString, RtcStatistic>;

class PeerConnection : public QObject
{
    Q_OBJECT
public:
    enum class State { fresh, connecting, connected, disconnected, failed, closed };
    enum class ChannelState { connecting, open, closing, closed };

    // A text or binary message on the data channel.
    struct Message
    {
        QByteArray data;
        bool binary = false;
    };

    using QObject::QObject;

    // Makes an offer; `completion` gets its SDP text, or nothing and the reason.
    virtual void createOffer(
        std::function<void(std::optional<QString> sdp, const QString &error)> completion) = 0;
    // Sets a description ("offer" or "answer" and its SDP text); `completion` gets the reason of
    // a failure, or nothing.
    virtual void
    setLocalDescription(const QString &type, const QString &sdp,
                        std::function<void(std::optional<QString> error)> completion) = 0;
    virtual void
    setRemoteDescription(const QString &type, const QString &sdp,
                         std::function<void(std::optional<QString> error)> completion) = 0;
    virtual void addIceCandidate(const IceCandidate &candidate,
                                 std::function<void(std::optional<QString> error)> completion) = 0;
    // The statistics report of the connection.
    virtual void statistics(std::function<void(const RtcStatsReport &report)> completion) = 0;
    virtual State state() const = 0;

    // The data channel made with the connection (label "vyo", ordered).
    virtual ChannelState channelState() const = 0;
    // Bytes queued on the channel and not yet sent.
    virtual quint64 bufferedAmount() const = 0;
    // Queues one message; false when the channel cannot take it (not open, buffer full).
    virtual bool send(const Message &message) = 0;
    // Closes the channel, then the connection. Nothing is delivered afterwards.
    virtual void close() = 0;

Q_SIGNALS:
    // A local candidate to send to the other side.
    void iceCandidate(const vyo::IceCandidate &candidate);
    void stateChanged(vyo::PeerConnection::State state);
    void channelStateChanged(vyo::PeerConnection::ChannelState state);
    void messageReceived(const vyo::PeerConnection::Message &message);
    // The channel's send buffer changed; `amount` is the buffered amount now.
    void bufferedAmountChanged(quint64 amount);
};

// A new offering peer connection with its data channel on WebRTC, with the given servers;
// nothing when WebRTC refuses to make one. The process-wide WebRTC factory is made on first use.
std::unique_ptr<PeerConnection> makePeerConnection(const QList<IceServer> &iceServers);

} // namespace vyo
