// The tray menu, built as it is before it opens and inspected through its actions, and what its
// actions do to the shelf manager.

#include "app/StatusItemController.h"
#include "core/Defaults.h"
#include "platform/fake/FakeDesktop.h"
#include "platform/fake/FakeHotKeys.h"
#include "shelf/Shelf.h"
#include "shelf/ShelfManager.h"
#include "shelfwindow/ShelfPanelController.h"
#include "shortcuts/KeyboardShortcuts.h"

#include "ShelfSupport.h"
#include "TestSupport.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace vyo;
using Content = ShelfItem::Content;

using test::text;

namespace {

// The menu as a list of lines: "---" for a separator, "(title)" for a disabled item, "title ▸"
// for a submenu.
QStringList lines(const QMenu *menu)
{
    QStringList result;
    for (const QAction *action : menu->actions()) {
        if (action->isSeparator()) {
            result << "---";
            continue;
        }
        QString line = action->text();
        if (action->menu())
            line += " ▸";
        result << (action->isEnabled() ? line : "(" + line + ")");
    }
    return result;
}

// A tray item of its own shelf manager, settings and shortcuts.
struct Fixture
{
    FakeDesktop desktop;
    QTemporaryDir dir;
    Defaults defaults{dir.filePath("Vyo.conf")};
    FakeHotKeys hotKeys;
    KeyboardShortcuts::Registry shortcuts{defaults, &hotKeys};
    ShelfManager manager{ShelfPersistence(dir.filePath("shelves.json")),
                         ShelfPanelController::windowMaker()};
    StatusItemController controller{manager, shortcuts};
};

} // namespace

class TestStatusItem : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void withNothingOpen();
    void openAndPinnedSections();
    void recentSection();
    void clipboardEntry();
    void panelNextToTheIcon();

private:
    QMenu *menu()
    {
        m_f->controller.rebuildMenu();
        return m_f->controller.menu();
    }
    ShelfPanelController *panel(const Shelf *shelf)
    {
        return qobject_cast<ShelfPanelController *>(m_f->manager.window(shelf->id()));
    }

    std::unique_ptr<Fixture> m_f;
    QSet<QUuid> m_shared;
};

void TestStatusItem::init()
{
    m_f = std::make_unique<Fixture>();
    m_shared.clear();
    m_f->controller.isSharing = [this](const QUuid &id) { return m_shared.contains(id); };
    QGuiApplication::clipboard()->clear();
}

void TestStatusItem::cleanup()
{
    m_f.reset();
}

void TestStatusItem::withNothingOpen()
{
    QCOMPARE(lines(menu()),
             (QStringList{"새 셸프", "(클립보드로 새 셸프)", "---", "(닫은 셸프 다시 열기)",
                          "(최근 닫은 셸프 ▸)", "---", "설정…", "Vyo 종료"}));
    QSignalSpy settings(&m_f->controller, &StatusItemController::settingsRequested);
    test::menuEntry(menu(), "설정…")->trigger();
    QCOMPARE(settings.count(), 1);

    // The menu is rebuilt when it is about to open, not before.
    auto opened = m_f->manager.newShelf();
    opened.shelf->setName("방금");
    QVERIFY(!test::menuEntry(m_f->controller.menu(), "방금"));
    Q_EMIT m_f->controller.menu()->aboutToShow();
    QVERIFY(test::menuEntry(m_f->controller.menu(), "방금"));
}

