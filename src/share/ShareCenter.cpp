#include "share/ShareCenter.h"

#include "core/Defaults.h"
#include "core/Log.h"
#include "core/MainThread.h"
#include "platform/Desktop.h"
#include "platform/IdleInhibitor.h"
#include "share/ShareHelpers.h"
#include "share/ShelfListing.h"
#include "shelf/Shelf.h"
#include "shelf/ShelfManager.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QPainter>

#include <algorithm>
#include <utility>

namespace vyo {

const QString ShareCenter::offlineMessage =
    QStringLiteral("인터넷에 연결되어 있지 않아요. 연결을 확인한 뒤 다시 시도하세요.");
const QString ShareCenter::idleReason = QStringLiteral("Vyo 셸프를 휴대폰·PC와 공유하는 중");

namespace {

const QString startFailedMessage = QStringLiteral("공유를 시작하지 못했어요. 다시 시도하세요.");

IceServer fallbackServer()
{
    return IceServer{{QStringLiteral("stun:%1:%2")
                          .arg(QLatin1String(ShareCenter::fallbackStunHost))
                          .arg(ShareCenter::fallbackStunPort)},
                     std::nullopt,
                     std::nullopt};
}

} // namespace

ShareCenter &ShareCenter::shared()
{
    static ShareCenter *instance = new ShareCenter;
    return *instance;
}

ShareCenter::ShareCenter(QObject *parent)
    : QObject(parent)
    , m_makeThumbnail(&ShareCenter::makeThumbnail)
    , m_clock([] { return QDateTime::currentDateTime(); })
    , m_iceFetchTimeout(IceFetch::defaultTimeout)
    , m_embedded(new EmbeddedService(this))
{}

ShareCenter::~ShareCenter()
{
    if (m_sessions.empty())
        return;
    for (auto &[shelfId, session] : m_sessions)
        session->tearDown();
    m_sessions.clear();
    Desktop::shared().idleInhibitor().release();
}

void ShareCenter::follow(ShelfManager &manager)
{
    connect(&manager, &ShelfManager::shelfOpened, this, [this](Shelf *shelf) {
        const QPointer<Shelf> weakShelf(shelf);
        connect(shelf, &Shelf::changed, this, [this, weakShelf] {
            if (weakShelf)
                shelfChanged(weakShelf);
        });
    });
    connect(&manager, &ShelfManager::shelfClosing, this,
            [this](Shelf *shelf) { stopSharing(shelf->id()); });
}

QUrl ShareCenter::serviceBase()
{
    return serviceBase(Defaults::shared());
}

QUrl ShareCenter::serviceBase(const Defaults &defaults)
{
    const QString text = defaults.value(DefaultsKey::shareServiceURL).toString().trimmed();
    if (text.isEmpty())
        return QUrl();
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty())
        return QUrl();
    return url;
}

void ShareCenter::setClock(Clock clock)
{
    m_clock = std::move(clock);
    for (auto &[shelfId, session] : m_sessions)
        session->m_clock = m_clock;
}

// Starting and stopping

void ShareCenter::startSharing(Shelf *shelf)
{
    if (!shelf || isSharing(shelf->id()))
        return;
    setLastError(std::nullopt);
    QUrl base = serviceBase();
    QUrl pageBase = base;
    if (base.isEmpty()) {
        // The desktop reaches the embedded service over loopback (only there may a room's host
        // connect); browsers open the page and signal on the LAN address, so the share address
        // names the LAN base alone and carries no "signal" item.
        const std::optional<EmbeddedService::Bases> bases = m_embedded->start();
        if (!bases) {
            setLastError(m_embedded->errorMessage());
            releaseIdleResources();
            return;
        }
        base = bases->local;
        pageBase = bases->lan;
    }
    ++m_pendingStarts;
    const QPointer<Shelf> weakShelf(shelf);
    IceFetch::fetch(
        base, this,
        [this, weakShelf, base, pageBase](const IceFetch::Result &result) {
            --m_pendingStarts;
            if (result.failure == IceFetch::Failure::noNetwork) {
                setLastError(offlineMessage);
                releaseIdleResources();
                return;
            }
            QList<IceServer> servers = result.servers;
            if (result.failure) {
                vyoError(lcShare, u"ICE 서버 목록을 받지 못함: %{public}s", result.description);
                servers = {fallbackServer()};
            }
            iceListFetched(weakShelf, base, pageBase, servers);
        },
        m_iceFetchTimeout);
}

