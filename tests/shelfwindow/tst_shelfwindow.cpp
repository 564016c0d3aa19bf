// The shelf window parts on the test display with real shelves and files: the panel's view, the
// shelf commands with their menus and quick-action runs, the preview window, thumbnails, and
// where panels go on the screens and which keys they answer. Which quick actions apply to which
// items is the actions' own test.

#include "actions/QuickAction.h"
#include "core/Defaults.h"
#include "logic/PanelPlacement.h"
#include "platform/fake/FakeDesktop.h"
#include "shelf/Shelf.h"
#include "shelf/ShelfManager.h"
#include "shelfwindow/DragSource.h"
#include "shelfwindow/PreviewWindow.h"
#include "shelfwindow/SharePicker.h"
#include "shelfwindow/ShelfCommands.h"
#include "shelfwindow/ShelfItemRow.h"
#include "shelfwindow/ShelfMenus.h"
#include "shelfwindow/ShelfPanel.h"
#include "shelfwindow/ShelfPanelController.h"
#include "shelfwindow/ShelfView.h"
#include "shelfwindow/ThumbnailProvider.h"

#include "ActionTestFiles.h"
#include "ShelfSupport.h"
#include "TestSupport.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPdfWriter>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <memory>

using namespace vyo;
using Content = ShelfItem::Content;
using test::link;
using test::text;

namespace {

// Two screens side by side: the main one 1920 × 1080 with a 32-point bar at the top, and a
// 1280 × 1024 one to its left whose bottom sits 100 points lower.
const QList<ScreenFrames> twoScreens = {
    {Rect{{0, 0}, {1920, 1080}}, Rect{{0, 0}, {1920, 1048}}},
    {Rect{{-1280, -100}, {1280, 1024}}, Rect{{-1280, -100}, {1280, 1024}}},
};

QString statusOf(const Shelf &shelf)
{
    return shelf.status().value_or(QStringLiteral("<no status>"));
}

} // namespace

class TestShelfWindow : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void sizesFollowTheContent();
    void shelfMenu();
    void rowClicksSelectAndRemove();
    void hugeTextDrop();
    void vanishedFilesAreNeitherDraggedNorKept();
    void dragOutRemoval();
    void rename();
    void panelKeysReachTheShelf();
    void requestsAfterTheShelfClosedDoNothing();
    void screenChoice_data();
    void screenChoice();
    void clamping_data();
    void clamping();
    void screenHoldingMostOfAFrame();
    void panelKeys_data();
    void panelKeys();

    void contextMenu_data();
    void contextMenu();
    void copyEntryPutsExistingTargetsOnTheClipboard();
    void entryOutlivingItsCommandsDoesNothing();
    void openAndReveal();
    void paste();
    void shareOffersEmailAndCopy();
    void resultsArriveAfterTheCommandsAreGone();
    void failedQuickActionBeeps();
    void textExtractionAddsAndCopiesTheText();
    void shelfClosedDuringRunStillReports();
    void newerMessageOutlivesOlderTimer();
    void previewTogglesFromTheShelves();
    void previewShowsEachKind();
    void thumbnails_data();
    void thumbnails();

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }
    // A file item; "text:" and "link:" make the other kinds, "gone:" a file that vanished.
    ShelfItem item(const QString &name, QSize imageSize = {40, 30})
    {
        if (name.startsWith(u"text:"))
            return text(name.mid(5));
        if (name.startsWith(u"link:"))
            return link(name.mid(5));
        const bool gone = name.startsWith(u"gone:");
        const QString file = path(gone ? name.mid(5) : name);
        if (name.endsWith(u".png") || name.endsWith(u".jpg"))
            test::quadrantImage(imageSize).save(file);
        else
            test::writeFile(file, name.endsWith(u".pdf") ? "%PDF-1.4" : "x");
        if (gone)
            QFile::remove(file);
        return ShelfItem(Content::file(QUrl::fromLocalFile(file)));
    }
    // An image with "HELLO 2024" written large on it.
    ShelfItem textImage(const QString &name)
    {
        test::renderedText({QStringLiteral("HELLO 2024")}).save(path(name));
        return ShelfItem(Content::file(QUrl::fromLocalFile(path(name))));
    }
    std::unique_ptr<QMenu> menuFor(std::optional<QUuid> clicked = std::nullopt)
    {
        return std::unique_ptr<QMenu>(ShelfMenus::contextMenu(*m_commands, clicked));
    }

    template <typename T> T *child(const char *name) const
    {
        return m_window->findChild<T *>(QString::fromLatin1(name));
    }
    QString label(const char *name) const { return child<QLabel>(name)->text(); }
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
    // The colour in the middle of the shown picture, as the PDF's pages are filled.
    QString middle() const
    {
        const QImage picture = child<QLabel>("previewPicture")->pixmap().toImage();
        const QColor color = picture.pixelColor(picture.width() / 2, picture.height() / 2);
        return QString(color.red() > 200 ? "r" : "") + (color.green() > 200 ? "g" : "") +
               (color.blue() > 200 ? "b" : "");
    }

    QUrl write(const QString &name, const QByteArray &bytes)
    {
        test::writeFile(path(name), bytes);
        return QUrl::fromLocalFile(path(name));
    }

    ShelfPanelController *controller() const
    {
        return qobject_cast<ShelfPanelController *>(m_opened.window);
    }
    ShelfView *view() const { return controller()->view(); }
    Shelf *shelf() const { return m_opened.shelf; }

    QTemporaryDir *m_dir = nullptr;
    // A shelf with its panel, for the view's tests.
    ShelfManager *m_manager = nullptr;
    ShelfManager::Opened m_opened{};
    PreviewWindow *m_window = nullptr;
    Shelf *m_shelf = nullptr;
    ShelfCommands *m_commands = nullptr;
    // Records beeps, opened and revealed files.
    FakeDesktop m_desktop;
};

