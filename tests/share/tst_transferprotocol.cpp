// The transfer protocol as tables: what the parser makes of the browser's messages, what the
// writer produces, data frames, and the shelf listing.

#include "core/Ids.h"
#include "logic/TransferProtocol.h"
#include "share/ShelfListing.h"
#include "shelf/Shelf.h"

#include "TestSupport.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

#include <limits>

using namespace vyo;
using namespace vyo::TransferProtocol;

Q_DECLARE_METATYPE(vyo::TransferProtocol::Incoming)

namespace {

const QUuid itemID = QUuid::fromString(u"e621e1f8-c36c-495a-93fc-0c247a3e6e5f");

QJsonObject listedItem(const QJsonObject &message, qsizetype index)
{
    return message.value("items").toArray().at(index).toObject();
}

} // namespace

class TestTransferProtocol : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void parse_data();
    void parse();
    void parseReplacesInvalidUtf8();
    void encode_data();
    void encode();
    void splitFrame_data();
    void splitFrame();
    void listing_data();
    void listing();
    void listingOrderAndItemsWithoutThumbnail();
    void listingTitle_data();
    void listingTitle();
};

void TestTransferProtocol::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<Incoming>("expected");

    const QString id = QStringLiteral("E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    QTest::newRow("ready, everything")
        << R"j({"t":"ready","maxMessageSize":16384,"device":"Mozilla/5.0 (iPhone)"})j"
        << Incoming::ready(16384, "Mozilla/5.0 (iPhone)");
    QTest::newRow("ready, wrong types, tid ignored")
        << R"({"t":"ready","maxMessageSize":"big","device":5,"tid":"x"})"
        << Incoming::ready({}, "");
    QTest::newRow("ready, fractional size")
        << R"({"t":"ready","maxMessageSize":1.5})" << Incoming::ready({}, "");
    QTest::newRow("ready, negative size")
        << R"({"t":"ready","maxMessageSize":-1})" << Incoming::ready(-1, "");
    QTest::newRow("get") << R"({"t":"get","tid":7,"id":")" + id + R"("})"
                         << Incoming::get(7, itemID);
    QTest::newRow("get, tid as string")
        << R"({"t":"get","tid":"7","id":")" + id + R"("})" << Incoming::unknown();
    QTest::newRow("get, not a UUID")
        << R"({"t":"get","tid":7,"id":"E621E1F8"})" << Incoming::unknown();
    QTest::newRow("get, braced UUID")
        << R"({"t":"get","tid":7,"id":"{)" + id + R"(}"})" << Incoming::unknown();
    QTest::newRow("get-all, largest tid")
        << R"({"t":"get-all","tid":4294967295})" << Incoming::getAll(4294967295u);
    QTest::newRow("get-all, tid too large")
        << R"({"t":"get-all","tid":4294967296})" << Incoming::unknown();
    QTest::newRow("get-all, negative tid") << R"({"t":"get-all","tid":-1})" << Incoming::unknown();
    QTest::newRow("get-all, fractional tid")
        << R"({"t":"get-all","tid":2.5})" << Incoming::unknown();
    QTest::newRow("get-all, whole tid written as a fraction")
        << R"({"t":"get-all","tid":7.0})" << Incoming::getAll(7);
    QTest::newRow("put") << R"({"t":"put","tid":1,"name":"사진.jpg","size":4294967296})"
                         << Incoming::put(1, "사진.jpg", 4294967296ull);
    QTest::newRow("put, empty file")
        << R"({"t":"put","tid":2,"name":"a","size":0})" << Incoming::put(2, "a", 0);
    QTest::newRow("put, size as string")
        << R"({"t":"put","tid":1,"name":"a","size":"3"})" << Incoming::unknown();
    QTest::newRow("put, negative size")
        << R"({"t":"put","tid":1,"name":"a","size":-3})" << Incoming::unknown();
    QTest::newRow("put, no name") << R"({"t":"put","tid":1,"size":3})" << Incoming::unknown();
    QTest::newRow("end") << R"({"t":"end","tid":3})" << Incoming::end(3);
    QTest::newRow("type is case-sensitive")
        << R"({"t":"GET","tid":7,"id":")" + id + R"("})" << Incoming::unknown();
    QTest::newRow("unknown type") << R"({"t":"hello","tid":1})" << Incoming::unknown();
    QTest::newRow("not JSON") << "t=ready" << Incoming::unknown();
}

void TestTransferProtocol::parse()
{
    QFETCH(QString, text);
    QFETCH(Incoming, expected);
    QCOMPARE(TransferProtocol::parse(text), expected);
    QCOMPARE(TransferProtocol::parse(text.toUtf8()), expected);
}

