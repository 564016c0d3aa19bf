// The quick actions on real files: which ones apply, converting and shrinking images, reading
// their text through the recognition helper, and merging PDFs and images into one PDF.

#include "actions/ImageFile.h"
#include "actions/QuickAction.h"
#include "actions/ResultFile.h"
#include "actions/TextRecognizer.h"

#include "ActionTestFiles.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QTemporaryDir>
#include <QTest>
#include <QTransform>
#include <QtConcurrent/QtConcurrentRun>

#include <poppler-qt6.h>

#include <algorithm>

#include <sys/stat.h>

using namespace vyo;
using namespace vyo::test;
using ActionSet = QList<int>;

namespace {

bool isReddish(QColor color)
{
    return color.red() > 200 && color.green() < 70 && color.blue() < 70;
}

// The corner of an image (0 top-left, 1 top-right, 2 bottom-left, 3 bottom-right) that is red.
int redCorner(const QImage &image)
{
    const int right = image.width() - 6, bottom = image.height() - 6;
    const QList<QPoint> corners{{5, 5}, {right, 5}, {5, bottom}, {right, bottom}};
    for (int i = 0; i < 4; ++i) {
        if (isReddish(image.pixelColor(corners[i])))
            return i;
    }
    return -1;
}

const QString unreadable = QStringLiteral("%1을(를) 이미지로 읽을 수 없어요.");
const QString alreadySmall = QStringLiteral("%1은(는) 이미 그보다 작아요.");
const QString noText = QStringLiteral("이미지에서 글자를 찾지 못했어요.");
const QString notMade = QStringLiteral("결과 파일을 만들지 못했어요.");

} // namespace

class TestQuickActions : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void applicability_data();
    void applicability();
    void convertsToJPEGWithTransparencyOnWhite();
    void shrinkScalesBeforeTurning();
    void shrinks_data();
    void shrinks();
    void runsOfSeveralFiles();
    void eachResultGetsFreshFolderAndInputsStayUntouched();
    void badInput_data();
    void badInput();
    void failedWritesLeaveNothing();
    void recognisesKoreanAndEnglishOnWorkerThread();
    void recognitionHelper_data();
    void recognitionHelper();
    void mergesEveryPageInOrder();
    void mergeEmbedsJPEGWithoutReencodingAndTurnsIt_data();
    void mergeEmbedsJPEGWithoutReencodingAndTurnsIt();
    void mergeSkipsWhatCannotBeRead();

private:
    QString path(const QString &name) const { return m_folder->filePath(name); }
    QString write(const QString &name, const QByteArray &bytes)
    {
        writeFile(path(name), bytes);
        return path(name);
    }
    QString png(const QString &name, QSize size)
    {
        return write(name, encodedImage(quadrantImage(size), "png"));
    }
    static QuickAction::Result run(QuickAction action, const QStringList &paths,
                                   QuickActions::Progress progress = {})
    {
        QList<QUrl> urls;
        for (const QString &file : paths)
            urls.append(QUrl::fromLocalFile(file));
        return QuickActions::perform(action, urls, progress);
    }
    // The path of the result's file at the index; empty when there is none.
    static QString made(const QuickAction::Result &result, int index = 0)
    {
        return result.output().fileURLs().value(index).toLocalFile();
    }

    std::unique_ptr<QTemporaryDir> m_folder;
};

void TestQuickActions::init()
{
    m_folder = std::make_unique<QTemporaryDir>();
    QVERIFY(m_folder->isValid());
    QDir(itemsDirectory()).removeRecursively();
}

void TestQuickActions::applicability_data()
{
    QTest::addColumn<QStringList>("items"); // file names; "text:", "link:", "missing:" the others
    QTest::addColumn<ActionSet>("applicable");
    using A = QuickAction;
    const ActionSet oneImage{A::convertToJPEG, A::resize2048, A::resize1280, A::resize800,
                             A::extractText};
    QTest::newRow("one PDF and one text: nothing")
        << QStringList{"doc.PDF", "text:메모"} << ActionSet{};
    QTest::newRow("one PNG and one PDF: all six")
        << QStringList{"a.png", "doc.pdf"} << (oneImage + ActionSet{A::mergePDF});
    QTest::newRow("two images: no text extraction")
        << QStringList{"a.png", "b.JPEG"}
        << ActionSet{A::convertToJPEG, A::resize2048, A::resize1280, A::resize800, A::mergePDF};
    QTest::newRow("one image: no merge; missing files do not count")
        << QStringList{"a.heic", "missing:gone.png", "missing:gone.pdf"} << oneImage;
    // Only the extension decides what a file is, whatever it holds (here a real PNG).
    QTest::newRow("contents do not count") << QStringList{"png", "picture.txt"} << ActionSet{};
}

