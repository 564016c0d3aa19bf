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
        return [this](const QString &path) {
            return items.contains(path) ? std::optional(items.value(path)) : std::nullopt;
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
    void settling();
    void deliveredPathIsBlockedForTheMemory();
    void otherListForgetsPending();
    void foldersTheSourceLostAreForgotten();
    void activeFoldersAreEnabledExistingFolders();

private:
    QTemporaryDir *m_dir = nullptr;
    WatchedFolder m_folder;
    // Watching m_folder; sizes by hand.
    FolderWatchState m_state;
    FakeFiles m_files;
    QString file(const QString &name) const { return m_folder.path + u'/' + name; }
};

void TestFolderWatchState::init()
{
    m_dir = new QTemporaryDir;
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("Downloads/sub")));
    m_folder = WatchedFolder{newId(), m_dir->filePath(QStringLiteral("Downloads")), true};
    m_state = FolderWatchState();
    m_state.update({m_folder});
    m_files = FakeFiles();
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
    QTest::newRow("name with newline") << "두 줄\n이름.txt" << false;
    QTest::newRow("hidden") << ".DS_Store" << true;
    QTest::newRow("office lock file") << "~$report.docx" << true;
    QTest::newRow("tilde alone is fine") << "~report.docx" << false;
    QTest::newRow("crdownload") << "report.pdf.crdownload" << true;
    QTest::newRow("upper-case extension") << "REPORT.PDF.CRDOWNLOAD" << true;
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
    QCOMPARE(m_state.handle(created(file(name)), Clock::now()), !ignored);
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
    QTest::newRow("file, nothing that counts") << true << false << false << false << false;
    QTest::newRow("folder created") << false << true << false << false << false;
}

void TestFolderWatchState::eventKinds()
{
    QFETCH(bool, isFile);
    QFETCH(bool, created);
    QFETCH(bool, renamed);
    QFETCH(bool, modified);
    QFETCH(bool, counts);

    FileSystemEvent event{file(QStringLiteral("a.png")), isFile, created, renamed, modified};
    QCOMPARE(m_state.handle(event, Clock::now()), counts);
    QCOMPARE(m_state.pending().size(), counts ? 1 : 0);
}

void TestFolderWatchState::onlyFilesDirectlyInsideAWatchedFolder()
{
    const auto now = Clock::now();
    QVERIFY(!m_state.handle(created(file(QStringLiteral("sub/inner.txt"))), now));
    QVERIFY(!m_state.handle(created(m_dir->filePath(QStringLiteral("elsewhere.txt"))), now));
    QVERIFY(m_state.handle(created(file(QStringLiteral("top.txt"))), now));
    // A second event for a pending file changes nothing.
    QVERIFY(!m_state.handle(created(file(QStringLiteral("top.txt"))), now));
    QCOMPARE(m_state.pending().size(), 1);
    QCOMPARE(m_state.pending().value(file(QStringLiteral("top.txt"))).folder, m_folder);

    // An event that names the folder through a link, or with "." in it, still matches.
    const QString link = m_dir->filePath(QStringLiteral("link"));
    QVERIFY(QFile::link(m_folder.path, link));
    QVERIFY(m_state.handle(created(link + QStringLiteral("/a.txt")), now));
    QVERIFY(m_state.handle(created(m_folder.path + QStringLiteral("/./b.txt")), now));
}

void TestFolderWatchState::settling()
{
    // Files are reported once two checks in a row find the same size, in the order they arrived;
    // one that vanished, or is no regular file, is dropped; an empty one waits.
    QStringList paths;
    const auto t0 = Clock::now();
    for (int i = 0; i < 50; ++i) {
        paths.append(file(QStringLiteral("f%1.txt").arg(49 - i)));
        m_state.handle(created(paths.last()), t0);
        m_files.set(paths.last(), 1 + i);
    }
    for (const char *name : {"gone.txt", "link", "fifo"})
        m_state.handle(created(file(QString::fromLatin1(name))), t0);
    m_files.set(file(QStringLiteral("link")), 10, Type::symbolicLink);
    m_files.set(file(QStringLiteral("fifo")), 0, Type::other);
    m_state.handle(created(file(QStringLiteral("empty.txt"))), t0);
    m_files.set(file(QStringLiteral("empty.txt")), 0);

    QVERIFY(m_state.settleCheck(m_files.query(), t0 + 500ms).isEmpty()); // first measurement
    QCOMPARE(m_state.pending().size(), 51);
    QCOMPARE(m_state.pending().value(paths.first()).size, std::optional<qint64>(1));
    const auto reports = m_state.settleCheck(m_files.query(), t0 + 1000ms);
    QCOMPARE(reportedPaths(reports), paths);
    QCOMPARE(reports.first().folder, m_folder);
    QCOMPARE(m_state.pending().keys(), QStringList{file(QStringLiteral("empty.txt"))});
    QVERIFY(m_state.delivered().contains(paths.first()));
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

void TestFolderWatchState::foldersTheSourceLostAreForgotten()
{
    const WatchedFolder other{newId(), m_dir->path(), true};
    FolderWatchState state;
    state.update({m_folder, other});
    state.retainFolders({other.path});
    QCOMPARE(state.folderPaths(), QStringList{other.path});
    QVERIFY(!state.handle(created(file(QStringLiteral("a.txt"))), Clock::now()));

    state.update({m_folder, other});
    QVERIFY(state.handle(created(file(QStringLiteral("a.txt"))), Clock::now()));
    QVERIFY(state.removeFolder(m_folder.path));
    QCOMPARE(state.folderPaths(), QStringList{other.path});
    QVERIFY(state.pending().isEmpty());
    QVERIFY(!state.removeFolder(m_folder.path));
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
