#include "platform/TrayEmbedding.h"

#include <QGuiApplication>
#include <QScreen>

#include <xcb/xcb.h>

#include <cstdlib>

namespace vyo {

std::optional<QRect> trayEmbeddedGeometry(WId window)
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || window == 0)
        return std::nullopt;
    xcb_connection_t *connection = x11->connection();
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
