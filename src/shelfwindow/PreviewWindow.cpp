#include "shelfwindow/PreviewWindow.h"

#include "actions/ImageFile.h"
#include "core/MainThread.h"

#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeDatabase>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QStackedWidget>
#include <QStringDecoder>
#include <QStyle>
#include <QVBoxLayout>

#include <poppler-qt6.h>

#include <algorithm>

namespace vyo {

namespace {

// The window's size when the screen has room for it.
constexpr QSize preferredSize(760, 580);
// The gap between the shelf's panel and the window beside it.
constexpr int anchorGap = 12;
// How much of a text file is shown.
constexpr qint64 textPreviewBytes = 64 * 1024;
// Tiny PDF pages are not rendered at absurd resolutions.
constexpr double maximumPdfDpi = 300;

// "512바이트", "12.3 KB", "4.5 MB": decimal units.
QString sizeText(qint64 bytes)
{
    if (bytes < 1000)
        return QString::number(bytes) + QStringLiteral("바이트");
    static const char *const units[] = {"KB", "MB", "GB", "TB"};
    double value = double(bytes);
    int unit = -1;
    while (value >= 1000 && unit < 3) {
        value /= 1000;
        ++unit;
    }
    return QString::number(value, 'f', value < 10 ? 1 : 0) + u' ' + QLatin1String(units[unit]);
}

} // namespace

// What the background read of one file found.
struct PreviewWindow::Content
{
    Kind kind = Kind::other;
    QString name;
    QImage picture;
    QString text;
    QString subtitle;
    // For a PDF: the page shown (from 0) and how many there are.
    int page = 0;
    int pageCount = 0;
    // For the details of anything else.
    bool exists = false;
    bool isFolder = false;
    qint64 size = 0;
    QString kindText;
    QString iconName;
    QString genericIconName;
};

namespace {

// The first image of an image file, orientation applied, scaled down to fit `box`.
bool readPicture(const QString &path, QSize box, PreviewWindow::Content &content)
{
    const ImageFile file(path);
    if (!file.isReadable())
        return false;
    const QSize size = file.size();
    int longSide = 0;
    if (size.width() > box.width() || size.height() > box.height()) {
        const QSize fit = size.scaled(box, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
        longSide = std::max(fit.width(), fit.height());
    }
    content.picture = file.read(longSide);
    if (content.picture.isNull())
        return false;
    content.kind = PreviewWindow::Kind::image;
    content.subtitle = QStringLiteral("%1 × %2").arg(size.width()).arg(size.height());
    return true;
}

// One page of a PDF (the last one when `pageIndex` is past it), rendered to fit `box`.
bool readPdf(const QString &path, int pageIndex, QSize box, PreviewWindow::Content &content)
{
    const std::unique_ptr<Poppler::Document> document = Poppler::Document::load(path);
    if (!document || document->isLocked() || document->numPages() < 1)
        return false;
    document->setRenderHint(Poppler::Document::Antialiasing);
    document->setRenderHint(Poppler::Document::TextAntialiasing);
    const int pageCount = document->numPages();
    pageIndex = std::clamp(pageIndex, 0, pageCount - 1);
    const std::unique_ptr<Poppler::Page> page = document->page(pageIndex);
    if (!page)
        return false;
    const QSizeF points = page->pageSizeF();
    if (points.width() <= 0 || points.height() <= 0)
        return false;
    const double scale = std::min(box.width() / points.width(), box.height() / points.height());
    const double dpi = std::min(72.0 * scale, maximumPdfDpi);
    content.picture = page->renderToImage(dpi, dpi);
    if (content.picture.isNull())
        return false;
    content.kind = PreviewWindow::Kind::pdf;
    content.page = pageIndex;
    content.pageCount = pageCount;
    content.subtitle = pageCount > 1 ? QStringLiteral("%1 / %2쪽").arg(pageIndex + 1).arg(pageCount)
                                     : QStringLiteral("1쪽");
    return true;
}

// The first part of a text file; false for a file that turns out to hold binary data.
bool readText(const QString &path, PreviewWindow::Content &content)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.read(textPreviewBytes);
    if (bytes.contains('\0'))
        return false;
    // A character cut at the end of the part stays in the decoder and is left out.
    QStringDecoder decoder(QStringDecoder::Utf8);
    content.text = decoder.decode(bytes);
    content.kind = PreviewWindow::Kind::text;
    return true;
}

// Reads what the window shows for the file (for a PDF, the page `page`); runs on a worker thread.
PreviewWindow::Content readContent(const QString &path, int page, QSize box)
{
    PreviewWindow::Content content;
    const QFileInfo info(path);
    content.name = info.fileName();
    content.exists = info.exists();
    content.isFolder = info.isDir();
    if (!content.exists)
        return content;
    const QMimeType type = QMimeDatabase().mimeTypeForFile(info);
    content.kindText = content.isFolder ? QStringLiteral("폴더") : type.comment();
    content.iconName = content.isFolder ? QStringLiteral("folder") : type.iconName();
    content.genericIconName = type.genericIconName();
    content.size = info.size();
    if (content.isFolder)
        return content;
    if (type.inherits(QStringLiteral("application/pdf"))) {
        if (readPdf(path, page, box, content))
            return content;
    } else if (type.name().startsWith(QLatin1String("image/"))) {
        if (readPicture(path, box, content))
            return content;
    } else if (type.inherits(QStringLiteral("text/plain"))) {
        if (readText(path, content)) {
            content.subtitle = type.comment();
            return content;
        }
    }
    content.kind = PreviewWindow::Kind::other;
    return content;
}

} // namespace

PreviewWindow::PreviewWindow(QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("previewWindow"));
    setAttribute(Qt::WA_QuitOnClose, false);
    setFocusPolicy(Qt::StrongFocus);

