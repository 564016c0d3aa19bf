// The shelf panel's view without a window manager: sizes, content modes, menus, selection, drops
// and drag-out removal, driven through the real widgets.

#include "core/Defaults.h"
#include "shelf/Shelf.h"
#include "shelf/ShelfManager.h"
#include "shelfwindow/DragSource.h"
#include "shelfwindow/ElidingLabel.h"
#include "shelfwindow/ShelfItemRow.h"
#include "shelfwindow/ShelfMenus.h"
#include "shelfwindow/ShelfPanel.h"
#include "shelfwindow/ShelfPanelController.h"
#include "shelfwindow/ShelfView.h"

#include "ShelfSupport.h"
#include "TestSupport.h"

#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

using namespace vyo;
using Content = ShelfItem::Content;

using test::text;

class TestShelfView : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void sizesFollowTheContent();
    void stackAndListCaptions();
    void shelfMenuEntries();
    void shelfMenuActions();
    void rowClicksSelect();
    void rowRemoveButton();
    void dropsFromOtherApplications_data();
    void dropsFromOtherApplications();
    void enteringDropsVanishedFiles();
    void dragOutRemoval_data();
    void dragOutRemoval();
    void dragOfVanishedFilesDoesNotStart();
    void rename();
    void statusCancelButton();
    void panelKeysReachTheShelf();
    void requestsAfterTheShelfClosedDoNothing();

private:
    QTemporaryDir *m_dir = nullptr;
    ShelfManager *m_manager = nullptr;
    ShelfManager::Opened m_opened{};
    ShelfPanelController *controller() const
    {
        return qobject_cast<ShelfPanelController *>(m_opened.window);
    }
    ShelfView *view() const { return controller()->view(); }
    Shelf *shelf() const { return m_opened.shelf; }
    QString file(const QString &name)
    {
        const QString path = m_dir->filePath(name);
        if (!QFileInfo::exists(path))
            test::writeFile(path, "x");
        return path;
    }
};

void TestShelfView::init()
{
    m_dir = new QTemporaryDir;
    m_manager = new ShelfManager(ShelfPersistence(m_dir->filePath("state.json")),
                                 ShelfPanelController::windowMaker());
    m_opened = m_manager->newShelf();
}

void TestShelfView::cleanup()
{
    Defaults::shared().remove(DefaultsKey::removeAfterDragOut);
    delete m_manager;
    delete m_dir;
}

void TestShelfView::sizesFollowTheContent()
{
    auto *content = view()->findChild<QStackedWidget *>("content");
    QCOMPARE(view()->size(), QSize(180, 210));
    QCOMPARE(content->currentWidget()->objectName(), "emptyState");
    QCOMPARE(controller()->currentSize(), (Size{180, 210}));

    shelf()->add({text("a")});
    QCOMPARE(content->currentWidget()->objectName(), "stackView");
    shelf()->add({text("b")});
    QCOMPARE(content->currentWidget()->objectName(), "stackView");
    QCOMPARE(view()->size(), QSize(180, 210));

    // A click on the stack opens the list.
    auto *stack = view()->findChild<DragSource *>("stackView");
    QTest::mouseClick(stack, Qt::LeftButton);
    QCOMPARE(content->currentWidget()->objectName(), "listView");
    QCOMPARE(view()->size(), QSize(260, 340));
    QCOMPARE(controller()->panel()->size(), QSize(260, 340));
    auto *stackButton = view()->findChild<QToolButton *>("stackButton");
    QVERIFY(stackButton->isVisibleTo(view()));

    // The list stays chosen while fewer than two items are left, and comes back with more.
    shelf()->remove({shelf()->items().first().id()});
    QCOMPARE(view()->size(), QSize(180, 210));
    QVERIFY(view()->isExpanded());
    shelf()->add({text("c")});
    QCOMPARE(view()->size(), QSize(260, 340));

    QTest::mouseClick(stackButton, Qt::LeftButton);
    QCOMPARE(view()->size(), QSize(180, 210));
    QCOMPARE(content->currentWidget()->objectName(), "stackView");
}

