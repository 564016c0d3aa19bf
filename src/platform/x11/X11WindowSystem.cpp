#include "platform/x11/X11WindowSystem.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace vyo {

namespace {

xcb_connection_t *x11Connection()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atom(xcb_connection_t *connection, const char *name)
{
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(connection, 0, uint16_t(strlen(name)), name);
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    const xcb_atom_t result = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    free(reply);
    return result;
}

xcb_window_t rootWindow(xcb_connection_t *connection)
{
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    return screen ? screen->root : xcb_window_t(XCB_WINDOW_NONE);
}

} // namespace

void X11WindowSystem::showOnAllDesktops(QWidget *window)
{
    xcb_connection_t *connection = x11Connection();
    if (!connection || !window)
        return;
    const auto id = xcb_window_t(window->winId());
    const xcb_window_t root = rootWindow(connection);
    const xcb_atom_t desktop = atom(connection, "_NET_WM_DESKTOP");
    const xcb_atom_t state = atom(connection, "_NET_WM_STATE");
    const xcb_atom_t sticky = atom(connection, "_NET_WM_STATE_STICKY");
    const uint32_t allDesktops = 0xFFFFFFFF;

    // Before mapping the window manager reads the properties; afterwards it takes requests.
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, desktop, XCB_ATOM_CARDINAL, 32, 1,
                        &allDesktops);
    xcb_client_message_event_t message = {};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = id;
    message.type = desktop;
    message.data.data32[0] = allDesktops;
    message.data.data32[1] = 1;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_send_event(connection, 0, root, mask, reinterpret_cast<const char *>(&message));
    message.type = state;
    message.data.data32[0] = 1; // add
    message.data.data32[1] = sticky;
    message.data.data32[2] = 0;
    message.data.data32[3] = 1;
    xcb_send_event(connection, 0, root, mask, reinterpret_cast<const char *>(&message));
    xcb_flush(connection);
}

bool X11WindowSystem::hasCompositor()
{
    xcb_connection_t *connection = x11Connection();
    if (!connection)
        return false;
    const xcb_atom_t selection = atom(connection, "_NET_WM_CM_S0");
    xcb_get_selection_owner_reply_t *reply = xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, selection), nullptr);
    const bool owned = reply && reply->owner != XCB_WINDOW_NONE;
    free(reply);
    return owned;
}

std::optional<QRect> X11WindowSystem::trayEmbeddedGeometry(WId window)
{
    xcb_connection_t *connection = x11Connection();
    if (!connection || window == 0)
        return std::nullopt;
    const auto xWindow = xcb_window_t(window);

    xcb_query_tree_reply_t *tree =
        xcb_query_tree_reply(connection, xcb_query_tree(connection, xWindow), nullptr);
    if (!tree)
        return std::nullopt;
    const xcb_window_t root = tree->root;
    const bool reparented = tree->parent != root && tree->parent != XCB_NONE;
    std::free(tree);
    if (!reparented)
        return std::nullopt;

    xcb_get_window_attributes_reply_t *attributes = xcb_get_window_attributes_reply(
        connection, xcb_get_window_attributes(connection, xWindow), nullptr);
    const bool viewable = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(attributes);
    if (!viewable)
        return std::nullopt;

    xcb_get_geometry_reply_t *geometry =
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, xWindow), nullptr);
    xcb_translate_coordinates_reply_t *origin = xcb_translate_coordinates_reply(
        connection, xcb_translate_coordinates(connection, xWindow, root, 0, 0), nullptr);
    std::optional<QRect> result;
    if (geometry && origin) {
        // X counts device pixels; Qt's global coordinates are device-independent.
        const QScreen *screen = QGuiApplication::primaryScreen();
        const qreal ratio = screen ? screen->devicePixelRatio() : 1.0;
        result = QRectF(origin->dst_x / ratio, origin->dst_y / ratio, geometry->width / ratio,
                        geometry->height / ratio)
                     .toAlignedRect();
    }
    std::free(geometry);
    std::free(origin);
    return result;
}

} // namespace vyo