void TestQuickActions::applicability()
{
    QFETCH(QStringList, items);
    QFETCH(ActionSet, applicable);
    QList<ShelfItem> shelfItems;
    for (const QString &entry : items) {
        if (entry.startsWith(u"text:"))
            shelfItems.append(ShelfItem(ShelfItem::Content::text(entry.mid(5))));
        else if (entry.startsWith(u"link:"))
            shelfItems.append(ShelfItem(ShelfItem::Content::link(QUrl(entry.mid(5)))));
        else
            shelfItems.append(ShelfItem(ShelfItem::Content::file(QUrl::fromLocalFile(
                entry.startsWith(u"missing:") ? path(entry.mid(8)) : png(entry, {4, 4})))));
    }
    ActionSet found;
    for (QuickAction action : QuickAction::allCases()) {
        if (QuickActions::isApplicable(shelfItems, action))
            found.append(int(QuickAction::Case(action)));
    }
    QCOMPARE(found, applicable);
}

void TestQuickActions::convertsToJPEGWithTransparencyOnWhite()
{
    // Red in the top-left quadrant, transparent elsewhere.
    const QImage image = quadrantImage({60, 40}, Qt::red, Qt::transparent);
    const QuickAction::Result result =
        run(QuickAction::convertToJPEG, {write("그림.png", encodedImage(image, "png"))});
    QVERIFY2(result.succeeded(), qPrintable(result.errorDescription()));
    QCOMPARE(QFileInfo(made(result)).fileName(), QStringLiteral("그림.jpg"));
    QImageReader reader(made(result));
    QCOMPARE(reader.format(), QByteArray("jpeg"));
    const QImage back = reader.read();
    QCOMPARE(back.size(), QSize(60, 40));
    QVERIFY(isReddish(back.pixelColor(5, 5)));
    const QColor white = back.pixelColor(40, 30);
    QVERIFY2(std::min({white.red(), white.green(), white.blue()}) > 245, qPrintable(white.name()));
}

void TestQuickActions::shrinkScalesBeforeTurning()
{
    // Stored 1200 × 900 with the red quadrant at the top left; orientation 8 turns it a quarter
    // anticlockwise. The long side is that of the picture as shown.
    const QByteArray jpeg = encodedImage(quadrantImage(QSize(1200, 900)), "jpeg", 90);
    const QString photo = write("photo.jpg", withExifOrientation(jpeg, 8));
    const QuickAction::Result result = run(QuickAction::resize800, {photo});
    QVERIFY2(result.succeeded(), qPrintable(result.errorDescription()));
    const QImage image(made(result));
    QCOMPARE(image.size(), QSize(600, 800));
    QCOMPARE(redCorner(image), 2);
}

void TestQuickActions::shrinks_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QString>("expectedName"); // empty: fails as already small
    QTest::addColumn<QSize>("expectedSize");
    QTest::newRow("long side exactly 800 is already small")
        << "exact.png" << QByteArray("png") << QSize(800, 500) << QString() << QSize();
    QTest::newRow("portrait, short side rounded")
        << "tall.png" << QByteArray("png") << QSize(1000, 3001) << "tall (800px).png"
        << QSize(267, 800);
    QTest::newRow("contents decide the format")
        << "really-png.jpg" << QByteArray("png") << QSize(1000, 1000) << "really-png (800px).png"
        << QSize(800, 800);
}

void TestQuickActions::shrinks()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, format);
    QFETCH(QSize, size);
    QFETCH(QString, expectedName);
    QFETCH(QSize, expectedSize);
    const QuickAction::Result result =
        run(QuickAction::resize800,
            {write(name, encodedImage(quadrantImage(size), format.constData(), 90))});
    if (expectedName.isEmpty()) {
        QCOMPARE(result.errorDescription(), alreadySmall.arg(name));
        QCOMPARE(filesBelow(itemsDirectory()), QStringList());
        return;
    }
    QVERIFY2(result.succeeded(), qPrintable(result.errorDescription()));
    QCOMPARE(QFileInfo(made(result)).fileName(), expectedName);
    QImageReader reader(made(result));
    QCOMPARE(reader.size(), expectedSize);
    QCOMPARE(reader.format(), format);
}

