#pragma once

// The share service built into the app, for sharing on the local network when no
// "shareServiceURL" is set: the same service as vyo-service, run in-process only while something
// is shared. It listens on loopback (the desktop's own signaling client, the only one allowed to
// be a room's host) and on the computer's LAN address (browsers on the same network), on a fixed
// port or the next free one. Its ICE list is empty: host candidates suffice on one network.

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace vyo {

class ShareService;

// Which address of this computer phones on the same network reach.
namespace LanAddress {

// The test switch naming the interface that counts as the LAN instead of the default route's
// (the end-to-end test makes a veth pair and names its near end).
inline constexpr auto interfaceVariable = "VYO_SHARE_LAN_INTERFACE";

struct Interface
{
    QString name;
    // Up and running.
    bool up = false;
    QList<QHostAddress> addresses;
};

// The interfaces of the default routes, empty where there is none.
struct DefaultRoutes
{
    QString ipv4;
    QString ipv6;

    friend bool operator==(const DefaultRoutes &, const DefaultRoutes &) = default;
};

// The default routes in the kernel's tables (/proc/net/route and /proc/net/ipv6_route): the up
// route to 0.0.0.0/0 (and ::/0) with the lowest metric; rejecting routes (IPv6's "unreachable"
// default on lo) do not count.
DefaultRoutes parseDefaultRoutes(const QByteArray &ipv4Table, const QByteArray &ipv6Table);

// The LAN address: the first IPv4 address of the IPv4 default route's interface; when that
// interface has none, or there is no IPv4 default route, the first global IPv6 address of the
// IPv6 default route's interface (IPv4 first). Loopback and link-local addresses never count, nor
// does an interface that is down. `interfaceOverride`, when not empty, stands for both routes'
// interface. Nothing when no address qualifies.
std::optional<QHostAddress> choose(const QList<Interface> &interfaces, const DefaultRoutes &routes,
                                   const QString &interfaceOverride = QString());

// This computer's LAN address now, by `choose` over its interfaces, its routing tables and the
// test switch.
std::optional<QHostAddress> current();

} // namespace LanAddress

class EmbeddedService : public QObject
{
    Q_OBJECT
public:
    // The first port tried, and how many ports from there on.
    static constexpr quint16 defaultPort = 47800;
    static constexpr int portAttempts = 10;
    // How often the LAN address is looked at while the service runs.
    static constexpr std::chrono::seconds addressCheckInterval{10};

    static const QString noNetworkMessage;
    static const QString noFreePortMessage;

    // Where the desktop's client and browsers reach the running service.
    struct Bases
    {
        // http://127.0.0.1:<port>/: the desktop's own signaling client and ICE fetch.
        QUrl local;
        // http://<LAN address>:<port>/: the share page and its signaling, for browsers.
        QUrl lan;
    };

    using AddressSource = std::function<std::optional<QHostAddress>()>;

    explicit EmbeddedService(QObject *parent = nullptr);
    ~EmbeddedService() override;

    // Starts the service unless it runs, or looks at the LAN address again when it does; the
    // bases, or nothing with `errorMessage` (Korean, for the user) when there is no LAN address
    // or no free port (a service that was not running then does not listen).
    std::optional<Bases> start();
    // Stops listening and forgets every room.
    void stop();

    bool isRunning() const { return m_service != nullptr; }
    quint16 port() const;
    std::optional<QHostAddress> lanAddress() const { return m_lanAddress; }
    const QString &errorMessage() const { return m_errorMessage; }

    // The ports tried: `count` from `first` on.
    void setPorts(quint16 first, int count)
    {
        m_firstPort = first;
        m_portCount = count;
    }
    // Where the LAN address comes from (LanAddress::current unless told otherwise).
    void setAddressSource(AddressSource source) { m_addressSource = std::move(source); }

    // Looks at the LAN address; a change is logged, and the service then listens on the new
    // address too, so that new shares use it.
    void checkAddress();

private:
    std::unique_ptr<ShareService> listenOnFreePort(const QHostAddress &lan);
    Bases bases() const;

    std::unique_ptr<ShareService> m_service;
    // Nothing while the service runs means the LAN address went away.
    std::optional<QHostAddress> m_lanAddress;
    // The LAN addresses listened on so far (loopback besides).
    QList<QHostAddress> m_listening;
    QString m_errorMessage;
    QTimer m_addressTimer;
    quint16 m_firstPort = defaultPort;
    int m_portCount = portAttempts;
    AddressSource m_addressSource;
};

} // namespace vyo
