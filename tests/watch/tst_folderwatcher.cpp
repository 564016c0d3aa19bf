// The folder watcher over the desktop's inotify event source, with real folders and files written
// the way programs write them. Which names, events and sizes count, and how long a report is
// remembered, are the watch state's rules, tested with it; here the kernel's events, the worker
// thread and the reports cross for real.

#include "core/Ids.h"
#include "platform/Desktop.h"
#include "platform/FileSystemEvents.h"
#include "watch/FolderWatcher.h"

#include "TestSupport.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

using namespace vyo;

namespace {

// Appends bytes to a file, creating it; false on error.
bool appendToFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Append) && file.write(bytes) == bytes.size();
}

// A file whose name is raw bytes (not valid UTF-8, which Qt cannot name): made with `bytes`, or
// removed when there are none.
bool rawName(const QString &folder, const QByteArray &name, const QByteArray &bytes)
{
    const QByteArray path = QFile::encodeName(folder) + '/' + name;
    if (bytes.isEmpty())
        return ::unlink(path.constData()) == 0;
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const bool ok = fd >= 0 && ::write(fd, bytes.constData(), bytes.size()) == bytes.size();
    return ::close(fd) == 0 && ok;
}

} // namespace

class TestFolderWatcher : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void newFilesAreReportedOnceWhenTheyStopChanging();
    void foldersThatGoOrCannotBeWatched();
    void namesAndLinksThatAreNotPlainNewFiles();
    void noReportAfterTheWatcherIsGone();
    void watchLimitReachedIsLogged();

private:
    void makeWatcher();
    // Hands the list over and waits until it took effect; answers the watched paths.
    QStringList updateAndWait(const QList<WatchedFolder> &folders);
    WatchedFolder folder(const QString &name);
    int reportsOf(const QString &path) const { return m_reports.count(path); }
    // Writes a marker file and waits for its report: every earlier change has been decided by
    // then.
    bool settleWithMarker(const QString &folderPath);

    QTemporaryDir *m_dir = nullptr;
    FolderWatcher *m_watcher = nullptr;
    QStringList m_reports;
    QList<WatchedFolder> m_reportFolders;
    int m_markers = 0;
};

void TestFolderWatcher::init()
{
    m_dir = new QTemporaryDir;
    m_reports.clear();
    m_reportFolders.clear();
    makeWatcher();
}

void TestFolderWatcher::cleanup()
{
    delete m_watcher;
    m_watcher = nullptr;
    delete m_dir;
}

void TestFolderWatcher::makeWatcher()
{
    delete m_watcher;
    const FolderWatcher::Timing timing;
    m_watcher = new FolderWatcher(Desktop::shared().makeFileSystemEvents(timing.latency), timing);
    m_watcher->onNewFile = [this](const WatchedFolder &folder, const QUrl &file) {
        QVERIFY(file.isLocalFile());
        m_reports.append(file.toLocalFile());
        m_reportFolders.append(folder);
    };
}

QStringList TestFolderWatcher::updateAndWait(const QList<WatchedFolder> &folders)
{
    QSignalSpy updated(m_watcher, &FolderWatcher::updated);
    m_watcher->update(folders);
    if (!updated.wait(5000))
        return {"<no update>"};
    return updated.last().first().toStringList();
}

WatchedFolder TestFolderWatcher::folder(const QString &name)
{
    const QString path = m_dir->filePath(name);
    QDir().mkpath(path);
    return WatchedFolder{newId(), path, true};
}

bool TestFolderWatcher::settleWithMarker(const QString &folderPath)
{
    const QString marker = folderPath + QString("/marker-%1.txt").arg(++m_markers);
    if (!appendToFile(marker, "marker"))
        return false;
    return QTest::qWaitFor([&] { return reportsOf(marker) > 0; }, 10000) && reportsOf(marker) == 1;
}

