#include "actions/ImageFile.h"
#include "actions/QuickAction.h"
#include "actions/ResultFile.h"

#include "ActionTestFiles.h"
#include "TestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace vyo;
using namespace vyo::test;

namespace {

QByteArray checksum(const QString &path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

bool isReddish(QRgb pixel)
{
    return qRed(pixel) > 200 && qGreen(pixel) < 60 && qBlue(pixel) < 60;
}

// Where the top-left quadrant of the stored image appears once the orientation is applied.
enum Corner { topLeft, topRight, bottomLeft, bottomRight };

Corner redCorner(const QImage &image)
{
    const int right = image.width() - 3;
    const int bottom = image.height() - 3;
    if (isReddish(image.pixel(2, 2)))
        return topLeft;
    if (isReddish(image.pixel(right, 2)))
        return topRight;
    if (isReddish(image.pixel(2, bottom)))
        return bottomLeft;
    return bottomRight;
}

} // namespace

class TestImageActions : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void convertsToJPEGWithTransparencyOnWhite();
    void orientationIsApplied_data();
    void orientationIsApplied();
    void shrinks_data();
    void shrinks();
    void shrinkSurvivesSingleFailures();
    void shrinkWithoutSuccessFailsWithLastError();
    void jpegRunStopsAtFirstFailure();
    void eachResultGetsFreshFolderAndInputsStayUntouched();
    void readsHEIC();
    void badInput_data();
    void badInput();
    void truncatedJPEGIsDetected();
    void failedWriteLeavesNothing();
    void unwritableItemsFolderFailsWithItsError();
    void longNamesAreShortenedAtCharacterBoundary();

private:
    QString write(const QString &name, const QByteArray &bytes)
    {
        const QString path = m_folder->filePath(name);
        writeFile(path, bytes);
        return path;
    }
    QUrl url(const QString &path) { return QUrl::fromLocalFile(path); }

    std::unique_ptr<QTemporaryDir> m_folder;
};

void TestImageActions::init()
{
    m_folder = std::make_unique<QTemporaryDir>();
    QVERIFY(m_folder->isValid());
    QDir(itemsDirectory()).removeRecursively();
}

