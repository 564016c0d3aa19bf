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

using namespace vyo;
using namespace vyo::test;
using Entry = ZipWriter::Entry;
using ZipError = ZipWriter::ZipError;

namespace {

QString nfd(const QString &text)
{
    return text.normalized(QString::NormalizationForm_D);
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

} // namespace

class TestZipWriter : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();

    void headersByteByByte();
    void progressAndCancel();
    void parallelMatchesSequential();
    void dosDateTime_data();
    void dosDateTime();

    void uniqueName_data();
    void uniqueName();
    void makeEntries();
    void windowsNames_data();
    void windowsNames();

    void unreadableSources();
    void destinationFolderIsAFile();
    void diskFull_data();
    void diskFull();
    void archiveInsideArchivedFolder();
    void sourceBeyond4GB();
    void entryAndNameLimits();
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
    auto layout = parseZip(readFile(archive), &error);
    if (!layout)
        qWarning("layout: %s", qPrintable(error));
    return layout;
}

void TestZipWriter::headersByteByByte()
{
    // Already-compressed formats, by the extension after the last dot in any letter case, are
    // stored; everything else is deflated.
    struct Expected
    {
        QString name;
        quint16 method;
        QByteArray content; // empty for folders
    };
    const QList<Expected> expected{
        {"notes.txt", 8, textBytes(5000, 1)},
        {"photo.JPG", 0, randomBytes(3000, 2)},
        {"empty.txt", 8, {}},
        {"empty.png", 0, {}},
        {"backup.tar.GZ", 0, "gz"},
        {"보고서.HWPX", 0, "hwpx"},
        {".png", 0, "png"},
        {"file.zip.txt", 8, "txt"},
        {"file.zipx", 8, "zipx"},
        {"빈 폴더/", 0, {}},
        {"Docs/", 0, {}},
        {"Docs/readme.md", 8, "# 읽어 주세요\n"},
    };
    const QDateTime modified(QDate(2024, 3, 15), QTime(13, 45, 31)); // local time
    QList<QUrl> urls;
    QStringList names;
    for (const Expected &e : expected) {
        names.append(e.name);
        const QString file = "in/" + e.name;
        QFile written(path(file));
        if (e.name.endsWith(u'/'))
            QVERIFY(QDir().mkpath(path(file)));
        else
            QVERIFY(writeFile(path(file), e.content) && written.open(QIODevice::ReadWrite) &&
                    written.setFileTime(modified, QFileDevice::FileModificationTime));
        if (e.name.section(u'/', 1).isEmpty()) // at the top
            urls.append(url(file));
    }
    QVERIFY(!ZipWriter::writeArchive(urls, QUrl::fromLocalFile(archivePath())));

    const auto layout = layoutOf(archivePath());
    QVERIFY(layout);
    QCOMPARE(layout->records.size(), expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i) {
        const ZipRecord &r = layout->records[i];
        const Expected &e = expected[i];
        QCOMPARE(r.name, e.name.toUtf8());
        QCOMPARE(r.versionNeeded, 20);
        QCOMPARE(r.flags, 0x0800);
        QCOMPARE(r.versionMadeBy, 0x0314);
        QCOMPARE(r.method, e.method);
        QCOMPARE(r.uncompressedSize, quint32(e.content.size()));
        if (e.name.endsWith(u'/')) {
            QCOMPARE(r.externalAttributes, 0x41ED0010u);
            continue;
        }
        QCOMPARE(r.externalAttributes, 0x81A40000u);
        QCOMPARE(r.time, 0x6DAF); // 13:45:31
        QCOMPARE(r.date, 0x586F); // 2024-03-15
        if (e.method == 0)
            QCOMPARE(r.data, e.content);
        else if (e.content.isEmpty())
            QCOMPARE(r.data, QByteArray::fromHex("0300")); // an empty final DEFLATE block
        else if (e.content.size() > 1000)
            QVERIFY(r.compressedSize < r.uncompressedSize);
    }
    VYO_VERIFY_READERS(archivePath(), names);
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
    // One thread streams each entry straight into the archive, its header first; two threads
    // write an entry only once it is compressed.
    for (const int threads : {1, 2}) {
        QList<quint64> reports;
        bool onThisThread = true;
        qint64 archiveAtFirstReport = -1;
        const auto progress = [&](quint64 read, quint64 total) {
            onThisThread = onThisThread && QThread::currentThread() == thread();
            if (reports.isEmpty())
                archiveAtFirstReport = QFileInfo(archivePath()).size();
            reports.append(total == chunk * 5 / 2 ? read : 0);
            return reports.size() < 3;
        };
        const auto failure =
            ZipWriter::write(entries, QUrl::fromLocalFile(archivePath()), progress, threads);
        QVERIFY(onThisThread);
        QCOMPARE(reports, (QList<quint64>{chunk, chunk * 2, chunk * 5 / 2}));
        VERIFY_ZIP_ERROR(failure, cancelled, "취소했습니다.");
        QCOMPARE(archiveAtFirstReport > 0, threads == 1);
    }
}

