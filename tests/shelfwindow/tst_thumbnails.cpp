// Thumbnails of file items, made from real files: scaled to the asked size with the orientation
// applied, HEIC through libheif, a PDF's first page, and nothing (the icon stays) for anything
// else or anything broken.

#include "shelfwindow/ThumbnailProvider.h"

#include "ActionTestFiles.h"
#include "TestSupport.h"

#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

using namespace vyo;

class TestThumbnails : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void render_data();
    void render();

private:
    QTemporaryDir m_dir;
    bool m_hasHeicEncoder = false;
};

void TestThumbnails::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const QImage landscape = test::quadrantImage({400, 200});
    QVERIFY(landscape.save(m_dir.filePath("wide.png")));
    QVERIFY(test::quadrantImage({40, 20}).save(m_dir.filePath("small.png")));
    // Stored wide, shown tall (orientation 6: turned a quarter clockwise).
    QVERIFY(test::writeFile(m_dir.filePath("turned.jpg"),
                            test::withExifOrientation(test::encodedImage(landscape, "jpeg"), 6)));
    m_hasHeicEncoder = test::writeHEIC(m_dir.filePath("photo.heic"), landscape);
    QVERIFY(test::writePDF(m_dir.filePath("letter.pdf"), {QSizeF(612, 792), QSizeF(792, 612)}));
    QVERIFY(test::writeFile(m_dir.filePath("notes.txt"), "text"));
    QVERIFY(test::writeFile(m_dir.filePath("broken.png"), "\x89PNG\r\n\x1a\n broken"));
    QVERIFY(test::writeFile(m_dir.filePath("broken.pdf"), "%PDF-1.4 broken"));
    QVERIFY(QDir(m_dir.path()).mkdir("folder.png"));
}

void TestThumbnails::render_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("size");
    QTest::newRow("scaled down") << "wide.png" << QSize(64, 32);
    QTest::newRow("never enlarged") << "small.png" << QSize(40, 20);
    QTest::newRow("orientation applied") << "turned.jpg" << QSize(32, 64);
    QTest::newRow("heic") << "photo.heic" << QSize(64, 32);
    QTest::newRow("pdf first page") << "letter.pdf" << QSize(49, 64);
    QTest::newRow("text") << "notes.txt" << QSize(0, 0);
    QTest::newRow("broken image") << "broken.png" << QSize(0, 0);
    QTest::newRow("broken pdf") << "broken.pdf" << QSize(0, 0);
    QTest::newRow("folder named like an image") << "folder.png" << QSize(0, 0);
    QTest::newRow("missing") << "gone.png" << QSize(0, 0);
}

void TestThumbnails::render()
{
    QFETCH(QString, name);
    QFETCH(QSize, size);
    if (name.endsWith(".heic") && !m_hasHeicEncoder)
        QSKIP("no HEIC encoder to make the test file");
    const QImage image = ThumbnailProvider::render(m_dir.filePath(name), 64);
    QCOMPARE(image.size(), size);
    if (name == "turned.jpg") {
        // The red corner was top-left as stored; a quarter turn clockwise puts it top-right.
        const QColor topRight = image.pixelColor(image.width() - 4, 4);
        QVERIFY2(topRight.red() > 200 && topRight.blue() < 60, qPrintable(topRight.name()));
    }
}

QTEST_MAIN(TestThumbnails)
#include "tst_thumbnails.moc"