    auto *frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("previewFrame"));
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setAutoFillBackground(true);
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(frame);

    m_title = new QLabel(frame);
    m_title->setObjectName(QStringLiteral("previewTitle"));
    QFont titleFont = m_title->font();
    titleFont.setBold(true);
    m_title->setFont(titleFont);
    m_title->setTextFormat(Qt::PlainText);
    m_position = new QLabel(frame);
    m_position->setObjectName(QStringLiteral("previewPosition"));
    m_subtitle = new QLabel(frame);
    m_subtitle->setObjectName(QStringLiteral("previewSubtitle"));
    m_subtitle->setTextFormat(Qt::PlainText);
    m_subtitle->setForegroundRole(QPalette::PlaceholderText);
    // Always one line, so that the content area keeps the size its picture was made for.
    m_subtitle->setFixedHeight(m_subtitle->fontMetrics().height());
    auto *header = new QHBoxLayout;
    header->addWidget(m_title, 1);
    header->addWidget(m_position);

    m_stack = new QStackedWidget(frame);
    m_stack->setObjectName(QStringLiteral("previewStack"));
    m_stack->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);

    m_blank = new QWidget(m_stack);
    m_picture = new QLabel(m_stack);
    m_picture->setObjectName(QStringLiteral("previewPicture"));
    m_picture->setAlignment(Qt::AlignCenter);
    m_picture->setMinimumSize(1, 1);
    m_text = new QPlainTextEdit(m_stack);
    m_text->setObjectName(QStringLiteral("previewText"));
    m_text->setReadOnly(true);
    m_text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_text->setLineWrapMode(QPlainTextEdit::NoWrap);
    // The arrow keys belong to the window: they move between files.
    m_text->setFocusPolicy(Qt::NoFocus);

    m_details = new QWidget(m_stack);
    m_details->setObjectName(QStringLiteral("previewDetails"));
    m_detailIcon = new QLabel(m_details);
    m_detailIcon->setObjectName(QStringLiteral("previewIcon"));
    m_detailIcon->setAlignment(Qt::AlignCenter);
    m_detailName = new QLabel(m_details);
    m_detailName->setObjectName(QStringLiteral("previewName"));
    m_detailName->setTextFormat(Qt::PlainText);
    m_detailName->setAlignment(Qt::AlignCenter);
    m_detailName->setWordWrap(true);
    m_detailName->setFont(titleFont);
    m_detailKind = new QLabel(m_details);
    m_detailKind->setObjectName(QStringLiteral("previewKind"));
    m_detailKind->setTextFormat(Qt::PlainText);
    m_detailKind->setAlignment(Qt::AlignCenter);
    m_detailSize = new QLabel(m_details);
    m_detailSize->setObjectName(QStringLiteral("previewSize"));
    m_detailSize->setAlignment(Qt::AlignCenter);
    auto *details = new QVBoxLayout(m_details);
    details->addStretch(1);
    details->addWidget(m_detailIcon);
    details->addWidget(m_detailName);
    details->addWidget(m_detailKind);
    details->addWidget(m_detailSize);
    details->addStretch(1);

    m_stack->addWidget(m_blank);
    m_stack->addWidget(m_picture);
    m_stack->addWidget(m_text);
    m_stack->addWidget(m_details);

    auto *layout = new QVBoxLayout(frame);
    layout->setContentsMargins(14, 10, 14, 14);
    layout->addLayout(header);
    layout->addWidget(m_subtitle);
    layout->addWidget(m_stack, 1);

    resize(preferredSize);
}

