// A shelf and its items, items made from drag data, and promised files received the way a web
// image arrives. The drop source is scripted; the files, folders, clipboard and HTTP are real.

#include "core/Ids.h"
#include "platform/fake/FakeDesktop.h"
#include "shelf/Shelf.h"
#include "shelf/WebImageDrop.h"

#include "LoopbackHttpServer.h"
#include "ShelfSupport.h"
#include "TestSupport.h"

#include <QBuffer>
#include <QClipboard>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace vyo;
using Content = ShelfItem::Content;
using Kind = ShelfItem::Content::Kind;
using Answer = test::LoopbackHttpServer::Answer;
using Result = DropSource::Result;

using test::file;
using test::link;
using test::names;
using test::text;

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

class TestShelf : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QDir(itemsDirectory()).removeRecursively(); }
    void displayNames_data();
    void displayNames();
    void titles();
    void addSkipsDuplicates();
    void replaceTakesThePlaceholdersPlace();
    void removeClearAndSetters();
    void selection_data();
    void selection();
    void filesOnTheShelf();

    void itemsFromMimeData_data();
    void itemsFromMimeData();
    void imagesFromDragData();
    void promisesNeverOverrideFiles();
    void receivingPromisedFiles_data();
    void receivingPromisedFiles();
};

void TestShelf::displayNames_data()
{
    QTest::addColumn<ShelfItem>("item");
    QTest::addColumn<QString>("expected");
    QTest::newRow("text first line") << text("첫 줄\n둘째 줄") << QString("첫 줄");
    QTest::newRow("text leading newlines") << text("\n\r\n  들여쓴 줄\n") << QString("  들여쓴 줄");
    QTest::newRow("text next line") << text(u"a\u0085b"_qs) << QString("a");
    QTest::newRow("text only newlines") << text("\n\n") << QString("\n\n");
    QTest::newRow("text empty") << text("") << QString("");
    QTest::newRow("link idn host") << link("https://한국.kr/") << QString("xn--3e0b707e.kr");
    QTest::newRow("link without host") << link("mailto:a@b.c") << QString("mailto:a@b.c");
    QTest::newRow("file name") << file("/tmp/보고서.pdf") << QString("보고서.pdf");
    QTest::newRow("folder with slash") << file("/tmp/폴더/") << QString("폴더");
    QTest::newRow("image") << test::image("/tmp/x/이미지.png") << QString("이미지");
}

void TestShelf::displayNames()
{
    QFETCH(ShelfItem, item);
    QFETCH(QString, expected);
    QCOMPARE(item.displayName(), expected);
}

void TestShelf::titles()
{
    Shelf shelf;
    QCOMPARE(shelf.title(), "빈 셸프");
    shelf.add({text("첫 줄\n둘째 줄")});
    QCOMPARE(shelf.title(), "첫 줄");
    shelf.setName("내 셸프");
    QCOMPARE(shelf.title(), "첫 줄");
    shelf.add({link("https://example.com"), text("c")});
    QCOMPARE(shelf.title(), "3개 항목");
}

void TestShelf::addSkipsDuplicates()
{
    Shelf shelf;
    QSignalSpy changed(&shelf, &Shelf::changed);
    QSignalSpy itemsChanged(&shelf, &Shelf::itemsChanged);
    shelf.add({file("/tmp/a.txt"), file("/tmp/a.txt"), text("x")});
    QCOMPARE(names(shelf), (QStringList{"a.txt", "x"}));
    shelf.add({text("x"), file("/tmp/a.txt")});
    shelf.add({});
    QCOMPARE(shelf.items().size(), 2);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(itemsChanged.size(), 1);
    // A link and a file with the same URL are different contents.
    shelf.add({ShelfItem(Content::link(QUrl::fromLocalFile("/tmp/a.txt")))});
    QCOMPARE(shelf.items().size(), 3);
}

