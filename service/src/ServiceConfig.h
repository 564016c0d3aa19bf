#pragma once

// The share service's settings: where it listens, the ICE servers it hands out and every limit.
// They come from the command line and, optionally, from a small configuration file of
// "name = value" lines that use the long option names (handy for the TURN secret, which then
// stays out of the process list).

#include <QHostAddress>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <chrono>
#include <optional>

namespace vyo {

struct ServiceConfig
{
    QHostAddress listenAddress{QHostAddress::LocalHost};
    quint16 port = 8080;
    // The address browsers use; guests' Origin must match it. Empty: the Origin must name the
    // host the request was sent to.
    QUrl publicURL;
    // Further origins whose pages may join rooms.
    QStringList extraOrigins;

    QStringList stunURLs;
    QStringList turnURLs;
    // coturn's static-auth-secret (use-auth-secret mode).
    QString turnSecret;
    std::chrono::seconds turnCredentialLifetime{86400};

    qint64 maxMessageBytes = 262144;
    int maxRooms = 1000;
    int maxGuestsPerRoom = 16;
    int maxMessagesPerSecond = 50;
    qint64 maxRequestBytes = 32768;
    int maxConnections = 2000;
    int listenBacklog = 1024;
    std::chrono::milliseconds httpIdleTimeout{30000};
    std::chrono::milliseconds emptyRoomTimeout{300000};
    // Pings every socket this often and drops those that did not answer the last ping; 0: never.
    std::chrono::milliseconds keepAliveInterval{25000};
    // After SIGTERM: how long rooms that are still open are kept before the service closes them
    // and exits.
    std::chrono::milliseconds drainTimeout{60000};

    // Only a socket from a loopback address may be a room's host (the service built into the
    // desktop app: the desktop signals over loopback, browsers come from the network). Not a
    // command-line setting.
    bool hostsFromLoopbackOnly = false;

    // The origins that may open guest sockets, written as browsers send them
    // ("https://share.example.org"): the public URL's and the extra ones.
    QStringList allowedOrigins() const;
};

// The outcome of reading the command line: settings, or a request for help or version, or an
// error to print.
struct ServiceConfigParse
{
    std::optional<ServiceConfig> config;
    bool helpRequested = false;
    bool versionRequested = false;
    QString error;
    QString helpText;
};

// Reads `arguments` (with the program name first) and the configuration file they name.
ServiceConfigParse parseServiceConfig(const QStringList &arguments);

// "scheme://host[:port]" as a browser writes it in an Origin header; empty for an invalid URL.
QString originOf(const QUrl &url);

} // namespace vyo
