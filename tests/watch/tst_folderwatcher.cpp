// The folder watcher and the watch center over real inotify events in real folders. Which names,
// events and sizes count, and how long a report is remembered, are the watch state's rules.

#include "core/Defaults.h"
#include "core/Ids.h"
#include "platform/Desktop.h"
#include "platform/FileSystemEvents.h"
#include "shelf/Shelf.h"
#include "shelf/ShelfManager.h"
#include "watch/FolderWatcher.h"
#include "watch/WatchCenter.h"

#include "FakeShelfWindow.h"
#include "TestSupport.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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
    void oddNamesLinksAndAWatcherThatGoes();
    void watchLimitReachedIsLogged();

    void centerStoresAddsEnablesAndRemoves();
    void undecodableStoredListIsEmptyUntilTheNextChange();
    void addKeepsOneEntryPerFolder();
    void newFileOpensShelfBelowAnchorThenReusesIt();
    void filesOfTwoWatchedFoldersLandOnTheirShelves();

private:
    void makeWatcher();
    // Hands the list over and waits until it took effect; answers the watched paths.
    QStringList updateAndWait(const QList<WatchedFolder> &folders);
    WatchedFolder folder(const QString &name);
    int reportsOf(const QString &path) const { return m_reports.count(path); }
    // Writes a marker file and waits for its report: every earlier change has been decided by
    // then.
    bool settleWithMarker(const QString &folderPath);
    // Adds a real folder through the center and waits until its watcher watches it.
    WatchedFolder addAndWait(const QString &name);
    QString settingsPath() const { return m_dir->filePath("config/Vyo.conf"); }

    QTemporaryDir *m_dir = nullptr;
    FolderWatcher *m_watcher = nullptr;
    QStringList m_reports;
    QList<WatchedFolder> m_reportFolders;
    int m_markers = 0;
    Defaults *m_defaults = nullptr;
    ShelfManager *m_manager = nullptr;
    WatchCenter *m_center = nullptr;
};

void TestFolderWatcher::init()
{
    m_dir = new QTemporaryDir;
    m_reports.clear();
    m_reportFolders.clear();
    makeWatcher();
    m_defaults = new Defaults(settingsPath());
    m_manager = new ShelfManager(ShelfPersistence(m_dir->filePath("shelves.json")),
                                 test::FakeShelfWindow::maker());
    m_center = new WatchCenter(*m_defaults, *m_manager);
}

