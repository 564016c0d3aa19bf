// The folder watcher's decisions over paths, sizes and times, without the event source.

#include "core/Ids.h"
#include "logic/FolderWatchState.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace vyo;
using namespace std::chrono_literals;
using Clock = FolderWatchState::Clock;
using Type = FileAttributes::Type;

namespace {

FileSystemEvent created(const QString &path)
{
    FileSystemEvent event;
    event.path = path;
    event.isFile = true;
    event.created = true;
    return event;
}

// A file system of sizes and types that the test changes by hand.
struct FakeFiles
{
    QHash<QString, FileAttributes> items;

    void set(const QString &path, qint64 size, Type type = Type::regular)
    {
        items.insert(path, FileAttributes{type, size});
    }
    FolderWatchState::AttributesQuery query() const
    {
        return [this](const QString &path) -> std::optional<FileAttributes> {
            const auto it = items.constFind(path);
            if (it == items.cend())
                return std::nullopt;
            return *it;
        };
    }
};

QStringList reportedPaths(const QList<FolderWatchState::Report> &reports)
{
    QStringList paths;
    for (const auto &report : reports)
        paths.append(report.path);
    return paths;
}

} // namespace

class TestFolderWatchState : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void ignoredNames_data();
    void ignoredNames();
    void eventKinds_data();
    void eventKinds();
    void onlyFilesDirectlyInsideAWatchedFolder();
    void folderMatchedThroughSymbolicLink();
    void settlesAfterTwoEqualNonZeroSizes();
    void vanishedOrNonRegularFilesAreDropped();
    void reportsComeInArrivalOrder();
    void deliveredPathIsBlockedForTheMemory();
    void otherListForgetsPending();
    void activeFoldersAreEnabledExistingFolders();

private:
    QTemporaryDir *m_dir = nullptr;
    WatchedFolder m_folder;
    QString file(const QString &name) const { return m_folder.path + u'/' + name; }
};

void TestFolderWatchState::init()
{
    m_dir = new QTemporaryDir;
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("Downloads/sub")));
    m_folder = WatchedFolder{newId(), m_dir->filePath(QStringLiteral("Downloads")), true};
}

void TestFolderWatchState::cleanup()
{
    delete m_dir;
}

void TestFolderWatchState::ignoredNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("ignored");

    QTest::newRow("plain file") << "report.pdf" << false;
    QTest::newRow("no extension") << "README" << false;
    QTest::newRow("Korean name") << "보고서.hwp" << false;
    QTest::newRow("name with newline") << "두 줄\n이름.txt" << false;
    QTest::newRow("hidden") << ".DS_Store" << true;
    QTest::newRow("hidden with extension") << ".report.pdf" << true;
    QTest::newRow("office lock file") << "~$report.docx" << true;
    QTest::newRow("tilde alone is fine") << "~report.docx" << false;
    QTest::newRow("download") << "a.download" << true;
    QTest::newRow("crdownload") << "report.pdf.crdownload" << true;
    QTest::newRow("part") << "movie.mkv.part" << true;
    QTest::newRow("partial") << "x.partial" << true;
    QTest::newRow("tmp") << "save.tmp" << true;
    QTest::newRow("opdownload") << "x.opdownload" << true;
    QTest::newRow("upper-case extension") << "REPORT.PDF.CRDOWNLOAD" << true;
    QTest::newRow("mixed-case extension") << "save.Tmp" << true;
    QTest::newRow("extension only inside the name") << "part.pdf" << false;
    QTest::newRow("longer extension") << "notes.parts" << false;
    QTest::newRow("trailing dot") << "report." << false;
}

void TestFolderWatchState::ignoredNames()
{
    QFETCH(QString, name);
    QFETCH(bool, ignored);
    QCOMPARE(FolderWatchState::isIgnoredName(name), ignored);

    // The same decision holds for an event.
    FolderWatchState state;
    state.update({m_folder});
    QCOMPARE(state.handle(created(file(name)), Clock::now()), !ignored);
}

void TestFolderWatchState::eventKinds_data()
{
    QTest::addColumn<bool>("isFile");
    QTest::addColumn<bool>("created");
    QTest::addColumn<bool>("renamed");
    QTest::addColumn<bool>("modified");
    QTest::addColumn<bool>("counts");

    QTest::newRow("file created") << true << true << false << false << true;
    QTest::newRow("file renamed or moved in") << true << false << true << false << true;
    QTest::newRow("file modified") << true << false << false << true << true;
    QTest::newRow("file, all three") << true << true << true << true << true;
    QTest::newRow("file, nothing that counts") << true << false << false << false << false;
    QTest::newRow("folder created") << false << true << false << false << false;
    QTest::newRow("folder moved in") << false << false << true << false << false;
}

void TestFolderWatchState::eventKinds()
{
    QFETCH(bool, isFile);
    QFETCH(bool, created);
    QFETCH(bool, renamed);
    QFETCH(bool, modified);
    QFETCH(bool, counts);

    FolderWatchState state;
    state.update({m_folder});
    FileSystemEvent event{file(QStringLiteral("a.png")), isFile, created, renamed, modified};
    QCOMPARE(state.handle(event, Clock::now()), counts);
    QCOMPARE(state.pending().size(), counts ? 1 : 0);
}

