// The shelf manager over its state file, and the state file itself with real files. That anything
// accepted is saved (into a folder made for it) and read back unchanged is the fuzz test's.

#include "core/Ids.h"
#include "platform/FileBookmark.h"
#include "shelf/Shelf.h"
#include "shelf/ShelfManager.h"
#include "shelf/ShelfPersistence.h"

#include "FakeShelfWindow.h"
#include "ShelfSupport.h"
#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

using namespace vyo;
using Content = ShelfItem::Content;
using Kind = StoredItem::Kind;

using test::text;

namespace {

const char *const validSnapshot =
    R"({"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","title":"t","items":[]})";

// A snapshot of text items, one per text.
ShelfSnapshot snapshotOf(const QStringList &texts, const QString &title = {})
{
    ShelfSnapshot snapshot;
    snapshot.id = QUuid::createUuid();
    snapshot.title = title;
    for (const QString &t : texts)
        snapshot.items.append(StoredItem{Kind::text, {}, t, {}});
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
    void restore();
    void shakeShelvesDiscardedOnlyWhenUnused();

    void fileFormat();
    void handWrittenFiles_data();
    void handWrittenFiles();
    void unreadableFileAtLaunch_data();
    void unreadableFileAtLaunch();
    void failedSaveKeepsOldFile();
    void recentListBounds();
    void bookmarksFindRenamedAndMovedFiles();
    void referencedUrlsAndCleanUp();

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

    // A recent shelf whose files all vanished is dropped, not reopened empty.
    QVERIFY(test::writeFile(m_dir->filePath("gone.txt"), "x"));
    reopened->clear();
    reopened->add({test::file(m_dir->filePath("gone.txt"))});
    m_manager->close(reopened);
    QVERIFY(QFile::remove(m_dir->filePath("gone.txt")));
    test::LogCapture log;
    QVERIFY(!m_manager->reopenLastClosed());
    QVERIFY(log.contains("다시 열 셸프의 항목이 모두 사라져 열지 않음"));
    QVERIFY(m_manager->recent().snapshots.isEmpty());
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
    for (int i = 0; i < 10; ++i)
        pinned.shelf->add({text(QString::number(i))});
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

void TestShelfManager::restore()
{
    ShelfPersistence::State state;
    ShelfSnapshot first = snapshotOf({"첫째"});
    first.frame = Rect{{50, 200}, {260, 340}};
    ShelfSnapshot vanished;
    vanished.id = QUuid::createUuid();
    vanished.items = {StoredItem{Kind::file, QUrl::fromLocalFile("/no/such/file"), {}, {}}};
    ShelfSnapshot second = snapshotOf({"둘째"});
    second.color = ShelfColor::green;
    state.open = {first, vanished, second};
    state.recent.snapshots = {snapshotOf({"예전"}, "예전")};

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

    // With reopening turned off, the open shelves join the recent list in their order.
    ShelfManager off(ShelfPersistence(m_dir->filePath("off.json")));
    state.open = {snapshotOf({"a"}, "먼저 연 셸프"), snapshotOf({"b"}, "나중에 연 셸프"),
                  snapshotOf({})};
    off.restore(state, false);
    QVERIFY(off.shelves().isEmpty());
    QStringList titles;
    for (const ShelfSnapshot &s : off.recent().snapshots)
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

void TestShelfManager::fileFormat()
{
    QVERIFY(test::writeFile(m_dir->filePath("a.txt"), "a"));
    Shelf shelf;
    shelf.add(
        {test::text("메모"), test::link("https://x.y/z"), test::file(m_dir->filePath("a.txt"))});
    shelf.setName(QString(""));

    // Members that are not set are left out; an empty name is kept.
    QJsonObject json = toJson(ShelfSnapshot::from(shelf));
    QCOMPARE(json.keys(), (QStringList{"id", "items", "name", "title"}));
    QCOMPARE(json.value("name").toString("absent"), QString(""));
    const QJsonArray items = json.value("items").toArray();
    QCOMPARE(items[0].toObject(), (QJsonObject{{"kind", "text"}, {"text", "메모"}}));
    QCOMPARE(items[1].toObject(), (QJsonObject{{"kind", "link"}, {"url", "https://x.y/z"}}));
    const QJsonObject fileItem = items[2].toObject();
    QCOMPARE(fileItem.value("kind").toString(), "file");
    QCOMPARE(fileItem.value("url").toString(),
             QUrl::fromLocalFile(m_dir->filePath("a.txt")).toString());
    QVERIFY(!QByteArray::fromBase64(fileItem.value("bookmark").toString().toLatin1()).isEmpty());

    // Closing dates are seconds since 2001-01-01 UTC; frames are [[x, y], [width, height]].
    shelf.setName("보관함");
    shelf.setColor(ShelfColor::blue);
    const QUuid pin = QUuid::createUuid();
    shelf.setPinID(pin);
    json = toJson(ShelfSnapshot::from(shelf, Rect{{10, 20.5}, {180, 210}},
                                      QDateTime(QDate(2001, 1, 1), QTime(0, 1, 0, 500), Qt::UTC)));
    QCOMPARE(json.value("title").toString(), "보관함");
    QCOMPARE(json.value("color").toString(), "blue");
    QCOMPARE(json.value("pinID").toString(), uuidText(pin));
    QCOMPARE(json.value("frame").toArray(),
             (QJsonArray{QJsonArray{10, 20.5}, QJsonArray{180, 210}}));
    QCOMPARE(json.value("closedAt").toDouble(), 60.5);

    // Every top-level member is written, the recent list as an object of its own.
    const QJsonObject root = QJsonDocument::fromJson(ShelfPersistence::encode({})).object();
    QCOMPARE(root.keys(), (QStringList{"open", "pinned", "recent", "version"}));
    QCOMPARE(root.value("version").toInt(), 1);
    QVERIFY(root.value("recent").toObject().value("snapshots").isArray());
}

void TestShelfManager::handWrittenFiles_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("readable");

    // A file whose "open" list holds one snapshot with these members besides its id.
    const auto open = [](const QByteArray &members) -> QByteArray {
        return R"({"open":[{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F",)" + members + "}]}";
    };
    const QByteArray s = validSnapshot;
    QTest::newRow("no version") << "{\"open\":[" + s + "]}" << true;
    QTest::newRow("extra members ignored")
        << QByteArray(
               R"({"version":1,"extra":{"deep":[1,2]},"open":[{"id":"e621e1f8-c36c-495a-93fc-0c247a3e6e5f","title":"t","items":[{"kind":"text","text":"x","future":true}],"unknown":1}]})")
        << true;
    QTest::newRow("color none accepted")
        << open(R"("title":"t","items":[],"color":"none")") << true;
    QTest::newRow("unknown kind refuses the file")
        << open(R"("title":"t","items":[{"kind":"video"}])") << false;
}

