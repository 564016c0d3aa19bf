#pragma once

// A desktop of fakes that Desktop::shared() answers for as long as it lives: fake dialogs, file
// manager, window system, idle inhibitor and drop source, and fake drag watchers and hot keys made
// on request (each one kept for the test to drive). File-system events are the real inotify ones:
// tests of watching use real folders.

#include "platform/Desktop.h"
#include "platform/fake/FakeDialogs.h"
#include "platform/fake/FakeDragWatcher.h"
#include "platform/fake/FakeDropSource.h"
#include "platform/fake/FakeFileManager.h"
#include "platform/fake/FakeHotKeys.h"
#include "platform/fake/FakeIdleInhibitor.h"
#include "platform/fake/FakeWindowSystem.h"

#include <QList>
#include <QPointer>

namespace vyo {

class FakeDesktop final : public Desktop
{
public:
    FakeDesktop();
    // The desktop installed before this one answers again. Fake desktops end in the reverse order
    // of their making.
    ~FakeDesktop() override;
    FakeDesktop(const FakeDesktop &) = delete;
    FakeDesktop &operator=(const FakeDesktop &) = delete;

    FakeDialogs &dialogs() override { return m_dialogs; }
    FakeFileManager &fileManager() override { return m_fileManager; }
    FakeWindowSystem &windowSystem() override { return m_windowSystem; }
    FakeIdleInhibitor &idleInhibitor() override { return m_idleInhibitor; }
    FakeDropSource &dropSource() override { return m_dropSource; }

    std::unique_ptr<DragWatcher> makeDragWatcher() override;
    GlobalHotKeys *makeGlobalHotKeys(QObject *parent = nullptr) override;
    std::unique_ptr<FileSystemEvents>
    makeFileSystemEvents(std::chrono::milliseconds latency) override;

    // The drag watchers and hot keys handed out so far, in order (null once deleted).
    QList<QPointer<FakeDragWatcher>> dragWatchers() const { return m_dragWatchers; }
    QList<QPointer<FakeHotKeys>> hotKeys() const { return m_hotKeys; }

private:
    Desktop *m_previous = nullptr;
    FakeDialogs m_dialogs;
    FakeFileManager m_fileManager;
    FakeWindowSystem m_windowSystem;
    FakeIdleInhibitor m_idleInhibitor;
    FakeDropSource m_dropSource;
    QList<QPointer<FakeDragWatcher>> m_dragWatchers;
    QList<QPointer<FakeHotKeys>> m_hotKeys;
};

} // namespace vyo
