#include "shelf/Shelf.h"
#include "shelf/ShelfManager.h"

#include "FakeShelfWindow.h"
#include "ShelfSupport.h"
#include "TestSupport.h"

#include <QDir>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace vyo;
using Content = ShelfItem::Content;

using test::text;

class TestShelfManager : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void openAndCloseLogCounts();
    void closingFeedsTheRecentList();
    void clearAllKeepsShelfOpen();
    void pinnedShelfGoesBackToPinnedList();
    void openPinnedBringsOpenShelfToFront();
    void pinnedShelfReopensEvenWhenEmptied();
    void recentShelfWithVanishedFilesIsDropped();
    void reopenLastClosedOnEmptyList();
    void unpinRemovesSnapshot();
    void saveRefreshesPinsAndSkipsEmptyShelves();
    void burstOfChangesWritesOnce();
    void directSaveCancelsPendingWrite();
    void failedSaveIsLoggedAndRetried();
    void restoreReopensAtSavedFrames();
    void restoreWithSettingOffFeedsRecentList();
    void shakeShelvesDiscardedOnlyWhenUnused();
    void placementConventions();
    void windowsAndListenersFollowShelves();
    void sharedManagerUsesThrowAwayFile();

private:
    QTemporaryDir *m_dir = nullptr;
    ShelfManager *m_manager = nullptr;
    QString statePath() const { return m_dir->filePath("Vyo/shelves.json"); }
};

void TestShelfManager::init()
{
    m_dir = new QTemporaryDir;
    m_manager = new ShelfManager(ShelfPersistence(statePath()), test::FakeShelfWindow::maker());
}

void TestShelfManager::cleanup()
{
    delete m_manager;
    delete m_dir;
}

void TestShelfManager::openAndCloseLogCounts()
{
    test::LogCapture log;
    auto a = m_manager->newShelf();
    m_manager->newShelf();
    m_manager->newShelf();
    QVERIFY(log.contains("셸프 열림 (열린 셸프 1개)"));
    QVERIFY(log.contains("셸프 열림 (열린 셸프 3개)"));
    QCOMPARE(m_manager->window(a.shelf->id()), a.window);
    m_manager->close(a.shelf);
    QVERIFY(log.contains("셸프 닫힘 (열린 셸프 2개)"));
    QCOMPARE(m_manager->shelves().size(), 2);
    QVERIFY(!m_manager->window(a.shelf->id()));
    QVERIFY(test::FakeShelfWindow::of(a.window)->isDismissed());

    // A second close while the first one's window fades out is no close at all.
    m_manager->save();
    QSignalSpy closing(m_manager, &ShelfManager::shelfClosing);
    log.clear();
    m_manager->close(a.shelf);
    QVERIFY(log.messages().isEmpty());
    QVERIFY(closing.isEmpty());
    QVERIFY(!m_manager->isSavePending());
    QCOMPARE(m_manager->recent().snapshots.size(), 0);
}

void TestShelfManager::closingFeedsTheRecentList()
{
    auto empty = m_manager->newShelf();
    m_manager->close(empty.shelf);
    QVERIFY(m_manager->recent().snapshots.isEmpty());

    auto full = m_manager->newShelf();
    full.shelf->add({text("a"), text("b")});
    full.shelf->setName("모음");
    test::FakeShelfWindow::of(full.window)->present({100, 200}, {0, 0});
    m_manager->close(full.shelf);
    QCOMPARE(m_manager->recent().snapshots.size(), 1);
    const ShelfSnapshot &snapshot = m_manager->recent().snapshots.first();
    QCOMPARE(snapshot.title, "모음");
    QCOMPARE(snapshot.items.size(), 2);
    QVERIFY(snapshot.closedAt);
    QCOMPARE(snapshot.frame, std::optional<Rect>(Rect{{100, 200}, {180, 210}}));

    // Reopening makes a new shelf with the same contents at the saved top-left corner.
    QVERIFY(m_manager->reopenLastClosed());
    QVERIFY(m_manager->recent().snapshots.isEmpty());
    Shelf *reopened = m_manager->shelves().last();
    QVERIFY(reopened->id() != full.shelf->id());
    QCOMPARE(reopened->name(), std::optional<QString>("모음"));
    QCOMPARE(reopened->title(), "2개 항목");
    QCOMPARE(m_manager->window(reopened->id())->frame().origin, (Point{100, 200}));
}

