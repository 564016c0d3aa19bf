#pragma once

// Base64url without "=" padding: room identifiers, room keys and signatures.

#include <QByteArray>

#include <optional>

namespace vyo {

QByteArray base64UrlEncode(const QByteArray &bytes);
// Decodes base64url text with or without padding; nothing when a character is outside the alphabet
// or the length cannot be base64.
std::optional<QByteArray> base64UrlDecode(const QByteArray &text);

} // namespace vyo
