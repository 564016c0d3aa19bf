// The inotify event source: what it reports for real changes in real folders.

#include "platform/linux/InotifyFileSystemEvents.h"

#include "WatchTestSupport.h"

#include <QTemporaryDir>
#include <QTest>

using namespace vyo;
using namespace std::chrono_literals;

class TestFileSystemEvents : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void reportsWhatHappenedToFilesAndFolders();
    void foldersThatCannotBeWatchedAreReported();

private:
    // The events of one path received so far, merged; absent when there was none.
    std::optional<FileSystemEvent> merged(const QString &path) const;

    QTemporaryDir m_dir;
    QList<QList<FileSystemEvent>> m_batches;
};

std::optional<FileSystemEvent> TestFileSystemEvents::merged(const QString &path) const
{
    std::optional<FileSystemEvent> result;
    for (const auto &batch : m_batches) {
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

void TestFileSystemEvents::reportsWhatHappenedToFilesAndFolders()
{
    const QString folder = m_dir.filePath(QStringLiteral("watched"));
    QVERIFY(QDir().mkpath(folder));
    InotifyFileSystemEvents events(300ms);
    connect(&events, &FileSystemEvents::eventsArrived, this,
            [this](const QList<FileSystemEvent> &batch) { m_batches.append(batch); });
    const auto result = events.start({folder});
    QCOMPARE(result.watched, QStringList{folder});
    QVERIFY(result.failed.isEmpty());
    QVERIFY(events.isRunning());

    const QString created = folder + QStringLiteral("/created.txt");
    QVERIFY(test::appendToFile(created, "abc"));
    const QString outside = m_dir.filePath(QStringLiteral("outside.txt"));
    QVERIFY(test::appendToFile(outside, "abc"));
    const QString movedIn = folder + QStringLiteral("/moved-in.txt");
    QVERIFY(QFile::rename(outside, movedIn));
    const QString renamed = folder + QStringLiteral("/renamed.txt");
    QVERIFY(test::appendToFile(folder + QStringLiteral("/before.part"), "abc"));
    QVERIFY(QFile::rename(folder + QStringLiteral("/before.part"), renamed));
    QVERIFY(QDir(folder).mkdir(QStringLiteral("new folder")));
    // 200 opens and writes of one file coalesce into a few batches, each naming it at most once.
    const QString growing = folder + QStringLiteral("/growing.bin");
    for (int i = 0; i < 200; ++i)
        QVERIFY(test::appendToFile(growing, QByteArray(1024, 'x')));
    QVERIFY(test::appendToFile(folder + QStringLiteral("/marker"), "x"));

    QTRY_VERIFY(merged(folder + QStringLiteral("/marker")).has_value());
    const auto c = merged(created);
    QVERIFY(c && c->isFile && c->created && c->modified && !c->renamed);
    const auto m = merged(movedIn);
    QVERIFY(m && m->isFile && m->renamed && !m->created);
    const auto r = merged(renamed);
    QVERIFY(r && r->isFile && r->renamed);
    QVERIFY(!merged(outside));
    const auto f = merged(folder + QStringLiteral("/new folder"));
    QVERIFY(f && !f->isFile && f->created);
    QVERIFY(m_batches.size() < 200);
    for (const auto &batch : std::as_const(m_batches)) {
        QVERIFY(std::count_if(batch.begin(), batch.end(), [&growing](const FileSystemEvent &e) {
                    return e.path == growing;
                }) <= 1);
    }

    // Writing to an existing file is a modification.
    m_batches.clear();
    QVERIFY(test::appendToFile(created, "more"));
    QTRY_VERIFY(merged(created).has_value());
    const auto w = merged(created);
    QVERIFY(w->modified && !w->created && !w->renamed);
}

void TestFileSystemEvents::foldersThatCannotBeWatchedAreReported()
{
    const QString folder = m_dir.filePath(QStringLiteral("watched"));
    QVERIFY(QDir().mkpath(folder));
    const QString missing = m_dir.filePath(QStringLiteral("missing"));
    const QString file = m_dir.filePath(QStringLiteral("a file"));
    QVERIFY(test::appendToFile(file, "x"));
    const QString loop = m_dir.filePath(QStringLiteral("loop"));
    QVERIFY(QFile::link(loop, loop));

    InotifyFileSystemEvents events(300ms);
    const auto result = events.start({missing, folder, file, loop});
    QCOMPARE(result.watched, QStringList{folder});
    QCOMPARE(result.failed.size(), 3);
    QCOMPARE(result.failed[0].folder, missing);
    QCOMPARE(result.failed[1].folder, file);
    QCOMPARE(result.failed[2].folder, loop);
    for (const auto &failure : result.failed)
        QVERIFY(!failure.reason.isEmpty());

    // Nothing watchable: no source at all.
    const auto none = events.start({missing});
    QVERIFY(none.watched.isEmpty());
    QVERIFY(!events.isRunning());
}

QTEST_GUILESS_MAIN(TestFileSystemEvents)
#include "tst_filesystemevents.moc"
