#include "intents/ShelfActions.h"

#include "core/Ids.h"
#include "logic/UploadName.h"
#include "shelf/Shelf.h"
#include "shelf/ShelfItem.h"
#include "shelf/ShelfManager.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <cerrno>

namespace vyo {

namespace {

// Files of the kernel's pseudo file systems describe a process or a device at this moment (and
// /proc/self would be Vyo itself): a shelf does not refer to them, it keeps the data it was given.
bool isPseudoFile(const QString &path)
{
    for (const QLatin1StringView root :
         {QLatin1StringView("/proc"), QLatin1StringView("/sys"), QLatin1StringView("/dev")}) {
        if (path == root || path.startsWith(root + u'/'))
            return true;
    }
    return false;
}

// The file a URI names when a shelf may refer to it where it is.
std::optional<QString> referableFile(const QString &uri)
{
    if (uri.isEmpty())
        return std::nullopt;
    const QUrl url(uri);
    if (!url.isValid() || !url.isLocalFile())
        return std::nullopt;
    const QString path = QDir::cleanPath(url.toLocalFile());
    if (!QDir::isAbsolutePath(path) || isPseudoFile(path) || !QFileInfo::exists(path))
        return std::nullopt;
    return path;
}

ShelfActions::Failure fileSystemFailure(const QString &message)
{
    return {ShelfActions::Failure::Kind::fileSystem, message};
}

} // namespace

ShelfActions::ShelfActions(ShelfManager &manager, std::function<Point()> pointer, qint64 dataLimit)
    : m_manager(manager)
    , m_pointer(std::move(pointer))
    , m_dataLimit(dataLimit)
{}

void ShelfActions::newShelf()
{
    const Point pointer = m_pointer();
    ShelfManager::presentBesidePointer(m_manager.newShelf().window, pointer);
}

std::optional<ShelfActions::Failure>
ShelfActions::addFilesToShelf(const QList<AutomationFile> &files)
{
    qint64 total = 0;
    for (const AutomationFile &file : files)
        total += file.data.size();
    if (total > m_dataLimit)
        return Failure{Failure::Kind::tooLarge,
                       QStringLiteral("한 번에 담을 수 있는 데이터는 %1MiB까지예요.")
                           .arg(m_dataLimit / (1024 * 1024))};

    QList<ShelfItem> items;
    for (const AutomationFile &file : files) {
        if (const std::optional<QString> path = referableFile(file.uri)) {
            items.append(ShelfItem(ShelfItem::Content::file(QUrl::fromLocalFile(*path))));
            continue;
        }
        // Folders and files written so far stay behind on a failure; the next start removes
        // them, as no shelf refers to them.
        QString error;
        errno = 0;
        const std::optional<QString> folder = makeDropDirectory(&error);
        if (!folder)
            return fileSystemFailure(
                errno ? error + QStringLiteral(" (") + qt_error_string(errno) + u')' : error);
        const QString name = cleanUploadName(file.fileName).value_or(QStringLiteral("파일"));
        QFile stored(*folder + u'/' + name);
        if (!stored.open(QIODevice::WriteOnly))
            return fileSystemFailure(stored.errorString());
        if (stored.write(file.data) != file.data.size() || !stored.flush())
            return fileSystemFailure(stored.errorString());
        stored.close();
        items.append(ShelfItem(ShelfItem::Content::file(QUrl::fromLocalFile(stored.fileName()))));
    }
    if (items.isEmpty())
        return std::nullopt;

    // The panel is placed while still empty and grows downwards as the items arrive.
    const Point pointer = m_pointer();
    const ShelfManager::Opened opened = m_manager.newShelf();
    ShelfManager::presentBesidePointer(opened.window, pointer);
    opened.shelf->add(items);
    return std::nullopt;
}

void ShelfActions::reopenLastShelf()
{
    m_manager.reopenLastClosed();
}

std::optional<ShelfActions::Failure> ShelfActions::shareShelf()
{
    if (m_manager.shelves().isEmpty())
        return Failure{Failure::Kind::noShelf, QStringLiteral("열려 있는 셸프가 없어요.")};
    Shelf *newest = m_manager.shelves().last();
    m_manager.bringToFront(newest);
    newest->setShareRequest(newId());
    return std::nullopt;
}

} // namespace vyo
