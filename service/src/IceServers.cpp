#include "IceServers.h"

#include "ServiceConfig.h"
#include "core/Base64Url.h"

#include <QJsonArray>
#include <QRandomGenerator>

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

namespace vyo {

QString turnCredential(const QString &secret, const QString &username)
{
    const QByteArray key = secret.toUtf8();
    const QByteArray message = username.toUtf8();
    unsigned char code[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!HMAC(EVP_sha1(), key.constData(), int(key.size()),
              reinterpret_cast<const unsigned char *>(message.constData()), size_t(message.size()),
              code, &length))
        return QString();
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char *>(code), int(length)).toBase64());
}

QByteArray serviceRandomBytes(int count)
{
    QByteArray bytes(count, Qt::Uninitialized);
    if (RAND_bytes(reinterpret_cast<unsigned char *>(bytes.data()), count) != 1) {
        // The kernel's source through Qt, should OpenSSL's ever fail.
        QRandomGenerator::system()->generate(bytes.begin(), bytes.end());
    }
    return bytes;
}

QJsonObject iceAnswer(const ServiceConfig &config, qint64 nowSeconds)
{
    QJsonArray servers;
    if (!config.stunURLs.isEmpty())
        servers.append(
            QJsonObject{{QStringLiteral("urls"), QJsonArray::fromStringList(config.stunURLs)}});
    if (!config.turnURLs.isEmpty()) {
        const qint64 expiry = nowSeconds + config.turnCredentialLifetime.count();
        const QString username = QString::number(expiry) + u':' +
                                 QString::fromLatin1(base64UrlEncode(serviceRandomBytes(6)));
        servers.append(QJsonObject{
            {QStringLiteral("urls"), QJsonArray::fromStringList(config.turnURLs)},
            {QStringLiteral("username"), username},
            {QStringLiteral("credential"), turnCredential(config.turnSecret, username)}});
    }
    return QJsonObject{{QStringLiteral("iceServers"), servers}};
}

} // namespace vyo
