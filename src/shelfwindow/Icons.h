#pragma once

// The icons of the shelf window, named for what they show or what their button or entry does,
// taken from the icon theme. Each icon maps to a few freedesktop icon names tried in order; an
// icon that no theme has is drawn as a simple lettered circle, so a button never ends up blank.

#include "actions/QuickAction.h"

#include <QIcon>

namespace vyo {

enum class Icon {
    // Header buttons and marks.
    close,
    showAsStack,
    sendToDevice,
    sharingActive,
    shelfMenu,
    pinned,
    // Shelf menu and context menu entries.
    rename,
    color,
    pin,
    unpin,
    open,
    preview,
    share,
    showInFileManager,
    quickActions,
    copy,
    removeFromShelf,
    // Quick actions.
    convertToJPEG,
    shrinkImage,
    extractText,
    mergePDF,
    // Content.
    dropHere,
    removeRow,
    dragAllItems,
    textItem,
    linkItem,
    // Share sheet.
    reconnecting,
    device,
    shareFailed,
};

QIcon themeIcon(Icon which);

// The icon of a quick action's menu entry.
Icon quickActionIcon(QuickAction action);

} // namespace vyo