void TestZipWriter::parallelMatchesSequential()
{
    // Many small files, text larger than what an entry keeps in memory when compressed ahead (it
    // goes through a temporary file), incompressible data, stored and empty files.
    QList<QUrl> urls;
    for (int i = 0; i < 40; ++i) {
        urls.append(url(QStringLiteral("in/f%1.h").arg(i)));
        QVERIFY(writeFile(urls.last().toLocalFile(), textBytes(i * 997, i)));
    }
    const QByteArray text = textBytes(9 * ZipWriter::readChunkSize + 3, 40);
    const QByteArray noise = randomBytes(5 * ZipWriter::readChunkSize, 41);
    QVERIFY(writeFile(path("in/big.txt"), text));
    QVERIFY(writeFile(path("in/noise.bin"), noise));
    QVERIFY(writeFile(path("in/photo.jpg"), randomBytes(300000, 42)));
    QVERIFY(writeFile(path("in/empty.txt"), QByteArray()));
    urls << url("in/big.txt") << url("in/noise.bin") << url("in/photo.jpg") << url("in/empty.txt");
    const QList<Entry> entries = ZipWriter::makeEntries(urls);
    const QString sequential = path("out/sequential.zip");
    QVERIFY(!ZipWriter::write(entries, QUrl::fromLocalFile(sequential), {}, 1));

    for (const int threads : {2, 3}) {
        QVERIFY(!ZipWriter::write(entries, QUrl::fromLocalFile(archivePath()), {}, threads));
        // The same archive, byte for byte.
        QCOMPARE(readFile(archivePath()), readFile(sequential));
        // Nothing else is left in the folder: temporary data has no name.
        QCOMPARE(QDir(path("out")).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 (QStringList{"archive.zip", "sequential.zip"}));
    }
    // The readers check every entry's CRC-32 against its data.
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
    QTest::newRow("UTC moment in Seoul")
        << QDateTime(QDate(2024, 3, 15), QTime(4, 45, 31), QTimeZone::utc()) << 0x586F6DAFu;
    QTest::newRow("odd second rounds down") << local(2000, 2, 29, 12, 0, 1) << 0x285D6000u;
    QTest::newRow("last second before 1980") << local(1979, 12, 31, 23, 59, 59) << 0x019FBF7Du;
    QTest::newRow("last representable day") << local(2107, 12, 31, 23, 59, 59) << 0xFF9FBF7Du;
    QTest::newRow("2108 becomes the last moment") << local(2108, 1, 1, 0, 0, 0) << 0xFF9FBF7Du;
    QTest::newRow("invalid") << QDateTime() << 0x00210000u;
}

void TestZipWriter::dosDateTime()
{
    QFETCH(QDateTime, date);
    QFETCH(quint32, expected);
    QCOMPARE(ZipWriter::dosDateTime(date), expected);
}

