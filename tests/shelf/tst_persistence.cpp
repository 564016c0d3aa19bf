#include "core/Ids.h"
#include "platform/FileBookmark.h"
#include "shelf/Shelf.h"
#include "shelf/ShelfPersistence.h"

#include "ShelfSupport.h"
#include "TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <csignal>
#include <sys/resource.h>

using namespace vyo;
using Content = ShelfItem::Content;

namespace {

const char *const validSnapshot =
    R"({"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","title":"t","items":[]})";

} // namespace

class TestPersistence : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void snapshotMembers();
    void roundTrip();
    void referenceDates();
    void handWrittenFiles_data();
    void handWrittenFiles();
    void loadLogsUnreadableFiles_data();
    void loadLogsUnreadableFiles();
    void missingFileIsSilent();
    void failedSaveKeepsOldFile();
    void saveCreatesFolder();
    void recentListBounds();
    void bookmarksFindRenamedAndMovedFiles();
    void resolveDropsWhatCannotComeBack();
    void resolvingManyVanishedFilesIsBounded();
    void referencedUrlsAndCleanUp();
};

void TestPersistence::snapshotMembers()
{
    QTemporaryDir dir;
    QVERIFY(test::writeFile(dir.filePath("a.txt"), "a"));
    Shelf shelf;
    shelf.add({test::text("메모"), test::link("https://x.y/z"), test::file(dir.filePath("a.txt"))});
    shelf.setName(QString(""));

    QJsonObject json = toJson(ShelfSnapshot::from(shelf));
    QCOMPARE(json.value("name").toString("absent"), QString(""));
    QCOMPARE(json.value("title").toString(), "3개 항목");
    QVERIFY(!json.contains("color"));
    QVERIFY(!json.contains("closedAt"));
    QVERIFY(!json.contains("frame"));
    QVERIFY(!json.contains("pinID"));
    QVERIFY(parseUuid(json.value("id").toString()));
    QCOMPARE(json.value("id").toString(), json.value("id").toString().toUpper());
    const QJsonArray items = json.value("items").toArray();
    QCOMPARE(items.size(), 3);
    QCOMPARE(items[0].toObject(), (QJsonObject{{"kind", "text"}, {"text", "메모"}}));
    QCOMPARE(items[1].toObject(), (QJsonObject{{"kind", "link"}, {"url", "https://x.y/z"}}));
    const QJsonObject fileItem = items[2].toObject();
    QCOMPARE(fileItem.value("kind").toString(), "file");
    QCOMPARE(fileItem.value("url").toString(),
             QUrl::fromLocalFile(dir.filePath("a.txt")).toString());
    QVERIFY(!QByteArray::fromBase64(fileItem.value("bookmark").toString().toLatin1()).isEmpty());

    shelf.setName("보관함");
    shelf.setColor(ShelfColor::blue);
    const QUuid pin = QUuid::createUuid();
    shelf.setPinID(pin);
    json = toJson(
        ShelfSnapshot::from(shelf, Rect{{10, 20.5}, {180, 210}}, QDateTime::currentDateTimeUtc()));
    QCOMPARE(json.value("title").toString(), "보관함");
    QCOMPARE(json.value("color").toString(), "blue");
    QCOMPARE(json.value("pinID").toString(), uuidText(pin));
    QCOMPARE(json.value("frame").toArray(),
             (QJsonArray{QJsonArray{10, 20.5}, QJsonArray{180, 210}}));
    QVERIFY(json.value("closedAt").isDouble());
}

