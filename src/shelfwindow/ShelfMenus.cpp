#include "shelfwindow/ShelfMenus.h"

#include "actions/QuickAction.h"
#include "share/WindowsZipExporter.h"
#include "shelf/Shelf.h"
#include "shelfwindow/Icons.h"
#include "shelfwindow/ShelfCommands.h"
#include "shelfwindow/ShelfView.h"

#include <QAction>
#include <QActionGroup>
#include <QKeySequence>
#include <QMenu>
#include <QPointer>

#include <algorithm>

namespace vyo {

namespace {

bool isTextItem(const ShelfItem &item)
{
    return item.content().kind() == ShelfItem::Content::Kind::text;
}

// One menu entry whose own MenuAction (a child of the entry, so it lives exactly as long as the
// entry) runs the handler.
QAction *addEntry(QMenu *menu, const QString &objectName, const QString &title, Icon icon,
                  bool enabled, std::function<void()> handler)
{
    QAction *entry = menu->addAction(themeIcon(icon), title);
    entry->setObjectName(objectName);
    entry->setEnabled(enabled);
    auto *target = new MenuAction(std::move(handler), entry);
    entry->setData(QVariant::fromValue<QObject *>(target));
    QObject::connect(entry, &QAction::triggered, target, &MenuAction::run);
    return entry;
}

void showShortcut(QAction *entry, const QKeySequence &keys)
{
    entry->setShortcut(keys);
    entry->setShortcutVisibleInContextMenu(true);
}

QString removeTitle(qsizetype count)
{
    if (count < 2)
        return QStringLiteral("셸프에서 빼기");
    return QStringLiteral("셸프에서 ") + QString::number(count) + QStringLiteral("개 빼기");
}

// Whether the quick-action submenu sets the shrink sizes, text extraction and the merge apart
// with separators (the right-click menu does, the shelf menu lists them in one run).
enum class Grouping { separated, plain };

// Adds the "작업" submenu to the menu: every quick action in order, each enabled when it applies
// to the targets; choosing one calls `run` with it. Answers the menu's entry for the submenu.
QAction *addQuickActionMenu(QMenu *menu, const QList<ShelfItem> &targets, Grouping grouping,
                            const std::function<void(QuickAction)> &run)
{
    auto *actionMenu = new QMenu(QStringLiteral("작업"), menu);
    actionMenu->setObjectName(QStringLiteral("quickActionMenu"));
    actionMenu->setIcon(themeIcon(Icon::quickActions));
    for (QuickAction action : QuickAction::allCases()) {
        const QuickAction::Case value = action;
        if (grouping == Grouping::separated &&
            (value == QuickAction::resize2048 || value == QuickAction::extractText ||
             value == QuickAction::mergePDF))
            actionMenu->addSeparator();
        addEntry(actionMenu, QStringLiteral("quickAction%1").arg(int(action)), action.title(),
                 quickActionIcon(action), QuickActions::isApplicable(targets, action),
                 [run, action] { run(action); });
    }
    return menu->addMenu(actionMenu);
}

} // namespace

namespace ShelfMenus {

QMenu *shelfMenu(ShelfView *view)
{
    auto *menu = new QMenu(view);
    menu->setObjectName(QStringLiteral("shelfMenu"));
    const QPointer<Shelf> shelf = view->shelf();
    if (!shelf)
        return menu;
    const QPointer<ShelfCommands> commands = view->commands();
    const qsizetype count = shelf->items().size();

    menu->addAction(themeIcon(Icon::rename), QStringLiteral("이름 바꾸기…"), view,
                    &ShelfView::beginRename);
    QMenu *colors = menu->addMenu(themeIcon(Icon::color), QStringLiteral("색"));
    auto *group = new QActionGroup(colors);
    for (ShelfColor color : allShelfColors()) {
        QAction *action = colors->addAction(label(color));
        action->setCheckable(true);
        action->setChecked(color == shelf->color());
        group->addAction(action);
        QObject::connect(action, &QAction::triggered, view, [shelf, color] {
            if (shelf)
                shelf->setColor(color);
        });
    }
    if (!shelf->pinID())
        menu->addAction(themeIcon(Icon::pin), QStringLiteral("알림 영역에 고정"), view,
                        [view] { Q_EMIT view->pinRequested(); });
    else
        menu->addAction(themeIcon(Icon::unpin), QStringLiteral("고정 해제"), view,
                        [view] { Q_EMIT view->unpinRequested(); });
    menu->addSeparator();
    if (count > 1 && !view->isExpanded())
        menu->addAction(QStringLiteral("목록으로 보기"), view, [view] { view->setExpanded(true); });
    if (count > 1 && view->isExpanded())
        menu->addAction(QStringLiteral("스택으로 보기"), view,
                        [view] { view->setExpanded(false); });
    QAction *preview = menu->addAction(themeIcon(Icon::preview),
                                       QStringLiteral("빠른 보기 (스페이스)"), view, [commands] {
                                           if (commands)
                                               commands->togglePreview();
                                       });
    preview->setEnabled(commands && commands->canPreview());
    menu->addAction(themeIcon(Icon::share), QStringLiteral("공유…"), view, [commands] {
        if (commands)
            commands->share();
    });
    // Quick actions run on the targets at the moment one is chosen.
    addQuickActionMenu(menu, commands ? commands->targetItems() : QList<ShelfItem>(),
                       Grouping::plain, [commands](QuickAction action) {
                           if (commands)
                               commands->runQuickAction(action);
                       });
    menu->addSeparator();
    menu->addAction(QStringLiteral("모두 복사 (Ctrl+C)"), view, [shelf] {
        if (shelf)
            shelf->copyToPasteboard();
    });
    menu->addAction(QStringLiteral("붙여넣기 (Ctrl+V)"), view, [commands] {
        if (commands)
            commands->paste();
    });
    if (!shelf->fileURLs().isEmpty()) {
        menu->addAction(QStringLiteral("파일 관리자에서 보기"), view, [shelf, commands] {
            if (shelf && commands)
                commands->reveal(shelf->fileURLs());
        });
        menu->addAction(QStringLiteral("윈도우용 ZIP으로 저장…"), view, [shelf] {
            if (shelf)
                WindowsZipExporter::shared().exportShelf(*shelf);
        });
    }
    menu->addSeparator();
    QAction *clearAll = menu->addAction(QStringLiteral("모두 지우기"), view,
                                        [view] { Q_EMIT view->clearAllRequested(); });
    clearAll->setObjectName(QStringLiteral("clearAllAction"));
    QFont destructive = clearAll->font();
    destructive.setBold(true);
    clearAll->setFont(destructive);
    return menu;
}

QMenu *contextMenu(ShelfCommands &commands, const std::optional<QUuid> &clickedItem)
{
    auto *menu = new QMenu;
    menu->setObjectName(QStringLiteral("shelfContextMenu"));

    QList<ShelfItem> targets;
    if (Shelf *shelf = commands.shelf()) {
        const QList<ShelfItem> &items = shelf->items();
        const bool clickedIsOnShelf =
            clickedItem && std::any_of(items.begin(), items.end(), [&](const ShelfItem &item) {
                return item.id() == *clickedItem;
            });
        if (clickedIsOnShelf && !shelf->selection().contains(*clickedItem))
            shelf->select(*clickedItem, SelectionMode::single);
        targets = clickedItem ? commands.targetItems() : shelf->items();
    }

    const bool someNotText = std::any_of(targets.begin(), targets.end(),
                                         [](const ShelfItem &item) { return !isTextItem(item); });
    const bool someFileBacked =
        std::any_of(targets.begin(), targets.end(),
                    [](const ShelfItem &item) { return item.content().isFileBacked(); });
    const QList<QuickAction> &actions = QuickAction::allCases();
    const bool someActionApplies =
        std::any_of(actions.begin(), actions.end(), [&targets](QuickAction action) {
            return QuickActions::isApplicable(targets, action);
        });

    const QPointer<ShelfCommands> self = &commands;

    addEntry(menu, QStringLiteral("contextOpen"), QStringLiteral("열기"), Icon::open, someNotText,
             [self, targets] {
                 if (!self)
                     return;
                 for (const ShelfItem &item : targets) {
                     if (!isTextItem(item))
                         self->open(item);
                 }
             });

    QAction *preview = addEntry(menu, QStringLiteral("contextPreview"), QStringLiteral("빠른 보기"),
                                Icon::preview, commands.canPreview(), [self] {
                                    if (self)
                                        self->togglePreview();
                                });
    showShortcut(preview, QKeySequence(Qt::Key_Space));

    addEntry(menu, QStringLiteral("contextShare"), QStringLiteral("공유…"), Icon::share, true,
             [self, targets] {
                 if (self)
                     self->share(targets);
             });

    addEntry(menu, QStringLiteral("contextReveal"), QStringLiteral("파일 관리자에서 보기"),
             Icon::showInFileManager, someFileBacked, [self, targets] {
                 if (!self)
                     return;
                 QList<QUrl> urls;
                 for (const ShelfItem &item : targets) {
                     if (item.content().isFileBacked())
                         urls.append(item.content().url());
                 }
                 self->reveal(urls);
             });

    QAction *actionEntry =
        addQuickActionMenu(menu, targets, Grouping::separated, [self, targets](QuickAction action) {
            if (self)
                self->runQuickAction(action, targets);
        });
    actionEntry->setObjectName(QStringLiteral("contextQuickActions"));
    actionEntry->setEnabled(someActionApplies);

    menu->addSeparator();

    QAction *copyEntry = addEntry(menu, QStringLiteral("contextCopy"), QStringLiteral("복사"),
                                  Icon::copy, true, [self, targets] {
                                      if (self)
                                          self->copy(targets);
                                  });
    showShortcut(copyEntry, QKeySequence(Qt::CTRL | Qt::Key_C));

    addEntry(menu, QStringLiteral("contextRemove"), removeTitle(targets.size()),
             Icon::removeFromShelf, true, [self, targets] {
                 if (self)
                     self->remove(targets);
             });
    return menu;
}

} // namespace ShelfMenus

} // namespace vyo
