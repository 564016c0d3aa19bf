#include "logic/FolderWatchState.h"

#include "core/Paths.h"

#include <algorithm>

namespace vyo {

FolderWatchState::FolderWatchState(std::chrono::milliseconds deliveredMemory)
    : m_deliveredMemory(deliveredMemory)
{}

const QSet<QString> &FolderWatchState::partialDownloadExtensions()
{
    static const QSet<QString> extensions{
        QStringLiteral("download"), QStringLiteral("crdownload"), QStringLiteral("part"),
        QStringLiteral("partial"),  QStringLiteral("tmp"),        QStringLiteral("opdownload"),
    };
    return extensions;
}

bool FolderWatchState::isIgnoredName(const QString &name)
{
    if (name.startsWith(u'.') || name.startsWith(QLatin1StringView("~$")))
        return true;
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot < 0)
        return false;
    return partialDownloadExtensions().contains(name.mid(dot + 1).toLower());
}

QList<WatchedFolder>
FolderWatchState::activeFolders(const QList<WatchedFolder> &folders,
                                const std::function<bool(const QString &)> &isFolder)
{
    QList<WatchedFolder> active;
    for (const WatchedFolder &folder : folders) {
        if (folder.isEnabled && isFolder(folder.path))
            active.append(folder);
    }
    return active;
}

QStringList FolderWatchState::folderPaths() const
{
    QStringList paths;
    paths.reserve(m_folders.size());
    for (const WatchedFolder &folder : m_folders)
        paths.append(folder.path);
    return paths;
}

bool FolderWatchState::update(const QList<WatchedFolder> &active)
{
    const bool samePaths =
        std::equal(active.begin(), active.end(), m_folders.begin(), m_folders.end(),
                   [](const WatchedFolder &a, const WatchedFolder &b) { return a.path == b.path; });
    m_folders = active;
    m_canonicalFolders.clear();
    for (const WatchedFolder &folder : std::as_const(m_folders))
        m_canonicalFolders.append(canonicalPath(folder.path));
    m_canonicalParents.clear();
    if (samePaths) {
        // Pending files take over their folder's new identifier and flags too.
        for (Pending &pending : m_pending) {
            for (const WatchedFolder &folder : std::as_const(m_folders)) {
                if (folder.path == pending.folder.path) {
                    pending.folder = folder;
                    break;
                }
            }
        }
        return false;
    }
    m_pending.clear();
    return true;
}

void FolderWatchState::retainFolders(const QStringList &paths)
{
    for (qsizetype i = m_folders.size() - 1; i >= 0; --i) {
        if (!paths.contains(m_folders[i].path)) {
            m_folders.removeAt(i);
            m_canonicalFolders.removeAt(i);
        }
    }
}

bool FolderWatchState::removeFolder(const QString &path)
{
    bool removed = false;
    for (qsizetype i = m_folders.size() - 1; i >= 0; --i) {
        if (m_folders[i].path == path) {
            m_folders.removeAt(i);
            m_canonicalFolders.removeAt(i);
            removed = true;
        }
    }
    m_pending.removeIf([&path](const auto &entry) { return entry.value().folder.path == path; });
    m_canonicalParents.clear();
    return removed;
}

const WatchedFolder *FolderWatchState::folderOf(const QString &filePath)
{
    const qsizetype slash = filePath.lastIndexOf(u'/');
    if (slash < 0)
        return nullptr;
    const QString parent = slash == 0 ? QStringLiteral("/") : filePath.left(slash);
    auto canonical = m_canonicalParents.constFind(parent);
    if (canonical == m_canonicalParents.cend()) {
        // Bounded: a burst of events from many folders must not grow this without limit.
        if (m_canonicalParents.size() >= 256)
            m_canonicalParents.clear();
        canonical = m_canonicalParents.insert(parent, canonicalPath(parent));
    }
    const qsizetype index = m_canonicalFolders.indexOf(*canonical);
    return index < 0 ? nullptr : &m_folders[index];
}

bool FolderWatchState::handle(const FileSystemEvent &event, Clock::time_point now)
{
    // 1. Files only, and only creation, renaming or moving in, and writing.
    if (!event.isFile || !(event.created || event.renamed || event.modified))
        return false;

    // 2. A file reported within the delivered memory is not reported again. A report older than
    // that no longer blocks, even if no settle check has pruned it yet.
    if (const auto delivered = m_delivered.constFind(event.path); delivered != m_delivered.cend()) {
        if (now - *delivered < m_deliveredMemory)
            return false;
        m_delivered.erase(delivered);
    }

    // 3. Hidden files, lock files and partial downloads.
    const QString name = event.path.mid(event.path.lastIndexOf(u'/') + 1);
    if (name.isEmpty() || isIgnoredName(name))
        return false;

    // 4. Directly inside a watched folder only.
    const WatchedFolder *folder = folderOf(event.path);
    if (!folder)
        return false;

    // 5. A file already pending keeps its settle check running.
    if (m_pending.contains(event.path))
        return false;
    m_pending.insert(event.path, Pending{*folder, std::nullopt, m_nextOrder++});
    return true;
}

QList<FolderWatchState::Report> FolderWatchState::settleCheck(const AttributesQuery &attributes,
                                                              Clock::time_point now)
{
    QList<std::pair<quint64, Report>> settled;
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        const std::optional<FileAttributes> current = attributes(it.key());
        if (!current || current->type != FileAttributes::Type::regular) {
            it = m_pending.erase(it);
            continue;
        }
        const qint64 size = current->size;
        if (it->size && *it->size == size && size >= 1) {
            settled.append({it->order, Report{it->folder, it.key()}});
            m_delivered.insert(it.key(), now);
            it = m_pending.erase(it);
            continue;
        }
        it->size = size;
        ++it;
    }

    m_delivered.removeIf(
        [&](const auto &entry) { return now - entry.value() >= m_deliveredMemory; });

    std::sort(settled.begin(), settled.end(),
              [](const auto &a, const auto &b) { return a.first < b.first; });
    QList<Report> reports;
    reports.reserve(settled.size());
    for (auto &entry : settled)
        reports.append(std::move(entry.second));
    return reports;
}

} // namespace vyo