void TestPersistence::roundTrip()
{
    QTemporaryDir dir;
    ShelfPersistence persistence(dir.filePath("Vyo/shelves.json"));
    ShelfPersistence::State state;
    Shelf shelf;
    shelf.add({test::text("a\nb"), test::link("https://한국.kr/경로?q=1")});
    shelf.setColor(ShelfColor::purple);
    state.open.append(ShelfSnapshot::from(shelf, Rect{{-100, 0}, {260, 340}}));
    state.recent.push(ShelfSnapshot::from(
        shelf, std::nullopt, QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5, 250), Qt::UTC)));
    shelf.setPinID(QUuid::createUuid());
    state.pinned.append(ShelfSnapshot::from(shelf));

    QString error;
    QVERIFY2(persistence.save(state, &error), qPrintable(error));
    QCOMPARE(persistence.load(), state);

    // The file is pretty-printed JSON with sorted keys, every top-level member present.
    QFile file(persistence.filePath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY(bytes.contains("\n    "));
    QVERIFY(bytes.indexOf("\"open\"") < bytes.indexOf("\"pinned\""));
    QVERIFY(bytes.indexOf("\"pinned\"") < bytes.indexOf("\"recent\""));
    const QJsonObject root = QJsonDocument::fromJson(bytes).object();
    QCOMPARE(root.value("version").toInt(), 1);
    QVERIFY(root.value("recent").toObject().value("snapshots").isArray());
}

void TestPersistence::referenceDates()
{
    QCOMPARE(toReferenceSeconds(QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC)), 0.0);
    QCOMPARE(toReferenceSeconds(QDateTime(QDate(2001, 1, 1), QTime(0, 1, 0, 500), Qt::UTC)), 60.5);
    QCOMPARE(fromReferenceSeconds(-978307200.0), QDateTime::fromSecsSinceEpoch(0, Qt::UTC));
}

