#include "platform/fake/FakeDesktop.h"

#include "platform/linux/InotifyFileSystemEvents.h"

namespace vyo {

FakeDesktop::FakeDesktop()
    : m_previous(install(this))
{}

FakeDesktop::~FakeDesktop()
{
    // Desktops installed later still point at this one: they must have gone first.
    if (install(m_previous) != this)
        qFatal("FakeDesktop: destroyed while a desktop installed after it is still in place");
}

std::unique_ptr<DragWatcher> FakeDesktop::makeDragWatcher()
{
    auto watcher = std::make_unique<FakeDragWatcher>();
    m_dragWatchers.append(watcher.get());
    return watcher;
}

GlobalHotKeys *FakeDesktop::makeGlobalHotKeys(QObject *parent)
{
    auto *hotKeys = new FakeHotKeys(parent);
    m_hotKeys.append(hotKeys);
    return hotKeys;
}

std::unique_ptr<FileSystemEvents>
FakeDesktop::makeFileSystemEvents(std::chrono::milliseconds latency)
{
    return std::make_unique<InotifyFileSystemEvents>(latency);
}

} // namespace vyo
