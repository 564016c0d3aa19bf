#include "shelfwindow/Symbols.h"

#include "platform/IconTheme.h"

#include <QGuiApplication>
#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPixmap>

namespace vyo {

namespace {

const QHash<QString, QStringList> &themeNames()
{
    static const QHash<QString, QStringList> table = {
        {"xmark.circle.fill", {"window-close-symbolic", "window-close"}},
        {"square.stack", {"view-paged-symbolic", "view-grid-symbolic", "view-grid"}},
        {"qrcode", {"qr-code-symbolic", "send-to-symbolic", "document-send-symbolic"}},
        {"qrcode.viewfinder", {"qr-code-symbolic", "emblem-shared-symbolic", "send-to-symbolic"}},
        {"ellipsis.circle.fill", {"view-more-symbolic", "open-menu-symbolic", "open-menu"}},
        {"pencil", {"document-edit-symbolic", "document-edit"}},
        {"circle.lefthalf.filled", {"color-select-symbolic", "preferences-color-symbolic"}},
        {"pin", {"view-pin-symbolic", "pin-symbolic"}},
        {"pin.slash", {"view-pin-symbolic", "pin-symbolic"}},
        {"pin.fill", {"view-pin-symbolic", "pin-symbolic"}},
        {"eye", {"view-reveal-symbolic", "eye-symbolic", "document-print-preview"}},
        {"square.and.arrow.up", {"send-to-symbolic", "document-send-symbolic", "emblem-shared"}},
        {"wand.and.stars", {"applications-graphics-symbolic", "tools-symbolic"}},
        {"tray.and.arrow.down", {"document-save-symbolic", "folder-download-symbolic"}},
        {"minus.circle.fill", {"list-remove-symbolic", "list-remove"}},
        {"minus.circle", {"list-remove-symbolic", "list-remove"}},
        {"square.stack.3d.up.fill", {"view-paged-symbolic", "edit-select-all-symbolic"}},
        {"text.alignleft", {"format-justify-left-symbolic", "text-x-generic-symbolic"}},
        {"link", {"insert-link-symbolic", "insert-link"}},
        {"doc.text", {"text-x-generic-symbolic", "text-x-generic"}},
        {"doc.on.doc", {"edit-copy-symbolic", "edit-copy"}},
        {"folder", {"folder-symbolic", "folder"}},
        {"arrow.up.forward.app", {"document-open-symbolic", "document-open"}},
        {"photo", {"image-x-generic-symbolic", "image-x-generic"}},
        {"arrow.down.right.and.arrow.up.left", {"view-restore-symbolic", "zoom-out-symbolic"}},
        {"text.viewfinder", {"edit-find-symbolic", "system-search-symbolic"}},
    };
    return table;
}

// A plain round glyph with the symbol's first letter, for names no theme knows.
QIcon glyph(const QString &name)
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor color = QGuiApplication::palette().color(QPalette::WindowText);
    painter.setPen(QPen(color, 2));
    painter.drawEllipse(QRectF(3, 3, 26, 26));
    QFont font = painter.font();
    font.setPixelSize(14);
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(QRectF(0, 0, 32, 32), Qt::AlignCenter, name.left(1).toUpper());
    return QIcon(pixmap);
}

} // namespace

QIcon symbol(const QString &name)
{
    ensureIconTheme();
    static QHash<QString, QIcon> cache;
    if (const auto it = cache.constFind(name); it != cache.constEnd())
        return *it;
    QIcon icon;
    for (const QString &themeName : themeNames().value(name, {name})) {
        icon = QIcon::fromTheme(themeName);
        if (!icon.isNull())
            break;
    }
    if (icon.isNull())
        icon = glyph(name);
    cache.insert(name, icon);
    return icon;
}

} // namespace vyo