void TestQuickActions::runsOfSeveralFiles()
{
    const QString small = png("small.png", {300, 200});
    const QString large = png("large.png", {2000, 1000});
    const QString broken = write("broken.png", "not an image at all");
    QList<std::pair<int, int>> counted;
    const auto count = [&](int done, int total) { counted.append({done, total}); };

    // A shrink goes past files that fail, counting them as done.
    QuickAction::Result result = run(QuickAction::resize1280, {small, large, broken}, count);
    QVERIFY2(result.succeeded(), qPrintable(result.errorDescription()));
    QCOMPARE(counted, (QList<std::pair<int, int>>{{1, 3}, {2, 3}, {3, 3}}));
    QCOMPARE(result.output().fileURLs().size(), 1);
    QCOMPARE(QFileInfo(made(result)).fileName(), QStringLiteral("large (1280px).png"));

    // A conversion stops at the first failure and keeps what it made before.
    QDir(itemsDirectory()).removeRecursively();
    counted.clear();
    result = run(QuickAction::convertToJPEG, {small, broken, large}, count);
    QCOMPARE(result.errorDescription(), unreadable.arg("broken.png"));
    QCOMPARE(counted, (QList<std::pair<int, int>>{{1, 3}}));
    const QStringList written = filesBelow(itemsDirectory());
    QCOMPARE(written.size(), 1);
    QVERIFY(written.first().endsWith(u"/small.jpg"));
}

void TestQuickActions::eachResultGetsFreshFolderAndInputsStayUntouched()
{
    // Two inputs of the same name from different folders must not collide.
    const QByteArray bytes = encodedImage(quadrantImage({1000, 900}), "png");
    const QuickAction::Result result =
        run(QuickAction::resize800, {write("a/same.png", bytes), write("b/same.png", bytes)});
    QVERIFY2(result.succeeded(), qPrintable(result.errorDescription()));
    const QString folderA = QFileInfo(made(result, 0)).absolutePath();
    const QString folderB = QFileInfo(made(result, 1)).absolutePath();
    QVERIFY(folderA != folderB);
    for (const QString &folder : {folderA, folderB})
        QCOMPARE(QFileInfo(folder).absolutePath(), QFileInfo(itemsDirectory()).absoluteFilePath());
    QCOMPARE(filesBelow(m_folder->path()), (QStringList{"a/same.png", "b/same.png"}));
}

void TestQuickActions::badInput_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("converts");
    QTest::addColumn<QString>("shrinkError");
    QTest::addColumn<QString>("textError");
    QTest::newRow("truncated jpeg") << "cut.jpg" << false << unreadable << unreadable;
    QTest::newRow("1 x 1") << "dot.png" << true << alreadySmall << noText;
    QTest::newRow("20000 x 20000") << "huge.png" << false << unreadable << unreadable;
    // Opening a pipe named like an image used to block the action for good.
    QTest::newRow("named pipe") << "pipe.png" << false << unreadable << unreadable;
}

