#include "logic/ZipWriter.h"

#include "TestSupport.h"
#include "ZipSupport.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimeZone>

#include <csignal>
#include <ctime>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vyo;
using namespace vyo::test;
using Entry = ZipWriter::Entry;
using ZipError = ZipWriter::ZipError;

namespace {

QString nfd(const QString &text)
{
    return text.normalized(QString::NormalizationForm_D);
}

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QRandomGenerator generator(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char(generator.bounded(256));
    return bytes;
}

QByteArray textBytes(qsizetype size, quint32 seed)
{
    static const QList<QByteArray> words{"셸프", "파일", "drop",   "the",    "zip",   "archive",
                                         "한글", "이름", "window", "stream", "chunk", "\n"};
    QRandomGenerator generator(seed);
    QByteArray bytes;
    while (bytes.size() < size)
        bytes += words[generator.bounded(int(words.size()))] + ' ';
    bytes.truncate(size);
    return bytes;
}

bool setModified(const QString &path, const QDateTime &when)
{
    QFile file(path);
    return file.open(QIODevice::ReadWrite) &&
           file.setFileTime(when, QFileDevice::FileModificationTime);
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The archive at `path` with the times of its folder entries cleared: a folder has no source
// to date it, so it is dated when written, which two runs may not share.
QByteArray withoutFolderTimes(const QString &path)
{
    QByteArray bytes = readAll(path);
    QString error;
    const std::optional<ZipLayout> layout = parseZip(bytes, &error);
    if (!layout)
        return bytes;
    qsizetype central = layout->directoryOffset;
    for (const ZipRecord &record : layout->records) {
        if (record.name.endsWith('/')) {
            bytes.replace(record.localHeaderOffset + 10, 4, QByteArray(4, '\0'));
            bytes.replace(central + 12, 4, QByteArray(4, '\0'));
        }
        central += 46 + record.name.size() + record.extraLength + record.commentLength;
    }
    return bytes;
}

QStringList paths(const QList<Entry> &entries)
{
    QStringList result;
    for (const Entry &entry : entries)
        result.append(entry.path);
    return result;
}

// The write failed with a ZIP error of its own: `errorCode`, told as `text`.
#define VERIFY_ZIP_ERROR(failure, errorCode, text)                                                 \
    do {                                                                                           \
        QVERIFY2((failure) && (failure)->zipError(), "no ZIP error");                              \
        QCOMPARE((failure)->zipError()->code(), ZipError::Code::errorCode);                        \
        QCOMPARE((failure)->description(), QStringLiteral(text));                                  \
    } while (false)

// Raises the file-size limit back when it goes out of scope. Writes past the limit then fail with
// EFBIG ("File too large"), as they would on a full disk, instead of killing the process.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_saved);
        rlimit limited = m_saved;
        limited.rlim_cur = bytes;
        m_active = setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_saved); }
    bool isActive() const { return m_active; }

private:
    rlimit m_saved{};
    bool m_active = false;
};

} // namespace

class TestZipWriter : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();

    void headersByteByByte();
    void methodPerExtension_data();
    void methodPerExtension();
    void emptyFilesAndFolder();
    void streamsLargeFilesInOnePass();
    void progressAndCancel();
    void parallelMatchesSequential();
    void dosDateTime_data();
    void dosDateTime();
    void modificationDatesReachTheArchive();

    void uniqueName_data();
    void uniqueName();
    void duplicateTopLevelNames();
    void missingItemsKeepTheirNames();
    void foldersDepthFirst();
    void hiddenFilesOnlyAtTopLevel();
    void namesBecomeNFC();
    void namesEqualAfterNFCStayApart();
    void windowsNames_data();
    void windowsNames();
    void unicodeNamesSurviveEveryReader();
    void specialFilesAreSkipped();
    void symbolicLinks();

    void errorDescriptions_data();
    void errorDescriptions();
    void sourceGoneBeforeWriting();
    void sourceReadFails();
    void destinationFolderIsAFile();
    void diskFull_data();
    void diskFull();
    void parallelFailureInOrder();
    void archiveInsideArchivedFolder();
    void sourceBeyond4GB();
    void entryCountLimit_data();
    void entryCountLimit();
    void nameLengthLimit_data();
    void nameLengthLimit();
    void centralDirectoryLimits_data();
    void centralDirectoryLimits();

private:
    QString path(const QString &relative) const { return m_dir->filePath(relative); }
    QUrl url(const QString &relative) const { return QUrl::fromLocalFile(path(relative)); }
    QString archivePath() const { return path(QStringLiteral("out/archive.zip")); }
    std::optional<ZipLayout> layoutOf(const QString &archive);

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestZipWriter::initTestCase()
{
    // Seoul has no daylight saving time now, and differs from UTC: DOS times must be local.
    qputenv("TZ", "Asia/Seoul");
    tzset();
}

void TestZipWriter::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY(QDir().mkpath(path(QStringLiteral("out"))));
}

std::optional<ZipLayout> TestZipWriter::layoutOf(const QString &archive)
{
    QString error;
    auto layout = parseZip(readAll(archive), &error);
    if (!layout)
        qWarning("layout: %s", qPrintable(error));
    return layout;
}