void TestShelfWindow::init()
{
    m_dir = new QTemporaryDir;
    QVERIFY(m_dir->isValid());
    m_shelf = new Shelf;
    m_commands = new ShelfCommands(m_shelf);
    m_window = new PreviewWindow;
    m_manager = new ShelfManager(ShelfPersistence(m_dir->filePath("state.json")),
                                 ShelfPanelController::windowMaker());
    m_opened = m_manager->newShelf();
    m_desktop.dialogs().clear();
    m_desktop.fileManager().clear();
    QGuiApplication::clipboard()->clear();
}

void TestShelfWindow::cleanup()
{
    Defaults::shared().remove(DefaultsKey::removeAfterDragOut);
    delete m_manager;
    delete m_window;
    delete m_commands;
    delete m_shelf;
    delete m_dir;
    SharePicker::setLaunchRecorder(nullptr);
}

void TestShelfWindow::sizesFollowTheContent()
{
    auto *content = view()->findChild<QStackedWidget *>("content");
    QCOMPARE(content->currentWidget()->objectName(), "emptyState");

    // Two items make a stack, and a click on it opens the list.
    shelf()->add({text("a"), text("b")});
    QCOMPARE(view()->size(), QSize(180, 210));
    auto *stack = view()->findChild<DragSource *>("stackView");
    QTest::mouseClick(stack, Qt::LeftButton);
    QCOMPARE(content->currentWidget()->objectName(), "listView");
    QCOMPARE(controller()->panel()->size(), QSize(260, 340));
    QTest::mouseClick(view()->findChild<QToolButton *>("stackButton"), Qt::LeftButton);
    QCOMPARE(content->currentWidget()->objectName(), "stackView");
}

void TestShelfWindow::shelfMenu()
{
    shelf()->add({text("a"), test::link("https://example.com")});
    std::unique_ptr<QMenu> menu(ShelfMenus::shelfMenu(view()));
    test::menuEntry(test::menuEntry(menu.get(), "색")->menu(), "파랑")->trigger();
    QCOMPARE(shelf()->color(), ShelfColor::blue);
    test::menuEntry(menu.get(), "알림 영역에 고정")->trigger();
    QCOMPARE(m_manager->pinned().size(), 1);

    // Pinned and in the list: "고정 해제" and "스택으로 보기" take the entries' places.
    view()->setExpanded(true);
    menu.reset(ShelfMenus::shelfMenu(view()));
    test::menuEntry(menu.get(), "고정 해제")->trigger();
    QVERIFY(m_manager->pinned().isEmpty());
    test::menuEntry(menu.get(), "스택으로 보기")->trigger();
    QVERIFY(!view()->isExpanded());
    test::menuEntry(menu.get(), "모두 지우기")->trigger();
    QVERIFY(shelf()->items().isEmpty());
    QCOMPARE(m_manager->recent().snapshots.size(), 1);
    QCOMPARE(m_manager->shelves().size(), 1); // clearing keeps the shelf open
}