void TestQuickActions::badInput()
{
    QFETCH(QString, name);
    QFETCH(bool, converts);
    QFETCH(QString, shrinkError);
    QFETCH(QString, textError);
    const QString file = path(name);
    const QString kind = QTest::currentDataTag();
    if (kind.startsWith("truncated")) {
        const QByteArray jpeg = encodedImage(quadrantImage({1600, 1200}), "jpeg", 90);
        writeFile(file, jpeg.left(jpeg.size() * 2 / 3));
        QVERIFY(ImageFile::isCompleteJPEG(jpeg) && !ImageFile::isCompleteJPEG(jpeg.chopped(2)));
    } else if (kind.startsWith("1 x 1")) {
        png(name, {1, 1});
    } else if (kind.startsWith("20000")) {
        QVERIFY(writeLargePNG(file, QSize(20000, 20000)));
        QCOMPARE(QImageReader(file).size(), QSize(20000, 20000));
    } else {
        QCOMPARE(::mkfifo(QFile::encodeName(file).constData(), 0600), 0);
    }

    QuickAction::Result result = run(QuickAction::convertToJPEG, {file});
    if (converts) {
        QVERIFY2(result.succeeded(), qPrintable(result.errorDescription()));
        QCOMPARE(QImage(made(result)).size(), ImageFile(file).size());
        QDir(itemsDirectory()).removeRecursively();
    } else {
        QCOMPARE(result.errorDescription(), unreadable.arg(name));
    }
    const auto named = [&](const QString &error) {
        return error.contains(u'%') ? error.arg(name) : error;
    };
    QCOMPARE(run(QuickAction::resize800, {file}).errorDescription(), named(shrinkError));
    QCOMPARE(run(QuickAction::extractText, {file}).errorDescription(), named(textError));
    // Nothing that looks like a result is left behind.
    QCOMPARE(filesBelow(itemsDirectory()), QStringList());
}