void TestZipWriter::headersByteByByte()
{
    const QDateTime modified(QDate(2024, 3, 15), QTime(13, 45, 31)); // local time
    const QByteArray notes = textBytes(5000, 1);
    const QByteArray photo = randomBytes(3000, 2);
    const QByteArray readme = "# 읽어 주세요\n";
    QVERIFY(writeFile(path("in/notes.txt"), notes));
    QVERIFY(writeFile(path("in/photo.JPG"), photo));
    QVERIFY(writeFile(path("in/Docs/readme.md"), readme));
    QVERIFY(QDir().mkpath(path("in/Empty")));
    for (const char *file : {"in/notes.txt", "in/photo.JPG", "in/Docs/readme.md"})
        QVERIFY(setModified(path(file), modified));

    const QList<QUrl> urls{url("in/notes.txt"), url("in/photo.JPG"), url("in/Empty"),
                           url("in/Docs")};
    QVERIFY(!ZipWriter::writeArchive(urls, QUrl::fromLocalFile(archivePath())));

    const auto layout = layoutOf(archivePath());
    QVERIFY(layout);
    struct Expected
    {
        QByteArray name;
        quint16 method;
        quint32 attributes;
        QByteArray content; // empty for folders
        bool isFolder;
    };
    const QList<Expected> expected{
        {"notes.txt", 8, 0x81A40000, notes, false},
        {"photo.JPG", 0, 0x81A40000, photo, false},
        {"Empty/", 0, 0x41ED0010, {}, true},
        {"Docs/", 0, 0x41ED0010, {}, true},
        {"Docs/readme.md", 8, 0x81A40000, readme, false},
    };
    QCOMPARE(layout->records.size(), expected.size());
    QCOMPARE(layout->diskNumber, 0);
    QCOMPARE(layout->directoryDisk, 0);
    QCOMPARE(layout->recordsOnDisk, 5);
    QCOMPARE(layout->totalRecords, 5);
    QCOMPARE(layout->commentLength, 0);
    for (qsizetype i = 0; i < expected.size(); ++i) {
        const ZipRecord &r = layout->records[i];
        const Expected &e = expected[i];
        QCOMPARE(r.name, e.name);
        QCOMPARE(r.localName, e.name);
        QCOMPARE(r.localVersionNeeded, 20);
        QCOMPARE(r.versionNeeded, 20);
        QCOMPARE(r.localFlags, 0x0800);
        QCOMPARE(r.flags, 0x0800);
        QCOMPARE(r.versionMadeBy, 0x0314);
        QCOMPARE(r.localMethod, e.method);
        QCOMPARE(r.method, e.method);
        QCOMPARE(r.localExtraLength, 0);
        QCOMPARE(r.extraLength, 0);
        QCOMPARE(r.commentLength, 0);
        QCOMPARE(r.diskNumberStart, 0);
        QCOMPARE(r.internalAttributes, 0);
        QCOMPARE(r.externalAttributes, e.attributes);
        // The patched local header agrees with the central directory.
        QCOMPARE(r.localCrc, r.crc);
        QCOMPARE(r.localCompressedSize, r.compressedSize);
        QCOMPARE(r.localUncompressedSize, r.uncompressedSize);
        QCOMPARE(r.localTime, r.time);
        QCOMPARE(r.localDate, r.date);
        QCOMPARE(r.uncompressedSize, quint32(e.content.size()));
        if (e.isFolder) {
            QCOMPARE(r.crc, 0u);
            QCOMPARE(r.compressedSize, 0u);
        } else {
            QCOMPARE(r.time, 0x6DAF); // 13:45:31
            QCOMPARE(r.date, 0x586F); // 2024-03-15
        }
        if (e.method == 0)
            QCOMPARE(r.data, e.content);
        else if (e.content.size() > 1000)
            QVERIFY(r.compressedSize < r.uncompressedSize);
    }

    VYO_VERIFY_READERS(archivePath(),
                       {"notes.txt", "photo.JPG", "Empty/", "Docs/", "Docs/readme.md"});
}

void TestZipWriter::methodPerExtension_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("method");
    for (const char *extension :
         {"zip", "gz",   "tgz",  "bz2",  "xz",   "7z",   "rar", "dmg",   "jpg",    "jpeg", "png",
          "gif", "heic", "heif", "webp", "avif", "mp3",  "m4a", "aac",   "mp4",    "m4v",  "mov",
          "mkv", "webm", "docx", "xlsx", "pptx", "hwpx", "key", "pages", "numbers"})
        QTest::addRow("stored %s", extension)
            << QString(u"file." + QString::fromLatin1(extension)) << 0;
    QTest::newRow("upper-case JPG") << "photo.JPG" << 0;
    QTest::newRow("mixed-case MoV") << "clip.MoV" << 0;
    QTest::newRow("double extension tar.GZ") << "backup.tar.GZ" << 0;
    QTest::newRow("Korean name hwpx") << "보고서.HWPX" << 0;
    QTest::newRow("txt") << "notes.txt" << 8;
    QTest::newRow("no extension") << "Makefile" << 8;
    QTest::newRow("tar") << "backup.tar" << 8;
    QTest::newRow("zip inside the name") << "file.zip.txt" << 8;
    QTest::newRow("zipx") << "file.zipx" << 8;
    QTest::newRow("tiff") << "scan.tiff" << 8;
    QTest::newRow("pdf") << "a.pdf" << 8;
}

void TestZipWriter::methodPerExtension()
{
    QFETCH(QString, name);
    QFETCH(int, method);
    const QByteArray content = textBytes(2000, 3);
    QVERIFY(writeFile(path("in/" + name), content));
    QVERIFY(!ZipWriter::writeArchive({url("in/" + name)}, QUrl::fromLocalFile(archivePath())));
    const auto layout = layoutOf(archivePath());
    QVERIFY(layout);
    QCOMPARE(layout->records.size(), 1);
    QCOMPARE(layout->records[0].localMethod, method);
    QCOMPARE(layout->records[0].method, method);
    if (method == 0)
        QCOMPARE(layout->records[0].data, content);
}

void TestZipWriter::emptyFilesAndFolder()
{
    QVERIFY(writeFile(path("in/empty.txt"), {}));
    QVERIFY(writeFile(path("in/empty.png"), {}));
    QVERIFY(QDir().mkpath(path("in/빈 폴더")));
    QVERIFY(!ZipWriter::writeArchive({url("in/empty.txt"), url("in/empty.png"), url("in/빈 폴더")},
                                     QUrl::fromLocalFile(archivePath())));
    const auto layout = layoutOf(archivePath());
    QVERIFY(layout);
    QCOMPARE(layout->records.size(), 3);
    const ZipRecord &deflated = layout->records[0];
    QCOMPARE(deflated.method, 8);
    QCOMPARE(deflated.crc, 0u);
    QCOMPARE(deflated.uncompressedSize, 0u);
    // An empty final DEFLATE block.
    QCOMPARE(deflated.data, QByteArray::fromHex("0300"));
    for (const ZipRecord &r : {layout->records[1], layout->records[2]}) {
        QCOMPARE(r.method, 0);
        QCOMPARE(r.crc, 0u);
        QCOMPARE(r.compressedSize, 0u);
        QCOMPARE(r.uncompressedSize, 0u);
    }
    QCOMPARE(layout->records[2].name, QStringLiteral("빈 폴더/").toUtf8());
    QCOMPARE(layout->records[2].externalAttributes, 0x41ED0010u);
    VYO_VERIFY_READERS(archivePath(), {"empty.txt", "empty.png", "빈 폴더/"});
}

