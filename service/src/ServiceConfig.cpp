#include "ServiceConfig.h"

#include <QCommandLineParser>
#include <QFile>
#include <QHash>
#include <QSet>

#include <cmath>

namespace vyo {

namespace {

struct OptionDefinition
{
    const char *name;
    const char *valueName;
    const char *description;
};

// Every setting, by its long option name. The configuration file uses the same names.
const OptionDefinition optionDefinitions[] = {
    {"listen", "address",
     "Address to listen on: an IPv4 or IPv6 address, or 'any' for every address of both "
     "families. Default: 127.0.0.1 (behind a reverse proxy on the same machine)."},
    {"port", "port", "TCP port for HTTP and WebSocket. 0 picks a free port. Default: 8080."},
    {"public-url", "url",
     "The address browsers use, e.g. https://share.example.org. Guests' WebSocket Origin must "
     "match it. Without it, the Origin must name the host the request was sent to."},
    {"origin", "origin",
     "A further origin (scheme://host[:port]) whose pages may join rooms. Repeatable."},
    {"stun", "url",
     "A STUN server URL handed out by /api/ice, e.g. stun:turn.example.org:3478. "
     "Repeatable."},
    {"turn", "url",
     "A TURN server URL handed out by /api/ice with time-limited credentials, e.g. "
     "turn:turn.example.org:3478?transport=udp. Repeatable; needs --turn-secret."},
    {"turn-secret", "secret",
     "The secret shared with coturn (static-auth-secret in its use-auth-secret mode). Better "
     "kept in the configuration file than on the command line."},
    {"turn-ttl", "seconds", "How long handed-out TURN credentials stay valid. Default: 86400."},
    {"max-message-bytes", "bytes",
     "Largest WebSocket message accepted; larger ones close the socket (1009). Default: 262144."},
    {"max-rooms", "count", "Rooms open at once. Default: 1000."},
    {"max-guests", "count", "Guests in one room at once. Default: 16."},
    {"max-messages-per-second", "count",
     "Messages one socket may send per second (short bursts of as many are allowed). Default: "
     "50."},
    {"max-request-bytes", "bytes",
     "Largest HTTP request (request line, headers and body) read; larger ones get 413. "
     "Default: 32768."},
    {"max-connections", "count", "Open TCP connections at once. Default: 2000."},
    {"listen-backlog", "count", "Length of the kernel's queue of new connections. Default: 1024."},
    {"http-idle-timeout", "seconds",
     "Closes an HTTP connection that sends nothing for this long. Default: 30."},
    {"empty-room-timeout", "seconds",
     "Keeps an empty room (whose host has left) this long, so a returning host learns what it "
     "missed. Default: 300."},
    {"keepalive", "seconds",
     "Pings every WebSocket this often and drops those that did not answer the previous ping; "
     "keeps reverse proxies from closing quiet sockets. 0 turns it off. Default: 25."},
    {"drain-timeout", "seconds",
     "After SIGTERM or SIGINT the service drains: /healthz answers 503, new rooms are refused "
     "and open rooms are kept until they end, at most this long; then it exits. A second "
     "signal exits at once. Default: 60."},
    {"config", "file",
     "Reads settings from a file: one 'name = value' per line with the long option names above "
     "(repeat a line for repeatable settings), '#' starts a comment. The command line wins."},
};

const char *applicationDescription =
    "Vyo share service: signaling rooms, the ICE-server list and the share page, on one port.\n"
    "\n"
    "  GET /                   a short page about the service\n"
    "  GET /s/<room>           the share page that browsers open\n"
    "  GET /api/ice            {\"iceServers\": [...]} with time-limited TURN credentials\n"
    "  GET /healthz            200 while accepting rooms, 503 while draining\n"
    "  WS  /api/room/<room>?role=host|guest   signaling; see service/README.md\n"
    "\n"
    "Files never pass through the service; it relays signed signals it cannot read or forge.";

bool readConfigFile(const QString &path, QHash<QString, QStringList> &values, QString &error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    QSet<QString> known;
    for (const OptionDefinition &option : optionDefinitions)
        known.insert(QString::fromLatin1(option.name));
    int lineNumber = 0;
    // Bounded: a configuration file is a handful of lines.
    while (!file.atEnd() && lineNumber < 10000) {
        ++lineNumber;
        QString line = QString::fromUtf8(file.readLine(4096)).trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        const qsizetype equals = line.indexOf(u'=');
        const QString name = line.left(equals).trimmed();
        if (equals < 0 || !known.contains(name) || name == u"config") {
            error =
                QStringLiteral("%1:%2: unknown setting '%3'").arg(path).arg(lineNumber).arg(name);
            return false;
        }
        values[name].append(line.mid(equals + 1).trimmed());
    }
    return true;
}

class Reader
{
public:
    Reader(const QCommandLineParser &parser, const QHash<QString, QStringList> &file)
        : m_parser(parser)
        , m_file(file)
    {}

