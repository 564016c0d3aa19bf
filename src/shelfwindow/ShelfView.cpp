#include "shelfwindow/ShelfView.h"

#include "share/ShareCenter.h"
#include "shelfwindow/DragSource.h"
#include "shelfwindow/ElidingLabel.h"
#include "shelfwindow/Icons.h"
#include "shelfwindow/ItemThumbnail.h"
#include "shelfwindow/ShareView.h"
#include "shelfwindow/ShelfCommands.h"
#include "shelfwindow/ShelfItemRow.h"
#include "shelfwindow/ShelfMenus.h"
#include "shelfwindow/ThumbnailProvider.h"

#include <QApplication>
#include <QEvent>
#include <QFrame>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QScrollArea>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindow>

namespace vyo {

namespace {

constexpr int headerIconSize = 18;
// The status capsule's cancel button, square.
constexpr int statusCancelSize = 20;

QToolButton *headerButton(const QString &objectName, Icon icon, QWidget *parent)
{
    auto *button = new QToolButton(parent);
    button->setObjectName(objectName);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setIcon(themeIcon(icon));
    button->setIconSize(QSize(headerIconSize, headerIconSize));
    return button;
}

// The dashed drop area of an empty shelf.
class EmptyState : public QWidget
{
public:
    explicit EmptyState(QWidget *parent)
        : QWidget(parent)
    {
        setObjectName(QStringLiteral("emptyState"));
        setAccessibleName(QStringLiteral("여기에 놓으세요"));
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF area = QRectF(rect()).adjusted(12, 0, -12, -12);
        QColor tertiary = palette().color(QPalette::WindowText);
        tertiary.setAlphaF(0.3f);
        QPen pen(tertiary, 1.5);
        pen.setDashPattern({6 / 1.5, 4 / 1.5});
        painter.setPen(pen);
        painter.drawRoundedRect(area.adjusted(0.75, 0.75, -0.75, -0.75), 14, 14);

        QColor secondary = palette().color(QPalette::WindowText);
        secondary.setAlphaF(0.55f);
        const QRectF iconRect(area.center().x() - 17, area.center().y() - 30, 34, 34);
        themeIcon(Icon::dropHere).paint(&painter, iconRect.toAlignedRect());
        painter.setPen(secondary);
        painter.drawText(QRectF(area.left(), iconRect.bottom() + 8, area.width(), 24),
                         Qt::AlignHCenter | Qt::AlignTop, QStringLiteral("여기에 놓으세요"));
    }
};

// The pile of the newest three items, each older one turned and shifted behind the next.
class StackPile : public QWidget
{
public:
    explicit StackPile(QWidget *parent)
        : QWidget(parent)
    {
        setObjectName(QStringLiteral("stackPile"));
        setFixedHeight(110);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        connect(&ThumbnailProvider::shared(), &ThumbnailProvider::thumbnailReady, this,
                [this] { update(); });
    }

    void setItems(const QList<ShelfItem> &items)
    {
        m_items = items.mid(std::max<qsizetype>(0, items.size() - 3));
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const qsizetype n = m_items.size();
        for (qsizetype k = 0; k < n; ++k) {
            const double depth = double(n - 1 - k);
            painter.save();
            // The model's "upwards" is the toolkit's negative y.
            painter.translate(width() / 2.0 - 6 * depth, height() / 2.0 - 3 * depth);
            painter.rotate(6 * depth);
            ItemThumbnail::paint(painter, QRectF(-46, -46, 92, 92), m_items[k],
                                 devicePixelRatioF());
            painter.restore();
        }
    }

private:
    QList<ShelfItem> m_items;
};

QPixmap colorDot(ShelfColor color)
{
    QPixmap pixmap(8, 8);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(tint(color));
    painter.drawEllipse(QRectF(0, 0, 8, 8));
    return pixmap;
}

// An icon drawn in one colour, for a button that shows a state by its tint.
QIcon tinted(const QIcon &icon, const QColor &color, int size)
{
    QPixmap pixmap = icon.pixmap(size, size);
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pixmap.rect(), color);
    painter.end();
    return QIcon(pixmap);
}

} // namespace

