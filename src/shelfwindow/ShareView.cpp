#include "shelfwindow/ShareView.h"

#include "core/Defaults.h"
#include "share/ShareCenter.h"
#include "share/ShareSession.h"
#include "shelf/Shelf.h"
#include "shelfwindow/Icons.h"
#include "shelfwindow/QRCodeView.h"

#include <QClipboard>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace vyo {

namespace {

constexpr QSize qrSize{148, 148};

// Text sizes relative to the body font, and the shades of secondary and tertiary text.
constexpr double calloutScale = 0.95;
constexpr double captionScale = 0.85;
constexpr double smallestCaptionScale = 0.77;
constexpr float secondaryAlpha = 0.6f;
constexpr float tertiaryAlpha = 0.45f;

void scaleFont(QWidget *widget, double scale, QFont::Weight weight = QFont::Normal)
{
    QFont font = widget->font();
    font.setPointSizeF(font.pointSizeF() * scale);
    font.setWeight(weight);
    widget->setFont(font);
}

void shade(QWidget *widget, float alpha)
{
    QPalette palette = widget->palette();
    for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text}) {
        QColor color = palette.color(role);
        color.setAlphaF(alpha);
        palette.setColor(role, color);
    }
    widget->setPalette(palette);
}

QLabel *label(const QString &objectName, const QString &text, QWidget *parent)
{
    auto *result = new QLabel(text, parent);
    result->setObjectName(objectName);
    result->setAlignment(Qt::AlignCenter);
    return result;
}

QLabel *iconLabel(Icon icon, int size, QWidget *parent)
{
    auto *result = new QLabel(parent);
    result->setPixmap(themeIcon(icon).pixmap(size, size));
    result->setFixedSize(size, size);
    return result;
}

QPushButton *button(const QString &objectName, const QString &text, QWidget *parent)
{
    auto *result = new QPushButton(text, parent);
    result->setObjectName(objectName);
    result->setAutoDefault(false);
    return result;
}

} // namespace