void TestZipWriter::uniqueName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("used");
    QTest::addColumn<QString>("expected");
    QTest::newRow("free") << "report.pdf" << QStringList{} << "report.pdf";
    QTest::newRow("second") << "report.pdf" << QStringList{"report.pdf"} << "report (2).pdf";
    QTest::newRow("gap is filled") << "a.txt" << QStringList{"a.txt", "a (3).txt"} << "a (2).txt";
    QTest::newRow("leading dot only") << ".profile" << QStringList{".profile"} << ".profile (2)";
    QTest::newRow("hidden with extension")
        << ".config.json" << QStringList{".config.json"} << ".config (2).json";
    QTest::newRow("last dot splits")
        << "archive.tar.gz" << QStringList{"archive.tar.gz"} << "archive.tar (2).gz";
    QTest::newRow("trailing dot") << "x." << QStringList{"x."} << "x. (2)";
    QTest::newRow("letter case differs")
        << "Report.pdf" << QStringList{"report.pdf"} << "Report.pdf";
}

void TestZipWriter::uniqueName()
{
    QFETCH(QString, name);
    QFETCH(QStringList, used);
    QFETCH(QString, expected);
    QCOMPARE(ZipWriter::uniqueName(name, QSet<QString>(used.begin(), used.end())), expected);
}