void ShareCenter::iceListFetched(QPointer<Shelf> shelf, const QUrl &base, const QUrl &pageBase,
                                 const QList<IceServer> &servers)
{
    // Another start for the same shelf may have finished first.
    if (!shelf || isSharing(shelf->id())) {
        releaseIdleResources();
        return;
    }
    const std::optional<QString> roomID = makeRoomID();
    const std::optional<QString> key = makeRoomKey();
    if (!roomID || !key) {
        setLastError(startFailedMessage);
        releaseIdleResources();
        return;
    }
    auto session = std::make_unique<ShareSession>(
        shelf, *roomID, *key, shareAddress(pageBase, pageBase, *roomID, *key), servers, m_clock);
    ShareSession *raw = session.get();
    raw->m_signaling = std::make_unique<SignalingClient>(base, *roomID, *key);
    const QPointer<ShareCenter> center(this);
    const QPointer<ShareSession> weakSession(raw);
    raw->m_signaling->onEvent = [center, weakSession](const SignalingClient::Event &event) {
        if (center && weakSession)
            center->handleEvent(weakSession, event);
    };
    m_sessions[shelf->id()] = std::move(session);
    Q_EMIT sessionsChanged();
    raw->m_signaling->connect();

    IdleInhibitor &inhibitor = Desktop::shared().idleInhibitor();
    if (!inhibitor.isInhibiting())
        inhibitor.inhibit(idleReason);
    if (!m_expiryTimer) {
        m_expiryTimer = new QTimer(this);
        m_expiryTimer->setInterval(expiryInterval);
        connect(m_expiryTimer, &QTimer::timeout, this, &ShareCenter::checkExpiry);
        m_expiryTimer->start();
    }
    vyoInfo(lcShare, u"공유 시작 (공유 중인 셸프 %ld개)", m_sessions.size());
}

void ShareCenter::stopSharing(const QUuid &shelfId)
{
    const auto it = m_sessions.find(shelfId);
    if (it == m_sessions.end())
        return;
    std::unique_ptr<ShareSession> session = std::move(it->second);
    m_sessions.erase(it);
    Q_EMIT sessionsChanged();
    session->tearDown();
    // Views may still hold the session while this signal travels; it goes once they are done.
    session.release()->deleteLater();
    vyoInfo(lcShare, u"공유 중지 (공유 중인 셸프 %ld개)", m_sessions.size());
    releaseIdleResources();
}

void ShareCenter::clearError()
{
    setLastError(std::nullopt);
}

void ShareCenter::setLastError(const std::optional<QString> &error)
{
    if (m_lastError == error)
        return;
    m_lastError = error;
    Q_EMIT lastErrorChanged();
}

bool ShareCenter::isSharing(const QUuid &shelfId) const
{
    return m_sessions.find(shelfId) != m_sessions.end();
}

ShareSession *ShareCenter::session(const QUuid &shelfId) const
{
    const auto it = m_sessions.find(shelfId);
    return it == m_sessions.end() ? nullptr : it->second.get();
}

// Signaling and browsers

void ShareCenter::handleEvent(ShareSession *session, const SignalingClient::Event &event)
{
    using Kind = SignalingClient::Event::Kind;
    switch (event.kind) {
    case Kind::connected:
        session->setOnline(true);
        break;
    case Kind::disconnected:
        session->setOnline(false);
        break;
    case Kind::peerJoined:
        peerJoined(session, event.peerID);
        break;
    case Kind::peerLeft: {
        const auto it = session->m_peers.find(event.peerID);
        if (it != session->m_peers.end()) {
            std::unique_ptr<PeerSession> peer = std::move(it->second);
            session->m_peers.erase(it);
            peer->close(false);
        }
        session->refreshDevices();
        break;
    }
    case Kind::signal:
        if (PeerSession *peer = session->peer(event.from))
            peer->handleSignal(event.payload);
        break;
    }
}

void ShareCenter::peerJoined(ShareSession *session, const QString &peerID)
{
    Shelf *shelf = session->shelf();
    if (!shelf || !m_makePeerConnection)
        return;
    std::unique_ptr<PeerConnection> connection = m_makePeerConnection(session->iceServers());
    if (!connection)
        return;
    auto peer = std::make_unique<PeerSession>(peerID, shelf, std::move(connection));
    if (const auto earlier = session->m_peers.find(peerID); earlier != session->m_peers.end()) {
        std::unique_ptr<PeerSession> replaced = std::move(earlier->second);
        session->m_peers.erase(earlier);
        replaced->close(false);
    }

    const QPointer<ShareCenter> center(this);
    const QPointer<ShareSession> weakSession(session);
    const QPointer<PeerSession> weakPeer(peer.get());
    peer->sendSignal = [weakSession, peerID](const QString &payload) {
        if (weakSession && weakSession->m_signaling)
            weakSession->m_signaling->send(peerID, payload);
    };
    // A page says "ready" again while no listing has reached it: it gets the listing again, but
    // the device is connected only once.
    peer->onReady = [center, weakSession, weakPeer, announced = false]() mutable {
        if (!center || !weakSession || !weakPeer)
            return;
        if (Shelf *shared = weakSession->shelf())
            weakPeer->sendText(TransferProtocol::encode(center->listing(shared)));
        if (!std::exchange(announced, true))
            weakSession->log(weakPeer->deviceName() + QStringLiteral(" 연결됨"));
        weakSession->refreshDevices();
    };
    const auto refresh = [weakSession] {
        if (weakSession)
            weakSession->refreshDevices();
    };
    peer->onRouteChange = refresh;
    peer->onClosed = refresh;
    peer->onActivity = [weakSession](const QString &text) {
        if (weakSession)
            weakSession->log(text);
    };

    session->m_peers[peerID] = std::move(peer);
    session->m_lastActivity = m_clock();
    session->refreshDevices();
}