void TestShelfManager::clearAllKeepsShelfOpen()
{
    auto opened = m_manager->newShelf();
    opened.shelf->add({text("a")});
    m_manager->clearAll(opened.shelf);
    QVERIFY(opened.shelf->items().isEmpty());
    QCOMPARE(m_manager->shelves().size(), 1);
    QCOMPARE(m_manager->recent().snapshots.size(), 1);
    m_manager->clearAll(opened.shelf); // nothing to record
    QCOMPARE(m_manager->recent().snapshots.size(), 1);
}

void TestShelfManager::pinnedShelfGoesBackToPinnedList()
{
    auto opened = m_manager->newShelf();
    opened.shelf->add({text("a")});
    m_manager->pin(opened.shelf);
    const std::optional<QUuid> pinID = opened.shelf->pinID();
    QVERIFY(pinID);
    QCOMPARE(m_manager->pinned().size(), 1);
    m_manager->pin(opened.shelf); // already pinned
    QCOMPARE(m_manager->pinned().size(), 1);

    opened.shelf->add({text("b")});
    test::FakeShelfWindow::of(opened.window)->present({300, 400}, {0, 0});
    m_manager->close(opened.shelf);
    QVERIFY(m_manager->recent().snapshots.isEmpty());
    QCOMPARE(m_manager->pinned().size(), 1);
    QCOMPARE(m_manager->pinned().first().items.size(), 2);
    QCOMPARE(m_manager->pinned().first().frame->origin, (Point{300, 400}));

    m_manager->openPinned(*pinID);
    QCOMPARE(m_manager->shelves().size(), 1);
    Shelf *reopened = m_manager->shelves().first();
    QCOMPARE(reopened->pinID(), pinID);
    QCOMPARE(reopened->items().size(), 2);
    QCOMPARE(m_manager->window(reopened->id())->frame().origin, (Point{300, 400}));
    QCOMPARE(m_manager->pinned().size(), 1);
}

void TestShelfManager::openPinnedBringsOpenShelfToFront()
{
    auto opened = m_manager->newShelf();
    m_manager->pin(opened.shelf);
    m_manager->openPinned(*opened.shelf->pinID());
    QCOMPARE(m_manager->shelves().size(), 1);
    QCOMPARE(test::FakeShelfWindow::of(opened.window)->frontOrderCount(), 1);
    m_manager->openPinned(QUuid::createUuid()); // unknown pin: nothing
    QCOMPARE(m_manager->shelves().size(), 1);
}

void TestShelfManager::pinnedShelfReopensEvenWhenEmptied()
{
    QVERIFY(test::writeFile(m_dir->filePath("gone.txt"), "x"));
    auto opened = m_manager->newShelf();
    opened.shelf->add({test::file(m_dir->filePath("gone.txt"))});
    m_manager->pin(opened.shelf);
    const QUuid pinID = *opened.shelf->pinID();
    m_manager->close(opened.shelf);
    QVERIFY(QFile::remove(m_dir->filePath("gone.txt")));
    m_manager->openPinned(pinID);
    QCOMPARE(m_manager->shelves().size(), 1);
    QVERIFY(m_manager->shelves().first()->items().isEmpty());
}

void TestShelfManager::recentShelfWithVanishedFilesIsDropped()
{
    QVERIFY(test::writeFile(m_dir->filePath("gone.txt"), "x"));
    auto opened = m_manager->newShelf();
    opened.shelf->add({test::file(m_dir->filePath("gone.txt"))});
    m_manager->close(opened.shelf);
    QVERIFY(QFile::remove(m_dir->filePath("gone.txt")));
    test::LogCapture log;
    QVERIFY(!m_manager->reopenLastClosed());
    QVERIFY(log.contains("다시 열 셸프의 항목이 모두 사라져 열지 않음"));
    QVERIFY(m_manager->recent().snapshots.isEmpty());
    QVERIFY(m_manager->shelves().isEmpty());
}

void TestShelfManager::reopenLastClosedOnEmptyList()
{
    QSignalSpy spy(m_manager, &ShelfManager::shelvesChanged);
    QVERIFY(!m_manager->reopenLastClosed());
    QVERIFY(!m_manager->reopenRecent(QUuid::createUuid()));
    QCOMPARE(spy.count(), 0);
}

void TestShelfManager::unpinRemovesSnapshot()
{
    auto opened = m_manager->newShelf();
    m_manager->pin(opened.shelf);
    m_manager->unpin(opened.shelf);
    QVERIFY(!opened.shelf->pinID());
    QVERIFY(m_manager->pinned().isEmpty());
    m_manager->unpin(opened.shelf); // not pinned: nothing
    QVERIFY(m_manager->pinned().isEmpty());
}

