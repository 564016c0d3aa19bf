#pragma once

// The ICE-server list of GET /api/ice: the configured STUN servers, and the TURN servers with
// time-limited credentials in the form coturn's use-auth-secret mode checks (user name
// "<expiry>:<id>", credential = base64 of HMAC-SHA1 over the user name with the shared secret).

#include <QJsonObject>
#include <QString>

namespace vyo {

struct ServiceConfig;

// The answer at `nowSeconds` (Unix time): {"iceServers": [...]}; an empty list when nothing is
// configured.
QJsonObject iceAnswer(const ServiceConfig &config, qint64 nowSeconds);

// The TURN password for `username`: standard base64 of HMAC-SHA1(secret, username).
QString turnCredential(const QString &secret, const QString &username);

// Random bytes for identifiers, from the secure random source.
QByteArray serviceRandomBytes(int count);

} // namespace vyo
