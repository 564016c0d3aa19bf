#pragma once

// One shared shelf: a short-lived room on the share service with its own identifier and key, the
// share address that carries both, the signaling client connected to the room, and one peer
// session per browser that joined. The share center makes, drives and ends it; views read it and
// follow its signals.

#include "platform/PeerConnection.h"
#include "share/PeerSession.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <functional>
#include <map>
#include <memory>

namespace vyo {

class Shelf;
class SignalingClient;

class ShareSession : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isOnline READ isOnline NOTIFY isOnlineChanged)
public:
    // One line of the activity list.
    struct Activity
    {
        QUuid id;
        QString text;
        QDateTime date;

        friend bool operator==(const Activity &, const Activity &) = default;
    };
    // One connected browser, for display.
    struct Device
    {
        // The browser's peer identifier.
        QString id;
        QString name;
        PeerSession::Route route = PeerSession::Route::connecting;

        friend bool operator==(const Device &, const Device &) = default;
    };

    // The activity list keeps this many lines, newest first.
    static constexpr int maximumActivities = 5;

    using Clock = std::function<QDateTime()>;

    ShareSession(Shelf *shelf, const QString &roomID, const QString &key, const QUrl &url,
                 const QList<IceServer> &iceServers, Clock clock, QObject *parent = nullptr);
    // Ends what is left without a word: peers are closed silently, the signaling client stops.
    ~ShareSession() override;

    const QUuid &id() const { return m_id; }
    const QString &roomID() const { return m_roomID; }
    // The address a browser opens: the room in the path, the key in the fragment.
    const QUrl &url() const { return m_url; }
    const QList<Activity> &activities() const { return m_activities; }
    const QList<Device> &devices() const { return m_devices; }
    // True while the signaling client is connected.
    bool isOnline() const { return m_isOnline; }
    Shelf *shelf() const;
    // The last activity line, browser join or the share's start.
    const QDateTime &lastActivity() const { return m_lastActivity; }
    const QString &key() const { return m_key; }
    SignalingClient *signaling() const { return m_signaling.get(); }
    const std::map<QString, std::unique_ptr<PeerSession>> &peers() const { return m_peers; }
    // The peer of a browser; null when there is none.
    PeerSession *peer(const QString &peerID) const;
    const QList<IceServer> &iceServers() const { return m_iceServers; }

    // Adds an activity line at the front (the oldest beyond five go) and counts it as activity.
    void log(const QString &text);

Q_SIGNALS:
    void activitiesChanged();
    void devicesChanged();
    void isOnlineChanged();

private:
    friend class ShareCenter;

    void setOnline(bool online);
    // Lists the peers that are not closed, by peer identifier.
    void refreshDevices();
    // Closes every peer with "bye", then stops the signaling client and drops it.
    void tearDown();

    QUuid m_id;
    QString m_roomID;
    QUrl m_url;
    QList<Activity> m_activities;
    QList<Device> m_devices;
    bool m_isOnline = false;
    QPointer<Shelf> m_shelf;
    QDateTime m_lastActivity;
    QString m_key;
    std::unique_ptr<SignalingClient> m_signaling;
    std::map<QString, std::unique_ptr<PeerSession>> m_peers;
    QList<IceServer> m_iceServers;
    Clock m_clock;
};

} // namespace vyo