void TestShelfManager::saveRefreshesPinsAndSkipsEmptyShelves()
{
    auto pinned = m_manager->newShelf();
    pinned.shelf->add({text("a")});
    m_manager->pin(pinned.shelf);
    pinned.shelf->add({text("b")});
    m_manager->newShelf(); // empty: not saved as open
    m_manager->save();

    const ShelfPersistence::State state = ShelfPersistence(statePath()).load();
    QCOMPARE(state.open.size(), 1);
    QCOMPARE(state.open.first().items.size(), 2);
    QVERIFY(!state.open.first().closedAt);
    QCOMPARE(state.pinned.size(), 1);
    QCOMPARE(state.pinned.first().items.size(), 2);
}

void TestShelfManager::burstOfChangesWritesOnce()
{
    QSignalSpy saved(m_manager, &ShelfManager::saved);
    auto opened = m_manager->newShelf();
    for (int i = 0; i < 10; ++i) {
        opened.shelf->add({text(QString::number(i))});
        QTest::qWait(20);
    }
    QVERIFY(saved.wait(2000));
    QVERIFY(!m_manager->isSavePending());
    QCOMPARE(saved.count(), 1);
    QCOMPARE(ShelfPersistence(statePath()).load().open.first().items.size(), 10);
}

void TestShelfManager::directSaveCancelsPendingWrite()
{
    QSignalSpy saved(m_manager, &ShelfManager::saved);
    auto opened = m_manager->newShelf();
    opened.shelf->add({text("a")});
    QVERIFY(m_manager->isSavePending());
    m_manager->save();
    QCOMPARE(saved.count(), 1);
    QVERIFY(!m_manager->isSavePending());
}

void TestShelfManager::failedSaveIsLoggedAndRetried()
{
    // A file where the state folder should be makes the write fail.
    QVERIFY(test::writeFile(m_dir->filePath("Vyo"), "in the way"));
    auto opened = m_manager->newShelf();
    opened.shelf->add({text("a")});
    test::LogCapture log;
    m_manager->save();
    QVERIFY(log.contains("셸프 저장 실패: "));
    QCOMPARE(m_manager->shelves().size(), 1);

    QVERIFY(QFile::remove(m_dir->filePath("Vyo")));
    QSignalSpy saved(m_manager, &ShelfManager::saved);
    opened.shelf->add({text("b")});
    QVERIFY(saved.wait(2000));
    QCOMPARE(saved.first().first().toBool(), true);
    QCOMPARE(ShelfPersistence(statePath()).load().open.first().items.size(), 2);
}

void TestShelfManager::restoreReopensAtSavedFrames()
{
    QVERIFY(test::writeFile(m_dir->filePath("gone.txt"), "x"));
    ShelfPersistence::State state;
    ShelfSnapshot first;
    first.id = QUuid::createUuid();
    first.items = {StoredItem{StoredItem::Kind::text, {}, QString("첫째"), {}}};
    first.frame = Rect{{50, 200}, {260, 340}};
    ShelfSnapshot vanished;
    vanished.id = QUuid::createUuid();
    vanished.items = {
        StoredItem{StoredItem::Kind::file, QUrl::fromLocalFile("/no/such/file"), {}, {}}};
    ShelfSnapshot second;
    second.id = QUuid::createUuid();
    second.items = {StoredItem{StoredItem::Kind::text, {}, QString("둘째"), {}}};
    second.color = ShelfColor::green;
    state.open = {first, vanished, second};
    ShelfSnapshot recent = second;
    recent.id = QUuid::createUuid();
    state.recent.snapshots = {recent};

    test::LogCapture log;
    m_manager->restore(state, true);
    QVERIFY(log.contains("셸프 3개, 최근 닫은 셸프 1개 복원"));
    QCOMPARE(m_manager->shelves().size(), 2);
    // Walked from last to first: the second snapshot opens first.
    QCOMPARE(m_manager->shelves()[0]->title(), "둘째");
    QCOMPARE(m_manager->shelves()[0]->color(), ShelfColor::green);
    Shelf *firstShelf = m_manager->shelves()[1];
    QCOMPARE(firstShelf->title(), "첫째");
    // The saved top-left corner stays: a 210-point-high panel starts 340 - 210 higher.
    QCOMPARE(m_manager->window(firstShelf->id())->frame().origin, (Point{50, 330}));
    QCOMPARE(m_manager->recent().snapshots.size(), 1);
}

