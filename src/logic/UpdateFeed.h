#pragma once

// The rules of Vyo's updates that need no network: reading the update feed (an RSS appcast),
// comparing versions, verifying a download's Ed25519 signature against the key built into the
// application, the addresses updates may come from, and when the next scheduled check is due.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QUrl>

#include <chrono>
#include <compare>
#include <optional>

namespace vyo {

// One release offered by the feed: an `<item>` with its `<enclosure>`.
struct UpdateItem
{
    QString title;
    // The version compared with the running one (`sparkle:version`).
    QString version;
    // The version shown to the user (`sparkle:shortVersionString`; the version when absent).
    QString displayVersion;
    std::optional<QString> minimumSystemVersion;
    // The release page (`<link>`) and the release notes (`sparkle:releaseNotesLink`,
    // `<description>`).
    QUrl releasePage;
    QUrl releaseNotesLink;
    QString description;
    // The package: address, declared length in bytes, media type and base64 Ed25519 signature.
    QUrl downloadUrl;
    qint64 length = 0;
    QString type;
    QString edSignature;
};

namespace UpdateFeed {

// Feeds larger than this are refused unread.
inline constexpr qint64 maxFeedBytes = 1024 * 1024;
// The XML namespace of the appcast's own elements and attributes.
inline constexpr auto appcastNamespace = "http://www.andymatuschak.org/xml-namespaces/sparkle";

// Why a feed offers nothing; each case carries its message for the log.
enum class Error {
    tooLarge,
    notXml,
    noItems,
    badVersion,
    noSignedPackage,
};
QString message(Error error);

struct Parsed
{
    // The usable items in feed order; empty when `error` says why.
    QList<UpdateItem> items;
    std::optional<Error> error;
};

// Reads a feed. An item is usable when its version parses and its enclosure names a package with
// a positive length and a signature; unusable items are left out, and a feed without any usable
// item answers the reason of its first one.
Parsed parse(const QByteArray &xml);

// The usable item with the highest version that is newer than `currentVersion`; nothing when
// none is (or the current version does not parse).
std::optional<UpdateItem> newestAfter(const QList<UpdateItem> &items,
                                      const QString &currentVersion);

} // namespace UpdateFeed

// A version's numeric parts ("1.10.2" → 1, 10, 2); nothing unless it is dot-separated numbers.
std::optional<QList<int>> parseVersion(const QString &text);

// Versions compared part by part as numbers, missing parts counting as 0 (1.10 > 1.9,
// 2.0 == 2.0.0); unordered when either does not parse.
std::partial_ordering compareVersions(const QString &a, const QString &b);

// Whether `signatureBase64` is a valid Ed25519 signature of `data` under the raw 32-byte public
// key written in base64. False for any malformed key or signature.
bool verifyEd25519(const QByteArray &data, const QString &signatureBase64,
                   const QString &publicKeyBase64);

// Whether updates may be fetched from `url`: HTTPS, or plain HTTP to 127.0.0.1 (test servers).
bool isAllowedUpdateAddress(const QUrl &url);

// When scheduled checks are due: `interval` after the last check, and never sooner than
// `firstDelay` from now (shortly after launch when a check is overdue or there was none). A last
// check in the future (the clock was set back) counts as one made now.
struct UpdateSchedule
{
    std::chrono::milliseconds interval = std::chrono::hours(24);
    std::chrono::milliseconds firstDelay = std::chrono::minutes(1);

    QDateTime nextCheck(const std::optional<QDateTime> &lastCheck, const QDateTime &now) const;
};

} // namespace vyo
