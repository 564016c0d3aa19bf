#include "shelf/Shelf.h"

#include "ShelfSupport.h"
#include "TestSupport.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace vyo;
using Content = ShelfItem::Content;

using test::file;
using test::link;
using test::names;
using test::text;

class TestShelf : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void displayNames_data();
    void displayNames();
    void titles();
    void addSkipsDuplicates();
    void replaceTakesThePlaceholdersPlace();
    void removeClearAndSetters();
    void selection_data();
    void selection();
    void filesOnTheShelf();
};

void TestShelf::displayNames_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("payload");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char *name, const char *kind, const QString &payload,
                        const QString &expected) {
        QTest::newRow(name) << QString(kind) << payload << expected;
    };
    row("text first line", "text", "첫 줄\n둘째 줄", "첫 줄");
    row("text leading newlines", "text", "\n\r\n  들여쓴 줄\n", "  들여쓴 줄");
    row("text next line", "text", u"a\u0085b"_qs, "a");
    row("text paragraph separator", "text", u"\u2029b"_qs, "b");
    row("text only newlines", "text", "\n\n", "\n\n");
    row("text empty", "text", "", "");
    row("link idn host", "link", "https://한국.kr/", "xn--3e0b707e.kr");
    row("link without host", "link", "mailto:a@b.c", "mailto:a@b.c");
    row("file name", "file", "/tmp/보고서.pdf", "보고서.pdf");
    row("folder with slash", "file", "/tmp/폴더/", "폴더");
    row("image", "image", "/tmp/x/이미지.png", "이미지");
}

void TestShelf::displayNames()
{
    QFETCH(QString, kind);
    QFETCH(QString, payload);
    QFETCH(QString, expected);
    const ShelfItem item = kind == "link"    ? link(payload)
                           : kind == "file"  ? file(payload)
                           : kind == "image" ? test::image(payload)
                                             : text(payload);
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
    // New items always go to the end; existing ones keep their place.
    const QUuid firstId = shelf.items().first().id();
    shelf.add({text("y")});
    QCOMPARE(shelf.items().first().id(), firstId);
    QCOMPARE(shelf.items().last().displayName(), "y");
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
    row("range without anchor", "range:c", "c", "c");
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

QTEST_MAIN(TestShelf)
#include "tst_shelf.moc"
