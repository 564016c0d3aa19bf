#pragma once

// The application's start-up, URL handling and quit. Launching runs once on the main thread:
// one copy per user, the defaults, the stored state and the clean-up of unused drop folders, the
// tray item, drag watching (shakes and the drop zones), the URL scheme, the global shortcuts, the
// restored shelves, the watched folders and, the first time, the welcome window.

#include <QList>
#include <QObject>
#include <QStringList>

#include <functional>

namespace vyo {

class SingleInstance;
class ShelfManager;
class StatusItemController;
class DragShakeMonitor;
class NotchDropTarget;

class AppDelegate : public QObject
{
    Q_OBJECT
public:
    enum class LaunchResult {
        running,       // this process is the running copy
        testHarness,   // under the test harness nothing starts
        otherInstance, // another copy runs; this one hands over and exits
    };

    explicit AppDelegate(QObject *parent = nullptr);
    ~AppDelegate() override;

    // Starts the application. `arguments` are the command line's URLs: the running copy opens
    // them after start-up, a second copy forwards them to the running one.
    LaunchResult launch(const QStringList &arguments);

    // Handles URLs of the vyoshelf scheme in order.
    void openURLs(const QStringList &urls);
    void openURL(const QString &url);

    // Saves at once; called when the application quits.
    void saveBeforeQuit();

    // Plays the system beep; replaceable so tests can count beeps.
    std::function<void()> beep;

    // The tray item; absent until launch has created it.
    StatusItemController *statusItemController() const { return m_statusItemController; }
    // Watches drags anywhere on the desktop for a shake; made with the delegate.
    DragShakeMonitor *shakeMonitor() const { return m_shakeMonitor; }
    // The drop zones at the top of the screen while a drag lasts; made with the delegate.
    NotchDropTarget *notchDropTarget() const { return m_notchDropTarget; }

private:
    // Claims the one copy per user; a later copy forwards its URLs and answers false.
    bool claimSingleInstance(const QStringList &arguments);
    // Shakes during any drag open shelves; the drop zones follow every drag.
    void watchDragsAnywhere(ShelfManager &manager);
    void registerUrlScheme();
    // The new-shelf and reopen shortcuts.
    void connectGlobalShortcuts();
    void watchStoredFolders();
    // What a later copy sent: URLs to open, or the request to show the settings.
    void receiveMessages(const QStringList &messages);
    // The welcome window, the first time Vyo runs for this user.
    void welcomeOnFirstLaunch();
    // The automation actions on the session bus.
    void startAutomation();

    SingleInstance *m_singleInstance = nullptr;
    StatusItemController *m_statusItemController = nullptr;
    DragShakeMonitor *const m_shakeMonitor;
    NotchDropTarget *const m_notchDropTarget;
};

} // namespace vyo
