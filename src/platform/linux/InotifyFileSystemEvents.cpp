#include "platform/linux/InotifyFileSystemEvents.h"

#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <sys/inotify.h>
#include <unistd.h>

namespace vyo {

namespace {

// What a watch listens for: new entries, entries renamed or moved in, writes, and the folder
// itself going away. IN_ONLYDIR refuses a path that is not a folder; IN_EXCL_UNLINK leaves out
// files that were already deleted.
constexpr uint32_t watchMask = IN_CREATE | IN_MOVED_TO | IN_MODIFY | IN_CLOSE_WRITE |
                               IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_EXCL_UNLINK;

// The events that mean the watch has ended (for IN_MOVE_SELF we end it ourselves, since the
// folder's new place is not what the user chose).
constexpr uint32_t goneMask = IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_IGNORED;

constexpr qsizetype maxRememberedNames = 1000;

QString errorText(int error)
{
    if (error == ENOSPC)
        return QStringLiteral("시스템의 폴더 감시 한도에 도달함 (fs.inotify.max_user_watches)");
    if (error == EMFILE)
        return QStringLiteral("시스템의 감시 인스턴스 한도에 도달함 "
                              "(fs.inotify.max_user_instances)");
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

InotifyFileSystemEvents::InotifyFileSystemEvents(std::chrono::milliseconds latency, QObject *parent)
    : FileSystemEvents(parent)
    , m_latency(latency)
{
    m_flushTimer.setSingleShot(true);
    m_flushTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_flushTimer, &QTimer::timeout, this, &InotifyFileSystemEvents::flush);
}

InotifyFileSystemEvents::~InotifyFileSystemEvents()
{
    stop();
}

FileSystemEvents::StartResult InotifyFileSystemEvents::start(const QStringList &folders)
{
    stop();
    StartResult result;
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd < 0) {
        result.error = errorText(errno);
        return result;
    }
    for (const QString &folder : folders) {
        const int wd = ::inotify_add_watch(m_fd, QFile::encodeName(folder).constData(), watchMask);
        if (wd < 0) {
            result.failed.append({folder, errorText(errno)});
            continue;
        }
        // Two paths of one folder (through a symbolic link) share a watch; its events carry the
        // first path.
        m_folders[wd].append(folder);
        m_order.append(folder);
        result.watched.append(folder);
    }
    if (result.watched.isEmpty()) {
        stop();
        return result;
    }
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &InotifyFileSystemEvents::readEvents);
    return result;
}

void InotifyFileSystemEvents::stop()
{
    // stop() may run inside the notifier's own signal (a receiver of folderGone stopping the
    // watch), so the notifier is disabled now and deleted later.
    if (m_notifier) {
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
    }
    m_notifier = nullptr;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_folders.clear();
    m_order.clear();
    m_batch.clear();
    m_batchIndex.clear();
    m_unreadableNames.clear();
    m_flushTimer.stop();
}

QStringList InotifyFileSystemEvents::watchedFolders() const
{
    return m_order;
}

void InotifyFileSystemEvents::readEvents()
{
    QStringList gone;
    QStringList unreadable;
    bool lost = false;

    alignas(struct inotify_event) char buffer[64 * 1024];
    // The queue is drained until the kernel has nothing more; each read takes many events.
    while (m_fd >= 0) {
        const ssize_t length = ::read(m_fd, buffer, sizeof buffer);
        if (length <= 0) {
            if (length < 0 && errno == EINTR)
                continue;
            break;
        }
        for (ssize_t offset = 0; offset < length;) {
            const auto *event = reinterpret_cast<const struct inotify_event *>(buffer + offset);
            offset += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);

            if (event->mask & IN_Q_OVERFLOW) {
                lost = true;
                continue;
            }
            const auto folders = m_folders.constFind(event->wd);
            if (folders == m_folders.cend())
                continue;

            if (event->mask & goneMask) {
                const QStringList paths = *folders;
                m_folders.erase(folders);
                if (!(event->mask & IN_IGNORED))
                    ::inotify_rm_watch(m_fd, event->wd);
                for (const QString &path : paths) {
                    m_order.removeAll(path);
                    gone.append(path);
                }
                continue;
            }
            if (event->len == 0)
                continue;

            const QByteArray rawName(event->name);
            const QString name = QFile::decodeName(rawName);
            if (QFile::encodeName(name) != rawName) {
                // Told once per name and watch: a file being written sends many events.
                if (m_unreadableNames.size() >= maxRememberedNames)
                    m_unreadableNames.clear();
                if (!m_unreadableNames.contains(rawName)) {
                    m_unreadableNames.insert(rawName);
                    unreadable.append(name);
                }
                continue;
            }

            FileSystemEvent change;
            change.path = folders->first() + u'/' + name;
            change.isFile = !(event->mask & IN_ISDIR);
            change.created = event->mask & IN_CREATE;
            change.renamed = event->mask & IN_MOVED_TO;
            change.modified = event->mask & (IN_MODIFY | IN_CLOSE_WRITE);
            change.closed = event->mask & IN_CLOSE_WRITE;

            const auto known = m_batchIndex.constFind(change.path);
            if (known == m_batchIndex.cend()) {
                m_batchIndex.insert(change.path, m_batch.size());
                m_batch.append(change);
            } else {
                FileSystemEvent &merged = m_batch[*known];
                merged.isFile = change.isFile;
                merged.created |= change.created;
                merged.renamed |= change.renamed;
                merged.modified |= change.modified;
                merged.closed |= change.closed;
            }
        }
    }

    if (!m_batch.isEmpty() && !m_flushTimer.isActive()) {
        const auto sinceFlush = std::chrono::milliseconds(
            m_sinceFlush.isValid() ? m_sinceFlush.elapsed() : m_latency.count());
        if (sinceFlush >= m_latency)
            flush();
        else
            m_flushTimer.start(m_latency - sinceFlush);
    }

    if (lost)
        Q_EMIT eventsLost();
    for (const QString &name : std::as_const(unreadable))
        Q_EMIT unreadableName(name);
    for (const QString &folder : std::as_const(gone))
        Q_EMIT folderGone(folder);
}

void InotifyFileSystemEvents::flush()
{
    m_flushTimer.stop();
    m_sinceFlush.restart();
    if (m_batch.isEmpty())
        return;
    QList<FileSystemEvent> batch = std::exchange(m_batch, {});
    m_batchIndex.clear();
    Q_EMIT eventsArrived(batch);
}

} // namespace vyo