// Listings and thumbnails

QJsonObject ShareCenter::listing(Shelf *shelf)
{
    const TransferProtocol::Listing listed = shelfListing(*shelf);
    const QJsonObject message = TransferProtocol::listMessage(listed, m_thumbnails);
    QList<QUuid> missing = TransferProtocol::itemsWithoutThumbnail(listed, m_thumbnails);
    missing.removeIf([this](const QUuid &id) { return m_thumbnailsInProgress.contains(id); });
    if (!missing.isEmpty())
        makeThumbnails(shelf, missing);
    return message;
}

void ShareCenter::shelfChanged(Shelf *shelf)
{
    ShareSession *shared = shelf ? session(shelf->id()) : nullptr;
    if (!shared)
        return;
    const QString text = TransferProtocol::encode(listing(shelf));
    for (const auto &[peerID, peer] : shared->peers())
        peer->sendText(text);
}

void ShareCenter::makeThumbnails(Shelf *shelf, const QList<QUuid> &itemIDs)
{
    QList<QUuid> ids;
    QStringList paths;
    for (const ShelfItem &item : shelf->items()) {
        if (itemIDs.contains(item.id())) {
            ids.append(item.id());
            paths.append(item.content().url().toLocalFile());
        }
    }
    if (ids.isEmpty())
        return;
    for (const QUuid &id : ids)
        m_thumbnailsInProgress.insert(id);
    const quint64 generation = m_thumbnailGeneration;
    const QPointer<Shelf> weakShelf(shelf);
    runInBackground(
        this,
        [maker = m_makeThumbnail, paths] {
            QList<QByteArray> thumbnails;
            for (const QString &path : paths)
                thumbnails.append(maker(path));
            return thumbnails;
        },
        [this, weakShelf, ids, generation](QList<QByteArray> thumbnails) {
            // The cache was emptied meanwhile (nothing is shared any more).
            if (generation != m_thumbnailGeneration)
                return;
            bool madeOne = false;
            for (qsizetype i = 0; i < ids.size(); ++i) {
                QByteArray jpeg = thumbnails.value(i);
                if (jpeg.size() > maximumThumbnailBytes)
                    jpeg.clear();
                madeOne = madeOne || !jpeg.isEmpty();
                m_thumbnails.insert(ids[i], jpeg);
                m_thumbnailsInProgress.remove(ids[i]);
            }
            if (madeOne && weakShelf)
                shelfChanged(weakShelf);
        });
}

QByteArray ShareCenter::makeThumbnail(const QString &path)
{
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (size.isValid() && (size.width() > thumbnailPixels || size.height() > thumbnailPixels))
        reader.setScaledSize(size.scaled(thumbnailPixels, thumbnailPixels, Qt::KeepAspectRatio));
    QImage image = reader.read();
    if (image.isNull())
        return QByteArray();
    if (image.width() > thumbnailPixels || image.height() > thumbnailPixels)
        image = image.scaled(thumbnailPixels, thumbnailPixels, Qt::KeepAspectRatio,
                             Qt::SmoothTransformation);
    // JPEG has no transparency: transparent parts show white, as on a page.
    QImage flat(image.size(), QImage::Format_RGB32);
    flat.fill(Qt::white);
    {
        QPainter painter(&flat);
        painter.drawImage(0, 0, image);
    }
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    if (!buffer.open(QIODevice::WriteOnly) || !flat.save(&buffer, "JPEG", thumbnailQuality))
        return QByteArray();
    return jpeg;
}

// Expiry and idle resources

void ShareCenter::checkExpiry()
{
    const QDateTime now = m_clock();
    const int minutes =
        std::max(Defaults::shared().shareExpiryMinutes(), int(minimumExpiryMinutes));
    const qint64 limit = qint64(minutes) * 60 * 1000;
    QList<QUuid> expired;
    for (const auto &[shelfId, session] : m_sessions) {
        if (!session->shelf()) {
            expired.append(shelfId);
            continue;
        }
        const bool connected =
            std::any_of(session->peers().cbegin(), session->peers().cend(), [](const auto &entry) {
                return entry.second->route() != PeerSession::Route::closed;
            });
        if (!connected && session->lastActivity().msecsTo(now) > limit)
            expired.append(shelfId);
    }
    for (const QUuid &shelfId : expired) {
        const auto it = m_sessions.find(shelfId);
        std::unique_ptr<ShareSession> session = std::move(it->second);
        m_sessions.erase(it);
        session->tearDown();
        session.release()->deleteLater();
        vyoInfo(lcShare, u"오래 쓰지 않은 공유를 닫음");
    }
    if (!expired.isEmpty())
        Q_EMIT sessionsChanged();
    releaseIdleResources();
}

void ShareCenter::releaseIdleResources()
{
    if (!m_sessions.empty() || m_pendingStarts > 0)
        return;
    m_embedded->stop();
    Desktop::shared().idleInhibitor().release();
    delete m_expiryTimer;
    m_expiryTimer = nullptr;
    m_thumbnails.clear();
    m_thumbnailsInProgress.clear();
    ++m_thumbnailGeneration;
}

} // namespace vyo
