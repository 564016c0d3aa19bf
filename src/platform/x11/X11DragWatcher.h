#pragma once

// The drag watcher of an X11 session. It keeps a connection of its own to the X server (Qt's stays
// untouched) and listens there for:
//  - XInput 2 raw button presses on the root window, which arrive for every press anywhere, even
//    while another client grabs the pointer;
//  - XFixes owner changes of the selection "XdndSelection", which every XDND client takes when a
//    drag starts (owner None, set by some toolkits when a drag ends, is not a drag).
// The pointer and the active window are asked for only when the monitor wants them, so an idle
// session costs nothing but a wake-up per click.

#include "platform/DragWatcher.h"

#include <QPointer>
#include <QSocketNotifier>

#include <cstdint>
#include <vector>

struct xcb_connection_t;

namespace vyo {

class X11DragWatcher final : public DragWatcher
{
    Q_OBJECT
public:
    explicit X11DragWatcher(QObject *parent = nullptr);
    ~X11DragWatcher() override;

    bool start() override;
    QString unavailableReason() const override { return m_unavailableReason; }
    qint64 dragChangeCount() override;
    bool isLeftButtonDown() override;
    Point pointerLocation() override;
    PointerState pointerState() override;
    std::optional<QString> frontmostApplicationID() override;

private:
    bool connectToServer();
    void disconnectFromServer();
    // Handles every event already received; safe to call at any time, never blocks.
    void drain();
    // Drains once control is back in the event loop.
    void scheduleDrain();
    // After a round trip: events that came in while waiting for the reply sit in xcb's queue,
    // where the socket notifier cannot see them. The first is taken out and a drain scheduled;
    // nothing is scheduled when none came (the usual case at 60 Hz).
    void drainLaterIfQueued();
    // `event` is an xcb_generic_event_t.
    void handle(const void *event);
    // Notices a broken connection (the X server went away) and stops watching, logging it once.
    bool checkConnection();
    void readButtonMapping();
    // Whether the pointer is over one of this process's own windows.
    bool isPointerOverOwnWindow();
    std::optional<std::uint32_t> windowProperty(std::uint32_t window, std::uint32_t property);
    std::optional<QByteArray> textProperty(std::uint32_t window, std::uint32_t property);

    xcb_connection_t *m_connection = nullptr;
    std::uint32_t m_root = 0;
    std::uint8_t m_xinputOpcode = 0;
    std::uint8_t m_xfixesFirstEvent = 0;
    struct Atoms
    {
        std::uint32_t xdndSelection = 0;
        std::uint32_t netActiveWindow = 0;
        std::uint32_t netSupportingWmCheck = 0;
        std::uint32_t gtkApplicationId = 0;
        std::uint32_t kdeDesktopFile = 0;
    } m_atoms;
    // Physical button number − 1 → logical button number (raw events carry physical numbers).
    std::vector<std::uint8_t> m_buttonMap;
    QPointer<QSocketNotifier> m_notifier;
    // An event taken from xcb's queue by drainLaterIfQueued, handled first by the next drain.
    void *m_queuedEvent = nullptr;
    qint64 m_changeCount = 0;
    bool m_started = false;
    bool m_draining = false;
    bool m_drainScheduled = false;
    QString m_unavailableReason;
};

} // namespace vyo
