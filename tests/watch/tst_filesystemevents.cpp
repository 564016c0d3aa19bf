// The inotify event source: what it reports for real changes in real folders.

#include "platform/linux/InotifyFileSystemEvents.h"

#include "WatchTestSupport.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace vyo;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(QList<vyo::FileSystemEvent>)

namespace {

// Every event received so far, batch by batch.
struct Received
{
    QList<QList<FileSystemEvent>> batches;

    std::optional<FileSystemEvent> merged(const QString &path) const
    {
        std::optional<FileSystemEvent> result;
        for (const auto &batch : batches) {
            for (const FileSystemEvent &event : batch) {
                if (event.path != path)
                    continue;
                if (!result)
                    result = event;
                result->created |= event.created;
                result->renamed |= event.renamed;
                result->modified |= event.modified;
            }
        }
        return result;
    }
};

} // namespace

class TestFileSystemEvents : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void reportsCreatedRenamedAndModifiedFiles();
    void foldersAreNotFiles();
    void eachPathOncePerBatch();
    void foldersThatCannotBeWatchedAreReported();

private:
    QTemporaryDir *m_dir = nullptr;
    FileSystemEvents *m_events = nullptr;
    Received m_received;
    QString m_folder;
};

void TestFileSystemEvents::init()
{
    m_dir = new QTemporaryDir;
    m_folder = m_dir->filePath(QStringLiteral("watched"));
    QVERIFY(QDir().mkpath(m_folder));
    m_received = {};
    m_events = new InotifyFileSystemEvents(300ms);
    connect(m_events, &FileSystemEvents::eventsArrived, this,
            [this](const QList<FileSystemEvent> &batch) { m_received.batches.append(batch); });
    const auto result = m_events->start({m_folder});
    QCOMPARE(result.watched, QStringList{m_folder});
    QVERIFY(result.failed.isEmpty());
    QVERIFY(m_events->isRunning());
}

void TestFileSystemEvents::cleanup()
{
    delete m_events;
    delete m_dir;
}

void TestFileSystemEvents::reportsCreatedRenamedAndModifiedFiles()
{
    const QString created = m_folder + QStringLiteral("/created.txt");
    QVERIFY(test::appendToFile(created, "abc"));
    const QString outside = m_dir->filePath(QStringLiteral("outside.txt"));
    QVERIFY(test::appendToFile(outside, "abc"));
    const QString movedIn = m_folder + QStringLiteral("/moved-in.txt");
    QVERIFY(QFile::rename(outside, movedIn));
    const QString renamed = m_folder + QStringLiteral("/renamed.txt");
    QVERIFY(test::appendToFile(m_folder + QStringLiteral("/before.part"), "abc"));
    QVERIFY(QFile::rename(m_folder + QStringLiteral("/before.part"), renamed));

    QTRY_VERIFY(m_received.merged(renamed).has_value());
    const auto c = m_received.merged(created);
    QVERIFY(c && c->isFile && c->created && c->modified && !c->renamed);
    const auto m = m_received.merged(movedIn);
    QVERIFY(m && m->isFile && m->renamed && !m->created);
    const auto r = m_received.merged(renamed);
    QVERIFY(r && r->isFile && r->renamed);
    QVERIFY(!m_received.merged(outside));

    // Writing to an existing file is a modification.
    m_received = {};
    QVERIFY(test::appendToFile(created, "more"));
    QTRY_VERIFY(m_received.merged(created).has_value());
    const auto w = m_received.merged(created);
    QVERIFY(w->modified && !w->created && !w->renamed);
}

void TestFileSystemEvents::foldersAreNotFiles()
{
    QVERIFY(QDir(m_folder).mkdir(QStringLiteral("new folder")));
    QVERIFY(test::appendToFile(m_folder + QStringLiteral("/marker"), "x"));
    QTRY_VERIFY(m_received.merged(m_folder + QStringLiteral("/marker")).has_value());
    const auto folder = m_received.merged(m_folder + QStringLiteral("/new folder"));
    QVERIFY(folder && !folder->isFile && folder->created);
}

void TestFileSystemEvents::eachPathOncePerBatch()
{
    const QString path = m_folder + QStringLiteral("/growing.bin");
    for (int i = 0; i < 200; ++i)
        QVERIFY(test::appendToFile(path, QByteArray(1024, 'x')));
    QVERIFY(test::appendToFile(m_folder + QStringLiteral("/marker"), "x"));
    QTRY_VERIFY(m_received.merged(m_folder + QStringLiteral("/marker")).has_value());
    // 200 opens and writes coalesce into a few batches, each naming the file at most once.
    QVERIFY(m_received.batches.size() < 200);
    for (const auto &batch : std::as_const(m_received.batches)) {
        QCOMPARE(std::count_if(batch.begin(), batch.end(),
                               [&path](const FileSystemEvent &e) { return e.path == path; }) <= 1,
                 true);
    }
}

void TestFileSystemEvents::foldersThatCannotBeWatchedAreReported()
{
    const QString missing = m_dir->filePath(QStringLiteral("missing"));
    const QString file = m_dir->filePath(QStringLiteral("a file"));
    QVERIFY(test::appendToFile(file, "x"));
    const QString loop = m_dir->filePath(QStringLiteral("loop"));
    QVERIFY(QFile::link(loop, loop));

    const auto result = m_events->start({missing, m_folder, file, loop});
    QCOMPARE(result.watched, QStringList{m_folder});
    QCOMPARE(result.failed.size(), 3);
    QCOMPARE(result.failed[0].folder, missing);
    QCOMPARE(result.failed[1].folder, file);
    QCOMPARE(result.failed[2].folder, loop);
    for (const auto &failure : result.failed)
        QVERIFY(!failure.reason.isEmpty());

    // Nothing watchable: no source at all.
    const auto none = m_events->start({missing});
    QVERIFY(none.watched.isEmpty());
    QVERIFY(!m_events->isRunning());
}

QTEST_GUILESS_MAIN(TestFileSystemEvents)
#include "tst_filesystemevents.moc"
