#include "core/Ids.h"
#include "shelf/ShelfItem.h"

#include "TestSupport.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>

using namespace vyo;
using Kind = ShelfItem::Content::Kind;

namespace {

QByteArray encodedImage(const char *format, QColor color = Qt::red)
{
    QImage image(4, 3, QImage::Format_RGB32);
    image.fill(color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

QString describe(const QList<ShelfItem> &items)
{
    QStringList parts;
    for (const ShelfItem &item : items) {
        static const char *kinds[] = {"file", "link", "text", "image"};
        parts.append(QString("%1:%2").arg(kinds[int(item.content().kind())], item.displayName()));
    }
    return parts.join(", ");
}

} // namespace

class TestShelfItem : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QDir(itemsDirectory()).removeRecursively(); }
    void itemsFromMimeData_data();
    void itemsFromMimeData();
    void tiffBecomesPngInFreshDropFolder();
    void imageThatCannotBeStoredFallsThroughToText();
    void promisesNeverOverrideFiles();
};

void TestShelfItem::itemsFromMimeData_data()
{
    QTest::addColumn<QStringList>("formats"); // format=value pairs
    QTest::addColumn<QString>("expected");

    QTest::newRow("file and string")
        << QStringList{"text/uri-list=file:///tmp/a.txt", "text/plain=/tmp/a.txt"} << "file:a.txt";
    QTest::newRow("files in order")
        << QStringList{"text/uri-list=file:///tmp/b.txt\r\nfile:///tmp/a.txt\r\n"}
        << "file:b.txt, file:a.txt";
    QTest::newRow("file wins over web url")
        << QStringList{"text/uri-list=https://example.com/\r\nfile:///tmp/a.txt"} << "file:a.txt";
    QTest::newRow("web url and its string")
        << QStringList{"text/uri-list=https://example.com/x", "text/plain=https://example.com/x"}
        << "link:example.com";
    QTest::newRow("mozilla url")
        << QStringList{"text/x-moz-url=@https://www.example.org/page\n제목"}
        << "link:www.example.org";
    QTest::newRow("only white space") << QStringList{"text/plain= \n\t "} << "";
    QTest::newRow("text kept untrimmed") << QStringList{"text/plain=  안녕\n"} << "text:  안녕";
    QTest::newRow("empty uri list falls to text")
        << QStringList{"text/uri-list=", "text/plain=메모"} << "text:메모";
    QTest::newRow("html only") << QStringList{"text/html=<b>x</b>"} << "";
}

void TestShelfItem::itemsFromMimeData()
{
    QFETCH(QStringList, formats);
    QFETCH(QString, expected);
    QMimeData data;
    for (const QString &entry : formats) {
        const qsizetype eq = entry.indexOf('=');
        QString value = entry.mid(eq + 1);
        QByteArray bytes = value.toUtf8();
        if (entry.startsWith("text/x-moz-url")) {
            value.remove(0, 1);
            bytes = QByteArray(reinterpret_cast<const char *>(value.utf16()), value.size() * 2);
        }
        data.setData(entry.left(eq), bytes);
    }
    QCOMPARE(describe(ShelfItem::items(&data)), expected);
}

void TestShelfItem::tiffBecomesPngInFreshDropFolder()
{
    QMimeData data;
    data.setData("image/tiff", encodedImage("TIFF", Qt::blue));
    data.setText("ignored");
    const QList<ShelfItem> items = ShelfItem::items(&data);
    QCOMPARE(items.size(), 1);
    const ShelfItem &item = items.first();
    QCOMPARE(item.content().kind(), Kind::image);
    QCOMPARE(item.displayName(), "이미지");
    const QFileInfo file(item.content().url().toLocalFile());
    QCOMPARE(file.fileName(), "이미지.png");
    QCOMPARE(file.absoluteDir().absolutePath(),
             QDir(itemsDirectory()).absoluteFilePath(file.dir().dirName()));
    QVERIFY(parseUuid(file.dir().dirName()));
    QImage written(file.filePath(), "PNG");
    QCOMPARE(written.size(), QSize(4, 3));
    QCOMPARE(written.pixelColor(0, 0), QColor(Qt::blue));

    // PNG data is taken as it is, in a folder of its own.
    QMimeData png;
    png.setData("image/png", encodedImage("PNG"));
    const QList<ShelfItem> second = ShelfItem::items(&png);
    QCOMPARE(second.size(), 1);
    QVERIFY(second.first().content().url() != item.content().url());
    QCOMPARE(QImage(second.first().content().url().toLocalFile()).pixelColor(1, 1),
             QColor(Qt::red));
}

void TestShelfItem::imageThatCannotBeStoredFallsThroughToText()
{
    QMimeData data;
    data.setData("image/tiff", "not a tiff at all");
    data.setData("image/png", "not a png either");
    data.setText("대신 글자");
    QCOMPARE(describe(ShelfItem::items(&data)), "text:대신 글자");
    QVERIFY(!QDir(itemsDirectory()).exists() || QDir(itemsDirectory()).isEmpty());

    // A file where the items folder should be makes every drop folder fail.
    QDir().mkpath(QFileInfo(itemsDirectory()).absolutePath());
    QVERIFY(test::writeFile(itemsDirectory(), "in the way"));
    test::LogCapture log;
    QMimeData png;
    png.setData("image/png", encodedImage("PNG"));
    png.setText("글자");
    QCOMPARE(describe(ShelfItem::items(&png)), "text:글자");
    QVERIFY(log.contains("이미지 저장 실패: "));
    QFile::remove(itemsDirectory());
}

void TestShelfItem::promisesNeverOverrideFiles()
{
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile("/tmp/a")});
    QMimeData none;
    bool called = false;
    const auto add = [&](const ShelfItem &, const QUuid &) { called = true; };
    QVERIFY(!ShelfItem::receivePromisedFiles(&files, add));
    QVERIFY(!ShelfItem::receivePromisedFiles(&none, add));
    QVERIFY(!ShelfItem::receivePromisedFiles(nullptr, add));
    QVERIFY(!called);
}

QTEST_MAIN(TestShelfItem)
#include "tst_shelfitem.moc"