void TestShelfManager::handWrittenFiles()
{
    QFETCH(QByteArray, json);
    QFETCH(bool, readable);
    QString error;
    const auto state = ShelfPersistence::decode(json, &error);
    QCOMPARE(bool(state), readable);
    if (state)
        QCOMPARE(state->open.size(), 1);
    else
        QVERIFY(!error.isEmpty());
}

void TestShelfManager::unreadableFileAtLaunch_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("logged");
    const QByteArray valid = "{\"version\":1,\"open\":[" + QByteArray(validSnapshot) + "]}";
    QTest::newRow("cut short") << valid.left(valid.size() / 2)
                               << "셸프 저장 파일을 읽지 못함, 빈 상태로 시작: ";
    QTest::newRow("other version") << QByteArray(valid).replace("\"version\":1", "\"version\":2")
                                   << "알 수 없는 저장 형식 버전 2, 빈 상태로 시작";
}

void TestShelfManager::unreadableFileAtLaunch()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, logged);
    const QString file = m_dir->filePath("shelves.json");
    QVERIFY(test::writeFile(file, json));
    test::LogCapture log;
    QCOMPARE(ShelfPersistence(file).load(), ShelfPersistence::State());
    QVERIFY(log.contains(logged));
    // Reading alone leaves it where it is. Start-up moves it aside (the newest few copies stay),
    // keeps every drop folder, and removes what a save killed before its rename left behind.
    QVERIFY(QFileInfo::exists(file));
    const QString dropFolder = m_dir->filePath("Items/AAAAAAAA-0000-0000-0000-000000000001");
    for (int launch = 0; launch < 5; ++launch) {
        QVERIFY(test::writeFile(file, json));
        QVERIFY(test::writeFile(dropFolder + "/붙여넣은 이미지.png", "png"));
        QVERIFY(test::writeFile(file + ".Ab12Cd", "{"));
        QCOMPARE(loadStateAndCleanUp(ShelfPersistence(file), m_dir->filePath("Items")),
                 ShelfPersistence::State());
        QVERIFY(QFileInfo::exists(dropFolder) && !QFileInfo::exists(file + ".Ab12Cd"));
    }
    QVERIFY(log.contains("읽지 못한 셸프 저장 파일을 옮겨 둠: "));
    const QStringList aside = QDir(m_dir->path()).entryList({"shelves.json.unreadable-*"});
    QCOMPARE(aside.size(), ShelfPersistence::keptUnreadableCopies);
    for (const QString &name : aside) {
        QFile copy(m_dir->filePath(name));
        QVERIFY(copy.open(QIODevice::ReadOnly) && copy.readAll() == json);
    }
}