void TestShelf::replaceTakesThePlaceholdersPlace()
{
    Shelf shelf;
    const ShelfItem placeholder = link("https://example.com/a.png"), other = text("b");
    shelf.add({placeholder, other});
    shelf.setSelection({placeholder.id(), other.id()});
    shelf.replace(placeholder.id(), file("/tmp/a.png"));
    QCOMPARE(names(shelf), (QStringList{"a.png", "b"}));
    QCOMPARE(shelf.selection(), QSet<QUuid>{other.id()});
    // A null placeholder appends; content already there is not added twice.
    shelf.replace({}, file("/tmp/c.png"));
    shelf.replace({}, file("/tmp/c.png"));
    QCOMPARE(names(shelf), (QStringList{"a.png", "b", "c.png"}));
    // A placeholder that never got on (its link was there already) still lets its file in.
    const ShelfItem refused = link("https://example.com/a.png");
    shelf.add({link("https://example.com/a.png"), refused});
    shelf.replace(refused.id(), file("/tmp/d.png"));
    QCOMPARE(names(shelf), (QStringList{"a.png", "b", "c.png", "example.com", "d.png"}));
}

void TestShelf::removeClearAndSetters()
{
    Shelf shelf;
    const ShelfItem a = text("a"), b = text("b"), c = text("c");
    shelf.add({a, b, c});
    QSignalSpy changed(&shelf, &Shelf::changed);
    const QUuid stranger = QUuid::createUuid();
    shelf.setSelection({a.id(), b.id(), stranger});
    shelf.remove({stranger});
    QCOMPARE(changed.size(), 0);
    QCOMPARE(shelf.items().size(), 3);
    QCOMPARE(shelf.selection(), (QSet<QUuid>{a.id(), b.id()}));

    shelf.remove({b.id()});
    QCOMPARE(changed.size(), 1);
    QCOMPARE(names(shelf), (QStringList{"a", "c"}));
    QCOMPARE(shelf.selection(), QSet<QUuid>{a.id()});

    shelf.selectionAnchor = a.id();
    shelf.clear();
    shelf.clear();
    QCOMPARE(changed.size(), 2);
    QVERIFY(shelf.items().isEmpty());
    QVERIFY(shelf.selection().isEmpty());
    QVERIFY(!shelf.selectionAnchor);

    // Setters publish real changes only; transient fields publish but are not worth a save.
    QSignalSpy nameSpy(&shelf, &Shelf::nameChanged);
    shelf.setName("a");
    shelf.setName("a");
    shelf.setName(QString());
    shelf.setName(std::nullopt);
    QCOMPARE(nameSpy.count(), 3);
    shelf.setColor(ShelfColor::blue);
    shelf.setColor(ShelfColor::blue);
    shelf.setPinID(QUuid::createUuid());
    QCOMPARE(changed.size(), 7);
    QSignalSpy statusSpy(&shelf, &Shelf::statusChanged);
    shelf.setStatus("만들었어요");
    shelf.setDropTargeted(true);
    shelf.setShareRequest(QUuid::createUuid());
    QCOMPARE(changed.size(), 7);
    QCOMPARE(statusSpy.count(), 1);
}

void TestShelf::selection_data()
{
    // Items a..e; each step is "mode:item"; the expected selection and anchor after the last step.
    // (Plain, Shift and Ctrl clicks on rows: tst_shelfview.)
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("selected");
    QTest::addColumn<QString>("anchor");
    const auto row = [](const char *name, const QString &steps, const QString &selected,
                        const QString &anchor) {
        QTest::newRow(name) << steps.split(' ') << selected << anchor;
    };
    row("range backwards", "single:d range:a", "abcd", "d");
    row("range replaces, keeps anchor", "single:b range:e range:c", "bc", "b");
    row("range over toggled", "single:a toggle:e range:c", "cde", "e");
    row("toggle removes selected", "single:a toggle:c toggle:a", "c", "a");
    row("range to stranger selects it alone", "single:a range:x", "x", "a");
    row("range from vanished anchor keeps anchor", "single:x range:c", "c", "x");
}

void TestShelf::selection()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, selected);
    QFETCH(QString, anchor);
    Shelf shelf;
    QHash<QString, QUuid> ids;
    for (const char *name : {"a", "b", "c", "d", "e"}) {
        const ShelfItem item = text(name);
        ids.insert(name, item.id());
        shelf.add({item});
    }
    ids.insert("x", QUuid::createUuid()); // not on the shelf
    const QHash<QString, SelectionMode> modes{{"single", SelectionMode::single},
                                              {"toggle", SelectionMode::toggle},
                                              {"range", SelectionMode::range}};
    for (const QString &step : steps) {
        const QStringList parts = step.split(':');
        shelf.select(ids.value(parts[1]), modes.value(parts[0]));
    }
    QSet<QUuid> expected;
    for (QChar c : selected)
        expected.insert(ids.value(QString(c)));
    QCOMPARE(shelf.selection(), expected);
    QCOMPARE(shelf.selectionAnchor, std::optional<QUuid>(ids.value(anchor)));
}

