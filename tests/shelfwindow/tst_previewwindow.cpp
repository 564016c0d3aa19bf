// The preview window on a real display: opened from a shelf's commands, moved through with the
// arrow keys, closed with Space or Esc, and showing images, PDFs, text and other files.

#include "platform/fake/FakeDesktop.h"
#include "shelf/Shelf.h"
#include "shelfwindow/PreviewWindow.h"
#include "shelfwindow/ShelfCommands.h"

#include "ActionTestFiles.h"
#include "ShelfSupport.h"
#include "TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QFontInfo>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPdfWriter>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace vyo;
using Content = ShelfItem::Content;

class TestPreviewWindow : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void nothingToPreviewBeeps();
    void startsAtTheFirstSelectedFile();
    void oneWindowForAllShelves();
    void spaceAndToggleClose();
    void arrowKeysStayWithinTheFiles();
    void outOfRangeIndexesAreAnsweredSafely();
    void opensBesideThePanel();
    void showsImagesUprightAndScaledToFit();
    void showsPdfPageByPage();
    void showsTextMonospaced();
    void showsDetailsForOtherFiles();

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }
    QUrl write(const QString &name, const QByteArray &bytes)
    {
        test::writeFile(path(name), bytes);
        return QUrl::fromLocalFile(path(name));
    }
    QUrl image(const QString &name, QSize size)
    {
        test::quadrantImage(size).save(path(name));
        return QUrl::fromLocalFile(path(name));
    }
    ShelfItem item(const QUrl &url) { return ShelfItem(Content::file(url)); }
    // Opens the window on the files and waits until the first one is shown.
    void openOn(const QList<QUrl> &urls, int start)
    {
        QSignalSpy shown(m_window, &PreviewWindow::contentShown);
        m_window->open(urls, start);
        // The content may already be there when open returns.
        QTRY_VERIFY_WITH_TIMEOUT(!shown.isEmpty(), 10000);
    }
    // Presses a key in the window and waits for what it shows next.
    void press(Qt::Key key)
    {
        QSignalSpy shown(m_window, &PreviewWindow::contentShown);
        QTest::keyClick(m_window, key);
        QTRY_VERIFY_WITH_TIMEOUT(!shown.isEmpty(), 10000);
    }

    QTemporaryDir *m_dir = nullptr;
    PreviewWindow *m_window = nullptr;
    // Records beeps.
    FakeDesktop m_desktop;
};

void TestPreviewWindow::init()
{
    m_dir = new QTemporaryDir;
    QVERIFY(m_dir->isValid());
    m_window = new PreviewWindow;
    m_desktop.dialogs().clear();
}

void TestPreviewWindow::cleanup()
{
    delete m_window;
    delete m_dir;
}

void TestPreviewWindow::nothingToPreviewBeeps()
{
    Shelf shelf;
    ShelfCommands commands(&shelf);
    const QUrl gone = write(QStringLiteral("gone.txt"), "x");
    QFile::remove(path(QStringLiteral("gone.txt")));
    shelf.add({test::text(QStringLiteral("t")), item(gone)});

    commands.togglePreview();
    QCOMPARE(m_desktop.dialogs().beeps(), 1);
    QVERIFY(!commands.isPreviewVisible());
    QVERIFY(commands.previewURLs.isEmpty());
}

void TestPreviewWindow::startsAtTheFirstSelectedFile()
{
    Shelf shelf;
    ShelfCommands commands(&shelf);
    const ShelfItem note(Content::text(QStringLiteral("t")));
    const ShelfItem a = item(image(QStringLiteral("a.png"), {20, 20}));
    const ShelfItem b = item(image(QStringLiteral("b.png"), {20, 20}));
    const ShelfItem c = item(image(QStringLiteral("c.png"), {20, 20}));
    shelf.add({note, a, b, c});

    // Nothing selected: the first previewable file.
    commands.togglePreview();
    QVERIFY(commands.isPreviewVisible());
    QCOMPARE(commands.previewURLs,
             (QList<QUrl>{a.content().url(), b.content().url(), c.content().url()}));
    QCOMPARE(commands.previewStartIndex, 0);
    QCOMPARE(commands.previewWindow()->currentIndex(), 0);
    commands.togglePreview();
    QVERIFY(!commands.isPreviewVisible());

    // Two selected images: the first selected one, in shelf order.
    shelf.setSelection({c.id(), b.id(), note.id()});
    commands.togglePreview();
    QCOMPARE(commands.previewStartIndex, 1);
    QCOMPARE(commands.previewWindow()->currentIndex(), 1);
    QCOMPARE(commands.previewWindow()->urlAt(1), b.content().url());
    QCOMPARE(m_desktop.dialogs().beeps(), 0);
}

