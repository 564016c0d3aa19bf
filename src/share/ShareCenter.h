#pragma once

// Shares shelves with phones and PCs: one share session per shared shelf. Starting a share fetches
// the ICE-server list, makes a room and its key, and connects the room's signaling client; every
// browser that joins gets a peer session on a peer connection from the maker the application
// installs. The center builds the listings browsers see (with small JPEG thumbnails), closes
// shares nobody has used for a while, and holds off idle sleep while anything is shared.

#include "logic/TransferProtocol.h"
#include "platform/PeerConnection.h"
#include "share/EmbeddedService.h"
#include "share/ShareSession.h"
#include "share/SignalingClient.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <QUuid>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace vyo {

class Defaults;
class Shelf;
class ShelfManager;

class ShareCenter : public QObject
{
    Q_OBJECT
public:
    // Makes the peer connection of a browser that joined; nothing when the platform refuses.
    using PeerConnectionMaker =
        std::function<std::unique_ptr<PeerConnection>(const QList<IceServer> &iceServers)>;
    // Makes the JPEG thumbnail of a file, away from the main thread; empty when none can be made.
    using ThumbnailMaker = std::function<QByteArray(const QString &path)>;
    using Clock = std::function<QDateTime()>;

    // Used when the ICE-server list cannot be fetched: "stun:" + host + ":3478".
    static constexpr auto fallbackStunHost = "stun.cloudflare.com";
    static constexpr int fallbackStunPort = 3478;
    // How often unused shares are looked for, and the shortest idle time that closes one.
    static constexpr std::chrono::seconds expiryInterval{30};
    static constexpr int minimumExpiryMinutes = 5;
    // Thumbnails: 64 × 64 points at scale 2, JPEG quality 60.
    static constexpr int thumbnailPixels = 128;
    static constexpr int thumbnailQuality = 60;

    static const QString offlineMessage;
    static const QString idleReason;

    // The process-wide center, made on first use with no shares.
    static ShareCenter &shared();

    explicit ShareCenter(QObject *parent = nullptr);
    ~ShareCenter() override;

    // Follows the manager's shelves: a change of a shared shelf is listed again, a closing shelf
    // stops being shared.
    void follow(ShelfManager &manager);

    // Makes the shelf shared unless it already is (asynchronous: the ICE-server list is fetched
    // first). A failure shows as lastError.
    void startSharing(Shelf *shelf);
    // Ends the share of the shelf, if it is shared.
    void stopSharing(const QUuid &shelfId);
    // Sends a shared shelf's new listing to its ready browsers; nothing for other shelves.
    void shelfChanged(Shelf *shelf);
    void clearError();

    bool isSharing(const QUuid &shelfId) const;
    // The share of a shelf; null when it is not shared.
    ShareSession *session(const QUuid &shelfId) const;
    const std::map<QUuid, std::unique_ptr<ShareSession>> &sessions() const { return m_sessions; }
    // The user-facing message of the last failed start.
    const std::optional<QString> &lastError() const { return m_lastError; }
    // Thumbnails made so far, by item: JPEG bytes, or empty bytes when none could be made.
    const ThumbnailCache &thumbnails() const { return m_thumbnails; }
    bool isExpiryTimerRunning() const { return m_expiryTimer != nullptr; }

    // The "list" message of a shelf, with the thumbnails made so far; thumbnails still missing
    // are made in the background, and the listing goes out again once some exist.
    QJsonObject listing(Shelf *shelf);

    // Looks for shares nobody has used for too long and closes them; the timer calls it every
    // 30 seconds while anything is shared.
    void checkExpiry();

    // The service's base address ("shareServiceURL"); empty when none is set, and then shares go
    // through the embedded service.
    static QUrl serviceBase();
    static QUrl serviceBase(const Defaults &defaults);
    // The share service built into the app: running only while something is shared (or being
    // started) without "shareServiceURL".
    EmbeddedService &embeddedService() { return *m_embedded; }

    // Where peer connections come from; without a maker, joins are ignored.
    void setPeerConnectionMaker(PeerConnectionMaker maker)
    {
        m_makePeerConnection = std::move(maker);
    }
    // The clock of activity times and expiry.
    void setClock(Clock clock);
    void setThumbnailMaker(ThumbnailMaker maker) { m_makeThumbnail = std::move(maker); }
    void setIceFetchTimeout(std::chrono::milliseconds timeout) { m_iceFetchTimeout = timeout; }

    // The JPEG thumbnail of an image file fitted into 128 × 128 pixels at quality 60; empty for
    // anything that is not a readable image.
    static QByteArray makeThumbnail(const QString &path);

Q_SIGNALS:
    void sessionsChanged();
    void lastErrorChanged();

private:
    // `base` is where the desktop signals, `pageBase` where browsers open the page and signal.
    void iceListFetched(QPointer<Shelf> shelf, const QUrl &base, const QUrl &pageBase,
                        const QList<IceServer> &servers);
    void handleEvent(ShareSession *session, const SignalingClient::Event &event);
    void peerJoined(ShareSession *session, const QString &peerID);
    void setLastError(const std::optional<QString> &error);
    void releaseIdleResources();
    void makeThumbnails(Shelf *shelf, const QList<QUuid> &itemIDs);

    std::map<QUuid, std::unique_ptr<ShareSession>> m_sessions;
    std::optional<QString> m_lastError;
    QTimer *m_expiryTimer = nullptr;
    ThumbnailCache m_thumbnails;
    // Items whose thumbnails are being made, and the cache's age: results made for an emptied
    // cache are dropped.
    QSet<QUuid> m_thumbnailsInProgress;
    quint64 m_thumbnailGeneration = 0;
    PeerConnectionMaker m_makePeerConnection;
    ThumbnailMaker m_makeThumbnail;
    Clock m_clock;
    std::chrono::milliseconds m_iceFetchTimeout;
    EmbeddedService *m_embedded;
    // Starts waiting for their ICE-server list: the embedded service stays up for them.
    int m_pendingStarts = 0;
};

} // namespace vyo
