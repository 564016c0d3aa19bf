#pragma once

// Signatures of signaling payloads: HMAC-SHA256 with the room key over the payload's UTF-8 bytes,
// written in base64url without "=" (43 characters). The room key reaches browsers only inside the
// share address, so the service that relays the signals cannot forge them.

#include <QByteArray>
#include <QString>

#include <optional>

namespace vyo {

// The bytes of a key or signature text in base64url ("-" and "_"; "=" may be left out). Nothing
// when the text is not base64.
std::optional<QByteArray> base64UrlBytes(const QString &text);

// The 43-character signature of `payload` with the room key; nothing when the key is not base64url
// or is empty.
std::optional<QString> signPayload(const QString &payload, const QString &key);

// Whether `signature` is the signature of `payload` with the room key (compared in constant time).
bool verifyPayload(const QString &payload, const QString &signature, const QString &key);

// `count` bytes from the cryptographically secure random source; nothing when it fails.
std::optional<QByteArray> secureRandomBytes(int count);

} // namespace vyo
