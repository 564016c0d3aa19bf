// The folder watcher with real folders, real files and real inotify events.

#include "core/Ids.h"
#include "platform/Desktop.h"
#include "platform/FileSystemEvents.h"
#include "watch/FolderWatcher.h"

#include "TestSupport.h"
#include "WatchTestSupport.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace vyo;
using namespace std::chrono_literals;

namespace {

struct Report
{
    WatchedFolder folder;
    QString path;
    qint64 at; // milliseconds on the test's clock
};

} // namespace

class TestFolderWatcher : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void fileCopiedOverThreeSecondsIsReportedOnceAfterItStops();
    void renamedPartialDownloadIsReportedOnce();
    void emptyFileWaitsForContentDeletedOneIsDropped();
    void sameListKeepsPendingFiles();
    void disablingStopsReports();
    void sameNameReplacementIsReportedAgainOnlyAfterTheMemory();
    void deletedOrMovedFolderStopsCleanly();
    void folderReplacedByFileIsSkippedWithLogLine();
    void symbolicLinksAndLoopsAreNotReported();
    void oddNames();
    void burstOfThousandsIsReportedOnceEachOldFilesNever();
    void noReportAfterTheWatcherIsGone();
    void watchLimitReachedIsLogged();

private:
    // Makes a watcher (with the given delivered memory) that records its reports.
    void makeWatcher(std::chrono::milliseconds deliveredMemory = 60s);
    // Hands the list over and waits until it took effect; answers the watched paths.
    QStringList updateAndWait(const QList<WatchedFolder> &folders);
    WatchedFolder folder(const QString &name, bool enabled = true);
    int reportsOf(const QString &path) const;
    // Writes a marker file and waits for its report: every earlier change has been decided by
    // then.
    bool settleWithMarker(const QString &folderPath);

    QTemporaryDir *m_dir = nullptr;
    FolderWatcher *m_watcher = nullptr;
    QList<Report> m_reports;
    QElapsedTimer m_clock;
    int m_markers = 0;
};

void TestFolderWatcher::init()
{
    m_dir = new QTemporaryDir;
    m_reports.clear();
    m_clock.start();
    makeWatcher();
}

void TestFolderWatcher::cleanup()
{
    delete m_watcher;
    m_watcher = nullptr;
    delete m_dir;
}

void TestFolderWatcher::makeWatcher(std::chrono::milliseconds deliveredMemory)
{
    delete m_watcher;
    FolderWatcher::Timing timing;
    timing.deliveredMemory = deliveredMemory;
    m_watcher = new FolderWatcher(Desktop::shared().makeFileSystemEvents(timing.latency), timing);
    m_watcher->onNewFile = [this](const WatchedFolder &folder, const QUrl &file) {
        QVERIFY(file.isLocalFile());
        m_reports.append({folder, file.toLocalFile(), m_clock.elapsed()});
    };
}

QStringList TestFolderWatcher::updateAndWait(const QList<WatchedFolder> &folders)
{
    QSignalSpy updated(m_watcher, &FolderWatcher::updated);
    m_watcher->update(folders);
    if (!updated.wait(5000))
        return {QStringLiteral("<no update>")};
    return updated.last().first().toStringList();
}

WatchedFolder TestFolderWatcher::folder(const QString &name, bool enabled)
{
    const QString path = m_dir->filePath(name);
    QDir().mkpath(path);
    return WatchedFolder{newId(), path, enabled};
}

int TestFolderWatcher::reportsOf(const QString &path) const
{
    return static_cast<int>(std::count_if(m_reports.begin(), m_reports.end(),
                                          [&path](const Report &r) { return r.path == path; }));
}

bool TestFolderWatcher::settleWithMarker(const QString &folderPath)
{
    const QString marker = folderPath + QStringLiteral("/marker-%1.txt").arg(++m_markers);
    if (!test::appendToFile(marker, "marker"))
        return false;
    return QTest::qWaitFor([&] { return reportsOf(marker) > 0; }, 10000) && reportsOf(marker) == 1;
}

void TestFolderWatcher::fileCopiedOverThreeSecondsIsReportedOnceAfterItStops()
{
    const WatchedFolder downloads = folder(QStringLiteral("Downloads"));
    QCOMPARE(updateAndWait({downloads}), QStringList{downloads.path});

    const QString path = downloads.path + QStringLiteral("/movie.mp4");
    qint64 lastWrite = 0;
    QElapsedTimer copying;
    copying.start();
    int chunks = 0;
    while (copying.elapsed() < 3000 && chunks < 100) {
        QVERIFY(test::appendToFile(path, QByteArray(64 * 1024, 'v')));
        lastWrite = m_clock.elapsed();
        ++chunks;
        QVERIFY(m_reports.isEmpty());
        QTest::qWait(200);
    }
    QTRY_COMPARE_WITH_TIMEOUT(reportsOf(path), 1, 5000);
    QVERIFY(m_reports.first().at > lastWrite);
    QCOMPARE(m_reports.first().folder, downloads);
    QVERIFY(settleWithMarker(downloads.path));
    QCOMPARE(reportsOf(path), 1);
}

