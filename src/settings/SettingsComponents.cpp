#include "settings/SettingsComponents.h"

#include "core/Defaults.h"
#include "platform/IconTheme.h"

#include <QHBoxLayout>
#include <QHash>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace vyo {

namespace {

// Every symbol the settings use, with the icon-theme names that show it best, tried in order.
const QHash<QString, QStringList> &symbolTable()
{
    static const QHash<QString, QStringList> table = {
        // Sidebar and pane headers.
        {"gearshape.fill", {"emblem-system-symbolic", "preferences-system-symbolic"}},
        {"hand.draw.fill", {"input-mouse-symbolic", "pointer-symbolic"}},
        {"hand.draw", {"input-mouse-symbolic", "pointer-symbolic"}},
        {"eye.fill", {"view-reveal-symbolic", "eye-symbolic"}},
        {"qrcode", {"qr-code-symbolic", "send-to-symbolic", "document-send-symbolic"}},
        {"info.circle.fill", {"help-about-symbolic", "dialog-information-symbolic"}},
        // General pane.
        {"power", {"system-shutdown-symbolic", "system-log-out-symbolic"}},
        {"arrow.counterclockwise", {"view-refresh-symbolic", "edit-undo-symbolic"}},
        {"tray.and.arrow.up", {"document-send-symbolic", "go-up-symbolic"}},
        {"macbook", {"video-display-symbolic", "computer-symbolic"}},
        {"plus.rectangle.on.rectangle", {"window-new-symbolic", "list-add-symbolic"}},
        {"arrow.uturn.backward", {"edit-undo-symbolic", "go-previous-symbolic"}},
        // About pane.
        {"arrow.down.circle.fill",
         {"software-update-available-symbolic", "folder-download-symbolic"}},
        {"arrow.down.circle", {"software-update-available-symbolic", "folder-download-symbolic"}},
        {"safari.fill", {"web-browser-symbolic", "applications-internet-symbolic"}},
        {"doc.text.fill", {"text-x-generic-symbolic", "x-office-document-symbolic"}},
        {"arrow.up.right", {"external-link-symbolic", "go-jump-symbolic", "go-next-symbolic"}},
        {"chevron.right", {"go-next-symbolic", "pan-end-symbolic"}},
        // Welcome window.
        {"keyboard", {"input-keyboard-symbolic", "preferences-desktop-keyboard-symbolic"}},
        {"menubar.arrow.up.rectangle", {"user-available-symbolic", "go-top-symbolic"}},
        // Shake, watch and share panes.
        {"waveform.path", {"media-playlist-shuffle-symbolic", "input-mouse-symbolic"}},
        {"plus", {"list-add-symbolic"}},
        {"questionmark.app.dashed", {"application-x-executable-symbolic", "dialog-question"}},
        {"minus.circle.fill", {"list-remove-symbolic", "edit-delete-symbolic"}},
        {"camera.viewfinder", {"camera-photo-symbolic", "applets-screenshooter-symbolic"}},
        {"folder.badge.plus", {"folder-new-symbolic", "folder-symbolic"}},
        {"folder", {"folder-symbolic"}},
        {"arrow.triangle.2.circlepath", {"view-refresh-symbolic", "emblem-synchronizing"}},
        {"iphone.gen3", {"phone-symbolic", "smartphone-symbolic"}},
        {"wifi.exclamationmark",
         {"network-wireless-no-route-symbolic", "network-wireless-offline-symbolic"}},
        {"wifi.slash", {"network-wireless-offline-symbolic", "network-offline-symbolic"}},
        {"dot.radiowaves.left.and.right",
         {"network-wireless-symbolic", "network-transmit-receive-symbolic"}},
        {"timer", {"alarm-symbolic", "preferences-system-time-symbolic"}},
        {"lock.fill", {"changes-prevent-symbolic", "security-high-symbolic"}},
        {"exclamationmark.triangle.fill", {"dialog-warning-symbolic"}},
        {"checkmark.circle.fill", {"emblem-ok-symbolic", "object-select-symbolic"}},
        {"character.textbox.ko", {"accessories-character-map-symbolic", "text-x-generic"}},
    };
    return table;
}

// A circle around the symbol's first letter, for symbols no theme knows.
QIcon drawnSymbol(const QString &symbol)
{
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 5));
    painter.drawEllipse(QRectF(5, 5, 54, 54));
    QFont font = painter.font();
    font.setPixelSize(30);
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(QRectF(0, 0, 64, 64), Qt::AlignCenter,
                     symbol.isEmpty() ? QStringLiteral("?") : symbol.left(1).toUpper());
    return QIcon(pixmap);
}