void TestShelfView::stackAndListCaptions()
{
    shelf()->add({text("첫 줄\n둘째"), text("b"), text("c")});
    auto *stack = view()->findChild<DragSource *>("stackView");
    QCOMPARE(stack->toolTip(), "끌어서 모두 복사 (Shift: 이동) · 클릭해서 펼치기");
    QCOMPARE(view()->findChild<QLabel *>("stackCaption")->text(), "3개 항목");
    shelf()->setName("모음");
    QCOMPARE(view()->findChild<QLabel *>("stackCaption")->text(), "모음");
    QCOMPARE(stack->accessibleName(), "모음");
    view()->setExpanded(true);
    QCOMPARE(view()->rows().size(), 3);
    QCOMPARE(view()->findChild<QLabel *>("footerLabel")->text(), "3개 항목 모두 끌기");
    QCOMPARE(view()->rows().first()->removeButton()->accessibleName(), "첫 줄 셸프에서 제거");
}

void TestShelfView::shelfMenuEntries()
{
    // Links and texts only: no file-manager or ZIP entries, and the list entry with two items.
    shelf()->add({text("a"), test::link("https://example.com")});
    std::unique_ptr<QMenu> menu(ShelfMenus::shelfMenu(view()));
    QCOMPARE(test::menuTitles(menu.get()),
             (QStringList{"이름 바꾸기…", "색", "알림 영역에 고정", "—", "목록으로 보기",
                          "빠른 보기 (스페이스)", "공유…", "작업", "—", "모두 복사 (Ctrl+C)",
                          "붙여넣기 (Ctrl+V)", "—", "모두 지우기"}));
    QVERIFY(!test::menuEntry(menu.get(), "빠른 보기 (스페이스)")->isEnabled());
    const QMenu *actions = test::menuEntry(menu.get(), "작업")->menu();
    QCOMPARE(actions->actions().size(), 6);
    for (const QAction *entry : actions->actions())
        QVERIFY2(!entry->isEnabled(), qPrintable(entry->text()));
    const QMenu *colors = test::menuEntry(menu.get(), "색")->menu();
    QCOMPARE(test::menuTitles(colors),
             (QStringList{"없음", "빨강", "주황", "노랑", "초록", "파랑", "보라", "회색"}));
    QVERIFY(colors->actions().first()->isChecked());

    // A file, a pin and the list: the file entries appear, "고정 해제" replaces the pin entry.
    shelf()->add({test::file(file("사진.png"))});
    m_manager->pin(shelf());
    view()->setExpanded(true);
    menu.reset(ShelfMenus::shelfMenu(view()));
    const QStringList entries = test::menuTitles(menu.get());
    QVERIFY(entries.contains("고정 해제"));
    QVERIFY(!entries.contains("알림 영역에 고정"));
    QVERIFY(entries.contains("스택으로 보기"));
    QVERIFY(entries.indexOf("파일 관리자에서 보기") == entries.indexOf("붙여넣기 (Ctrl+V)") + 1);
    QVERIFY(entries.indexOf("윈도우용 ZIP으로 저장…") ==
            entries.indexOf("파일 관리자에서 보기") + 1);
    QVERIFY(test::menuEntry(menu.get(), "빠른 보기 (스페이스)")->isEnabled());
    const QMenu *applicable = test::menuEntry(menu.get(), "작업")->menu();
    QVERIFY(applicable->actions()[0]->isEnabled()); // JPEG applies to the PNG
}

void TestShelfView::shelfMenuActions()
{
    shelf()->add({text("a"), text("b")});
    std::unique_ptr<QMenu> menu(ShelfMenus::shelfMenu(view()));
    test::menuEntry(test::menuEntry(menu.get(), "색")->menu(), "파랑")->trigger();
    QCOMPARE(shelf()->color(), ShelfColor::blue);
    test::menuEntry(menu.get(), "알림 영역에 고정")->trigger();
    QVERIFY(shelf()->pinID());
    QCOMPARE(m_manager->pinned().size(), 1);
    test::menuEntry(menu.get(), "목록으로 보기")->trigger();
    QVERIFY(view()->isExpanded());

    menu.reset(ShelfMenus::shelfMenu(view()));
    test::menuEntry(menu.get(), "고정 해제")->trigger();
    QVERIFY(!shelf()->pinID());
    QVERIFY(m_manager->pinned().isEmpty());
    test::menuEntry(menu.get(), "모두 지우기")->trigger();
    QVERIFY(shelf()->items().isEmpty());
    QCOMPARE(m_manager->recent().snapshots.size(), 1);
    QCOMPARE(m_manager->shelves().size(), 1); // clearing keeps the shelf open
}