void TestFolderWatcher::cleanup()
{
    delete m_center;
    delete m_manager;
    delete m_defaults;
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

void TestFolderWatcher::oddNamesLinksAndAWatcherThatGoes()
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

    // The watcher goes while a file settles; a new watcher over the same folder shows when that
    // report would have come.
    QSignalSpy pendingCounts(m_watcher, &FolderWatcher::pendingCountChanged);
    const QString late = watched.path + "/late.txt";
    QVERIFY(appendToFile(late, "x"));
    QVERIFY(pendingCounts.wait(5000));
    makeWatcher();
    updateAndWait({watched});
    QVERIFY(settleWithMarker(watched.path));
    QCOMPARE(reportsOf(late), 0);
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

WatchedFolder TestFolderWatcher::addAndWait(const QString &name)
{
    const QString path = m_dir->filePath(name);
    QDir().mkpath(path);
    QSignalSpy updated(&m_center->watcher(), &FolderWatcher::updated);
    m_center->add(QUrl::fromLocalFile(path));
    const bool watched = QTest::qWaitFor(
        [&] { return !updated.isEmpty() && updated.last().first().toStringList().contains(path); },
        5000);
    if (!watched || m_center->folders().isEmpty())
        return {};
    return m_center->folders().last();
}

void TestFolderWatcher::centerStoresAddsEnablesAndRemoves()
{
    // The folder need not exist yet; its path is kept without "." or ".." and trailing "/".
    m_center->add(QUrl::fromLocalFile(m_dir->path() + "/x/../Downloads/./"));
    m_center->add(QUrl::fromLocalFile(m_dir->filePath("Screenshots")));
    const WatchedFolder a = m_center->folders().first();
    const WatchedFolder b = m_center->folders().last();
    QCOMPARE(a.path, m_dir->filePath("Downloads"));
    QVERIFY(a.isEnabled && !a.id.isNull());

    QSignalSpy changed(m_center, &WatchCenter::foldersChanged);
    m_center->setEnabled(false, newId());
    QCOMPARE(changed.size(), 0);
    m_center->setEnabled(false, a.id);
    QCOMPARE(changed.size(), 1);

    // Stored as a JSON array of objects with exactly these keys, kept across processes.
    const QVariant stored = m_defaults->value(DefaultsKey::watchedFolders);
    QCOMPARE(stored.typeId(), QMetaType::QByteArray);
    const QJsonArray array = QJsonDocument::fromJson(stored.toByteArray()).array();
    QCOMPARE(array.size(), 2);
    const QJsonObject first = array.first().toObject();
    QCOMPARE(first.keys(), (QStringList{"id", "isEnabled", "path"}));
    QCOMPARE(first.value("isEnabled").toBool(), false);
    QCOMPARE(first.value("id").toString(), uuidText(a.id));

    // Removing a folder leaves its shelf open but detached.
    m_center->handleNewFile(b, QUrl::fromLocalFile(b.path + "/x.txt"));
    Shelf *shelf = m_center->shelf(b.id);
    QVERIFY(shelf);
    m_center->remove(b.id);
    QCOMPARE(m_center->folders().size(), 1);
    QCOMPARE(WatchedFolder::decodeList(m_defaults->watchedFolders())->size(), 1);
    QVERIFY(!m_center->shelf(b.id));
    QVERIFY(m_manager->shelves().contains(shelf));

    // Late reports of a folder turned off or removed are dropped.
    m_center->handleNewFile(a, QUrl::fromLocalFile(a.path + "/x"));
    m_center->handleNewFile(b, QUrl::fromLocalFile(b.path + "/y"));
    QCOMPARE(m_manager->shelves(), QList<Shelf *>{shelf});
    QCOMPARE(shelf->items().size(), 1);

    // Setting an equal list notifies nobody, and setting does not store.
    changed.clear();
    const QList<WatchedFolder> list{{newId(), "/tmp", true}};
    m_center->setFolders(list);
    m_center->setFolders(list);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(WatchedFolder::decodeList(m_defaults->watchedFolders())->first().path, a.path);
}

void TestFolderWatcher::undecodableStoredListIsEmptyUntilTheNextChange()
{
    // Each folder must have a UUID; one that does not spoils the whole list. (Whatever is
    // accepted is stored back unchanged: the fuzz test.)
    m_defaults->setValue(DefaultsKey::watchedFolders,
                         QByteArray(R"([{"id":"folder-1","path":"/tmp","isEnabled":true}])"));
    test::LogCapture log;
    WatchCenter center(*m_defaults, *m_manager);
    QVERIFY(center.folders().isEmpty());
    QVERIFY(log.contains("감시 폴더 목록을 읽지 못해"));
    center.add(QUrl::fromLocalFile(m_dir->path()));
    QCOMPARE(
        WatchedFolder::decodeList(m_defaults->watchedFolders()).value_or(QList<WatchedFolder>{}),
        center.folders());
}

void TestFolderWatcher::addKeepsOneEntryPerFolder()
{
    const QString path = m_dir->filePath("Pictures");
    QVERIFY(QDir().mkpath(path + "/sub"));
    const QString link = m_dir->filePath("link to pictures");
    QVERIFY(QFile::link(path, link));

    QSignalSpy changed(m_center, &WatchCenter::foldersChanged);
    for (const QString &same : QStringList{path, path + "/", path + "//", link, path + "/sub/.."})
        m_center->add(QUrl::fromLocalFile(same));
    QCOMPARE(m_center->folders().size(), 1);
    QCOMPARE(changed.size(), 1);
    QVERIFY(m_center->isWatched(QUrl::fromLocalFile(link)));
    // A subfolder is another folder; other addresses are refused.
    m_center->add(QUrl::fromLocalFile(path + "/sub"));
    test::LogCapture log;
    m_center->add(QUrl("https://example.com/folder"));
    m_center->add(QUrl());
    QCOMPARE(m_center->folders().size(), 2);
    QVERIFY(log.contains("감시할 수 없는 주소"));
}

void TestFolderWatcher::newFileOpensShelfBelowAnchorThenReusesIt()
{
    m_center->add(QUrl::fromLocalFile(m_dir->filePath("스크린샷")));
    const WatchedFolder folder = m_center->folders().first();
    const Rect anchor{{390, 500}, {20, 20}};
    m_center->anchorRect = [anchor] { return anchor; };

    const QString first = m_dir->filePath("스크린샷/one.png");
    m_center->handleNewFile(folder, QUrl::fromLocalFile(first));
    QCOMPARE(m_manager->shelves().size(), 1);
    Shelf *shelf = m_manager->shelves().first();
    QCOMPARE(shelf->name(), std::optional<QString>("스크린샷"));
    QCOMPARE(shelf->fileURLs(), QList<QUrl>{QUrl::fromLocalFile(first)});

    // Centred below the anchor, its top edge 8 points under the anchor's bottom edge.
    test::FakeShelfWindow *controller = test::FakeShelfWindow::of(m_manager->window(shelf->id()));
    QVERIFY(controller->isPresented());
    QCOMPARE(controller->frame().midX(), anchor.midX());
    QCOMPARE(controller->frame().maxY(), anchor.minY() - 8);

    const QString second = m_dir->filePath("스크린샷/two.png");
    const int fronts = controller->frontOrderCount();
    m_center->handleNewFile(folder, QUrl::fromLocalFile(second));
    QCOMPARE(m_manager->shelves().size(), 1);
    QCOMPARE(shelf->fileURLs(),
             (QList<QUrl>{QUrl::fromLocalFile(first), QUrl::fromLocalFile(second)}));
    QCOMPARE(controller->frontOrderCount(), fronts + 1);
}

void TestFolderWatcher::filesOfTwoWatchedFoldersLandOnTheirShelves()
{
    const WatchedFolder a = addAndWait("다운로드");
    const WatchedFolder b = addAndWait("Screenshots");
    QVERIFY(!a.id.isNull() && !b.id.isNull());

    const QList<QUrl> pdfs{QUrl::fromLocalFile(a.path + "/report.pdf"),
                           QUrl::fromLocalFile(a.path + "/notes.pdf")};
    for (const QUrl &pdf : pdfs)
        QVERIFY(test::writeFile(pdf.toLocalFile(), "pdf"));
    QVERIFY(test::writeFile(b.path + "/shot.png", "png"));
    QTRY_COMPARE_WITH_TIMEOUT(m_manager->shelves().size(), 2, 5000);
    Shelf *downloads = m_center->shelf(a.id);
    Shelf *screenshots = m_center->shelf(b.id);
    QVERIFY(downloads && screenshots);
    QCOMPARE(downloads->name(), std::optional<QString>("다운로드"));
    QTRY_COMPARE_WITH_TIMEOUT(downloads->fileURLs().size(), 2, 5000);
    const QList<QUrl> landed = downloads->fileURLs();
    QCOMPARE(QSet<QUrl>(landed.begin(), landed.end()), QSet<QUrl>(pdfs.begin(), pdfs.end()));
    QCOMPARE(screenshots->fileURLs(), QList<QUrl>{QUrl::fromLocalFile(b.path + "/shot.png")});

    // Once its shelf is closed, the folder's next file opens a new one.
    m_manager->close(downloads);
    QVERIFY(test::writeFile(a.path + "/second.pdf", "pdf"));
    QTRY_COMPARE_WITH_TIMEOUT(m_manager->shelves().size(), 2, 5000);
    Shelf *again = m_center->shelf(a.id);
    QVERIFY(again);
    QCOMPARE(again->fileURLs(), QList<QUrl>{QUrl::fromLocalFile(a.path + "/second.pdf")});
}

QTEST_MAIN(TestFolderWatcher)
#include "tst_folderwatcher.moc"