ShelfView::ShelfView(Shelf *shelf, ShelfCommands *commands, QWidget *parent)
    : QWidget(parent)
    , m_shelf(shelf)
    , m_commands(commands)
    , m_shareCenter(&ShareCenter::shared())
{
    setObjectName(QStringLiteral("shelfView"));
    setAttribute(Qt::WA_TranslucentBackground);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(makeHeader());

    m_content = new QStackedWidget(this);
    m_content->setObjectName(QStringLiteral("content"));
    m_content->addWidget(makeEmptyState());

    m_stack = new DragSource(m_content);
    m_stack->setObjectName(QStringLiteral("stackView"));
    auto *stackLayout = new QVBoxLayout(m_stack);
    stackLayout->setContentsMargins(0, 0, 0, 0);
    stackLayout->setSpacing(10);
    stackLayout->addStretch();
    m_stackPile = new StackPile(m_stack);
    stackLayout->addWidget(m_stackPile);
    m_stackCaption = new QLabel(m_stack);
    m_stackCaption->setObjectName(QStringLiteral("stackCaption"));
    m_stackCaption->setAlignment(Qt::AlignCenter);
    m_stackCaption->setContentsMargins(12, 0, 12, 0);
    m_stackCaption->setAttribute(Qt::WA_TransparentForMouseEvents);
    QFont captionFont = m_stackCaption->font();
    captionFont.setWeight(QFont::Medium);
    m_stackCaption->setFont(captionFont);
    stackLayout->addWidget(m_stackCaption);
    stackLayout->addStretch();
    m_stack->items = [this] { return m_shelf ? m_shelf->items() : QList<ShelfItem>(); };
    m_stack->onClick = [this](Qt::KeyboardModifiers) {
        if (!m_shelf)
            return;
        m_shelf->clearSelection();
        if (m_shelf->items().size() >= 2)
            setExpanded(true);
    };
    m_stack->onDoubleClick = [this] {
        if (m_shelf && m_commands && m_shelf->items().size() == 1)
            m_commands->open(m_shelf->items().first());
    };
    m_stack->menuProvider = [this]() -> QMenu * {
        return m_commands ? ShelfMenus::contextMenu(*m_commands, std::nullopt) : nullptr;
    };
    m_stack->onDragEnded = [this](Qt::DropAction action) {
        if (m_shelf)
            finishDragOut(m_shelf->items(), action);
    };
    m_content->addWidget(m_stack);

    m_list = new QWidget(m_content);
    m_list->setObjectName(QStringLiteral("listView"));
    auto *listLayout = new QVBoxLayout(m_list);
    listLayout->setContentsMargins(0, 0, 0, 0);
    listLayout->setSpacing(0);
    auto *scroll = new QScrollArea(m_list);
    scroll->setObjectName(QStringLiteral("itemList"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->viewport()->setAutoFillBackground(false);
    auto *rowsContainer = new QWidget(scroll);
    rowsContainer->setAutoFillBackground(false);
    m_rowsLayout = new QVBoxLayout(rowsContainer);
    m_rowsLayout->setContentsMargins(8, 0, 8, 0);
    m_rowsLayout->setSpacing(2);
    m_rowsLayout->addStretch();
    scroll->setWidget(rowsContainer);
    listLayout->addWidget(scroll, 1);
    auto *divider = new QFrame(m_list);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    listLayout->addWidget(divider);
    m_footer = new DragSource(m_list);
    m_footer->setObjectName(QStringLiteral("listFooter"));
    auto *footerLayout = new QHBoxLayout(m_footer);
    footerLayout->setContentsMargins(0, 10, 0, 10);
    footerLayout->setSpacing(6);
    footerLayout->addStretch();
    auto *footerIcon = new QLabel(m_footer);
    footerIcon->setPixmap(themeIcon(Icon::dragAllItems).pixmap(14, 14));
    footerLayout->addWidget(footerIcon);
    m_footerLabel = new QLabel(m_footer);
    m_footerLabel->setObjectName(QStringLiteral("footerLabel"));
    QFont footerFont = m_footerLabel->font();
    footerFont.setPointSizeF(footerFont.pointSizeF() * 0.85);
    footerFont.setWeight(QFont::Medium);
    m_footerLabel->setFont(footerFont);
    footerLayout->addWidget(m_footerLabel);
    footerLayout->addStretch();
    m_footer->items = [this] { return m_shelf ? m_shelf->items() : QList<ShelfItem>(); };
    m_footer->onDragEnded = [this](Qt::DropAction action) {
        if (m_shelf)
            finishDragOut(m_shelf->items(), action);
    };
    listLayout->addWidget(m_footer);
    m_content->addWidget(m_list);
    layout->addWidget(m_content, 1);

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("statusLabel"));
    m_status->setAlignment(Qt::AlignCenter);
    m_status->setStyleSheet(QStringLiteral("QLabel { background: rgba(236, 236, 236, 245); "
                                           "border: 1px solid rgba(0, 0, 0, 40); "
                                           "border-radius: 11px; padding: 5px 10px; }"));
    QFont statusFont = m_status->font();
    statusFont.setPointSizeF(statusFont.pointSizeF() * 0.85);
    statusFont.setWeight(QFont::Medium);
    m_status->setFont(statusFont);
    // Work that can be stopped shows a cancel button at the capsule's end.
    m_statusCancel = headerButton(QStringLiteral("statusCancelButton"), Icon::close, m_status);
    m_statusCancel->setIconSize(QSize(12, 12));
    m_statusCancel->setToolTip(QStringLiteral("취소"));
    m_statusCancel->setAccessibleName(QStringLiteral("취소"));
    connect(m_statusCancel, &QToolButton::clicked, this, [this] {
        if (m_shelf)
            m_shelf->cancelStatus();
    });
    m_status->hide();

    connect(shelf, &Shelf::itemsChanged, this, &ShelfView::rebuildContent);
    connect(shelf, &Shelf::selectionChanged, this, &ShelfView::updateSelection);
    connect(shelf, &Shelf::nameChanged, this, [this] {
        updateTitle();
        rebuildStack();
    });
    connect(shelf, &Shelf::colorChanged, this, [this] {
        updateTitle();
        update();
    });
    connect(shelf, &Shelf::pinIDChanged, this, &ShelfView::updateTitle);
    connect(shelf, &Shelf::isDropTargetedChanged, this, qOverload<>(&QWidget::update));
    connect(shelf, &Shelf::statusChanged, this, &ShelfView::updateStatus);
    connect(shelf, &Shelf::shareRequestChanged, this, [this] {
        if (m_shelf && m_shelf->shareRequest() && !m_showingShare)
            toggleShare();
    });

    connect(m_shareCenter, &ShareCenter::sessionsChanged, this, &ShelfView::updateShareButton);

    updateTitle();
    updateShareButton();
    rebuildContent();
}

ShareCenter &ShelfView::shareCenter() const
{
    return *m_shareCenter;
}

ShareView *ShelfView::shareView() const
{
    return m_shareView;
}

void ShelfView::setShareCenter(ShareCenter &center)
{
    if (&center == m_shareCenter)
        return;
    if (m_shareCenter)
        disconnect(m_shareCenter, nullptr, this, nullptr);
    m_shareCenter = &center;
    connect(m_shareCenter, &ShareCenter::sessionsChanged, this, &ShelfView::updateShareButton);
    updateShareButton();
}

ShelfCommands *ShelfView::commands() const
{
    return m_commands;
}

QWidget *ShelfView::makeHeader()
{
    auto *header = new QWidget(this);
    header->setObjectName(QStringLiteral("header"));
    header->installEventFilter(this);
    auto *layout = new QHBoxLayout(header);
    layout->setContentsMargins(10, 10, 10, 4);
    layout->setSpacing(6);

    QToolButton *close = headerButton(QStringLiteral("closeButton"), Icon::close, header);
    close->setToolTip(QStringLiteral("셸프 닫기 (esc)"));
    close->setAccessibleName(QStringLiteral("셸프 닫기"));
    connect(close, &QToolButton::clicked, this, [this] { Q_EMIT closeRequested(); });
    layout->addWidget(close);

    m_titleStack = new QStackedWidget(header);
    m_titleStack->setObjectName(QStringLiteral("title"));
    m_titleGroup = new QWidget(m_titleStack);
    m_titleGroup->setObjectName(QStringLiteral("titleGroup"));
    m_titleGroup->setToolTip(QStringLiteral("두 번 눌러 이름 바꾸기"));
    m_titleGroup->installEventFilter(this);
    auto *titleLayout = new QHBoxLayout(m_titleGroup);
    titleLayout->setContentsMargins(0, 0, 0, 0);
    titleLayout->setSpacing(5);
    m_colorDot = new QLabel(m_titleGroup);
    m_colorDot->setObjectName(QStringLiteral("colorDot"));
    titleLayout->addWidget(m_colorDot);
    m_nameLabel = new ElidingLabel(m_titleGroup);
    m_nameLabel->setObjectName(QStringLiteral("nameLabel"));
    QFont nameFont = m_nameLabel->font();
    nameFont.setWeight(QFont::DemiBold);
    m_nameLabel->setFont(nameFont);
    titleLayout->addWidget(m_nameLabel, 1);
    m_pinMark = new QLabel(m_titleGroup);
    m_pinMark->setObjectName(QStringLiteral("pinMark"));
    m_pinMark->setPixmap(themeIcon(Icon::pinned).pixmap(10, 10));
    m_pinMark->setAccessibleName(QStringLiteral("알림 영역에 고정됨"));
    titleLayout->addWidget(m_pinMark);
    titleLayout->addStretch();
    m_titleStack->addWidget(m_titleGroup);

    m_nameField = new QLineEdit(m_titleStack);
    m_nameField->setObjectName(QStringLiteral("nameField"));
    m_nameField->setPlaceholderText(QStringLiteral("셸프 이름"));
    m_nameField->setFont(nameFont);
    m_nameField->setFrame(false);
    // Things dropped on the header land on the shelf, not in the name.
    m_nameField->setAcceptDrops(false);
    m_nameField->installEventFilter(this);
    connect(m_nameField, &QLineEdit::returnPressed, this, &ShelfView::commitRename);
    m_titleStack->addWidget(m_nameField);
    m_titleStack->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    layout->addWidget(m_titleStack, 1);

    m_stackButton = headerButton(QStringLiteral("stackButton"), Icon::showAsStack, header);
    m_stackButton->setToolTip(QStringLiteral("스택으로 보기"));
    m_stackButton->setAccessibleName(QStringLiteral("스택으로 보기"));
    connect(m_stackButton, &QToolButton::clicked, this, [this] { setExpanded(false); });
    layout->addWidget(m_stackButton);

    m_shareButton = headerButton(QStringLiteral("shareButton"), Icon::sendToDevice, header);
    connect(m_shareButton, &QToolButton::clicked, this, &ShelfView::toggleShare);
    layout->addWidget(m_shareButton);

    m_menuButton = headerButton(QStringLiteral("menuButton"), Icon::shelfMenu, header);
    m_menuButton->setAccessibleName(QStringLiteral("셸프 메뉴"));
    connect(m_menuButton, &QToolButton::clicked, this, [this] {
        QMenu *menu = ShelfMenus::shelfMenu(this);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(m_menuButton->mapToGlobal(QPoint(0, m_menuButton->height())));
    });
    layout->addWidget(m_menuButton);
    return header;
}

QWidget *ShelfView::makeEmptyState()
{
    return new EmptyState(this);
}

QSize ShelfView::preferredSize() const
{
    if (m_showingShare)
        return shareSize;
    if (m_expanded && m_shelf && m_shelf->items().size() >= 2)
        return listSize;
    return collapsedSize;
}

void ShelfView::setExpanded(bool expanded)
{
    if (m_expanded == expanded)
        return;
    m_expanded = expanded;
    rebuildContent();
}

void ShelfView::updateSize()
{
    const QSize size = preferredSize();
    setFixedSize(size);
    if (size == m_size)
        return;
    m_size = size;
    Q_EMIT preferredSizeChanged(size);
}

void ShelfView::rebuildContent()
{
    if (!m_shelf)
        return;
    const qsizetype count = m_shelf->items().size();
    m_stackButton->setVisible(m_expanded && count >= 2);
    if (m_showingShare && m_shareView) {
        m_content->setCurrentWidget(m_shareView);
    } else if (count == 0) {
        m_content->setCurrentIndex(0);
    } else if (m_expanded && count >= 2) {
        rebuildList();
        m_content->setCurrentWidget(m_list);
    } else {
        rebuildStack();
        m_content->setCurrentWidget(m_stack);
    }
    updateSize();
}

void ShelfView::rebuildStack()
{
    if (!m_shelf)
        return;
    const QList<ShelfItem> &items = m_shelf->items();
    static_cast<StackPile *>(m_stackPile)->setItems(items);
    const QString caption =
        m_shelf->name() && !m_shelf->name()->isEmpty() ? *m_shelf->name() : m_shelf->title();
    m_stackCaption->setText(
        m_stackCaption->fontMetrics().elidedText(caption.left(512), Qt::ElideMiddle, 180 - 24));
    m_stack->setToolTip(items.size() < 2
                            ? QStringLiteral("끌어서 복사 (Shift: 이동)")
                            : QStringLiteral("끌어서 모두 복사 (Shift: 이동) · 클릭해서 펼치기"));
    m_stack->setAccessibleName(caption);
    m_stack->setAccessibleDescription(QStringLiteral("끌어서 다른 앱으로 내보낼 수 있습니다"));
}

void ShelfView::rebuildList()
{
    // Rows may be in the middle of handling their own click: let them go at the next turn.
    while (m_rowsLayout->count() > 1) {
        QLayoutItem *entry = m_rowsLayout->takeAt(0);
        if (QWidget *row = entry->widget()) {
            row->hide();
            row->deleteLater();
        }
        delete entry;
    }
    for (const ShelfItem &item : m_shelf->items()) {
        auto *row = new ShelfItemRow(item, m_rowsLayout->parentWidget());
        const QUuid id = item.id();
        row->onSelect = [this, id](Qt::KeyboardModifiers modifiers) {
            if (!m_shelf)
                return;
            const SelectionMode mode = modifiers & Qt::ControlModifier ? SelectionMode::toggle
                                       : modifiers & Qt::ShiftModifier ? SelectionMode::range
                                                                       : SelectionMode::single;
            m_shelf->select(id, mode);
        };
        row->onOpen = [this, item] {
            if (m_commands)
                m_commands->open(item);
        };
        row->onRemove = [this, id] {
            if (m_shelf)
                m_shelf->remove({id});
        };
        row->menu = [this, id]() -> QMenu * {
            return m_commands ? ShelfMenus::contextMenu(*m_commands, id) : nullptr;
        };
        row->onDragEnded = [this](const QList<ShelfItem> &items, Qt::DropAction action) {
            finishDragOut(items, action);
        };
        m_rowsLayout->insertWidget(m_rowsLayout->count() - 1, row);
    }
    updateSelection();
    m_footerLabel->setText(QString::number(m_shelf->items().size()) +
                           QStringLiteral("개 항목 모두 끌기"));
}

QList<ShelfItemRow *> ShelfView::rows() const
{
    QList<ShelfItemRow *> result;
    for (int i = 0; i < m_rowsLayout->count(); ++i) {
        if (auto *row = qobject_cast<ShelfItemRow *>(m_rowsLayout->itemAt(i)->widget()))
            result.append(row);
    }
    return result;
}

void ShelfView::updateSelection()
{
    if (!m_shelf)
        return;
    // A drag from a selected row carries the selection as it is shown; any other row only itself.
    const QList<ShelfItem> targets = m_commands ? m_commands->targetItems() : QList<ShelfItem>();
    for (ShelfItemRow *row : rows()) {
        const bool selected = m_shelf->selection().contains(row->item().id());
        row->setSelected(selected);
        const QList<ShelfItem> dragged = selected ? targets : QList<ShelfItem>{row->item()};
        row->dragItems = [dragged] { return dragged; };
    }
}

void ShelfView::updateTitle()
{
    if (!m_shelf)
        return;
    const bool named = m_shelf->name().has_value();
    const bool colored = m_shelf->color() != ShelfColor::none;
    const bool pinned = m_shelf->pinID().has_value();
    m_colorDot->setVisible(colored);
    if (colored)
        m_colorDot->setPixmap(colorDot(m_shelf->color()));
    m_nameLabel->setVisible(named);
    m_nameLabel->setText(named ? m_shelf->name()->left(512) : QString());
    m_pinMark->setVisible(pinned);
}

void ShelfView::updateShareButton()
{
    const bool sharing = m_shelf && m_shareCenter && m_shareCenter->isSharing(m_shelf->id());
    // Shared: the accent colour; otherwise the secondary colour of the other header buttons.
    QColor secondary = palette().color(QPalette::WindowText);
    secondary.setAlphaF(0.6f);
    m_shareButton->setIcon(sharing
                               ? tinted(themeIcon(Icon::sharingActive),
                                        palette().color(QPalette::Highlight), headerIconSize)
                               : tinted(themeIcon(Icon::sendToDevice), secondary, headerIconSize));
    m_shareButton->setProperty("sharing", sharing);
    m_shareButton->setToolTip(sharing ? QStringLiteral("공유 중 · 눌러서 QR 보기")
                                      : QStringLiteral("휴대폰·PC로 보내기"));
    m_shareButton->setAccessibleName(sharing ? QStringLiteral("공유 중, QR 코드 보기")
                                             : QStringLiteral("휴대폰이나 PC로 보내기"));
}

void ShelfView::updateStatus()
{
    if (!m_shelf || !m_shelf->status()) {
        m_status->hide();
        return;
    }
    m_status->setText(*m_shelf->status());
    const bool cancellable = m_shelf->isStatusCancellable();
    m_status->setContentsMargins(0, 0, cancellable ? statusCancelSize : 0, 0);
    m_statusCancel->setVisible(cancellable);
    m_status->adjustSize();
    const bool wasVisible = m_status->isVisible();
    m_status->show();
    m_status->raise();
    placeStatus();
    if (!wasVisible) {
        // Slides in from the bottom edge.
        auto *slide = new QPropertyAnimation(m_status, "pos", m_status);
        slide->setDuration(200);
        slide->setStartValue(QPoint(m_status->x(), height()));
        slide->setEndValue(m_status->pos());
        slide->setEasingCurve(QEasingCurve::OutCubic);
        slide->start(QAbstractAnimation::DeleteWhenStopped);
    }
}

void ShelfView::placeStatus()
{
    const int width = std::min(m_status->sizeHint().width(), this->width() - 16);
    m_status->resize(width, m_status->sizeHint().height());
    m_status->move((this->width() - width) / 2, height() - 10 - m_status->height());
    const int side = std::min(statusCancelSize, m_status->height());
    m_statusCancel->setGeometry(width - statusCancelSize + (statusCancelSize - side) / 2,
                                (m_status->height() - side) / 2, side, side);
}

void ShelfView::beginRename()
{
    if (!m_shelf)
        return;
    m_renaming = true;
    m_nameField->setText(m_shelf->name().value_or(QString()));
    m_titleStack->setCurrentWidget(m_nameField);
    if (QWidget *panel = window())
        panel->activateWindow();
    QTimer::singleShot(0, m_nameField, [field = m_nameField] {
        field->setFocus(Qt::OtherFocusReason);
        field->selectAll();
    });
}

void ShelfView::commitRename()
{
    if (!m_renaming)
        return;
    m_renaming = false;
    const QString name = m_nameField->text().trimmed();
    m_titleStack->setCurrentWidget(m_titleGroup);
    if (m_shelf)
        m_shelf->setName(name.isEmpty() ? std::nullopt : std::optional<QString>(name));
}

void ShelfView::cancelRename()
{
    m_renaming = false;
    m_titleStack->setCurrentWidget(m_titleGroup);
}

void ShelfView::toggleShare()
{
    if (m_showingShare) {
        setShowingShare(false);
        return;
    }
    // The sheet starts the share when it appears.
    setShowingShare(true);
}

void ShelfView::setShowingShare(bool showing)
{
    if (showing == m_showingShare || !m_shelf || !m_shareCenter)
        return;
    m_showingShare = showing;
    if (showing) {
        m_shareView = new ShareView(m_shelf, *m_shareCenter, m_content);
        connect(m_shareView, &ShareView::showItemsRequested, this,
                [this] { setShowingShare(false); });
        connect(m_shareView, &ShareView::stopRequested, this, [this] {
            if (m_shelf && m_shareCenter)
                m_shareCenter->stopSharing(m_shelf->id());
            setShowingShare(false);
        });
        m_content->addWidget(m_shareView);
    } else if (m_shareView) {
        // The sheet may be in the middle of handling its own button: it goes at the next turn.
        m_content->removeWidget(m_shareView);
        m_shareView->hide();
        m_shareView->deleteLater();
        m_shareView = nullptr;
    }
    rebuildContent();
}

void ShelfView::finishDragOut(const QList<ShelfItem> &items, Qt::DropAction action)
{
    if (!m_shelf || action == Qt::IgnoreAction)
        return;
    if (!(action & Qt::MoveAction) && !removeAfterDragOut)
        return;
    QSet<QUuid> ids;
    for (const ShelfItem &item : items)
        ids.insert(item.id());
    m_shelf->remove(ids);
    if (m_shelf->items().isEmpty())
        Q_EMIT closeRequested();
}

void ShelfView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor glass = palette().color(QPalette::Window);
    glass.setAlphaF(0.94f);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 22, 22);
    painter.fillPath(shape, glass);
    if (!m_shelf)
        return;
    QPen border;
    if (m_shelf->isDropTargeted()) {
        border = QPen(palette().color(QPalette::Highlight), 2);
    } else if (m_shelf->color() != ShelfColor::none) {
        QColor color = tint(m_shelf->color());
        color.setAlphaF(0.55f);
        border = QPen(color, 1.5);
    } else {
        return;
    }
    const double inset = border.widthF() / 2;
    painter.setPen(border);
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(rect()).adjusted(inset, inset, -inset, -inset), 22 - inset,
                            22 - inset);
}