ShareView::ShareView(Shelf *shelf, ShareCenter &center, QWidget *parent)
    : QWidget(parent)
    , m_shelf(shelf)
    , m_center(&center)
{
    setObjectName(QStringLiteral("shareView"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_pages = new QStackedWidget(this);
    m_pages->setObjectName(QStringLiteral("sharePages"));
    m_preparingPage = makePreparingPage();
    m_sharedPage = makeSharedPage();
    m_errorPage = makeErrorPage();
    m_pages->addWidget(m_preparingPage);
    m_pages->addWidget(m_sharedPage);
    m_pages->addWidget(m_errorPage);
    layout->addWidget(m_pages);

    m_copyTimer = new QTimer(this);
    m_copyTimer->setObjectName(QStringLiteral("copyTimer"));
    m_copyTimer->setSingleShot(true);
    m_copyTimer->setInterval(copiedDuration);
    connect(m_copyTimer, &QTimer::timeout, this, [this] {
        m_didCopy = false;
        updateCopyButton();
    });

    connect(&center, &ShareCenter::sessionsChanged, this, &ShareView::refresh);
    connect(&center, &ShareCenter::lastErrorChanged, this, &ShareView::refresh);
    connect(&Defaults::shared(), &Defaults::changed, this, [this](const QString &key) {
        if (key == QLatin1String(DefaultsKey::shareExpiryMinutes))
            updateNote();
    });
    if (shelf)
        connect(shelf, &Shelf::itemsChanged, this, &ShareView::updateItemsButton);

    updateNote();
    updateItemsButton();
    refresh();
}

QWidget *ShareView::makePreparingPage()
{
    auto *page = new QWidget(this);
    page->setObjectName(QStringLiteral("preparingPage"));
    auto *layout = new QVBoxLayout(page);
    layout->setSpacing(8);
    layout->addStretch();
    auto *busy = new QProgressBar(page);
    busy->setObjectName(QStringLiteral("preparingIndicator"));
    busy->setRange(0, 0);
    busy->setTextVisible(false);
    busy->setFixedSize(60, 6);
    layout->addWidget(busy, 0, Qt::AlignHCenter);
    QLabel *text = label(QStringLiteral("preparingLabel"), QStringLiteral("공유 준비 중…"), page);
    shade(text, secondaryAlpha);
    layout->addWidget(text);
    layout->addStretch();
    return page;
}

QWidget *ShareView::makeSharedPage()
{
    auto *page = new QWidget(this);
    page->setObjectName(QStringLiteral("sharedPage"));
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(14, 2, 14, 12);
    layout->setSpacing(6);

    m_qrCode = new QRCodeView(page);
    m_qrCode->setFixedSize(qrSize);
    layout->addWidget(m_qrCode, 0, Qt::AlignHCenter);

    QLabel *camera =
        label(QStringLiteral("cameraLabel"), QStringLiteral("휴대폰 카메라로 찍으세요"), page);
    scaleFont(camera, calloutScale, QFont::DemiBold);
    layout->addWidget(camera);

    m_note = label(QStringLiteral("noteLabel"), QString(), page);
    m_note->setWordWrap(true);
    scaleFont(m_note, captionScale);
    shade(m_note, tertiaryAlpha);
    layout->addWidget(m_note);

    auto *addressRow = new QHBoxLayout;
    addressRow->setSpacing(6);
    m_address = new QLineEdit(page);
    m_address->setObjectName(QStringLiteral("addressField"));
    m_address->setReadOnly(true);
    m_address->setFrame(false);
    m_address->setAcceptDrops(false);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSizeF(font().pointSizeF() * captionScale);
    m_address->setFont(mono);
    shade(m_address, secondaryAlpha);
    // Read-only text on the panel's glass, not in a field of its own.
    QPalette addressPalette = m_address->palette();
    addressPalette.setColor(QPalette::Base, Qt::transparent);
    m_address->setPalette(addressPalette);
    addressRow->addWidget(m_address, 1);
    m_copyButton = button(QStringLiteral("copyButton"), QStringLiteral("복사"), page);
    connect(m_copyButton, &QPushButton::clicked, this, &ShareView::copyAddress);
    addressRow->addWidget(m_copyButton);
    layout->addLayout(addressRow);

    m_connecting = new QWidget(page);
    m_connecting->setObjectName(QStringLiteral("connectingLine"));
    auto *connectingLayout = new QHBoxLayout(m_connecting);
    connectingLayout->setContentsMargins(0, 0, 0, 0);
    connectingLayout->setSpacing(5);
    connectingLayout->addStretch();
    connectingLayout->addWidget(iconLabel(Icon::reconnecting, 14, m_connecting));
    QLabel *connectingText = label(QStringLiteral("connectingLabel"),
                                   QStringLiteral("서버에 연결하는 중…"), m_connecting);
    scaleFont(connectingText, captionScale);
    connectingLayout->addWidget(connectingText);
    connectingLayout->addStretch();
    layout->addWidget(m_connecting);

    m_noDevice = label(QStringLiteral("noDeviceLabel"),
                       QStringLiteral("갤럭시·윈도우 PC도, 다른 네트워크에 있어도 브라우저로 "
                                      "열려요."),
                       page);
    m_noDevice->setWordWrap(true);
    scaleFont(m_noDevice, captionScale);
    shade(m_noDevice, secondaryAlpha);
    layout->addWidget(m_noDevice);

    m_devices = new QWidget(page);
    m_devices->setObjectName(QStringLiteral("deviceList"));
    m_devicesLayout = new QVBoxLayout(m_devices);
    m_devicesLayout->setContentsMargins(0, 0, 0, 0);
    m_devicesLayout->setSpacing(2);
    layout->addWidget(m_devices);

    m_activity = label(QStringLiteral("activityLabel"), QString(), page);
    scaleFont(m_activity, smallestCaptionScale);
    shade(m_activity, secondaryAlpha);
    layout->addWidget(m_activity);

    layout->addStretch();
    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    m_itemsButton = button(QStringLiteral("showItemsButton"), QString(), page);
    connect(m_itemsButton, &QPushButton::clicked, this, [this] { Q_EMIT showItemsRequested(); });
    buttons->addWidget(m_itemsButton);
    QPushButton *stop = button(QStringLiteral("stopButton"), QStringLiteral("공유 중지"), page);
    // Destructive: the stop reads in red.
    QPalette stopPalette = stop->palette();
    stopPalette.setColor(QPalette::ButtonText, QColor(0xd7, 0x1f, 0x1f));
    stop->setPalette(stopPalette);
    connect(stop, &QPushButton::clicked, this, [this] { Q_EMIT stopRequested(); });
    buttons->addWidget(stop);
    layout->addLayout(buttons);
    return page;
}

QWidget *ShareView::makeErrorPage()
{
    auto *page = new QWidget(this);
    page->setObjectName(QStringLiteral("errorPage"));
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(16, 8, 16, 16);
    layout->setSpacing(10);
    layout->addStretch();
    layout->addWidget(iconLabel(Icon::shareFailed, 30, page), 0, Qt::AlignHCenter);
    m_errorText = label(QStringLiteral("errorLabel"), QString(), page);
    m_errorText->setWordWrap(true);
    scaleFont(m_errorText, calloutScale);
    shade(m_errorText, secondaryAlpha);
    layout->addWidget(m_errorText);
    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    buttons->addStretch();
    QPushButton *back = button(QStringLiteral("backButton"), QStringLiteral("돌아가기"), page);
    connect(back, &QPushButton::clicked, this, &ShareView::goBack);
    buttons->addWidget(back);
    QPushButton *retry = button(QStringLiteral("retryButton"), QStringLiteral("다시 시도"), page);
    retry->setDefault(true);
    connect(retry, &QPushButton::clicked, this, &ShareView::retry);
    buttons->addWidget(retry);
    buttons->addStretch();
    layout->addLayout(buttons);
    layout->addStretch();
    return page;
}

QString ShareView::routeText(PeerSession::Route route)
{
    switch (route) {
    case PeerSession::Route::relay:
        return QStringLiteral("중계로 연결됨");
    case PeerSession::Route::direct:
        return QStringLiteral("직접 연결됨");
    case PeerSession::Route::connecting:
        return QStringLiteral("연결 중…");
    case PeerSession::Route::closed:
        return QStringLiteral("연결 끊김");
    }
    Q_UNREACHABLE();
}

QString ShareView::noteText(int expiryMinutes)
{
    return QStringLiteral("주소를 아는 사람만 열 수 있고, 파일은 서버를 거쳐 저장되지 않아요. ") +
           QString::number(std::max(expiryMinutes, ShareCenter::minimumExpiryMinutes)) +
           QStringLiteral("분 동안 쓰지 않으면 닫혀요.");
}

void ShareView::refresh()
{
    if (!m_center || !m_shelf)
        return;
    ShareSession *session = m_center->session(m_shelf->id());
    follow(session);
    if (session) {
        m_mode = Mode::shared;
        m_pages->setCurrentWidget(m_sharedPage);
    } else if (const std::optional<QString> &error = m_center->lastError()) {
        m_mode = Mode::error;
        m_errorText->setText(*error);
        m_pages->setCurrentWidget(m_errorPage);
    } else {
        m_mode = Mode::preparing;
        m_pages->setCurrentWidget(m_preparingPage);
    }
}

void ShareView::follow(ShareSession *session)
{
    if (session == m_session)
        return;
    if (m_session)
        disconnect(m_session, nullptr, this, nullptr);
    m_session = session;
    if (session) {
        connect(session, &ShareSession::isOnlineChanged, this, &ShareView::updateConnection);
        connect(session, &ShareSession::devicesChanged, this, &ShareView::updateConnection);
        connect(session, &ShareSession::activitiesChanged, this, &ShareView::updateConnection);
    }
    updateAddress();
    updateConnection();
}

void ShareView::updateAddress()
{
    const QString address = m_session ? m_session->url().toString(QUrl::FullyEncoded) : QString();
    m_qrCode->setText(address);
    m_address->setText(address);
    m_address->setCursorPosition(0);
}

void ShareView::updateConnection()
{
    const bool online = m_session && m_session->isOnline();
    const QList<ShareSession::Device> devices =
        m_session ? m_session->devices() : QList<ShareSession::Device>();
    m_connecting->setVisible(!online);
    m_noDevice->setVisible(online && devices.isEmpty());
    m_devices->setVisible(online && !devices.isEmpty());

    while (QLayoutItem *entry = m_devicesLayout->takeAt(0)) {
        delete entry->widget();
        delete entry;
    }
    if (online) {
        for (const ShareSession::Device &device : devices) {
            auto *row = new QWidget(m_devices);
            row->setObjectName(QStringLiteral("deviceRow"));
            auto *rowLayout = new QHBoxLayout(row);
            rowLayout->setContentsMargins(0, 0, 0, 0);
            rowLayout->setSpacing(5);
            rowLayout->addWidget(iconLabel(Icon::device, 14, row));
            QLabel *name = label(QStringLiteral("deviceName"), device.name, row);
            name->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            scaleFont(name, captionScale, QFont::Medium);
            rowLayout->addWidget(name, 1);
            QLabel *route = label(QStringLiteral("deviceRoute"), routeText(device.route), row);
            route->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            scaleFont(route, captionScale);
            shade(route, secondaryAlpha);
            rowLayout->addWidget(route);
            m_devicesLayout->addWidget(row);
            // At once, not at the layout's next turn.
            row->show();
        }
    }

    // Only the newest line, on one line.
    const QList<ShareSession::Activity> activities =
        m_session ? m_session->activities() : QList<ShareSession::Activity>();
    const bool showActivity = online && !devices.isEmpty() && !activities.isEmpty();
    m_activity->setVisible(showActivity);
    m_activity->setText(showActivity ? activities.first().text : QString());
    m_activity->setToolTip(m_activity->text());
}

void ShareView::updateNote()
{
    m_note->setText(noteText(Defaults::shared().shareExpiryMinutes()));
}

void ShareView::updateItemsButton()
{
    const qsizetype count = m_shelf ? m_shelf->items().size() : 0;
    m_itemsButton->setText(QStringLiteral("항목 ") + QString::number(count) +
                           QStringLiteral("개 보기"));
}

void ShareView::updateCopyButton()
{
    m_copyButton->setText(m_didCopy ? QStringLiteral("복사됨") : QStringLiteral("복사"));
}

void ShareView::copyAddress()
{
    if (!m_session)
        return;
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(m_session->url().toString(QUrl::FullyEncoded));
    m_didCopy = true;
    updateCopyButton();
    // The confirmation ends 1.5 seconds after the first press, however often it is pressed.
    if (!m_copyTimer->isActive())
        m_copyTimer->start();
}

void ShareView::retry()
{
    if (m_center && m_shelf)
        m_center->startSharing(m_shelf);
}

void ShareView::goBack()
{
    if (m_center)
        m_center->clearError();
    Q_EMIT showItemsRequested();
}

void ShareView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (event->spontaneous())
        return;
    QTimer::singleShot(0, this, [this] {
        if (m_center && m_shelf)
            m_center->startSharing(m_shelf);
    });
}

void ShareView::keyPressEvent(QKeyEvent *event)
{
    // Return presses the error view's default button, "다시 시도".
    if (m_mode == Mode::error &&
        (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        retry();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace vyo