void TestShelfWindow::rowClicksSelectAndRemove()
{
    shelf()->add({text("a"), text("b"), text("c"), text("d")});
    view()->setExpanded(true);
    const auto row = [this](int i) { return view()->rows()[i]->dragArea(); };
    const auto ids = [this](std::initializer_list<int> indexes) {
        QSet<QUuid> result;
        for (int i : indexes)
            result.insert(shelf()->items()[i].id());
        return result;
    };
    QTest::mouseClick(row(1), Qt::LeftButton);
    QCOMPARE(shelf()->selection(), ids({1}));
    QTest::mouseClick(row(3), Qt::LeftButton, Qt::ShiftModifier);
    QCOMPARE(shelf()->selection(), ids({1, 2, 3}));

    // A selected row drags the selection; an unselected one only itself.
    QCOMPARE(view()->rows()[3]->dragItems().size(), 3);
    QCOMPARE(view()->rows()[0]->dragItems().size(), 1);

    QTest::mouseClick(view()->rows()[0]->removeButton(), Qt::LeftButton);
    QCOMPARE(test::names(*shelf()), (QStringList{"b", "c", "d"}));
}

void TestShelfWindow::hugeTextDrop()
{
    // Five megabytes of text from another program make one item.
    ShelfDropView *dropView = controller()->panel()->dropView();
    QMimeData mime;
    mime.setText(QString(5 * 1024 * 1024, u'a'));
    const QPoint point(90, 100);
    QDragEnterEvent enter(point, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(dropView, &enter);
    QVERIFY(enter.isAccepted() && shelf()->isDropTargeted());
    QDropEvent drop(point, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(dropView, &drop);
    QVERIFY(drop.isAccepted() && !shelf()->isDropTargeted());
    QCOMPARE(shelf()->items().size(), 1);
}

void TestShelfWindow::vanishedFilesAreNeitherDraggedNorKept()
{
    const ShelfItem gone = item("gone.txt");
    shelf()->add({gone, text("stays")});
    QVERIFY(QFile::remove(path("gone.txt")));
    QVERIFY(!DragSource::dragData({gone}));
    std::unique_ptr<QMimeData> data(DragSource::dragData({gone, text("글")}));
    QVERIFY(data && !data->hasUrls());
    QCOMPARE(data->text(), "글");
    // The pointer entering the panel drops them.
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(controller()->panel()->dropView(), &enter);
    QCOMPARE(test::names(*shelf()), QStringList{"stays"});
}

void TestShelfWindow::dragOutRemoval()
{
    shelf()->add({text("a"), text("b")});
    // Switched in the settings while the shelf is open: a drag dropped nowhere keeps the item
    // even with removal on; a move takes it off even with removal off.
    Defaults::shared().setValue(DefaultsKey::removeAfterDragOut, true);
    view()->finishDragOut({shelf()->items().first()}, Qt::IgnoreAction);
    QCOMPARE(shelf()->items().size(), 2);
    Defaults::shared().setValue(DefaultsKey::removeAfterDragOut, false);
    view()->finishDragOut({shelf()->items().first()}, Qt::MoveAction);
    QCOMPARE(shelf()->items().size(), 1);
    QCOMPARE(m_manager->shelves().size(), 1);

    // Moving everything out closes the shelf.
    view()->finishDragOut(shelf()->items(), Qt::MoveAction);
    QVERIFY(m_manager->shelves().isEmpty());
}

void TestShelfWindow::rename()
{
    // Typed names are trimmed; a blank one removes the name.
    auto *field = view()->findChild<QLineEdit *>("nameField");
    view()->beginRename();
    QTest::keyClicks(field, "  New name ");
    QTest::keyClick(field, Qt::Key_Return);
    QCOMPARE(shelf()->name(), std::optional<QString>("New name"));
    view()->beginRename();
    field->setText("   ");
    view()->commitRename();
    QVERIFY(!shelf()->name());
}

void TestShelfWindow::panelKeysReachTheShelf()
{
    shelf()->add({text("복사할 글")});
    ShelfPanel *panel = controller()->panel();
    QTest::keyClick(panel, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), "복사할 글");
}

void TestShelfWindow::requestsAfterTheShelfClosedDoNothing()
{
    ShelfView *shelfView = view();
    shelf()->add({text("a")});
    Q_EMIT shelfView->closeRequested();
    QVERIFY(m_manager->shelves().isEmpty());
    QCOMPARE(m_manager->recent().snapshots.size(), 1);

    // The panel fades out after its shelf closed: its buttons reach nothing any more.
    Q_EMIT shelfView->clearAllRequested();
    Q_EMIT shelfView->pinRequested();
    Q_EMIT shelfView->closeRequested();
    QCOMPARE(m_manager->recent().snapshots.size(), 1);
    QVERIFY(m_manager->pinned().isEmpty());
}

void TestShelfWindow::screenChoice_data()
{
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("y");
    QTest::addColumn<int>("mainIndex");
    QTest::addColumn<int>("expected"); // index into twoScreens, -1 for none
    QTest::newRow("inside left screen") << -10.0 << 500.0 << 0 << 1;
    QTest::newRow("left edge belongs to main") << 0.0 << 10.0 << 0 << 0;
    QTest::newRow("right edge belongs to nobody") << 1920.0 << 10.0 << 0 << 0;
    QTest::newRow("no screen, other main") << 5000.0 << 5000.0 << 1 << 1;
    QTest::newRow("no screen, no main") << 5000.0 << 5000.0 << -1 << -1;
}

void TestShelfWindow::screenChoice()
{
    QFETCH(double, x);
    QFETCH(double, y);
    QFETCH(int, mainIndex);
    QFETCH(int, expected);
    const std::optional<Rect> visible = visibleFrameFor({x, y}, twoScreens, mainIndex);
    if (expected < 0)
        QVERIFY(!visible);
    else
        QCOMPARE(visible, std::optional<Rect>(twoScreens[expected].visibleFrame));
}

void TestShelfWindow::clamping_data()
{
    QTest::addColumn<Point>("origin");
    QTest::addColumn<Size>("size");
    QTest::addColumn<Point>("expected");
    const Size panel{180, 210};
    QTest::newRow("off the right edge") << Point{1850, 100} << panel << Point{1740, 100};
    QTest::newRow("off the bottom") << Point{100, -50} << panel << Point{100, 0};
    QTest::newRow("under the top bar") << Point{100, 1000} << panel << Point{100, 838};
    QTest::newRow("off the left") << Point{-30, 400} << panel << Point{0, 400};
    QTest::newRow("larger than the frame keeps the top-right")
        << Point{-50, -50} << Size{2000, 1200} << Point{-80, -152};
}

void TestShelfWindow::clamping()
{
    QFETCH(Point, origin);
    QFETCH(Size, size);
    QFETCH(Point, expected);
    QCOMPARE(clampIntoVisibleFrame(origin, size, twoScreens[0].visibleFrame), expected);
}

void TestShelfWindow::screenHoldingMostOfAFrame()
{
    QCOMPARE(visibleFrameHolding(Rect{{-50, 500}, {180, 210}}, twoScreens),
             std::optional<Rect>(twoScreens[0].visibleFrame));
    QCOMPARE(visibleFrameHolding(Rect{{-150, 500}, {180, 210}}, twoScreens),
             std::optional<Rect>(twoScreens[1].visibleFrame));
    QVERIFY(!visibleFrameHolding(Rect{{5000, 5000}, {180, 210}}, twoScreens));
}

void TestShelfWindow::panelKeys_data()
{
    using Command = ShelfPanel::KeyCommand;
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("native");
    QTest::addColumn<int>("expected");
    QTest::newRow("space") << int(Qt::Key_Space) << 0 << 0 << int(Command::preview);
    QTest::newRow("ctrl space") << int(Qt::Key_Space) << int(Qt::ControlModifier) << 0
                                << int(Command::none);
    QTest::newRow("ctrl w with caps lock")
        << int(Qt::Key_W) << int(Qt::ControlModifier) << 0x2 << int(Command::none);
    QTest::newRow("ctrl w with num lock")
        << int(Qt::Key_W) << int(Qt::ControlModifier) << 0x10 << int(Command::close);
    QTest::newRow("keypad ctrl c")
        << int(Qt::Key_C) << int(Qt::ControlModifier | Qt::KeypadModifier) << 0
        << int(Command::copy);
}

void TestShelfWindow::panelKeys()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(int, native);
    QFETCH(int, expected);
    QCOMPARE(int(ShelfPanel::keyCommand(key, Qt::KeyboardModifiers(modifiers), quint32(native))),
             expected);
}

