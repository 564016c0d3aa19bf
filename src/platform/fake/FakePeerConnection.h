#pragma once

// A peer connection that a test drives by hand: it records what the session asks of it (offers,
// descriptions, candidates, sent messages, statistics requests), keeps every completion until the
// test completes or fails it, and lets the test set the connection and channel states, deliver
// messages and candidates, and move the channel's buffered amount. Like the real one, it delivers
// nothing once it is closed.

#include "platform/PeerConnection.h"

#include <QList>

namespace vyo {

class FakePeerConnection final : public PeerConnection
{
    Q_OBJECT
public:
    struct Description
    {
        QString type;
        QString sdp;

        friend bool operator==(const Description &, const Description &) = default;
    };

    explicit FakePeerConnection(const QList<IceServer> &iceServers = {}, QObject *parent = nullptr);

    // A statistics report whose selected pair joins a local and a remote candidate of the given
    // types ("host", "relay", "prflx", …).
    static RtcStatsReport selectedPairReport(const QString &localType, const QString &remoteType);

    // PeerConnection
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
    quint64 bufferedAmount() const override { return m_bufferedAmount; }
    bool send(const Message &message) override;
    void close() override;

    // What the session asked for.
    const QList<IceServer> &iceServers() const { return m_iceServers; }
    const QList<Description> &localDescriptions() const { return m_localDescriptions; }
    const QList<Description> &remoteDescriptions() const { return m_remoteDescriptions; }
    const QList<IceCandidate> &addedCandidates() const { return m_addedCandidates; }
    const QList<Message> &sentMessages() const { return m_sent; }
    // The text messages sent, in order, and the binary ones.
    QStringList sentTexts() const;
    QList<QByteArray> sentBinaries() const;
    void clearSent() { m_sent.clear(); }
    bool isClosed() const { return m_closed; }
    int closeCount() const { return m_closeCount; }

    // Completions still waiting for the test, oldest first.
    int pendingOffers() const { return int(m_offers.size()); }
    int pendingLocalDescriptions() const { return int(m_localCompletions.size()); }
    int pendingRemoteDescriptions() const { return int(m_remoteCompletions.size()); }
    int pendingCandidates() const { return int(m_candidateCompletions.size()); }
    int pendingStatistics() const { return int(m_statisticsCompletions.size()); }

    // Answers the oldest waiting call; false when none waits (or the connection is closed, when
    // the answer is dropped as the real connection would).
    bool completeOffer(const QString &sdp);
    bool failOffer(const QString &error);
    bool completeLocalDescription(std::optional<QString> error = std::nullopt);
    bool completeRemoteDescription(std::optional<QString> error = std::nullopt);
    bool completeCandidate(std::optional<QString> error = std::nullopt);
    bool completeStatistics(const RtcStatsReport &report);

    // What the other side and the network do.
    void setState(State state);
    void setChannelState(ChannelState state);
    void gatherCandidate(const IceCandidate &candidate);
    void receiveText(const QString &text);
    void receiveBinary(const QByteArray &data);
    // Sets the buffered amount; with `report`, the channel announces the change.
    void setBufferedAmount(quint64 amount, bool report = true);
    // While on, every message sent adds its size to the buffered amount (nothing drains by itself).
    void setBuffering(bool on) { m_buffering = on; }
    // While on, send() refuses every message.
    void setRefusingSends(bool on) { m_refusingSends = on; }

Q_SIGNALS:
    // Every message the session sent, and the session closing the connection: for tests whose
    // fake goes away with the session that owns it.
    void messageSent(const vyo::PeerConnection::Message &message);
    void closedBySession();

private:
    template <typename Completion> static Completion takeFirst(QList<Completion> &completions);

    QList<IceServer> m_iceServers;
    State m_state = State::fresh;
    ChannelState m_channelState = ChannelState::connecting;
    quint64 m_bufferedAmount = 0;
    bool m_buffering = false;
    bool m_refusingSends = false;
    bool m_closed = false;
    int m_closeCount = 0;
    QList<Description> m_localDescriptions;
    QList<Description> m_remoteDescriptions;
    QList<IceCandidate> m_addedCandidates;
    QList<Message> m_sent;
    QList<std::function<void(std::optional<QString>, const QString &)>> m_offers;
    QList<std::function<void(std::optional<QString>)>> m_localCompletions;
    QList<std::function<void(std::optional<QString>)>> m_remoteCompletions;
    QList<std::function<void(std::optional<QString>)>> m_candidateCompletions;
    QList<std::function<void(const RtcStatsReport &)>> m_statisticsCompletions;
};

} // namespace vyo