void TestPreviewWindow::oneWindowForAllShelves()
{
    Shelf first, second;
    const ShelfItem a = item(image(QStringLiteral("a.png"), {20, 20}));
    const ShelfItem b = item(image(QStringLiteral("b.png"), {20, 20}));
    first.add({a});
    second.add({b});
    auto secondCommands = std::make_unique<ShelfCommands>(&second);
    ShelfCommands firstCommands(&first);

    firstCommands.togglePreview();
    PreviewWindow *window = firstCommands.previewWindow();
    QVERIFY(window && window->isVisible());
    // Space on another shelf closes the open preview rather than opening a second one.
    QVERIFY(secondCommands->isPreviewVisible());
    secondCommands->togglePreview();
    QVERIFY(!window->isVisible());
    secondCommands->togglePreview();
    QCOMPARE(secondCommands->previewWindow(), window);
    QVERIFY(window->isVisible());
    QCOMPARE(window->urls(), QList<QUrl>{b.content().url()});

    // The preview goes with the shelf it shows, and stays for the others.
    secondCommands.reset();
    QVERIFY(!window->isVisible());
    firstCommands.togglePreview();
    QCOMPARE(window->urls(), QList<QUrl>{a.content().url()});
    QVERIFY(window->isVisible());
}

void TestPreviewWindow::spaceAndToggleClose()
{
    Shelf shelf;
    ShelfCommands commands(&shelf);
    QWidget panel;
    panel.resize(180, 210);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    commands.panel = &panel;
    shelf.add({item(image(QStringLiteral("a.png"), {20, 20}))});

    commands.togglePreview();
    PreviewWindow *window = commands.previewWindow();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    // The window takes the keyboard so that the arrows, Space and Esc reach it.
    QTRY_VERIFY(window->isActiveWindow());

    QSignalSpy closedByKey(window, &PreviewWindow::closedByKey);
    QTest::keyClick(window, Qt::Key_Space);
    QVERIFY(!window->isVisible());
    QCOMPARE(closedByKey.size(), 1);

    commands.togglePreview();
    QVERIFY(window->isVisible());
    QTest::keyClick(window, Qt::Key_Escape);
    QVERIFY(!commands.isPreviewVisible());

    // Space on the panel while the preview is open closes it as well.
    commands.togglePreview();
    QVERIFY(commands.isPreviewVisible());
    commands.togglePreview();
    QVERIFY(!commands.isPreviewVisible());
}

void TestPreviewWindow::arrowKeysStayWithinTheFiles()
{
    const QList<QUrl> urls{write(QStringLiteral("a.txt"), "a"), write(QStringLiteral("b.txt"), "b"),
                           write(QStringLiteral("c.txt"), "c")};
    openOn(urls, 1);
    auto *position = m_window->findChild<QLabel *>(QStringLiteral("previewPosition"));
    auto *title = m_window->findChild<QLabel *>(QStringLiteral("previewTitle"));
    QCOMPARE(position->text(), QStringLiteral("2 / 3"));

    press(Qt::Key_Right);
    QCOMPARE(m_window->currentIndex(), 2);
    QCOMPARE(title->text(), QStringLiteral("c.txt"));
    QCOMPARE(position->text(), QStringLiteral("3 / 3"));

    // At the last file Right changes nothing.
    QSignalSpy moved(m_window, &PreviewWindow::currentIndexChanged);
    QTest::keyClick(m_window, Qt::Key_Right);
    QCOMPARE(m_window->currentIndex(), 2);
    QCOMPARE(moved.size(), 0);

    press(Qt::Key_Left);
    press(Qt::Key_Left);
    QCOMPARE(m_window->currentIndex(), 0);
    QCOMPARE(title->text(), QStringLiteral("a.txt"));
    QTest::keyClick(m_window, Qt::Key_Left);
    QCOMPARE(m_window->currentIndex(), 0);
    QCOMPARE(moved.size(), 2);
    QVERIFY(m_window->isVisible());
}

