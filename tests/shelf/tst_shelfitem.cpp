// Items made from what a drop or the clipboard carries, and a promised file received the way a
// web image arrives: a direct save written late, one that points outside its folder, raw bytes
// after a refusal, a data: image, and downloads from a loopback server that succeed, serve HTML,
// loop or are too large. The drop source is scripted; the files, folders and HTTP are real.

#include "core/Ids.h"
#include "platform/fake/FakeDesktop.h"
#include "shelf/Shelf.h"
#include "shelf/WebImageDrop.h"

#include "LoopbackHttpServer.h"
#include "TestSupport.h"

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QImage>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace vyo;
using Kind = ShelfItem::Content::Kind;
using Answer = test::LoopbackHttpServer::Answer;
using Result = DropSource::Result;

Q_DECLARE_METATYPE(Answer)

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

// How the scripted source answers "save it here".
enum class Source { savesLate, savesLinkOutside, offersBytes, declines, fails };

QStringList filesBelow(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(QFileInfo(it.next()).fileName());
    return files;
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
    void receivingPromisedFiles_data();
    void receivingPromisedFiles();
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

void TestShelfItem::receivingPromisedFiles_data()
{
    QTest::addColumn<Source>("source");
    QTest::addColumn<QString>("suggestion");
    QTest::addColumn<QString>("dropped");      // "%1" stands for the server
    QTest::addColumn<Answer>("served");        // at "/served"
    QTest::addColumn<QString>("expectedName"); // empty: the link stays, nothing is stored
    QTest::addColumn<QByteArray>("expectedBytes");
    QTest::addColumn<QString>("logged");
    const QByteArray png = encodedImage("PNG", Qt::blue);
    const QByteArray jpeg = encodedImage("JPEG", Qt::blue);
    const QString served = "%1/served";

    QTest::newRow("direct save written after the answer, pausing midway")
        << Source::savesLate << "shot"
        << "" << Answer() << "shot.png" << png << "";
    QTest::newRow("direct save pointing outside the folder")
        << Source::savesLinkOutside << "x.png"
        << "" << Answer() << "" << QByteArray() << "놓기 폴더 밖을 가리키는 파일";
    QTest::newRow("raw bytes after a refusal, extension corrected")
        << Source::offersBytes << "cat.png" << served << Answer() << "cat.jpg" << jpeg
        << "파일 프로미스 수신 실패: 끌어 온 앱이 파일을 저장하지 않음 (F)";
    QTest::newRow("data: image decoded")
        << Source::fails << "" << QString::fromLatin1("data:image/png;base64," + png.toBase64())
        << Answer() << "이미지.png" << png
        << "파일 프로미스 수신 실패: 끌어 온 앱이 저장에 실패함 (E)";
    QTest::newRow("image inside a link: its own address downloads")
        << Source::declines << ""
        << "%1/page.html" << Answer(png) << "served.png" << png << "";
    QTest::newRow("HTML instead of an image stays a link")
        << Source::declines << "" << served
        << Answer("<!doctype html><html><body>not here</body></html>") << "" << QByteArray()
        << "받은 내용이 이미지가 아님";
    QTest::newRow("redirect loop stays a link")
        << Source::declines << "" << served << Answer({}, "302 Found", "Location: /served\r\n")
        << "" << QByteArray() << "웹 이미지 받기 실패";
    QTest::newRow("declared too large stays a link")
        << Source::declines << "" << served
        << Answer(png, "200 OK", {}, WebImageDrop::maximumFileBytes + 1) << "" << QByteArray()
        << "이미지가 너무 큼";
}

void TestShelfItem::receivingPromisedFiles()
{
    QFETCH(Source, source);
    QFETCH(QString, suggestion);
    QFETCH(QString, dropped);
    QFETCH(Answer, served);
    QFETCH(QString, expectedName);
    QFETCH(QByteArray, expectedBytes);
    QFETCH(QString, logged);

    FakeDesktop desktop;
    test::LoopbackHttpServer server;
    server.set("/served", served);
    QTemporaryDir outside;
    const QString outsideFile = outside.filePath("secret.png");
    QVERIFY(test::writeFile(outsideFile, expectedBytes + "outside"));
    desktop.dropSource().name = suggestion.isEmpty() ? std::nullopt : std::optional(suggestion);
    desktop.dropSource().answer = [&](const DropSource::Request &request) {
        Result result;
        switch (source) {
        case Source::savesLate: {
            // Answered before a byte is written, as a browser does; the rest comes in pieces
            // through one open file.
            auto file = std::make_shared<QFile>(request.savePath);
            file->open(QIODevice::WriteOnly);
            QTimer::singleShot(60, [file, expectedBytes] { file->write(expectedBytes.left(10)); });
            QTimer::singleShot(400, [file, expectedBytes] {
                file->write(expectedBytes.mid(10));
                file->close();
            });
            result.answer = DropSource::SaveAnswer::saved;
            break;
        }
        case Source::savesLinkOutside:
            QFile::link(outsideFile, request.savePath);
            result.answer = DropSource::SaveAnswer::saved;
            break;
        case Source::offersBytes:
        case Source::declines:
            result.answer = DropSource::SaveAnswer::fallBack;
            result.error = "끌어 온 앱이 파일을 저장하지 않음 (F)";
            if (source == Source::offersBytes)
                result.data = expectedBytes;
            break;
        case Source::fails:
            result.answer = DropSource::SaveAnswer::failed;
            result.error = "끌어 온 앱이 저장에 실패함 (E)";
            break;
        }
        return result;
    };

    QMimeData data;
    data.setData("XdndDirectSave0", {});
    if (!dropped.isEmpty())
        data.setUrls({QUrl(QString(dropped).replace("%1", server.url({}).toString()))});
    if (dropped.endsWith("/page.html"))
        data.setHtml(R"(<a href="/page.html"><img src="/served"></a>)");
    Shelf shelf;
    test::LogCapture log;
    QVERIFY(ShelfItem::receivePromisedFiles(
        &data, [&shelf](const ShelfItem &item, const QUuid &replacing) {
            shelf.replace(replacing, item);
        }));
    QCOMPARE(desktop.dropSource().requests.size(), 1);

    if (!expectedName.isEmpty()) {
        QTRY_VERIFY_WITH_TIMEOUT(
            !shelf.items().isEmpty() && shelf.items().first().content().kind() == Kind::file, 5000);
        QCOMPARE(shelf.items().size(), 1);
        QFile file(shelf.items().first().content().url().toLocalFile());
        QCOMPARE(QFileInfo(file).fileName(), expectedName);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), expectedBytes);
        QCOMPARE(filesBelow(itemsDirectory()), QStringList{expectedName});
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(log.contains("웹 이미지 받기 실패"), 5000);
        // What waited as a link stays one; nothing half-received is left behind.
        for (const ShelfItem &item : shelf.items())
            QCOMPARE(item.content().kind(), Kind::link);
        QCOMPARE(shelf.items().size(), dropped.isEmpty() ? 0 : 1);
        QCOMPARE(filesBelow(itemsDirectory()), QStringList());
        QCOMPARE(QFileInfo(outsideFile).size(), expectedBytes.size() + 7);
    }
    if (!logged.isEmpty())
        QVERIFY2(log.contains(logged), qPrintable(log.messages().join('\n')));
}

QTEST_MAIN(TestShelfItem)
#include "tst_shelfitem.moc"