void TestShelfWindow::contextMenu_data()
{
    // The items, the selection before and the row clicked (by index, -1: the stack); the
    // selection after, whether "작업" offers any, the remove entry's title and the items it
    // leaves.
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<int>("clicked");
    QTest::addColumn<QList<int>>("selectedAfter");
    QTest::addColumn<bool>("actions");
    QTest::addColumn<QString>("remove");
    QTest::addColumn<int>("left");
    QTest::newRow("unselected row selects only it")
        << QStringList{"a.png", "b.txt", "text:c"} << QList<int>{0, 2} << 1 << QList<int>{1}
        << false << "셸프에서 빼기" << 2;
    QTest::newRow("inside the selection keeps it")
        << QStringList{"text:a", "text:b", "text:c", "text:d"} << QList<int>{0, 1, 3} << 1
        << QList<int>{0, 1, 3} << false << "셸프에서 3개 빼기" << 1;
    QTest::newRow("an image and a PDF: every action")
        << QStringList{"a.png", "b.pdf"} << QList<int>{} << -1 << QList<int>{} << true
        << "셸프에서 2개 빼기" << 0;
}

void TestShelfWindow::contextMenu()
{
    QFETCH(QStringList, items);
    QFETCH(QList<int>, selected);
    QFETCH(int, clicked);
    QFETCH(QList<int>, selectedAfter);
    QFETCH(bool, actions);
    QFETCH(QString, remove);
    QFETCH(int, left);
    QList<ShelfItem> made;
    for (const QString &name : items)
        made.append(item(name));
    m_shelf->add(made);
    const auto ids = [&](const QList<int> &indexes) {
        QSet<QUuid> result;
        for (int i : indexes)
            result.insert(made[i].id());
        return result;
    };
    m_shelf->setSelection(ids(selected));

    const auto menu = menuFor(clicked < 0 ? std::nullopt : std::optional(made[clicked].id()));
    QCOMPARE(m_shelf->selection(), ids(selectedAfter));
    QCOMPARE(test::menuTitles(menu.get()),
             (QStringList{"열기", "빠른 보기", "공유…", "파일 관리자에서 보기", "작업", "—", "복사",
                          remove}));
    QCOMPARE(test::menuEntry(menu.get(), "작업")->isEnabled(), actions);
    // The shelf closes when it is emptied.
    QSignalSpy emptied(m_commands, &ShelfCommands::emptied);
    menu->actions().last()->trigger();
    QCOMPARE(m_shelf->items().size(), left);
    QCOMPARE(emptied.size(), left == 0 ? 1 : 0);
}