void TestImageActions::convertsToJPEGWithTransparencyOnWhite()
{
    QImage image(60, 40, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    image.setPixelColor(QPoint(50, 30), Qt::red);
    for (int x = 0; x < 20; ++x)
        for (int y = 0; y < 20; ++y)
            image.setPixelColor(x, y, Qt::red);
    const QString path = write("그림.png", encodedImage(image, "png"));

    const QuickAction::Result result =
        QuickActions::perform(QuickAction::convertToJPEG, {url(path)});
    QVERIFY2(result.succeeded(), qPrintable(result.errorDescription()));
    QCOMPARE(result.output().kind(), QuickAction::Output::Kind::files);
    QCOMPARE(result.output().fileURLs().size(), 1);
    const QString made = result.output().fileURLs().first().toLocalFile();
    QCOMPARE(QFileInfo(made).fileName(), QStringLiteral("그림.jpg"));
    QImageReader reader(made);
    QCOMPARE(reader.format(), QByteArray("jpeg"));
    const QImage back = reader.read();
    QCOMPARE(back.size(), QSize(60, 40));
    QVERIFY(isReddish(back.pixel(5, 5)));
    const QColor transparentPart = back.pixelColor(40, 10);
    QVERIFY2(transparentPart.red() > 245 && transparentPart.green() > 245 &&
                 transparentPart.blue() > 245,
             qPrintable(transparentPart.name()));
}

void TestImageActions::orientationIsApplied_data()
{
    QTest::addColumn<int>("orientation");
    QTest::addColumn<int>("action");
    QTest::addColumn<QSize>("expectedSize");
    QTest::addColumn<int>("expectedCorner");

    // Stored 1200 × 900 with the red quadrant at the top left.
    QTest::newRow("jpeg 1 as stored")
        << 1 << int(QuickAction::convertToJPEG) << QSize(1200, 900) << int(topLeft);
    QTest::newRow("jpeg 3 half turn")
        << 3 << int(QuickAction::convertToJPEG) << QSize(1200, 900) << int(bottomRight);
    QTest::newRow("jpeg 6 quarter turn clockwise")
        << 6 << int(QuickAction::convertToJPEG) << QSize(900, 1200) << int(topRight);
    QTest::newRow("jpeg 8 quarter turn anticlockwise")
        << 8 << int(QuickAction::convertToJPEG) << QSize(900, 1200) << int(bottomLeft);
    QTest::newRow("jpeg 2 mirrored")
        << 2 << int(QuickAction::convertToJPEG) << QSize(1200, 900) << int(topRight);
    QTest::newRow("shrink 6") << 6 << int(QuickAction::resize800) << QSize(600, 800)
                              << int(topRight);
    QTest::newRow("shrink 8") << 8 << int(QuickAction::resize800) << QSize(600, 800)
                              << int(bottomLeft);
    QTest::newRow("shrink 3") << 3 << int(QuickAction::resize800) << QSize(800, 600)
                              << int(bottomRight);
}

void TestImageActions::orientationIsApplied()
{
    QFETCH(int, orientation);
    QFETCH(int, action);
    QFETCH(QSize, expectedSize);
    QFETCH(int, expectedCorner);

    const QByteArray jpeg = encodedImage(quadrantImage(QSize(1200, 900)), "jpeg", 90);
    const QString path = write("photo.jpg", withExifOrientation(jpeg, orientation));
    QCOMPARE(ImageFile(path).size(), orientation >= 5 ? QSize(900, 1200) : QSize(1200, 900));

    const QuickAction::Result result =
        QuickActions::perform(QuickAction::Case(action), {url(path)});
    QVERIFY2(result.succeeded(), qPrintable(result.errorDescription()));
    const QImage made(result.output().fileURLs().first().toLocalFile());
    QCOMPARE(made.size(), expectedSize);
    QCOMPARE(int(redCorner(made)), expectedCorner);
}

void TestImageActions::shrinks_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("action");
    QTest::addColumn<QString>("expectedName"); // empty: fails
    QTest::addColumn<QSize>("expectedSize");
    QTest::addColumn<QString>("expectedError");

    QTest::newRow("1000x600 to 1280 is already small")
        << "wide.png" << QByteArray("png") << QSize(1000, 600) << int(QuickAction::resize1280)
        << QString() << QSize() << "wide.png은(는) 이미 그보다 작아요.";
    QTest::newRow("1000x600 to 800")
        << "wide.png" << QByteArray("png") << QSize(1000, 600) << int(QuickAction::resize800)
        << "wide (800px).png" << QSize(800, 480) << QString();
    QTest::newRow("long side exactly 800 is already small")
        << "exact.png" << QByteArray("png") << QSize(800, 500) << int(QuickAction::resize800)
        << QString() << QSize() << "exact.png은(는) 이미 그보다 작아요.";
    QTest::newRow("3000x2000 jpeg to 2048")
        << "photo.jpg" << QByteArray("jpeg") << QSize(3000, 2000) << int(QuickAction::resize2048)
        << "photo (2048px).jpg" << QSize(2048, 1365) << QString();
    QTest::newRow("portrait, short side rounded")
        << "tall.png" << QByteArray("png") << QSize(1000, 3001) << int(QuickAction::resize800)
        << "tall (800px).png" << QSize(267, 800) << QString();
    QTest::newRow("webp stays webp")
        << "a.webp" << QByteArray("webp") << QSize(1500, 1500) << int(QuickAction::resize1280)
        << "a (1280px).webp" << QSize(1280, 1280) << QString();
    QTest::newRow("tiff stays tiff")
        << "scan.tiff" << QByteArray("tiff") << QSize(900, 1300) << int(QuickAction::resize800)
        << "scan (800px).tif" << QSize(554, 800) << QString();
    QTest::newRow("svg cannot be written: png")
        << "logo.svg" << QByteArray("svg") << QSize(1000, 500) << int(QuickAction::resize800)
        << "logo (800px).png" << QSize(800, 400) << QString();
    QTest::newRow("contents decide the format")
        << "really-png.jpg" << QByteArray("png") << QSize(1000, 1000) << int(QuickAction::resize800)
        << "really-png (800px).png" << QSize(800, 800) << QString();
}

