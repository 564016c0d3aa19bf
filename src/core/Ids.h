#pragma once

// Identifiers are UUIDs, written upper-case without braces
// ("E621E1F8-C36C-495A-93FC-0C247A3E6E5F").

#include <QString>
#include <QUuid>

#include <optional>

namespace vyo {

QUuid newId();
QString uuidText(const QUuid &id);
// Reads a UUID in its hyphenated form, upper- or lower-case, without braces; nothing otherwise.
std::optional<QUuid> parseUuid(QStringView text);

} // namespace vyo