void TestShelfWindow::copyEntryPutsExistingTargetsOnTheClipboard()
{
    const ShelfItem file = item("keep.txt");
    const ShelfItem site = link("https://example.org/x");
    m_shelf->add({file, item("gone:gone.txt"), site, text("hello")});
    test::menuEntry(menuFor().get(), "복사")->trigger();
    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    QVERIFY(data);
    QCOMPARE(data->urls(), (QList<QUrl>{file.content().url(), site.content().url()}));
    QCOMPARE(data->text(), path("keep.txt") + "\nhttps://example.org/x\nhello");
}

void TestShelfWindow::entryOutlivingItsCommandsDoesNothing()
{
    m_shelf->add({text("c")});
    const auto menu = menuFor();
    delete m_commands;
    m_commands = nullptr;
    menu->actions().last()->trigger();
    QCOMPARE(m_shelf->items().size(), 1);
}

void TestShelfWindow::openAndReveal()
{
    QDir(m_dir->path()).mkdir("sub");
    const ShelfItem file = item("a.txt");
    const ShelfItem other = item("sub/b.txt");
    const ShelfItem site = link("https://example.org/a");
    m_shelf->add({file, text("t"), site, other});

    test::menuEntry(menuFor().get(), "열기")->trigger();
    QCOMPARE(m_desktop.fileManager().opened(),
             (QList<QUrl>{file.content().url(), site.content().url(), other.content().url()}));
    // The files that still exist, in one reveal.
    m_shelf->add({item("gone:gone.txt")});
    test::menuEntry(menuFor().get(), "파일 관리자에서 보기")->trigger();
    QCOMPARE(m_desktop.fileManager().revealed(),
             (QList<QList<QUrl>>{{file.content().url(), other.content().url()}}));
}

