#pragma once

// The tray item: Vyo's permanent place on the desktop. It owns the tray icon and its menu, which
// is rebuilt from scratch every time it opens, so that it always lists the current open, pinned
// and recently closed shelves. New shelves from the menu open next to the icon when the tray host
// tells where the icon is, else beside the pointer.
//
// A tray icon cannot take drops on Linux; the drop zone at the top of the screen covers that
// gesture.

#include "core/Geometry.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>

class QMenu;
class QSystemTrayIcon;
class QTimer;

namespace vyo {

class ShelfManager;
class ShelfWindow;
class Updater;

namespace KeyboardShortcuts {
class Registry;
}

class StatusItemController : public QObject
{
    Q_OBJECT
public:
    // `shortcuts` supplies the key combinations the menu shows next to its two shelf entries.
    StatusItemController(ShelfManager &manager, KeyboardShortcuts::Registry &shortcuts,
                         QObject *parent = nullptr);
    ~StatusItemController() override;

    ShelfManager &manager() const { return m_manager; }
    QSystemTrayIcon *trayIcon() const { return m_trayIcon; }
    QMenu *menu() const { return m_menu.get(); }

    // Empties the menu and fills it again from the manager's current state.
    void rebuildMenu();

    void openNewShelf();
    void openShelfFromClipboard();
    void bringShelfToFront(const QUuid &shelfId);
    void reopenLastClosed();
    void reopenRecent(const QUuid &snapshotId);
    void clearRecent();
    void closeAllShelves();
    void openSettings();
    // "업데이트 확인…" and the pending version's entry: a check now, whose answer shows.
    void checkForUpdates();

    // The updater whose state the update entry shows; the process-wide one by default, none
    // for no update entry.
    void setUpdater(Updater *updater);

    // The tray icon's rectangle on screen in model coordinates (y up); the zero rectangle when
    // the tray host does not tell (StatusNotifierItem hosts never do) or there is no tray.
    Rect iconRect() const;

    // Where a new panel of `panelSize` goes for an icon on `screen`: centred under the icon, 8
    // points below it; for an icon in the lower half of its screen (a panel at the bottom),
    // 8 points above it instead, so that the shelf stays on screen.
    static Point panelOrigin(const Rect &icon, Size panelSize, const Rect &screen);

    // Whether a shelf is being shared; the share center by default.
    std::function<bool(const QUuid &shelfId)> isSharing;
    // The clock of the recent list's relative times.
    std::function<QDateTime()> now;

Q_SIGNALS:
    // "설정…" was chosen.
    void settingsRequested();

private:
    // Where the icon shows, once the tray host has taken it in.
    std::optional<QRect> dockedIconGeometry() const;
    void presentNewShelf(ShelfWindow *window);

    void showMenuAtPointer();
    void addUpdateEntry(QMenu *menu, const QColor &glyphColor);
    void checkTrayAvailability();

    ShelfManager &m_manager;
    QPointer<KeyboardShortcuts::Registry> m_shortcuts;
    QPointer<Updater> m_updater;
    QSystemTrayIcon *m_trayIcon = nullptr;
    std::unique_ptr<QMenu> m_menu;
    QPointer<QMenu> m_recentMenu;
    QTimer *m_trayCheck = nullptr;
    bool m_trayAvailable = false;
};

} // namespace vyo
