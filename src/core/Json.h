#pragma once

// JSON writers shared by the state file and the transfer protocol.

#include <QByteArray>
#include <QJsonObject>

namespace vyo {

// Compact JSON with keys sorted ascending and "/" left unescaped; "{}" when the object cannot be
// written (for example a number that is not finite).
QByteArray compactJson(const QJsonObject &object);

// Indented JSON with keys sorted ascending, for files people may read.
QByteArray prettyJson(const QJsonObject &object);

} // namespace vyo
