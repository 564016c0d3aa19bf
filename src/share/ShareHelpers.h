#pragma once

// What the share center needs before a share exists: the room identifier and key, the share
// address given to browsers, and the ICE-server list fetched from the service.

#include "platform/PeerConnection.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <chrono>
#include <functional>
#include <optional>

namespace vyo {

// A room identifier: 16 random bytes in base64url, 22 characters. Nothing when the secure random
// source fails.
std::optional<QString> makeRoomID();
// A room key: 32 random bytes in base64url, 43 characters.
std::optional<QString> makeRoomKey();

// `base` with a relative path appended to its path ("api/ice" on https://host gives
// https://host/api/ice).
QUrl appendingPath(const QUrl &base, const QString &relativePath);

// The address a browser opens: "s/" + room on the share-page base, the query item "signal" with
// the signaling base when the two bases differ, and the key in the fragment, which browsers never
// send to the server.
QUrl shareAddress(const QUrl &pageBase, const QUrl &signalingBase, const QString &roomID,
                  const QString &key);

namespace IceFetch {

// The body of the service's answer: {"iceServers": [{"urls": …, "username": …, "credential": …}]}.
struct Payload
{
    using Server = IceServer;
    QList<Server> iceServers;

    // Nothing when the body is not such an object: not JSON, no "iceServers" array, a server
    // without "urls", "urls" neither a string nor an array of strings, or a user name or credential
    // that is not a string.
    static std::optional<Payload> decode(const QByteArray &body);
};

enum class Failure {
    // Not connected, connection lost, host not found or timed out: the user is offline.
    noNetwork,
    // An answer other than status 200.
    badServerResponse,
    // Status 200 with a body that is not an ICE-server list.
    undecodable,
    // Anything else (refused connection, TLS failure, …).
    other,
};

struct Result
{
    QList<IceServer> servers;
    // Nothing when the fetch worked.
    std::optional<Failure> failure;
    // What went wrong, for the log.
    QString description;
};

// "api/ice" on the signaling base.
QUrl address(const QUrl &signalingBase);

inline constexpr std::chrono::milliseconds defaultTimeout{8000};

// GETs the ICE-server list and calls `done` with the result on the thread that started the fetch
// (the main thread). Nothing is called when `context` is gone by then.
void fetch(const QUrl &signalingBase, QObject *context, std::function<void(const Result &)> done,
           std::chrono::milliseconds timeout = defaultTimeout);

} // namespace IceFetch

} // namespace vyo