    QStringList values(const QString &name) const
    {
        if (m_parser.isSet(name))
            return m_parser.values(name);
        return m_file.value(name);
    }

    std::optional<QString> value(const QString &name) const
    {
        const QStringList all = values(name);
        if (all.isEmpty())
            return std::nullopt;
        return all.last();
    }

    // A whole number from `minimum` up to `maximum`.
    bool number(const QString &name, qint64 minimum, qint64 maximum, qint64 &out)
    {
        const std::optional<QString> text = value(name);
        if (!text)
            return true;
        bool ok = false;
        const qint64 number = text->toLongLong(&ok);
        if (!ok || number < minimum || number > maximum) {
            m_error = QStringLiteral("--%1 needs a whole number from %2 to %3, not '%4'")
                          .arg(name)
                          .arg(minimum)
                          .arg(maximum)
                          .arg(*text);
            return false;
        }
        out = number;
        return true;
    }

    template <typename T> bool number(const QString &name, qint64 minimum, qint64 maximum, T &out)
    {
        qint64 wide = out;
        if (!number(name, minimum, maximum, wide))
            return false;
        out = T(wide);
        return true;
    }

    // Seconds, fractions allowed, up to a day.
    bool duration(const QString &name, bool zeroAllowed, std::chrono::milliseconds &out)
    {
        const std::optional<QString> text = value(name);
        if (!text)
            return true;
        bool ok = false;
        const double seconds = text->toDouble(&ok);
        if (!ok || !std::isfinite(seconds) || seconds < 0 || seconds > 86400 ||
            (seconds == 0 && !zeroAllowed) || (seconds > 0 && seconds < 0.001)) {
            m_error = QStringLiteral("--%1 needs seconds%2 up to 86400, not '%3'")
                          .arg(name,
                               zeroAllowed ? QStringLiteral(" (0 or more)")
                                           : QStringLiteral(" (more than 0)"),
                               *text);
            return false;
        }
        out = std::chrono::milliseconds(qint64(std::llround(seconds * 1000)));
        return true;
    }