void TestFolderWatcher::newFilesAreReportedOnceWhenTheyStopChanging()
{
    const WatchedFolder downloads = folder("Downloads");
    QVERIFY(appendToFile(downloads.path + "/old.txt", "there before the watch"));
    QCOMPARE(updateAndWait({downloads}), QStringList{downloads.path});
    QSignalSpy pendingCounts(m_watcher, &FolderWatcher::pendingCountChanged);
    const auto pending = [&] {
        return pendingCounts.isEmpty() ? 0 : pendingCounts.last().first().toInt();
    };

    // An empty file stays pending; it is filled later through a second name outside the folder,
    // which the watched folder hears nothing of: only a kept pending entry can report it.
    const QString empty = downloads.path + "/a.txt";
    const QString gone = downloads.path + "/short-lived.txt";
    const QString outside = m_dir->filePath("outside-name");
    QVERIFY(appendToFile(empty, {}) && appendToFile(gone, {}));
    QVERIFY(::link(QFile::encodeName(empty).constData(), QFile::encodeName(outside).constData()) ==
            0);
    QTRY_COMPARE_WITH_TIMEOUT(pending(), 2, 5000);
    QVERIFY(QFile::remove(gone));
    QTRY_COMPARE_WITH_TIMEOUT(pending(), 1, 5000);
    // The same paths keep the running watch and its pending file; a changed identifier and a
    // folder that is off are taken over without a restart.
    WatchedFolder again = downloads;
    again.id = newId();
    WatchedFolder off = folder("Off");
    off.isEnabled = false;
    QCOMPARE(updateAndWait({again, off}), QStringList{downloads.path});

    // A copy that keeps growing for three settle intervals, written far more often than the
    // watcher measures, beside a partial download that is ignored by its name however it grows.
    const QString movie = downloads.path + "/movie.mp4";
    const QString partial = downloads.path + "/report.pdf.crdownload";
    QElapsedTimer copying;
    copying.start();
    for (int chunk = 0; chunk < 100 && copying.elapsed() < 1500; ++chunk) {
        QVERIFY(appendToFile(movie, QByteArray(64 * 1024, 'v')));
        QVERIFY(appendToFile(partial, QByteArray(4096, 'p')));
        QVERIFY(m_reports.isEmpty());
        QTest::qWait(50);
    }
    const QString final = downloads.path + "/report.pdf";
    QVERIFY(QFile::rename(partial, final));
    QVERIFY(appendToFile(outside, "filled"));
    QTRY_COMPARE_WITH_TIMEOUT(reportsOf(movie), 1, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(reportsOf(final), 1, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(reportsOf(empty), 1, 5000);
    QVERIFY(settleWithMarker(downloads.path));
    QCOMPARE(m_reports.size(), 4);
    QCOMPARE(m_reportFolders.first(), again);
}

void TestFolderWatcher::foldersThatGoOrCannotBeWatched()
{
    const WatchedFolder a = folder("A");
    const WatchedFolder b = folder("B");
    const WatchedFolder c = folder("C");
    test::LogCapture log;
    QCOMPARE(updateAndWait({a, b, c}), (QStringList{a.path, b.path, c.path}));

    // Deleted or moved away while watched: the watch of that folder stops.
    QSignalSpy updated(m_watcher, &FolderWatcher::updated);
    QVERIFY(QDir(a.path).removeRecursively());
    QVERIFY(QDir().rename(b.path, m_dir->filePath("B moved")));
    QTRY_VERIFY(!updated.isEmpty() && updated.last().first().toStringList() == QStringList{c.path});
    QVERIFY(log.contains("감시하던 폴더가 사라져 감시를 멈춤: " + a.path));
    QVERIFY(log.contains("감시하던 폴더가 사라져 감시를 멈춤: " + b.path));
    QVERIFY(appendToFile(m_dir->filePath("B moved/x.txt"), "x"));
    QVERIFY(settleWithMarker(c.path));
    QCOMPARE(m_reports.size(), 1);

    // A file where the folder was is skipped; made again, the folder is watched at the next
    // update of the same list.
    QVERIFY(appendToFile(a.path, "a file where the folder was"));
    QCOMPARE(updateAndWait({a, b, c}), QStringList{c.path});
    QVERIFY(log.contains("감시할 폴더가 없어 건너뜀: " + a.path));
    QVERIFY(QFile::remove(a.path) && QDir().mkpath(a.path));
    QCOMPARE(updateAndWait({a, b, c}), (QStringList{a.path, c.path}));
    QVERIFY(settleWithMarker(a.path));
}

void TestFolderWatcher::namesAndLinksThatAreNotPlainNewFiles()
{
    const WatchedFolder watched = folder("Watched");
    updateAndWait({watched});

    test::LogCapture log;
    QVERIFY(rawName(watched.path, "invalid-\xff\xfe.txt", "x"));
    const QString odd = watched.path + "/ 첫 줄\n둘째  #%?.txt";
    QVERIFY(appendToFile(odd, "x"));
    // Folders and symbolic links, to a file outside or to themselves, are not new files.
    QVERIFY(QDir(watched.path).mkdir("new folder"));
    const QString target = m_dir->filePath("target.txt");
    QVERIFY(appendToFile(target, "x"));
    QVERIFY(QFile::link(target, watched.path + "/link.txt"));
    QVERIFY(QFile::link(watched.path + "/self", watched.path + "/self"));
    QVERIFY(settleWithMarker(watched.path));
    QCOMPARE(reportsOf(odd), 1);
    QCOMPARE(m_reports.size(), 2);
    QVERIFY(log.contains("이름을 읽을 수 없는 파일은 건너뜀"));
    QVERIFY(rawName(watched.path, "invalid-\xff\xfe.txt", {}));
}

void TestFolderWatcher::noReportAfterTheWatcherIsGone()
{
    const WatchedFolder watched = folder("Watched");
    updateAndWait({watched});
    QSignalSpy pendingCounts(m_watcher, &FolderWatcher::pendingCountChanged);
    const QString path = watched.path + "/late.txt";
    QVERIFY(appendToFile(path, "x"));
    QVERIFY(pendingCounts.wait(5000));

    // The watcher goes while the file settles; a new watcher over the same folder shows when
    // that report would have come.
    makeWatcher();
    updateAndWait({watched});
    QVERIFY(settleWithMarker(watched.path));
    QCOMPARE(reportsOf(path), 0);
}

void TestFolderWatcher::watchLimitReachedIsLogged()
{
    // Run by with-watch-limit.sh in a user namespace allowing two watches.
    QFile limitFile("/proc/sys/user/max_inotify_watches");
    bool ok = false;
    const int limit =
        limitFile.open(QIODevice::ReadOnly) ? limitFile.readAll().trimmed().toInt(&ok) : 0;
    if (!ok || limit != 2)
        QSKIP("needs a user namespace that allows two inotify watches (with-watch-limit.sh)");

    const WatchedFolder a = folder("A");
    const WatchedFolder b = folder("B");
    const WatchedFolder c = folder("C");
    test::LogCapture log;
    QCOMPARE(updateAndWait({a, b, c}), (QStringList{a.path, b.path}));
    QVERIFY(log.contains("폴더를 감시하지 못함: " + c.path + " (시스템의 폴더 감시 한도에 도달함"));
    QVERIFY(settleWithMarker(b.path));

    // Once a watch is free again, the next update that differs takes the folder in.
    QCOMPARE(updateAndWait({a, c}), (QStringList{a.path, c.path}));
    QVERIFY(settleWithMarker(c.path));
}

QTEST_GUILESS_MAIN(TestFolderWatcher)
#include "tst_folderwatcher.moc"