void TestZipWriter::streamsLargeFilesInOnePass()
{
    // Several read chunks and many compressed blocks per file.
    const QByteArray text = textBytes(3 * ZipWriter::readChunkSize + 12345, 4);
    const QByteArray noise = randomBytes(2 * ZipWriter::readChunkSize + 777, 5);
    QVERIFY(writeFile(path("in/big.txt"), text));
    QVERIFY(writeFile(path("in/noise.bin"), noise));
    QVERIFY(writeFile(path("in/movie.mp4"), noise));
    QVERIFY(!ZipWriter::writeArchive({url("in/big.txt"), url("in/noise.bin"), url("in/movie.mp4")},
                                     QUrl::fromLocalFile(archivePath())));
    const auto layout = layoutOf(archivePath());
    QVERIFY(layout);
    QCOMPARE(layout->records[0].uncompressedSize, quint32(text.size()));
    QVERIFY(layout->records[0].compressedSize < quint32(text.size() / 2));
    QCOMPARE(layout->records[1].uncompressedSize, quint32(noise.size()));
    QCOMPARE(layout->records[2].data, noise);
    VYO_VERIFY_READERS(archivePath(), {"big.txt", "noise.bin", "movie.mp4"});

    // Unpacked by an independent reader, every byte is back.
    const QString unpacked = path("unpacked");
    const ToolResult unzip = runTool("unzip", {"-q", archivePath(), "-d", unpacked});
    QCOMPARE(unzip.exitCode, 0);
    QCOMPARE(readAll(unpacked + "/big.txt"), text);
    QCOMPARE(readAll(unpacked + "/noise.bin"), noise);
}

void TestZipWriter::progressAndCancel()
{
    // Two and a half chunks and an empty file: a report after every chunk read, of the total;
    // answering false stops the write at once with its own error.
    const quint64 chunk = ZipWriter::readChunkSize;
    QVERIFY(writeFile(path("in/big.bin"), QByteArray(qsizetype(chunk * 5 / 2), 'b')));
    QVERIFY(writeFile(path("in/empty"), QByteArray()));
    const QList<Entry> entries = ZipWriter::makeEntries({url("in/big.bin"), url("in/empty")});
    // Compressed on this thread, and ahead on two others: the reports come on this thread alike.
    for (const int threads : {1, 2}) {
        QList<quint64> reports;
        bool onThisThread = true;
        const auto progress = [&](quint64 read, quint64 total) {
            onThisThread = onThisThread && QThread::currentThread() == thread();
            reports.append(total == chunk * 5 / 2 ? read : 0);
            return reports.size() < 3;
        };
        const auto failure =
            ZipWriter::write(entries, QUrl::fromLocalFile(archivePath()), progress, threads);
        QVERIFY(onThisThread);
        QCOMPARE(reports, (QList<quint64>{chunk, chunk * 2, chunk * 5 / 2}));
        VERIFY_ZIP_ERROR(failure, cancelled, "취소했습니다.");
    }
}

void TestZipWriter::parallelMatchesSequential()
{
    // Many small files, text larger than what an entry keeps in memory when compressed ahead (it
    // goes through a temporary file), incompressible data, stored and empty files and folders.
    for (int i = 0; i < 40; ++i)
        QVERIFY(writeFile(path(QStringLiteral("in/src/f%1.h").arg(i)), textBytes(i * 997, i)));
    QVERIFY(writeFile(path("in/big.txt"), textBytes(9 * ZipWriter::readChunkSize + 3, 40)));
    QVERIFY(writeFile(path("in/noise.bin"), randomBytes(5 * ZipWriter::readChunkSize, 41)));
    QVERIFY(writeFile(path("in/photo.jpg"), randomBytes(300000, 42)));
    QVERIFY(writeFile(path("in/empty.txt"), QByteArray()));
    QVERIFY(QDir().mkpath(path("in/folder/inner")));
    const QList<Entry> entries = ZipWriter::makeEntries({url("in")});
    const QString sequential = path("out/sequential.zip");
    QVERIFY(!ZipWriter::write(entries, QUrl::fromLocalFile(sequential), {}, 1));
    const auto expected = layoutOf(sequential);
    QVERIFY(expected);
    QCOMPARE(expected->records.size(), entries.size());

    for (const int threads : {2, 3}) {
        QVERIFY(!ZipWriter::write(entries, QUrl::fromLocalFile(archivePath()), {}, threads));
        // The same archive, byte for byte (but for the folders' times of writing).
        QCOMPARE(withoutFolderTimes(archivePath()), withoutFolderTimes(sequential));
        // Nothing else is left in the folder: temporary data has no name.
        QCOMPARE(QDir(path("out")).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 (QStringList{"archive.zip", "sequential.zip"}));
    }
    VYO_VERIFY_READERS(archivePath(), paths(entries));
}

void TestZipWriter::dosDateTime_data()
{
    QTest::addColumn<QDateTime>("date");
    QTest::addColumn<quint32>("expected");
    const auto local = [](int y, int mo, int d, int h, int mi, int s) {
        return QDateTime(QDate(y, mo, d), QTime(h, mi, s));
    };
    QTest::newRow("first DOS moment") << local(1980, 1, 1, 0, 0, 0) << 0x00210000u;
    QTest::newRow("ordinary") << local(2024, 3, 15, 13, 45, 31) << 0x586F6DAFu;
    QTest::newRow("UTC moment in Seoul")
        << QDateTime(QDate(2024, 3, 15), QTime(4, 45, 31), QTimeZone::utc()) << 0x586F6DAFu;
    QTest::newRow("odd second rounds down") << local(2000, 2, 29, 12, 0, 1) << 0x285D6000u;
    QTest::newRow("last second before 1980") << local(1979, 12, 31, 23, 59, 59) << 0x019FBF7Du;
    QTest::newRow("1975 keeps month and day") << local(1975, 6, 15, 10, 20, 30) << 0x00CF528Fu;
    QTest::newRow("1601") << local(1601, 1, 1, 0, 0, 0) << 0x00210000u;
    QTest::newRow("last representable day") << local(2107, 12, 31, 23, 59, 59) << 0xFF9FBF7Du;
    QTest::newRow("2108 becomes the last moment") << local(2108, 1, 1, 0, 0, 0) << 0xFF9FBF7Du;
    QTest::newRow("2200 becomes the last moment") << local(2200, 7, 4, 8, 0, 0) << 0xFF9FBF7Du;
    QTest::newRow("invalid") << QDateTime() << 0x00210000u;
}

void TestZipWriter::dosDateTime()
{
    QFETCH(QDateTime, date);
    QFETCH(quint32, expected);
    QCOMPARE(ZipWriter::dosDateTime(date), expected);
}

