#include "app/StatusItemController.h"

#include "app/RelativeTime.h"
#include "core/Log.h"
#include "platform/Desktop.h"
#include "platform/Dialogs.h"
#include "platform/ScreenCoordinates.h"
#include "platform/WindowSystem.h"
#include "share/ShareCenter.h"
#include "shelf/Shelf.h"
#include "shelf/ShelfManager.h"
#include "shelf/ShelfWindow.h"
#include "shortcuts/KeyboardShortcuts.h"
#include "update/Updater.h"

#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>

namespace vyo {

namespace {

// How often the tray host's presence is looked at: Qt reports no change of it.
constexpr int trayCheckMilliseconds = 2000;

// Draws a 16-unit glyph at each of the usual icon sizes.
QIcon paintedIcon(const std::function<void(QPainter &)> &draw)
{
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(size / 16.0, size / 16.0);
        draw(painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

// The outline of a tray: a shallow box with a dip in its top edge.
QPainterPath trayOutline()
{
    QPainterPath path;
    path.moveTo(1.5, 8);
    path.lineTo(5, 8);
    path.quadTo(5.5, 10.5, 8, 10.5);
    path.quadTo(10.5, 10.5, 11, 8);
    path.lineTo(14.5, 8);
    path.lineTo(14.5, 13);
    path.quadTo(14.5, 14.5, 13, 14.5);
    path.lineTo(3, 14.5);
    path.quadTo(1.5, 14.5, 1.5, 13);
    path.closeSubpath();
    return path;
}

// The tray icon: a full tray, readable on light and dark panels alike.
QIcon fullTrayIcon()
{
    return paintedIcon([](QPainter &painter) {
        painter.setPen(QPen(QColor(0x1f, 0x4e, 0x8c), 0.8));
        painter.setBrush(Qt::white);
        painter.drawRoundedRect(QRectF(3.5, 1.5, 9, 8), 1, 1);
        painter.drawLine(QPointF(5.5, 4), QPointF(10.5, 4));
        painter.drawLine(QPointF(5.5, 6), QPointF(10.5, 6));
        painter.setBrush(QColor(0x3b, 0x82, 0xd6));
        painter.drawPath(trayOutline());
    });
}

// An empty tray in the menu's text colour: a shelf with nothing on it.
QIcon emptyTrayIcon(const QColor &color)
{
    return paintedIcon([color](QPainter &painter) {
        painter.setPen(QPen(color, 1.2));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(trayOutline());
    });
}

// A filled pin: a pinned shelf.
QIcon pinIcon(const QColor &color)
{
    return paintedIcon([color](QPainter &painter) {
        painter.setPen(QPen(color, 1.4, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(8, 9), QPointF(8, 15));
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        QPainterPath head;
        head.moveTo(5, 1.5);
        head.lineTo(11, 1.5);
        head.lineTo(10, 5);
        head.lineTo(12.5, 9);
        head.lineTo(3.5, 9);
        head.lineTo(6, 5);
        head.closeSubpath();
        painter.drawPath(head);
    });
}

// A filled circle with an arrow pointing down: a new version to install.
QIcon downloadIcon(const QColor &color)
{
    return paintedIcon([color](QPainter &painter) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawEllipse(QRectF(1, 1, 14, 14));
        painter.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawLine(QPointF(8, 4.5), QPointF(8, 11));
        painter.drawPolyline(QList<QPointF>{{5, 8.5}, {8, 11.5}, {11, 8.5}});
    });
}

// A disabled item that names the section below it.
void addSectionHeader(QMenu *menu, const QString &title)
{
    QAction *header = menu->addAction(title);
    header->setEnabled(false);
}

} // namespace

StatusItemController::StatusItemController(ShelfManager &manager,
                                           KeyboardShortcuts::Registry &shortcuts, QObject *parent)
    : QObject(parent)
    , isSharing([](const QUuid &shelfId) { return ShareCenter::shared().isSharing(shelfId); })
    , now([] { return QDateTime::currentDateTime(); })
    , m_manager(manager)
    , m_shortcuts(&shortcuts)
    , m_menu(std::make_unique<QMenu>())
{
    m_menu->setObjectName(QStringLiteral("statusItemMenu"));
    connect(m_menu.get(), &QMenu::aboutToShow, this, &StatusItemController::rebuildMenu);

    m_trayIcon = new QSystemTrayIcon(fullTrayIcon(), this);
    m_trayIcon->setObjectName(QStringLiteral("statusItem"));
    // The host shows the tool tip and reads it as the item's name.
    m_trayIcon->setToolTip(QStringLiteral("Vyo"));
    m_trayIcon->setContextMenu(m_menu.get());
    connect(m_trayIcon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                // A click opens the menu, as a right click does; so does a second click soon
                // after, which Qt reports as a double click.
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                    showMenuAtPointer();
            });
    setUpdater(&Updater::shared());
    // Built once now, so that a host that reads the menu before it opens finds it filled.
    rebuildMenu();
    m_trayIcon->show();

    m_trayAvailable = QSystemTrayIcon::isSystemTrayAvailable();
    if (m_trayAvailable)
        vyoInfo(lcApp, u"알림 영역에 아이콘 표시");
    else
        vyoWarning(lcApp, u"알림 영역(트레이)이 없어 아이콘을 보일 수 없음: 단축키와 화면 위쪽 "
                          u"드롭 영역은 그대로 동작");
    m_trayCheck = new QTimer(this);
    m_trayCheck->setInterval(trayCheckMilliseconds);
    connect(m_trayCheck, &QTimer::timeout, this, &StatusItemController::checkTrayAvailability);
    m_trayCheck->start();
}

StatusItemController::~StatusItemController()
{
    delete m_trayIcon;
    m_trayIcon = nullptr;
}

void StatusItemController::checkTrayAvailability()
{
    const bool available = QSystemTrayIcon::isSystemTrayAvailable();
    if (available == m_trayAvailable)
        return;
    m_trayAvailable = available;
    if (available) {
        vyoInfo(lcApp, u"알림 영역이 나타나 아이콘을 다시 표시");
        // Shown again so that the icon docks into the new host.
        m_trayIcon->hide();
        m_trayIcon->show();
    } else {
        vyoWarning(lcApp, u"알림 영역이 사라짐: 아이콘은 알림 영역이 다시 나타나면 돌아옴");
    }
}

void StatusItemController::showMenuAtPointer()
{
    if (m_menu->isVisible())
        return;
    m_menu->popup(QCursor::pos());
}

void StatusItemController::rebuildMenu()
{
    QMenu *menu = m_menu.get();
    menu->clear();
    delete m_recentMenu;
    const QColor glyphColor = menu->palette().color(QPalette::WindowText);
    const QPointer<StatusItemController> self(this);

    const auto shortcutOf = [this](const KeyboardShortcuts::Name &name) {
        if (!m_shortcuts)
            return QKeySequence();
        const std::optional<KeyboardShortcuts::Shortcut> shortcut = m_shortcuts->shortcut(name);
        return shortcut ? shortcut->keySequence() : QKeySequence();
    };
    // The global combination is shown only; the desktop delivers it, not the menu.
    const auto showGlobalShortcut = [&](QAction *action, const KeyboardShortcuts::Name &name) {
        action->setShortcut(shortcutOf(name));
        action->setShortcutContext(Qt::WidgetShortcut);
        action->setProperty(KeyboardShortcuts::menuItemSlotProperty, name.rawValue);
    };

    QAction *newShelf =
        menu->addAction(QStringLiteral("새 셸프"), this, &StatusItemController::openNewShelf);
    showGlobalShortcut(newShelf, KeyboardShortcuts::Name::newShelf());

    QAction *fromClipboard = menu->addAction(QStringLiteral("클립보드로 새 셸프"), this,
                                             &StatusItemController::openShelfFromClipboard);
    const QMimeData *clipboard = QGuiApplication::clipboard()->mimeData();
    fromClipboard->setEnabled(clipboard && ShelfItem::canAccept(clipboard));

    const QList<Shelf *> &shelves = m_manager.shelves();
    if (!shelves.isEmpty()) {
        menu->addSeparator();
        addSectionHeader(menu, QStringLiteral("열린 셸프"));
        for (Shelf *shelf : shelves) {
            QString title =
                shelf->name() && !shelf->name()->isEmpty() ? *shelf->name() : shelf->title();
            const bool shared = isSharing && isSharing(shelf->id());
            if (shared)
                title += QStringLiteral(" — 공유 중");
            const QUuid id = shelf->id();
            // A shared shelf comes to the front with its share sheet open.
            QAction *item =
                menu->addAction(title, this, [self, id, shelf = QPointer<Shelf>(shelf), shared] {
                    if (!self)
                        return;
                    self->bringShelfToFront(id);
                    if (shared && shelf)
                        shelf->setShareRequest(QUuid::createUuid());
                });
            item->setData(id);
            // The last item's icon at menu size; the empty tray when there is none.
            const QIcon itemIcon =
                shelf->items().isEmpty() ? QIcon() : shelf->items().last().icon();
            item->setIcon(itemIcon.isNull() ? emptyTrayIcon(glyphColor)
                                            : QIcon(itemIcon.pixmap(16, 16)));
        }
        menu->addAction(QStringLiteral("모든 셸프 닫기"), this,
                        &StatusItemController::closeAllShelves);
    }

    const QList<ShelfSnapshot> &pinned = m_manager.pinned();
    if (!pinned.isEmpty()) {
        menu->addSeparator();
        addSectionHeader(menu, QStringLiteral("고정된 셸프"));
        for (const ShelfSnapshot &snapshot : pinned) {
            if (!snapshot.pinID)
                continue;
            const QUuid pinID = *snapshot.pinID;
            QString title =
                snapshot.name && !snapshot.name->isEmpty() ? *snapshot.name : snapshot.title;
            const bool open = std::any_of(shelves.cbegin(), shelves.cend(),
                                          [&](Shelf *shelf) { return shelf->pinID() == pinID; });
            if (open)
                title += QStringLiteral(" — 열림");
            QAction *item = menu->addAction(pinIcon(glyphColor), title, this, [self, pinID] {
                if (self)
                    self->m_manager.openPinned(pinID);
            });
            item->setData(pinID);
        }
    }

    const QList<ShelfSnapshot> &recent = m_manager.recent().snapshots;
    menu->addSeparator();
    QAction *reopen = menu->addAction(QStringLiteral("닫은 셸프 다시 열기"), this,
                                      &StatusItemController::reopenLastClosed);
    showGlobalShortcut(reopen, KeyboardShortcuts::Name::reopenShelf());
    reopen->setEnabled(!recent.isEmpty());

    m_recentMenu = new QMenu(QStringLiteral("최근 닫은 셸프"), menu);
    m_recentMenu->setObjectName(QStringLiteral("recentShelvesMenu"));
    const QDateTime currentTime = now ? now() : QDateTime::currentDateTime();
    for (const ShelfSnapshot &snapshot : recent) {
        QString title = snapshot.title;
        if (snapshot.closedAt)
            title += QStringLiteral(" — ") + relativeTimeText(*snapshot.closedAt, currentTime);
        const QUuid id = snapshot.id;
        QAction *item = m_recentMenu->addAction(title, this, [self, id] {
            if (self)
                self->reopenRecent(id);
        });
        item->setData(id);
    }
    if (!recent.isEmpty()) {
        m_recentMenu->addSeparator();
        m_recentMenu->addAction(QStringLiteral("목록 지우기"), this,
                                &StatusItemController::clearRecent);
    }
    menu->addMenu(m_recentMenu)->setEnabled(!recent.isEmpty());

    menu->addSeparator();
    addUpdateEntry(menu, glyphColor);
    menu->addAction(QStringLiteral("설정…"), QKeySequence(Qt::CTRL | Qt::Key_Comma), this,
                    &StatusItemController::openSettings);
    menu->addAction(QStringLiteral("Vyo 종료"), QKeySequence(Qt::CTRL | Qt::Key_Q), qApp,
                    &QCoreApplication::quit);
}

void StatusItemController::addUpdateEntry(QMenu *menu, const QColor &glyphColor)
{
    // The quiet entry of a version a scheduled check found; else a check now, once the updater
    // runs; else nothing.
    if (!m_updater)
        return;
    if (const std::optional<QString> pending = m_updater->pendingVersion()) {
        menu->addAction(downloadIcon(glyphColor),
                        QStringLiteral("새 버전 ") + *pending + QStringLiteral(" 설치…"), this,
                        &StatusItemController::checkForUpdates);
    } else if (m_updater->isStarted()) {
        QAction *check = menu->addAction(QStringLiteral("업데이트 확인…"), this,
                                         &StatusItemController::checkForUpdates);
        check->setEnabled(m_updater->canCheckForUpdates());
    }
}

void StatusItemController::setUpdater(Updater *updater)
{
    if (m_updater)
        disconnect(m_updater, nullptr, this, nullptr);
    m_updater = updater;
    if (!updater)
        return;
    // Tray hosts may read the menu before it opens: it follows the updater while closed. Queued,
    // as the change may come from one of the menu's own entries, which a rebuild deletes.
    const auto refresh = [this] {
        if (!m_menu->isVisible())
            rebuildMenu();
    };
    connect(updater, &Updater::pendingVersionChanged, this, refresh, Qt::QueuedConnection);
    connect(updater, &Updater::canCheckForUpdatesChanged, this, refresh, Qt::QueuedConnection);
}

void StatusItemController::checkForUpdates()
{
    if (m_updater)
        m_updater->checkForUpdates();
}

void StatusItemController::openNewShelf()
{
    presentNewShelf(m_manager.newShelf().window);
}

void StatusItemController::openShelfFromClipboard()
{
    const ShelfManager::Opened opened = m_manager.newShelf();
    presentNewShelf(opened.window);
    const QPointer<Shelf> shelf(opened.shelf);
    const QMimeData *clipboard = QGuiApplication::clipboard()->mimeData();
    if (clipboard && ShelfItem::receivePromisedFiles(
                         clipboard, [shelf](const ShelfItem &item, const QUuid &replacing) {
                             if (shelf)
                                 shelf->replace(replacing, item);
                         })) {
        opened.shelf->hasReceivedDrop = true;
        return;
    }
    const QList<ShelfItem> items = clipboard ? ShelfItem::items(clipboard) : QList<ShelfItem>();
    if (items.isEmpty()) {
        m_manager.close(opened.shelf);
        Desktop::shared().dialogs().beep();
        return;
    }
    opened.shelf->hasReceivedDrop = true;
    opened.shelf->add(items);
}

void StatusItemController::bringShelfToFront(const QUuid &shelfId)
{
    for (Shelf *shelf : m_manager.shelves()) {
        if (shelf->id() == shelfId) {
            m_manager.bringToFront(shelf);
            return;
        }
    }
}

void StatusItemController::reopenLastClosed()
{
    if (!m_manager.reopenLastClosed())
        Desktop::shared().dialogs().beep();
}

void StatusItemController::reopenRecent(const QUuid &snapshotId)
{
    if (snapshotId.isNull())
        return;
    if (!m_manager.reopenRecent(snapshotId))
        Desktop::shared().dialogs().beep();
}

void StatusItemController::clearRecent()
{
    m_manager.clearRecent();
}

void StatusItemController::closeAllShelves()
{
    const QList<Shelf *> shelves = m_manager.shelves();
    for (Shelf *shelf : shelves)
        m_manager.close(shelf);
}

void StatusItemController::openSettings()
{
    vyoInfo(lcApp, u"설정 창 열기");
    Q_EMIT settingsRequested();
}

Rect StatusItemController::iconRect() const
{
    if (!m_trayIcon || !m_trayIcon->isVisible())
        return {};
    const std::optional<QRect> geometry = dockedIconGeometry();
    if (!geometry || geometry->isEmpty())
        return {};
    return fromQt(QRectF(*geometry));
}

std::optional<QRect> StatusItemController::dockedIconGeometry() const
{
    // Qt keeps the XEmbed icon in a top-level widget of its own with this object name. A tray
    // host of the StatusNotifierItem kind reports no geometry at all.
    const QWidgetList widgets = QApplication::topLevelWidgets();
    for (QWidget *widget : widgets) {
        if (widget->objectName() == u"QSystemTrayIconSys")
            return Desktop::shared().windowSystem().trayEmbeddedGeometry(widget->internalWinId());
    }
    return std::nullopt;
}

Point StatusItemController::panelOrigin(const Rect &icon, Size panelSize, const Rect &screen)
{
    const double x = icon.midX() - panelSize.width / 2;
    if (!screen.isEmpty() && icon.midY() < screen.midY())
        return {x, icon.maxY() + 8};
    return {x, icon.minY() - 8 - panelSize.height};
}

void StatusItemController::presentNewShelf(ShelfWindow *window)
{
    if (!window)
        return;
    const Rect icon = iconRect();
    if (icon.isEmpty()) {
        ShelfManager::presentBesidePointer(window, pointerLocation());
        return;
    }
    const Point centre{icon.midX(), icon.midY()};
    Rect screenFrame;
    if (QScreen *screen = QGuiApplication::screenAt(toQt(centre).toPoint()))
        screenFrame = fromQt(QRectF(screen->geometry()));
    window->present(panelOrigin(icon, window->currentSize(), screenFrame), centre);
}

} // namespace vyo
