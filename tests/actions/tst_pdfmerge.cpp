#include "actions/QuickAction.h"

#include "ActionTestFiles.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <poppler-qt6.h>

#include <sys/stat.h>

using namespace vyo;
using namespace vyo::test;

namespace {

// The first page rendered at 72 dpi (1 point = 1 pixel).
QImage renderedPage(const QString &path, int index)
{
    const std::unique_ptr<Poppler::Document> document = Poppler::Document::load(path);
    if (!document || document->isLocked() || index >= document->numPages())
        return {};
    const std::unique_ptr<Poppler::Page> page = document->page(index);
    return page ? page->renderToImage(72, 72) : QImage();
}

bool isReddish(QColor color)
{
    return color.red() > 200 && color.green() < 70 && color.blue() < 70;
}

} // namespace

class TestPdfMerge : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void mergesEveryPageInOrder();
    void embedsJPEGWithoutReencoding();
    void appliesJPEGOrientation_data();
    void appliesJPEGOrientation();
    void keepsOtherImagesLossless();
    void skipsWhatCannotBeRead();
    void recoversDamagedPDF();
    void readsPDFWithOwnerPasswordOnly();
    void failsWhenNothingCouldBeAdded();

private:
    QString path(const QString &name) const { return m_folder->filePath(name); }
    QString write(const QString &name, const QByteArray &bytes)
    {
        writeFile(path(name), bytes);
        return path(name);
    }
    QuickAction::Result merge(const QStringList &paths)
    {
        QList<QUrl> urls;
        for (const QString &file : paths)
            urls.append(QUrl::fromLocalFile(file));
        return QuickActions::perform(QuickAction::mergePDF, urls);
    }
    QString merged(const QuickAction::Result &result)
    {
        if (!result.succeeded() || result.output().fileURLs().size() != 1)
            return {};
        return result.output().fileURLs().first().toLocalFile();
    }

    std::unique_ptr<QTemporaryDir> m_folder;
};

void TestPdfMerge::init()
{
    m_folder = std::make_unique<QTemporaryDir>();
    QVERIFY(m_folder->isValid());
    QDir(itemsDirectory()).removeRecursively();
}

void TestPdfMerge::mergesEveryPageInOrder()
{
    // Every page has its own width, so the order can be read back.
    QVERIFY(writePDF(path("first.pdf"), {{301, 400}, {302, 400}, {303, 400}}));
    const QString jpeg = write("photo.jpg", encodedImage(quadrantImage({120, 80}), "jpeg", 90));
    QVERIFY(writePDF(path("second.pdf"), {{401, 500}, {402, 500}}));
    const QString notes = write("notes.txt", "not part of it");

    const QuickAction::Result result = merge({path("first.pdf"), jpeg, notes, path("second.pdf")});
    QVERIFY2(result.succeeded(), qPrintable(result.errorDescription()));
    const QString output = merged(result);
    QCOMPARE(QFileInfo(output).fileName(), QStringLiteral("합친 문서.pdf"));
    // In a folder of its own inside the items folder.
    QCOMPARE(QFileInfo(QFileInfo(output).absolutePath()).absolutePath(),
             QFileInfo(itemsDirectory()).absoluteFilePath());
    QCOMPARE(
        pdfPageSizes(output),
        (QList<QSizeF>{{301, 400}, {302, 400}, {303, 400}, {120, 80}, {401, 500}, {402, 500}}));
}

void TestPdfMerge::embedsJPEGWithoutReencoding()
{
    const QByteArray jpeg = encodedImage(quadrantImage({200, 150}), "jpeg", 80);
    const QString photo = write("photo.jpg", jpeg);
    QVERIFY(writePDF(path("doc.pdf"), {{100, 100}}));
    const QString output = merged(merge({path("doc.pdf"), photo}));
    QVERIFY(!output.isEmpty());
    const QList<PdfImage> images = pdfImages(output);
    QCOMPARE(images.size(), 1);
    QCOMPARE(images.first().filter, QByteArray("/DCTDecode"));
    QCOMPARE(images.first().rawData, jpeg);
}

void TestPdfMerge::appliesJPEGOrientation_data()
{
    QTest::addColumn<int>("orientation");
    QTest::addColumn<QSizeF>("pageSize");
    QTest::addColumn<QPoint>("redAt"); // as a fraction of the page: 0 = left/top, 1 = right/bottom

    for (int orientation = 1; orientation <= 8; ++orientation) {
        const bool turned = orientation >= 5;
        // Where the stored top-left corner appears (EXIF orientation meanings).
        static const QPoint corners[] = {{0, 0}, {1, 0}, {1, 1}, {0, 1},
                                         {0, 0}, {1, 0}, {1, 1}, {0, 1}};
        QTest::addRow("orientation %d", orientation)
            << orientation << (turned ? QSizeF(160, 240) : QSizeF(240, 160))
            << corners[orientation - 1];
    }
}

