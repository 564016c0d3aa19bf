#include "platform/fake/FakePeerConnection.h"

namespace vyo {

FakePeerConnection::FakePeerConnection(const QList<IceServer> &iceServers, QObject *parent)
    : PeerConnection(parent)
    , m_iceServers(iceServers)
{}

void FakePeerConnection::createOffer(
    std::function<void(std::optional<QString> sdp, const QString &error)> completion)
{
    m_offers.append(std::move(completion));
}

void FakePeerConnection::setLocalDescription(
    const QString &type, const QString &sdp,
    std::function<void(std::optional<QString> error)> completion)
{
    m_localDescriptions.append({type, sdp});
    m_localCompletions.append(std::move(completion));
}

void FakePeerConnection::setRemoteDescription(
    const QString &type, const QString &sdp,
    std::function<void(std::optional<QString> error)> completion)
{
    m_remoteDescriptions.append({type, sdp});
    m_remoteCompletions.append(std::move(completion));
}

void FakePeerConnection::addIceCandidate(
    const IceCandidate &candidate, std::function<void(std::optional<QString> error)> completion)
{
    m_addedCandidates.append(candidate);
    m_candidateCompletions.append(std::move(completion));
}

void FakePeerConnection::statistics(std::function<void(const RtcStatsReport &report)> completion)
{
    m_statisticsCompletions.append(std::move(completion));
}

bool FakePeerConnection::send(const Message &message)
{
    if (m_closed || m_refusingSends || m_channelState != ChannelState::open)
        return false;
    m_sent.append(message);
    if (m_buffering)
        m_bufferedAmount += quint64(message.data.size());
    Q_EMIT messageSent(message);
    return true;
}

void FakePeerConnection::close()
{
    ++m_closeCount;
    if (m_closed)
        return;
    m_closed = true;
    m_channelState = ChannelState::closed;
    m_state = State::closed;
    Q_EMIT closedBySession();
}

QStringList FakePeerConnection::sentTexts() const
{
    QStringList texts;
    for (const Message &message : m_sent) {
        if (!message.binary)
            texts.append(QString::fromUtf8(message.data));
    }
    return texts;
}

QList<QByteArray> FakePeerConnection::sentBinaries() const
{
    QList<QByteArray> binaries;
    for (const Message &message : m_sent) {
        if (message.binary)
            binaries.append(message.data);
    }
    return binaries;
}

template <typename Completion> Completion FakePeerConnection::takeFirst(QList<Completion> &list)
{
    if (list.isEmpty())
        return nullptr;
    return list.takeFirst();
}

bool FakePeerConnection::completeOffer(const QString &sdp)
{
    auto completion = takeFirst(m_offers);
    if (!completion || m_closed)
        return false;
    completion(sdp, QString());
    return true;
}

bool FakePeerConnection::failOffer(const QString &error)
{
    auto completion = takeFirst(m_offers);
    if (!completion || m_closed)
        return false;
    completion(std::nullopt, error);
    return true;
}

bool FakePeerConnection::completeLocalDescription(std::optional<QString> error)
{
    auto completion = takeFirst(m_localCompletions);
    if (!completion || m_closed)
        return false;
    completion(error);
    return true;
}

bool FakePeerConnection::completeRemoteDescription(std::optional<QString> error)
{
    auto completion = takeFirst(m_remoteCompletions);
    if (!completion || m_closed)
        return false;
    completion(error);
    return true;
}

bool FakePeerConnection::completeCandidate(std::optional<QString> error)
{
    auto completion = takeFirst(m_candidateCompletions);
    if (!completion || m_closed)
        return false;
    completion(error);
    return true;
}

RtcStatsReport FakePeerConnection::selectedPairReport(const QString &localType,
                                                      const QString &remoteType)
{
    return RtcStatsReport{{"T", {"transport", {{"selectedCandidatePairId", "P"}}}},
                          {"P",
                           {"candidate-pair",
                            {{"nominated", true},
                             {"state", "succeeded"},
                             {"localCandidateId", "L"},
                             {"remoteCandidateId", "R"}}}},
                          {"L", {"local-candidate", {{"candidateType", localType}}}},
                          {"R", {"remote-candidate", {{"candidateType", remoteType}}}}};
}

bool FakePeerConnection::completeStatistics(const RtcStatsReport &report)
{
    auto completion = takeFirst(m_statisticsCompletions);
    if (!completion || m_closed)
        return false;
    completion(report);
    return true;
}

void FakePeerConnection::setState(State state)
{
    if (m_closed)
        return;
    m_state = state;
    Q_EMIT stateChanged(state);
}

void FakePeerConnection::setChannelState(ChannelState state)
{
    if (m_closed)
        return;
    m_channelState = state;
    Q_EMIT channelStateChanged(state);
}

void FakePeerConnection::gatherCandidate(const IceCandidate &candidate)
{
    if (!m_closed)
        Q_EMIT iceCandidate(candidate);
}

void FakePeerConnection::receiveText(const QString &text)
{
    if (!m_closed)
        Q_EMIT messageReceived(Message{text.toUtf8(), false});
}

void FakePeerConnection::receiveBinary(const QByteArray &data)
{
    if (!m_closed)
        Q_EMIT messageReceived(Message{data, true});
}

void FakePeerConnection::setBufferedAmount(quint64 amount, bool report)
{
    m_bufferedAmount = amount;
    if (report && !m_closed)
        Q_EMIT bufferedAmountChanged(amount);
}

} // namespace vyo