void TestPersistence::handWrittenFiles_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("readable");
    QTest::addColumn<int>("openCount");

    // A file whose "open" list holds one snapshot with these members besides its id.
    const auto open = [](const QByteArray &members, const char *list = "open") -> QByteArray {
        return QByteArray("{\"") + list + R"(":[{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F",)" +
               members + "}]}";
    };
    const QByteArray s = validSnapshot;
    QTest::newRow("empty object") << QByteArray("{}") << true << 0;
    QTest::newRow("no version") << "{\"open\":[" + s + "]}" << true << 1;
    QTest::newRow("extra members ignored")
        << QByteArray(
               R"({"version":1,"extra":{"deep":[1,2]},"open":[{"id":"e621e1f8-c36c-495a-93fc-0c247a3e6e5f","title":"t","items":[{"kind":"text","text":"x","future":true}],"unknown":1}]})")
        << true << 1;
    QTest::newRow("color none accepted")
        << open(R"("title":"t","items":[],"color":"none")") << true << 1;
    QTest::newRow("snapshot without items") << open(R"("title":"t")") << false << 0;
    QTest::newRow("snapshot without title") << open(R"("items":[])") << false << 0;
    QTest::newRow("recent without snapshots") << QByteArray(R"({"recent":{}})") << false << 0;
    QTest::newRow("recent as array") << QByteArray(R"({"recent":[]})") << false << 0;
    QTest::newRow("open as object") << QByteArray(R"({"open":{}})") << false << 0;
    QTest::newRow("version as string") << QByteArray(R"({"version":"1"})") << false << 0;
    QTest::newRow("version fraction") << QByteArray(R"({"version":1.5})") << false << 0;
    QTest::newRow("unknown kind") << open(R"("title":"t","items":[{"kind":"video"}])") << false
                                  << 0;
    QTest::newRow("unknown color")
        << open(R"("title":"t","items":[],"color":"pink")", "pinned") << false << 0;
    QTest::newRow("title as number") << open(R"("title":5,"items":[])") << false << 0;
    QTest::newRow("id not a uuid")
        << QByteArray(R"({"open":[{"id":"abc","title":"t","items":[]}]})") << false << 0;
    QTest::newRow("frame of wrong shape")
        << open(R"("title":"t","items":[],"frame":[1,2,3,4])") << false << 0;
    QTest::newRow("closedAt as string")
        << open(R"("title":"t","items":[],"closedAt":"yesterday")") << false << 0;
    QTest::newRow("bookmark not base64")
        << open(R"("title":"t","items":[{"kind":"file","url":"file:///a","bookmark":"@@@"}])")
        << false << 0;
    QTest::newRow("item not an object") << open(R"("title":"t","items":["x"])") << false << 0;
    QTest::newRow("huge string member")
        << "{\"extra\":\"" + QByteArray(4 * 1024 * 1024, 'x') + "\",\"open\":[" + s + "]}" << true
        << 1;
}

void TestPersistence::handWrittenFiles()
{
    QFETCH(QByteArray, json);
    QFETCH(bool, readable);
    QFETCH(int, openCount);
    QString error;
    const auto state = ShelfPersistence::decode(json, &error);
    QCOMPARE(bool(state), readable);
    if (state)
        QCOMPARE(state->open.size(), openCount);
    else
        QVERIFY(!error.isEmpty());
}

void TestPersistence::loadLogsUnreadableFiles_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("logged");
    const QString unreadable = "셸프 저장 파일을 읽지 못함, 빈 상태로 시작: ";
    const QByteArray valid = "{\"version\":1,\"open\":[" + QByteArray(validSnapshot) + "]}";
    QTest::newRow("garbage") << QByteArray("not json") << unreadable;
    QTest::newRow("empty file") << QByteArray() << unreadable;
    QTest::newRow("cut short") << valid.left(valid.size() / 2) << unreadable;
    QTest::newRow("other version") << QByteArray(valid).replace("\"version\":1", "\"version\":2")
                                   << "알 수 없는 저장 형식 버전 2, 빈 상태로 시작";
}

void TestPersistence::loadLogsUnreadableFiles()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, logged);
    QTemporaryDir dir;
    const QString path = dir.filePath("shelves.json");
    QVERIFY(test::writeFile(path, json));
    test::LogCapture log;
    QCOMPARE(ShelfPersistence(path).load(), ShelfPersistence::State());
    QVERIFY(log.contains(logged));
    // Reading alone leaves it where it is. Start-up moves it aside (the newest few copies stay),
    // keeps every drop folder, and removes what a save killed before its rename left behind.
    QVERIFY(QFileInfo::exists(path));
    const QString dropFolder = dir.filePath("Items/AAAAAAAA-0000-0000-0000-000000000001");
    for (int launch = 0; launch < 5; ++launch) {
        QVERIFY(test::writeFile(path, json));
        QVERIFY(test::writeFile(dropFolder + "/붙여넣은 이미지.png", "png"));
        QVERIFY(test::writeFile(path + ".Ab12Cd", "{"));
        QCOMPARE(loadStateAndCleanUp(ShelfPersistence(path), dir.filePath("Items")),
                 ShelfPersistence::State());
        QVERIFY(QFileInfo::exists(dropFolder) && !QFileInfo::exists(path + ".Ab12Cd"));
    }
    QVERIFY(log.contains("읽지 못한 셸프 저장 파일을 옮겨 둠: "));
    const QStringList aside = QDir(dir.path()).entryList({"shelves.json.unreadable-*"});
    QCOMPARE(aside.size(), ShelfPersistence::keptUnreadableCopies);
    for (const QString &name : aside) {
        QFile copy(dir.filePath(name));
        QVERIFY(copy.open(QIODevice::ReadOnly) && copy.readAll() == json);
    }
}

void TestPersistence::missingFileIsSilent()
{
    QTemporaryDir dir;
    test::LogCapture log;
    QCOMPARE(ShelfPersistence(dir.filePath("none/shelves.json")).load(), ShelfPersistence::State());
    // A clean start: drop folders that no shelf names go.
    QVERIFY(test::writeFile(dir.filePath("Items/X/a.png"), "png"));
    loadStateAndCleanUp(ShelfPersistence(dir.filePath("shelves.json")), dir.filePath("Items"));
    QVERIFY(!QFileInfo::exists(dir.filePath("Items/X")));
    QVERIFY(!log.contains("셸프"));
}