// The symbol in one colour (theme symbols are single-colour shapes, so their alpha is kept).
QPixmap tinted(const QString &symbol, int size, const QColor &color, qreal ratio)
{
    QPixmap pixmap = symbolIcon(symbol).pixmap(QSize(size, size), ratio);
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pixmap.rect(), color);
    return pixmap;
}

QColor secondaryTextColor(const QWidget *widget)
{
    QColor color = widget->palette().color(QPalette::WindowText);
    color.setAlphaF(0.6);
    return color;
}

} // namespace

void setSecondary(QLabel *label, qreal pointScale)
{
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * pointScale);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, secondaryTextColor(label));
    label->setPalette(palette);
}

QColor tintColor(Tint tint)
{
    switch (tint) {
    case Tint::gray:
        return QColor(0x8e, 0x8e, 0x93);
    case Tint::red:
        return QColor(0xff, 0x3b, 0x30);
    case Tint::orange:
        return QColor(0xff, 0x95, 0x00);
    case Tint::yellow:
        return QColor(0xff, 0xcc, 0x00);
    case Tint::green:
        return QColor(0x34, 0xc7, 0x59);
    case Tint::teal:
        return QColor(0x30, 0xb0, 0xc7);
    case Tint::blue:
        return QColor(0x00, 0x7a, 0xff);
    case Tint::indigo:
        return QColor(0x58, 0x56, 0xd6);
    case Tint::purple:
        return QColor(0xaf, 0x52, 0xde);
    }
    Q_UNREACHABLE();
}

QStringList symbolThemeNames(const QString &symbol)
{
    return symbolTable().value(symbol);
}

QIcon symbolIcon(const QString &symbol)
{
    ensureIconTheme();
    static QHash<QString, QIcon> cache;
    if (const auto it = cache.constFind(symbol); it != cache.constEnd())
        return *it;
    QIcon icon;
    for (const QString &name : symbolThemeNames(symbol)) {
        icon = QIcon::fromTheme(name);
        if (!icon.isNull())
            break;
    }
    if (icon.isNull())
        icon = drawnSymbol(symbol);
    cache.insert(symbol, icon);
    return icon;
}

// IconBadge

IconBadge::IconBadge(const QString &symbol, const QColor &color, int size, QWidget *parent)
    : QWidget(parent)
    , m_symbol(symbol)
    , m_color(color)
    , m_size(size)
{
    setObjectName(QStringLiteral("badge"));
    setFixedSize(size, size);
}

void IconBadge::setSymbol(const QString &symbol)
{
    m_symbol = symbol;
    update();
}

void IconBadge::setColor(const QColor &color)
{
    m_color = color;
    update();
}

void IconBadge::setProminent(bool prominent)
{
    m_prominent = prominent;
    update();
}

void IconBadge::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = m_prominent ? QColor(Qt::white) : m_color;
    fill.setAlphaF(m_prominent ? 0.2 : 0.14);
    const qreal radius = 0.27 * m_size;
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(rect()), radius, radius);

    QColor ink = m_prominent ? QColor(Qt::white) : m_color;
    if (!m_prominent)
        ink.setAlphaF(0.85);
    const int symbolSize = qMax(8, m_size / 2);
    const QPixmap symbol = tinted(m_symbol, symbolSize, ink, devicePixelRatioF());
    painter.drawPixmap(
        QRect((m_size - symbolSize) / 2, (m_size - symbolSize) / 2, symbolSize, symbolSize),
        symbol);
}

// SettingLabel

SettingLabel::SettingLabel(const QString &title, const QString &detail, const QString &symbol,
                           const QColor &color, QWidget *parent)
    : QWidget(parent)
    , m_title(new QLabel(title, this))
    , m_detail(new QLabel(this))
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    layout->addWidget(new IconBadge(symbol, color, 24, this), 0, Qt::AlignVCenter);
    auto *texts = new QVBoxLayout;
    texts->setSpacing(2);
    m_title->setObjectName(QStringLiteral("title"));
    m_detail->setObjectName(QStringLiteral("detail"));
    m_detail->setWordWrap(true);
    setSecondary(m_detail, 0.85);
    texts->addWidget(m_title);
    texts->addWidget(m_detail);
    layout->addLayout(texts, 1);
    setDetail(detail);
}

QString SettingLabel::title() const
{
    return m_title->text();
}

