#pragma once

// The file name an upload is stored under. A browser (or an automation call) names its file
// freely; what lands on disk must be one plain file name inside the upload's own folder.

#include <QString>

#include <optional>

namespace vyo {

// The longest stored name, in user-perceived characters.
inline constexpr int maximumUploadNameLength = 200;

// `name` made safe to store: every "/", "\", ":", control, format and line-break character becomes
// "_"; spaces and tabs are trimmed at both ends and leading dots removed (no hidden files, no
// "..", no way out of the folder); at most the first 200 user-perceived characters are kept, and
// fewer when the name would exceed the 255 bytes a Linux file name may take (the extension
// stays); the result is in NFC. Nothing when no name is left.
std::optional<QString> cleanUploadName(const QString &name);

} // namespace vyo