void TestPersistence::failedSaveKeepsOldFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("shelves.json");
    ShelfPersistence persistence(path);
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
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"shelves.json"});
}

void TestPersistence::saveCreatesFolder()
{
    QTemporaryDir dir;
    ShelfPersistence nested(dir.filePath("a/b/c/shelves.json"));
    QVERIFY(nested.save({}));
    QVERIFY(QFileInfo::exists(nested.filePath()));

    QVERIFY(test::writeFile(dir.filePath("blocker"), "x"));
    ShelfPersistence blocked(dir.filePath("blocker/shelves.json"));
    QString error;
    QVERIFY(!blocked.save({}, &error));
    QVERIFY(!error.isEmpty());
}

void TestPersistence::recentListBounds()
{
    RecentShelves recent;
    ShelfSnapshot empty;
    empty.id = QUuid::createUuid();
    recent.push(empty);
    QVERIFY(recent.snapshots.isEmpty());

    QList<QUuid> ids;
    for (int i = 0; i < 11; ++i) {
        ShelfSnapshot s;
        s.id = QUuid::createUuid();
        s.title = QString::number(i);
        s.items.append(StoredItem{StoredItem::Kind::text, std::nullopt, QString::number(i), {}});
        ids.append(s.id);
        recent.push(s);
    }
    QCOMPARE(recent.snapshots.size(), 10);
    QCOMPARE(recent.snapshots.first().title, "10");
    QCOMPARE(recent.snapshots.last().title, "1"); // "0" was the oldest and is gone

    ShelfSnapshot again = recent.snapshots[4];
    recent.push(again);
    QCOMPARE(recent.snapshots.size(), 10);
    QCOMPARE(recent.snapshots.first().id, again.id);
    QCOMPARE(std::count_if(recent.snapshots.begin(), recent.snapshots.end(),
                           [&](const ShelfSnapshot &s) { return s.id == again.id; }),
             1);

    QCOMPARE(recent.removeSnapshot(again.id)->title, again.title);
    QCOMPARE(recent.snapshots.size(), 9);
    QVERIFY(!recent.removeSnapshot(again.id));
    QCOMPARE(recent.snapshots.size(), 9);

    // A state file edited by hand to hold 12, one of them empty: the newest 10 with items.
    ShelfPersistence::State state;
    state.recent.snapshots = recent.snapshots;
    state.recent.snapshots.insert(1, empty);
    for (int i = 0; i < 3; ++i) {
        ShelfSnapshot s = recent.snapshots.last();
        s.id = QUuid::createUuid();
        state.recent.snapshots.append(s);
    }
    QCOMPARE(state.recent.snapshots.size(), 13);
    QString error;
    const auto read = ShelfPersistence::decode(ShelfPersistence::encode(state), &error);
    QVERIFY2(read, qPrintable(error));
    QCOMPARE(read->recent.snapshots.size(), 10);
    QCOMPARE(read->recent.snapshots.first().id, recent.snapshots.first().id);
    QCOMPARE(read->recent.snapshots[1].id, recent.snapshots[1].id);
    QVERIFY(std::none_of(read->recent.snapshots.begin(), read->recent.snapshots.end(),
                         [](const ShelfSnapshot &s) { return s.items.isEmpty(); }));
}

