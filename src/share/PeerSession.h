#pragma once

// The desktop's side of the connection to one browser that joined a shared shelf's room: it
// negotiates the peer connection as the offering side (its signals travel through the owner),
// learns whether the connection runs directly or through a relay, and serves the transfer protocol
// on the data channel: single items, folders and the whole shelf as ZIP archives, uploads into the
// shelf, cancellation, and flow control of outgoing data. It reports to its owner through
// callbacks only, all called on the main thread.

#include "logic/TransferProtocol.h"
#include "platform/PeerConnection.h"

#include <QFile>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QUrl>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace vyo {

class Shelf;

class PeerSession : public QObject
{
    Q_OBJECT
public:
    // How the connection runs; `closed` is final.
    enum class Route { connecting, direct, relay, closed };

    // The pump stops while this much waits in the channel's send buffer, and runs again once the
    // channel reports at most `resumeBufferedAmount`.
    static constexpr quint64 maximumBufferedAmount = 1048576;
    static constexpr quint64 resumeBufferedAmount = 262144;
    // The largest upload accepted: 4 GiB.
    static constexpr quint64 maximumUploadSize = 4294967296;

    // A session for the browser `peerID` on `connection` (made with the share's ICE servers),
    // serving `shelf`. The offer is requested at once.
    PeerSession(const QString &peerID, Shelf *shelf, std::unique_ptr<PeerConnection> connection,
                QObject *parent = nullptr);
    // Without a close: downloads and uploads end silently (temporary archives and partial uploads
    // are deleted), and no callback is called.
    ~PeerSession() override;

    const QString &peerID() const { return m_peerID; }
    Route route() const { return m_route; }
    const QString &deviceName() const { return m_deviceName; }
    bool isReady() const { return m_isReady; }
    bool hasRemoteDescription() const { return m_hasRemoteDescription; }
    std::optional<qint64> remoteMaxMessageSize() const { return m_remoteMaxMessageSize; }
    Shelf *shelf() const;

    // One signal payload from this browser: its answer or one of its candidates.
    void handleSignal(const QString &payload);
    // Sends one text message, only once the browser is ready and while a channel exists.
    void sendText(const QString &text);
    // Ends the session; with `notify`, "bye" goes out first. A second close does nothing.
    void close(bool notify);

    // Sends a signal payload to this browser.
    std::function<void(const QString &payload)> sendSignal;
    // Something shown in the device list changed (route, name, closed).
    std::function<void()> onRouteChange;
    // A line for the share's activity list.
    std::function<void(const QString &text)> onActivity;
    // The browser sent "ready".
    std::function<void()> onReady;
    // This session has closed.
    std::function<void()> onClosed;

    // The display name of a device from the free-form "device" text of "ready".
    static QString deviceNameFor(const QString &device);
    // Whether the selected candidate pair of a statistics report runs through a relay: `relay`
    // or `direct` (also when the report names no pair).
    static Route routeFor(const RtcStatsReport &report);
    // Payload bytes per data frame for the browser's announced largest message.
    static qint64 chunkPayloadSize(std::optional<qint64> maxMessageSize);

private:
    struct OutgoingTransfer
    {
        quint32 tid = 0;
        quint64 size = 0;
        QString path;
        std::unique_ptr<QFile> handle;
        bool deleteAfter = false;
        quint64 sent = 0;
        bool succeeded = false;
    };
    struct IncomingTransfer
    {
        QString path;
        std::unique_ptr<QFile> handle;
        quint64 expectedSize = 0;
        quint64 received = 0;
    };

    void offerMade(std::optional<QString> sdp, const QString &error);
    void connectionStateChanged(PeerConnection::State state);
    // Learns from the statistics whether the connection runs directly or through a relay: when
    // the connection is made, and again for every candidate the browser sends after that.
    void detectRoute();
    void channelStateChanged(PeerConnection::ChannelState state);
    void messageReceived(const PeerConnection::Message &message);
    void localCandidate(const IceCandidate &candidate);
    void addCandidate(const IceCandidate &candidate);

    void handleText(const TransferProtocol::Incoming &message);
    void getItem(quint32 tid, const QUuid &itemID);
    void getAll(quint32 tid);
    void startDownload(const QString &path, const QString &name, quint32 tid, bool deleteAfter);
    void zipAndSend(const QList<QUrl> &urls, const QString &name, quint32 tid);
    void pump();
    void finishFront();
    void startUpload(quint32 tid, const QString &name, quint64 size);
    void receiveFrame(const QByteArray &data);
    void endUpload(quint32 tid);
    void cancel(quint32 tid);
    void endAllTransfers();

    void sendMessage(const QJsonObject &message);
    void sendError(quint32 tid, const QString &message);
    void activity(const QString &text);
    void call(const std::function<void()> &callback);

    QString m_peerID;
    Route m_route = Route::connecting;
    QString m_deviceName;
    QPointer<Shelf> m_shelf;
    std::unique_ptr<PeerConnection> m_connection;
    QList<IceCandidate> m_pendingCandidates;
    bool m_hasRemoteDescription = false;
    std::optional<qint64> m_remoteMaxMessageSize;
    bool m_isReady = false;
    std::deque<OutgoingTransfer> m_outgoing;
    std::map<quint32, IncomingTransfer> m_incoming;
    // Archives being written for these transfers; a cancel removes its tid, and an archive that
    // comes back for a tid no longer here is deleted unsent.
    QMultiHash<quint32, QString> m_archivesInProgress;
    bool m_pumping = false;
    bool m_pumpAgain = false;
};

} // namespace vyo
