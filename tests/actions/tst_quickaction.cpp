#include "actions/QuickAction.h"

#include "TestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace vyo;

namespace {

using ActionSet = QList<int>;

ActionSet allActions()
{
    ActionSet all;
    for (QuickAction action : QuickAction::allCases())
        all.append(int(QuickAction::Case(action)));
    return all;
}

} // namespace

class TestQuickAction : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QVERIFY(m_folder.isValid()); }
    void classificationByExtension_data();
    void classificationByExtension();
    void applicability_data();
    void applicability();
    void candidateFilesKeepExistingFilesInOrder();

private:
    QUrl file(const QString &name)
    {
        const QString path = m_folder.filePath(name);
        if (name.endsWith(u'/'))
            QDir().mkpath(path);
        else if (!QFile::exists(path))
            test::writeFile(path, "x");
        return QUrl::fromLocalFile(QDir::cleanPath(path));
    }

    QTemporaryDir m_folder;
};

void TestQuickAction::classificationByExtension_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("image");
    QTest::addColumn<bool>("pdf");

    QTest::newRow("png") << "a.png" << true << false;
    QTest::newRow("upper-case JPEG") << "a.JPEG" << true << false;
    QTest::newRow("heic") << "a.heic" << true << false;
    QTest::newRow("avif") << "a.avif" << true << false;
    QTest::newRow("svg") << "a.svg" << true << false;
    QTest::newRow("pdf") << "a.pdf" << false << true;
    QTest::newRow("upper-case PDF") << "a.PDF" << false << true;
    QTest::newRow("text") << "a.txt" << false << false;
    QTest::newRow("unknown extension") << "a.xyz123" << false << false;
    QTest::newRow("no extension") << "png" << false << false;
    QTest::newRow("contents do not count") << "picture.txt" << false << false;
}

void TestQuickAction::classificationByExtension()
{
    QFETCH(QString, name);
    QFETCH(bool, image);
    QFETCH(bool, pdf);
    // The file holds a real PNG whatever its name says: only the extension decides.
    const QString path = m_folder.filePath(name);
    QImage(4, 4, QImage::Format_RGB32).save(path, "PNG");
    QCOMPARE(QuickActions::isImage(QUrl::fromLocalFile(path)), image);
    QCOMPARE(QuickActions::isPDF(QUrl::fromLocalFile(path)), pdf);
}

void TestQuickAction::applicability_data()
{
    QTest::addColumn<QStringList>("items"); // file names; "text:" and "link:" make other items
    QTest::addColumn<ActionSet>("applicable");

    using A = QuickAction;
    QTest::newRow("one PDF and one text: nothing")
        << QStringList{"doc.pdf", "text:메모"} << ActionSet{};
    QTest::newRow("one PNG and one PDF: all six")
        << QStringList{"a.png", "doc.pdf"} << allActions();
    QTest::newRow("two images: no text extraction")
        << QStringList{"a.png", "b.jpg"}
        << ActionSet{A::convertToJPEG, A::resize2048, A::resize1280, A::resize800, A::mergePDF};
    QTest::newRow("one image: no merge")
        << QStringList{"a.heic"}
        << ActionSet{A::convertToJPEG, A::resize2048, A::resize1280, A::resize800, A::extractText};
    QTest::newRow("two PDFs: merge only")
        << QStringList{"a.pdf", "b.pdf"} << ActionSet{A::mergePDF};
    QTest::newRow("missing files do not count")
        << QStringList{"a.png", "missing:gone.png", "missing:gone.pdf"}
        << ActionSet{A::convertToJPEG, A::resize2048, A::resize1280, A::resize800, A::extractText};
    QTest::newRow("links and texts never take part")
        << QStringList{"link:https://example.com/a.png", "text:b.png", "c.pdf"} << ActionSet{};
    QTest::newRow("other files do not count")
        << QStringList{"notes.txt", "archive.zip", "a.png"}
        << ActionSet{A::convertToJPEG, A::resize2048, A::resize1280, A::resize800, A::extractText};
    QTest::newRow("nothing") << QStringList{} << ActionSet{};
}

void TestQuickAction::applicability()
{
    QFETCH(QStringList, items);
    QFETCH(ActionSet, applicable);

    QList<ShelfItem> shelfItems;
    for (const QString &entry : items) {
        if (entry.startsWith(u"text:"))
            shelfItems.append(ShelfItem(ShelfItem::Content::text(entry.mid(5))));
        else if (entry.startsWith(u"link:"))
            shelfItems.append(ShelfItem(ShelfItem::Content::link(QUrl(entry.mid(5)))));
        else if (entry.startsWith(u"missing:"))
            shelfItems.append(ShelfItem(
                ShelfItem::Content::file(QUrl::fromLocalFile(m_folder.filePath(entry.mid(8))))));
        else
            shelfItems.append(ShelfItem(ShelfItem::Content::file(file(entry))));
    }
    ActionSet found;
    for (QuickAction action : QuickAction::allCases()) {
        if (QuickActions::isApplicable(shelfItems, action))
            found.append(int(QuickAction::Case(action)));
    }
    QCOMPARE(found, applicable);
}

void TestQuickAction::candidateFilesKeepExistingFilesInOrder()
{
    const QUrl b = file("b.png");
    const QUrl a = file("a.pdf");
    const QUrl folder = file("folder/");
    const QList<ShelfItem> items{
        ShelfItem(ShelfItem::Content::file(b)),
        ShelfItem(ShelfItem::Content::text(QStringLiteral("c.png"))),
        ShelfItem(ShelfItem::Content::file(QUrl::fromLocalFile(m_folder.filePath("gone.png")))),
        ShelfItem(ShelfItem::Content::image(a)),
        ShelfItem(ShelfItem::Content::link(QUrl(QStringLiteral("https://example.com/x.pdf")))),
        ShelfItem(ShelfItem::Content::file(folder)),
    };
    QCOMPARE(QuickActions::candidateFiles(items), (QList<QUrl>{b, a, folder}));
}

QTEST_MAIN(TestQuickAction)
#include "tst_quickaction.moc"