void TestPersistence::bookmarksFindRenamedAndMovedFiles()
{
    QTemporaryDir dir;
    const QString home = dir.filePath("home");
    QVERIFY(test::writeFile(home + "/Documents/work/보고서.txt", "report"));
    QVERIFY(test::writeFile(home + "/Documents/work/사진.png", "image"));
    QVERIFY(test::writeFile(home + "/Documents/work/지울 파일.txt", "gone"));
    QVERIFY(QDir().mkpath(home + "/Documents/archive/2026"));

    Shelf shelf;
    for (const char *name : {"보고서.txt", "사진.png", "지울 파일.txt"})
        shelf.add({test::file(home + "/Documents/work/" + name)});
    shelf.add({test::text("글")});
    const ShelfSnapshot snapshot = ShelfSnapshot::from(shelf);

    // Rename in the same folder, move into a sibling's subfolder, delete.
    QVERIFY(QFile::rename(home + "/Documents/work/보고서.txt", home + "/Documents/work/최종.txt"));
    QVERIFY(QFile::rename(home + "/Documents/work/사진.png",
                          home + "/Documents/archive/2026/사진.png"));
    QVERIFY(QFile::remove(home + "/Documents/work/지울 파일.txt"));

    const QList<ShelfItem> items = resolveItems(snapshot);
    QCOMPARE(items.size(), 3);
    QCOMPARE(items[0].content().url().toLocalFile(), home + "/Documents/work/최종.txt");
    QCOMPARE(items[1].content().url().toLocalFile(), home + "/Documents/archive/2026/사진.png");
    QCOMPARE(items[2].content().text(), "글");

    // Once the time shared by a shelf's files is used up, a rename is still found in an old
    // folder listed before, but nothing is listed or searched any more.
    BookmarkSearchLimits limits;
    QVERIFY(resolveFileBookmark(*snapshot.items[0].bookmark, limits));
    BookmarkSearchLimits spent = limits;
    spent.sharedDeadline = QDeadlineTimer(0);
    QCOMPARE(resolveFileBookmark(*snapshot.items[0].bookmark, spent),
             std::optional<QString>(home + "/Documents/work/최종.txt"));
    QCOMPARE(resolveFileBookmark(*snapshot.items[1].bookmark, spent), std::nullopt);
    QCOMPARE(resolveFileBookmark(
                 *snapshot.items[0].bookmark,
                 BookmarkSearchLimits{.extraRoots = {}, .sharedDeadline = QDeadlineTimer(0)}),
             std::nullopt);
}

void TestPersistence::resolvingManyVanishedFilesIsBounded()
{
    // A shelf of 2,000 files deleted from a Downloads folder of 20,000 entries, the last of them
    // renamed: the old folder is listed once, and the whole shelf resolves within its shared
    // second (a generous margin here; each file on its own would take up to 0.3 s).
    QTemporaryDir dir;
    const QString downloads = dir.filePath("Downloads/");
    ShelfSnapshot snapshot;
    for (int i = 0; i < 2000; ++i) {
        const QString file = downloads + QString("받은 파일 %1.bin").arg(i);
        QVERIFY(test::writeFile(file, {}));
        snapshot.items.append(
            {StoredItem::Kind::file, QUrl::fromLocalFile(file), {}, createFileBookmark(file)});
    }
    for (int i = 0; i < 19999; ++i)
        QVERIFY(test::writeFile(downloads + QString("기존 %1").arg(i), {}));
    QVERIFY(QFile::rename(downloads + "받은 파일 1999.bin", downloads + "이름 바꿈.bin"));
    for (int i = 0; i < 1999; ++i)
        QVERIFY(QFile::remove(downloads + QString("받은 파일 %1.bin").arg(i)));

    QElapsedTimer elapsed;
    elapsed.start();
    const QList<ShelfItem> items = resolveItems(snapshot);
    QVERIFY2(elapsed.elapsed() < 10000, qPrintable(QString::number(elapsed.elapsed())));
    QCOMPARE(items.size(), 1);
    QCOMPARE(items.first().content().url().toLocalFile(), downloads + "이름 바꿈.bin");
}

