#include "settings/SettingsWindow.h"

#include "core/Defaults.h"
#include "settings/AppInfo.h"
#include "settings/SettingsComponents.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QScreen>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace vyo {

const QList<SettingsPane> &allSettingsPanes()
{
    static const QList<SettingsPane> panes = {SettingsPane::general, SettingsPane::shake,
                                              SettingsPane::watch, SettingsPane::share,
                                              SettingsPane::about};
    return panes;
}

SettingsPaneInfo settingsPaneInfo(SettingsPane pane)
{
    switch (pane) {
    case SettingsPane::general:
        return {"general", "일반", "gearshape.fill", tintColor(Tint::gray),
                "실행, 셸프 복원, 단축키"};
    case SettingsPane::shake:
        return {"shake", "흔들기", "hand.draw.fill", tintColor(Tint::purple),
                "파일을 끌다가 흔들면 셸프가 열려요"};
    case SettingsPane::watch:
        return {"watch", "폴더 감시", "eye.fill", tintColor(Tint::orange),
                "새 파일이 생기면 셸프에 바로 담아요"};
    case SettingsPane::share:
        return {"share", "보내기", "qrcode", tintColor(Tint::blue), "QR 하나로 휴대폰·PC에 보내요"};
    case SettingsPane::about:
        return {"about", "Vyo 정보", "info.circle.fill", tintColor(Tint::indigo),
                "버전, 업데이트, 라이선스"};
    }
    Q_UNREACHABLE();
}

PaneHeader::PaneHeader(SettingsPane pane, QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("paneHeader"));
    const SettingsPaneInfo info = settingsPaneInfo(pane);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(28, 18, 28, 4);
    layout->setSpacing(14);
    layout->addWidget(new IconBadge(info.symbol, info.color, 44, this), 0, Qt::AlignVCenter);
    auto *texts = new QVBoxLayout;
    texts->setSpacing(2);
    auto *title = new QLabel(info.title, this);
    title->setObjectName(QStringLiteral("paneTitle"));
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.55);
    titleFont.setBold(true);
    title->setFont(titleFont);
    auto *subtitle = new QLabel(info.subtitle, this);
    subtitle->setObjectName(QStringLiteral("paneSubtitle"));
    setSecondary(subtitle);
    texts->addWidget(title);
    texts->addWidget(subtitle);
    layout->addLayout(texts, 1);
}

