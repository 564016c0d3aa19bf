#include "shelfwindow/SharePicker.h"

#include "core/Log.h"
#include "platform/Desktop.h"
#include "platform/Dialogs.h"
#include "shelfwindow/Icons.h"

#include <QAction>
#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QProcess>
#include <QStandardPaths>
#include <QWidget>

namespace vyo {

namespace {

std::function<void(const QString &, const QStringList &)> &launchRecorder()
{
    static std::function<void(const QString &, const QStringList &)> recorder;
    return recorder;
}

void launch(const QString &program, const QStringList &arguments)
{
    if (launchRecorder()) {
        launchRecorder()(program, arguments);
        return;
    }
    if (!QProcess::startDetached(program, arguments)) {
        vyoError(lcShelf, u"이메일 작성 창을 열지 못함: %{public}s", program);
        Desktop::shared().dialogs().beep();
    }
}

} // namespace

QMenu *SharePicker::show(const QList<ShelfItem> &items, QWidget *parent, const QRect &anchor,
                         std::function<void()> sendToDevices)
{
    QMenu *menu = makeMenu(items, parent, std::move(sendToDevices));
    QObject::connect(menu, &QMenu::aboutToHide, menu, &QObject::deleteLater);
    // Below the anchor, as long as the screen has room there.
    menu->popup(parent ? parent->mapToGlobal(anchor.bottomLeft() + QPoint(0, 1))
                       : anchor.bottomLeft());
    return menu;
}

QMenu *SharePicker::makeMenu(const QList<ShelfItem> &items, QWidget *parent,
                             std::function<void()> sendToDevices)
{
    auto *menu = new QMenu(parent);
    menu->setObjectName(QStringLiteral("sharePicker"));

    const QString program = emailProgram();
    if (!program.isEmpty()) {
        QAction *email = menu->addAction(QIcon::fromTheme(QStringLiteral("mail-message-new")),
                                         QStringLiteral("이메일로 보내기"));
        email->setObjectName(QStringLiteral("shareEmail"));
        const QStringList arguments = emailArguments(items);
        QObject::connect(email, &QAction::triggered, menu,
                         [program, arguments] { launch(program, arguments); });
    }

    if (sendToDevices) {
        QAction *devices =
            menu->addAction(themeIcon(Icon::sendToDevice), QStringLiteral("휴대폰·PC로 보내기"));
        devices->setObjectName(QStringLiteral("shareToDevices"));
        QObject::connect(devices, &QAction::triggered, menu, std::move(sendToDevices));
    }

    QAction *copy =
        menu->addAction(QIcon::fromTheme(QStringLiteral("edit-copy")), QStringLiteral("복사"));
    copy->setObjectName(QStringLiteral("shareCopy"));
    QObject::connect(copy, &QAction::triggered, menu, [items] {
        QClipboard *clipboard = QGuiApplication::clipboard();
        clipboard->clear();
        clipboard->setMimeData(makeMimeData(items));
    });
    return menu;
}

QString SharePicker::emailProgram()
{
    return QStandardPaths::findExecutable(QStringLiteral("xdg-email"));
}

QStringList SharePicker::emailArguments(const QList<ShelfItem> &items)
{
    QStringList attachments;
    QStringList body;
    for (const ShelfItem &item : items) {
        const ShelfItem::Content &content = item.content();
        switch (content.kind()) {
        case ShelfItem::Content::Kind::text:
            body.append(content.text());
            break;
        case ShelfItem::Content::Kind::link:
            body.append(content.url().toString(QUrl::FullyEncoded));
            break;
        case ShelfItem::Content::Kind::file:
        case ShelfItem::Content::Kind::image: {
            // Mail composers attach regular files only.
            const QString path = content.url().toLocalFile();
            if (QFileInfo(path).isFile())
                attachments.append(path);
            else
                body.append(path);
            break;
        }
        }
    }
    QStringList arguments{QStringLiteral("--utf8")};
    if (!body.isEmpty())
        arguments << QStringLiteral("--body") << body.join(u'\n');
    for (const QString &path : attachments)
        arguments << QStringLiteral("--attach") << path;
    return arguments;
}

void SharePicker::setLaunchRecorder(
    std::function<void(const QString &program, const QStringList &arguments)> recorder)
{
    launchRecorder() = std::move(recorder);
}

} // namespace vyo
