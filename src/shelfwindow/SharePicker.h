#pragma once

// The share menu of a shelf: the ways this desktop offers to pass items on (an e-mail with the
// files attached, when the desktop has a mail composer, the shelf's own sharing to phones and
// PCs, and the clipboard). It opens below an
// anchor rectangle of the shelf's panel and never waits for the user.

#include "shelf/ShelfItem.h"

#include <QList>
#include <QRect>
#include <QString>
#include <QStringList>

#include <functional>

class QMenu;
class QWidget;

namespace vyo {

class SharePicker
{
public:
    // Pops the menu for the items up below `anchor`, a rectangle in `parent`'s coordinates. The
    // menu deletes itself once it has closed; it is returned so that callers can look at it.
    // `sendToDevices`, when given, is what "휴대폰·PC로 보내기" does.
    static QMenu *show(const QList<ShelfItem> &items, QWidget *parent, const QRect &anchor,
                       std::function<void()> sendToDevices = {});

    // The menu for the items, not shown yet; `parent` owns it.
    static QMenu *makeMenu(const QList<ShelfItem> &items, QWidget *parent,
                           std::function<void()> sendToDevices = {});

    // The xdg-email program, or an empty text when it is not installed.
    static QString emailProgram();

    // The xdg-email arguments for the items: every regular file attached, links, texts and
    // folders written in the body, one per line.
    static QStringList emailArguments(const QList<ShelfItem> &items);

    // Tests receive the program and arguments that would be started instead of starting them;
    // an empty recorder starts programs again.
    static void setLaunchRecorder(
        std::function<void(const QString &program, const QStringList &arguments)> recorder);
};

} // namespace vyo