void TestPreviewWindow::outOfRangeIndexesAreAnsweredSafely()
{
    const QList<QUrl> urls{write(QStringLiteral("a.txt"), "a"),
                           write(QStringLiteral("b.txt"), "b")};
    openOn(urls, 7);
    QCOMPARE(m_window->currentIndex(), 0);
    m_window->close();
    openOn(urls, -3);
    QCOMPARE(m_window->currentIndex(), 0);

    QCOMPARE(m_window->count(), 2);
    QCOMPARE(m_window->urlAt(1), urls[1]);
    QCOMPARE(m_window->urlAt(2), QUrl());
    QCOMPARE(m_window->urlAt(-1), QUrl());
    QVERIFY(!m_window->setCurrentIndex(2));
    QVERIFY(!m_window->setCurrentIndex(-1));
    QCOMPARE(m_window->currentIndex(), 0);

    // No files: the window closes instead of showing nothing.
    m_window->open({}, 0);
    QVERIFY(!m_window->isVisible());
    QCOMPARE(m_window->urlAt(0), QUrl());
    QVERIFY(!m_window->setCurrentIndex(0));
}

void TestPreviewWindow::opensBesideThePanel()
{
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    QWidget panel(nullptr, Qt::Tool | Qt::FramelessWindowHint);
    panel.resize(180, 210);
    panel.move(area.left() + 40, area.top() + 100);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    const QRect panelFrame(panel.mapToGlobal(QPoint(0, 0)), panel.size());

    m_window->open({write(QStringLiteral("a.txt"), "a")}, 0, &panel);
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    QTRY_VERIFY(m_window->geometry().left() > panelFrame.right());
    QVERIFY(area.contains(m_window->geometry()));

    // No room on the right: on the left.
    m_window->close();
    panel.move(area.right() - 200, area.top() + 100);
    QTRY_VERIFY(panel.mapToGlobal(QPoint(0, 0)).x() > area.right() - 300);
    m_window->open({write(QStringLiteral("a.txt"), "a")}, 0, &panel);
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    QTRY_VERIFY(m_window->geometry().right() < panel.mapToGlobal(QPoint(0, 0)).x());
    QVERIFY(area.contains(m_window->geometry()));
}

void TestPreviewWindow::showsImagesUprightAndScaledToFit()
{
    // A landscape JPEG whose EXIF orientation 6 turns it upright as a portrait.
    const QImage landscape = test::quadrantImage({300, 200});
    const QUrl rotated = write(QStringLiteral("rotated.jpg"),
                               test::withExifOrientation(test::encodedImage(landscape, "jpeg"), 6));
    // A large image is read scaled down.
    const QUrl large = image(QStringLiteral("large.png"), {3000, 1800});

    openOn({rotated, large}, 0);
    auto *picture = m_window->findChild<QLabel *>(QStringLiteral("previewPicture"));
    auto *stack = m_window->findChild<QStackedWidget *>(QStringLiteral("previewStack"));
    QCOMPARE(m_window->shownKind(), PreviewWindow::Kind::image);
    QCOMPARE(stack->currentWidget(), picture);
    QImage shown = picture->pixmap().toImage();
    QCOMPARE(shown.size(), QSize(200, 300));
    // The red top-left quadrant of the stored image is at the top right once upright.
    QVERIFY(qRed(shown.pixel(180, 20)) > 200 && qBlue(shown.pixel(180, 20)) < 60);
    QVERIFY(qBlue(shown.pixel(20, 20)) > 200);
    QCOMPARE(m_window->findChild<QLabel *>(QStringLiteral("previewSubtitle"))->text(),
             QStringLiteral("200 × 300"));

    press(Qt::Key_Right);
    QCOMPARE(m_window->shownKind(), PreviewWindow::Kind::image);
    shown = picture->pixmap().toImage();
    const QSize box = m_window->contentPixelSize();
    QVERIFY2(shown.width() <= box.width() && shown.height() <= box.height(),
             qPrintable(QStringLiteral("%1x%2 in %3x%4")
                            .arg(shown.width())
                            .arg(shown.height())
                            .arg(box.width())
                            .arg(box.height())));
    QVERIFY(shown.width() >= box.width() - 2 || shown.height() >= box.height() - 2);
    QCOMPARE(m_window->findChild<QLabel *>(QStringLiteral("previewSubtitle"))->text(),
             QStringLiteral("3000 × 1800"));
}