void TestFolderWatchState::onlyFilesDirectlyInsideAWatchedFolder()
{
    FolderWatchState state;
    state.update({m_folder});
    const auto now = Clock::now();
    QVERIFY(!state.handle(created(file(QStringLiteral("sub/inner.txt"))), now));
    QVERIFY(!state.handle(created(m_dir->filePath(QStringLiteral("elsewhere.txt"))), now));
    QVERIFY(state.handle(created(file(QStringLiteral("top.txt"))), now));
    // A second event for a pending file changes nothing.
    QVERIFY(!state.handle(created(file(QStringLiteral("top.txt"))), now));
    QCOMPARE(state.pending().size(), 1);
    QCOMPARE(state.pending().value(file(QStringLiteral("top.txt"))).folder, m_folder);
}

void TestFolderWatchState::folderMatchedThroughSymbolicLink()
{
    const QString link = m_dir->filePath(QStringLiteral("link"));
    QVERIFY(QFile::link(m_folder.path, link));
    FolderWatchState state;
    state.update({m_folder});
    // An event that names the folder through a link, or with "." in it, still matches.
    QVERIFY(state.handle(created(link + QStringLiteral("/a.txt")), Clock::now()));
    QVERIFY(state.handle(created(m_folder.path + QStringLiteral("/./b.txt")), Clock::now()));
}

void TestFolderWatchState::settlesAfterTwoEqualNonZeroSizes()
{
    FolderWatchState state;
    state.update({m_folder});
    FakeFiles files;
    const QString path = file(QStringLiteral("shot.png"));
    const auto t0 = Clock::now();
    state.handle(created(path), t0);
    files.set(path, 100);

    QVERIFY(state.settleCheck(files.query(), t0 + 500ms).isEmpty()); // first measurement
    QCOMPARE(state.pending().value(path).size, std::optional<qint64>(100));
    const auto reports = state.settleCheck(files.query(), t0 + 1000ms);
    QCOMPARE(reportedPaths(reports), QStringList{path});
    QCOMPARE(reports.first().folder, m_folder);
    QVERIFY(state.pending().isEmpty());
    QVERIFY(state.delivered().contains(path));
}

void TestFolderWatchState::vanishedOrNonRegularFilesAreDropped()
{
    FolderWatchState state;
    state.update({m_folder});
    FakeFiles files;
    const auto now = Clock::now();
    const QString gone = file(QStringLiteral("gone.txt"));
    const QString link = file(QStringLiteral("link"));
    const QString fifo = file(QStringLiteral("fifo"));
    const QString kept = file(QStringLiteral("kept.txt"));
    for (const QString &path : {gone, link, fifo, kept})
        state.handle(created(path), now);
    files.set(link, 10, Type::symbolicLink);
    files.set(fifo, 0, Type::other);
    files.set(kept, 10);

    QVERIFY(state.settleCheck(files.query(), now + 500ms).isEmpty());
    QCOMPARE(state.pending().keys(), QStringList{kept});
    QCOMPARE(reportedPaths(state.settleCheck(files.query(), now + 1000ms)), QStringList{kept});
}

void TestFolderWatchState::reportsComeInArrivalOrder()
{
    FolderWatchState state;
    state.update({m_folder});
    FakeFiles files;
    QStringList paths;
    const auto now = Clock::now();
    for (int i = 0; i < 50; ++i) {
        paths.append(file(QStringLiteral("f%1.txt").arg(49 - i)));
        state.handle(created(paths.last()), now);
        files.set(paths.last(), 1 + i);
    }
    state.settleCheck(files.query(), now + 500ms);
    QCOMPARE(reportedPaths(state.settleCheck(files.query(), now + 1000ms)), paths);
}

void TestFolderWatchState::deliveredPathIsBlockedForTheMemory()
{
    FolderWatchState state(10s);
    state.update({m_folder});
    FakeFiles files;
    const QString path = file(QStringLiteral("same.png"));
    const auto t0 = Clock::now();
    files.set(path, 10);
    state.handle(created(path), t0);
    state.settleCheck(files.query(), t0);
    QCOMPARE(state.settleCheck(files.query(), t0 + 500ms).size(), 1);

    // A replacement of the same name within the memory is not reported again …
    QVERIFY(!state.handle(created(path), t0 + 9s));
    // … and the memory survives checks made while it is young.
    state.settleCheck(files.query(), t0 + 9s);
    QVERIFY(state.delivered().contains(path));
    // Once it is as old as the memory, a new file of that name counts again, even when no check
    // pruned the entry in between.
    QVERIFY(state.handle(created(path), t0 + 10500ms));
    QVERIFY(!state.delivered().contains(path));
}

void TestFolderWatchState::otherListForgetsPending()
{
    const WatchedFolder other{newId(), m_dir->path(), true};
    FolderWatchState state;
    state.update({m_folder, other});
    state.handle(created(file(QStringLiteral("a.txt"))), Clock::now());

    // Another order is another list.
    QVERIFY(state.update({other, m_folder}));
    QVERIFY(state.pending().isEmpty());
    state.handle(created(file(QStringLiteral("a.txt"))), Clock::now());
    QVERIFY(state.update({other}));
    QVERIFY(state.pending().isEmpty());
    QVERIFY(state.update({}));
    QVERIFY(!state.update({}));
}

void TestFolderWatchState::activeFoldersAreEnabledExistingFolders()
{
    const WatchedFolder disabled{newId(), m_dir->path(), false};
    const WatchedFolder missing{newId(), m_dir->filePath(QStringLiteral("missing")), true};
    const WatchedFolder sub{newId(), m_folder.path + QStringLiteral("/sub"), true};
    const auto exists = [](const QString &path) { return QFileInfo(path).isDir(); };
    QCOMPARE(FolderWatchState::activeFolders({sub, disabled, missing, m_folder}, exists),
             (QList<WatchedFolder>{sub, m_folder}));
}

QTEST_GUILESS_MAIN(TestFolderWatchState)
#include "tst_folderwatchstate.moc"
