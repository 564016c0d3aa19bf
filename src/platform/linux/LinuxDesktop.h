#pragma once

// The desktop of a Linux session: Qt Widgets dialogs and the freedesktop file manager everywhere;
// on an X11 display the X11 window system, drag watcher and key grabs, elsewhere (Wayland, no
// display) stand-ins that do nothing and say why. File-system events come from inotify, idle
// sleep is held off through systemd-logind.

#include "platform/Desktop.h"
#include "platform/DropSource.h"

namespace vyo {

class LinuxDesktop final : public Desktop
{
public:
    LinuxDesktop();
    ~LinuxDesktop() override;

    Dialogs &dialogs() override { return *m_dialogs; }
    FileManager &fileManager() override { return *m_fileManager; }
    WindowSystem &windowSystem() override { return *m_windowSystem; }
    IdleInhibitor &idleInhibitor() override { return *m_idleInhibitor; }
    DropSource &dropSource() override { return *m_dropSource; }

    std::unique_ptr<DragWatcher> makeDragWatcher() override;
    GlobalHotKeys *makeGlobalHotKeys(QObject *parent = nullptr) override;
    std::unique_ptr<FileSystemEvents>
    makeFileSystemEvents(std::chrono::milliseconds latency) override;

private:
    std::unique_ptr<Dialogs> m_dialogs;
    std::unique_ptr<FileManager> m_fileManager;
    std::unique_ptr<WindowSystem> m_windowSystem;
    std::unique_ptr<IdleInhibitor> m_idleInhibitor;
    std::unique_ptr<DropSource> m_dropSource;
};

} // namespace vyo
