#include "logic/URLCommand.h"

#include <QDir>
#include <QFileInfo>
#include <QUrlQuery>

namespace vyo {

namespace {

// Longer addresses are not something a person or a script meant to send.
constexpr qsizetype maximumURLLength = 64 * 1024;

// The file URL for a "path" value: a leading tilde becomes the home folder. Relative paths and
// paths that climb with ".." are refused, so an address never names a file by a detour.
std::optional<QUrl> fileURL(QString path)
{
    if (path == u"~" || path.startsWith(u"~/"))
        path.replace(0, 1, QDir::homePath());
    if (!QDir::isAbsolutePath(path))
        return std::nullopt;
    const QStringList components = path.split(u'/');
    if (components.contains(QStringLiteral("..")))
        return std::nullopt;
    if (!QFileInfo::exists(path))
        return std::nullopt;
    // Repeated slashes go: a path starting "//" would be read as a network share's host.
    return QUrl::fromLocalFile(QDir::cleanPath(path));
}

} // namespace

URLCommand URLCommand::parse(const QUrl &url)
{
    URLCommand command;
    if (!url.isValid() || url.scheme().toLower() != QLatin1String(scheme))
        return command;
    const QString host = url.host(QUrl::FullyEncoded).toLower();
    if (host == u"new") {
        command.kind = Kind::newShelf;
    } else if (host == u"reopen") {
        command.kind = Kind::reopen;
    } else if (host == u"add") {
        const QUrlQuery query(url);
        for (const auto &[name, value] : query.queryItems(QUrl::FullyDecoded)) {
            if (name != u"path" || value.isEmpty())
                continue;
            if (const auto file = fileURL(value))
                command.files.append(*file);
        }
        if (!command.files.isEmpty())
            command.kind = Kind::add;
    }
    return command;
}

URLCommand URLCommand::parse(const QString &text)
{
    if (text.size() > maximumURLLength)
        return {};
    // Read as browsers read a typed address: spaces and other characters that may not stand raw
    // are encoded ("내 문서/메모 1.txt"), and a lone "%" stands for itself.
    return parse(QUrl(text, QUrl::TolerantMode));
}

bool URLCommand::looksLikeSchemeURL(const QString &argument)
{
    return argument.section(u':', 0, 0).compare(QLatin1String(scheme), Qt::CaseInsensitive) == 0;
}

} // namespace vyo
