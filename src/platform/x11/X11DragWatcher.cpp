#include "platform/x11/X11DragWatcher.h"

#include "core/Log.h"
#include "platform/ScreenCoordinates.h"

#include <QGuiApplication>
#include <QSet>
#include <QWindow>

#include <xcb/xcb.h>
#include <xcb/xfixes.h>
#include <xcb/xinput.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

namespace vyo {

namespace {

// Frees xcb replies and errors, which come from malloc.
struct FreeDeleter
{
    void operator()(void *pointer) const { std::free(pointer); }
};
template <typename T> using XcbPointer = std::unique_ptr<T, FreeDeleter>;

// Longest property text read for an application identifier.
constexpr std::uint32_t maxPropertyWords = 256;
// Window nesting followed below the pointer (root → frame → client is the usual depth).
constexpr int maxWindowDepth = 8;

std::uint32_t internAtom(xcb_connection_t *connection, const char *name)
{
    const XcbPointer<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, std::uint16_t(std::strlen(name)), name),
        nullptr));
    return reply ? reply->atom : std::uint32_t(XCB_ATOM_NONE);
}

} // namespace

X11DragWatcher::X11DragWatcher(QObject *parent)
    : DragWatcher(parent)
{}

X11DragWatcher::~X11DragWatcher()
{
    disconnectFromServer();
}

bool X11DragWatcher::start()
{
    if (!m_started) {
        m_started = true;
        connectToServer();
    }
    return m_connection != nullptr;
}

bool X11DragWatcher::connectToServer()
{
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        m_unavailableReason = QStringLiteral("X 서버에 연결할 수 없음");
        return false;
    }
    auto fail = [&](const QString &reason) {
        xcb_disconnect(connection);
        m_unavailableReason = reason;
        return false;
    };

    const xcb_setup_t *setup = xcb_get_setup(connection);
    const xcb_screen_iterator_t screens = xcb_setup_roots_iterator(setup);
    if (screens.rem == 0)
        return fail(QStringLiteral("X 화면 없음"));
    m_root = screens.data->root;

    // XInput 2.2 raw button presses on the root window: every press anywhere, grabs or not.
    const xcb_query_extension_reply_t *xinput = xcb_get_extension_data(connection, &xcb_input_id);
    if (!xinput || !xinput->present)
        return fail(QStringLiteral("XInput 확장 없음"));
    m_xinputOpcode = xinput->major_opcode;
    const XcbPointer<xcb_input_xi_query_version_reply_t> xiVersion(xcb_input_xi_query_version_reply(
        connection, xcb_input_xi_query_version(connection, 2, 2), nullptr));
    if (!xiVersion || xiVersion->major_version < 2)
        return fail(QStringLiteral("XInput 2 없음"));
    struct
    {
        xcb_input_event_mask_t header;
        std::uint32_t mask;
    } eventMask{{XCB_INPUT_DEVICE_ALL_MASTER, 1}, XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS};
    if (XcbPointer<xcb_generic_error_t> error{
            xcb_request_check(connection, xcb_input_xi_select_events_checked(connection, m_root, 1,
                                                                             &eventMask.header))})
        return fail(
            QStringLiteral("XInput 이벤트를 받을 수 없음 (오류 %1)").arg(error->error_code));

    // XFixes owner changes of XdndSelection: the drag counter.
    const xcb_query_extension_reply_t *xfixes = xcb_get_extension_data(connection, &xcb_xfixes_id);
    if (!xfixes || !xfixes->present)
        return fail(QStringLiteral("XFIXES 확장 없음"));
    m_xfixesFirstEvent = xfixes->first_event;
    const XcbPointer<xcb_xfixes_query_version_reply_t> xfixesVersion(xcb_xfixes_query_version_reply(
        connection, xcb_xfixes_query_version(connection, 5, 0), nullptr));
    if (!xfixesVersion)
        return fail(QStringLiteral("XFIXES 버전을 알 수 없음"));

    m_atoms.xdndSelection = internAtom(connection, "XdndSelection");
    m_atoms.netActiveWindow = internAtom(connection, "_NET_ACTIVE_WINDOW");
    m_atoms.netSupportingWmCheck = internAtom(connection, "_NET_SUPPORTING_WM_CHECK");
    m_atoms.gtkApplicationId = internAtom(connection, "_GTK_APPLICATION_ID");
    m_atoms.kdeDesktopFile = internAtom(connection, "_KDE_NET_WM_DESKTOP_FILE");
    if (m_atoms.xdndSelection == XCB_ATOM_NONE)
        return fail(QStringLiteral("XdndSelection 원자를 만들 수 없음"));
    xcb_xfixes_select_selection_input(connection, m_root, m_atoms.xdndSelection,
                                      XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER);
    xcb_flush(connection);

    m_connection = connection;
    m_unavailableReason.clear();
    readButtonMapping();

    m_notifier =
        new QSocketNotifier(xcb_get_file_descriptor(connection), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] { drain(); });
    vyoInfo(lcShake, u"X11 드래그 감시 시작 (XInput %d.%d, XFIXES %d.%d)",
            int(xiVersion->major_version), int(xiVersion->minor_version),
            int(xfixesVersion->major_version), int(xfixesVersion->minor_version));
    return true;
}