void TestImageActions::shrinks()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, format);
    QFETCH(QSize, size);
    QFETCH(int, action);
    QFETCH(QString, expectedName);
    QFETCH(QSize, expectedSize);
    QFETCH(QString, expectedError);

    const QByteArray bytes =
        format == "svg"
            ? QStringLiteral("<svg xmlns='http://www.w3.org/2000/svg' width='%1' height='%2'>"
                             "<rect width='100%' height='100%' fill='red'/></svg>")
                  .arg(size.width())
                  .arg(size.height())
                  .toUtf8()
            : encodedImage(quadrantImage(size), format.constData(), 90);
    const QString path = write(name, bytes);
    const QuickAction::Result result =
        QuickActions::perform(QuickAction::Case(action), {url(path)});
    if (expectedName.isEmpty()) {
        QVERIFY(!result.succeeded());
        QCOMPARE(result.errorDescription(), expectedError);
        QCOMPARE(filesBelow(itemsDirectory()), QStringList());
        return;
    }
    QVERIFY2(result.succeeded(), qPrintable(result.errorDescription()));
    QCOMPARE(result.output().fileURLs().size(), 1);
    const QString made = result.output().fileURLs().first().toLocalFile();
    QCOMPARE(QFileInfo(made).fileName(), expectedName);
    QImageReader reader(made);
    QCOMPARE(reader.size(), expectedSize);
    const QByteArray expectedFormat = format == "svg" ? QByteArray("png") : format;
    QCOMPARE(reader.format(), expectedFormat);
}

void TestImageActions::shrinkSurvivesSingleFailures()
{
    const QString small = write("small.png", encodedImage(quadrantImage({300, 200}), "png"));
    const QString large = write("large.png", encodedImage(quadrantImage({2000, 1000}), "png"));
    const QString broken = write("broken.png", "not an image at all");
    QList<std::pair<int, int>> counted;
    const QuickAction::Result result = QuickActions::perform(
        QuickAction::resize1280, {url(small), url(large), url(broken)}, [&](int done, int total) {
            counted.append({done, total});
        });
    QVERIFY2(result.succeeded(), qPrintable(result.errorDescription()));
    // Every file counts as done, failed ones too.
    QCOMPARE(counted, (QList<std::pair<int, int>>{{1, 3}, {2, 3}, {3, 3}}));
    QCOMPARE(result.output().fileURLs().size(), 1);
    QCOMPARE(result.output().fileURLs().first().fileName(), QStringLiteral("large (1280px).png"));
}

void TestImageActions::shrinkWithoutSuccessFailsWithLastError()
{
    const QString broken = write("broken.png", "not an image at all");
    const QString small = write("small.png", encodedImage(quadrantImage({300, 200}), "png"));
    const QString notes = write("notes.txt", "text");
    QuickAction::Result result =
        QuickActions::perform(QuickAction::resize800, {url(broken), url(small), url(notes)});
    QVERIFY(!result.succeeded());
    QCOMPARE(result.errorDescription(), QStringLiteral("small.png은(는) 이미 그보다 작아요."));

    result = QuickActions::perform(QuickAction::resize800, {url(small), url(broken)});
    QCOMPARE(result.errorDescription(),
             QStringLiteral("broken.png을(를) 이미지로 읽을 수 없어요."));

    // No image at all: nothing made, no failure.
    result = QuickActions::perform(QuickAction::resize800, {url(notes)});
    QVERIFY(result.succeeded());
    QVERIFY(result.output().fileURLs().isEmpty());
}

void TestImageActions::jpegRunStopsAtFirstFailure()
{
    const QString first = write("first.png", encodedImage(quadrantImage({40, 30}), "png"));
    const QString broken = write("broken.png", "not an image at all");
    const QString last = write("last.png", encodedImage(quadrantImage({40, 30}), "png"));
    QList<std::pair<int, int>> counted;
    const QuickAction::Result result = QuickActions::perform(
        QuickAction::convertToJPEG, {url(first), url(broken), url(last)}, [&](int done, int total) {
            counted.append({done, total});
        });
    QVERIFY(!result.succeeded());
    QCOMPARE(counted, (QList<std::pair<int, int>>{{1, 3}}));
    QCOMPARE(result.errorDescription(),
             QStringLiteral("broken.png을(를) 이미지로 읽을 수 없어요."));
    const QStringList written = filesBelow(itemsDirectory());
    QCOMPARE(written.size(), 1);
    QVERIFY(written.first().endsWith(u"/first.jpg"));
}

