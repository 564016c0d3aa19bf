#include "logic/Signing.h"

#include "core/Base64Url.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

namespace vyo {

namespace {

std::optional<QByteArray> hmacSha256(const QByteArray &key, const QByteArray &message)
{
    unsigned char code[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!HMAC(EVP_sha256(), key.constData(), int(key.size()),
              reinterpret_cast<const unsigned char *>(message.constData()), size_t(message.size()),
              code, &length))
        return std::nullopt;
    return QByteArray(reinterpret_cast<const char *>(code), int(length));
}

// The key's bytes, refusing an empty key: anyone could make its signatures.
std::optional<QByteArray> keyBytes(const QString &key)
{
    std::optional<QByteArray> bytes = base64UrlBytes(key);
    if (!bytes || bytes->isEmpty())
        return std::nullopt;
    return bytes;
}

} // namespace

std::optional<QByteArray> base64UrlBytes(const QString &text)
{
    // Back to the standard alphabet, padded to a multiple of 4, then decoded strictly.
    QByteArray standard = text.toLatin1();
    if (QString::fromLatin1(standard) != text)
        return std::nullopt;
    standard.replace('-', '+').replace('_', '/');
    while (standard.size() % 4 != 0)
        standard.append('=');
    auto decoded = QByteArray::fromBase64Encoding(
        standard, QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return std::move(decoded.decoded);
}

std::optional<QString> signPayload(const QString &payload, const QString &key)
{
    const std::optional<QByteArray> secret = keyBytes(key);
    if (!secret)
        return std::nullopt;
    const std::optional<QByteArray> code = hmacSha256(*secret, payload.toUtf8());
    if (!code)
        return std::nullopt;
    return QString::fromLatin1(base64UrlEncode(*code));
}

bool verifyPayload(const QString &payload, const QString &signature, const QString &key)
{
    const std::optional<QByteArray> secret = keyBytes(key);
    const std::optional<QByteArray> received = base64UrlBytes(signature);
    if (!secret || !received)
        return false;
    const std::optional<QByteArray> expected = hmacSha256(*secret, payload.toUtf8());
    if (!expected || expected->size() != received->size())
        return false;
    return CRYPTO_memcmp(expected->constData(), received->constData(), size_t(expected->size())) ==
           0;
}

std::optional<QByteArray> secureRandomBytes(int count)
{
    QByteArray bytes(count, Qt::Uninitialized);
    if (count > 0 && RAND_bytes(reinterpret_cast<unsigned char *>(bytes.data()), count) != 1)
        return std::nullopt;
    return bytes;
}

} // namespace vyo