    QString error() const { return m_error; }
    void setError(const QString &error) { m_error = error; }

private:
    const QCommandLineParser &m_parser;
    const QHash<QString, QStringList> &m_file;
    QString m_error;
};

bool isStunOrTurnURL(const QString &url, bool turn)
{
    const QStringList schemes =
        turn ? QStringList{QStringLiteral("turn:"), QStringLiteral("turns:")}
             : QStringList{QStringLiteral("stun:"), QStringLiteral("stuns:")};
    for (const QString &scheme : schemes) {
        if (url.startsWith(scheme, Qt::CaseInsensitive) && url.size() > scheme.size())
            return true;
    }
    return false;
}

} // namespace

QString originOf(const QUrl &url)
{
    if (!url.isValid() || url.host().isEmpty() || url.scheme().isEmpty())
        return QString();
    // An IPv6 host is written in brackets, as in the address (the embedded service's LAN address
    // may be one).
    const QString host = url.host().toLower();
    QString origin = url.scheme().toLower() + QStringLiteral("://") +
                     (host.contains(u':') ? u'[' + host + u']' : host);
    const int defaultPort = url.scheme() == u"https" ? 443 : url.scheme() == u"http" ? 80 : -1;
    if (url.port() != -1 && url.port() != defaultPort)
        origin += u':' + QString::number(url.port());
    return origin;
}

QStringList ServiceConfig::allowedOrigins() const
{
    QStringList origins;
    if (!publicURL.isEmpty())
        origins.append(originOf(publicURL));
    for (const QString &origin : extraOrigins)
        origins.append(origin.toLower());
    return origins;
}

ServiceConfigParse parseServiceConfig(const QStringList &arguments)
{
    ServiceConfigParse result;
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(applicationDescription));
    parser.addHelpOption();
    parser.addVersionOption();
    for (const OptionDefinition &option : optionDefinitions) {
        parser.addOption(QCommandLineOption(QString::fromLatin1(option.name),
                                            QString::fromLatin1(option.description),
                                            QString::fromLatin1(option.valueName)));
    }
    result.helpText = parser.helpText();
    if (!parser.parse(arguments)) {
        result.error = parser.errorText();
        return result;
    }
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))) {
        result.helpRequested = true;
        return result;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        result.versionRequested = true;
        return result;
    }
    if (!parser.positionalArguments().isEmpty()) {
        result.error =
            QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first());
        return result;
    }

    QHash<QString, QStringList> fileValues;
    if (parser.isSet(QStringLiteral("config")) &&
        !readConfigFile(parser.value(QStringLiteral("config")), fileValues, result.error))
        return result;

    Reader read(parser, fileValues);
    ServiceConfig config;
    if (const std::optional<QString> listen = read.value(QStringLiteral("listen"))) {
        if (*listen == u"any") {
            config.listenAddress = QHostAddress(QHostAddress::Any);
        } else if (!config.listenAddress.setAddress(*listen)) {
            result.error =
                QStringLiteral("--listen needs an IP address or 'any', not '%1'").arg(*listen);
            return result;
        }
    }
    if (const std::optional<QString> url = read.value(QStringLiteral("public-url"))) {
        config.publicURL = QUrl(*url, QUrl::StrictMode);
        if (originOf(config.publicURL).isEmpty() ||
            (config.publicURL.scheme() != u"https" && config.publicURL.scheme() != u"http")) {
            result.error =
                QStringLiteral("--public-url needs an http or https address, not '%1'").arg(*url);
            return result;
        }
    }
    for (const QString &origin : read.values(QStringLiteral("origin"))) {
        if (originOf(QUrl(origin)) != origin.toLower()) {
            result.error =
                QStringLiteral("--origin needs scheme://host[:port], not '%1'").arg(origin);
            return result;
        }
        config.extraOrigins.append(origin);
    }
    config.stunURLs = read.values(QStringLiteral("stun"));
    config.turnURLs = read.values(QStringLiteral("turn"));
    for (const QString &url : std::as_const(config.stunURLs)) {
        if (!isStunOrTurnURL(url, false)) {
            result.error = QStringLiteral("--stun needs a stun: or stuns: URL, not '%1'").arg(url);
            return result;
        }
    }
    for (const QString &url : std::as_const(config.turnURLs)) {
        if (!isStunOrTurnURL(url, true)) {
            result.error = QStringLiteral("--turn needs a turn: or turns: URL, not '%1'").arg(url);
            return result;
        }
    }
    config.turnSecret = read.value(QStringLiteral("turn-secret")).value_or(QString());
    if (!config.turnURLs.isEmpty() && config.turnSecret.isEmpty()) {
        result.error = QStringLiteral("--turn needs --turn-secret (coturn's static-auth-secret)");
        return result;
    }

    qint64 ttl = config.turnCredentialLifetime.count();
    const bool numbersRead =
        read.number(QStringLiteral("port"), 0, 65535, config.port) &&
        read.number(QStringLiteral("turn-ttl"), 60, 30 * 86400, ttl) &&
        read.number(QStringLiteral("max-message-bytes"), 1024, 64 * 1024 * 1024,
                    config.maxMessageBytes) &&
        read.number(QStringLiteral("max-rooms"), 1, 1000000, config.maxRooms) &&
        read.number(QStringLiteral("max-guests"), 1, 1000, config.maxGuestsPerRoom) &&
        read.number(QStringLiteral("max-messages-per-second"), 1, 100000,
                    config.maxMessagesPerSecond) &&
        read.number(QStringLiteral("max-request-bytes"), 1024, 16 * 1024 * 1024,
                    config.maxRequestBytes) &&
        read.number(QStringLiteral("max-connections"), 1, 1000000, config.maxConnections) &&
        read.number(QStringLiteral("listen-backlog"), 1, 65535, config.listenBacklog) &&
        read.duration(QStringLiteral("http-idle-timeout"), false, config.httpIdleTimeout) &&
        read.duration(QStringLiteral("empty-room-timeout"), true, config.emptyRoomTimeout) &&
        read.duration(QStringLiteral("keepalive"), true, config.keepAliveInterval) &&
        read.duration(QStringLiteral("drain-timeout"), true, config.drainTimeout);
    if (!numbersRead) {
        result.error = read.error();
        return result;
    }
    config.turnCredentialLifetime = std::chrono::seconds(ttl);
    result.config = config;
    return result;
}

} // namespace vyo