PreviewWindow::~PreviewWindow() = default;

QUrl PreviewWindow::urlAt(int index) const
{
    if (index < 0 || index >= m_urls.size())
        return {};
    return m_urls[index];
}

void PreviewWindow::open(const QList<QUrl> &urls, int startIndex, QWidget *anchor)
{
    m_urls = urls;
    if (m_urls.isEmpty()) {
        m_current = -1;
        close();
        return;
    }
    m_current = -1;
    placeBeside(anchor);
    QWidget::show();
    raise();
    activateWindow();
    setFocus(Qt::ActiveWindowFocusReason);
    setCurrentIndex(startIndex >= 0 && startIndex < m_urls.size() ? startIndex : 0);
}

bool PreviewWindow::setCurrentIndex(int index)
{
    if (index < 0 || index >= m_urls.size())
        return false;
    if (index == m_current)
        return true;
    m_current = index;
    m_page = 0;
    m_pageCount = 0;
    loadCurrent();
    Q_EMIT currentIndexChanged(index);
    return true;
}

bool PreviewWindow::setCurrentPage(int page)
{
    if (m_shownKind != Kind::pdf || page < 0 || page >= m_pageCount)
        return false;
    if (page != m_page) {
        // The page shown stays until the next one is ready.
        m_page = page;
        load();
    }
    return true;
}

QSize PreviewWindow::contentPixelSize() const
{
    // The stack's size once laid out (with the texts just set); before that, what the window's
    // size leaves for it.
    const QWidget *const laidOut[] = {this, m_stack->parentWidget()};
    for (const QWidget *widget : laidOut) {
        if (widget->layout())
            widget->layout()->activate();
    }
    QSize box = m_stack->size();
    if (!m_stack->isVisible() || box.width() < 50 || box.height() < 50)
        box = size() - QSize(28, 70);
    return (QSizeF(box.expandedTo(QSize(1, 1))) * devicePixelRatioF()).toSize();
}

void PreviewWindow::placeBeside(QWidget *anchor)
{
    QScreen *screen = anchor ? anchor->screen() : nullptr;
    if (!screen)
        screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(QPoint(0, 0), preferredSize);
    const QSize windowSize = preferredSize.boundedTo(area.size() * 9 / 10);
    resize(windowSize);

    QRect frame(QPoint(0, 0), windowSize);
    if (!anchor || !anchor->isVisible()) {
        frame.moveCenter(area.center());
        move(frame.topLeft());
        return;
    }
    const QRect panel(anchor->mapToGlobal(QPoint(0, 0)), anchor->size());
    frame.moveTop(panel.top());
    if (panel.right() + anchorGap + windowSize.width() <= area.right()) {
        frame.moveLeft(panel.right() + anchorGap);
    } else if (panel.left() - anchorGap - windowSize.width() >= area.left()) {
        frame.moveRight(panel.left() - anchorGap);
    } else {
        // No room on either side: over the panel.
        frame.moveCenter(panel.center());
    }
    frame.moveBottom(std::min(frame.bottom(), area.bottom()));
    frame.moveTop(std::max(frame.top(), area.top()));
    frame.moveRight(std::min(frame.right(), area.right()));
    frame.moveLeft(std::max(frame.left(), area.left()));
    move(frame.topLeft());
}

void PreviewWindow::loadCurrent()
{
    const QUrl url = urlAt(m_current);
    m_title->setText(QFileInfo(url.toLocalFile()).fileName());
    m_position->setText(m_urls.size() > 1
                            ? QStringLiteral("%1 / %2").arg(m_current + 1).arg(m_urls.size())
                            : QString());
    m_subtitle->clear();
    m_shownKind = Kind::none;
    m_stack->setCurrentWidget(m_blank);
    load();
}