void TestZipWriter::modificationDatesReachTheArchive()
{
    const QList<std::pair<QDateTime, QList<int>>> cases{
        {QDateTime(QDate(1975, 6, 15), QTime(10, 20, 30)), {1980, 6, 15, 10, 20, 30}},
        {QDateTime(QDate(2024, 3, 15), QTime(4, 45, 31), QTimeZone::utc()),
         {2024, 3, 15, 13, 45, 30}},
        {QDateTime(QDate(2150, 1, 2), QTime(3, 4, 5)), {2107, 12, 31, 23, 59, 58}},
    };
    QList<QUrl> urls;
    for (qsizetype i = 0; i < cases.size(); ++i) {
        const QString name = QStringLiteral("in/%1.txt").arg(i);
        QVERIFY(writeFile(path(name), "x"));
        QVERIFY(setModified(path(name), cases[i].first));
        urls.append(url(name));
    }
    QVERIFY(!ZipWriter::writeArchive(urls, QUrl::fromLocalFile(archivePath())));
    QString error;
    const QJsonArray entries = pythonReport(archivePath(), &error).value("entries").toArray();
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(entries.size(), cases.size());
    for (qsizetype i = 0; i < cases.size(); ++i) {
        QList<int> dateTime;
        for (const QJsonValue &part : entries[i].toObject().value("dateTime").toArray())
            dateTime.append(part.toInt());
        QCOMPARE(dateTime, cases[i].second);
    }
}

void TestZipWriter::uniqueName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("used");
    QTest::addColumn<QString>("expected");
    QTest::newRow("free") << "report.pdf" << QStringList{} << "report.pdf";
    QTest::newRow("second") << "report.pdf" << QStringList{"report.pdf"} << "report (2).pdf";
    QTest::newRow("third") << "report.pdf" << QStringList{"report.pdf", "report (2).pdf"}
                           << "report (3).pdf";
    QTest::newRow("gap is filled") << "a.txt" << QStringList{"a.txt", "a (3).txt"} << "a (2).txt";
    QTest::newRow("no extension") << "README" << QStringList{"README"} << "README (2)";
    QTest::newRow("leading dot only") << ".profile" << QStringList{".profile"} << ".profile (2)";
    QTest::newRow("hidden with extension")
        << ".config.json" << QStringList{".config.json"} << ".config (2).json";
    QTest::newRow("last dot splits")
        << "archive.tar.gz" << QStringList{"archive.tar.gz"} << "archive.tar (2).gz";
    QTest::newRow("trailing dot") << "x." << QStringList{"x."} << "x. (2)";
    QTest::newRow("letter case differs")
        << "Report.pdf" << QStringList{"report.pdf"} << "Report.pdf";
    QTest::newRow("Korean") << "사진" << QStringList{"사진", "사진 (2)"} << "사진 (3)";
}

void TestZipWriter::uniqueName()
{
    QFETCH(QString, name);
    QFETCH(QStringList, used);
    QFETCH(QString, expected);
    QCOMPARE(ZipWriter::uniqueName(name, QSet<QString>(used.begin(), used.end())), expected);
}

void TestZipWriter::duplicateTopLevelNames()
{
    for (const char *folder : {"a", "b", "c"})
        QVERIFY(writeFile(path(QStringLiteral("%1/report.pdf").arg(folder)), folder));
    QVERIFY(writeFile(path("d/Photos/one.jpg"), "1"));
    QVERIFY(writeFile(path("e/Photos/two.jpg"), "2"));
    const QList<QUrl> urls{url("a/report.pdf"), url("b/report.pdf"), url("c/report.pdf"),
                           url("d/Photos"), url("e/Photos")};
    const QList<Entry> entries = ZipWriter::makeEntries(urls);
    const QList<Entry> expected{
        {"report.pdf", url("a/report.pdf")},
        {"report (2).pdf", url("b/report.pdf")},
        {"report (3).pdf", url("c/report.pdf")},
        {"Photos/", std::nullopt},
        {"Photos/one.jpg", url("d/Photos/one.jpg")},
        {"Photos (2)/", std::nullopt},
        {"Photos (2)/two.jpg", url("e/Photos/two.jpg")},
    };
    QCOMPARE(paths(entries), paths(expected));
    QVERIFY(entries == expected);

    QVERIFY(!ZipWriter::write(entries, QUrl::fromLocalFile(archivePath())));
    VYO_VERIFY_READERS(archivePath(), paths(expected));
}

void TestZipWriter::missingItemsKeepTheirNames()
{
    QVERIFY(writeFile(path("b/x.txt"), "b"));
    const QList<Entry> entries =
        ZipWriter::makeEntries({url("a/x.txt"), url("b/x.txt"), QUrl("https://example.com/x")});
    QCOMPARE(paths(entries), QStringList{"x (2).txt"});
    QCOMPARE(entries[0].source, url("b/x.txt"));
}

void TestZipWriter::foldersDepthFirst()
{
    QVERIFY(writeFile(path("F/a.txt"), "a"));
    QVERIFY(writeFile(path("F/b/c.txt"), "c"));
    QVERIFY(writeFile(path("F/b/d/e.txt"), "e"));
    QVERIFY(QDir().mkpath(path("F/b/empty")));
    QVERIFY(writeFile(path("F/f.txt"), "f"));
    const QList<Entry> entries = ZipWriter::makeEntries({url("F")});
    const QList<Entry> expected{
        {"F/", std::nullopt},         {"F/a.txt", url("F/a.txt")},
        {"F/b/", std::nullopt},       {"F/b/c.txt", url("F/b/c.txt")},
        {"F/b/d/", std::nullopt},     {"F/b/d/e.txt", url("F/b/d/e.txt")},
        {"F/b/empty/", std::nullopt}, {"F/f.txt", url("F/f.txt")},
    };
    QCOMPARE(paths(entries), paths(expected));
    QVERIFY(entries == expected);
}

void TestZipWriter::hiddenFilesOnlyAtTopLevel()
{
    QVERIFY(writeFile(path("F/visible.txt"), "v"));
    QVERIFY(writeFile(path("F/.hidden"), "h"));
    QVERIFY(writeFile(path("F/.git/config"), "c"));
    QVERIFY(writeFile(path("F/sub/.DS_Store"), "d"));
    QVERIFY(writeFile(path("F/sub/kept.txt"), "k"));
    QVERIFY(writeFile(path("top/.env"), "e"));
    const QList<Entry> entries = ZipWriter::makeEntries({url("F"), url("top/.env")});
    QCOMPARE(paths(entries),
             (QStringList{"F/", "F/sub/", "F/sub/kept.txt", "F/visible.txt", ".env"}));
    QVERIFY(!ZipWriter::write(entries, QUrl::fromLocalFile(archivePath())));
    VYO_VERIFY_READERS(archivePath(), paths(entries));
}

