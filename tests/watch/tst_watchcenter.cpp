// The watch center: its stored list, its suggestions, and new files landing on their folder's
// shelf — by hand and through the real watcher.

#include "core/Defaults.h"
#include "core/Ids.h"
#include "shelf/Shelf.h"
#include "shelf/ShelfManager.h"
#include "watch/WatchCenter.h"

#include "FakeShelfWindow.h"
#include "TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace vyo;

class TestWatchCenter : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void storedListAddEnableAndRemove();
    void undecodableStoredListIsEmptyUntilTheNextChange();
    void addKeepsOneEntryPerFolder();
    void newFileOpensShelfBelowAnchorThenReusesIt();
    void filesOfTwoWatchedFoldersLandOnTheirShelves();

private:
    // Adds a real folder through the center and waits until the watcher watches it.
    WatchedFolder addAndWait(const QString &name);
    QString settingsPath() const { return m_dir->filePath("config/Vyo.conf"); }

    QTemporaryDir *m_dir = nullptr;
    Defaults *m_defaults = nullptr;
    ShelfManager *m_manager = nullptr;
    WatchCenter *m_center = nullptr;
};

void TestWatchCenter::init()
{
    m_dir = new QTemporaryDir;
    m_defaults = new Defaults(settingsPath());
    m_manager = new ShelfManager(ShelfPersistence(m_dir->filePath("shelves.json")),
                                 test::FakeShelfWindow::maker());
    m_center = new WatchCenter(*m_defaults, *m_manager);
}

void TestWatchCenter::cleanup()
{
    delete m_center;
    delete m_manager;
    delete m_defaults;
    delete m_dir;
}

WatchedFolder TestWatchCenter::addAndWait(const QString &name)
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

void TestWatchCenter::storedListAddEnableAndRemove()
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
    Defaults reread(settingsPath());
    QCOMPARE(WatchCenter(reread, *m_manager).folders(), m_center->folders());

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

void TestWatchCenter::undecodableStoredListIsEmptyUntilTheNextChange()
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

void TestWatchCenter::addKeepsOneEntryPerFolder()
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

void TestWatchCenter::newFileOpensShelfBelowAnchorThenReusesIt()
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
    QCOMPARE(shelf->items().size(), 1);
    QCOMPARE(shelf->items().first().content(),
             ShelfItem::Content::file(QUrl::fromLocalFile(first)));

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

void TestWatchCenter::filesOfTwoWatchedFoldersLandOnTheirShelves()
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

QTEST_MAIN(TestWatchCenter)
#include "tst_watchcenter.moc"