void ShelfView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (m_status->isVisible())
        placeStatus();
}

bool ShelfView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_titleGroup && event->type() == QEvent::MouseButtonDblClick) {
        beginRename();
        return true;
    }
    if (watched == m_nameField) {
        if (event->type() == QEvent::KeyPress &&
            static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
            cancelRename();
            return true;
        }
        if (event->type() == QEvent::FocusOut && m_renaming)
            commitRename();
    }
    if (watched->objectName() == QLatin1String("header")) {
        // Dragging the header moves the panel. The window manager's move starts only once the
        // pointer has moved: it grabs the keyboard, and a plain click must leave the panel with
        // its keys.
        const auto *mouse =
            event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseMove
                ? static_cast<QMouseEvent *>(event)
                : nullptr;
        if (event->type() == QEvent::MouseButtonPress && mouse->button() == Qt::LeftButton) {
            m_headerPress = mouse->globalPosition();
            return true;
        }
        if (event->type() == QEvent::MouseMove && m_headerPress &&
            (mouse->globalPosition() - *m_headerPress).manhattanLength() >=
                QApplication::startDragDistance()) {
            m_headerPress.reset();
            if (QWindow *handle = window()->windowHandle())
                handle->startSystemMove();
            return true;
        }
        if (event->type() == QEvent::MouseButtonRelease)
            m_headerPress.reset();
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace vyo
