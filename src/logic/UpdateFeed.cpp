#include "logic/UpdateFeed.h"

#include <QXmlStreamReader>

#include <openssl/evp.h>

#include <algorithm>
#include <memory>

namespace vyo {

namespace {

constexpr int ed25519KeyBytes = 32;
constexpr int ed25519SignatureBytes = 64;
// A feed lists a handful of releases; more is not a feed Vyo reads to the end.
constexpr int maxItems = 1000;

bool isAppcast(const QXmlStreamReader &xml, QStringView name)
{
    return xml.namespaceUri() == QLatin1String(UpdateFeed::appcastNamespace) && xml.name() == name;
}

QString appcastAttribute(const QXmlStreamAttributes &attributes, const QString &name)
{
    return attributes.value(QString::fromLatin1(UpdateFeed::appcastNamespace), name)
        .toString()
        .trimmed();
}

// Reads one `<item>`, the reader standing on its start; answers why it is unusable, if it is.
std::optional<UpdateFeed::Error> readItem(QXmlStreamReader &xml, UpdateItem &item)
{
    QString enclosureVersion;
    bool hasEnclosure = false;
    while (xml.readNextStartElement()) {
        if (isAppcast(xml, u"version")) {
            item.version = xml.readElementText().trimmed();
        } else if (isAppcast(xml, u"shortVersionString")) {
            item.displayVersion = xml.readElementText().trimmed();
        } else if (isAppcast(xml, u"minimumSystemVersion")) {
            item.minimumSystemVersion = xml.readElementText().trimmed();
        } else if (isAppcast(xml, u"releaseNotesLink")) {
            item.releaseNotesLink = QUrl(xml.readElementText().trimmed());
        } else if (xml.namespaceUri().isEmpty() && xml.name() == u"title") {
            item.title = xml.readElementText().trimmed();
        } else if (xml.namespaceUri().isEmpty() && xml.name() == u"link") {
            item.releasePage = QUrl(xml.readElementText().trimmed());
        } else if (xml.namespaceUri().isEmpty() && xml.name() == u"description") {
            item.description = xml.readElementText(QXmlStreamReader::IncludeChildElements);
        } else if (xml.namespaceUri().isEmpty() && xml.name() == u"enclosure" && !hasEnclosure) {
            hasEnclosure = true;
            const QXmlStreamAttributes attributes = xml.attributes();
            item.downloadUrl = QUrl(attributes.value(QStringLiteral("url")).toString().trimmed());
            bool lengthIsNumber = false;
            item.length = attributes.value(QStringLiteral("length")).toLongLong(&lengthIsNumber);
            if (!lengthIsNumber)
                item.length = 0;
            item.type = attributes.value(QStringLiteral("type")).toString().trimmed();
            item.edSignature = appcastAttribute(attributes, QStringLiteral("edSignature"));
            enclosureVersion = appcastAttribute(attributes, QStringLiteral("version"));
            if (item.displayVersion.isEmpty())
                item.displayVersion =
                    appcastAttribute(attributes, QStringLiteral("shortVersionString"));
            xml.skipCurrentElement();
        } else {
            xml.skipCurrentElement();
        }
    }
    if (item.version.isEmpty())
        item.version = enclosureVersion;
    if (item.displayVersion.isEmpty())
        item.displayVersion = item.version;
    if (!parseVersion(item.version))
        return UpdateFeed::Error::badVersion;
    if (!item.downloadUrl.isValid() || item.downloadUrl.isRelative() || item.length <= 0 ||
        item.edSignature.isEmpty())
        return UpdateFeed::Error::noSignedPackage;
    return std::nullopt;
}

struct PublicKeyFree
{
    void operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); }
};
struct DigestContextFree
{
    void operator()(EVP_MD_CTX *context) const { EVP_MD_CTX_free(context); }
};

// Strict standard base64: nothing when the text holds anything else.
std::optional<QByteArray> base64Bytes(const QString &text)
{
    const QByteArray::FromBase64Result decoded = QByteArray::fromBase64Encoding(
        text.trimmed().toLatin1(),
        QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return decoded.decoded;
}

} // namespace