void TestShelf::filesOnTheShelf()
{
    QTemporaryDir dir;
    const QString stays = dir.filePath("남는 문서.txt"), goes = dir.filePath("goes.txt");
    QVERIFY(test::writeFile(stays, "a") && test::writeFile(goes, "b"));
    Shelf shelf;
    shelf.copyToPasteboard(); // nothing happens on an empty shelf
    shelf.add({link("https://example.com/a"), text("안녕\n하세요"), file(stays), file(goes),
               test::image("/no/img.png")});
    QCOMPARE(shelf.fileURLs(), (QList<QUrl>{QUrl::fromLocalFile(stays), QUrl::fromLocalFile(goes),
                                            QUrl::fromLocalFile("/no/img.png")}));
    QSignalSpy changed(&shelf, &Shelf::changed);
    shelf.removeMissingFiles();
    QCOMPARE(changed.size(), 1); // goes.txt is there; only the image is missing
    QVERIFY(QFile::remove(goes));
    test::LogCapture log;
    shelf.removeMissingFiles();
    shelf.removeMissingFiles();
    QCOMPARE(changed.size(), 2);
    QCOMPARE(names(shelf), (QStringList{"example.com", "안녕", "남는 문서.txt"}));
    QVERIFY(log.contains("사라진 파일 1개를 셸프에서 제거"));

    // Copied in the order of the items, for applications that take addresses, text or files.
    shelf.copyToPasteboard();
    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    QVERIFY(data);
    QCOMPARE(data->urls(),
             (QList<QUrl>{QUrl("https://example.com/a"), QUrl::fromLocalFile(stays)}));
    QCOMPARE(data->text(), "https://example.com/a\n안녕\n하세요\n" + stays);
    QCOMPARE(data->data("x-special/gnome-copied-files"),
             "copy\n" + QUrl::fromLocalFile(stays).toEncoded());
}

void TestShelf::itemsFromMimeData_data()
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
    QTest::newRow("mozilla url")
        << QStringList{"text/x-moz-url=@https://www.example.org/page\n제목"}
        << "link:www.example.org";
    QTest::newRow("only white space") << QStringList{"text/plain= \n\t "} << "";
    QTest::newRow("text kept untrimmed") << QStringList{"text/plain=  안녕\n"} << "text:  안녕";
    QTest::newRow("empty uri list falls to text")
        << QStringList{"text/uri-list=", "text/plain=메모"} << "text:메모";
}

void TestShelf::itemsFromMimeData()
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

void TestShelf::imagesFromDragData()
{
    // TIFF is stored as PNG in a fresh drop folder.
    QMimeData tiff;
    tiff.setData("image/tiff", encodedImage("TIFF", Qt::blue));
    tiff.setText("ignored");
    const QList<ShelfItem> items = ShelfItem::items(&tiff);
    QCOMPARE(items.size(), 1);
    const ShelfItem &item = items.first();
    QCOMPARE(item.content().kind(), Kind::image);
    QCOMPARE(item.displayName(), "이미지");
    QCOMPARE(filesBelow(itemsDirectory()), QStringList{"이미지.png"});
    QImage written(item.content().url().toLocalFile(), "PNG");
    QCOMPARE(written.size(), QSize(4, 3));
    QCOMPARE(written.pixelColor(0, 0), QColor(Qt::blue));

    // Images that cannot be decoded or stored fall through to the text beside them.
    QVERIFY(QDir(itemsDirectory()).removeRecursively());
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

void TestShelf::promisesNeverOverrideFiles()
{
    // Files dragged with a promise beside them are taken as the files they are.
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile("/tmp/a")});
    files.setData("XdndDirectSave0", {});
    bool called = false;
    QVERIFY(!ShelfItem::receivePromisedFiles(&files, [&](auto &, auto &) { called = true; }));
    QVERIFY(!called);
}

void TestShelf::receivingPromisedFiles_data()
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
    QTest::newRow("declared too large stays a link")
        << Source::declines << "" << served
        << Answer(png, "200 OK", {}, WebImageDrop::maximumFileBytes + 1) << "" << QByteArray()
        << "이미지가 너무 큼";
}

void TestShelf::receivingPromisedFiles()
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

QTEST_MAIN(TestShelf)
#include "tst_shelf.moc"