QString SettingLabel::detail() const
{
    return m_detail->text();
}

void SettingLabel::setDetail(const QString &detail)
{
    m_detail->setText(detail);
    m_detail->setVisible(!detail.isEmpty());
}

// StatusCard

StatusCard::StatusCard(Tone tone, const QString &symbol, const QString &title,
                       const QString &detail, QWidget *parent)
    : QFrame(parent)
    , m_tone(tone)
    , m_symbolLabel(new QLabel(this))
    , m_title(new QLabel(this))
    , m_detail(new QLabel(this))
{
    setObjectName(QStringLiteral("statusCard"));
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 6, 4, 6);
    layout->setSpacing(12);
    m_symbolLabel->setObjectName(QStringLiteral("symbol"));
    m_symbolLabel->setFixedWidth(28);
    m_symbolLabel->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_symbolLabel, 0, Qt::AlignVCenter);
    auto *texts = new QVBoxLayout;
    texts->setSpacing(2);
    m_title->setObjectName(QStringLiteral("title"));
    QFont bold = m_title->font();
    bold.setBold(true);
    m_title->setFont(bold);
    m_detail->setObjectName(QStringLiteral("detail"));
    m_detail->setWordWrap(true);
    setSecondary(m_detail, 0.9);
    texts->addWidget(m_title);
    texts->addWidget(m_detail);
    layout->addLayout(texts, 1);
    set(tone, symbol, title, detail);
}

QString StatusCard::title() const
{
    return m_title->text();
}

QString StatusCard::detail() const
{
    return m_detail->text();
}

void StatusCard::set(Tone tone, const QString &symbol, const QString &title, const QString &detail)
{
    m_tone = tone;
    m_symbol = symbol;
    m_symbolLabel->setPixmap(tinted(symbol, 24, toneColor(tone), devicePixelRatioF()));
    m_title->setText(title);
    m_detail->setText(detail);
    m_detail->setVisible(!detail.isEmpty());
}

QColor StatusCard::toneColor(Tone tone)
{
    switch (tone) {
    case Tone::good:
        return tintColor(Tint::green);
    case Tone::caution:
        return tintColor(Tint::orange);
    case Tone::bad:
        return tintColor(Tint::red);
    case Tone::neutral:
        return tintColor(Tint::gray);
    }
    Q_UNREACHABLE();
}

// LinkRow

LinkRow::LinkRow(QWidget *label, const QString &trailingSymbol, QWidget *parent)
    : QAbstractButton(parent)
{
    setObjectName(QStringLiteral("linkRow"));
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    label->setParent(this);
    // Clicks on the label are clicks on the row.
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    layout->addWidget(label, 1);
    auto *trailing = new QLabel(this);
    trailing->setObjectName(QStringLiteral("trailingSymbol"));
    trailing->setPixmap(tinted(trailingSymbol, 12, secondaryTextColor(this), devicePixelRatioF()));
    layout->addWidget(trailing, 0, Qt::AlignVCenter);
}

QSize LinkRow::sizeHint() const
{
    return layout()->sizeHint();
}

void LinkRow::paintEvent(QPaintEvent *)
{
    if (!isDown() && !hasFocus())
        return;
    QPainter painter(this);
    QColor shade = palette().color(QPalette::Highlight);
    shade.setAlphaF(isDown() ? 0.18 : 0.08);
    painter.fillRect(rect(), shade);
}

// SwitchControl

SwitchControl::SwitchControl(QWidget *parent)
    : QAbstractButton(parent)
{
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize SwitchControl::sizeHint() const
{
    return {38, 22};
}

void SwitchControl::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track = QRectF(rect()).adjusted(1, 1, -1, -1);
    QColor trackColor =
        isChecked() ? palette().color(QPalette::Highlight) : palette().color(QPalette::Mid);
    if (!isEnabled())
        trackColor.setAlphaF(0.4);
    painter.setPen(Qt::NoPen);
    painter.setBrush(trackColor);
    painter.drawRoundedRect(track, track.height() / 2, track.height() / 2);
    const qreal knob = track.height() - 4;
    const qreal x = isChecked() ? track.right() - 2 - knob : track.left() + 2;
    painter.setBrush(isEnabled() ? QColor(Qt::white) : QColor(240, 240, 240));
    painter.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
    if (hasFocus()) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(palette().color(QPalette::Highlight).lighter(130), 1.5));
        painter.drawRoundedRect(track, track.height() / 2, track.height() / 2);
    }
}

