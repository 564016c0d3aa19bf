#include "platform/FileManager.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

namespace vyo {

QList<QUrl> FileManager::parentFolders(const QList<QUrl> &urls)
{
    QList<QUrl> folders;
    QSet<QString> seen;
    for (const QUrl &url : urls) {
        if (!url.isLocalFile())
            continue;
        const QString folder = QFileInfo(QDir::cleanPath(url.toLocalFile())).absolutePath();
        if (seen.contains(folder))
            continue;
        seen.insert(folder);
        folders.append(QUrl::fromLocalFile(folder));
    }
    return folders;
}

} // namespace vyo
