#include "shelfwindow/ShelfCommands.h"

#include "core/Log.h"
#include "core/MainThread.h"
#include "platform/Desktop.h"
#include "platform/Dialogs.h"
#include "platform/FileManager.h"
#include "shelfwindow/PreviewWindow.h"
#include "shelfwindow/SharePicker.h"

#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QSet>
#include <QTimer>

#include <algorithm>

namespace vyo {

namespace {

// How long a flashed status message stays.
constexpr int statusFlashMilliseconds = 2500;

const QString statusTimerName = QStringLiteral("vyoStatusFlashTimer");

bool isTextItem(const ShelfItem &item)
{
    return item.content().kind() == ShelfItem::Content::Kind::text;
}

QList<ShelfItem> existingItems(const QList<ShelfItem> &items)
{
    QList<ShelfItem> kept;
    std::copy_if(items.begin(), items.end(), std::back_inserter(kept),
                 [](const ShelfItem &item) { return item.exists(); });
    return kept;
}

QSet<QUuid> identifiers(const QList<ShelfItem> &items)
{
    QSet<QUuid> ids;
    for (const ShelfItem &item : items)
        ids.insert(item.id());
    return ids;
}

// The message of a run that made files.
QString madeFilesMessage(qsizetype count)
{
    if (count < 2)
        return QStringLiteral("만들었어요");
    return QString::number(count) + QStringLiteral("개를 만들었어요");
}

// Shows the text in the shelf's status line and clears it 2.5 seconds later unless another
// message has replaced it. The shelf keeps one timer for this: a newer message restarts it, so
// an older message's clearing never happens, even when both messages read the same.
void flashShelfStatus(Shelf *shelf, const QString &text)
{
    if (!shelf)
        return;
    shelf->setStatus(text);
    auto *timer = shelf->findChild<QTimer *>(statusTimerName, Qt::FindDirectChildrenOnly);
    if (!timer) {
        timer = new QTimer(shelf);
        timer->setObjectName(statusTimerName);
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
    }
    timer->disconnect();
    QObject::connect(timer, &QTimer::timeout, shelf, [shelf, text] {
        if (shelf->status() == text)
            shelf->setStatus(std::nullopt);
    });
    timer->start(statusFlashMilliseconds);
}

// Adds what a finished run made to the shelf (while it exists) and reports it; answers whether
// the run succeeded. Recognised text reaches the clipboard, and a failure the log and a beep,
// even when the shelf has closed meanwhile.
bool applyQuickActionResult(Shelf *shelf, const QuickAction::Result &result)
{
    if (!result.succeeded()) {
        const QString message = result.errorDescription();
        vyoError(lcShelf, u"빠른 작업 실패: %{public}s", message);
        flashShelfStatus(shelf, message);
        Desktop::shared().dialogs().beep();
        return false;
    }
    const QuickAction::Output &output = result.output();
    if (output.kind() == QuickAction::Output::Kind::text) {
        if (shelf)
            shelf->add({ShelfItem(ShelfItem::Content::text(output.text()))});
        QClipboard *clipboard = QGuiApplication::clipboard();
        clipboard->clear();
        clipboard->setText(output.text());
        flashShelfStatus(shelf, QStringLiteral("글자를 담고 복사했어요"));
        return true;
    }
    QList<ShelfItem> made;
    for (const QUrl &url : output.fileURLs())
        made.append(ShelfItem(ShelfItem::Content::file(url)));
    if (shelf)
        shelf->add(made);
    flashShelfStatus(shelf, madeFilesMessage(output.fileURLs().size()));
    return true;
}

// The application's one preview window and the commands of the shelf that last opened it.
struct SharedPreview
{
    QPointer<PreviewWindow> window;
    QPointer<ShelfCommands> owner;
};

SharedPreview &sharedPreview()
{
    static SharedPreview shared;
    return shared;
}

} // namespace

ShelfCommands::ShelfCommands(Shelf *shelf, QObject *parent)
    : QObject(parent)
    , m_shelf(shelf)
{}

ShelfCommands::~ShelfCommands()
{
    // The preview of a shelf that goes closes with it.
    SharedPreview &preview = sharedPreview();
    if (preview.window && (preview.owner == this || !preview.owner))
        preview.window->close();
}

QList<ShelfItem> ShelfCommands::targetItems() const
{
    if (!m_shelf)
        return {};
    const QSet<QUuid> &selection = m_shelf->selection();
    QList<ShelfItem> selected;
    for (const ShelfItem &item : m_shelf->items()) {
        if (selection.contains(item.id()))
            selected.append(item);
    }
    return selected.isEmpty() ? m_shelf->items() : selected;
}

bool ShelfCommands::canPreview() const
{
    if (!m_shelf)
        return false;
    const QList<ShelfItem> &items = m_shelf->items();
    return std::any_of(items.begin(), items.end(), [](const ShelfItem &item) {
        return item.content().isFileBacked() && item.exists();
    });
}

void ShelfCommands::togglePreview()
{
    SharedPreview &preview = sharedPreview();
    if (isPreviewVisible()) {
        preview.window->close();
        return;
    }
    QList<ShelfItem> candidates;
    if (m_shelf) {
        for (const ShelfItem &item : m_shelf->items()) {
            if (item.content().isFileBacked() && item.exists())
                candidates.append(item);
        }
    }
    if (candidates.isEmpty()) {
        Desktop::shared().dialogs().beep();
        return;
    }
    previewURLs.clear();
    previewStartIndex = 0;
    bool startFound = false;
    for (qsizetype i = 0; i < candidates.size(); ++i) {
        previewURLs.append(candidates[i].content().url());
        if (!startFound && m_shelf->selection().contains(candidates[i].id())) {
            previewStartIndex = int(i);
            startFound = true;
        }
    }
    if (!preview.window) {
        preview.window = new PreviewWindow;
        connect(qApp, &QCoreApplication::aboutToQuit, preview.window.data(), &QObject::deleteLater);
        // Closing the preview with its own keys gives the keyboard back to the shelf it shows.
        connect(preview.window.data(), &PreviewWindow::closedByKey, preview.window.data(), [] {
            const QPointer<ShelfCommands> owner = sharedPreview().owner;
            if (owner && owner->panel && owner->panel->isVisible())
                owner->panel->activateWindow();
        });
    }
    preview.owner = this;
    preview.window->open(previewURLs, previewStartIndex, panel);
}

bool ShelfCommands::isPreviewVisible() const
{
    const SharedPreview &preview = sharedPreview();
    return preview.window && preview.window->isVisible();
}

PreviewWindow *ShelfCommands::previewWindow() const
{
    return sharedPreview().window;
}

void ShelfCommands::share(const std::optional<QList<ShelfItem>> &items)
{
    const QList<ShelfItem> shared = existingItems(items ? *items : targetItems());
    if (shared.isEmpty() || !panel)
        return;
    // Near the header's right end, the menu opening below it.
    const QRect anchor(panel->width() - 40, 12, 24, 24);
    // Sharing to phones and PCs shares the whole shelf: the shelf's view opens its share sheet.
    SharePicker::show(shared, panel, anchor, [shelf = QPointer<Shelf>(m_shelf)] {
        if (shelf)
            shelf->setShareRequest(QUuid::createUuid());
    });
}

void ShelfCommands::paste()
{
    if (!m_shelf) {
        Desktop::shared().dialogs().beep();
        return;
    }
    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    QPointer<Shelf> shelf = m_shelf;
    const bool receiving = ShelfItem::receivePromisedFiles(
        data, [shelf](const ShelfItem &item, const QUuid &replacing) {
            if (shelf)
                shelf->replace(replacing, item);
        });
    if (receiving) {
        m_shelf->hasReceivedDrop = true;
        return;
    }
    const QList<ShelfItem> pasted = ShelfItem::items(data);
    if (pasted.isEmpty()) {
        Desktop::shared().dialogs().beep();
        return;
    }
    m_shelf->hasReceivedDrop = true;
    m_shelf->add(pasted);
}

void ShelfCommands::copy(const QList<ShelfItem> &items)
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    const QList<ShelfItem> copied = existingItems(items);
    if (!copied.isEmpty())
        clipboard->setMimeData(makeMimeData(copied));
}

