#include "watch/WatchCenter.h"

#include "core/Defaults.h"
#include "core/Ids.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "platform/Desktop.h"
#include "platform/FileSystemEvents.h"
#include "platform/ScreenshotFolder.h"
#include "shelf/Shelf.h"
#include "shelf/ShelfItem.h"
#include "shelf/ShelfManager.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace vyo {

namespace {

// The file manager's name for a folder: its file name ("/" for the root).
QString folderDisplayName(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    return name.isEmpty() ? path : name;
}

QList<WatchedFolder> loadFolders(const Defaults &defaults)
{
    const QByteArray data = defaults.watchedFolders();
    if (data.isEmpty())
        return {};
    std::optional<QList<WatchedFolder>> folders = WatchedFolder::decodeList(data);
    if (!folders) {
        vyoError(lcShelf, u"감시 폴더 목록을 읽지 못해 빈 목록으로 시작");
        return {};
    }
    return *folders;
}

} // namespace

WatchCenter &WatchCenter::shared()
{
    static WatchCenter *instance = [] {
        auto *center = new WatchCenter(Defaults::shared(), ShelfManager::shared());
        // The center lives until the process ends; its worker thread ends when the application
        // quits, before the application object goes.
        if (QCoreApplication *application = QCoreApplication::instance())
            QObject::connect(application, &QCoreApplication::aboutToQuit, center,
                             [center] { center->m_watcher.stop(); });
        return center;
    }();
    return *instance;
}

WatchCenter::WatchCenter(Defaults &defaults, ShelfManager &manager, FolderWatcher::Timing timing,
                         QObject *parent)
    : QObject(parent)
    , m_defaults(defaults)
    , m_manager(manager)
    , m_folders(loadFolders(defaults))
    , m_watcher(Desktop::shared().makeFileSystemEvents(timing.latency), timing)
{
    QPointer<WatchCenter> center(this);
    m_watcher.onNewFile = [center](const WatchedFolder &folder, const QUrl &file) {
        if (center)
            center->receive(folder, file);
    };
}

void WatchCenter::setFolders(const QList<WatchedFolder> &folders)
{
    if (folders == m_folders)
        return;
    m_folders = folders;
    Q_EMIT foldersChanged();
}

bool WatchCenter::isWatched(const QUrl &folder) const
{
    if (!folder.isLocalFile())
        return false;
    const QString canonical = canonicalPath(folder.toLocalFile());
    return std::any_of(m_folders.begin(), m_folders.end(), [&canonical](const WatchedFolder &f) {
        return canonicalPath(f.path) == canonical;
    });
}

void WatchCenter::add(const QUrl &folder)
{
    if (!folder.isLocalFile() || folder.toLocalFile().isEmpty()) {
        vyoError(lcShelf, u"감시할 수 없는 주소: %{public}s", folder);
        return;
    }
    if (isWatched(folder))
        return;
    const QString path = QDir::cleanPath(QFileInfo(folder.toLocalFile()).absoluteFilePath());
    QList<WatchedFolder> folders = m_folders;
    folders.append(WatchedFolder{newId(), path, true});
    setFolders(folders);
    saveAndSync();
}

void WatchCenter::remove(const QUuid &folderId)
{
    QList<WatchedFolder> folders = m_folders;
    folders.removeIf([&folderId](const WatchedFolder &f) { return f.id == folderId; });
    m_shelves.remove(folderId);
    setFolders(folders);
    saveAndSync();
}

void WatchCenter::setEnabled(bool enabled, const QUuid &folderId)
{
    QList<WatchedFolder> folders = m_folders;
    const auto folder =
        std::find_if(folders.begin(), folders.end(),
                     [&folderId](const WatchedFolder &f) { return f.id == folderId; });
    if (folder == folders.end())
        return;
    folder->isEnabled = enabled;
    setFolders(folders);
    saveAndSync();
}

QList<WatchCenter::Suggestion> WatchCenter::suggestions()
{
    return {
        {QStringLiteral("스크린샷"), QUrl::fromLocalFile(screenshotFolder())},
        {QStringLiteral("다운로드"),
         QUrl::fromLocalFile(QStandardPaths::writableLocation(QStandardPaths::DownloadLocation))},
    };
}

void WatchCenter::receive(const WatchedFolder &folder, const QUrl &file)
{
    m_arrivals.append({folder, file});
    if (!m_placeArrivals.isPending())
        m_placeArrivals.start(0, [this] { placeArrivals(); });
}

void WatchCenter::placeArrivals()
{
    const QList<std::pair<WatchedFolder, QUrl>> arrivals = std::exchange(m_arrivals, {});
    QList<QUuid> order;
    QHash<QUuid, std::pair<WatchedFolder, QList<QUrl>>> byFolder;
    for (const auto &[folder, file] : arrivals) {
        auto entry = byFolder.find(folder.id);
        if (entry == byFolder.end()) {
            order.append(folder.id);
            entry = byFolder.insert(folder.id, {folder, {}});
        }
        entry->second.append(file);
    }
    for (const QUuid &id : std::as_const(order)) {
        const auto &[folder, files] = byFolder.value(id);
        handleNewFiles(folder, files);
    }
}

void WatchCenter::handleNewFile(const WatchedFolder &folder, const QUrl &file)
{
    handleNewFiles(folder, {file});
}

void WatchCenter::handleNewFiles(const WatchedFolder &folder, const QList<QUrl> &files)
{
    // A report that was on its way while its folder was switched off or removed is dropped.
    const bool watched = std::any_of(m_folders.begin(), m_folders.end(), [&folder](const auto &f) {
        return f.id == folder.id && f.isEnabled;
    });
    if (!watched || files.isEmpty())
        return;

    QList<ShelfItem> items;
    items.reserve(files.size());
    for (const QUrl &file : files)
        items.append(ShelfItem(ShelfItem::Content::file(file)));

    Shelf *last = m_shelves.value(folder.id);
    if (last && m_manager.shelves().contains(last)) {
        last->add(items);
        m_manager.bringToFront(last);
        return;
    }

    const ShelfManager::Opened opened = m_manager.newShelf();
    ShelfManager::presentBelow(opened.window, anchorRect ? anchorRect() : Rect{});
    opened.shelf->setName(folderDisplayName(folder.path));
    opened.shelf->add(items);
    m_shelves.insert(folder.id, opened.shelf);
}

void WatchCenter::saveAndSync()
{
    m_defaults.setValue(DefaultsKey::watchedFolders, WatchedFolder::encodeList(m_folders));
    m_defaults.sync();
    m_watcher.update(m_folders);
}

} // namespace vyo