void TestZipWriter::makeEntries()
{
    // Folders depth first with hidden files skipped below the top; a missing item keeps its name
    // taken; duplicate names at the top get numbers; addresses that are no files and special
    // files (a pipe would block the reader forever) are skipped. A link to a file brings the
    // file's contents; a link to a folder outside brings its contents; a link into the archived
    // folder, or one that loops (inside it or outside), stays an empty folder entry; a dangling
    // link is nothing. A link passed at the top level is followed.
    for (const char *file :
         {"a/report.pdf", "F/a.txt", "F/b/c.txt", "F/b/d/e.txt", "F/f.txt", "F/.hidden",
          "F/.git/config", "F/b/.DS_Store", "top/.env", "d/F/1.jpg", "E/y.txt"})
        QVERIFY(writeFile(path(file), file));
    QVERIFY(QDir().mkpath(path("F/b/empty")));
    QCOMPARE(::mkfifo(QFile::encodeName(path("F/pipe")).constData(), 0600), 0);
    QCOMPARE(::mkfifo(QFile::encodeName(path("top/pipe")).constData(), 0600), 0);
    for (const auto &[target, at] : {std::pair{"a.txt", "F/link.txt"},
                                     {"b", "F/aLinkToB"}, // sorts before the folder it points to
                                     {".", "F/loop"},
                                     {"../E", "F/external"},
                                     {".", "E/self"},
                                     {"nowhere", "F/dangling"},
                                     {"F/b/d", "topLink"}})
        QVERIFY(QFile::link(QString::fromUtf8(target), path(QString::fromUtf8(at))));
    const QList<Entry> entries = ZipWriter::makeEntries(
        {url("gone/report.pdf"), url("a/report.pdf"), QUrl("https://example.com/x"), url("F"),
         url("top/.env"), url("top/pipe"), url("d/F"), url("topLink")});
    const QList<Entry> expected{
        {"report (2).pdf", url("a/report.pdf")},
        {"F/", std::nullopt},
        {"F/a.txt", url("F/a.txt")},
        {"F/aLinkToB/", std::nullopt},
        {"F/b/", std::nullopt},
        {"F/b/c.txt", url("F/b/c.txt")},
        {"F/b/d/", std::nullopt},
        {"F/b/d/e.txt", url("F/b/d/e.txt")},
        {"F/b/empty/", std::nullopt},
        {"F/external/", std::nullopt},
        {"F/external/self/", std::nullopt},
        {"F/external/y.txt", url("F/external/y.txt")},
        {"F/f.txt", url("F/f.txt")},
        {"F/link.txt", url("F/link.txt")},
        {"F/loop/", std::nullopt},
        {".env", url("top/.env")},
        {"F (2)/", std::nullopt},
        {"F (2)/1.jpg", url("d/F/1.jpg")},
        {"topLink/", std::nullopt},
        {"topLink/e.txt", url("topLink/e.txt")},
    };
    QCOMPARE(paths(entries), paths(expected));
    QVERIFY(entries == expected);
    QVERIFY(!ZipWriter::write(entries, QUrl::fromLocalFile(archivePath())));
    VYO_VERIFY_READERS(archivePath(), paths(expected));
    QCOMPARE(runTool("unzip", {"-p", archivePath(), "F/link.txt"}).output, QByteArray("F/a.txt"));
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
    QStringList devices{"CON", "PRN", "AUX", "NUL"}, deviceItems, deviceEntries;
    for (int n = 1; n <= 9; ++n)
        devices << QString("COM%1").arg(n) << QString("LPT%1").arg(n);
    for (const QString &device : std::as_const(devices)) {
        deviceItems << device << device.toLower() + ".txt" << device + " .tar.gz";
        deviceEntries << "_" + device << "_" + device.toLower() + ".txt"
                      << "_" + device + " .tar.gz";
    }
    QTest::newRow("device names") << deviceItems << deviceEntries;
    QTest::newRow("not device names") << QStringList{"CONSOLE.txt", "COM0", "LPT10.log", "NULL"}
                                      << QStringList{"CONSOLE.txt", "COM0", "LPT10.log", "NULL"};
    QTest::newRow("collisions made by the mapping and letter case")
        << QStringList{"a:b.txt", "a：b.txt", "CON", "_CON", "R.txt", "r.TXT", "F/a", "f/a"}
        << QStringList{"a：b.txt",  "a：b (2).txt", "_CON", "_CON (2)", "R.txt",
                       "r (2).TXT", "F/",           "F/a",  "f (2)/",   "f (2)/a"};
    // Two files whose names differ only in Unicode form: one name on Windows.
    QTest::newRow("equal after NFC, and other scripts")
        << QStringList{"café.txt", nfd("café.txt"), "가족 👨‍👩‍👧‍👦.txt",
                       nfd("Tiếng Việt.txt")}
        << QStringList{"café.txt", "café (2).txt", "가족 👨‍👩‍👧‍👦.txt",
                       "Tiếng Việt.txt"};
    QTest::newRow("Korean NFD") << QStringList{nfd("보고서: 최종?.hwp"), nfd("사진*/여름?.jpg")}
                                << QStringList{"보고서： 최종？.hwp", "사진＊/",
                                               "사진＊/여름？.jpg"};
    const QString a(250, u'a'), f(150, u'f'), g(196, u'g');
    QTest::newRow("long names keep their extension")
        << QStringList{a + ".txt", a + ".TXT", f + "/" + QString(80, u'가') + ".txt"}
        << QStringList{a.left(196) + ".txt", a.left(192) + " (2).TXT", f + "/",
                       f + "/" + QString(45, u'가') + ".txt"};
    // Three characters left: "CON" would become "_CON", four.
    QTest::newRow("shortened into a device name")
        << QStringList{g + "/CONSOLE"} << QStringList{g + "/", g + "/CO"};
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
}