void TestStatusItem::openAndPinnedSections()
{
    auto work = m_f->manager.newShelf();
    work.shelf->setName("Work");
    work.shelf->add({text("a"), text("b")});
    auto unnamed = m_f->manager.newShelf();
    const QString file = m_f->dir.filePath("보고서.pdf");
    QVERIFY(test::writeFile(file, "pdf"));
    unnamed.shelf->add({test::file(file)});
    auto empty = m_f->manager.newShelf();
    empty.shelf->setName(QString()); // an empty name counts as none
    m_shared.insert(work.shelf->id());
    auto pinned = m_f->manager.newShelf();
    pinned.shelf->add({text("메모")});
    pinned.shelf->setName("고정");
    m_f->manager.pin(pinned.shelf);
    const QUuid pinID = *pinned.shelf->pinID();

    QCOMPARE(lines(menu()),
             (QStringList{"새 셸프", "(클립보드로 새 셸프)", "---", "(열린 셸프)", "Work — 공유 중",
                          "보고서.pdf", "빈 셸프", "고정", "모든 셸프 닫기", "---", "(고정된 셸프)",
                          "고정 — 열림", "---", "(닫은 셸프 다시 열기)", "(최근 닫은 셸프 ▸)",
                          "---", "설정…", "Vyo 종료"}));

    // A shared shelf opens with its share sheet; others come to the front without.
    test::menuEntry(menu(), "Work — 공유 중")->trigger();
    QVERIFY(work.shelf->shareRequest());
    test::menuEntry(menu(), "보고서.pdf")->trigger();
    QVERIFY(!unnamed.shelf->shareRequest());
    QCOMPARE(panel(unnamed.shelf)->frontOrderCount(), 1);

    // Closed, a pinned shelf stays in the pinned section (not in the recent list) and opens again
    // from there.
    m_f->manager.close(pinned.shelf);
    QAction *entry = test::menuEntry(menu(), "고정");
    QVERIFY(entry && entry->isEnabled());
    entry->trigger();
    QCOMPARE(m_f->manager.shelves().last()->pinID(), std::optional<QUuid>(pinID));
    QVERIFY(test::menuEntry(menu(), "고정 — 열림"));

    test::menuEntry(menu(), "모든 셸프 닫기")->trigger();
    QVERIFY(m_f->manager.shelves().isEmpty());
}

void TestStatusItem::recentSection()
{
    auto older = m_f->manager.newShelf();
    older.shelf->add({text("오래된 것")});
    m_f->manager.close(older.shelf);
    auto newer = m_f->manager.newShelf();
    newer.shelf->add({text("새것")});
    m_f->manager.close(newer.shelf);
    const QDateTime closedAt = *m_f->manager.recent().snapshots.first().closedAt;
    m_f->controller.now = [closedAt] { return closedAt.addSecs(5 * 60); };

    QMenu *top = menu();
    QVERIFY(test::menuEntry(top, "닫은 셸프 다시 열기")->isEnabled());
    QAction *submenuItem = test::menuEntry(top, "최근 닫은 셸프");
    QVERIFY(submenuItem->isEnabled());
    QStringList recentLines = lines(submenuItem->menu());
    QCOMPARE(recentLines.size(), 4);
    QCOMPARE(recentLines.at(0), "새것 — 5분 전");
    QVERIFY(recentLines.at(1).startsWith("오래된 것 — "));
    QCOMPARE(recentLines.mid(2), (QStringList{"---", "목록 지우기"}));

    // Choosing the older one reopens it and leaves the newer in the list.
    test::menuEntry(submenuItem->menu(), recentLines.at(1))->trigger();
    QCOMPARE(m_f->manager.shelves().size(), 1);
    QCOMPARE(m_f->manager.shelves().first()->title(), "오래된 것");
    QCOMPARE(m_f->manager.recent().snapshots.size(), 1);

    test::menuEntry(test::menuEntry(menu(), "최근 닫은 셸프")->menu(), "목록 지우기")->trigger();
    QVERIFY(m_f->manager.recent().snapshots.isEmpty());
    QVERIFY(!test::menuEntry(menu(), "최근 닫은 셸프")->isEnabled());
}

void TestStatusItem::clipboardEntry()
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    QVERIFY(!test::menuEntry(menu(), "클립보드로 새 셸프")->isEnabled());

    clipboard->setText("붙여 넣을 글");
    QAction *entry = test::menuEntry(menu(), "클립보드로 새 셸프");
    QVERIFY(entry->isEnabled());
    entry->trigger();
    QCOMPARE(m_f->manager.shelves().size(), 1);
    Shelf *shelf = m_f->manager.shelves().first();
    QCOMPARE(shelf->items().size(), 1);
    QCOMPARE(shelf->items().first().content(), Content::text("붙여 넣을 글"));
    QVERIFY(panel(shelf)->isPresented());
}

void TestStatusItem::panelNextToTheIcon()
{
    // The panel hangs 8 points under an icon in the screen's upper half, else 8 points over it.
    const Rect screen{{0, 0}, {1920, 1080}};
    const Size panel{180, 210};
    QCOMPARE(StatusItemController::panelOrigin(Rect{{1000, 0}, {24, 28}}, panel, screen),
             (Point{1012 - 90, 28 + 8}));
    QCOMPARE(StatusItemController::panelOrigin(Rect{{1000, 1052}, {24, 28}}, panel, screen),
             (Point{1012 - 90, 1052 - 8 - 210}));
}

QTEST_MAIN(TestStatusItem)
#include "tst_statusitem.moc"