void TestShelfManager::failedSaveKeepsOldFile()
{
    ShelfPersistence persistence(m_dir->filePath("shelves.json"));
    ShelfPersistence::State old;
    Shelf shelf;
    shelf.add({test::text("오래된 내용")});
    old.open.append(ShelfSnapshot::from(shelf));
    QVERIFY(persistence.save(old));

    // A file-size limit makes the next write fail part-way, as a full disk would.
    ShelfPersistence::State big = old;
    shelf.add({test::text(QString(100000, u'가'))});
    big.open.append(ShelfSnapshot::from(shelf));
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit previous{};
    getrlimit(RLIMIT_FSIZE, &previous);
    rlimit limit = previous;
    limit.rlim_cur = 4096;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
    QString error;
    const bool saved = persistence.save(big, &error);
    setrlimit(RLIMIT_FSIZE, &previous);
    QVERIFY(!saved);
    QVERIFY(!error.isEmpty());
    QCOMPARE(persistence.load(), old);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{"shelves.json"});
}

void TestShelfManager::recentListBounds()
{
    // A state file edited by hand to hold 13, one of them empty: the newest 10 with items.
    ShelfPersistence::State state;
    for (const QString i : {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12"})
        state.recent.snapshots.append(snapshotOf(i == "1" ? QStringList() : QStringList{i}, i));
    QString error;
    const auto read = ShelfPersistence::decode(ShelfPersistence::encode(state), &error);
    QVERIFY2(read, qPrintable(error));
    RecentShelves recent = read->recent;
    QCOMPARE(recent.snapshots.size(), 10);
    QCOMPARE(recent.snapshots.first().title, "0");
    QCOMPARE(recent.snapshots[1].title, "2");
    QCOMPARE(recent.snapshots.last().title, "10");

    // Pushed again, a snapshot moves to the front, once, and the oldest goes; empty ones never
    // get on.
    const ShelfSnapshot again = recent.snapshots[4];
    recent.push(again);
    recent.push(state.recent.snapshots[1]);
    recent.push(state.recent.snapshots[11]);
    QCOMPARE(recent.snapshots.size(), 10);
    QCOMPARE(recent.snapshots[1].id, again.id);
    QCOMPARE(recent.snapshots.count(again), 1);
    QCOMPARE(recent.snapshots.last().title, "9");
    QCOMPARE(recent.removeSnapshot(again.id)->title, again.title);
    QVERIFY(!recent.removeSnapshot(again.id));
    QCOMPARE(recent.snapshots.size(), 9);
}

void TestShelfManager::bookmarksFindRenamedAndMovedFiles()
{
    const QString work = m_dir->filePath("home/Documents/work/");
    const QString archive = m_dir->filePath("home/Documents/archive/2026/");
    QVERIFY(QDir().mkpath(archive));
    for (const char *name : {"보고서.txt", "사진.png", "지울 파일.txt", "a"})
        QVERIFY(test::writeFile(work + name, name));
    ShelfSnapshot snapshot;
    for (const char *name : {"보고서.txt", "사진.png", "지울 파일.txt", "a"})
        snapshot.items.append(StoredItem::from(test::file(work + name)));
    snapshot.items += {
        StoredItem{Kind::text, std::nullopt, QString("글"), {}},
        StoredItem{Kind::image, std::nullopt, {}, QByteArray("garbage")},
        StoredItem{Kind::link, std::nullopt, {}, {}},
        StoredItem{Kind::text, std::nullopt, {}, {}},
        StoredItem{Kind::file, QUrl::fromLocalFile(work + "b"), {}, {}},
        StoredItem{Kind::link, QUrl("https://x.y"), {}, {}},
    };

    // Renamed in the same folder, moved into a sibling's subfolder, and deleted twice, the second
    // time followed by a new file (which may get the freed inode): that one is not the
    // bookmarked file.
    QVERIFY(QFile::rename(work + "보고서.txt", work + "최종.txt"));
    QVERIFY(QFile::rename(work + "사진.png", archive + "사진.png"));
    QVERIFY(QFile::remove(work + "지울 파일.txt"));
    QVERIFY(QFile::remove(work + "a"));
    QVERIFY(test::writeFile(work + "b", "b"));

    QList<Content> contents;
    for (const ShelfItem &item : resolveItems(snapshot))
        contents.append(item.content());
    QCOMPARE(contents,
             (QList<Content>{Content::file(QUrl::fromLocalFile(work + "최종.txt")),
                             Content::file(QUrl::fromLocalFile(archive + "사진.png")),
                             Content::text("글"), Content::file(QUrl::fromLocalFile(work + "b")),
                             Content::link(QUrl("https://x.y"))}));

    // Once the time shared by a shelf's files is used up (each file on its own may search for
    // 0.3 s), a rename is still found in an old folder listed before, but nothing is listed or
    // searched any more.
    const QByteArray renamed = *snapshot.items[0].bookmark;
    BookmarkSearchLimits limits;
    QVERIFY(resolveFileBookmark(renamed, limits));
    BookmarkSearchLimits spent = limits;
    spent.sharedDeadline = QDeadlineTimer(0);
    QCOMPARE(resolveFileBookmark(renamed, spent), std::optional<QString>(work + "최종.txt"));
    QCOMPARE(resolveFileBookmark(*snapshot.items[1].bookmark, spent), std::nullopt);
    QCOMPARE(
        resolveFileBookmark(
            renamed, BookmarkSearchLimits{.extraRoots = {}, .sharedDeadline = QDeadlineTimer(0)}),
        std::nullopt);
}

void TestShelfManager::referencedUrlsAndCleanUp()
{
    const QString items = m_dir->filePath("Items");
    const QString kept = items + "/AAAAAAAA-0000-0000-0000-000000000001/이미지.png";
    const QString pinned = items + "/AAAAAAAA-0000-0000-0000-000000000002/문서.pdf";
    const QString orphan = items + "/AAAAAAAA-0000-0000-0000-000000000003";
    const QString elsewhere = m_dir->filePath("elsewhere/user.txt");
    for (const QString &file : QStringList{kept, pinned, orphan + "/old.png", items + "/stray-file",
                                           items + "/.hidden", elsewhere})
        QVERIFY(test::writeFile(file, "x"));

    ShelfPersistence::State state;
    state.open = {ShelfSnapshot{}};
    state.open[0].items = {StoredItem{Kind::image, QUrl::fromLocalFile(kept), {}, {}},
                           StoredItem{Kind::link, QUrl("https://x.y"), {}, {}},
                           StoredItem{Kind::file, QUrl::fromLocalFile(elsewhere), {}, {}}};
    state.pinned = {ShelfSnapshot{}};
    state.pinned[0].items = {StoredItem{Kind::file, QUrl::fromLocalFile(pinned), {}, {}}};
    const QList<QUrl> urls = referencedFileURLs(state);
    QCOMPARE(urls, (QList<QUrl>{QUrl::fromLocalFile(kept), QUrl::fromLocalFile(elsewhere),
                                QUrl::fromLocalFile(pinned)}));

    removeUnreferencedDropFolders(urls, items);
    for (const QString &file : QStringList{kept, pinned, items + "/.hidden", elsewhere})
        QVERIFY2(QFileInfo::exists(file), qPrintable(file));
    QVERIFY(!QFileInfo::exists(orphan));
    QVERIFY(!QFileInfo::exists(items + "/stray-file"));
    removeUnreferencedDropFolders({}, m_dir->filePath("does-not-exist"));

    // A missing state file is a clean start: silent, and no drop folder is named.
    test::LogCapture log;
    QCOMPARE(loadStateAndCleanUp(ShelfPersistence(m_dir->filePath("none.json")), items),
             ShelfPersistence::State());
    QVERIFY(!QFileInfo::exists(kept));
    QVERIFY(!log.contains("셸프"));
}

QTEST_MAIN(TestShelfManager)
#include "tst_shelfmanager.moc"