void TestShelfManager::restoreWithSettingOffFeedsRecentList()
{
    ShelfPersistence::State state;
    for (const char *title : {"먼저 연 셸프", "나중에 연 셸프"}) {
        ShelfSnapshot snapshot;
        snapshot.id = QUuid::createUuid();
        snapshot.title = title;
        snapshot.items = {StoredItem{StoredItem::Kind::text, {}, QString(title), {}}};
        state.open.append(snapshot);
    }
    ShelfSnapshot empty;
    empty.id = QUuid::createUuid();
    state.open.append(empty);
    ShelfSnapshot older;
    older.id = QUuid::createUuid();
    older.title = "예전";
    older.items = {StoredItem{StoredItem::Kind::text, {}, QString("예전"), {}}};
    state.recent.snapshots = {older};

    m_manager->restore(state, false);
    QVERIFY(m_manager->shelves().isEmpty());
    QStringList titles;
    for (const ShelfSnapshot &s : m_manager->recent().snapshots)
        titles.append(s.title);
    QCOMPARE(titles, (QStringList{"먼저 연 셸프", "나중에 연 셸프", "예전"}));
}

void TestShelfManager::shakeShelvesDiscardedOnlyWhenUnused()
{
    m_manager->openForShake({500, 500});
    m_manager->openForShake({600, 500});
    m_manager->openForShake({700, 500});
    QCOMPARE(m_manager->pendingShakeShelves().size(), 3);
    Shelf *unused = m_manager->shelves()[0];
    Shelf *dropped = m_manager->shelves()[1];
    Shelf *filled = m_manager->shelves()[2];
    dropped->hasReceivedDrop = true; // a drop that brought nothing usable still counts
    filled->add({text("by another route")});
    auto other = m_manager->newShelf(); // not opened by a shake

    m_manager->discardUnusedShakeShelves();
    QVERIFY(m_manager->pendingShakeShelves().isEmpty());
    m_manager->discardUnusedShakeShelves();   // nothing pending: nothing more happens
    QCOMPARE(m_manager->shelves().size(), 4); // nothing closes before 0.3 s
    QTRY_COMPARE(m_manager->shelves().size(), 3);
    QVERIFY(!m_manager->shelves().contains(unused));
    QVERIFY(m_manager->shelves().contains(dropped));
    QVERIFY(m_manager->shelves().contains(filled));
    QVERIFY(m_manager->shelves().contains(other.shelf));
}

void TestShelfManager::placementConventions()
{
    auto opened = m_manager->newShelf();
    // The test screen is 800 × 600; these places fit on it, so no clamping is involved.
    ShelfManager::presentBesidePointer(opened.window, {300, 300});
    QCOMPARE(test::FakeShelfWindow::of(opened.window)->frame().origin, (Point{324, 195}));
    ShelfManager::presentBelow(opened.window, Rect{{400, 500}, {30, 22}});
    QCOMPARE(test::FakeShelfWindow::of(opened.window)->frame().origin, (Point{325, 282}));
    ShelfManager::presentAtFrame(opened.window, Rect{{10, 100}, {260, 380}});
    QCOMPARE(test::FakeShelfWindow::of(opened.window)->frame().origin, (Point{10, 270}));
}

void TestShelfManager::windowsAndListenersFollowShelves()
{
    QSignalSpy opened(m_manager, &ShelfManager::shelfOpened);
    QSignalSpy closing(m_manager, &ShelfManager::shelfClosing);
    auto shelf = m_manager->newShelf();
    QCOMPARE(opened.size(), 1);
    const QPointer<ShelfWindow> window(shelf.window);

    // A window that moved is saved like any other change.
    QSignalSpy saved(m_manager, &ShelfManager::saved);
    Q_EMIT window->moved();
    QVERIFY(saved.wait());

    m_manager->close(shelf.shelf);
    QCOMPARE(closing.size(), 1);
    QVERIFY(test::FakeShelfWindow::of(window)->isDismissed());
    QTRY_VERIFY(!window);

    // Without a window maker shelves open and close without windows.
    ShelfManager windowless(ShelfPersistence(m_dir->filePath("windowless.json")));
    auto bare = windowless.newShelf();
    QVERIFY(!bare.window);
    bare.shelf->add({text("a")});
    ShelfManager::presentBesidePointer(bare.window, {10, 10});
    windowless.close(bare.shelf);
    QCOMPARE(windowless.recent().snapshots.first().frame, std::optional<Rect>());
}

void TestShelfManager::sharedManagerUsesThrowAwayFile()
{
    const QString path = ShelfManager::shared().persistence().filePath();
    QCOMPARE(QFileInfo(path).absolutePath(), QDir::tempPath());
    QVERIFY(QFileInfo(path).fileName().startsWith("VyoTests-shelves-"));
    QVERIFY(path.endsWith(".json"));
}

QTEST_MAIN(TestShelfManager)
#include "tst_shelfmanager.moc"
