#include "platform/FileBookmark.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QQueue>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace vyo {

namespace {

struct Identity
{
    quint64 device = 0;
    quint64 inode = 0;
    qint64 birthSeconds = 0; // 0 when the file system does not report it
    qint64 birthNanoseconds = 0;
    bool isDirectory = false;
};

std::optional<Identity> identityOf(const QString &path, QString *error = nullptr)
{
    struct statx st;
    const QByteArray native = QFile::encodeName(path);
    if (statx(AT_FDCWD, native.constData(), AT_SYMLINK_NOFOLLOW,
              STATX_INO | STATX_TYPE | STATX_BTIME, &st) != 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        return std::nullopt;
    }
    Identity id;
    id.device = (quint64(st.stx_dev_major) << 32) | st.stx_dev_minor;
    id.inode = st.stx_ino;
    if (st.stx_mask & STATX_BTIME) {
        id.birthSeconds = st.stx_btime.tv_sec;
        id.birthNanoseconds = st.stx_btime.tv_nsec;
    }
    id.isDirectory = S_ISDIR(st.stx_mode);
    return id;
}

bool sameFile(const Identity &stored, const Identity &found)
{
    if (stored.device != found.device || stored.inode != found.inode ||
        stored.isDirectory != found.isDirectory)
        return false;
    // A reused inode has a new birth time; compare it where both sides know it.
    if (stored.birthSeconds != 0 && found.birthSeconds != 0)
        return stored.birthSeconds == found.birthSeconds &&
               stored.birthNanoseconds == found.birthNanoseconds;
    return true;
}

QStringList userFolders()
{
    QStringList roots;
    for (auto location : {QStandardPaths::DesktopLocation, QStandardPaths::DocumentsLocation,
                          QStandardPaths::DownloadLocation, QStandardPaths::PicturesLocation,
                          QStandardPaths::MusicLocation, QStandardPaths::MoviesLocation,
                          QStandardPaths::HomeLocation}) {
        const QString path = QStandardPaths::writableLocation(location);
        if (!path.isEmpty() && !roots.contains(path))
            roots.append(path);
    }
    return roots;
}

// Breadth-first search below the roots for the stored identity, bounded by the limits. Symbolic
// links are not followed and other devices are not entered. Folders are read an entry at a time,
// so a huge folder cannot run past the limits.
std::optional<QString> search(const Identity &stored, const QStringList &roots,
                              const BookmarkSearchLimits &limits)
{
    const QDeadlineTimer deadline(limits.maxMilliseconds);
    int entries = 0;
    QSet<QString> visited;
    for (const QString &root : roots) {
        QQueue<std::pair<QString, int>> queue;
        queue.enqueue({root, 0});
        while (!queue.isEmpty()) {
            const auto [folder, depth] = queue.dequeue();
            if (visited.contains(folder))
                continue;
            visited.insert(folder);
            QDirIterator children(folder, QDir::AllEntries | QDir::Hidden | QDir::System |
                                              QDir::NoDotAndDotDot);
            while (children.hasNext()) {
                const QString child = children.next();
                if (++entries > limits.maxEntries || deadline.hasExpired() ||
                    limits.sharedDeadline.hasExpired())
                    return std::nullopt;
                const std::optional<Identity> found = identityOf(child);
                if (!found || found->device != stored.device)
                    continue;
                if (sameFile(stored, *found))
                    return child;
                if (found->isDirectory && !children.fileInfo().isSymLink() &&
                    depth + 1 < limits.maxDepth)
                    queue.enqueue({child, depth + 1});
            }
        }
    }
    return std::nullopt;
}

// The entry of the folder with the stored identity (a rename). The folder is listed once for all
// the files of a shelf, within the limits and the shared time; a folder cut short by them is
// searched as far as it was listed.
std::optional<QString> findRenamed(const Identity &stored, const QString &folder,
                                   const BookmarkSearchLimits &limits)
{
    auto &folders = limits.listings->folders;
    auto listing = folders.constFind(folder);
    if (listing == folders.cend()) {
        if (limits.sharedDeadline.hasExpired())
            return std::nullopt;
        const QDeadlineTimer deadline(limits.maxMilliseconds);
        QMultiHash<std::pair<quint64, quint64>, QString> entries;
        QDirIterator children(folder, QDir::AllEntries | QDir::Hidden | QDir::System |
                                          QDir::NoDotAndDotDot);
        for (int count = 1; children.hasNext(); ++count) {
            if (count > limits.maxEntries || deadline.hasExpired() ||
                limits.sharedDeadline.hasExpired())
                break;
            const QString child = children.next();
            if (const std::optional<Identity> found = identityOf(child))
                entries.insert({found->device, found->inode}, child);
        }
        listing = folders.insert(folder, entries);
    }
    for (const QString &path : listing->values({stored.device, stored.inode})) {
        if (const auto found = identityOf(path); found && sameFile(stored, *found))
            return path;
    }
    return std::nullopt;
}

} // namespace

std::optional<QByteArray> createFileBookmark(const QString &path, QString *error)
{
    const std::optional<Identity> id = identityOf(path, error);
    if (!id)
        return std::nullopt;
    QJsonObject record{
        {QStringLiteral("v"), 1},
        {QStringLiteral("path"), QFileInfo(path).absoluteFilePath()},
        {QStringLiteral("dev"), QString::number(id->device)},
        {QStringLiteral("ino"), QString::number(id->inode)},
        {QStringLiteral("dir"), id->isDirectory},
    };
    if (id->birthSeconds != 0) {
        record.insert(QStringLiteral("btime"), QString::number(id->birthSeconds));
        record.insert(QStringLiteral("btimeNs"), QString::number(id->birthNanoseconds));
    }
    return QJsonDocument(record).toJson(QJsonDocument::Compact);
}

std::optional<QString> resolveFileBookmark(const QByteArray &bookmark,
                                           const BookmarkSearchLimits &limits)
{
    const QJsonObject record = QJsonDocument::fromJson(bookmark).object();
    if (record.value(QStringLiteral("v")).toInt() != 1)
        return std::nullopt;
    const QString path = record.value(QStringLiteral("path")).toString();
    bool deviceOk = false;
    bool inodeOk = false;
    Identity stored;
    stored.device = record.value(QStringLiteral("dev")).toString().toULongLong(&deviceOk);
    stored.inode = record.value(QStringLiteral("ino")).toString().toULongLong(&inodeOk);
    stored.birthSeconds = record.value(QStringLiteral("btime")).toString().toLongLong();
    stored.birthNanoseconds = record.value(QStringLiteral("btimeNs")).toString().toLongLong();
    stored.isDirectory = record.value(QStringLiteral("dir")).toBool();
    if (path.isEmpty() || !deviceOk || !inodeOk)
        return std::nullopt;

    if (const auto here = identityOf(path); here && sameFile(stored, *here))
        return path;

    const QString oldFolder = QFileInfo(path).absolutePath();
    if (auto found = findRenamed(stored, oldFolder, limits))
        return found;

    QStringList roots;
    const QString parent = QFileInfo(oldFolder).absolutePath();
    if (parent != oldFolder)
        roots.append(parent);
    roots += limits.extraRoots.isEmpty() ? userFolders() : limits.extraRoots;
    return search(stored, roots, limits);
}

} // namespace vyo
