#include "platform/linux/LinuxDesktop.h"

#include "core/Log.h"
#include "platform/Toolkit.h"
#include "platform/UnavailableServices.h"
#include "platform/linux/FreedesktopFileManager.h"
#include "platform/linux/InotifyFileSystemEvents.h"
#include "platform/linux/LogindIdleInhibitor.h"
#include "platform/linux/WidgetDialogs.h"
#include "platform/x11/X11DragWatcher.h"
#include "platform/x11/X11DropSource.h"
#include "platform/x11/X11HotKeys.h"
#include "platform/x11/X11WindowSystem.h"

#include <QGuiApplication>

namespace vyo {

namespace {

bool isX11Display()
{
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

} // namespace

std::unique_ptr<Desktop> Desktop::makeSessionDesktop()
{
    return std::make_unique<LinuxDesktop>();
}

LinuxDesktop::LinuxDesktop()
    : m_dialogs(std::make_unique<WidgetDialogs>())
    , m_fileManager(std::make_unique<FreedesktopFileManager>())
    // It asks Qt for its X11 connection at each call and does nothing without one (Wayland, no
    // display), so it does not depend on when the desktop was made.
    , m_windowSystem(std::make_unique<X11WindowSystem>())
    , m_idleInhibitor(std::make_unique<LogindIdleInhibitor>())
{
    // Made now, so that it sees the XDND messages of the first drag.
    if (isX11Display())
        m_dropSource = std::make_unique<X11DropSource>();
    else
        m_dropSource = std::make_unique<UnavailableDropSource>();
}

LinuxDesktop::~LinuxDesktop() = default;

std::unique_ptr<DragWatcher> LinuxDesktop::makeDragWatcher()
{
    const QString platform = QGuiApplication::platformName();
    if (isX11Display()) {
        // Through XWayland only the presses and drags of other X11 applications can be seen.
        if (isWaylandSession())
            vyoWarning(lcShake, u"Wayland 세션이라 X11 앱의 드래그만 볼 수 있음");
        return std::make_unique<X11DragWatcher>();
    }
    return std::make_unique<UnavailableDragWatcher>(platform.isEmpty()
                                                        ? QStringLiteral("화면 세션 없음")
                                                        : QStringLiteral("%1 세션").arg(platform));
}

GlobalHotKeys *LinuxDesktop::makeGlobalHotKeys(QObject *parent)
{
    QString reason;
    if (!isX11Display()) {
        reason = isWaylandSession()
                     ? QStringLiteral("Wayland 세션은 다른 앱 앞에서 키를 가로챌 수 없음")
                     : QStringLiteral("X11 화면이 아님 (Qt 플랫폼 %1)")
                           .arg(QGuiApplication::platformName());
    } else if (isWaylandSession()) {
        // XWayland would only see keys while one of its own windows is in front.
        reason = QStringLiteral("Wayland 세션은 다른 앱 앞에서 키를 가로챌 수 없음");
    } else if (X11HotKeys *hotKeys = X11HotKeys::create(parent, &reason)) {
        return hotKeys;
    }
    vyoWarning(lcApp, u"전역 단축키를 쓸 수 없음: %{public}s", reason);
    return new UnavailableHotKeys(reason, parent);
}

std::unique_ptr<FileSystemEvents>
LinuxDesktop::makeFileSystemEvents(std::chrono::milliseconds latency)
{
    return std::make_unique<InotifyFileSystemEvents>(latency);
}

} // namespace vyo