void TestTransferProtocol::parseReplacesInvalidUtf8()
{
    const QByteArray bytes = QByteArray(R"({"t":"ready","device":"a)") + '\xff' + R"(b"})";
    QCOMPARE(TransferProtocol::parse(bytes), Incoming::ready({}, QStringLiteral("a\uFFFDb")));
}

void TestTransferProtocol::encode_data()
{
    QTest::addColumn<QJsonObject>("object");
    QTest::addColumn<QString>("expected");

    QTest::newRow("error, keys sorted")
        << errorMessage(7, "셸프에서 찾을 수 없는 항목이에요.")
        << R"({"message":"셸프에서 찾을 수 없는 항목이에요.","t":"error","tid":7})";
    QTest::newRow("file, size above 4 GiB")
        << fileMessage(1, "a b.zip", 4294967297ull, "application/zip")
        << R"({"mime":"application/zip","name":"a b.zip","size":4294967297,"t":"file","tid":1})";
    QTest::newRow("end") << endMessage(4294967295u) << R"({"t":"end","tid":4294967295})";
    QTest::newRow("nested objects sorted at every level")
        << QJsonObject{{"b", QJsonObject{{"z", 1},
                                         {"a", QJsonArray{QJsonObject{{"y", true},
                                                                      {"x", QJsonValue()}}}}}},
                       {"a", "s"}}
        << R"({"a":"s","b":{"a":[{"x":null,"y":true}],"z":1}})";
    QTest::newRow("not a finite number")
        << QJsonObject{{"t", "x"}, {"n", std::numeric_limits<double>::infinity()}} << "{}";
}

void TestTransferProtocol::encode()
{
    QFETCH(QJsonObject, object);
    QFETCH(QString, expected);
    QCOMPARE(TransferProtocol::encode(object), expected);
}

void TestTransferProtocol::splitFrame_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<bool>("isFrame");
    QTest::addColumn<quint32>("tid");
    QTest::addColumn<QByteArray>("payload");

    QTest::newRow("3 bytes") << QByteArray("\0\0\7", 3) << false << 0u << QByteArray();
    QTest::newRow("header only") << QByteArray("\0\0\0\7", 4) << true << 7u << QByteArray();
    QTest::newRow("big-endian tid")
        << QByteArray("\1\2\3\4abc", 7) << true << 0x01020304u << QByteArray("abc");
    QTest::newRow("largest tid") << QByteArray("\xff\xff\xff\xff\0", 5) << true << 0xFFFFFFFFu
                                 << QByteArray(1, '\0');
}

void TestTransferProtocol::splitFrame()
{
    QFETCH(QByteArray, message);
    QFETCH(bool, isFrame);
    QFETCH(quint32, tid);
    QFETCH(QByteArray, payload);

    const std::optional<Frame> frame = TransferProtocol::splitFrame(message);
    QCOMPARE(frame.has_value(), isFrame);
    if (frame) {
        QCOMPARE(frame->tid, tid);
        QCOMPARE(frame->payload, payload);
    }
}

void TestTransferProtocol::listing_data()
{
    // How one item of each kind is listed: a file or folder ("/" at the end) made with "hello" in
    // it, an image, a text or a link. `expected` lacks "id".
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QByteArray>("thumbnail"); // "-" for no cache entry
    QTest::addColumn<QString>("expected");

    const QString nfd = QStringLiteral("한글.txt").normalized(QString::NormalizationForm_D);
    QTest::newRow("file with thumbnail")
        << "file"
        << "보고서.txt" << QByteArray("JPEG")
        << R"({"kind":"file","name":"보고서.txt","isFolder":false,"size":5,)"
           R"("thumb":"data:image/jpeg;base64,SlBFRw=="})";
    QTest::newRow("file whose thumbnail is just small enough")
        << "file"
        << "보고서.txt" << QByteArray(maximumThumbnailBytes, 'j')
        << R"({"kind":"file","name":"보고서.txt","isFolder":false,"size":5,"thumb":"data:image/jpeg;base64,)" +
               QString::fromLatin1(QByteArray(maximumThumbnailBytes, 'j').toBase64()) + R"("})";
    QTest::newRow("file whose thumbnail is too large")
        << "file"
        << "보고서.txt" << QByteArray(maximumThumbnailBytes + 1, 'j')
        << R"({"kind":"file","name":"보고서.txt","isFolder":false,"size":5,"thumb":""})";
    QTest::newRow("file whose thumbnail failed")
        << "file"
        << "보고서.txt" << QByteArray()
        << R"({"kind":"file","name":"보고서.txt","isFolder":false,"size":5,"thumb":""})";
    QTest::newRow("file without thumbnail yet")
        << "file"
        << "보고서.txt" << QByteArray("-")
        << R"({"kind":"file","name":"보고서.txt","isFolder":false,"size":5})";
    QTest::newRow("decomposed name becomes NFC")
        << "file" << nfd << QByteArray("-")
        << R"({"kind":"file","name":"한글.txt","isFolder":false,"size":5})";
    QTest::newRow("folder gets .zip and never a thumbnail")
        << "file"
        << "사진 모음/" << QByteArray("JPEG")
        << R"({"kind":"file","name":"사진 모음.zip","isFolder":true})";
    QTest::newRow("text") << "text"
                          << "첫 줄\n둘째 줄" << QByteArray("JPEG")
                          << R"({"kind":"text","name":"첫 줄","text":"첫 줄\n둘째 줄"})";
    QTest::newRow("link")
        << "link"
        << "https://example.org/a/b c?q=1" << QByteArray("-")
        << R"({"kind":"link","name":"example.org","url":"https://example.org/a/b%20c?q=1"})";
}