void TestPersistence::resolveDropsWhatCannotComeBack()
{
    QTemporaryDir dir;
    QVERIFY(test::writeFile(dir.filePath("a"), "a"));
    const QByteArray bookmark = *createFileBookmark(dir.filePath("a"));
    QVERIFY(QFile::remove(dir.filePath("a")));
    // A new file that happens to get the old name is not the bookmarked one.
    QVERIFY(test::writeFile(dir.filePath("b"), "b"));

    ShelfSnapshot snapshot;
    snapshot.items = {
        StoredItem{StoredItem::Kind::file, QUrl::fromLocalFile(dir.filePath("a")), {}, bookmark},
        StoredItem{StoredItem::Kind::image, std::nullopt, {}, QByteArray("garbage")},
        StoredItem{StoredItem::Kind::link, std::nullopt, {}, {}},
        StoredItem{StoredItem::Kind::text, std::nullopt, {}, {}},
        StoredItem{StoredItem::Kind::file, QUrl::fromLocalFile(dir.filePath("b")), {}, {}},
        StoredItem{StoredItem::Kind::link, QUrl("https://x.y"), {}, {}},
    };
    const QList<ShelfItem> items = resolveItems(snapshot);
    QCOMPARE(items.size(), 2);
    QCOMPARE(items[0].content(), Content::file(QUrl::fromLocalFile(dir.filePath("b"))));
    QCOMPARE(items[1].content(), Content::link(QUrl("https://x.y")));

    // Search limits keep a hopeless search short.
    BookmarkSearchLimits limits;
    limits.maxEntries = 5;
    limits.extraRoots = {dir.path()};
    QVERIFY(!resolveFileBookmark(bookmark, limits));
}

void TestPersistence::referencedUrlsAndCleanUp()
{
    QTemporaryDir dir;
    const QString items = dir.filePath("Items");
    const QString kept = items + "/AAAAAAAA-0000-0000-0000-000000000001";
    const QString pinnedFolder = items + "/AAAAAAAA-0000-0000-0000-000000000002";
    const QString orphan = items + "/AAAAAAAA-0000-0000-0000-000000000003";
    QVERIFY(test::writeFile(kept + "/이미지.png", "png"));
    QVERIFY(test::writeFile(pinnedFolder + "/문서.pdf", "pdf"));
    QVERIFY(test::writeFile(orphan + "/old.png", "old"));
    QVERIFY(test::writeFile(items + "/stray-file", "x"));
    QVERIFY(test::writeFile(items + "/.hidden", "x"));
    QVERIFY(test::writeFile(dir.filePath("elsewhere/user.txt"), "x"));

    ShelfPersistence::State state;
    ShelfSnapshot open;
    open.items = {
        StoredItem{StoredItem::Kind::image, QUrl::fromLocalFile(kept + "/이미지.png"), {}, {}},
        StoredItem{StoredItem::Kind::link, QUrl("https://x.y"), {}, {}},
        StoredItem{StoredItem::Kind::file,
                   QUrl::fromLocalFile(dir.filePath("elsewhere/user.txt")),
                   {},
                   {}}};
    ShelfSnapshot pinned;
    pinned.items = {StoredItem{
        StoredItem::Kind::file, QUrl::fromLocalFile(pinnedFolder + "/문서.pdf"), {}, {}}};
    state.open = {open};
    state.pinned = {pinned};

    const QList<QUrl> urls = referencedFileURLs(state);
    QCOMPARE(urls.size(), 3);
    QCOMPARE(urls.last(), QUrl::fromLocalFile(pinnedFolder + "/문서.pdf"));

    removeUnreferencedDropFolders(urls, items);
    QVERIFY(QFileInfo::exists(kept + "/이미지.png"));
    QVERIFY(QFileInfo::exists(pinnedFolder + "/문서.pdf"));
    QVERIFY(!QFileInfo::exists(orphan));
    QVERIFY(!QFileInfo::exists(items + "/stray-file"));
    QVERIFY(QFileInfo::exists(items + "/.hidden"));
    QVERIFY(QFileInfo::exists(dir.filePath("elsewhere/user.txt")));

    removeUnreferencedDropFolders({}, dir.filePath("does-not-exist"));
}

QTEST_MAIN(TestPersistence)
#include "tst_persistence.moc"