void TestShelfWindow::paste()
{
    const QString a = path("a.txt");
    test::writeFile(a, "x");
    auto *data = new QMimeData;
    data->setUrls({QUrl::fromLocalFile(a)});
    QGuiApplication::clipboard()->setMimeData(data);
    m_commands->paste();
    QCOMPARE(m_shelf->items().first().content(), Content::file(QUrl::fromLocalFile(a)));
    QVERIFY(m_shelf->hasReceivedDrop);
}

void TestShelfWindow::shareOffersEmailAndCopy()
{
    if (SharePicker::emailProgram().isEmpty())
        QSKIP("xdg-email is not installed");
    QWidget panel;
    panel.show();
    m_commands->panel = &panel;
    const ShelfItem file = item("사진.png");
    m_shelf->add({file, item("gone:gone.txt"), link("https://example.org/a"), text("메모")});
    QString program;
    QStringList arguments;
    SharePicker::setLaunchRecorder([&](const QString &p, const QStringList &a) {
        program = p;
        arguments = a;
    });

    test::menuEntry(menuFor().get(), "공유…")->trigger();
    QMenu *picker = panel.findChild<QMenu *>("sharePicker");
    QVERIFY(picker);
    QTRY_VERIFY(picker->isVisible());
    test::menuEntry(picker, "이메일로 보내기")->trigger();
    QVERIFY(program.endsWith("xdg-email"));
    QCOMPARE(arguments, (QStringList{"--utf8", "--body", "https://example.org/a\n메모", "--attach",
                                     path("사진.png")}));
}

void TestShelfWindow::resultsArriveAfterTheCommandsAreGone()
{
    m_shelf->add({item("그림.png"), text("t"), item("b.png")});
    QSignalSpy changed(m_shelf, &Shelf::itemsChanged);
    QStringList shown;
    connect(m_shelf, &Shelf::statusChanged, this, [&] { shown.append(statusOf(*m_shelf)); });
    m_commands->runQuickAction(QuickAction::convertToJPEG);
    // The panel closed: its commands go with it, the shelf stays.
    delete m_commands;
    m_commands = nullptr;

    QTRY_VERIFY_WITH_TIMEOUT(!changed.isEmpty(), 20000);
    QCOMPARE(test::names(*m_shelf), (QStringList{"그림.png", "t", "b.png", "그림.jpg", "b.jpg"}));
    // The files are counted while they are made.
    QCOMPARE(shown, (QStringList{"JPG로 바꾸는 중…", "JPG로 바꾸는 중… 1/2", "JPG로 바꾸는 중… 2/2",
                                 "2개를 만들었어요"}));
}

void TestShelfWindow::failedQuickActionBeeps()
{
    m_shelf->add({item("small.png", {1000, 600})});
    QSignalSpy finished(m_commands, &ShelfCommands::quickActionFinished);
    m_commands->runQuickAction(QuickAction::resize1280);
    QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty(), 20000);
    QCOMPARE(finished.takeFirst().first().toBool(), false);
    QCOMPARE(statusOf(*m_shelf), "small.png은(는) 이미 그보다 작아요.");
    QCOMPARE(m_desktop.dialogs().beeps(), 1);
    QCOMPARE(m_shelf->items().size(), 1);
}

void TestShelfWindow::textExtractionAddsAndCopiesTheText()
{
    m_shelf->add({textImage("text.png")});
    QSignalSpy finished(m_commands, &ShelfCommands::quickActionFinished);
    m_commands->runQuickAction(QuickAction::extractText);
    QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty(), 60000);
    QVERIFY2(finished.first().first().toBool(), qPrintable(statusOf(*m_shelf)));
    QCOMPARE(m_shelf->items().size(), 2);
    const ShelfItem made = m_shelf->items().last();
    QCOMPARE(made.content().kind(), Content::Kind::text);
    QVERIFY2(made.content().text().contains("HELLO"), qPrintable(made.content().text()));
    QCOMPARE(QGuiApplication::clipboard()->text(), made.content().text());
    QCOMPARE(statusOf(*m_shelf), "글자를 담고 복사했어요");
}