void TestTransferProtocol::listing()
{
    QFETCH(QString, kind);
    QFETCH(QString, source);
    QFETCH(QByteArray, thumbnail);
    QFETCH(QString, expected);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    ShelfItem item(ShelfItem::Content::text(source));
    if (kind == u"link") {
        item = ShelfItem(ShelfItem::Content::link(QUrl(source)));
    } else if (kind != u"text") {
        const QString path = dir.filePath(source);
        QVERIFY(test::writeFile(source.endsWith(u'/') ? path + "a.jpg" : path, "hello"));
        const QUrl url = QUrl::fromLocalFile(QDir::cleanPath(path));
        item = ShelfItem(kind == u"image" ? ShelfItem::Content::image(url)
                                          : ShelfItem::Content::file(url));
    }
    Shelf shelf;
    shelf.setItems({item});
    ThumbnailCache thumbnails;
    if (thumbnail != "-")
        thumbnails.insert(item.id(), thumbnail);

    const QJsonObject message = listMessage(shelfListing(shelf), thumbnails);
    QCOMPARE(message.value("t").toString(), QStringLiteral("list"));
    QJsonObject listed = listedItem(message, 0);
    QCOMPARE(listed.take("id").toString(), uuidText(item.id()));
    QCOMPARE(listed, QJsonDocument::fromJson(expected.toUtf8()).object());
    // Sent as one line with sorted keys and unescaped slashes.
    QVERIFY(!TransferProtocol::encode(message).contains("\\/"));
}

void TestTransferProtocol::listingOrderAndItemsWithoutThumbnail()
{
    QTemporaryDir dir;
    const auto file = [&dir](const char *name) {
        return ShelfItem(ShelfItem::Content::file(QUrl::fromLocalFile(dir.filePath(name))));
    };
    QVERIFY(test::writeFile(dir.filePath("a.txt"), "a"));
    QVERIFY(test::writeFile(dir.filePath("b.txt"), "b"));
    QVERIFY(test::writeFile(dir.filePath("gone.txt"), "g"));
    QVERIFY(test::writeFile(dir.filePath("folder/c.txt"), "c"));
    const ShelfItem text(ShelfItem::Content::text("t"));
    const ShelfItem link(ShelfItem::Content::link(QUrl("https://example.org/")));
    const ShelfItem gone = file("gone.txt"), a = file("a.txt"), folder = file("folder"),
                    b = file("b.txt");
    Shelf shelf;
    shelf.setItems({text, gone, a, link, folder, b});
    QVERIFY(QFile::remove(dir.filePath("gone.txt")));

    // In the shelf's order, without the file deleted since.
    QStringList ids;
    for (const QJsonValue &entry : listMessage(shelfListing(shelf), {}).value("items").toArray())
        ids.append(entry.toObject().value("id").toString());
    QCOMPARE(ids, QStringList({uuidText(text.id()), uuidText(a.id()), uuidText(link.id()),
                               uuidText(folder.id()), uuidText(b.id())}));
    // Thumbnails are made for files still there, not folders, and only once.
    QCOMPARE(TransferProtocol::itemsWithoutThumbnail(shelfListing(shelf), {}),
             QList<QUuid>({a.id(), b.id()}));
    QCOMPARE(TransferProtocol::itemsWithoutThumbnail(shelfListing(shelf), {{a.id(), QByteArray()}}),
             QList<QUuid>({b.id()}));
}

void TestTransferProtocol::listingTitle_data()
{
    QTest::addColumn<QString>("name"); // "-" for none
    QTest::addColumn<int>("itemCount");
    QTest::addColumn<QString>("title");

    QTest::newRow("named") << "여행 준비" << 3 << "여행 준비";
    QTest::newRow("empty name") << "" << 3 << "3개 항목";
    QTest::newRow("no name, one item") << "-" << 1 << "메모 0";
    QTest::newRow("no name, two items") << "-" << 2 << "2개 항목";
}

void TestTransferProtocol::listingTitle()
{
    QFETCH(QString, name);
    QFETCH(int, itemCount);
    QFETCH(QString, title);

    Shelf shelf;
    QList<ShelfItem> items;
    for (int i = 0; i < itemCount; ++i)
        items.append(ShelfItem(ShelfItem::Content::text(QStringLiteral("메모 %1").arg(i))));
    shelf.setItems(items);
    if (name != u"-")
        shelf.setName(name);
    const QJsonObject message = listMessage(shelfListing(shelf), {});
    QCOMPARE(message.value("title").toString(), title);
    QCOMPARE(message.keys(), QStringList({"items", "t", "title"}));
}

QTEST_MAIN(TestTransferProtocol)
#include "tst_transferprotocol.moc"
