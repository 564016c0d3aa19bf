// The state file with real files: its format, what start-up does with it, the recent list's
// bounds and files found again through their bookmarks. That anything accepted is saved (into a
// folder made for it) and read back unchanged, and refused input always with a reason, is the
// fuzz test's.

#include "core/Ids.h"
#include "platform/FileBookmark.h"
#include "shelf/Shelf.h"
#include "shelf/ShelfPersistence.h"

#include "ShelfSupport.h"
#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

using namespace vyo;
using Content = ShelfItem::Content;
using Kind = StoredItem::Kind;

namespace {

const char *const validSnapshot =
    R"({"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","title":"t","items":[]})";

} // namespace

class TestPersistence : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QVERIFY(m_dir.emplace().isValid()); }
    void fileFormat();
    void handWrittenFiles_data();
    void handWrittenFiles();
    void unreadableFileAtLaunch_data();
    void unreadableFileAtLaunch();
    void missingFileIsACleanStart();
    void failedSaveKeepsOldFile();
    void recentListBounds();
    void bookmarksFindRenamedAndMovedFiles();
    void referencedUrlsAndCleanUp();

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }

    std::optional<QTemporaryDir> m_dir;
};

void TestPersistence::fileFormat()
{
    QVERIFY(test::writeFile(path("a.txt"), "a"));
    Shelf shelf;
    shelf.add({test::text("메모"), test::link("https://x.y/z"), test::file(path("a.txt"))});
    shelf.setName(QString(""));

    // Members that are not set are left out; an empty name is kept.
    QJsonObject json = toJson(ShelfSnapshot::from(shelf));
    QCOMPARE(json.keys(), (QStringList{"id", "items", "name", "title"}));
    QCOMPARE(json.value("name").toString("absent"), QString(""));
    QVERIFY(parseUuid(json.value("id").toString()));
    QCOMPARE(json.value("id").toString(), json.value("id").toString().toUpper());
    const QJsonArray items = json.value("items").toArray();
    QCOMPARE(items[0].toObject(), (QJsonObject{{"kind", "text"}, {"text", "메모"}}));
    QCOMPARE(items[1].toObject(), (QJsonObject{{"kind", "link"}, {"url", "https://x.y/z"}}));
    const QJsonObject fileItem = items[2].toObject();
    QCOMPARE(fileItem.value("kind").toString(), "file");
    QCOMPARE(fileItem.value("url").toString(), QUrl::fromLocalFile(path("a.txt")).toString());
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

void TestPersistence::handWrittenFiles_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("readable");

    // A file whose "open" list holds one snapshot with these members besides its id.
    const auto open = [](const QByteArray &members) -> QByteArray {
        return R"({"open":[{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F",)" + members + "}]}";
    };
    const QByteArray s = validSnapshot;
    QTest::newRow("empty object") << QByteArray("{}") << true;
    QTest::newRow("no version") << "{\"open\":[" + s + "]}" << true;
    QTest::newRow("extra members ignored")
        << QByteArray(
               R"({"version":1,"extra":{"deep":[1,2]},"open":[{"id":"e621e1f8-c36c-495a-93fc-0c247a3e6e5f","title":"t","items":[{"kind":"text","text":"x","future":true}],"unknown":1}]})")
        << true;
    QTest::newRow("color none accepted")
        << open(R"("title":"t","items":[],"color":"none")") << true;
    QTest::newRow("huge string member")
        << "{\"extra\":\"" + QByteArray(4 * 1024 * 1024, 'x') + "\",\"open\":[" + s + "]}" << true;
    QTest::newRow("snapshot without items") << open(R"("title":"t")") << false;
    QTest::newRow("unknown kind refuses the file")
        << open(R"("title":"t","items":[{"kind":"video"}])") << false;
}

void TestPersistence::handWrittenFiles()
{
    QFETCH(QByteArray, json);
    QFETCH(bool, readable);
    QString error;
    const auto state = ShelfPersistence::decode(json, &error);
    QCOMPARE(bool(state), readable);
    if (state)
        QCOMPARE(state->open.size(), json == "{}" ? 0 : 1);
    else
        QVERIFY(!error.isEmpty());
}

