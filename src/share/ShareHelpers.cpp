#include "share/ShareHelpers.h"

#include "core/Base64Url.h"
#include "logic/Signing.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>

#include <memory>

namespace vyo {

namespace {

std::optional<QString> randomBase64Url(int byteCount)
{
    const std::optional<QByteArray> bytes = secureRandomBytes(byteCount);
    if (!bytes)
        return std::nullopt;
    return QString::fromLatin1(base64UrlEncode(*bytes));
}

// An optional string field: absent or null is nothing; any other non-string spoils the body.
bool readOptionalString(const QJsonObject &object, QLatin1String key, std::optional<QString> &out)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull())
        return true;
    if (!value.isString())
        return false;
    out = value.toString();
    return true;
}

std::optional<IceServer> decodeServer(const QJsonValue &value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    IceServer server;
    const QJsonValue urls = object.value(QLatin1String("urls"));
    if (urls.isString()) {
        server.urls.append(urls.toString());
    } else if (urls.isArray()) {
        for (const QJsonValue &url : urls.toArray()) {
            if (!url.isString())
                return std::nullopt;
            server.urls.append(url.toString());
        }
    } else {
        return std::nullopt;
    }
    if (!readOptionalString(object, QLatin1String("username"), server.username) ||
        !readOptionalString(object, QLatin1String("credential"), server.credential))
        return std::nullopt;
    return server;
}

bool isNoNetwork(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::TimeoutError:
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
        return true;
    default:
        return false;
    }
}

IceFetch::Result resultOf(QNetworkReply *reply, bool timedOut)
{
    using IceFetch::Failure;
    IceFetch::Result result;
    if (timedOut) {
        result.failure = Failure::noNetwork;
        result.description = QStringLiteral("the request timed out");
        return result;
    }
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) {
        result.failure = isNoNetwork(reply->error()) ? Failure::noNetwork : Failure::other;
        result.description = reply->errorString();
        return result;
    }
    if (status.toInt() != 200) {
        result.failure = Failure::badServerResponse;
        result.description = QStringLiteral("unexpected HTTP status %1").arg(status.toInt());
        return result;
    }
    if (reply->error() != QNetworkReply::NoError) {
        result.failure = isNoNetwork(reply->error()) ? Failure::noNetwork : Failure::other;
        result.description = reply->errorString();
        return result;
    }
    const std::optional<IceFetch::Payload> payload = IceFetch::Payload::decode(reply->readAll());
    if (!payload) {
        result.failure = Failure::undecodable;
        result.description = QStringLiteral("the answer is not an ICE server list");
        return result;
    }
    result.servers = payload->iceServers;
    return result;
}

} // namespace

std::optional<QString> makeRoomID()
{
    return randomBase64Url(16);
}

std::optional<QString> makeRoomKey()
{
    return randomBase64Url(32);
}

QUrl appendingPath(const QUrl &base, const QString &relativePath)
{
    QUrl url = base;
    QString path = url.path();
    if (!path.endsWith(u'/'))
        path += u'/';
    url.setPath(path + relativePath);
    return url;
}

QUrl shareAddress(const QUrl &pageBase, const QUrl &signalingBase, const QString &roomID,
                  const QString &key)
{
    QUrl url = appendingPath(pageBase, QStringLiteral("s/") + roomID);
    if (signalingBase.adjusted(QUrl::NormalizePathSegments) !=
        pageBase.adjusted(QUrl::NormalizePathSegments)) {
        // "+" is encoded too: browsers read it as a space in a query.
        const QByteArray value =
            QUrl::toPercentEncoding(signalingBase.toString(QUrl::FullyEncoded), ":/%");
        url.setQuery(QStringLiteral("signal=") + QString::fromLatin1(value), QUrl::StrictMode);
    }
    url.setFragment(key);
    return url;
}

namespace IceFetch {

std::optional<Payload> Payload::decode(const QByteArray &body)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonValue servers = document.object().value(QLatin1String("iceServers"));
    if (!servers.isArray())
        return std::nullopt;
    Payload payload;
    for (const QJsonValue &value : servers.toArray()) {
        std::optional<IceServer> server = decodeServer(value);
        if (!server)
            return std::nullopt;
        payload.iceServers.append(std::move(*server));
    }
    return payload;
}

QUrl address(const QUrl &signalingBase)
{
    return appendingPath(signalingBase, QStringLiteral("api/ice"));
}

void fetch(const QUrl &signalingBase, QObject *context, std::function<void(const Result &)> done,
           std::chrono::milliseconds timeout)
{
    // Each fetch has its own manager: one fetch per share start, and nothing lingers afterwards.
    auto *manager = new QNetworkAccessManager;
    QNetworkRequest request(address(signalingBase));
    QNetworkReply *reply = manager->get(request);
    auto timedOut = std::make_shared<bool>(false);
    auto *timer = new QTimer(reply);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer, &QTimer::timeout, reply, [reply, timedOut] {
        *timedOut = true;
        reply->abort();
    });
    timer->start(timeout);
    QPointer<QObject> guard(context);
    QObject::connect(reply, &QNetworkReply::finished, manager,
                     [reply, manager, timedOut, guard, done = std::move(done)] {
                         const Result result = resultOf(reply, *timedOut);
                         reply->deleteLater();
                         manager->deleteLater();
                         if (guard)
                             done(result);
                     });
}

} // namespace IceFetch

} // namespace vyo
