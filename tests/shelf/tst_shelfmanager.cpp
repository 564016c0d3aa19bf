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

using test::text;

namespace {

// A snapshot of text items, one per text.
ShelfSnapshot snapshotOf(const QStringList &texts, const QString &title = {})
{
    ShelfSnapshot snapshot;
    snapshot.id = QUuid::createUuid();
    snapshot.title = title;
    for (const QString &t : texts)
        snapshot.items.append(StoredItem{StoredItem::Kind::text, {}, t, {}});
    return snapshot;
}

} // namespace

class TestShelfManager : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void windowsFollowShelves();
    void closedShelvesFeedTheRecentList();
    void pinnedShelves();
    void saving();
    void restoreReopensAtSavedFrames();
    void restoreWithSettingOffFeedsRecentList();
    void shakeShelvesDiscardedOnlyWhenUnused();

private:
    QTemporaryDir *m_dir = nullptr;
    ShelfManager *m_manager = nullptr;
    QString statePath() const { return m_dir->filePath("Vyo/shelves.json"); }
    test::FakeShelfWindow *windowOf(const Shelf *shelf) const
    {
        return test::FakeShelfWindow::of(m_manager->window(shelf->id()));
    }
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

void TestShelfManager::windowsFollowShelves()
{
    // Tests never write the user's own state file.
    const QString sharedPath = ShelfManager::shared().persistence().filePath();
    QCOMPARE(QFileInfo(sharedPath).absolutePath(), QDir::tempPath());
    QVERIFY(QFileInfo(sharedPath).fileName().startsWith("VyoTests-shelves-"));

    QSignalSpy opened(m_manager, &ShelfManager::shelfOpened);
    QSignalSpy closing(m_manager, &ShelfManager::shelfClosing);
    auto a = m_manager->newShelf();
    m_manager->newShelf();
    QCOMPARE(opened.size(), 2);
    QCOMPARE(m_manager->window(a.shelf->id()), a.window);
    const QPointer<ShelfWindow> window(a.window);

    // A window that moved is saved like any other change.
    QSignalSpy saved(m_manager, &ShelfManager::saved);
    Q_EMIT window->moved();
    QVERIFY(saved.wait());

    m_manager->close(a.shelf);
    QCOMPARE(closing.size(), 1);
    QCOMPARE(m_manager->shelves().size(), 1);
    QVERIFY(!m_manager->window(a.shelf->id()));
    QVERIFY(test::FakeShelfWindow::of(window)->isDismissed());
    // A second close while the first one's window fades out is no close at all.
    m_manager->save();
    test::LogCapture log;
    m_manager->close(a.shelf);
    QVERIFY(log.messages().isEmpty());
    QCOMPARE(closing.size(), 1);
    QVERIFY(!m_manager->isSavePending());
    QTRY_VERIFY(!window);
}

void TestShelfManager::closedShelvesFeedTheRecentList()
{
    QSignalSpy shelvesChanged(m_manager, &ShelfManager::shelvesChanged);
    QVERIFY(!m_manager->reopenLastClosed());
    QVERIFY(!m_manager->reopenRecent(QUuid::createUuid()));
    QCOMPARE(shelvesChanged.count(), 0);
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
    QCOMPARE(windowOf(reopened)->frame().origin, (Point{100, 200}));

    // Clearing a shelf records what it held and keeps it open; a cleared shelf records nothing.
    m_manager->clearAll(reopened);
    m_manager->clearAll(reopened);
    QVERIFY(reopened->items().isEmpty());
    QCOMPARE(m_manager->shelves().size(), 1);
    QCOMPARE(m_manager->recent().snapshots.size(), 1);

    // A recent shelf whose files all vanished is dropped, not reopened empty.
    QVERIFY(test::writeFile(m_dir->filePath("gone.txt"), "x"));
    reopened->add({test::file(m_dir->filePath("gone.txt"))});
    m_manager->close(reopened);
    QVERIFY(QFile::remove(m_dir->filePath("gone.txt")));
    test::LogCapture log;
    QVERIFY(!m_manager->reopenLastClosed());
    QVERIFY(log.contains("다시 열 셸프의 항목이 모두 사라져 열지 않음"));
    QCOMPARE(m_manager->recent().snapshots.size(), 1);
    QVERIFY(m_manager->shelves().isEmpty());
}