void TestPreviewWindow::showsPdfPageByPage()
{
    // Red, blue and a blank (white) page.
    const QString pdf = path(QStringLiteral("문서.pdf"));
    {
        QPdfWriter writer(pdf);
        writer.setPageSize(QPageSize(QPageSize::A4));
        QPainter painter(&writer);
        painter.fillRect(QRect(0, 0, writer.width(), writer.height()), Qt::red);
        writer.newPage();
        painter.fillRect(QRect(0, 0, writer.width(), writer.height()), Qt::blue);
        writer.newPage();
    }
    auto *picture = m_window->findChild<QLabel *>(QStringLiteral("previewPicture"));
    auto *subtitle = m_window->findChild<QLabel *>(QStringLiteral("previewSubtitle"));
    const auto middle = [picture] {
        const QImage page = picture->pixmap().toImage();
        return page.pixel(page.width() / 2, page.height() / 2);
    };
    const QUrl text = write(QStringLiteral("다음.txt"), "next");
    openOn({QUrl::fromLocalFile(pdf), text}, 0);
    QCOMPARE(m_window->shownKind(), PreviewWindow::Kind::pdf);
    QCOMPARE(m_window->pageCount(), 3);
    QCOMPARE(m_window->currentPage(), 0);
    QCOMPARE(subtitle->text(), QStringLiteral("1 / 3쪽"));
    const QImage page = picture->pixmap().toImage();
    const QSize box = m_window->contentPixelSize();
    QVERIFY2(page.height() <= box.height() + 1 && page.height() >= box.height() - 2,
             qPrintable(QStringLiteral("%1x%2 in %3x%4")
                            .arg(page.width())
                            .arg(page.height())
                            .arg(box.width())
                            .arg(box.height())));
    // The first page, red, portrait.
    QVERIFY(page.height() > page.width());
    QVERIFY(qRed(middle()) > 200 && qBlue(middle()) < 60);

    // Down and Page Down go forward a page, Up back; End and Home to the last and first page.
    press(Qt::Key_Down);
    QCOMPARE(m_window->currentPage(), 1);
    QCOMPARE(subtitle->text(), QStringLiteral("2 / 3쪽"));
    QVERIFY(qBlue(middle()) > 200 && qRed(middle()) < 60);
    press(Qt::Key_PageDown);
    QCOMPARE(m_window->currentPage(), 2);
    QCOMPARE(subtitle->text(), QStringLiteral("3 / 3쪽"));
    QVERIFY(qRed(middle()) > 200 && qBlue(middle()) > 200);
    press(Qt::Key_Up);
    QCOMPARE(m_window->currentPage(), 1);
    press(Qt::Key_Home);
    QCOMPARE(m_window->currentPage(), 0);
    QVERIFY(qRed(middle()) > 200 && qBlue(middle()) < 60);

    // Past either end nothing changes.
    QVERIFY(!m_window->setCurrentPage(-1));
    QVERIFY(!m_window->setCurrentPage(3));
    QTest::keyClick(m_window, Qt::Key_Up);
    QCOMPARE(m_window->currentPage(), 0);
    press(Qt::Key_End);
    QCOMPARE(m_window->currentPage(), 2);
    QTest::keyClick(m_window, Qt::Key_PageDown);
    QCOMPARE(m_window->currentPage(), 2);
    QCOMPARE(m_window->currentIndex(), 0);

    // The next file has no pages; coming back starts at the first page again.
    press(Qt::Key_Right);
    QCOMPARE(m_window->shownKind(), PreviewWindow::Kind::text);
    QCOMPARE(m_window->pageCount(), 0);
    QVERIFY(!m_window->setCurrentPage(0));
    press(Qt::Key_Left);
    QCOMPARE(m_window->currentPage(), 0);
    QCOMPARE(subtitle->text(), QStringLiteral("1 / 3쪽"));
}

