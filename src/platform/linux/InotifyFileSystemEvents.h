#pragma once

// The file-system event source of a Linux system: one inotify instance with a watch per folder,
// read through a socket notifier and coalesced per path. The first change after a quiet interval
// is delivered at once, later ones at most once per `latency`.

#include "platform/FileSystemEvents.h"

#include <QElapsedTimer>
#include <QHash>
#include <QSet>
#include <QTimer>

#include <chrono>

class QSocketNotifier;

namespace vyo {

class InotifyFileSystemEvents final : public FileSystemEvents
{
    Q_OBJECT
public:
    explicit InotifyFileSystemEvents(std::chrono::milliseconds latency, QObject *parent = nullptr);
    ~InotifyFileSystemEvents() override;

    StartResult start(const QStringList &folders) override;
    void stop() override;
    bool isRunning() const override { return m_fd >= 0; }
    QStringList watchedFolders() const override;

private:
    void readEvents();
    void flush();

    std::chrono::milliseconds m_latency;
    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    QHash<int, QStringList>
        m_folders;       // watch descriptor → folders (one path, or more through links)
    QStringList m_order; // watched folders in the order given
    QList<FileSystemEvent> m_batch;
    QHash<QString, qsizetype> m_batchIndex;
    QSet<QByteArray> m_unreadableNames;
    // A child, so that it moves with this object to the thread that uses it.
    QTimer m_flushTimer{this};
    QElapsedTimer m_sinceFlush;
};

} // namespace vyo