void TestQuickActions::failedWritesLeaveNothing()
{
    const QuickAction::Result half =
        writeResultFile(QStringLiteral("half.jpg"), [](QIODevice *device) {
            device->write("only half of it");
            return false;
        });
    QCOMPARE(half.errorDescription(), notMade);
    QCOMPARE(QDir(itemsDirectory()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList());

    // A file where the items folder should be: no output folder can be made, whoever runs this.
    const QString photo = png("photo.png", {1000, 900});
    QDir(itemsDirectory()).removeRecursively();
    QVERIFY(writeFile(itemsDirectory(), "in the way"));
    const QuickAction::Result result = run(QuickAction::resize800, {photo});
    QFile::remove(itemsDirectory());
    QVERIFY(!result.succeeded() && !result.actionError());
    QVERIFY2(result.errorDescription().contains(itemsDirectory()),
             qPrintable(result.errorDescription()));
}

void TestQuickActions::recognisesKoreanAndEnglishOnWorkerThread()
{
    // Stored a quarter turn anticlockwise; orientation 6 turns it upright again. Callers run
    // actions in the background: the helper is started from a pool thread.
    const QImage stored = renderedText({"안녕하세요 반갑습니다", "Meeting notes 2024"})
                              .transformed(QTransform().rotate(-90));
    const QString memo =
        write("memo.jpg", withExifOrientation(encodedImage(stored, "jpeg", 95), 6));
    QFuture<QuickAction::Result> future =
        QtConcurrent::run([memo] { return run(QuickAction::extractText, {memo}); });
    future.waitForFinished();
    const QuickAction::Result result = future.result();
    QVERIFY2(result.succeeded(), qPrintable(result.errorDescription()));
    QCOMPARE(result.output().text(), QStringLiteral("안녕하세요 반갑습니다\nMeeting notes 2024"));
}

void TestQuickActions::recognitionHelper_data()
{
    // Stand-ins for the recognition helper: shell scripts.
    QTest::addColumn<QString>("script"); // empty: no helper at all
    QTest::addColumn<int>("timeout");
    QTest::addColumn<QString>("text"); // empty: fails
    QTest::addColumn<QString>("error");
    QTest::newRow("runs with one OpenMP thread")
        << "printf '%s' \"threads=$OMP_THREAD_LIMIT\"" << 30000 << "threads=1" << QString();
    QTest::newRow("stopped after its time")
        << "exec sleep 60" << 300 << QString() << unreadable.arg("a.png");
    QTest::newRow("missing") << QString() << 30000 << QString()
                             << "글자 인식 도구를 실행하지 못했어요.";
}

void TestQuickActions::recognitionHelper()
{
    QFETCH(QString, script);
    QFETCH(int, timeout);
    QFETCH(QString, text);
    QFETCH(QString, error);
    QString program = path("no-such-helper");
    if (!script.isEmpty()) {
        program = write("helper.sh", ("#!/bin/sh\n" + script + "\n").toUtf8());
        QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    const QuickAction::Result result =
        TextRecognizer(program, timeout).recognizeText(png("a.png", {8, 8}));
    QCOMPARE(result.output().text(), text);
    QCOMPARE(result.errorDescription(), error);
    // A helper that never ran is a failure of its own, not an unreadable image.
    QCOMPARE(bool(result.actionError()), !error.isEmpty() && !script.isEmpty());
}

void TestQuickActions::mergesEveryPageInOrder()
{
    // Every page has its own width, so the order can be read back.
    QVERIFY(writePDF(path("first.pdf"), {{301, 400}, {302, 400}}));
    const QString jpeg = write("photo.jpg", encodedImage(quadrantImage({120, 80}), "jpeg", 90));
    const QString notes = write("notes.txt", "not part of it");
    // Restricted by an owner password only: readable.
    QVERIFY(writePDF(path("plain.pdf"), {{250, 260}}));
    QVERIFY(writeEncryptedPDF(path("plain.pdf"), path("restricted.pdf"), ""));

    const QuickAction::Result result =
        run(QuickAction::mergePDF, {path("first.pdf"), jpeg, notes, path("restricted.pdf")});
    QVERIFY2(result.succeeded(), qPrintable(result.errorDescription()));
    QCOMPARE(QFileInfo(made(result)).fileName(), QStringLiteral("합친 문서.pdf"));
    QCOMPARE(pdfPageSizes(made(result)),
             (QList<QSizeF>{{301, 400}, {302, 400}, {120, 80}, {250, 260}}));
}

void TestQuickActions::mergeEmbedsJPEGWithoutReencodingAndTurnsIt_data()
{
    QTest::addColumn<int>("orientation");
    QTest::addColumn<int>("corner");
    // Where the stored top-left corner appears (EXIF orientation meanings).
    const int corners[] = {0, 1, 3, 2, 0, 1, 3, 2};
    for (int orientation = 1; orientation <= 8; ++orientation)
        QTest::addRow("orientation %d", orientation) << orientation << corners[orientation - 1];
}

void TestQuickActions::mergeEmbedsJPEGWithoutReencodingAndTurnsIt()
{
    QFETCH(int, orientation);
    QFETCH(int, corner);
    const QByteArray jpeg =
        withExifOrientation(encodedImage(quadrantImage({240, 160}), "jpeg", 95), orientation);
    const QString output = made(run(QuickAction::mergePDF, {write("photo.jpg", jpeg)}));
    QFile pdf(output);
    QVERIFY(pdf.open(QIODevice::ReadOnly));
    const QByteArray bytes = pdf.readAll();
    QVERIFY(bytes.contains("/DCTDecode") && bytes.contains(jpeg));

    // Rendered at 72 dpi, one point a pixel.
    const QSizeF pageSize = orientation >= 5 ? QSizeF(160, 240) : QSizeF(240, 160);
    QCOMPARE(pdfPageSizes(output).value(0), pageSize);
    const std::unique_ptr<Poppler::Document> document = Poppler::Document::load(output);
    QVERIFY(document && document->numPages() == 1);
    const QImage page = document->page(0)->renderToImage(72, 72);
    QCOMPARE(page.size(), pageSize.toSize());
    QCOMPARE(redCorner(page), corner);
}

void TestQuickActions::mergeSkipsWhatCannotBeRead()
{
    QVERIFY(writePDF(path("plain.pdf"), {{200, 300}}));
    QVERIFY(writeEncryptedPDF(path("plain.pdf"), path("locked.pdf"), "secret"));
    QCOMPARE(::mkfifo(QFile::encodeName(path("pipe.pdf")).constData(), 0600), 0);
    const QByteArray jpeg = encodedImage(quadrantImage({400, 300}), "jpeg", 90);
    QVERIFY(writeLargePNG(path("huge.png"), QSize(20000, 20000)));
    const QStringList unusable{path("locked.pdf"), path("pipe.pdf"),
                               write("garbage.pdf", "%PDF-1.7\nnothing that parses\n"),
                               write("cut.jpg", jpeg.left(jpeg.size() / 2)), path("huge.png")};
    // Nothing could be added: a failure, and nothing left behind.
    QCOMPARE(run(QuickAction::mergePDF, unusable).errorDescription(), notMade);
    QCOMPARE(filesBelow(itemsDirectory()), QStringList());
    const QString good = png("good.png", {50, 40});
    QCOMPARE(pdfPageSizes(made(run(QuickAction::mergePDF, unusable + QStringList{good}))),
             (QList<QSizeF>{{50, 40}}));
}

QTEST_MAIN(TestQuickActions)
#include "tst_quickactions.moc"
