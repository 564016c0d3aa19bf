#include "settings/SharePane.h"

#include "settings/SettingsComponents.h"

#include "core/Defaults.h"
#include "share/ShareCenter.h"
#include "share/ShareHelpers.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QStringDecoder>
#include <QTimer>
#include <QVBoxLayout>

#include <utility>

namespace vyo {

namespace {

struct ExpiryChoice
{
    const char16_t *title;
    int minutes;
};
constexpr ExpiryChoice expiryChoices[] = {{u"15분", 15}, {u"30분", 30}, {u"1시간", 60}};

struct Explanation
{
    const char *symbol;
    Tint tint;
    const char16_t *title;
    const char16_t *detail;
};
constexpr Explanation explanations[] = {
    {"lock.fill", Tint::green, u"파일은 서버를 거쳐 저장되지 않아요",
     u"이 컴퓨터와 받는 기기가 직접 연결해 암호화된 채로 주고받아요."},
    {"iphone.gen3", Tint::teal, u"받는 쪽은 브라우저만 있으면 돼요",
     u"갤럭시, 윈도우 PC, 아이패드 모두 카메라로 QR만 찍으면 열려요."},
    {"character.textbox.ko", Tint::indigo, u"한글 파일 이름 그대로",
     u"모두 받기 ZIP은 윈도우에서도 이름이 깨지지 않아요."},
};

} // namespace

SharePane::SharePane(QWidget *parent)
    : SharePane(Defaults::shared(), ShareCenter::shared(), parent)
{}

SharePane::SharePane(Defaults &defaults, ShareCenter &center, QWidget *parent)
    : QWidget(parent)
    , m_defaults(defaults)
    , m_center(center)
    , m_card(new StatusCard(StatusCard::Tone::neutral, QString(), QString(), QString()))
    , m_shareCount(new QLabel)
    , m_expiry(new QComboBox)
    , m_serviceAddress(new QLineEdit)
    , m_serviceAddressError(new QLabel)
{
    setObjectName(QStringLiteral("sharePane"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto *cardHolder = new QWidget;
    auto *cardLayout = new QVBoxLayout(cardHolder);
    cardLayout->setContentsMargins(28, 14, 28, 0);
    m_card->setObjectName(QStringLiteral("connectionCard"));
    cardLayout->addWidget(m_card);
    layout->addWidget(cardHolder);
    cardHolder->hide();
    auto *form = new SettingsForm;
    layout->addWidget(form, 1);

    SettingsSection *first = form->addSection();
    m_shareCount->setObjectName(QStringLiteral("shareCount"));
    m_shareCount->setForegroundRole(QPalette::PlaceholderText);
    first->addRow(new SettingLabel(QStringLiteral("지금 공유 중인 셸프"), QString(),
                                   QStringLiteral("dot.radiowaves.left.and.right"),
                                   tintColor(Tint::blue)),
                  m_shareCount);
    m_expiry->setObjectName(QStringLiteral("expiryPicker"));
    for (const ExpiryChoice &choice : expiryChoices)
        m_expiry->addItem(QString::fromUtf16(choice.title), choice.minutes);
    const int stored = m_defaults.shareExpiryMinutes();
    const int index = m_expiry->findData(stored);
    // A value set by hand that is none of the choices stays stored until the user picks one.
    m_expiry->setCurrentIndex(index);
    first->addRow(new SettingLabel(QStringLiteral("자동으로 공유 끝내기"),
                                   QStringLiteral("연결된 기기가 없고 이 시간 동안 쓰지 않으면 "
                                                  "링크가 닫혀요."),
                                   QStringLiteral("timer"), tintColor(Tint::orange)),
                  m_expiry);

    SettingsSection *how = form->addSection(QStringLiteral("이렇게 보내져요"));
    for (const Explanation &row : explanations)
        how->addRow(new SettingLabel(QString::fromUtf16(row.title), QString::fromUtf16(row.detail),
                                     QString::fromLatin1(row.symbol), tintColor(row.tint)));

    // Where shares go: this computer on the local network, or a share service of the user's.
    SettingsSection *service = form->addSection(QStringLiteral("공유 서비스"));
    m_serviceAddress->setObjectName(QStringLiteral("serviceAddressField"));
    m_serviceAddress->setPlaceholderText(QStringLiteral("https://"));
    m_serviceAddress->setText(m_defaults.value(DefaultsKey::shareServiceURL).toString());
    m_serviceAddress->setMinimumWidth(220);
    SettingsRow *serviceRow = service->addRow(
        new SettingLabel(QStringLiteral("공유 서비스 주소"),
                         QStringLiteral("비워 두면 이 컴퓨터가 같은 네트워크의 기기에 직접 "
                                        "보내요. 다른 네트워크로 보내려면 공유 서비스 주소를 "
                                        "넣으세요."),
                         QStringLiteral("network"), tintColor(Tint::gray)),
        m_serviceAddress);
    m_serviceAddressError->setObjectName(QStringLiteral("serviceAddressError"));
    m_serviceAddressError->setWordWrap(true);
    QPalette red = m_serviceAddressError->palette();
    red.setColor(QPalette::WindowText, tintColor(Tint::red));
    m_serviceAddressError->setPalette(red);
    m_serviceAddressError->hide();
    serviceRow->addBelow(m_serviceAddressError);

    showShareCount();
    connect(&m_center, &ShareCenter::sessionsChanged, this, &SharePane::showShareCount);
    connect(m_expiry, &QComboBox::activated, this, [this](int row) {
        m_defaults.setValue(DefaultsKey::shareExpiryMinutes, m_expiry->itemData(row));
    });
    connect(m_serviceAddress, &QLineEdit::editingFinished, this, &SharePane::applyServiceAddress);
}

SharePane::ConnectionStatus SharePane::statusOf(int httpStatus, const QByteArray &body)
{
    if (httpStatus != 200)
        return ConnectionStatus::offline;
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(body);
    return text.contains(QLatin1String("turn:")) ? ConnectionStatus::everywhere
                                                 : ConnectionStatus::directOnly;
}

std::optional<QString> SharePane::serviceAddressProblem(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    const QUrl url(trimmed, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != u"http" && scheme != u"https") || url.host().isEmpty() ||
        !url.userInfo().isEmpty() || url.hasQuery() || url.hasFragment())
        return QStringLiteral("http:// 또는 https://로 시작하는 서버 주소만 쓸 수 있어요. "
                              "예: https://share.example.com");
    return std::nullopt;
}

void SharePane::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    checkConnectivity();
}

void SharePane::checkConnectivity()
{
    if (QNetworkReply *previous = std::exchange(m_check, nullptr))
        previous->abort();
    setStatus(ConnectionStatus::checking);
    const QUrl base = ShareCenter::serviceBase(m_defaults);
    if (base.isEmpty()) {
        // The service built into the app hands out STUN only: direct connections.
        setStatus(ConnectionStatus::directOnly);
        return;
    }
    auto *manager = new QNetworkAccessManager(this);
    QNetworkReply *reply = manager->get(QNetworkRequest(IceFetch::address(base)));
    reply->setParent(manager);
    m_check = reply;
    auto *timeout = new QTimer(reply);
    timeout->setSingleShot(true);
    connect(timeout, &QTimer::timeout, reply, &QNetworkReply::abort);
    timeout->start(IceFetch::defaultTimeout);
    connect(reply, &QNetworkReply::finished, this, [this, reply, manager] {
        manager->deleteLater();
        // A check replaced by a newer one (the address changed) says nothing any more.
        if (m_check != reply)
            return;
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        setStatus(status.isValid() ? statusOf(status.toInt(), reply->readAll())
                                   : ConnectionStatus::offline);
    });
}

void SharePane::setStatus(ConnectionStatus status)
{
    if (status == m_status)
        return;
    m_status = status;
    switch (status) {
    case ConnectionStatus::directOnly:
        m_card->set(StatusCard::Tone::caution, QStringLiteral("exclamationmark.triangle.fill"),
                    QStringLiteral("일부 네트워크에서는 연결이 안 될 수 있어요"),
                    QStringLiteral("중계 서버를 쓸 수 없어 직접 연결이 막힌 네트워크에서는 "
                                   "실패할 수 있어요."));
        break;
    case ConnectionStatus::offline:
        m_card->set(StatusCard::Tone::bad, QStringLiteral("wifi.slash"),
                    QStringLiteral("인터넷에 연결되어 있지 않아요"),
                    QStringLiteral("보내기를 쓰려면 인터넷 연결이 필요해요."));
        break;
    case ConnectionStatus::checking:
    case ConnectionStatus::everywhere:
        break;
    }
    // No card while the check runs or when everything works.
    m_card->parentWidget()->setVisible(status == ConnectionStatus::directOnly ||
                                       status == ConnectionStatus::offline);
    Q_EMIT statusChanged(status);
}

void SharePane::showShareCount()
{
    const auto count = m_center.sessions().size();
    m_shareCount->setText(count == 0 ? QStringLiteral("없음") : QStringLiteral("%1개").arg(count));
}

void SharePane::applyServiceAddress()
{
    const QString text = m_serviceAddress->text().trimmed();
    if (const auto problem = serviceAddressProblem(text)) {
        // Refused: what is stored stays, and the field keeps the text to be corrected.
        m_serviceAddressError->setText(*problem);
        m_serviceAddressError->show();
        return;
    }
    m_serviceAddressError->hide();
    if (text == m_defaults.value(DefaultsKey::shareServiceURL).toString())
        return;
    if (text.isEmpty())
        m_defaults.remove(DefaultsKey::shareServiceURL);
    else
        m_defaults.setValue(DefaultsKey::shareServiceURL, text);
    checkConnectivity();
}

} // namespace vyo