void bindToDefaults(SwitchControl *control, Defaults &defaults, const QString &key)
{
    control->setChecked(defaults.boolValue(key));
    QObject::connect(control, &QAbstractButton::toggled, &defaults,
                     [&defaults, key](bool on) { defaults.setValue(key, on); });
    QObject::connect(&defaults, &Defaults::changed, control,
                     [control, &defaults, key](const QString &changed) {
                         if (changed == key)
                             control->setChecked(defaults.boolValue(key));
                     });
}

// SettingsRow

SettingsRow::SettingsRow(QWidget *label, QWidget *control, QWidget *parent)
    : QWidget(parent)
    , m_label(label)
    , m_control(control)
    , m_layout(new QVBoxLayout(this))
{
    m_layout->setContentsMargins(12, 8, 12, 8);
    m_layout->setSpacing(4);
    auto *line = new QHBoxLayout;
    line->setSpacing(12);
    label->setParent(this);
    line->addWidget(label, 1);
    if (control) {
        control->setParent(this);
        line->addWidget(control, 0, Qt::AlignVCenter | Qt::AlignRight);
    }
    m_layout->addLayout(line);
}

void SettingsRow::addBelow(QWidget *widget)
{
    widget->setParent(this);
    m_layout->addWidget(widget);
}

// SettingsSection

SettingsSection::SettingsSection(const QString &header, QWidget *parent)
    : QWidget(parent)
    , m_box(new QFrame(this))
    , m_rows(new QVBoxLayout(m_box))
    , m_footer(new QLabel(this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    if (!header.isEmpty()) {
        auto *title = new QLabel(header, this);
        title->setObjectName(QStringLiteral("sectionHeader"));
        QFont bold = title->font();
        bold.setBold(true);
        title->setFont(bold);
        title->setContentsMargins(4, 0, 0, 0);
        layout->addWidget(title);
    }
    m_box->setObjectName(QStringLiteral("sectionBox"));
    m_box->setStyleSheet(
        QStringLiteral("#sectionBox { background: palette(base); border: 1px solid "
                       "palette(midlight); border-radius: 8px; }"));
    m_rows->setContentsMargins(0, 2, 0, 2);
    m_rows->setSpacing(0);
    layout->addWidget(m_box);
    m_footer->setObjectName(QStringLiteral("sectionFooter"));
    m_footer->setWordWrap(true);
    m_footer->setContentsMargins(4, 0, 0, 0);
    setSecondary(m_footer, 0.85);
    m_footer->hide();
    layout->addWidget(m_footer);
}

void SettingsSection::addSeparatorIfNeeded()
{
    if (m_rows->count() == 0)
        return;
    auto *separator = new QFrame(m_box);
    separator->setFrameShape(QFrame::HLine);
    separator->setFixedHeight(1);
    separator->setStyleSheet(QStringLiteral("background: palette(midlight); border: none;"));
    m_rows->addWidget(separator);
}

SettingsRow *SettingsSection::addRow(QWidget *label, QWidget *control)
{
    addSeparatorIfNeeded();
    auto *row = new SettingsRow(label, control, m_box);
    m_rows->addWidget(row);
    return row;
}

void SettingsSection::addWidget(QWidget *widget)
{
    addSeparatorIfNeeded();
    auto *holder = new QWidget(m_box);
    auto *layout = new QVBoxLayout(holder);
    layout->setContentsMargins(12, 8, 12, 8);
    widget->setParent(holder);
    layout->addWidget(widget);
    m_rows->addWidget(holder);
}

void SettingsSection::setFooter(const QString &footer)
{
    m_footer->setText(footer);
    m_footer->setVisible(!footer.isEmpty());
}

// SettingsForm

SettingsForm::SettingsForm(QWidget *parent)
    : QScrollArea(parent)
{
    setObjectName(QStringLiteral("settingsForm"));
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto *content = new QWidget(this);
    m_sections = new QVBoxLayout(content);
    m_sections->setContentsMargins(28, 8, 28, 20);
    m_sections->setSpacing(18);
    m_sections->addStretch(1);
    setWidget(content);
}

SettingsSection *SettingsForm::addSection(const QString &header)
{
    auto *section = new SettingsSection(header, widget());
    m_sections->insertWidget(m_sections->count() - 1, section);
    return section;
}

void SettingsForm::addWidget(QWidget *widget)
{
    widget->setParent(this->widget());
    m_sections->insertWidget(m_sections->count() - 1, widget);
}

} // namespace vyo
