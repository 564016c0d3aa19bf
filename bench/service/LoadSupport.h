// What the share service's load clients share: waiting on the event loop and reading a process's
// memory figures.
#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QString>

#include <functional>

namespace vyo::bench {

// Runs the event loop until `done` holds or `milliseconds` pass; false on time-out.
inline bool waitUntil(const std::function<bool()> &done, int milliseconds)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > milliseconds)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

// A figure of /proc/<pid>/status in KiB ("VmRSS", "VmHWM"); -1 when the process is gone.
inline qint64 statusKiB(qint64 pid, const QByteArray &key)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(QByteArray(key).append(':')))
            return line.mid(key.size() + 1).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

} // namespace vyo::bench
