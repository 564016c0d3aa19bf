#include "platform/ScreenshotFolder.h"

#include "platform/FileAttributes.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QUrl>

#include <algorithm>

namespace vyo {

namespace {

bool isDesktop(const QString &currentDesktop, QLatin1StringView name)
{
    // $XDG_CURRENT_DESKTOP is a colon-separated list such as "ubuntu:GNOME".
    const QStringList names = currentDesktop.split(u':', Qt::SkipEmptyParts);
    return std::any_of(names.begin(), names.end(), [name](const QString &entry) {
        return entry.compare(name, Qt::CaseInsensitive) == 0;
    });
}

// A stored location as a plain path: a file URL, an absolute path or one starting with "~".
QString locationPath(const QString &stored, const QString &home)
{
    QString location = stored.trimmed();
    if (location.isEmpty())
        return {};
    if (location.startsWith(QLatin1StringView("file:"))) {
        const QUrl url(location);
        if (!url.isValid() || !url.isLocalFile())
            return {};
        location = url.toLocalFile();
    }
    if (location == u'~' || location.startsWith(QLatin1StringView("~/")))
        location = home + location.mid(1);
    if (!QDir::isAbsolutePath(location))
        return {};
    return QDir::cleanPath(location);
}

// KDE's screenshot tool: "[ImageSave] imageSaveLocation" in current versions,
// "[Save] defaultSaveLocation" in older ones.
QString kdeScreenshotLocation(const ScreenshotFolderSources &sources)
{
    const QString file = sources.configHome + QStringLiteral("/spectaclerc");
    if (sources.configHome.isEmpty() || !QFile::exists(file))
        return {};
    const QSettings settings(file, QSettings::IniFormat);
    for (const QString &key : {QStringLiteral("ImageSave/imageSaveLocation"),
                               QStringLiteral("Save/defaultSaveLocation")}) {
        // A value with a comma reads as a list; it is one location all the same.
        const QVariant value = settings.value(key);
        const QString stored = value.typeId() == QMetaType::QStringList
                                   ? value.toStringList().join(u',')
                                   : value.toString();
        const QString path = locationPath(stored, sources.home);
        if (!path.isEmpty())
            return path;
    }
    return {};
}

} // namespace

QString screenshotFolder(const ScreenshotFolderSources &sources)
{
    if (isDesktop(sources.currentDesktop, QLatin1StringView("KDE"))) {
        const QString kde = kdeScreenshotLocation(sources);
        if (!kde.isEmpty())
            return kde;
    }
    if (!sources.pictures.isEmpty()) {
        const QString screenshots =
            QDir::cleanPath(sources.pictures + QStringLiteral("/Screenshots"));
        if (isDesktop(sources.currentDesktop, QLatin1StringView("GNOME")) ||
            (sources.isFolder && sources.isFolder(screenshots)))
            return screenshots;
    }
    if (!sources.desktop.isEmpty())
        return QDir::cleanPath(sources.desktop);
    return QDir::cleanPath(sources.home + QStringLiteral("/Desktop"));
}

QString screenshotFolder()
{
    ScreenshotFolderSources sources;
    sources.currentDesktop = qEnvironmentVariable("XDG_CURRENT_DESKTOP");
    sources.configHome = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    sources.home = QDir::homePath();
    sources.pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    sources.desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    sources.isFolder = isExistingFolder;
    return screenshotFolder(sources);
}

} // namespace vyo