void TestShelfView::rowClicksSelect()
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
    QTest::mouseClick(row(2), Qt::LeftButton, Qt::ControlModifier);
    QCOMPARE(shelf()->selection(), ids({1, 3}));
    QVERIFY(view()->rows()[1]->isSelected());
    QVERIFY(!view()->rows()[2]->isSelected());
    // Ctrl wins over Shift.
    QTest::mouseClick(row(0), Qt::LeftButton, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(shelf()->selection(), ids({0, 1, 3}));

    // A selected row drags the selection; an unselected one only itself.
    QCOMPARE(view()->rows()[3]->dragItems().size(), 3);
    QCOMPARE(view()->rows()[2]->dragItems().size(), 1);
}

void TestShelfView::rowRemoveButton()
{
    shelf()->add({text("a"), text("b")});
    view()->setExpanded(true);
    QTest::mouseClick(view()->rows()[0]->removeButton(), Qt::LeftButton);
    QCOMPARE(shelf()->items().size(), 1);
    QCOMPARE(shelf()->items().first().displayName(), "b");
}

void TestShelfView::dropsFromOtherApplications_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("items");
    QTest::newRow("files") << "text/uri-list" << QByteArray("file:///tmp/a\r\nfile:///tmp/b\r\n")
                           << 2;
    QTest::newRow("huge text") << "text/plain" << QByteArray(5 * 1024 * 1024, 'a') << 1;
    QTest::newRow("html only") << "text/html" << QByteArray("<b>x</b>") << 0;
    QTest::newRow("empty uri list") << "text/uri-list" << QByteArray() << 0;
    QTest::newRow("broken png") << "image/png" << QByteArray("\x89PNG broken") << 0;
}