void TestPreviewWindow::showsTextMonospaced()
{
    QByteArray longText;
    for (int i = 0; i < 20000; ++i)
        longText += "줄 " + QByteArray::number(i) + " 가나다라마바사\n";
    QVERIFY(longText.size() > 64 * 1024);
    openOn({write(QStringLiteral("notes.txt"), longText)}, 0);

    QCOMPARE(m_window->shownKind(), PreviewWindow::Kind::text);
    auto *text = m_window->findChild<QPlainTextEdit *>(QStringLiteral("previewText"));
    QVERIFY(text->toPlainText().startsWith(QStringLiteral("줄 0 가나다라마바사\n줄 1 ")));
    // Only the first part, with no broken character at the cut.
    QVERIFY(text->toPlainText().size() < 64 * 1024);
    QVERIFY(!text->toPlainText().contains(QChar::ReplacementCharacter));
    QVERIFY(QFontInfo(text->font()).fixedPitch());
    QVERIFY(text->isReadOnly());

    // Up and Down scroll the text (left and right stay for moving between files).
    QTest::keyClick(m_window, Qt::Key_Down);
    QCOMPARE(text->verticalScrollBar()->value(), 1);
}

void TestPreviewWindow::showsDetailsForOtherFiles()
{
    QDir(m_dir->path()).mkdir(QStringLiteral("폴더"));
    const QUrl binary = write(QStringLiteral("data.bin"), QByteArray(1500, '\0'));
    const QUrl folder = QUrl::fromLocalFile(path(QStringLiteral("폴더")));
    // A text extension over binary contents, and an image extension over text.
    const QUrl fakeText = write(QStringLiteral("fake.txt"), QByteArray("ab\0cd", 5));
    const QUrl fakeImage = write(QStringLiteral("fake.png"), "no image here");

    openOn({binary, folder, fakeText, fakeImage}, 0);
    auto *stack = m_window->findChild<QStackedWidget *>(QStringLiteral("previewStack"));
    auto *details = m_window->findChild<QWidget *>(QStringLiteral("previewDetails"));
    auto *name = m_window->findChild<QLabel *>(QStringLiteral("previewName"));
    auto *kind = m_window->findChild<QLabel *>(QStringLiteral("previewKind"));
    auto *size = m_window->findChild<QLabel *>(QStringLiteral("previewSize"));
    auto *icon = m_window->findChild<QLabel *>(QStringLiteral("previewIcon"));
    QCOMPARE(m_window->shownKind(), PreviewWindow::Kind::other);
    QCOMPARE(stack->currentWidget(), details);
    QCOMPARE(name->text(), QStringLiteral("data.bin"));
    QVERIFY(!kind->text().isEmpty());
    QCOMPARE(size->text(), QStringLiteral("1.5 KB"));
    QVERIFY(!icon->pixmap().isNull());

    press(Qt::Key_Right);
    QCOMPARE(name->text(), QStringLiteral("폴더"));
    QCOMPARE(kind->text(), QStringLiteral("폴더"));
    QCOMPARE(size->text(), QString());

    press(Qt::Key_Right);
    QCOMPARE(m_window->shownKind(), PreviewWindow::Kind::other);
    QCOMPARE(size->text(), QStringLiteral("5바이트"));

    press(Qt::Key_Right);
    QCOMPARE(m_window->shownKind(), PreviewWindow::Kind::other);
    QCOMPARE(name->text(), QStringLiteral("fake.png"));

    // A file that vanished while the window was open.
    QFile::remove(path(QStringLiteral("data.bin")));
    press(Qt::Key_Left);
    press(Qt::Key_Left);
    press(Qt::Key_Left);
    QCOMPARE(name->text(), QStringLiteral("data.bin"));
    QCOMPARE(kind->text(), QStringLiteral("파일을 찾을 수 없어요."));
}

QTEST_MAIN(TestPreviewWindow)
#include "tst_previewwindow.moc"