void X11DragWatcher::disconnectFromServer()
{
    // This may run inside the notifier's own signal: it goes once control is back in the loop.
    if (m_notifier) {
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
    }
    std::free(std::exchange(m_queuedEvent, nullptr));
    if (m_connection) {
        xcb_disconnect(m_connection);
        m_connection = nullptr;
    }
}

bool X11DragWatcher::checkConnection()
{
    if (!m_connection)
        return false;
    if (const int error = xcb_connection_has_error(m_connection)) {
        vyoError(lcShake, u"X 서버와의 연결이 끊겨 다른 앱의 드래그를 더 볼 수 없어요 (오류 %d)",
                 error);
        m_unavailableReason = QStringLiteral("X 서버와의 연결이 끊김");
        disconnectFromServer();
        return false;
    }
    return true;
}

void X11DragWatcher::drain()
{
    // A press handler asks for the drag counter and the pointer, which drains again: events must
    // still be handled in the order they came, so the inner call leaves them to this loop.
    if (m_draining || !m_connection)
        return;
    m_draining = true;
    // An event a round trip took out of xcb's queue comes before the rest.
    while (m_connection) {
        const XcbPointer<void> event(m_queuedEvent ? std::exchange(m_queuedEvent, nullptr)
                                                   : xcb_poll_for_event(m_connection));
        if (!event)
            break;
        handle(event.get());
    }
    m_draining = false;
    checkConnection();
}

void X11DragWatcher::scheduleDrain()
{
    if (m_drainScheduled || !m_connection)
        return;
    m_drainScheduled = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_drainScheduled = false;
            drain();
        },
        Qt::QueuedConnection);
}

void X11DragWatcher::drainLaterIfQueued()
{
    if (!m_queuedEvent && m_connection)
        m_queuedEvent = xcb_poll_for_queued_event(m_connection);
    if (m_queuedEvent)
        scheduleDrain();
}

void X11DragWatcher::handle(const void *rawEvent)
{
    const auto *event = static_cast<const xcb_generic_event_t *>(rawEvent);
    const std::uint8_t type = event->response_type & 0x7f;
    if (type == XCB_GE_GENERIC) {
        const auto *generic = reinterpret_cast<const xcb_ge_generic_event_t *>(event);
        if (generic->extension != m_xinputOpcode ||
            generic->event_type != XCB_INPUT_RAW_BUTTON_PRESS)
            return;
        const auto *press = reinterpret_cast<const xcb_input_raw_button_press_event_t *>(event);
        // Raw events carry the physical button; a left-handed mapping makes another one "left".
        std::uint32_t button = press->detail;
        if (button >= 1 && button <= m_buttonMap.size())
            button = m_buttonMap[button - 1];
        if (button != 1)
            return;
        // Presses in Vyo's own windows (dragging items out of a shelf) are not another
        // application's drag.
        if (isPointerOverOwnWindow())
            return;
        Q_EMIT leftMouseDown();
        return;
    }
    if (type == m_xfixesFirstEvent + XCB_XFIXES_SELECTION_NOTIFY) {
        const auto *notify = reinterpret_cast<const xcb_xfixes_selection_notify_event_t *>(event);
        if (notify->selection == m_atoms.xdndSelection &&
            notify->subtype == XCB_XFIXES_SELECTION_EVENT_SET_SELECTION_OWNER &&
            notify->owner != XCB_NONE)
            ++m_changeCount;
        return;
    }
    if (type == XCB_MAPPING_NOTIFY) {
        const auto *mapping = reinterpret_cast<const xcb_mapping_notify_event_t *>(event);
        if (mapping->request == XCB_MAPPING_POINTER)
            readButtonMapping();
    }
}

void X11DragWatcher::readButtonMapping()
{
    m_buttonMap.clear();
    if (!m_connection)
        return;
    const XcbPointer<xcb_get_pointer_mapping_reply_t> reply(xcb_get_pointer_mapping_reply(
        m_connection, xcb_get_pointer_mapping(m_connection), nullptr));
    if (!reply)
        return;
    const std::uint8_t *map = xcb_get_pointer_mapping_map(reply.get());
    const int length = xcb_get_pointer_mapping_map_length(reply.get());
    m_buttonMap.assign(map, map + std::max(length, 0));
}

bool X11DragWatcher::isPointerOverOwnWindow()
{
    QSet<std::uint32_t> own;
    for (QWindow *window : QGuiApplication::topLevelWindows()) {
        if (window->handle() && window->isVisible())
            own.insert(std::uint32_t(window->winId()));
    }
    if (own.isEmpty())
        return false;
    std::uint32_t window = m_root;
    for (int depth = 0; depth < maxWindowDepth && m_connection; ++depth) {
        const XcbPointer<xcb_query_pointer_reply_t> reply(xcb_query_pointer_reply(
            m_connection, xcb_query_pointer(m_connection, window), nullptr));
        if (!reply || reply->child == XCB_NONE)
            return false;
        if (own.contains(reply->child))
            return true;
        window = reply->child;
    }
    return false;
}