void TestShelfView::dropsFromOtherApplications()
{
    QFETCH(QString, format);
    QFETCH(QByteArray, data);
    QFETCH(int, items);
    ShelfDropView *dropView = controller()->panel()->dropView();
    QMimeData mime;
    mime.setData(format, data);
    const QPoint point(90, 100);
    QDragEnterEvent enter(point, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(dropView, &enter);
    const bool accepted = enter.isAccepted();
    QCOMPARE(shelf()->isDropTargeted(), accepted);
    if (accepted) {
        QDropEvent drop(point, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(dropView, &drop);
        QCOMPARE(drop.isAccepted(), items > 0);
    }
    QVERIFY(!shelf()->isDropTargeted());
    QCOMPARE(shelf()->items().size(), items);
    QCOMPARE(shelf()->hasReceivedDrop, items > 0);
}

void TestShelfView::enteringDropsVanishedFiles()
{
    const QString path = file("gone.txt");
    shelf()->add({test::file(path), text("stays")});
    QVERIFY(QFile::remove(path));
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(controller()->panel()->dropView(), &enter);
    QCOMPARE(shelf()->items().size(), 1);
    QCOMPARE(shelf()->items().first().displayName(), "stays");
}

void TestShelfView::dragOutRemoval_data()
{
    QTest::addColumn<int>("action");
    QTest::addColumn<bool>("removeAfterDragOut");
    QTest::addColumn<int>("left");
    QTest::newRow("dropped nowhere") << int(Qt::IgnoreAction) << true << 2;
    QTest::newRow("copied") << int(Qt::CopyAction) << false << 2;
    QTest::newRow("linked") << int(Qt::LinkAction) << false << 2;
    QTest::newRow("moved") << int(Qt::MoveAction) << false << 1;
    QTest::newRow("copied with removal on") << int(Qt::CopyAction) << true << 1;
}

void TestShelfView::dragOutRemoval()
{
    QFETCH(int, action);
    QFETCH(bool, removeAfterDragOut);
    QFETCH(int, left);
    shelf()->add({text("a"), text("b")});
    // Switched in the settings while the shelf is open.
    Defaults::shared().setValue(DefaultsKey::removeAfterDragOut, removeAfterDragOut);
    view()->finishDragOut({shelf()->items().first()}, Qt::DropAction(action));
    QCOMPARE(shelf()->items().size(), left);
    QCOMPARE(m_manager->shelves().size(), 1);

    // Moving everything out closes the shelf.
    view()->finishDragOut(shelf()->items(), Qt::MoveAction);
    QVERIFY(m_manager->shelves().isEmpty());
}

void TestShelfView::dragOfVanishedFilesDoesNotStart()
{
    const QString path = file("gone.txt");
    const ShelfItem gone(Content::file(QUrl::fromLocalFile(path)));
    QVERIFY(QFile::remove(path));
    QVERIFY(!DragSource::dragData({gone}));
    std::unique_ptr<QMimeData> data(DragSource::dragData({gone, text("글")}));
    QVERIFY(data);
    QVERIFY(!data->hasUrls());
    QCOMPARE(data->text(), "글");
    QCOMPARE(DragSource::offeredActions(Qt::NoModifier), Qt::CopyAction | Qt::LinkAction);
    QVERIFY(DragSource::offeredActions(Qt::ShiftModifier) & Qt::MoveAction);
}

void TestShelfView::rename()
{
    auto *field = view()->findChild<QLineEdit *>("nameField");
    view()->beginRename();
    QVERIFY(view()->isRenaming());
    QTest::keyClicks(field, "  New name ");
    QTest::keyClick(field, Qt::Key_Return);
    QCOMPARE(shelf()->name(), std::optional<QString>("New name"));
    QVERIFY(!view()->isRenaming());

    view()->beginRename();
    QCOMPARE(field->text(), "New name");
    field->setText("   ");
    view()->commitRename();
    QVERIFY(!shelf()->name());

    shelf()->setName("그대로");
    view()->beginRename();
    field->setText("바뀌면 안 됨");
    QTest::keyClick(field, Qt::Key_Escape);
    QCOMPARE(shelf()->name(), std::optional<QString>("그대로"));
    QVERIFY(!view()->isRenaming());

    // A name longer than the header shows its start and an ellipsis; a short one shows whole.
    controller()->panel()->show();
    auto *label = view()->findChild<ElidingLabel *>("nameLabel");
    const QString longName = QString("아주 긴 셸프 이름 ").repeated(8).trimmed();
    shelf()->setName(longName);
    QTRY_VERIFY(label->isVisible());
    QCOMPARE(label->text(), longName);
    QVERIFY2(label->shownText().endsWith(u'…') && label->shownText().size() < 40,
             qPrintable(label->shownText()));
    shelf()->setName("짧은 이름");
    QCOMPARE(label->shownText(), "짧은 이름");
}

void TestShelfView::statusCancelButton()
{
    auto *label = view()->findChild<QLabel *>("statusLabel");
    auto *cancel = view()->findChild<QToolButton *>("statusCancelButton");
    int cancels = 0;
    shelf()->setCancellableStatus("ZIP 만드는 중… 42%", [&] { ++cancels; });
    QVERIFY(!label->isHidden() && !cancel->isHidden());
    QVERIFY(label->rect().contains(cancel->geometry()));
    QTest::mouseClick(cancel, Qt::LeftButton);
    // Offered once; a plain status has no button.
    QCOMPARE(cancels, 1);
    QVERIFY(cancel->isHidden());
    shelf()->setStatus(QString("만들었어요"));
    QVERIFY(!label->isHidden() && cancel->isHidden());
}

void TestShelfView::panelKeysReachTheShelf()
{
    shelf()->add({text("복사할 글")});
    ShelfPanel *panel = controller()->panel();
    QTest::keyClick(panel, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), "복사할 글");
    QTest::keyClick(panel, Qt::Key_Escape);
    QVERIFY(m_manager->shelves().isEmpty());
}

void TestShelfView::requestsAfterTheShelfClosedDoNothing()
{
    ShelfView *shelfView = view();
    shelf()->add({text("a")});
    Q_EMIT shelfView->clearAllRequested();
    QCOMPARE(m_manager->recent().snapshots.size(), 1);
    shelf()->add({text("b")});
    Q_EMIT shelfView->closeRequested();
    QVERIFY(m_manager->shelves().isEmpty());
    QCOMPARE(m_manager->recent().snapshots.size(), 2);

    // The panel fades out after its shelf closed: its buttons reach nothing any more.
    Q_EMIT shelfView->clearAllRequested();
    Q_EMIT shelfView->pinRequested();
    Q_EMIT shelfView->closeRequested();
    QCOMPARE(m_manager->recent().snapshots.size(), 2);
    QVERIFY(m_manager->pinned().isEmpty());
}

QTEST_MAIN(TestShelfView)
#include "tst_shelfview.moc"
