#include "shelfwindow/Icons.h"

#include "platform/IconTheme.h"

#include <QGuiApplication>
#include <QHash>
#include <QPainter>
#include <QPalette>
#include <QPixmap>

namespace vyo {

namespace {

struct ThemeChoice
{
    // Freedesktop icon names, tried in order.
    QStringList names;
    // The letter drawn in a circle when no theme has any of the names (the fallbacks keep the
    // letters they have always shown).
    QChar letter;
};

ThemeChoice themeChoice(Icon which)
{
    switch (which) {
    case Icon::close:
        return {{"window-close-symbolic", "window-close"}, u'X'};
    case Icon::showAsStack:
        return {{"view-paged-symbolic", "view-grid-symbolic", "view-grid"}, u'S'};
    case Icon::sendToDevice:
        return {{"qr-code-symbolic", "send-to-symbolic", "document-send-symbolic"}, u'Q'};
    case Icon::sharingActive:
        return {{"qr-code-symbolic", "emblem-shared-symbolic", "send-to-symbolic"}, u'Q'};
    case Icon::shelfMenu:
        return {{"view-more-symbolic", "open-menu-symbolic", "open-menu"}, u'E'};
    case Icon::pinned:
    case Icon::pin:
    case Icon::unpin:
        return {{"view-pin-symbolic", "pin-symbolic"}, u'P'};
    case Icon::rename:
        return {{"document-edit-symbolic", "document-edit"}, u'P'};
    case Icon::color:
        return {{"color-select-symbolic", "preferences-color-symbolic"}, u'C'};
    case Icon::open:
        return {{"document-open-symbolic", "document-open"}, u'A'};
    case Icon::preview:
        return {{"view-reveal-symbolic", "eye-symbolic", "document-print-preview"}, u'E'};
    case Icon::share:
        return {{"send-to-symbolic", "document-send-symbolic", "emblem-shared"}, u'S'};
    case Icon::showInFileManager:
        return {{"folder-symbolic", "folder"}, u'F'};
    case Icon::quickActions:
        return {{"applications-graphics-symbolic", "tools-symbolic"}, u'W'};
    case Icon::copy:
    case Icon::mergePDF:
        return {{"edit-copy-symbolic", "edit-copy"}, u'D'};
    case Icon::removeFromShelf:
    case Icon::removeRow:
        return {{"list-remove-symbolic", "list-remove"}, u'M'};
    case Icon::convertToJPEG:
        return {{"image-x-generic-symbolic", "image-x-generic"}, u'P'};
    case Icon::shrinkImage:
        return {{"view-restore-symbolic", "zoom-out-symbolic"}, u'A'};
    case Icon::extractText:
        return {{"edit-find-symbolic", "system-search-symbolic"}, u'T'};
    case Icon::dropHere:
        return {{"document-save-symbolic", "folder-download-symbolic"}, u'T'};
    case Icon::dragAllItems:
        return {{"view-paged-symbolic", "edit-select-all-symbolic"}, u'S'};
    case Icon::textItem:
        return {{"format-justify-left-symbolic", "text-x-generic-symbolic"}, u'T'};
    case Icon::linkItem:
        return {{"insert-link-symbolic", "insert-link"}, u'L'};
    case Icon::reconnecting:
        return {{"view-refresh-symbolic", "emblem-synchronizing-symbolic"}, u'R'};
    case Icon::device:
        return {{"phone-symbolic", "smartphone-symbolic", "computer-symbolic"}, u'P'};
    case Icon::shareFailed:
        return {{"network-wireless-offline-symbolic", "network-error-symbolic",
                 "dialog-warning-symbolic"},
                u'!'};
    }
    Q_UNREACHABLE();
}

// A plain circle around a letter, for icons no theme knows.
QIcon glyph(QChar letter)
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
    painter.drawText(QRectF(0, 0, 32, 32), Qt::AlignCenter, QString(letter));
    return QIcon(pixmap);
}

} // namespace

QIcon themeIcon(Icon which)
{
    ensureIconTheme();
    static QHash<Icon, QIcon> cache;
    if (const auto it = cache.constFind(which); it != cache.constEnd())
        return *it;
    const ThemeChoice choice = themeChoice(which);
    QIcon icon;
    for (const QString &name : choice.names) {
        icon = QIcon::fromTheme(name);
        if (!icon.isNull())
            break;
    }
    if (icon.isNull())
        icon = glyph(choice.letter);
    cache.insert(which, icon);
    return icon;
}

Icon quickActionIcon(QuickAction action)
{
    switch (QuickAction::Case(action)) {
    case QuickAction::convertToJPEG:
        return Icon::convertToJPEG;
    case QuickAction::resize2048:
    case QuickAction::resize1280:
    case QuickAction::resize800:
        return Icon::shrinkImage;
    case QuickAction::extractText:
        return Icon::extractText;
    case QuickAction::mergePDF:
        return Icon::mergePDF;
    }
    Q_UNREACHABLE();
}

} // namespace vyo