void TestFolderWatcher::renamedPartialDownloadIsReportedOnce()
{
    const WatchedFolder downloads = folder(QStringLiteral("Downloads"));
    updateAndWait({downloads});

    const QString partial = downloads.path + QStringLiteral("/report.pdf.crdownload");
    // Ignored by its name however it grows: settling would report it with the marker.
    for (int i = 0; i < 8; ++i)
        QVERIFY(test::appendToFile(partial, QByteArray(4096, 'p')));
    QVERIFY(settleWithMarker(downloads.path));
    QCOMPARE(reportsOf(partial), 0);

    const QString final = downloads.path + QStringLiteral("/report.pdf");
    QVERIFY(QFile::rename(partial, final));
    QTRY_COMPARE_WITH_TIMEOUT(reportsOf(final), 1, 5000);
    QVERIFY(settleWithMarker(downloads.path));
    QCOMPARE(reportsOf(final), 1);
    QCOMPARE(reportsOf(partial), 0);
}

void TestFolderWatcher::emptyFileWaitsForContentDeletedOneIsDropped()
{
    const WatchedFolder watched = folder(QStringLiteral("Watched"));
    updateAndWait({watched});
    QSignalSpy pendingCounts(m_watcher, &FolderWatcher::pendingCountChanged);

    const QString empty = watched.path + QStringLiteral("/note.txt");
    const QString gone = watched.path + QStringLiteral("/short-lived.txt");
    QVERIFY(test::touchFile(empty));
    QVERIFY(test::touchFile(gone));
    QTRY_COMPARE_WITH_TIMEOUT(pendingCounts.isEmpty() ? 0 : pendingCounts.last().first().toInt(), 2,
                              5000);
    QVERIFY(QFile::remove(gone));
    QTRY_COMPARE_WITH_TIMEOUT(pendingCounts.last().first().toInt(), 1, 5000);
    // Several checks find the other one empty and keep it pending.
    QVERIFY(settleWithMarker(watched.path));
    QVERIFY(settleWithMarker(watched.path));
    QCOMPARE(reportsOf(empty), 0);

    QVERIFY(test::appendToFile(empty, "now with text"));
    QTRY_COMPARE_WITH_TIMEOUT(reportsOf(empty), 1, 5000);
    // Made again with content, the deleted name is a new file and is reported.
    QVERIFY(test::appendToFile(gone, "back"));
    QTRY_COMPARE_WITH_TIMEOUT(reportsOf(gone), 1, 5000);
}

void TestFolderWatcher::sameListKeepsPendingFiles()
{
    const WatchedFolder watched = folder(QStringLiteral("Watched"));
    updateAndWait({watched});
    QSignalSpy pendingCounts(m_watcher, &FolderWatcher::pendingCountChanged);

    // An empty file stays pending; it is then filled through a second name outside the folder,
    // which the watched folder hears nothing of: only a kept pending entry can report it.
    const QString path = watched.path + QStringLiteral("/a.txt");
    const QString outside = m_dir->filePath(QStringLiteral("outside-name"));
    QVERIFY(test::touchFile(path));
    QVERIFY(test::hardLink(path, outside));
    QVERIFY(pendingCounts.wait(5000));

    WatchedFolder again = watched;
    again.id = newId(); // a changed identifier is taken over without a restart
    QCOMPARE(updateAndWait({again, folder(QStringLiteral("Off"), false)}),
             QStringList{watched.path});
    QVERIFY(test::appendToFile(outside, "filled"));
    QTRY_COMPARE_WITH_TIMEOUT(reportsOf(path), 1, 5000);
    QCOMPARE(m_reports.first().folder.id, again.id);
}

void TestFolderWatcher::disablingStopsReports()
{
    WatchedFolder a = folder(QStringLiteral("A"));
    const WatchedFolder b = folder(QStringLiteral("B"));
    updateAndWait({a, b});
    QVERIFY(test::appendToFile(a.path + QStringLiteral("/first.txt"), "x"));
    QTRY_COMPARE_WITH_TIMEOUT(reportsOf(a.path + QStringLiteral("/first.txt")), 1, 5000);

    a.isEnabled = false;
    QCOMPARE(updateAndWait({a, b}), QStringList{b.path});
    QVERIFY(test::appendToFile(a.path + QStringLiteral("/second.txt"), "x"));
    QVERIFY(settleWithMarker(b.path));
    QCOMPARE(reportsOf(a.path + QStringLiteral("/second.txt")), 0);

    // Every folder off: nothing is watched.
    const WatchedFolder bOff{b.id, b.path, false};
    QCOMPARE(updateAndWait({a, bOff}), QStringList{});
}