void TestShelfWindow::shelfClosedDuringRunStillReports()
{
    // The shelf goes while the run is under way: the text still reaches the clipboard, and a
    // failure is still logged and beeped.
    test::LogCapture log;
    auto *shelf = new Shelf;
    ShelfCommands commands(shelf);
    shelf->add({textImage("text.png"), item("small.png", {1000, 600})});
    QSignalSpy finished(&commands, &ShelfCommands::quickActionFinished);
    commands.runQuickAction(QuickAction::extractText, QList<ShelfItem>{shelf->items().first()});
    commands.runQuickAction(QuickAction::resize1280, QList<ShelfItem>{shelf->items().last()});
    delete shelf;

    QTRY_VERIFY_WITH_TIMEOUT(finished.size() == 2, 60000);
    QVERIFY2(QGuiApplication::clipboard()->text().contains("HELLO"),
             qPrintable(QGuiApplication::clipboard()->text()));
    QVERIFY(log.contains("small.png은(는) 이미 그보다 작아요."));
    QCOMPARE(m_desktop.dialogs().beeps(), 1);
}

void TestShelfWindow::newerMessageOutlivesOlderTimer()
{
    // A message stays its full time even when an older one, the same or another, was shown a
    // moment before: the older one's clearing never comes.
    const auto timer = [this] { return m_shelf->findChild<QTimer *>(); };
    for (const QString &second :
         {QStringLiteral("3개를 만들었어요"), QStringLiteral("만들었어요")}) {
        m_commands->flashStatus("만들었어요");
        QVERIFY(timer());
        QTRY_VERIFY_WITH_TIMEOUT(timer()->remainingTime() < 2400, 2000);
        m_commands->flashStatus(second);
        QCOMPARE(m_shelf->findChildren<QTimer *>().size(), 1);
        QVERIFY(timer()->isActive() && timer()->remainingTime() > 2400);
        QCOMPARE(statusOf(*m_shelf), second);
        // Its end, brought forward, clears the newer message.
        timer()->start(0);
        QTRY_VERIFY(!m_shelf->status());
    }
}

void TestShelfWindow::previewTogglesFromTheShelves()
{
    const ShelfItem note = test::text("t");
    const ShelfItem a = item("a.png"), b = item("b.png"), c = item("c.png");
    m_shelf->add({note, a, b, c});

    // Nothing selected: the first file; two selected: the first of them in shelf order.
    m_commands->togglePreview();
    PreviewWindow *window = m_commands->previewWindow();
    QVERIFY(window && window->isVisible());
    QCOMPARE(window->urls(),
             (QList<QUrl>{a.content().url(), b.content().url(), c.content().url()}));
    m_commands->togglePreview();
    m_shelf->setSelection({c.id(), b.id(), note.id()});
    m_commands->togglePreview();
    QCOMPARE(window->currentIndex(), 1);

    // The preview goes with the shelf it shows.
    delete m_commands;
    m_commands = nullptr;
    QVERIFY(!window->isVisible());
}

