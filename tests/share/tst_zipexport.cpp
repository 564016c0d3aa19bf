#include "share/WindowsZipExporter.h"

#include "platform/fake/FakeDesktop.h"
#include "shelf/Shelf.h"

#include "TestSupport.h"
#include "ZipSupport.h"

#include <QApplication>
#include <QDir>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

using namespace vyo;
using namespace vyo::test;
using Content = ShelfItem::Content;

class TestZipExport : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void exportWritesAndReveals();
    void progressReplaceAndCancel();
    void fullDiskIsReported();

private:
    QString path(const QString &relative) const { return m_dir->filePath(relative); }
    QUrl url(const QString &relative) const { return QUrl::fromLocalFile(path(relative)); }
    QByteArray contents(const QString &relative) const { return readFile(path(relative)); }
    // Runs one export with the save dialog answered by `destination`; true once it finished.
    bool exportTo(Shelf &shelf, const std::optional<QString> &destination);
    QStringList partialFiles(const QString &folder) const;

    std::unique_ptr<QTemporaryDir> m_dir;
    // Answers the save dialog and records alerts and reveals.
    std::unique_ptr<FakeDesktop> m_desktop;
    std::unique_ptr<QSignalSpy> m_finished;
};

void TestZipExport::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY(QDir().mkpath(path("out")));
    m_desktop = std::make_unique<FakeDesktop>();
    m_finished = std::make_unique<QSignalSpy>(&WindowsZipExporter::shared(),
                                              &WindowsZipExporter::exportFinished);
}

void TestZipExport::cleanup()
{
    m_finished.reset();
    m_desktop.reset();
}

bool TestZipExport::exportTo(Shelf &shelf, const std::optional<QString> &destination)
{
    m_desktop->dialogs().setNextSaveAnswer(destination);
    WindowsZipExporter::shared().exportShelf(shelf);
    return m_finished->wait(30000);
}

QStringList TestZipExport::partialFiles(const QString &folder) const
{
    return QDir(folder).entryList({QStringLiteral(".vyo-zip-*")}, QDir::Files | QDir::Hidden);
}

void TestZipExport::exportWritesAndReveals()
{
    QVERIFY(writeFile(path("in/보고서.pdf"), "pdf"));
    QVERIFY(writeFile(path("in/사진/여름.jpg"), "jpeg"));
    Shelf shelf;
    shelf.add({ShelfItem(Content::file(url("in/보고서.pdf"))),
               ShelfItem(Content::text("빠지는 텍스트")),
               ShelfItem(Content::file(url("in/사진")))});
    const QString destination = path("out/Vyo 파일 2개.zip");
    QVERIFY(exportTo(shelf, destination));
    QCOMPARE(m_desktop->dialogs().saveRequests().size(), 1);
    const Dialogs::SaveRequest request = m_desktop->dialogs().saveRequests().last();
    QCOMPARE(request.suggestedName, QStringLiteral("Vyo 파일 2개.zip"));
    QCOMPARE(request.directory, QStandardPaths::writableLocation(QStandardPaths::DownloadLocation));

    QCOMPARE(m_finished->first().at(0).toString(), destination);
    QCOMPARE(m_finished->first().at(1).toBool(), true);
    const QString readers = checkWithReaders(destination, {"보고서.pdf", "사진/", "사진/여름.jpg"});
    QVERIFY2(readers.isEmpty(), qPrintable(readers));
    QVERIFY(partialFiles(path("out")).isEmpty());
    QVERIFY(m_desktop->dialogs().alerts().isEmpty());
    // Revealed in the file manager: once, the new archive selected.
    QCOMPARE(m_desktop->fileManager().revealed(),
             (QList<QList<QUrl>>{{QUrl::fromLocalFile(destination)}}));
    QVERIFY(m_desktop->fileManager().opened().isEmpty());
}

void TestZipExport::progressReplaceAndCancel()
{
    // The dialog has asked whether to replace the file; the new archive takes its place.
    QVERIFY(writeFile(path("out/a.zip"), "older archive"));
    QVERIFY(writeFile(path("out/reference"), "made like any new file"));
    QVERIFY(writeFile(path("in/big.bin"), QByteArray(3 * 1024 * 1024, 'x')));
    Shelf shelf;
    shelf.add({ShelfItem(Content::file(url("in/big.bin")))});
    QStringList shown;
    connect(&shelf, &Shelf::statusChanged, this,
            [&] { shown.append(shelf.status().value_or("")); });

    // Written to the end, the status line counts up and goes.
    QVERIFY(exportTo(shelf, path("out/a.zip")));
    QCOMPARE(m_finished->takeFirst().at(1).toBool(), true);
    QCOMPARE(shown.first(), "ZIP 만드는 중… 0%");
    QCOMPARE(shown.mid(shown.size() - 2), (QStringList{"ZIP 만드는 중… 100%", ""}));
    const QString readers = checkWithReaders(path("out/a.zip"), {"big.bin"});
    QVERIFY2(readers.isEmpty(), qPrintable(readers));
    // Permissions as for any new file of the user (the umask's), not those of a private
    // temporary file.
    QCOMPARE(QFileInfo(path("out/a.zip")).permissions(),
             QFileInfo(path("out/reference")).permissions());
    const QByteArray written = contents("out/a.zip");

    // Cancelled from the status line: nothing replaced, no partial file, no alert.
    m_desktop->dialogs().setNextSaveAnswer(path("out/a.zip"));
    WindowsZipExporter::shared().exportShelf(shelf);
    QTRY_VERIFY(shelf.isStatusCancellable());
    shelf.cancelStatus();
    QVERIFY(m_finished->wait(30000));
    QCOMPARE(m_finished->first().at(1).toBool(), false);
    QCOMPARE(contents("out/a.zip"), written);
    QVERIFY(partialFiles(path("out")).isEmpty() && m_desktop->dialogs().alerts().isEmpty());
    QVERIFY(!shelf.status());
}

void TestZipExport::fullDiskIsReported()
{
    // Incompressible: the archive needs about as much room as the file.
    QByteArray big(400000, Qt::Uninitialized);
    QRandomGenerator generator(9);
    for (qsizetype i = 0; i < big.size(); ++i)
        big[i] = char(generator.bounded(256));
    QVERIFY(writeFile(path("in/big.bin"), big));
    QVERIFY(writeFile(path("out/old.zip"), "the user's older archive"));
    Shelf shelf;
    shelf.add({ShelfItem(Content::file(url("in/big.bin")))});
    LogCapture log;
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 4096;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const bool finished = exportTo(shelf, path("out/old.zip"));
    setrlimit(RLIMIT_FSIZE, &saved);
    QVERIFY(finished);

    // Logged, one alert, no partial file, nothing revealed; the file the archive was to replace
    // stays.
    QCOMPARE(m_finished->first().at(1).toBool(), false);
    QVERIFY(partialFiles(path("out")).isEmpty());
    const QString reason = QStringLiteral("File too large");
    QVERIFY(log.contains(QStringLiteral("ZIP 저장 실패: ") + reason));
    QCOMPARE(m_desktop->dialogs().alerts().size(), 1);
    QCOMPARE(m_desktop->dialogs().alerts().first().text, QStringLiteral("ZIP을 만들지 못했어요"));
    QCOMPARE(m_desktop->dialogs().alerts().first().informativeText, reason);
    QVERIFY(m_desktop->fileManager().revealed().isEmpty());
    QCOMPARE(contents("out/old.zip"), QByteArray("the user's older archive"));
}

QTEST_MAIN(TestZipExport)

#include "tst_zipexport.moc"