void TestZipWriter::namesBecomeNFC()
{
    const QString file = nfd(QStringLiteral("한글 파일.txt"));
    const QString folder = nfd(QStringLiteral("사진 모음"));
    const QString inner = nfd(QStringLiteral("여름.jpg"));
    QVERIFY(file != QStringLiteral("한글 파일.txt"));
    QVERIFY(writeFile(path("in/" + file), "한글"));
    QVERIFY(writeFile(path("in/" + folder + "/" + inner), "jpeg"));
    const QList<Entry> entries = ZipWriter::makeEntries({url("in/" + file), url("in/" + folder)});
    // The sources keep the names the file system has; only the names in the archive change.
    const QList<Entry> expected{
        {QStringLiteral("한글 파일.txt"), url("in/" + file)},
        {QStringLiteral("사진 모음/"), std::nullopt},
        {QStringLiteral("사진 모음/여름.jpg"), url("in/" + folder + "/" + inner)},
    };
    QCOMPARE(paths(entries), paths(expected));
    QVERIFY(entries == expected);

    QVERIFY(!ZipWriter::write(entries, QUrl::fromLocalFile(archivePath())));
    const auto layout = layoutOf(archivePath());
    QVERIFY(layout);
    // Precomposed syllables, byte for byte: 한 = ED 95 9C, 글 = EA B8 80.
    QCOMPARE(layout->records[0].name,
             QByteArray("\xED\x95\x9C\xEA\xB8\x80 \xED\x8C\x8C\xEC\x9D\xBC.txt"));
    for (const ZipRecord &r : layout->records)
        QCOMPARE(r.flags, 0x0800);
    VYO_VERIFY_READERS(archivePath(), paths(expected));
}

void TestZipWriter::namesEqualAfterNFCStayApart()
{
    // Two different files whose names differ only in Unicode form: one name after NFC. Both
    // must survive unpacking, so the second gets a number.
    const QString composed = QStringLiteral("café.txt");
    QVERIFY(writeFile(path("F/" + composed), "composed"));
    QVERIFY(writeFile(path("F/" + nfd(composed)), "decomposed"));
    const QList<Entry> entries = ZipWriter::makeEntries({url("F")});
    QStringList names = paths(entries);
    names.sort();
    QCOMPARE(names, (QStringList{"F/", "F/café (2).txt", "F/café.txt"}));
    QVERIFY(!ZipWriter::write(entries, QUrl::fromLocalFile(archivePath())));
    const ToolResult unzip = runTool("unzip", {"-q", archivePath(), "-d", path("unpacked")});
    QCOMPARE(unzip.exitCode, 0);
    QStringList contents{readAll(path("unpacked/F/café.txt")),
                         readAll(path("unpacked/F/café (2).txt"))};
    contents.sort();
    QCOMPARE(contents, (QStringList{"composed", "decomposed"}));
}

void TestZipWriter::windowsNames_data()
{
    // Items given in this order (a "/" puts a file inside the given folder), and the entries.
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<QStringList>("entries");
    QStringList refused, lookAlikes;
    for (const QChar c : QString("<>:\"\\|?*"))
        refused << "a" + QString(c) + "b";
    for (const QChar c : QString("＜＞：＂＼｜？＊"))
        lookAlikes << "a" + QString(c) + "b";
    QTest::newRow("refused characters") << refused << lookAlikes;
    QTest::newRow("control characters, trailing dots and spaces")
        << QStringList{"tab\there\x01.txt", "\x1fstart", "끝.", "끝 ", "x. . .", "..."}
        << QStringList{"tab_here_.txt", "_start", "끝", "끝 (2)", "x", "_"};
    QStringList devices{"CON", "PRN", "AUX", "NUL"};
    for (int n = 1; n <= 9; ++n)
        devices << QString("COM%1").arg(n) << QString("LPT%1").arg(n);
    for (const QString &device : std::as_const(devices))
        QTest::addRow("%s", qPrintable(device))
            << QStringList{device, device.toLower() + ".txt", device + " .tar.gz"}
            << QStringList{"_" + device, "_" + device.toLower() + ".txt",
                           "_" + device + " .tar.gz"};
    QTest::newRow("not device names") << QStringList{"CONSOLE.txt", "COM0", "LPT10.log", "NULL"}
                                      << QStringList{"CONSOLE.txt", "COM0", "LPT10.log", "NULL"};
    QTest::newRow("collisions made by the mapping and letter case")
        << QStringList{"a:b.txt", "a：b.txt", "CON", "_CON", "R.txt", "r.TXT", "F/a", "f/a"}
        << QStringList{"a：b.txt",  "a：b (2).txt", "_CON", "_CON (2)", "R.txt",
                       "r (2).TXT", "F/",           "F/a",  "f (2)/",   "f (2)/a"};
    QTest::newRow("Korean NFD") << QStringList{nfd("보고서: 최종?.hwp"), nfd("사진*/여름?.jpg")}
                                << QStringList{"보고서： 최종？.hwp", "사진＊/",
                                               "사진＊/여름？.jpg"};
    const QString a(250, u'a'), f(150, u'f');
    QTest::newRow("long names keep their extension")
        << QStringList{a + ".txt", a + ".TXT", f + "/" + QString(80, u'가') + ".txt"}
        << QStringList{a.left(196) + ".txt", a.left(192) + " (2).TXT", f + "/",
                       f + "/" + QString(45, u'가') + ".txt"};
}

void TestZipWriter::windowsNames()
{
    QFETCH(QStringList, items);
    QFETCH(QStringList, entries);
    QList<QUrl> urls;
    for (qsizetype i = 0; i < items.size(); ++i) {
        const QString folder = QString("in/%1/").arg(i);
        QVERIFY(writeFile(path(folder + items[i]), "x"));
        urls.append(url(folder + items[i].section(u'/', 0, 0)));
    }
    QCOMPARE(paths(ZipWriter::makeEntries(urls)), entries);
    QVERIFY(!ZipWriter::writeArchive(urls, QUrl::fromLocalFile(archivePath())));
    VYO_VERIFY_READERS(archivePath(), entries);
    // Windows' rules, checked on their own, with room left for a 58-character destination folder.
    const ToolResult windows =
        runTool("python3", {VYO_WINDOWS_ZIP_NAMES, archivePath(),
                            QString::number(260 - 2 - ZipWriter::maximumPathLength)});
    QVERIFY2(windows.exitCode == 0, windows.output.constData());
    QCOMPARE(QString::fromUtf8(windows.output).split(u'\n', Qt::SkipEmptyParts),
             QStringList{"ok"} + entries);
}

