#pragma once

// The desktop services of this session, in one place: the process-wide ones (dialogs, the file
// manager, the window system) and factories for those each user owns (a drag watcher, global hot
// keys, a file-system event source). Features that own a service take it in their constructor,
// so tests pass fakes directly; only their defaults come from here.
//
// shared() is made on first use, on the main thread: the implementations of the running session
// (X11 and freedesktop services on Linux) or stand-ins that do nothing where the session cannot
// (Wayland, no display). Tests install a desktop of fakes (platform/fake/FakeDesktop.h).

#include <QObject>

#include <chrono>
#include <memory>

namespace vyo {

class Dialogs;
class DragWatcher;
class DropSource;
class FileManager;
class FileSystemEvents;
class GlobalHotKeys;
class IdleInhibitor;
class WindowSystem;

class Desktop
{
public:
    // The desktop of this session, or the one a test installed.
    static Desktop &shared();

    virtual ~Desktop();

    // The save dialog, alerts and the beep.
    virtual Dialogs &dialogs() = 0;
    // Revealing and opening files.
    virtual FileManager &fileManager() = 0;
    // Panels on all desktops, the compositor, the tray icon's place.
    virtual WindowSystem &windowSystem() = 0;
    // Holding off idle sleep while something is shared.
    virtual IdleInhibitor &idleInhibitor() = 0;
    // The application the drop being handled comes from (direct save, raw data).
    virtual DropSource &dropSource() = 0;

    // A new watcher of drags anywhere on the desktop (one that cannot start where the session
    // does not let Vyo see other applications).
    virtual std::unique_ptr<DragWatcher> makeDragWatcher() = 0;
    // New global hot keys, owned by `parent` (ones that register nothing where the session
    // forbids key grabs).
    virtual GlobalHotKeys *makeGlobalHotKeys(QObject *parent = nullptr) = 0;
    // A new file-system event source delivering at most once per `latency`.
    virtual std::unique_ptr<FileSystemEvents>
    makeFileSystemEvents(std::chrono::milliseconds latency) = 0;

protected:
    Desktop() = default;
    // Makes `desktop` the one shared() answers (nothing: the session's own again); returns the
    // one installed before. For desktops of fakes only.
    static Desktop *install(Desktop *desktop);

private:
    // The implementations of the session Vyo runs in; each port defines it (platform/linux/).
    static std::unique_ptr<Desktop> makeSessionDesktop();
};

} // namespace vyo