qint64 X11DragWatcher::dragChangeCount()
{
    drain();
    return m_changeCount;
}

bool X11DragWatcher::isLeftButtonDown()
{
    // Presses that came before this question are handled first.
    drain();
    if (!m_connection)
        return false;
    const XcbPointer<xcb_query_pointer_reply_t> reply(
        xcb_query_pointer_reply(m_connection, xcb_query_pointer(m_connection, m_root), nullptr));
    // Waiting for the reply may have queued later events without the socket becoming readable
    // again. They are handled after the caller has acted on this answer, so that a press which
    // follows a release is never mistaken for part of the ended drag.
    drainLaterIfQueued();
    return reply && (reply->mask & XCB_BUTTON_MASK_1);
}

DragWatcher::PointerState X11DragWatcher::pointerState()
{
    // One query on this connection answers both; Qt's own (QCursor::pos) would be a second round
    // trip to the server.
    drain();
    if (!m_connection)
        return {};
    const XcbPointer<xcb_query_pointer_reply_t> reply(
        xcb_query_pointer_reply(m_connection, xcb_query_pointer(m_connection, m_root), nullptr));
    drainLaterIfQueued();
    if (!reply)
        return {};
    return {bool(reply->mask & XCB_BUTTON_MASK_1),
            fromNativePixels(QPoint(reply->root_x, reply->root_y))};
}

Point X11DragWatcher::pointerLocation()
{
    // Qt maps the server's pixels to its own points (scaling, several screens); the model's y-up
    // conversion lives in one place.
    return vyo::pointerLocation();
}

std::optional<std::uint32_t> X11DragWatcher::windowProperty(std::uint32_t window,
                                                            std::uint32_t property)
{
    if (!m_connection || window == XCB_NONE || property == XCB_ATOM_NONE)
        return std::nullopt;
    xcb_generic_error_t *rawError = nullptr;
    const XcbPointer<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        m_connection, xcb_get_property(m_connection, 0, window, property, XCB_ATOM_WINDOW, 0, 1),
        &rawError));
    const XcbPointer<xcb_generic_error_t> error(rawError);
    if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) < 4)
        return std::nullopt;
    std::uint32_t value = 0;
    std::memcpy(&value, xcb_get_property_value(reply.get()), sizeof value);
    return value;
}

std::optional<QByteArray> X11DragWatcher::textProperty(std::uint32_t window, std::uint32_t property)
{
    if (!m_connection || window == XCB_NONE || property == XCB_ATOM_NONE)
        return std::nullopt;
    xcb_generic_error_t *rawError = nullptr;
    const XcbPointer<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(m_connection,
                               xcb_get_property(m_connection, 0, window, property,
                                                XCB_GET_PROPERTY_TYPE_ANY, 0, maxPropertyWords),
                               &rawError));
    const XcbPointer<xcb_generic_error_t> error(rawError);
    if (!reply || reply->format != 8)
        return std::nullopt;
    const int length = xcb_get_property_value_length(reply.get());
    if (length <= 0)
        return std::nullopt;
    return QByteArray(static_cast<const char *>(xcb_get_property_value(reply.get())), length);
}

std::optional<QString> X11DragWatcher::frontmostApplicationID()
{
    if (!m_connection)
        return std::nullopt;
    const auto answer = [this](std::optional<QString> id) {
        drainLaterIfQueued();
        return id;
    };

    // A window manager that has gone away leaves a stale _NET_ACTIVE_WINDOW behind: trust it only
    // while the window named by _NET_SUPPORTING_WM_CHECK still names itself.
    const auto check = windowProperty(m_root, m_atoms.netSupportingWmCheck);
    if (!check || windowProperty(*check, m_atoms.netSupportingWmCheck) != check)
        return answer(std::nullopt);
    const auto active = windowProperty(m_root, m_atoms.netActiveWindow);
    if (!active || *active == XCB_NONE)
        return answer(std::nullopt);

    // The desktop-file id, where the toolkit publishes it.
    for (const std::uint32_t property : {m_atoms.gtkApplicationId, m_atoms.kdeDesktopFile}) {
        if (const auto text = textProperty(*active, property)) {
            QString id =
                QString::fromUtf8(
                    text->left(text->indexOf('\0') < 0 ? text->size() : text->indexOf('\0')))
                    .trimmed();
            if (id.endsWith(QLatin1String(".desktop")))
                id.chop(8);
            if (!id.isEmpty())
                return answer(id);
        }
    }

    // Else the class part of WM_CLASS ("instance\0class\0"), lower-cased.
    if (const auto text = textProperty(*active, XCB_ATOM_WM_CLASS)) {
        const QList<QByteArray> parts = text->split('\0');
        if (parts.size() >= 2) {
            const QString windowClass = QString::fromLatin1(parts.at(1)).trimmed().toLower();
            if (!windowClass.isEmpty())
                return answer(windowClass);
        }
    }
    return answer(std::nullopt);
}

} // namespace vyo