void TestImageActions::eachResultGetsFreshFolderAndInputsStayUntouched()
{
    // Two inputs of the same name from different folders must not collide.
    const QByteArray png = encodedImage(quadrantImage({1000, 900}), "png");
    const QString a = write("a/same.png", png);
    const QString b = write("b/same.png", png);
    const QByteArray before = checksum(a);

    const QuickAction::Result result =
        QuickActions::perform(QuickAction::resize800, {url(a), url(b)});
    QVERIFY2(result.succeeded(), qPrintable(result.errorDescription()));
    const QList<QUrl> made = result.output().fileURLs();
    QCOMPARE(made.size(), 2);
    const QString folderA = QFileInfo(made[0].toLocalFile()).absolutePath();
    const QString folderB = QFileInfo(made[1].toLocalFile()).absolutePath();
    QVERIFY(folderA != folderB);
    for (const QString &folder : {folderA, folderB}) {
        QCOMPARE(QFileInfo(folder).absolutePath(), QFileInfo(itemsDirectory()).absoluteFilePath());
        QVERIFY(!QUuid::fromString(QFileInfo(folder).fileName()).isNull());
    }
    QCOMPARE(checksum(a), before);
    QCOMPARE(filesBelow(m_folder->path()), (QStringList{"a/same.png", "b/same.png"}));
}

void TestImageActions::readsHEIC()
{
    const QString path = m_folder->filePath("photo.heic");
    if (!writeHEIC(path, quadrantImage({1000, 600})))
        QSKIP("no HEVC encoder to make a test file");
    QCOMPARE(ImageFile(path).format(), QByteArray("heif"));

    QuickAction::Result result = QuickActions::perform(QuickAction::resize800, {url(path)});
    QVERIFY2(result.succeeded(), qPrintable(result.errorDescription()));
    QImage made(result.output().fileURLs().first().toLocalFile());
    QCOMPARE(result.output().fileURLs().first().fileName(), QStringLiteral("photo (800px).png"));
    QCOMPARE(made.size(), QSize(800, 480));
    QCOMPARE(int(redCorner(made)), int(topLeft));

    result = QuickActions::perform(QuickAction::convertToJPEG, {url(path)});
    QVERIFY2(result.succeeded(), qPrintable(result.errorDescription()));
    made = QImage(result.output().fileURLs().first().toLocalFile());
    QCOMPARE(made.size(), QSize(1000, 600));
    QVERIFY(isReddish(made.pixel(10, 10)));
}

void TestImageActions::badInput_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("jpegError"); // empty: converts
    QTest::addColumn<QString>("shrinkError");

    const QString unreadable = QStringLiteral("%1을(를) 이미지로 읽을 수 없어요.");
    const QString small = QStringLiteral("%1은(는) 이미 그보다 작아요.");
    QTest::newRow("text file named .png")
        << "text"
        << "notes.png" << unreadable.arg("notes.png") << unreadable.arg("notes.png");
    QTest::newRow("truncated jpeg")
        << "truncated"
        << "cut.jpg" << unreadable.arg("cut.jpg") << unreadable.arg("cut.jpg");
    QTest::newRow("zero bytes") << "empty"
                                << "empty.png" << unreadable.arg("empty.png")
                                << unreadable.arg("empty.png");
    QTest::newRow("1 x 1") << "tiny"
                           << "dot.png" << QString() << small.arg("dot.png");
    QTest::newRow("20000 x 20000")
        << "huge"
        << "huge.png" << unreadable.arg("huge.png") << unreadable.arg("huge.png");
    QTest::newRow("folder named .png")
        << "folder"
        << "folder.png" << unreadable.arg("folder.png") << unreadable.arg("folder.png");
    // Opening a pipe named like an image used to block the action for good.
    QTest::newRow("named pipe") << "pipe"
                                << "pipe.png" << unreadable.arg("pipe.png")
                                << unreadable.arg("pipe.png");
}

