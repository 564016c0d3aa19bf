#include "app/AppDelegate.h"

#include "app/SingleInstance.h"
#include "app/StatusItemController.h"
#include "core/Defaults.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "intents/AutomationService.h"
#include "logic/URLCommand.h"
#include "platform/PeerConnection.h"
#include "platform/ScreenCoordinates.h"
#include "platform/UrlSchemeRegistration.h"
#include "settings/SettingsWindowController.h"
#include "settings/UpdateWindow.h"
#include "shake/DragShakeMonitor.h"
#include "share/ShareCenter.h"
#include "shelf/Shelf.h"
#include "shelf/ShelfManager.h"
#include "shelfwindow/NotchDropTarget.h"
#include "shelfwindow/ShelfPanelController.h"
#include "shortcuts/KeyboardShortcuts.h"
#include "update/Updater.h"
#include "watch/WatchCenter.h"

#include <QApplication>
#include <QPointer>

namespace vyo {

AppDelegate::AppDelegate(QObject *parent)
    : QObject(parent)
    , beep([] { QApplication::beep(); })
    , m_shakeMonitor(new DragShakeMonitor(this))
    , m_notchDropTarget(new NotchDropTarget(nullptr, nullptr, this))
{}

AppDelegate::~AppDelegate() = default;

AppDelegate::LaunchResult AppDelegate::launch(const QStringList &arguments)
{
    // Under the test harness nothing starts: tests drive the parts directly.
    if (isTestHarness())
        return LaunchResult::testHarness;
    if (!claimSingleInstance(arguments))
        return LaunchResult::otherInstance;

    Defaults &defaults = Defaults::shared();
    defaults.registerDefaults();

    // The stored state is read once: it names the drop folders still in use, and its shelves
    // open again further down, after the tray item, drag watching and shortcuts are in place.
    // Every open shelf gets a panel; sharing follows the shelves and connects over WebRTC.
    ShelfManager &manager = ShelfManager::shared();
    manager.setWindowMaker(ShelfPanelController::windowMaker());
    ShareCenter::shared().follow(manager);
    ShareCenter::shared().setPeerConnectionMaker(makePeerConnection);
    const ShelfPersistence::State state =
        loadStateAndCleanUp(manager.persistence(), itemsDirectory());

    // The tray item and its menu.
    m_statusItemController =
        new StatusItemController(manager, KeyboardShortcuts::Registry::shared(), this);
    watchDragsAnywhere(manager);
    // Update checks from now on; what the user should see of them shows in the update window.
    UpdateWindow::follow(Updater::shared());
    Updater::shared().start();
    registerUrlScheme();
    connectGlobalShortcuts();
    manager.restore(state, defaults.restoreShelves());
    watchStoredFolders();
    connect(m_statusItemController, &StatusItemController::settingsRequested, this,
            [] { SettingsWindowController::shared().showSettings(); });
    startAutomation();
    welcomeOnFirstLaunch();

    openURLs(arguments);
    return LaunchResult::running;
}

bool AppDelegate::claimSingleInstance(const QStringList &arguments)
{
    // One copy per user: a later copy hands over its URLs and leaves everything untouched.
    m_singleInstance = new SingleInstance(SingleInstance::defaultFolder(), this);
    if (!m_singleInstance->claim()) {
        if (!arguments.isEmpty() && m_singleInstance->forward(arguments))
            return false;
        // Started again with nothing to open: the running copy shows its settings.
        if (arguments.isEmpty())
            m_singleInstance->forward({QLatin1String(SingleInstance::showSettingsMessage)});
        vyoInfo(lcApp, u"이미 실행 중인 Vyo(pid %d)가 있어 종료합니다",
                m_singleInstance->otherProcessId());
        return false;
    }
    connect(m_singleInstance, &SingleInstance::messagesReceived, this,
            &AppDelegate::receiveMessages);
    return true;
}

void AppDelegate::receiveMessages(const QStringList &messages)
{
    for (const QString &message : messages) {
        if (message == QLatin1String(SingleInstance::showSettingsMessage))
            SettingsWindowController::shared().showSettings();
        else
            openURL(message);
    }
}

void AppDelegate::welcomeOnFirstLaunch()
{
    // The flag is set first, so the welcome shows once even if Vyo quits while it is open.
    Defaults &defaults = Defaults::shared();
    if (defaults.hasShownWelcome())
        return;
    defaults.setValue(QLatin1String(DefaultsKey::hasShownWelcome), true);
    defaults.sync();
    SettingsWindowController::shared().showWelcome();
}

void AppDelegate::watchDragsAnywhere(ShelfManager &manager)
{
    // A shake during a drag opens a shelf beside the pointer; shake shelves that received nothing
    // go when the drag ends. The drop zones at the top follow every drag and close 0.3 s after it
    // (a drag that begins sooner keeps them).
    m_shakeMonitor->onShake = [&manager](Point pointer) { manager.openForShake(pointer); };
    m_shakeMonitor->onDragEnded = [&manager] { manager.discardUnusedShakeShelves(); };
    const QPointer<NotchDropTarget> notch(m_notchDropTarget);
    m_shakeMonitor->onDragBegan = [notch] {
        if (notch)
            notch->show();
    };
    m_shakeMonitor->onDragFinished = [notch] {
        if (notch)
            notch->hideLater(300);
    };
    // From now on every left mouse-down anywhere is watched.
    m_shakeMonitor->start();
}

void AppDelegate::registerUrlScheme()
{
    // The desktop learns where to send vyoshelf: URLs.
    QString error;
    if (!registerUrlSchemeHandler(QCoreApplication::applicationFilePath(), &error))
        vyoError(lcApp, u"vyoshelf 주소 처리기를 등록하지 못함: %{public}s", error);
}

void AppDelegate::connectGlobalShortcuts()
{
    // The global shortcuts act when their keys are released: a new shelf beside the pointer, or
    // the last closed shelf again (a beep when there is none).
    KeyboardShortcuts::Registry &shortcuts = KeyboardShortcuts::Registry::shared();
    shortcuts.onKeyUp(KeyboardShortcuts::Name::newShelf(), [] {
        const Point pointer = pointerLocation();
        ShelfManager::presentBesidePointer(ShelfManager::shared().newShelf().window, pointer);
    });
    const QPointer<AppDelegate> self(this);
    shortcuts.onKeyUp(KeyboardShortcuts::Name::reopenShelf(), [self] {
        if (!ShelfManager::shared().reopenLastClosed() && self)
            self->beep();
    });
}

void AppDelegate::watchStoredFolders()
{
    // Shelves of watched folders open below the tray icon (the zero rectangle until there is
    // one); the stored folders are watched from now on.
    WatchCenter &watchCenter = WatchCenter::shared();
    watchCenter.anchorRect = [tray = QPointer<StatusItemController>(m_statusItemController)] {
        return tray ? tray->iconRect() : Rect{};
    };
    watchCenter.watcher().update(watchCenter.folders());
}

void AppDelegate::startAutomation()
{
    // Scripts, desktop actions and `vyo --add …` reach the shelves over the session bus; the name
    // is taken last, so that calls waiting for the application find it ready.
    auto *service =
        new AutomationService(ShelfActions(ShelfManager::shared(), pointerLocation), this);
    service->publish(QDBusConnection::sessionBus());
}

void AppDelegate::openURLs(const QStringList &urls)
{
    for (const QString &url : urls)
        openURL(url);
}

void AppDelegate::openURL(const QString &url)
{
    ShelfManager &manager = ShelfManager::shared();
    const URLCommand command = URLCommand::parse(url);
    switch (command.kind) {
    case URLCommand::Kind::newShelf: {
        const Point pointer = pointerLocation();
        ShelfManager::presentBesidePointer(manager.newShelf().window, pointer);
        break;
    }
    case URLCommand::Kind::reopen:
        if (!manager.reopenLastClosed())
            beep();
        break;
    case URLCommand::Kind::add: {
        const Point pointer = pointerLocation();
        const ShelfManager::Opened opened = manager.newShelf();
        ShelfManager::presentBesidePointer(opened.window, pointer);
        QList<ShelfItem> items;
        for (const QUrl &file : command.files)
            items.append(ShelfItem(ShelfItem::Content::file(file)));
        opened.shelf->add(items);
        break;
    }
    case URLCommand::Kind::invalid:
        vyoError(lcApp, u"알 수 없는 주소: %{public}s", url.left(2048));
        break;
    }
}

void AppDelegate::saveBeforeQuit()
{
    ShelfManager::shared().save();
}

} // namespace vyo