void TestZipWriter::unicodeNamesSurviveEveryReader()
{
    const QStringList names{
        QStringLiteral("이모지 😀🎉.txt"),
        QStringLiteral("가족 👨‍👩‍👧‍👦 🏳️‍🌈.txt"),
        QStringLiteral("café crème.txt"),
        QStringLiteral("Ångström.md"),
        QStringLiteral("Tiếng Việt có dấu.txt"),
        QStringLiteral("עברית والعربية.txt"),
        QStringLiteral("がぎぐげご パピプペポ.txt"),
        QStringLiteral("देवनागरी.txt"),
        QStringLiteral("spaces  (brackets) [x] {y} #1 %20 'q'.txt"),
        QString(QStringLiteral("가")).repeated(83) + QStringLiteral(".txt"), // 253 bytes
    };
    QList<QUrl> urls;
    for (qsizetype i = 0; i < names.size(); ++i) {
        // Every other one as the file system of another system would store it: decomposed.
        // (When that still fits the file system's 255 bytes.)
        const QString onDisk =
            i % 2 && nfd(names[i]).toUtf8().size() <= 255 ? nfd(names[i]) : names[i];
        QVERIFY2(writeFile(path("in/" + onDisk), names[i].toUtf8()), qPrintable(names[i]));
        urls.append(url("in/" + onDisk));
    }
    QVERIFY(!ZipWriter::writeArchive(urls, QUrl::fromLocalFile(archivePath())));
    VYO_VERIFY_READERS(archivePath(), names);

    // Unpacked by three readers, every file is there under its precomposed name.
    const ToolResult unzip = runTool("unzip", {"-q", archivePath(), "-d", path("unzip")});
    QCOMPARE(unzip.exitCode, 0);
    QVERIFY(QDir().mkpath(path("bsdtar")));
    const ToolResult tar = runTool("bsdtar", {"-xf", archivePath(), "-C", path("bsdtar")});
    QCOMPARE(tar.exitCode, 0);
    const ToolResult sevenZip = runTool("7z", {"x", "-y", "-o" + path("7z"), archivePath()});
    QCOMPARE(sevenZip.exitCode, 0);
    for (const char *reader : {"unzip", "bsdtar", "7z"}) {
        QStringList unpacked = QDir(path(reader)).entryList(QDir::Files);
        unpacked.sort();
        QStringList sorted = names;
        sorted.sort();
        QCOMPARE(unpacked, sorted);
        for (const QString &name : names)
            QCOMPARE(readAll(path(QString::fromLatin1(reader) + "/" + name)), name.toUtf8());
    }
}

void TestZipWriter::specialFilesAreSkipped()
{
    // A pipe would block the reader forever; sockets and devices have no contents to archive.
    QVERIFY(writeFile(path("F/real.txt"), "r"));
    QVERIFY(QDir().mkpath(path("top")));
    QCOMPARE(::mkfifo(QFile::encodeName(path("F/pipe")).constData(), 0600), 0);
    QCOMPARE(::mkfifo(QFile::encodeName(path("top/pipe")).constData(), 0600), 0);
    const QList<Entry> entries = ZipWriter::makeEntries({url("top/pipe"), url("F")});
    QCOMPARE(paths(entries), (QStringList{"F/", "F/real.txt"}));
    QVERIFY(!ZipWriter::write(entries, QUrl::fromLocalFile(archivePath())));
}

void TestZipWriter::symbolicLinks()
{
    QVERIFY(writeFile(path("F/real.txt"), "real"));
    QVERIFY(writeFile(path("F/sub/x.txt"), "x"));
    QVERIFY(writeFile(path("E/y.txt"), "y"));
    const auto link = [this](const char *target, const char *at) {
        return QFile::link(QString::fromUtf8(target), path(QString::fromUtf8(at)));
    };
    QVERIFY(link("real.txt", "F/link.txt"));
    QVERIFY(link("sub", "F/aLinkToSub")); // sorts before the folder it points to
    QVERIFY(link(".", "F/loop"));
    QVERIFY(link(qPrintable(path("E")), "F/external"));
    QVERIFY(link("nowhere", "F/dangling"));
    QVERIFY(link("F/sub", "topLink"));

    const QList<Entry> entries = ZipWriter::makeEntries({url("F"), url("topLink")});
    // A link to a file brings the file's contents; a link to a folder outside brings its
    // contents; a link into the archived folder, or one that loops, stays an empty folder
    // entry; a dangling link is nothing. A link passed at the top level is followed.
    const QList<Entry> expected{
        {"F/", std::nullopt},
        {"F/aLinkToSub/", std::nullopt},
        {"F/external/", std::nullopt},
        {"F/external/y.txt", url("F/external/y.txt")},
        {"F/link.txt", url("F/link.txt")},
        {"F/loop/", std::nullopt},
        {"F/real.txt", url("F/real.txt")},
        {"F/sub/", std::nullopt},
        {"F/sub/x.txt", url("F/sub/x.txt")},
        {"topLink/", std::nullopt},
        {"topLink/x.txt", url("topLink/x.txt")},
    };
    QCOMPARE(paths(entries), paths(expected));
    QVERIFY(entries == expected);
    QVERIFY(!ZipWriter::write(entries, QUrl::fromLocalFile(archivePath())));
    VYO_VERIFY_READERS(archivePath(), paths(expected));
    const ToolResult linked = runTool("unzip", {"-p", archivePath(), "F/link.txt"});
    QCOMPARE(linked.output, QByteArray("real"));
}

void TestZipWriter::errorDescriptions_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QUrl>("source");
    QTest::addColumn<QString>("description");
    QTest::newRow("unreadable") << int(ZipError::Code::unreadable)
                                << QUrl::fromLocalFile("/tmp/x/a.pdf")
                                << QStringLiteral("a.pdf 파일을 읽을 수 없습니다.");
    QTest::newRow("unreadable Korean")
        << int(ZipError::Code::unreadable) << QUrl::fromLocalFile("/tmp/보고서 최종.hwpx")
        << QStringLiteral("보고서 최종.hwpx 파일을 읽을 수 없습니다.");
    QTest::newRow("unreadable folder with slash")
        << int(ZipError::Code::unreadable) << QUrl::fromLocalFile("/tmp/사진/")
        << QStringLiteral("사진 파일을 읽을 수 없습니다.");
    QTest::newRow("too large") << int(ZipError::Code::tooLarge) << QUrl()
                               << QStringLiteral("ZIP은 4GB까지 만들 수 있습니다.");
}

void TestZipWriter::errorDescriptions()
{
    QFETCH(int, code);
    QFETCH(QUrl, source);
    QFETCH(QString, description);
    const ZipError error = ZipError::Code(code) == ZipError::Code::unreadable
                               ? ZipError::unreadable(source)
                               : ZipError::tooLarge();
    QCOMPARE(error.description(), description);
    QCOMPARE(ZipWriter::Failure(error).description(), description);
}