void TestFolderWatcher::sameNameReplacementIsReportedAgainOnlyAfterTheMemory()
{
    makeWatcher(1500ms);
    const WatchedFolder watched = folder(QStringLiteral("Screenshots"));
    updateAndWait({watched});
    const QString path = watched.path + QStringLiteral("/Screenshot.png");
    QVERIFY(test::appendToFile(path, "first picture"));
    QTRY_COMPARE_WITH_TIMEOUT(reportsOf(path), 1, 5000);
    const qint64 reportedAt = m_reports.last().at;

    QVERIFY(QFile::remove(path));
    QVERIFY(test::appendToFile(path, "second picture, same name"));
    QVERIFY(settleWithMarker(watched.path));
    QCOMPARE(reportsOf(path), 1);

    QTRY_VERIFY_WITH_TIMEOUT(m_clock.elapsed() - reportedAt > 1600, 5000);
    QVERIFY(QFile::remove(path));
    QVERIFY(test::appendToFile(path, "third picture, same name"));
    QTRY_COMPARE_WITH_TIMEOUT(reportsOf(path), 2, 5000);
}

void TestFolderWatcher::deletedOrMovedFolderStopsCleanly()
{
    const WatchedFolder a = folder(QStringLiteral("A"));
    const WatchedFolder b = folder(QStringLiteral("B"));
    const WatchedFolder c = folder(QStringLiteral("C"));
    updateAndWait({a, b, c});

    test::LogCapture log;
    QSignalSpy updated(m_watcher, &FolderWatcher::updated);
    QVERIFY(QDir(a.path).removeRecursively());
    QVERIFY(QDir().rename(b.path, m_dir->filePath(QStringLiteral("B moved"))));
    QTRY_VERIFY(!updated.isEmpty() && updated.last().first().toStringList() == QStringList{c.path});
    QVERIFY(log.contains(QStringLiteral("감시하던 폴더가 사라져 감시를 멈춤: ") + a.path));
    QVERIFY(log.contains(QStringLiteral("감시하던 폴더가 사라져 감시를 멈춤: ") + b.path));

    QVERIFY(test::appendToFile(m_dir->filePath(QStringLiteral("B moved/x.txt")), "x"));
    QVERIFY(settleWithMarker(c.path));
    QCOMPARE(m_reports.size(), 1);

    // Made again, the folder is watched at the next update of the same list.
    QVERIFY(QDir().mkpath(a.path));
    QCOMPARE(updateAndWait({a, b, c}), (QStringList{a.path, c.path}));
    QVERIFY(settleWithMarker(a.path));
}

void TestFolderWatcher::folderReplacedByFileIsSkippedWithLogLine()
{
    const WatchedFolder a = folder(QStringLiteral("A"));
    const WatchedFolder b = folder(QStringLiteral("B"));
    updateAndWait({a, b});
    QSignalSpy updated(m_watcher, &FolderWatcher::updated);
    QVERIFY(QDir(a.path).removeRecursively());
    QTRY_VERIFY(!updated.isEmpty() && updated.last().first().toStringList() == QStringList{b.path});
    QVERIFY(test::appendToFile(a.path, "a file where the folder was"));

    test::LogCapture log;
    QCOMPARE(updateAndWait({a, b}), QStringList{b.path});
    QVERIFY(log.contains(QStringLiteral("감시할 폴더가 없어 건너뜀: ") + a.path));
    QVERIFY(settleWithMarker(b.path));
}

void TestFolderWatcher::symbolicLinksAndLoopsAreNotReported()
{
    const WatchedFolder watched = folder(QStringLiteral("Watched"));
    const QString loopFolder = m_dir->filePath(QStringLiteral("loop"));
    QVERIFY(QFile::link(loopFolder, loopFolder));
    const WatchedFolder loop{newId(), loopFolder, true};

    test::LogCapture log;
    QCOMPARE(updateAndWait({loop, watched}), QStringList{watched.path});
    QVERIFY(log.contains(QStringLiteral("감시할 폴더가 없어 건너뜀: ") + loopFolder));

    const QString target = m_dir->filePath(QStringLiteral("target.txt"));
    QVERIFY(test::appendToFile(target, "x"));
    QVERIFY(QFile::link(target, watched.path + QStringLiteral("/link.txt")));
    QVERIFY(QFile::link(watched.path + QStringLiteral("/self"),
                        watched.path + QStringLiteral("/self")));
    QVERIFY(settleWithMarker(watched.path));
    QCOMPARE(m_reports.size(), 1);

    // A watched folder reached through a symbolic link reports its files.
    const QString linkedFolder = m_dir->filePath(QStringLiteral("linked"));
    QVERIFY(QFile::link(watched.path, linkedFolder));
    QCOMPARE(updateAndWait({WatchedFolder{newId(), linkedFolder, true}}),
             QStringList{linkedFolder});
    QVERIFY(settleWithMarker(linkedFolder));
}