namespace UpdateFeed {

QString message(Error error)
{
    switch (error) {
    case Error::tooLarge:
        return QStringLiteral("업데이트 정보가 너무 큼");
    case Error::notXml:
        return QStringLiteral("업데이트 정보를 읽을 수 없음");
    case Error::noItems:
        return QStringLiteral("업데이트 정보에 버전이 없음");
    case Error::badVersion:
        return QStringLiteral("업데이트 정보의 버전을 읽을 수 없음");
    case Error::noSignedPackage:
        return QStringLiteral("업데이트 정보에 서명된 설치 파일이 없음");
    }
    return {};
}

Parsed parse(const QByteArray &xmlBytes)
{
    if (xmlBytes.size() > maxFeedBytes)
        return {{}, Error::tooLarge};
    QXmlStreamReader xml(xmlBytes);
    Parsed parsed;
    std::optional<Error> firstItemError;
    int itemCount = 0;
    bool sawRoot = false;
    while (!xml.atEnd() && itemCount < maxItems) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        sawRoot = true;
        if (!xml.namespaceUri().isEmpty() || xml.name() != u"item")
            continue;
        ++itemCount;
        UpdateItem item;
        const std::optional<Error> itemError = readItem(xml, item);
        if (!itemError)
            parsed.items.append(item);
        else if (!firstItemError)
            firstItemError = itemError;
    }
    if (xml.hasError() || !sawRoot)
        return {{}, Error::notXml};
    if (parsed.items.isEmpty())
        parsed.error = firstItemError.value_or(Error::noItems);
    return parsed;
}

std::optional<UpdateItem> newestAfter(const QList<UpdateItem> &items, const QString &currentVersion)
{
    std::optional<UpdateItem> newest;
    for (const UpdateItem &item : items) {
        const QString &floor = newest ? newest->version : currentVersion;
        if (compareVersions(item.version, floor) == std::partial_ordering::greater)
            newest = item;
    }
    return newest;
}

} // namespace UpdateFeed

std::optional<QList<int>> parseVersion(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    QList<int> parts;
    for (QStringView part : QStringView(trimmed).split(u'.')) {
        if (part.isEmpty() || part.size() > 9 ||
            !std::all_of(part.begin(), part.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
            return std::nullopt;
        parts.append(part.toInt());
    }
    return parts;
}

std::partial_ordering compareVersions(const QString &a, const QString &b)
{
    const std::optional<QList<int>> left = parseVersion(a);
    const std::optional<QList<int>> right = parseVersion(b);
    if (!left || !right)
        return std::partial_ordering::unordered;
    const qsizetype count = std::max(left->size(), right->size());
    for (qsizetype i = 0; i < count; ++i) {
        const int l = i < left->size() ? left->at(i) : 0;
        const int r = i < right->size() ? right->at(i) : 0;
        if (l != r)
            return l <=> r;
    }
    return std::partial_ordering::equivalent;
}

bool verifyEd25519(const QByteArray &data, const QString &signatureBase64,
                   const QString &publicKeyBase64)
{
    const std::optional<QByteArray> key = base64Bytes(publicKeyBase64);
    const std::optional<QByteArray> signature = base64Bytes(signatureBase64);
    if (!key || key->size() != ed25519KeyBytes || !signature ||
        signature->size() != ed25519SignatureBytes)
        return false;
    const std::unique_ptr<EVP_PKEY, PublicKeyFree> publicKey(EVP_PKEY_new_raw_public_key(
        EVP_PKEY_ED25519, nullptr, reinterpret_cast<const unsigned char *>(key->constData()),
        size_t(key->size())));
    const std::unique_ptr<EVP_MD_CTX, DigestContextFree> context(EVP_MD_CTX_new());
    if (!publicKey || !context ||
        EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, publicKey.get()) != 1)
        return false;
    return EVP_DigestVerify(
               context.get(), reinterpret_cast<const unsigned char *>(signature->constData()),
               size_t(signature->size()), reinterpret_cast<const unsigned char *>(data.constData()),
               size_t(data.size())) == 1;
}

bool isAllowedUpdateAddress(const QUrl &url)
{
    if (!url.isValid() || url.host().isEmpty())
        return false;
    if (url.scheme() == u"https")
        return true;
    return url.scheme() == u"http" && url.host() == u"127.0.0.1";
}

QDateTime UpdateSchedule::nextCheck(const std::optional<QDateTime> &lastCheck,
                                    const QDateTime &now) const
{
    const QDateTime earliest = now.addMSecs(firstDelay.count());
    if (!lastCheck || !lastCheck->isValid())
        return earliest;
    const QDateTime due = std::min(*lastCheck, now).addMSecs(interval.count());
    return std::max(due, earliest);
}

} // namespace vyo