void TestShelfManager::pinnedShelves()
{
    const QString gone = m_dir->filePath("gone.txt"), alsoGone = m_dir->filePath("also gone.txt");
    QVERIFY(test::writeFile(gone, "x") && test::writeFile(alsoGone, "y"));
    auto opened = m_manager->newShelf();
    opened.shelf->add({test::file(gone)});
    m_manager->pin(opened.shelf);
    m_manager->pin(opened.shelf); // already pinned
    const QUuid pinID = *opened.shelf->pinID();
    QCOMPARE(m_manager->pinned().size(), 1);
    // Opening a pinned shelf that is open brings it to the front; an unknown pin does nothing.
    m_manager->openPinned(pinID);
    m_manager->openPinned(QUuid::createUuid());
    QCOMPARE(m_manager->shelves().size(), 1);
    QCOMPARE(test::FakeShelfWindow::of(opened.window)->frontOrderCount(), 1);

    // Closed, it goes back to the pinned list as it is now, not to the recent list.
    opened.shelf->add({test::file(alsoGone)});
    test::FakeShelfWindow::of(opened.window)->present({300, 400}, {0, 0});
    m_manager->close(opened.shelf);
    QVERIFY(m_manager->recent().snapshots.isEmpty());
    QCOMPARE(m_manager->pinned().size(), 1);
    QCOMPARE(m_manager->pinned().first().items.size(), 2);
    QCOMPARE(m_manager->pinned().first().frame->origin, (Point{300, 400}));

    // It reopens where it was, even with all its files gone.
    QVERIFY(QFile::remove(gone) && QFile::remove(alsoGone));
    m_manager->openPinned(pinID);
    QCOMPARE(m_manager->shelves().size(), 1);
    Shelf *reopened = m_manager->shelves().first();
    QCOMPARE(reopened->pinID(), pinID);
    QVERIFY(reopened->items().isEmpty());
    QCOMPARE(windowOf(reopened)->frame().origin, (Point{300, 400}));
    QCOMPARE(m_manager->pinned().size(), 1);

    m_manager->unpin(reopened);
    m_manager->unpin(reopened); // not pinned: nothing
    QVERIFY(!reopened->pinID());
    QVERIFY(m_manager->pinned().isEmpty());
}

void TestShelfManager::saving()
{
    // A burst of changes is written once, after it.
    QSignalSpy saved(m_manager, &ShelfManager::saved);
    auto pinned = m_manager->newShelf();
    for (int i = 0; i < 10; ++i) {
        pinned.shelf->add({text(QString::number(i))});
        QTest::qWait(20);
    }
    QVERIFY(saved.wait(2000));
    QVERIFY(!m_manager->isSavePending());
    QCOMPARE(saved.count(), 1);
    QCOMPARE(ShelfPersistence(statePath()).load().open.first().items.size(), 10);

    // A direct save cancels the pending write, refreshes pins and leaves empty shelves out.
    m_manager->pin(pinned.shelf);
    pinned.shelf->add({text("b")});
    m_manager->newShelf();
    QVERIFY(m_manager->isSavePending());
    m_manager->save();
    QCOMPARE(saved.count(), 2);
    QVERIFY(!m_manager->isSavePending());
    const ShelfPersistence::State state = ShelfPersistence(statePath()).load();
    QCOMPARE(state.open.size(), 1);
    QCOMPARE(state.open.first().items.size(), 11);
    QVERIFY(!state.open.first().closedAt);
    QCOMPARE(state.pinned.size(), 1);
    QCOMPARE(state.pinned.first().items.size(), 11);

    // A failed write is logged and the next change tries again.
    QVERIFY(QDir(m_dir->filePath("Vyo")).removeRecursively());
    QVERIFY(test::writeFile(m_dir->filePath("Vyo"), "in the way"));
    test::LogCapture log;
    m_manager->save();
    QVERIFY(log.contains("셸프 저장 실패: "));
    QCOMPARE(saved.last().first().toBool(), false);
    QVERIFY(QFile::remove(m_dir->filePath("Vyo")));
    pinned.shelf->add({text("c")});
    QVERIFY(saved.wait(2000));
    QCOMPARE(saved.last().first().toBool(), true);
    QCOMPARE(ShelfPersistence(statePath()).load().open.first().items.size(), 12);
}

void TestShelfManager::restoreReopensAtSavedFrames()
{
    ShelfPersistence::State state;
    ShelfSnapshot first = snapshotOf({"첫째"});
    first.frame = Rect{{50, 200}, {260, 340}};
    ShelfSnapshot vanished;
    vanished.id = QUuid::createUuid();
    vanished.items = {
        StoredItem{StoredItem::Kind::file, QUrl::fromLocalFile("/no/such/file"), {}, {}}};
    ShelfSnapshot second = snapshotOf({"둘째"});
    second.color = ShelfColor::green;
    state.open = {first, vanished, second};
    state.recent.snapshots = {snapshotOf({"예전"})};

    m_manager->restore(state, true);
    QCOMPARE(m_manager->shelves().size(), 2);
    // Walked from last to first: the second snapshot opens first.
    QCOMPARE(m_manager->shelves()[0]->title(), "둘째");
    QCOMPARE(m_manager->shelves()[0]->color(), ShelfColor::green);
    Shelf *firstShelf = m_manager->shelves()[1];
    QCOMPARE(firstShelf->title(), "첫째");
    // The saved top-left corner stays: a 210-point-high panel starts 340 - 210 higher.
    QCOMPARE(windowOf(firstShelf)->frame().origin, (Point{50, 330}));
    QCOMPARE(m_manager->recent().snapshots, state.recent.snapshots);
}

void TestShelfManager::restoreWithSettingOffFeedsRecentList()
{
    ShelfPersistence::State state;
    state.open = {snapshotOf({"a"}, "먼저 연 셸프"), snapshotOf({"b"}, "나중에 연 셸프"),
                  snapshotOf({})};
    state.recent.snapshots = {snapshotOf({"c"}, "예전")};

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

QTEST_MAIN(TestShelfManager)
#include "tst_shelfmanager.moc"