void TestPdfMerge::appliesJPEGOrientation()
{
    QFETCH(int, orientation);
    QFETCH(QSizeF, pageSize);
    QFETCH(QPoint, redAt);

    const QByteArray jpeg = encodedImage(quadrantImage({240, 160}), "jpeg", 95);
    const QString photo = write("photo.jpg", withExifOrientation(jpeg, orientation));
    QVERIFY(writePDF(path("doc.pdf"), {{100, 100}}));
    const QString output = merged(merge({photo, path("doc.pdf")}));
    QCOMPARE(pdfPageSizes(output).value(0), pageSize);

    const QImage page = renderedPage(output, 0);
    QCOMPARE(page.size(), pageSize.toSize());
    const int x = redAt.x() ? page.width() - 6 : 5;
    const int y = redAt.y() ? page.height() - 6 : 5;
    QVERIFY2(isReddish(page.pixelColor(x, y)), qPrintable(page.pixelColor(x, y).name()));
    // The diagonally opposite corner is not part of the red quadrant.
    const int oppositeX = redAt.x() ? 5 : page.width() - 6;
    const int oppositeY = redAt.y() ? 5 : page.height() - 6;
    QVERIFY(!isReddish(page.pixelColor(oppositeX, oppositeY)));
}

void TestPdfMerge::keepsOtherImagesLossless()
{
    QImage image(37, 23, QImage::Format_ARGB32);
    QRandomGenerator random(4);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y,
                           qRgba(random.bounded(256), random.bounded(256), random.bounded(256),
                                 x < 10 ? 0 : 255));
    const QString png = write("noise.png", encodedImage(image, "png"));
    const QString gray =
        write("gray.png", encodedImage(quadrantImage({16, 16}, Qt::black, Qt::white)
                                           .convertToFormat(QImage::Format_Grayscale8),
                                       "png"));
    const QString output = merged(merge({png, gray}));
    const QList<PdfImage> images = pdfImages(output);
    QCOMPARE(images.size(), 2);

    QCOMPARE(images[0].width, 37);
    QCOMPARE(images[0].height, 23);
    QVERIFY(images[0].hasSoftMask);
    QByteArray expected;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    for (int y = 0; y < rgb.height(); ++y)
        expected.append(reinterpret_cast<const char *>(rgb.constScanLine(y)), 37 * 3);
    QCOMPARE(images[0].decodedData, expected);

    QVERIFY(!images[1].hasSoftMask);
    QCOMPARE(images[1].decodedData.size(), 16 * 16); // one grey byte a pixel
    QCOMPARE(pdfPageSizes(output), (QList<QSizeF>{{37, 23}, {16, 16}}));
}

void TestPdfMerge::skipsWhatCannotBeRead()
{
    QVERIFY(writePDF(path("plain.pdf"), {{200, 300}}));
    QVERIFY(writeEncryptedPDF(path("plain.pdf"), path("locked.pdf"), "secret"));
    QVERIFY(QDir().mkpath(path("folder.pdf")));
    QCOMPARE(::mkfifo(QFile::encodeName(path("pipe.pdf")).constData(), 0600), 0);
    const QString empty = write("empty.pdf", {});
    const QString garbage = write("garbage.pdf", "%PDF-1.7\nnothing that parses\n");
    const QString text = write("words.png", "words, not pixels");
    const QByteArray jpeg = encodedImage(quadrantImage({400, 300}), "jpeg", 90);
    const QString truncated = write("cut.jpg", jpeg.left(jpeg.size() / 2));
    const QString huge = path("huge.png");
    QVERIFY(writeLargePNG(huge, QSize(20000, 20000)));
    const QString good = write("good.png", encodedImage(quadrantImage({50, 40}), "png"));

    const QuickAction::Result result =
        merge({path("locked.pdf"), path("folder.pdf"), path("pipe.pdf"), empty, garbage, text,
               truncated, huge, good});
    QVERIFY2(result.succeeded(), qPrintable(result.errorDescription()));
    QCOMPARE(pdfPageSizes(merged(result)), (QList<QSizeF>{{50, 40}}));
}

void TestPdfMerge::recoversDamagedPDF()
{
    QVERIFY(writePDF(path("whole.pdf"), {{210, 300}, {220, 300}}));
    QFile whole(path("whole.pdf"));
    QVERIFY(whole.open(QIODevice::ReadOnly));
    QByteArray bytes = whole.readAll();
    // Without its cross-reference table and trailer the objects are still there to be found.
    bytes.truncate(bytes.lastIndexOf("xref"));
    const QString damaged = write("damaged.pdf", bytes);

    const QString output = merged(merge({damaged, damaged}));
    QCOMPARE(pdfPageSizes(output), (QList<QSizeF>{{210, 300}, {220, 300}, {210, 300}, {220, 300}}));
}

void TestPdfMerge::readsPDFWithOwnerPasswordOnly()
{
    QVERIFY(writePDF(path("plain.pdf"), {{250, 260}}));
    QVERIFY(writeEncryptedPDF(path("plain.pdf"), path("restricted.pdf"), ""));
    const QString output = merged(merge({path("restricted.pdf"), path("plain.pdf")}));
    QCOMPARE(pdfPageSizes(output), (QList<QSizeF>{{250, 260}, {250, 260}}));
}

void TestPdfMerge::failsWhenNothingCouldBeAdded()
{
    QVERIFY(writePDF(path("plain.pdf"), {{200, 300}}));
    QVERIFY(writeEncryptedPDF(path("plain.pdf"), path("locked.pdf"), "secret"));
    const QString text = write("words.jpg", "words, not pixels");
    const QuickAction::Result result = merge({path("locked.pdf"), text});
    QVERIFY(!result.succeeded());
    QCOMPARE(result.errorDescription(), QStringLiteral("결과 파일을 만들지 못했어요."));
    QCOMPARE(filesBelow(itemsDirectory()), QStringList());
}

QTEST_MAIN(TestPdfMerge)
#include "tst_pdfmerge.moc"