void ShelfCommands::remove(const QList<ShelfItem> &items)
{
    if (!m_shelf)
        return;
    m_shelf->remove(identifiers(items));
    if (m_shelf->items().isEmpty())
        Q_EMIT emptied();
}

void ShelfCommands::open(const ShelfItem &item)
{
    if (isTextItem(item))
        return;
    // A file that is gone leaves nothing to open.
    if (!item.exists()) {
        Desktop::shared().dialogs().beep();
        return;
    }
    if (!Desktop::shared().fileManager().open(item.content().url())) {
        vyoError(lcShelf, u"열 수 없음: %{public}s", item.content().url());
        Desktop::shared().dialogs().beep();
    }
}

void ShelfCommands::reveal(const QList<QUrl> &urls)
{
    QList<QUrl> existing;
    std::copy_if(urls.begin(), urls.end(), std::back_inserter(existing), [](const QUrl &url) {
        return url.isLocalFile() && QFileInfo::exists(url.toLocalFile());
    });
    if (existing.isEmpty()) {
        Desktop::shared().dialogs().beep();
        return;
    }
    Desktop::shared().fileManager().reveal(existing);
}

void ShelfCommands::runQuickAction(QuickAction action, const std::optional<QList<ShelfItem>> &items)
{
    if (!m_shelf)
        return;
    const QList<QUrl> files = QuickActions::candidateFiles(items ? *items : targetItems());
    if (!QuickActions::isApplicable(files, action))
        return;
    const QString progressText = action.progressText();
    m_shelf->setStatus(progressText);

    // Over several files the status line counts them ("JPG로 바꾸는 중… 3/12") while it still
    // shows this run's text.
    const QPointer<Shelf> shelf(m_shelf);
    const QuickActions::Progress progress = [shelf, progressText](int done, int total) {
        if (total < 2)
            return;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [shelf, progressText, done, total] {
                if (shelf && shelf->status() && shelf->status()->startsWith(progressText))
                    shelf->setStatus(progressText + QStringLiteral(" %1/%2").arg(done).arg(total));
            },
            Qt::QueuedConnection);
    };

    // The result joins the shelf even when the panel (and this object) is gone by then. A shelf
    // closed meanwhile no longer takes it, but recognised text still reaches the clipboard and a
    // failure is still logged.
    QPointer<ShelfCommands> self = this;
    runInBackground(
        QCoreApplication::instance(),
        [action, files, progress] { return QuickActions::perform(action, files, progress); },
        [shelf = QPointer<Shelf>(m_shelf), self](const QuickAction::Result &result) {
            const bool succeeded = applyQuickActionResult(shelf, result);
            if (self)
                Q_EMIT self->quickActionFinished(succeeded);
        });
}

void ShelfCommands::flashStatus(const QString &text)
{
    flashShelfStatus(m_shelf, text);
}

} // namespace vyo
