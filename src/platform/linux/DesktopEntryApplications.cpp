// Installed applications from the freedesktop desktop entries ("applications/*.desktop" in the
// XDG data folders).

#include "platform/InstalledApplications.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QStringDecoder>

#include <algorithm>

namespace vyo {

namespace {

// Larger files are not desktop entries.
constexpr qint64 maximumEntrySize = 256 * 1024;
// Bounds on a folder tree someone filled by accident.
constexpr int maximumEntriesPerFolder = 5000;

// The keys of the "Desktop Entry" group, with escapes (\s \n \t \r \\) resolved; nothing when
// the file is not a well-formed desktop entry.
std::optional<QHash<QString, QString>> readDesktopEntry(const QString &path)
{
    QFile file(path);
    if (file.size() > maximumEntrySize || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(bytes);
    if (decoder.hasError())
        return std::nullopt;

    QHash<QString, QString> keys;
    QString group;
    for (const QString &rawLine : text.split(u'\n')) {
        const QString line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[')) {
            if (!line.endsWith(u']'))
                return std::nullopt;
            // The "Desktop Entry" group comes first.
            if (group.isEmpty() && line != u"[Desktop Entry]")
                return std::nullopt;
            group = line.mid(1, line.size() - 2);
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (group.isEmpty() || equals <= 0)
            return std::nullopt;
        if (group != u"Desktop Entry")
            continue;
        QString value;
        const QString raw = line.mid(equals + 1).trimmed();
        for (qsizetype i = 0; i < raw.size(); ++i) {
            if (raw[i] != u'\\' || i + 1 == raw.size()) {
                value += raw[i];
                continue;
            }
            const QChar next = raw[++i];
            value += next == u's'   ? QChar(u' ')
                     : next == u'n' ? QChar(u'\n')
                     : next == u't' ? QChar(u'\t')
                     : next == u'r' ? QChar(u'\r')
                                    : next;
        }
        keys.insert(line.left(equals).trimmed(), value);
    }
    if (group.isEmpty())
        return std::nullopt;
    return keys;
}

bool isTrue(const QString &value)
{
    return value == u"true";
}

// The name in Vyo's language, Korean: Name[ko_KR], then Name[ko], then Name.
QString localizedName(const QHash<QString, QString> &keys)
{
    for (const QString &key :
         {QStringLiteral("Name[ko_KR]"), QStringLiteral("Name[ko]"), QStringLiteral("Name")}) {
        const QString name = keys.value(key).trimmed();
        if (!name.isEmpty())
            return name;
    }
    return {};
}

// What the drag watcher reports for the application's windows: toolkits that publish a
// desktop-file id on their windows use reverse-DNS ids ("org.example.App"), so such an id is
// taken as it stands; otherwise the window class is reported, lower-cased: the one the entry
// names (StartupWMClass), or else the id, which by convention is the program's class.
QString applicationIDOf(const QString &desktopFileID, const QHash<QString, QString> &keys)
{
    const QString windowClass = keys.value(QStringLiteral("StartupWMClass")).trimmed();
    if (!windowClass.isEmpty())
        return windowClass.toLower();
    if (desktopFileID.contains(u'.'))
        return desktopFileID;
    return desktopFileID.toLower();
}

QStringList sessionDataFolders()
{
    QString home = qEnvironmentVariable("XDG_DATA_HOME");
    if (home.isEmpty())
        home = QDir::homePath() + QStringLiteral("/.local/share");
    QStringList folders{home};
    QString dirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dirs.isEmpty())
        dirs = QStringLiteral("/usr/local/share:/usr/share");
    folders += dirs.split(u':', Qt::SkipEmptyParts);
    return folders;
}

} // namespace

QList<InstalledApplication> installedApplications(const QStringList &dataFolders)
{
    QList<InstalledApplication> applications;
    // Ids already decided: an entry in an earlier folder hides later ones, even a hidden entry.
    QSet<QString> seen;
    for (const QString &dataFolder : dataFolders) {
        const QDir folder(QDir(dataFolder).filePath(QStringLiteral("applications")));
        if (!folder.exists())
            continue;
        QDirIterator entries(folder.path(), {QStringLiteral("*.desktop")}, QDir::Files,
                             QDirIterator::Subdirectories | QDirIterator::FollowSymlinks);
        for (int count = 0; entries.hasNext() && count < maximumEntriesPerFolder; ++count) {
            const QString path = entries.next();
            // "applications/kde/foo.desktop" has the id "kde-foo".
            QString id = folder.relativeFilePath(path);
            id.chop(int(qstrlen(".desktop")));
            id.replace(u'/', u'-');
            if (id.isEmpty() || seen.contains(id))
                continue;
            const auto keys = readDesktopEntry(path);
            if (!keys)
                continue;
            seen.insert(id);
            const QString name = localizedName(*keys);
            if (keys->value(QStringLiteral("Type")) != u"Application" || name.isEmpty() ||
                isTrue(keys->value(QStringLiteral("Hidden"))) ||
                isTrue(keys->value(QStringLiteral("NoDisplay"))))
                continue;
            applications.append({applicationIDOf(id, *keys), name,
                                 keys->value(QStringLiteral("Icon")).trimmed(), path});
        }
    }
    std::stable_sort(applications.begin(), applications.end(),
                     [](const InstalledApplication &a, const InstalledApplication &b) {
                         return QString::localeAwareCompare(a.name, b.name) < 0;
                     });
    return applications;
}

QList<InstalledApplication> installedApplications()
{
    return installedApplications(sessionDataFolders());
}

std::optional<InstalledApplication> installedApplication(const QString &applicationID)
{
    const QList<InstalledApplication> applications = installedApplications();
    const auto found = std::find_if(
        applications.begin(), applications.end(),
        [&](const InstalledApplication &app) { return app.applicationID == applicationID; });
    if (found == applications.end())
        return std::nullopt;
    return *found;
}

QIcon applicationIcon(const InstalledApplication &application)
{
    const QIcon generic = QIcon::fromTheme(QStringLiteral("application-x-executable"));
    if (application.icon.isEmpty())
        return generic;
    if (QFileInfo(application.icon).isAbsolute()) {
        if (QFileInfo(application.icon).isFile()) {
            const QIcon icon(application.icon);
            if (!icon.availableSizes().isEmpty() || !icon.pixmap(24, 24).isNull())
                return icon;
        }
        return generic;
    }
    // Some entries name the icon with its file suffix.
    QString name = application.icon;
    for (const char *suffix : {".png", ".svg", ".xpm"}) {
        if (name.endsWith(QLatin1String(suffix)))
            name.chop(4);
    }
    return QIcon::hasThemeIcon(name) ? QIcon::fromTheme(name) : generic;
}

} // namespace vyo
