// How quickly the folder watcher reports a new file after its last write, and what it costs while
// nothing happens:
//   - 50 files written one at a time, each report awaited before the next file;
//   - a burst of 1,000 files written as fast as a second thread can;
//   - the process's CPU time over 10 idle seconds with a folder of 5,000 files watched.
// Prints the median and maximum delay of each run and the idle CPU time.

#include "core/Ids.h"
#include "platform/linux/InotifyFileSystemEvents.h"
#include "watch/FolderWatcher.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHash>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sys/resource.h>
#include <thread>
#include <vector>

using namespace vyo;
using Clock = std::chrono::steady_clock;

namespace {

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs the event loop until `done` answers true or `timeoutMs` passes; false on time-out. The
// condition is looked at every 5 ms; report times are taken in the report itself.
template <typename Done> bool runUntil(Done done, int timeoutMs)
{
    if (done())
        return true;
    QElapsedTimer waited;
    waited.start();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (done() || waited.elapsed() > timeoutMs)
            loop.quit();
    });
    poll.start(5);
    loop.exec();
    return done();
}

// Runs the event loop, doing nothing else, for `ms` milliseconds.
void idleFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

struct Figures
{
    double medianMs = 0;
    double maxMs = 0;
};

Figures figures(std::vector<double> delays)
{
    if (delays.empty())
        return {};
    std::sort(delays.begin(), delays.end());
    const size_t n = delays.size();
    const double median = n % 2 ? delays[n / 2] : (delays[n / 2 - 1] + delays[n / 2]) / 2;
    return {median, delays.back()};
}

class Bench
{
public:
    Bench()
    {
        m_watcher.onNewFile = [this](const WatchedFolder &, const QUrl &file) {
            m_reported.insert(file.toLocalFile(), Clock::now());
        };
    }

    bool watch(const QString &path)
    {
        bool updated = false;
        auto connection =
            QObject::connect(&m_watcher, &FolderWatcher::updated, [&updated] { updated = true; });
        m_watcher.update({WatchedFolder{newId(), path, true}});
        const bool ok = runUntil([&] { return updated; }, 5000);
        QObject::disconnect(connection);
        return ok;
    }

    // One file at a time: write it, wait for its report.
    std::vector<double> alone(const QString &folder, int count)
    {
        std::vector<double> delays;
        for (int i = 0; i < count; ++i) {
            const QString path = folder + QStringLiteral("/alone-%1.bin").arg(i);
            writeFile(path, QByteArray(64 * 1024, 'a'));
            const auto written = Clock::now();
            if (!runUntil([&] { return m_reported.contains(path); }, 10000)) {
                std::fprintf(stderr, "no report for %s\n", qPrintable(path));
                continue;
            }
            delays.push_back(
                std::chrono::duration<double, std::milli>(m_reported.value(path) - written)
                    .count());
        }
        return delays;
    }

    // Many files at once from another thread; every delay from that file's own last write.
    std::vector<double> burst(const QString &folder, int count)
    {
        std::vector<Clock::time_point> written(count);
        std::thread writer([&] {
            for (int i = 0; i < count; ++i) {
                writeFile(folder + QStringLiteral("/burst-%1.bin").arg(i), QByteArray(4096, 'b'));
                written[i] = Clock::now();
            }
        });
        writer.join();
        runUntil(
            [&] {
                for (int i = count - 1; i >= 0; --i) {
                    if (!m_reported.contains(folder + QStringLiteral("/burst-%1.bin").arg(i)))
                        return false;
                }
                return true;
            },
            60000);
        std::vector<double> delays;
        for (int i = 0; i < count; ++i) {
            const QString path = folder + QStringLiteral("/burst-%1.bin").arg(i);
            if (m_reported.contains(path))
                delays.push_back(
                    std::chrono::duration<double, std::milli>(m_reported.value(path) - written[i])
                        .count());
        }
        return delays;
    }

private:
    FolderWatcher m_watcher{
        std::make_unique<InotifyFileSystemEvents>(FolderWatcher::Timing().latency)};
    QHash<QString, Clock::time_point> m_reported;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("vyo.*.info=false"));
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;

    {
        Bench bench;
        const QString folder = dir.filePath(QStringLiteral("alone"));
        QDir().mkpath(folder);
        bench.watch(folder);
        const std::vector<double> delays = bench.alone(folder, 50);
        const Figures f = figures(delays);
        std::printf("alone: %zu files, delay from last write to report: median %.0f ms, "
                    "max %.0f ms\n",
                    delays.size(), f.medianMs, f.maxMs);
    }
    {
        Bench bench;
        const QString folder = dir.filePath(QStringLiteral("burst"));
        QDir().mkpath(folder);
        bench.watch(folder);
        const std::vector<double> delays = bench.burst(folder, 1000);
        const Figures all = figures(delays);
        std::vector<double> sample;
        for (size_t i = 0; i < delays.size(); i += std::max<size_t>(1, delays.size() / 50))
            sample.push_back(delays[i]);
        const Figures some = figures(sample);
        std::printf("burst: %zu of 1000 files reported, delay from last write to report: "
                    "median %.0f ms, max %.0f ms (50 evenly spaced files: median %.0f ms, "
                    "max %.0f ms)\n",
                    delays.size(), all.medianMs, all.maxMs, some.medianMs, some.maxMs);
    }
    {
        const QString folder = dir.filePath(QStringLiteral("idle"));
        QDir().mkpath(folder);
        for (int i = 0; i < 5000; ++i)
            writeFile(folder + QStringLiteral("/old-%1.txt").arg(i), "old");
        Bench bench;
        bench.watch(folder);
        const double before = cpuSeconds();
        QElapsedTimer idle;
        idle.start();
        idleFor(10000);
        const double used = cpuSeconds() - before;
        std::printf("idle: folder of 5000 files watched for %.1f s, process CPU time %.1f ms\n",
                    idle.elapsed() / 1000.0, used * 1000);
    }
    return 0;
}