void TestZipWriter::sourceGoneBeforeWriting()
{
    QVERIFY(writeFile(path("in/first.txt"), "first"));
    QVERIFY(writeFile(path("in/a.pdf"), "pdf"));
    const QList<Entry> entries = ZipWriter::makeEntries({url("in/first.txt"), url("in/a.pdf")});
    QCOMPARE(entries.size(), 2);
    QVERIFY(QFile::remove(path("in/a.pdf")));
    const auto failure = ZipWriter::write(entries, QUrl::fromLocalFile(archivePath()));
    VERIFY_ZIP_ERROR(failure, unreadable, "a.pdf 파일을 읽을 수 없습니다.");
    QCOMPARE(failure->zipError()->source(), url("in/a.pdf"));
}

void TestZipWriter::sourceReadFails()
{
    // This process's memory file opens, but reading it at offset 0 fails (EIO): a read error in
    // the middle of streaming must fail the archive, not end the entry early as if complete.
    const QUrl memory = QUrl::fromLocalFile("/proc/self/mem");
    {
        QFile probe(memory.toLocalFile());
        QVERIFY(probe.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
        char byte;
        QCOMPARE(probe.read(&byte, 1), -1);
    }
    QVERIFY(writeFile(path("in/first.txt"), "first"));
    const auto failure = ZipWriter::write({{"first.txt", url("in/first.txt")}, {"mem", memory}},
                                          QUrl::fromLocalFile(archivePath()));
    VERIFY_ZIP_ERROR(failure, unreadable, "mem 파일을 읽을 수 없습니다.");
}

void TestZipWriter::destinationFolderIsAFile()
{
    QVERIFY(writeFile(path("in/a.txt"), "a"));
    QVERIFY(writeFile(path("blocker"), "not a folder"));
    const QString destination = path("blocker/archive.zip");
    const auto failure =
        ZipWriter::writeArchive({url("in/a.txt")}, QUrl::fromLocalFile(destination));
    QVERIFY(failure);
    QVERIFY(!failure->zipError());
    QVERIFY2(!failure->description().isEmpty(), "the system's description is passed on");
    QVERIFY(!QFileInfo::exists(destination));
    QCOMPARE(readAll(path("blocker")), QByteArray("not a folder"));
}

void TestZipWriter::diskFull_data()
{
    // The limit counts from the start of the file, or back from the full archive's end; every
    // part of the archive gets a row: headers, names, deflated and stored data, central
    // directory, end record.
    QTest::addColumn<bool>("fromEnd");
    QTest::addColumn<qint64>("offset");
    QTest::newRow("nothing fits") << false << qint64(0);
    QTest::newRow("inside the first header") << false << qint64(20);
    QTest::newRow("inside the first name") << false << qint64(35);
    QTest::newRow("inside deflated data") << false << qint64(100000);
    QTest::newRow("inside stored data") << false << qint64(250000);
    QTest::newRow("inside the central directory") << true << qint64(-60);
    QTest::newRow("inside the end record") << true << qint64(-10);
    QTest::newRow("one byte short") << true << qint64(-1);
    QTest::newRow("exactly enough") << true << qint64(0);
}

void TestZipWriter::diskFull()
{
    QFETCH(bool, fromEnd);
    QFETCH(qint64, offset);
    QVERIFY(writeFile(path("in/noise.bin"), randomBytes(200000, 6)));
    QVERIFY(writeFile(path("in/photo.jpg"), randomBytes(100000, 7)));
    QVERIFY(QDir().mkpath(path("in/folder")));
    const QList<QUrl> urls{url("in/noise.bin"), url("in/photo.jpg"), url("in/folder")};
    const QString unlimited = path("out/unlimited.zip");
    QVERIFY(!ZipWriter::writeArchive(urls, QUrl::fromLocalFile(unlimited)));
    const qint64 fullSize = QFileInfo(unlimited).size();
    QVERIFY(fullSize > 300000);
    const qint64 limit = fromEnd ? fullSize + offset : offset;

    for (const int threads : {1, 2}) {
        std::optional<ZipWriter::Failure> failure;
        {
            FileSizeLimit fileSizeLimit{rlim_t(limit)};
            QVERIFY(fileSizeLimit.isActive());
            failure = ZipWriter::write(ZipWriter::makeEntries(urls),
                                       QUrl::fromLocalFile(archivePath()), {}, threads);
        }
        if (limit >= fullSize) {
            QVERIFY2(!failure, failure ? qPrintable(failure->description()) : "");
            VYO_VERIFY_READERS(archivePath(), {"noise.bin", "photo.jpg", "folder/"});
        } else {
            QVERIFY2(failure, "a full disk must never be reported as success");
            QVERIFY(!failure->zipError());
            QCOMPARE(failure->description(), QStringLiteral("File too large"));
        }
    }
}

void TestZipWriter::parallelFailureInOrder()
{
    // Entries compressed ahead fail in archive order: the unreadable file, not the missing one
    // after it that a compressing thread may reach first; large output waiting in a temporary
    // file leaves nothing behind.
    QVERIFY(writeFile(path("in/noise.bin"), randomBytes(5 * ZipWriter::readChunkSize, 9)));
    const QList<Entry> entries{{"noise.bin", url("in/noise.bin")},
                               {"mem", QUrl::fromLocalFile("/proc/self/mem")},
                               {"gone.txt", url("in/gone.txt")},
                               {"noise2.bin", url("in/noise.bin")}};
    const auto failure = ZipWriter::write(entries, QUrl::fromLocalFile(archivePath()), {}, 2);
    VERIFY_ZIP_ERROR(failure, unreadable, "mem 파일을 읽을 수 없습니다.");
    QCOMPARE(QDir(path("out")).entryList(QDir::Files | QDir::Hidden | QDir::System),
             QStringList{"archive.zip"});
}

void TestZipWriter::archiveInsideArchivedFolder()
{
    QVERIFY(writeFile(path("F/a.txt"), "a"));
    QVERIFY(writeFile(path("F/old.zip"), randomBytes(3 * 1024 * 1024, 8)));
    const QString destination = path("F/old.zip");
    // The folder is listed while the old file is still there; then it is replaced by the archive.
    QVERIFY(!ZipWriter::writeArchive({url("F")}, QUrl::fromLocalFile(destination)));
    QVERIFY(QFileInfo(destination).size() < 4096);
    VYO_VERIFY_READERS(destination, {"F/", "F/a.txt"});
}

void TestZipWriter::sourceBeyond4GB()
{
    // A sparse file: 4 GiB + 1 byte long, no disk space used, never read.
    QFile huge(path("in/huge.bin"));
    QVERIFY(QDir().mkpath(path("in")));
    QVERIFY(huge.open(QIODevice::WriteOnly));
    QVERIFY(huge.resize(qint64(ZipWriter::maximumSize) + 1));
    huge.close();
    QVERIFY(writeFile(path("in/small.txt"), "small"));
    const auto failure = ZipWriter::writeArchive({url("in/small.txt"), url("in/huge.bin")},
                                                 QUrl::fromLocalFile(archivePath()));
    VERIFY_ZIP_ERROR(failure, tooLarge, "ZIP은 4GB까지 만들 수 있습니다.");
    QVERIFY(QFileInfo(archivePath()).size() < 1024);
}

void TestZipWriter::entryCountLimit_data()
{
    QTest::addColumn<int>("count");
    QTest::newRow("65,535 entries fit") << 65535;
    QTest::newRow("65,536 entries do not") << 65536;
}

void TestZipWriter::entryCountLimit()
{
    QFETCH(int, count);
    QList<Entry> entries;
    QStringList names;
    for (int i = 0; i < count; ++i) {
        names.append(QStringLiteral("%1/").arg(i, 5, 10, QLatin1Char('0')));
        entries.append({names.last(), std::nullopt});
    }
    const auto failure = ZipWriter::write(entries, QUrl::fromLocalFile(archivePath()));
    if (count > 65535) {
        VERIFY_ZIP_ERROR(failure, tooLarge, "ZIP은 4GB까지 만들 수 있습니다.");
        return;
    }
    QVERIFY(!failure);
    const auto layout = layoutOf(archivePath());
    QVERIFY(layout);
    QCOMPARE(layout->totalRecords, 65535);
    // 0xFFFF records is no ZIP64 marker to the readers: no ZIP64 locator precedes the end record.
    VYO_VERIFY_READERS(archivePath(), names);
    const ToolResult sevenZip = runTool("7z", {"t", archivePath()});
    QVERIFY2(sevenZip.exitCode == 0 && sevenZip.output.contains("Folders: 65535"),
             sevenZip.output.constData());
}

void TestZipWriter::nameLengthLimit_data()
{
    QTest::addColumn<int>("length");
    QTest::newRow("65,535 bytes fit") << 65535;
    QTest::newRow("65,536 bytes do not") << 65536;
}

void TestZipWriter::nameLengthLimit()
{
    QFETCH(int, length);
    QVERIFY(writeFile(path("in/a.txt"), "a"));
    const QString name = QString(length - 4, u'n') + QStringLiteral(".txt");
    const auto failure =
        ZipWriter::write({{name, url("in/a.txt")}}, QUrl::fromLocalFile(archivePath()));
    if (length > 65535) {
        VERIFY_ZIP_ERROR(failure, tooLarge, "ZIP은 4GB까지 만들 수 있습니다.");
        return;
    }
    QVERIFY(!failure);
    QString error;
    const QJsonObject report = pythonReport(archivePath(), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(pythonNames(report), QStringList{name});
    QVERIFY(report.value("testzip").isNull());
}

void TestZipWriter::centralDirectoryLimits_data()
{
    // Entries named "a" (local header 31 bytes) with the given compressed sizes, as if their
    // data had been written; uncompressed sizes are equal unless the row says otherwise.
    QTest::addColumn<QList<quint64>>("sizes");
    QTest::addColumn<quint64>("uncompressedOfFirst");
    QTest::addColumn<QString>("outcome");
    const quint64 max = ZipWriter::maximumSize;
    QTest::newRow("entry of exactly 0xFFFFFFFF bytes")
        << QList<quint64>{max - 31 - 31 - 31 - 31, 0} << max << "ok";
    QTest::newRow("compressed size of exactly 0xFFFFFFFF, no room after it")
        << QList<quint64>{max, 0} << quint64(0) << "begin 1";
    QTest::newRow("uncompressed size over") << QList<quint64>{1000} << max + 1 << "end 0";
    QTest::newRow("compressed size over") << QList<quint64>{max + 1} << quint64(0) << "end 0";
    QTest::newRow("next header at 0xFFFFFFFF, directory after it")
        << QList<quint64>{max - 31, 0} << quint64(0) << "finish";
    QTest::newRow("directory at exactly 0xFFFFFFFF")
        << QList<quint64>{max - 31 - 31, 0} << quint64(0) << "ok";
    QTest::newRow("next header beyond 0xFFFFFFFF")
        << QList<quint64>{max - 30, 0} << quint64(0) << "begin 1";
}

void TestZipWriter::centralDirectoryLimits()
{
    QFETCH(QList<quint64>, sizes);
    QFETCH(quint64, uncompressedOfFirst);
    QFETCH(QString, outcome);
    ZipWriter::CentralDirectory directory;
    QList<quint64> offsets;
    for (qsizetype i = 0; i < sizes.size(); ++i) {
        QByteArray header;
        offsets.append(directory.offset());
        if (directory.beginEntry("a", 0, 0, false, &header)) {
            QCOMPARE(outcome, QStringLiteral("begin %1").arg(i));
            return;
        }
        QCOMPARE(header.size(), 31);
        QByteArray patch;
        const quint64 uncompressed = i == 0 && uncompressedOfFirst ? uncompressedOfFirst : sizes[i];
        if (directory.endEntry(0, sizes[i], uncompressed, &patch)) {
            QCOMPARE(outcome, QStringLiteral("end %1").arg(i));
            return;
        }
        QCOMPARE(le32(patch, 4), quint32(sizes[i]));
        QCOMPARE(le32(patch, 8), quint32(uncompressed));
    }
    QByteArray tail;
    const auto error = directory.finish(&tail);
    if (outcome == QStringLiteral("finish")) {
        QVERIFY(error);
        QCOMPARE(error->code(), ZipError::Code::tooLarge);
        return;
    }
    QCOMPARE(outcome, QStringLiteral("ok"));
    QVERIFY(!error);
    // The records carry the large offsets unchanged, and the end record the directory's place.
    QCOMPARE(tail.size(), sizes.size() * 47 + 22);
    for (qsizetype i = 0; i < sizes.size(); ++i)
        QCOMPARE(le32(tail, i * 47 + 42), quint32(offsets[i]));
    const qsizetype end = tail.size() - 22;
    QCOMPARE(le16(tail, end + 10), quint16(sizes.size()));
    QCOMPARE(le32(tail, end + 12), quint32(sizes.size() * 47));
    QCOMPARE(le32(tail, end + 16), quint32(directory.offset()));
    QVERIFY(directory.offset() <= ZipWriter::maximumSize);
}

QTEST_GUILESS_MAIN(TestZipWriter)
#include "tst_zipwriter.moc"