void TestZipWriter::unreadableSources()
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
    // Entries compressed ahead fail in archive order: the unreadable file, not the missing one
    // after it that a compressing thread may reach first; large output waiting in a temporary
    // file leaves nothing behind.
    QVERIFY(writeFile(path("in/noise.bin"), randomBytes(5 * ZipWriter::readChunkSize, 9)));
    const QList<Entry> entries{{"noise.bin", url("in/noise.bin")},
                               {"mem", memory},
                               {"gone.txt", url("in/gone.txt")},
                               {"noise2.bin", url("in/noise.bin")}};
    for (const int threads : {1, 2}) {
        const auto failure =
            ZipWriter::write(entries, QUrl::fromLocalFile(archivePath()), {}, threads);
        VERIFY_ZIP_ERROR(failure, unreadable, "mem 파일을 읽을 수 없습니다.");
        QCOMPARE(QDir(path("out")).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 QStringList{"archive.zip"});
    }

    // A file gone between listing and writing.
    QVERIFY(writeFile(path("in/a.pdf"), "pdf"));
    const QList<Entry> listed = ZipWriter::makeEntries({url("in/noise.bin"), url("in/a.pdf")});
    QVERIFY(QFile::remove(path("in/a.pdf")));
    const auto failure = ZipWriter::write(listed, QUrl::fromLocalFile(archivePath()));
    VERIFY_ZIP_ERROR(failure, unreadable, "a.pdf 파일을 읽을 수 없습니다.");
    QCOMPARE(failure->zipError()->source(), url("in/a.pdf"));
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
    QCOMPARE(readFile(path("blocker")), QByteArray("not a folder"));
}

void TestZipWriter::diskFull_data()
{
    // The limit counts from the start of the file, or back from the full archive's end; every
    // part of the archive gets a row: headers, names, deflated and stored data, central
    // directory, end record.
    QTest::addColumn<bool>("fromEnd");
    QTest::addColumn<qint64>("offset");
    QTest::newRow("nothing fits") << false << qint64(0);
    QTest::newRow("inside deflated data") << false << qint64(100000);
    QTest::newRow("inside stored data") << false << qint64(250000);
    QTest::newRow("inside the central directory") << true << qint64(-60);
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
    const qint64 limit = fromEnd ? fullSize + offset : offset;

    // Writes past a file-size limit fail with EFBIG ("File too large"), as they would on a full
    // disk, instead of killing the process.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit limited = saved;
    limited.rlim_cur = rlim_t(limit);
    for (const int threads : {1, 2}) {
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
        const auto failure = ZipWriter::write(ZipWriter::makeEntries(urls),
                                              QUrl::fromLocalFile(archivePath()), {}, threads);
        setrlimit(RLIMIT_FSIZE, &saved);
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
    rlimit fileSize{};
    if (getrlimit(RLIMIT_FSIZE, &fileSize) == 0 && fileSize.rlim_cur <= ZipWriter::maximumSize)
        QSKIP("this process may not make files of 4 GiB");
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

void TestZipWriter::entryAndNameLimits()
{
    // 65,535 entries fit, one more does not. 0xFFFF records is no ZIP64 marker to the readers: no
    // ZIP64 locator precedes the end record.
    QList<Entry> entries;
    QStringList names;
    for (int i = 0; i <= 65535; ++i) {
        names.append(QStringLiteral("%1/").arg(i, 5, 10, QLatin1Char('0')));
        entries.append({names.last(), std::nullopt});
    }
    const auto tooMany = ZipWriter::write(entries, QUrl::fromLocalFile(archivePath()));
    VERIFY_ZIP_ERROR(tooMany, tooLarge, "ZIP은 4GB까지 만들 수 있습니다.");
    entries.removeLast();
    names.removeLast();
    QVERIFY(!ZipWriter::write(entries, QUrl::fromLocalFile(archivePath())));
    QCOMPARE(layoutOf(archivePath())->totalRecords, 65535);
    VYO_VERIFY_READERS(archivePath(), names);

    // Names of 65,535 bytes fit, one more does not.
    QVERIFY(writeFile(path("in/a.txt"), "a"));
    const QString name = QString(65531, u'n') + QStringLiteral(".txt");
    const auto tooLong =
        ZipWriter::write({{name + u'x', url("in/a.txt")}}, QUrl::fromLocalFile(archivePath()));
    VERIFY_ZIP_ERROR(tooLong, tooLarge, "ZIP은 4GB까지 만들 수 있습니다.");
    QVERIFY(!ZipWriter::write({{name, url("in/a.txt")}}, QUrl::fromLocalFile(archivePath())));
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