void TestPersistence::unreadableFileAtLaunch_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("logged");
    const QByteArray valid = "{\"version\":1,\"open\":[" + QByteArray(validSnapshot) + "]}";
    QTest::newRow("cut short") << valid.left(valid.size() / 2)
                               << "셸프 저장 파일을 읽지 못함, 빈 상태로 시작: ";
    QTest::newRow("other version") << QByteArray(valid).replace("\"version\":1", "\"version\":2")
                                   << "알 수 없는 저장 형식 버전 2, 빈 상태로 시작";
}

void TestPersistence::unreadableFileAtLaunch()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, logged);
    const QString file = path("shelves.json");
    QVERIFY(test::writeFile(file, json));
    test::LogCapture log;
    QCOMPARE(ShelfPersistence(file).load(), ShelfPersistence::State());
    QVERIFY(log.contains(logged));
    // Reading alone leaves it where it is. Start-up moves it aside (the newest few copies stay),
    // keeps every drop folder, and removes what a save killed before its rename left behind.
    QVERIFY(QFileInfo::exists(file));
    const QString dropFolder = path("Items/AAAAAAAA-0000-0000-0000-000000000001");
    for (int launch = 0; launch < 5; ++launch) {
        QVERIFY(test::writeFile(file, json));
        QVERIFY(test::writeFile(dropFolder + "/붙여넣은 이미지.png", "png"));
        QVERIFY(test::writeFile(file + ".Ab12Cd", "{"));
        QCOMPARE(loadStateAndCleanUp(ShelfPersistence(file), path("Items")),
                 ShelfPersistence::State());
        QVERIFY(QFileInfo::exists(dropFolder) && !QFileInfo::exists(file + ".Ab12Cd"));
    }
    QVERIFY(log.contains("읽지 못한 셸프 저장 파일을 옮겨 둠: "));
    const QStringList aside = QDir(m_dir->path()).entryList({"shelves.json.unreadable-*"});
    QCOMPARE(aside.size(), ShelfPersistence::keptUnreadableCopies);
    for (const QString &name : aside) {
        QFile copy(path(name));
        QVERIFY(copy.open(QIODevice::ReadOnly) && copy.readAll() == json);
    }
}

void TestPersistence::missingFileIsACleanStart()
{
    test::LogCapture log;
    QCOMPARE(ShelfPersistence(path("none/shelves.json")).load(), ShelfPersistence::State());
    // Drop folders that no shelf names go.
    QVERIFY(test::writeFile(path("Items/X/a.png"), "png"));
    loadStateAndCleanUp(ShelfPersistence(path("shelves.json")), path("Items"));
    QVERIFY(!QFileInfo::exists(path("Items/X")));
    QVERIFY(!log.contains("셸프"));
}

void TestPersistence::failedSaveKeepsOldFile()
{
    ShelfPersistence persistence(path("shelves.json"));
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

void TestPersistence::recentListBounds()
{
    // A state file edited by hand to hold 13, one of them empty: the newest 10 with items.
    ShelfPersistence::State state;
    for (int i = 0; i < 13; ++i) {
        ShelfSnapshot s;
        s.id = QUuid::createUuid();
        s.title = QString::number(i);
        if (i != 1)
            s.items.append(StoredItem{Kind::text, std::nullopt, QString::number(i), {}});
        state.recent.snapshots.append(s);
    }
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

void TestPersistence::bookmarksFindRenamedAndMovedFiles()
{
    const QString work = path("home/Documents/work/");
    const QString archive = path("home/Documents/archive/2026/");
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

    // Once the time shared by a shelf's files is used up, a rename is still found in an old
    // folder listed before, but nothing is listed or searched any more.
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
    // Search limits keep a hopeless search short.
    QVERIFY(!resolveFileBookmark(*snapshot.items[2].bookmark,
                                 BookmarkSearchLimits{.maxEntries = 5, .extraRoots = {work}}));
}

void TestPersistence::referencedUrlsAndCleanUp()
{
    const QString items = path("Items");
    const QString kept = items + "/AAAAAAAA-0000-0000-0000-000000000001/이미지.png";
    const QString pinned = items + "/AAAAAAAA-0000-0000-0000-000000000002/문서.pdf";
    const QString orphan = items + "/AAAAAAAA-0000-0000-0000-000000000003";
    const QString elsewhere = path("elsewhere/user.txt");
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
    removeUnreferencedDropFolders({}, path("does-not-exist"));
}

QTEST_MAIN(TestPersistence)
#include "tst_persistence.moc"
