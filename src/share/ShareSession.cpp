#include "share/ShareSession.h"

#include "core/Ids.h"
#include "share/SignalingClient.h"
#include "shelf/Shelf.h"

namespace vyo {

ShareSession::ShareSession(Shelf *shelf, const QString &roomID, const QString &key, const QUrl &url,
                           const QList<IceServer> &iceServers, Clock clock, QObject *parent)
    : QObject(parent)
    , m_id(newId())
    , m_roomID(roomID)
    , m_url(url)
    , m_shelf(shelf)
    , m_key(key)
    , m_iceServers(iceServers)
    , m_clock(std::move(clock))
{
    m_lastActivity = m_clock();
}

ShareSession::~ShareSession()
{
    // Peers first: their callbacks reach into this session.
    for (auto &[peerID, peer] : m_peers) {
        peer->onRouteChange = nullptr;
        peer->onClosed = nullptr;
    }
    m_peers.clear();
    if (m_signaling)
        m_signaling->stop();
}

Shelf *ShareSession::shelf() const
{
    return m_shelf;
}

PeerSession *ShareSession::peer(const QString &peerID) const
{
    const auto it = m_peers.find(peerID);
    return it == m_peers.end() ? nullptr : it->second.get();
}

void ShareSession::log(const QString &text)
{
    const QDateTime now = m_clock();
    m_lastActivity = now;
    m_activities.prepend(Activity{newId(), text, now});
    while (m_activities.size() > maximumActivities)
        m_activities.removeLast();
    Q_EMIT activitiesChanged();
}

void ShareSession::setOnline(bool online)
{
    if (m_isOnline == online)
        return;
    m_isOnline = online;
    Q_EMIT isOnlineChanged();
}

void ShareSession::refreshDevices()
{
    QList<Device> devices;
    // The map keeps its peers in ascending order of their identifiers.
    for (const auto &[peerID, peer] : m_peers) {
        if (peer->route() != PeerSession::Route::closed)
            devices.append(Device{peerID, peer->deviceName(), peer->route()});
    }
    if (devices == m_devices)
        return;
    m_devices = devices;
    Q_EMIT devicesChanged();
}

void ShareSession::tearDown()
{
    std::map<QString, std::unique_ptr<PeerSession>> peers = std::move(m_peers);
    m_peers.clear();
    for (auto &[peerID, peer] : peers)
        peer->close(true);
    peers.clear();
    refreshDevices();
    if (m_signaling) {
        m_signaling->onEvent = nullptr;
        m_signaling->stop();
        // The socket may still be closing; the client goes once control is back in the loop.
        m_signaling.release()->deleteLater();
    }
}

} // namespace vyo