void TestShelfWindow::previewShowsEachKind()
{
    // A landscape JPEG whose EXIF orientation 6 turns it upright as a portrait; a PDF of a red, a
    // blue and a blank page; a long text; a text extension over binary contents.
    const QByteArray jpeg = test::encodedImage(test::quadrantImage({300, 200}), "jpeg");
    const QString pdf = path("문서.pdf");
    {
        QPdfWriter writer(pdf);
        writer.setPageSize(QPageSize(QPageSize::A4));
        QPainter painter(&writer);
        painter.fillRect(QRect(0, 0, writer.width(), writer.height()), Qt::red);
        writer.newPage();
        painter.fillRect(QRect(0, 0, writer.width(), writer.height()), Qt::blue);
        writer.newPage();
    }
    QByteArray longText;
    for (int i = 0; i < 20000; ++i)
        longText += "줄 " + QByteArray::number(i) + " 가나다라마바사\n";
    const QList<QUrl> urls{write("rotated.jpg", test::withExifOrientation(jpeg, 6)),
                           QUrl::fromLocalFile(pdf), write("notes.txt", longText),
                           write("fake.txt", QByteArray(1500, '\0'))};
    openOn(urls, 0);
    // The window takes the keyboard so that the arrows, Space and Esc reach it.
    QTRY_VERIFY(m_window->isActiveWindow());
    QCOMPARE(label("previewPosition"), "1 / 4");
    const QImage shown = child<QLabel>("previewPicture")->pixmap().toImage();
    QCOMPARE(shown.size(), QSize(200, 300));
    // The red top-left quadrant of the stored image is at the top right once upright.
    QVERIFY(qRed(shown.pixel(180, 20)) > 200 && qBlue(shown.pixel(20, 20)) > 200);
    QCOMPARE(label("previewSubtitle"), "200 × 300");

    // Left at the first file changes nothing (the moves are counted). Through the PDF page by
    // page: Down goes forward, End to the last page.
    QSignalSpy moved(m_window, &PreviewWindow::currentIndexChanged);
    QTest::keyClick(m_window, Qt::Key_Left);
    press(Qt::Key_Right);
    QCOMPARE(m_window->shownKind(), PreviewWindow::Kind::pdf);
    QCOMPARE(label("previewSubtitle"), "1 / 3쪽");
    const QImage page = child<QLabel>("previewPicture")->pixmap().toImage();
    QVERIFY(page.height() > page.width() &&
            page.height() >= m_window->contentPixelSize().height() - 2);
    QCOMPARE(middle(), "r");
    press(Qt::Key_Down);
    QCOMPARE(label("previewSubtitle"), "2 / 3쪽");
    QCOMPARE(middle(), "b");
    press(Qt::Key_End);
    QCOMPARE(middle(), "rgb");

    // Only the first part of a long text, with no broken character at the cut.
    press(Qt::Key_Right);
    auto *text = child<QPlainTextEdit>("previewText");
    QVERIFY(text->toPlainText().startsWith("줄 0 가나다라마바사\n줄 1 "));
    QVERIFY(text->toPlainText().size() < 64 * 1024);
    QVERIFY(!text->toPlainText().contains(QChar::ReplacementCharacter));

    // Details for what cannot be shown, and for a file that vanished while the window was open;
    // Right at the last file changes nothing.
    press(Qt::Key_Right);
    QCOMPARE(m_window->shownKind(), PreviewWindow::Kind::other);
    QCOMPARE(label("previewSize"), "1.5 KB");
    QFile::remove(path("notes.txt"));
    QTest::keyClick(m_window, Qt::Key_Right);
    press(Qt::Key_Left);
    QCOMPARE(label("previewName"), "notes.txt");
    QCOMPARE(label("previewKind"), "파일을 찾을 수 없어요.");
    QCOMPARE(moved.size(), 4);

    // Space closes it; no files close it too, instead of showing nothing.
    QSignalSpy closedByKey(m_window, &PreviewWindow::closedByKey);
    QTest::keyClick(m_window, Qt::Key_Space);
    QCOMPARE(closedByKey.size(), 1);
    openOn(urls, 0);
    m_window->open({}, 0);
    QVERIFY(!m_window->isVisible());
}

void TestShelfWindow::thumbnails_data()
{
    // Scaled to the asked size with the orientation applied, HEIC through libheif, a PDF's first
    // page, and nothing (the icon stays) for anything broken.
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("size");
    QTest::newRow("orientation applied") << "turned.jpg" << QSize(32, 64);
    QTest::newRow("heic") << "photo.heic" << QSize(64, 32);
    QTest::newRow("pdf first page") << "letter.pdf" << QSize(49, 64);
    QTest::newRow("broken image") << "broken.png" << QSize(0, 0);
}

void TestShelfWindow::thumbnails()
{
    QFETCH(QString, name);
    QFETCH(QSize, size);
    const QImage landscape = test::quadrantImage({400, 200});
    if (name == "turned.jpg") {
        // Stored wide, shown tall (orientation 6: turned a quarter clockwise).
        write(name, test::withExifOrientation(test::encodedImage(landscape, "jpeg"), 6));
    } else if (name == "photo.heic" && !test::writeHEIC(path(name), landscape)) {
        QSKIP("no HEIC encoder to make the test file");
    } else if (name == "letter.pdf") {
        QVERIFY(test::writePDF(path(name), {QSizeF(612, 792), QSizeF(792, 612)}));
    } else if (name == "broken.png") {
        write(name, "\x89PNG\r\n\x1a\n broken");
    }
    const QImage image = ThumbnailProvider::render(path(name), 64);
    QCOMPARE(image.size(), size);
    if (name == "turned.jpg") {
        // The red corner was top-left as stored; a quarter turn clockwise puts it top-right.
        const QColor topRight = image.pixelColor(image.width() - 4, 4);
        QVERIFY2(topRight.red() > 200 && topRight.blue() < 60, qPrintable(topRight.name()));
    }
}

QTEST_MAIN(TestShelfWindow)
#include "tst_shelfwindow.moc"
