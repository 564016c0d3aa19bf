#include "watch/FolderWatcher.h"

#include "core/Log.h"
#include "logic/FolderWatchState.h"
#include "platform/FileAttributes.h"
#include "platform/FileSystemEvents.h"

#include <QPointer>
#include <QTimer>

namespace vyo {

// The watcher's serial queue: everything here runs on the worker thread.
class FolderWatcherWorker : public QObject
{
public:
    FolderWatcherWorker(FolderWatcher *owner, std::unique_ptr<FileSystemEvents> events,
                        FolderWatcher::Timing timing)
        : m_owner(owner)
        , m_weakOwner(owner)
        , m_timing(timing)
        , m_state(timing.deliveredMemory)
        , m_events(events.release())
        , m_checkTimer(new QTimer(this))
    {
        // A child, so that it moves with the worker to its thread and is deleted there.
        m_events->setParent(this);
        m_checkTimer->setSingleShot(true);
        m_checkTimer->setTimerType(Qt::PreciseTimer);
        connect(m_checkTimer, &QTimer::timeout, this, [this] { settleCheck(); });
        connect(m_events, &FileSystemEvents::eventsArrived, this,
                [this](const QList<FileSystemEvent> &events) { handle(events); });
        connect(m_events, &FileSystemEvents::folderGone, this,
                [this](const QString &folder) { folderGone(folder); });
        connect(m_events, &FileSystemEvents::eventsLost, this,
                [] { vyoWarning(lcShelf, u"파일 변경이 너무 많아 일부 알림을 놓침"); });
        connect(m_events, &FileSystemEvents::unreadableName, this, [](const QString &name) {
            vyoWarning(lcShelf, u"이름을 읽을 수 없는 파일은 건너뜀: %{public}s", name);
        });
    }

    void update(const QList<WatchedFolder> &folders)
    {
        const QList<WatchedFolder> active =
            FolderWatchState::activeFolders(folders, isExistingFolder);
        for (const WatchedFolder &folder : folders) {
            if (folder.isEnabled && !active.contains(folder))
                vyoInfo(lcShelf, u"감시할 폴더가 없어 건너뜀: %{public}s", folder.path);
        }
        if (m_state.update(active)) {
            m_checkTimer->stop();
            startEvents();
        }
        publishFolders();
        publishPendingCount();
    }

private:
    void startEvents()
    {
        if (m_state.folders().isEmpty()) {
            m_events->stop();
            return;
        }
        const FileSystemEvents::StartResult result = m_events->start(m_state.folderPaths());
        for (const FileSystemEvents::Failure &failure : result.failed)
            vyoError(lcShelf, u"폴더를 감시하지 못함: %{public}s (%{public}s)", failure.folder,
                     failure.reason);
        m_state.retainFolders(result.watched);
        if (result.watched.isEmpty()) {
            vyoError(lcShelf, u"폴더 감시를 시작하지 못함");
            if (!result.error.isEmpty())
                vyoError(lcShelf, u"inotify: %{public}s", result.error);
            return;
        }
        vyoInfo(lcShelf, u"폴더 %ld개 감시 시작", result.watched.size());
    }

    void handle(const QList<FileSystemEvent> &events)
    {
        const auto now = FolderWatchState::Clock::now();
        for (const FileSystemEvent &event : events)
            m_state.handle(event, now);
        scheduleCheck();
        publishPendingCount();
    }

    void scheduleCheck()
    {
        if (!m_state.pending().isEmpty() && !m_checkTimer->isActive())
            m_checkTimer->start(m_timing.settleInterval);
    }

    void settleCheck()
    {
        const QList<FolderWatchState::Report> reports =
            m_state.settleCheck(fileAttributes, FolderWatchState::Clock::now());
        if (!reports.isEmpty())
            deliver(reports);
        scheduleCheck();
        publishPendingCount();
    }

    void folderGone(const QString &folder)
    {
        if (!m_state.removeFolder(folder))
            return;
        vyoInfo(lcShelf, u"감시하던 폴더가 사라져 감시를 멈춤: %{public}s", folder);
        if (m_state.folders().isEmpty())
            m_events->stop();
        publishFolders();
        publishPendingCount();
    }

    // Hands the reports of one check to the main thread in one go. The owner outlives every
    // queued call (its destructor stops this thread first); the weak reference keeps the rule
    // that nothing is delivered to a watcher that is gone.
    void deliver(const QList<FolderWatchState::Report> &reports)
    {
        QMetaObject::invokeMethod(
            m_owner,
            [owner = m_weakOwner, reports] {
                for (const FolderWatchState::Report &report : reports) {
                    if (!owner)
                        return;
                    if (owner->onNewFile)
                        owner->onNewFile(report.folder, QUrl::fromLocalFile(report.path));
                }
            },
            Qt::QueuedConnection);
    }

    void publishFolders()
    {
        QMetaObject::invokeMethod(
            m_owner,
            [owner = m_weakOwner, paths = m_state.folderPaths()] {
                if (owner)
                    Q_EMIT owner->updated(paths);
            },
            Qt::QueuedConnection);
    }

    void publishPendingCount()
    {
        const int count = static_cast<int>(m_state.pending().size());
        if (count == m_publishedPendingCount)
            return;
        m_publishedPendingCount = count;
        QMetaObject::invokeMethod(
            m_owner,
            [owner = m_weakOwner, count] {
                if (owner)
                    Q_EMIT owner->pendingCountChanged(count);
            },
            Qt::QueuedConnection);
    }

    FolderWatcher *m_owner;
    QPointer<FolderWatcher> m_weakOwner;
    FolderWatcher::Timing m_timing;
    FolderWatchState m_state;
    FileSystemEvents *m_events;
    QTimer *m_checkTimer;
    int m_publishedPendingCount = 0;
};

FolderWatcher::FolderWatcher(std::unique_ptr<FileSystemEvents> events, Timing timing,
                             QObject *parent)
    : QObject(parent)
{
    m_thread.setObjectName(QStringLiteral("app.vyo.Vyo.folder-watch"));
    m_worker = new FolderWatcherWorker(this, std::move(events), timing);
    m_worker->moveToThread(&m_thread);
    // Deleted on the worker thread as it finishes, together with its event source and timer.
    connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread.start();
}

FolderWatcher::~FolderWatcher()
{
    stop();
}

void FolderWatcher::stop()
{
    if (!m_worker)
        return;
    m_worker = nullptr;
    m_thread.quit();
    m_thread.wait();
}

void FolderWatcher::update(const QList<WatchedFolder> &folders)
{
    if (!m_worker)
        return;
    QMetaObject::invokeMethod(
        m_worker, [worker = m_worker, folders] { worker->update(folders); }, Qt::QueuedConnection);
}

} // namespace vyo
