#include "share/EmbeddedService.h"

#include "core/Log.h"

#include "ServiceConfig.h"
#include "ShareService.h"

#include <QFile>
#include <QNetworkInterface>

#include <limits>

namespace vyo {

const QString EmbeddedService::noNetworkMessage =
    QStringLiteral("이 컴퓨터가 네트워크에 연결되어 있지 않아 공유할 수 없어요.");
const QString EmbeddedService::noFreePortMessage =
    QStringLiteral("공유에 쓸 포트가 모두 사용 중이라 공유할 수 없어요. 잠시 뒤 다시 시도하세요.");

namespace LanAddress {

namespace {

// Route flags of the kernel's tables.
constexpr uint routeUp = 0x0001;
constexpr uint routeReject = 0x0200;

// The interface of the up, non-rejecting route with the lowest metric among the lines `isDefault`
// accepts; `columns` says where the interface, flags and metric are.
template <typename IsDefault>
QString defaultRouteInterface(const QByteArray &table, int interfaceColumn, int flagsColumn,
                              int metricColumn, int minimumColumns, int metricBase,
                              IsDefault isDefault)
{
    QString best;
    qulonglong bestMetric = std::numeric_limits<qulonglong>::max();
    for (const QByteArray &line : table.split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < minimumColumns || !isDefault(fields))
            continue;
        bool flagsRead = false;
        bool metricRead = false;
        const uint flags = fields[flagsColumn].toUInt(&flagsRead, 16);
        const qulonglong metric = fields[metricColumn].toULongLong(&metricRead, metricBase);
        if (!flagsRead || !metricRead || !(flags & routeUp) || (flags & routeReject))
            continue;
        if (best.isEmpty() || metric < bestMetric) {
            best = QString::fromLatin1(fields[interfaceColumn]);
            bestMetric = metric;
        }
    }
    return best;
}

bool usable(const QHostAddress &address)
{
    return !address.isNull() && !address.isLoopback() && !address.isLinkLocal() &&
           !address.isMulticast();
}

std::optional<QHostAddress> firstOf(const QList<Interface> &interfaces, const QString &name,
                                    QAbstractSocket::NetworkLayerProtocol protocol)
{
    if (name.isEmpty())
        return std::nullopt;
    for (const Interface &interface : interfaces) {
        if (interface.name != name || !interface.up)
            continue;
        for (const QHostAddress &address : interface.addresses) {
            if (address.protocol() == protocol && usable(address))
                return address;
        }
    }
    return std::nullopt;
}

QByteArray readProcFile(const QString &path)
{
    QFile file(path);
    // Files in /proc report no size: read until the end.
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

DefaultRoutes parseDefaultRoutes(const QByteArray &ipv4Table, const QByteArray &ipv6Table)
{
    // "Iface Destination Gateway Flags RefCnt Use Metric Mask …", addresses in hex; the first
    // line names the columns and has no hex destination.
    DefaultRoutes routes;
    routes.ipv4 = defaultRouteInterface(ipv4Table, 0, 3, 6, 8, 10, [](const auto &fields) {
        return fields[1] == "00000000" && fields[7] == "00000000";
    });
    // "destination prefix source prefix next-hop metric refcount use flags interface", hex.
    static const QByteArray anyIpv6(32, '0');
    routes.ipv6 = defaultRouteInterface(ipv6Table, 9, 8, 5, 10, 16, [](const auto &fields) {
        return fields[0] == anyIpv6 && fields[1] == "00";
    });
    return routes;
}

std::optional<QHostAddress> choose(const QList<Interface> &interfaces, const DefaultRoutes &routes,
                                   const QString &interfaceOverride)
{
    const QString ipv4Interface = interfaceOverride.isEmpty() ? routes.ipv4 : interfaceOverride;
    const QString ipv6Interface = interfaceOverride.isEmpty() ? routes.ipv6 : interfaceOverride;
    if (auto address = firstOf(interfaces, ipv4Interface, QAbstractSocket::IPv4Protocol))
        return address;
    // An IPv4 route's interface may carry only IPv6 addresses; the IPv6 route's comes next.
    for (const QString &name : {ipv4Interface, ipv6Interface}) {
        if (auto address = firstOf(interfaces, name, QAbstractSocket::IPv6Protocol))
            return address;
    }
    return std::nullopt;
}

std::optional<QHostAddress> current()
{
    QList<Interface> interfaces;
    for (const QNetworkInterface &found : QNetworkInterface::allInterfaces()) {
        Interface interface;
        interface.name = found.name();
        interface.up =
            found.flags().testFlags(QNetworkInterface::IsUp | QNetworkInterface::IsRunning);
        for (const QNetworkAddressEntry &entry : found.addressEntries())
            interface.addresses.append(entry.ip());
        interfaces.append(interface);
    }
    const DefaultRoutes routes =
        parseDefaultRoutes(readProcFile(QStringLiteral("/proc/net/route")),
                           readProcFile(QStringLiteral("/proc/net/ipv6_route")));
    return choose(interfaces, routes, qEnvironmentVariable(interfaceVariable));
}

} // namespace LanAddress

EmbeddedService::EmbeddedService(QObject *parent)
    : QObject(parent)
    , m_addressSource(&LanAddress::current)
{
    m_addressTimer.setInterval(addressCheckInterval);
    connect(&m_addressTimer, &QTimer::timeout, this, &EmbeddedService::checkAddress);
}

EmbeddedService::~EmbeddedService() = default;

quint16 EmbeddedService::port() const
{
    return m_service ? m_service->port() : 0;
}

std::optional<EmbeddedService::Bases> EmbeddedService::start()
{
    m_errorMessage.clear();
    if (m_service) {
        checkAddress();
        if (m_lanAddress)
            return bases();
    } else if (const std::optional<QHostAddress> lan = m_addressSource()) {
        m_service = listenOnFreePort(*lan);
        if (!m_service) {
            vyoError(lcShare, u"내장 공유 서비스가 쓸 포트가 없음 (%d–%d 모두 사용 중)",
                     int(m_firstPort), int(m_firstPort) + m_portCount - 1);
            m_errorMessage = noFreePortMessage;
            return std::nullopt;
        }
        m_lanAddress = lan;
        m_listening = {*lan};
        m_addressTimer.start();
        vyoInfo(lcShare, u"내장 공유 서비스 시작: %{public}s", bases().lan.toString());
        return bases();
    }
    vyoError(lcShare, u"LAN 주소가 없어 내장 공유 서비스로 공유할 수 없음");
    m_errorMessage = noNetworkMessage;
    return std::nullopt;
}

void EmbeddedService::stop()
{
    if (!m_service)
        return;
    m_addressTimer.stop();
    m_service.reset();
    m_lanAddress.reset();
    m_listening.clear();
    vyoInfo(lcShare, u"내장 공유 서비스 중지");
}

std::unique_ptr<ShareService> EmbeddedService::listenOnFreePort(const QHostAddress &lan)
{
    ServiceConfig config;
    config.listenAddress = QHostAddress(QHostAddress::LocalHost);
    config.hostsFromLoopbackOnly = true;
    // A bounded number of ports: the first that is free on loopback and on the LAN address.
    for (int attempt = 0; attempt < m_portCount; ++attempt) {
        const int port = int(m_firstPort) + attempt;
        if (port > std::numeric_limits<quint16>::max())
            break;
        config.port = quint16(port);
        auto service = std::make_unique<ShareService>(config);
        if (!service->listen() || !service->listenAlso(lan)) {
            vyoDebug(lcShare, u"포트 %d 사용 불가: %{public}s", port, service->errorString());
            continue;
        }
        QUrl publicURL;
        publicURL.setScheme(QStringLiteral("http"));
        publicURL.setHost(lan.toString());
        publicURL.setPort(port);
        service->setPublicURL(publicURL);
        return service;
    }
    return nullptr;
}

EmbeddedService::Bases EmbeddedService::bases() const
{
    Bases bases;
    bases.local.setScheme(QStringLiteral("http"));
    bases.local.setHost(QStringLiteral("127.0.0.1"));
    bases.local.setPort(port());
    bases.local.setPath(QStringLiteral("/"));
    bases.lan = bases.local;
    if (m_lanAddress)
        bases.lan.setHost(m_lanAddress->toString());
    return bases;
}

void EmbeddedService::checkAddress()
{
    if (!m_service)
        return;
    const std::optional<QHostAddress> lan = m_addressSource();
    if (lan == m_lanAddress)
        return;
    const QString before = m_lanAddress ? m_lanAddress->toString() : QStringLiteral("없음");
    if (!lan) {
        vyoError(lcShare, u"LAN 주소가 사라짐 (이전 주소 %{public}s): 새 공유를 시작할 수 없음",
                 before);
        m_lanAddress.reset();
        return;
    }
    // Addresses listened on before keep their listeners: shares made on them keep working while
    // the address is back.
    if (!m_listening.contains(*lan)) {
        if (!m_service->listenAlso(*lan)) {
            vyoError(lcShare,
                     u"LAN 주소가 %{public}s에서 %{public}s(으)로 바뀌었지만 새 주소에서 받지 "
                     u"못함: %{public}s",
                     before, lan->toString(), m_service->errorString());
            m_lanAddress.reset();
            return;
        }
        m_listening.append(*lan);
    }
    m_lanAddress = lan;
    QUrl publicURL = bases().lan;
    publicURL.setPath(QString());
    m_service->setPublicURL(publicURL);
    vyoInfo(lcShare, u"LAN 주소가 %{public}s에서 %{public}s(으)로 바뀜: 새 공유는 새 주소를 씀",
            before, lan->toString());
}

} // namespace vyo