SettingsWindow::SettingsWindow(QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_sidebar(new QListWidget(this))
    , m_stack(new QStackedWidget(this))
{
    setObjectName(QStringLiteral("settingsWindow"));
    setWindowTitle(QStringLiteral("Vyo 설정"));
    setFixedSize(720, 560);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto *sidebar = new QWidget(this);
    sidebar->setObjectName(QStringLiteral("sidebarColumn"));
    sidebar->setFixedWidth(190);
    sidebar->setAutoFillBackground(true);
    auto *sidebarLayout = new QVBoxLayout(sidebar);
    sidebarLayout->setContentsMargins(8, 12, 8, 0);
    sidebarLayout->setSpacing(0);
    m_sidebar->setParent(sidebar);
    m_sidebar->setObjectName(QStringLiteral("sidebar"));
    m_sidebar->setFrameShape(QFrame::NoFrame);
    m_sidebar->setFocusPolicy(Qt::StrongFocus);
    m_sidebar->setStyleSheet(
        QStringLiteral("QListWidget { background: transparent; }"
                       "QListWidget::item { border-radius: 6px; }"
                       "QListWidget::item:selected { background: palette(highlight); }"));
    for (const SettingsPane pane : allSettingsPanes()) {
        const SettingsPaneInfo info = settingsPaneInfo(pane);
        auto *item = new QListWidgetItem(m_sidebar);
        item->setData(Qt::UserRole, info.rawValue);
        item->setData(Qt::AccessibleTextRole, info.title);
        auto *row = new QWidget(m_sidebar);
        row->setObjectName(QStringLiteral("sidebarRow_") + info.rawValue);
        auto *rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(6, 4, 6, 4);
        rowLayout->setSpacing(8);
        auto *badge = new IconBadge(info.symbol, info.color, 22, row);
        rowLayout->addWidget(badge);
        auto *title = new QLabel(info.title, row);
        title->setObjectName(QStringLiteral("title"));
        rowLayout->addWidget(title, 1);
        item->setSizeHint(QSize(170, 34));
        m_sidebar->setItemWidget(item, row);
        m_badges.insert(pane, badge);
    }
    sidebarLayout->addWidget(m_sidebar, 1);
    auto *version = new QLabel(QStringLiteral("Vyo ") + AppInfo::shortVersion(), sidebar);
    version->setObjectName(QStringLiteral("versionLabel"));
    QFont caption = version->font();
    caption.setPointSizeF(caption.pointSizeF() * 0.85);
    version->setFont(caption);
    QPalette tertiary = version->palette();
    QColor faint = tertiary.color(QPalette::WindowText);
    faint.setAlphaF(0.45);
    tertiary.setColor(QPalette::WindowText, faint);
    version->setPalette(tertiary);
    version->setContentsMargins(4, 0, 4, 18);
    sidebarLayout->addWidget(version);
    QPalette sidebarPalette = sidebar->palette();
    sidebarPalette.setColor(QPalette::Window, palette().color(QPalette::Window).darker(104));
    sidebar->setPalette(sidebarPalette);
    layout->addWidget(sidebar);

    m_stack->setObjectName(QStringLiteral("paneStack"));
    layout->addWidget(m_stack, 1);

    connect(m_sidebar, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0 && row < allSettingsPanes().size())
            select(allSettingsPanes().at(row));
    });
    select(SettingsPane::general);
}

void SettingsWindow::select(SettingsPane pane)
{
    m_selection = pane;
    QWidget *view = m_views.value(pane);
    if (!view) {
        // Each pane is made when it is first selected, under its header.
        view = new QWidget(m_stack);
        view->setObjectName(QStringLiteral("pane_") + settingsPaneInfo(pane).rawValue);
        auto *layout = new QVBoxLayout(view);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        layout->addWidget(new PaneHeader(pane, view));
        QWidget *content = makePaneView(pane);
        content->setParent(view);
        layout->addWidget(content, 1);
        m_stack->addWidget(view);
        m_views.insert(pane, view);
    }
    m_stack->setCurrentWidget(view);
    const int row = int(allSettingsPanes().indexOf(pane));
    if (m_sidebar->currentRow() != row)
        m_sidebar->setCurrentRow(row);
    // The selected row is drawn on the highlight: its badge and title turn white.
    for (auto it = m_badges.cbegin(); it != m_badges.cend(); ++it) {
        const bool selected = it.key() == pane;
        it.value()->setProminent(selected);
        auto *title = it.value()->parentWidget()->findChild<QLabel *>(QStringLiteral("title"));
        QPalette colours = m_sidebar->palette();
        colours.setColor(QPalette::WindowText,
                         colours.color(selected ? QPalette::HighlightedText : QPalette::Text));
        title->setPalette(colours);
    }
}

void SettingsWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_placed)
        return;
    // The first time: where the user left it last (also in an earlier run) if that is still on
    // a screen, otherwise centred on the primary screen.
    m_placed = true;
    const QPoint stored = Defaults::shared().value(QLatin1String(positionKey)).toPoint();
    const bool storedOnScreen = Defaults::shared().contains(QLatin1String(positionKey)) &&
                                QGuiApplication::screenAt(stored + QPoint(40, 20)) != nullptr;
    if (storedOnScreen) {
        move(stored);
    } else if (QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        move(available.center() - QPoint(width() / 2, height() / 2));
    }
}

void SettingsWindow::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    if (m_placed && isVisible())
        savePosition();
}

void SettingsWindow::hideEvent(QHideEvent *event)
{
    savePosition();
    QWidget::hideEvent(event);
}

void SettingsWindow::savePosition()
{
    Defaults::shared().setValue(QLatin1String(positionKey), pos());
}

} // namespace vyo