void TestFolderWatcher::oddNames()
{
    const WatchedFolder watched = folder(QStringLiteral("Watched"));
    updateAndWait({watched});

    test::LogCapture log;
    QVERIFY(test::writeRawName(watched.path, QByteArray("invalid-\xff\xfe.txt"), "x"));
    const QString newline = watched.path + QStringLiteral("/첫 줄\n둘째 줄.txt");
    QVERIFY(test::appendToFile(newline, "x"));
    const QString spaces = watched.path + QStringLiteral("/ 공백  #%?.txt");
    QVERIFY(test::appendToFile(spaces, "x"));
    QVERIFY(settleWithMarker(watched.path));
    QCOMPARE(reportsOf(newline), 1);
    QCOMPARE(reportsOf(spaces), 1);
    QCOMPARE(m_reports.size(), 3);
    QVERIFY(log.contains(QStringLiteral("이름을 읽을 수 없는 파일은 건너뜀")));
    QVERIFY(test::removeRawName(watched.path, QByteArray("invalid-\xff\xfe.txt")));
}

void TestFolderWatcher::burstOfThousandsIsReportedOnceEachOldFilesNever()
{
    const WatchedFolder watched = folder(QStringLiteral("Burst"));
    constexpr int count = 2000;
    for (int i = 0; i < count; ++i)
        QVERIFY(test::appendToFile(watched.path + QStringLiteral("/old%1.txt").arg(i), "old"));
    updateAndWait({watched});
    for (int i = 0; i < count; ++i)
        QVERIFY(test::appendToFile(watched.path + QStringLiteral("/f%1.txt").arg(i), "burst"));
    QTRY_COMPARE_WITH_TIMEOUT(m_reports.size(), count, 30000);
    QVERIFY(settleWithMarker(watched.path));
    QSet<QString> unique;
    for (const Report &report : std::as_const(m_reports)) {
        QVERIFY2(!report.path.contains(u"/old"), qPrintable(report.path));
        unique.insert(report.path);
    }
    QCOMPARE(m_reports.size(), count + 1);
    QCOMPARE(unique.size(), count + 1);
}

void TestFolderWatcher::noReportAfterTheWatcherIsGone()
{
    const WatchedFolder watched = folder(QStringLiteral("Watched"));
    updateAndWait({watched});
    QSignalSpy pendingCounts(m_watcher, &FolderWatcher::pendingCountChanged);
    const QString path = watched.path + QStringLiteral("/late.txt");
    QVERIFY(test::appendToFile(path, "x"));
    QVERIFY(pendingCounts.wait(5000));

    // The watcher goes while the file settles; a new watcher over the same folder shows when
    // that report would have come.
    delete m_watcher;
    m_watcher = nullptr;
    makeWatcher();
    updateAndWait({watched});
    QVERIFY(settleWithMarker(watched.path));
    QCOMPARE(reportsOf(path), 0);
}

void TestFolderWatcher::watchLimitReachedIsLogged()
{
    // Run by with-watch-limit.sh in a user namespace allowing two watches.
    QFile limitFile(QStringLiteral("/proc/sys/user/max_inotify_watches"));
    bool ok = false;
    const int limit =
        limitFile.open(QIODevice::ReadOnly) ? limitFile.readAll().trimmed().toInt(&ok) : 0;
    if (!ok || limit != 2)
        QSKIP("needs a user namespace that allows two inotify watches (with-watch-limit.sh)");

    const WatchedFolder a = folder(QStringLiteral("A"));
    const WatchedFolder b = folder(QStringLiteral("B"));
    const WatchedFolder c = folder(QStringLiteral("C"));
    test::LogCapture log;
    QCOMPARE(updateAndWait({a, b, c}), (QStringList{a.path, b.path}));
    QVERIFY(log.contains(QStringLiteral("폴더를 감시하지 못함: ") + c.path +
                         QStringLiteral(" (시스템의 폴더 감시 한도에 도달함")));
    QVERIFY(log.contains(QStringLiteral("폴더 2개 감시 시작")));
    QVERIFY(settleWithMarker(b.path));

    // Once a watch is free again, the next update that differs takes the folder in.
    QCOMPARE(updateAndWait({a, c}), (QStringList{a.path, c.path}));
    QVERIFY(settleWithMarker(c.path));
}

QTEST_GUILESS_MAIN(TestFolderWatcher)
#include "tst_folderwatcher.moc"