void PreviewWindow::load()
{
    const quint64 number = ++m_loadNumber;
    const QString path = urlAt(m_current).toLocalFile();
    const int page = m_page;
    const QSize box = contentPixelSize();
    runInBackground(
        this, [path, page, box] { return readContent(path, page, box); },
        [this, number](const Content &content) {
            if (number == m_loadNumber)
                display(content);
        });
}

void PreviewWindow::display(const Content &content)
{
    m_subtitle->setText(content.subtitle);
    m_page = content.page;
    m_pageCount = content.pageCount;
    switch (content.kind) {
    case Kind::image:
    case Kind::pdf: {
        QPixmap pixmap = QPixmap::fromImage(content.picture);
        pixmap.setDevicePixelRatio(devicePixelRatioF());
        m_picture->setPixmap(pixmap);
        m_stack->setCurrentWidget(m_picture);
        break;
    }
    case Kind::text:
        m_text->setPlainText(content.text);
        m_text->verticalScrollBar()->setValue(0);
        m_stack->setCurrentWidget(m_text);
        break;
    case Kind::none:
    case Kind::other:
        showDetails(content);
        break;
    }
    m_shownKind = content.kind == Kind::none ? Kind::other : content.kind;
    Q_EMIT contentShown(m_current);
}

void PreviewWindow::showDetails(const Content &content)
{
    QIcon icon = QIcon::fromTheme(content.iconName);
    if (icon.isNull() || icon.availableSizes().isEmpty())
        icon = QIcon::fromTheme(content.genericIconName);
    if (icon.isNull() || icon.availableSizes().isEmpty())
        icon = QIcon::fromTheme(content.isFolder ? QStringLiteral("folder")
                                                 : QStringLiteral("text-x-generic"));
    // Without an icon theme the style's own file and folder icons stand in.
    if (icon.isNull() || icon.availableSizes().isEmpty())
        icon = style()->standardIcon(content.isFolder ? QStyle::SP_DirIcon : QStyle::SP_FileIcon);
    m_detailIcon->setPixmap(icon.pixmap(128));
    m_detailName->setText(content.name);
    if (!content.exists) {
        m_detailKind->setText(QStringLiteral("파일을 찾을 수 없어요."));
        m_detailSize->clear();
    } else {
        m_detailKind->setText(content.kindText);
        m_detailSize->setText(content.isFolder ? QString() : sizeText(content.size));
    }
    m_stack->setCurrentWidget(m_details);
}

void PreviewWindow::scrollText(QAbstractSlider::SliderAction action)
{
    // The text itself never takes the keyboard: the arrow keys move between files.
    if (m_stack->currentWidget() == m_text)
        m_text->verticalScrollBar()->triggerAction(action);
}

void PreviewWindow::keyPressEvent(QKeyEvent *event)
{
    if (event->modifiers() & ~(Qt::KeypadModifier)) {
        QWidget::keyPressEvent(event);
        return;
    }
    switch (event->key()) {
    case Qt::Key_Left:
        setCurrentIndex(m_current - 1);
        break;
    case Qt::Key_Right:
        setCurrentIndex(m_current + 1);
        break;
    case Qt::Key_Space:
    case Qt::Key_Escape:
        close();
        Q_EMIT closedByKey();
        break;
    case Qt::Key_Up:
        if (!setCurrentPage(m_page - 1))
            scrollText(QAbstractSlider::SliderSingleStepSub);
        break;
    case Qt::Key_Down:
        if (!setCurrentPage(m_page + 1))
            scrollText(QAbstractSlider::SliderSingleStepAdd);
        break;
    case Qt::Key_PageUp:
        if (!setCurrentPage(m_page - 1))
            scrollText(QAbstractSlider::SliderPageStepSub);
        break;
    case Qt::Key_PageDown:
        if (!setCurrentPage(m_page + 1))
            scrollText(QAbstractSlider::SliderPageStepAdd);
        break;
    case Qt::Key_Home:
        setCurrentPage(0);
        break;
    case Qt::Key_End:
        setCurrentPage(m_pageCount - 1);
        break;
    default:
        QWidget::keyPressEvent(event);
        break;
    }
}

} // namespace vyo