void TestImageActions::badInput()
{
    QFETCH(QString, kind);
    QFETCH(QString, name);
    QFETCH(QString, jpegError);
    QFETCH(QString, shrinkError);

    const QString path = m_folder->filePath(name);
    if (kind == "text") {
        writeFile(path, "Just some words, no picture.\n");
    } else if (kind == "truncated") {
        const QByteArray jpeg = encodedImage(quadrantImage({1600, 1200}), "jpeg", 90);
        writeFile(path, jpeg.left(jpeg.size() * 2 / 3));
    } else if (kind == "empty") {
        writeFile(path, {});
    } else if (kind == "tiny") {
        writeFile(path, encodedImage(quadrantImage({1, 1}), "png"));
    } else if (kind == "huge") {
        QVERIFY(writeLargePNG(path, QSize(20000, 20000)));
        QCOMPARE(QImageReader(path).size(), QSize(20000, 20000));
    } else if (kind == "folder") {
        QVERIFY(QDir().mkpath(path));
    } else if (kind == "pipe") {
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    }

    QuickAction::Result result = QuickActions::perform(QuickAction::convertToJPEG, {url(path)});
    if (jpegError.isEmpty()) {
        QVERIFY2(result.succeeded(), qPrintable(result.errorDescription()));
        QCOMPARE(QImage(result.output().fileURLs().first().toLocalFile()).size(),
                 ImageFile(path).size());
        QDir(itemsDirectory()).removeRecursively();
    } else {
        QCOMPARE(result.errorDescription(), jpegError);
    }
    result = QuickActions::perform(QuickAction::resize800, {url(path)});
    QCOMPARE(result.errorDescription(), shrinkError);
    // Nothing that looks like a result is left behind.
    QCOMPARE(filesBelow(itemsDirectory()), QStringList());
}

void TestImageActions::truncatedJPEGIsDetected()
{
    const QByteArray jpeg = encodedImage(quadrantImage({64, 48}), "jpeg", 90);
    QVERIFY(ImageFile::isCompleteJPEG(jpeg));
    QVERIFY(ImageFile::isCompleteJPEG(QByteArray(jpeg + "trailing bytes after the image")));
    QVERIFY(!ImageFile::isCompleteJPEG(jpeg.chopped(2)));
    QVERIFY(!ImageFile::isCompleteJPEG(jpeg.left(jpeg.indexOf("\xFF\xDA") + 20)));
    QVERIFY(!ImageFile::isCompleteJPEG(jpeg.left(2)));
    QVERIFY(!ImageFile::isCompleteJPEG("\xFF\xD8\xFF\xD9"));
}

void TestImageActions::failedWriteLeavesNothing()
{
    const QuickAction::Result result =
        writeResultFile(QStringLiteral("half.jpg"), [](QIODevice *device) {
            device->write("only half of it");
            return false;
        });
    QCOMPARE(result.errorDescription(), QStringLiteral("결과 파일을 만들지 못했어요."));
    QCOMPARE(filesBelow(itemsDirectory()), QStringList());
    QCOMPARE(QDir(itemsDirectory()).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList());
}

void TestImageActions::unwritableItemsFolderFailsWithItsError()
{
    const QString path = write("photo.png", encodedImage(quadrantImage({1000, 900}), "png"));
    // A file where the items folder should be: no output folder can be made, whoever runs this.
    QVERIFY(writeFile(itemsDirectory(), "in the way"));
    const QuickAction::Result result = QuickActions::perform(QuickAction::resize800, {url(path)});
    QFile::remove(itemsDirectory());
    QVERIFY(!result.succeeded());
    QVERIFY(!result.actionError());
    QVERIFY2(result.errorDescription().contains(itemsDirectory()),
             qPrintable(result.errorDescription()));
}

void TestImageActions::longNamesAreShortenedAtCharacterBoundary()
{
    const QString base = QString(100, QChar(u'가')); // 300 bytes in UTF-8
    const QString name = resultFileName(base, QStringLiteral(" (800px).png"));
    QVERIFY(name.toUtf8().size() <= 240);
    QVERIFY(name.endsWith(u" (800px).png"));
    QVERIFY(name.startsWith(QString(70, QChar(u'가'))));
    QCOMPARE(resultFileName(QStringLiteral("photo"), QStringLiteral(".jpg")),
             QStringLiteral("photo.jpg"));
    QCOMPARE(nameWithoutExtension(QStringLiteral("/x/archive.tar.png")),
             QStringLiteral("archive.tar"));
    QCOMPARE(nameWithoutExtension(QStringLiteral("/x/.png")), QStringLiteral(".png"));
}

QTEST_MAIN(TestImageActions)
#include "tst_imageactions.moc"
