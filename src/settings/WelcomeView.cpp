#include "settings/WelcomeView.h"

#include "settings/AppInfo.h"
#include "settings/SettingsComponents.h"
#include "shortcuts/KeyboardShortcuts.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace vyo {

namespace {

QLabel *featureRow(QVBoxLayout *layout, const QString &name, const QString &symbol,
                   const QString &title, const QString &detail)
{
    auto *row = new QWidget;
    row->setObjectName(QStringLiteral("featureRow_") + name);
    auto *rowLayout = new QHBoxLayout(row);
    rowLayout->setContentsMargins(0, 0, 0, 0);
    rowLayout->setSpacing(12);
    auto *icon = new QLabel(row);
    icon->setFixedWidth(32);
    icon->setPixmap(symbolIcon(symbol).pixmap(26, 26));
    rowLayout->addWidget(icon, 0, Qt::AlignTop);
    auto *texts = new QVBoxLayout;
    texts->setSpacing(2);
    auto *titleLabel = new QLabel(title, row);
    titleLabel->setObjectName(QStringLiteral("title"));
    QFont bold = titleLabel->font();
    bold.setBold(true);
    titleLabel->setFont(bold);
    auto *detailLabel = new QLabel(detail, row);
    detailLabel->setObjectName(QStringLiteral("detail"));
    detailLabel->setWordWrap(true);
    setSecondary(detailLabel);
    texts->addWidget(titleLabel);
    texts->addWidget(detailLabel);
    rowLayout->addLayout(texts, 1);
    layout->addWidget(row);
    return detailLabel;
}

} // namespace

WelcomeView::WelcomeView(const LoginItem &loginItem, QWidget *parent)
    : QDialog(parent)
    , m_loginItem(loginItem)
{
    setObjectName(QStringLiteral("welcomeWindow"));
    setWindowTitle(QString());
    setFixedWidth(420);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(32, 32, 32, 32);
    layout->setSpacing(24);

    auto *header = new QVBoxLayout;
    header->setSpacing(6);
    auto *icon = new QLabel(this);
    icon->setPixmap(AppInfo::icon().pixmap(88, 88));
    header->addWidget(icon, 0, Qt::AlignHCenter);
    auto *title = new QLabel(QStringLiteral("Vyo에 오신 것을 환영합니다"), this);
    title->setObjectName(QStringLiteral("welcomeTitle"));
    QFont big = title->font();
    big.setPointSizeF(big.pointSizeF() * 1.5);
    big.setBold(true);
    title->setFont(big);
    header->addWidget(title, 0, Qt::AlignHCenter);
    header->addWidget(new QLabel(AppInfo::tagline(), this), 0, Qt::AlignHCenter);
    layout->addLayout(header);

    auto *features = new QVBoxLayout;
    features->setSpacing(14);
    featureRow(features, QStringLiteral("shake"), QStringLiteral("hand.draw"),
               QStringLiteral("드래그하면서 흔들기"),
               QStringLiteral("파일을 끄는 도중 포인터를 좌우로 흔들면 셸프가 열립니다."));
    featureRow(features, QStringLiteral("share"), QStringLiteral("qrcode"),
               QStringLiteral("휴대폰·PC로 보내기"),
               QStringLiteral("셸프의 QR 버튼을 누르고 휴대폰 카메라로 찍으면, 같은 와이파이에서 "
                              "앱 없이 바로 받거나 올릴 수 있습니다."));
    m_keyboardDetail = featureRow(features, QStringLiteral("keyboard"), QStringLiteral("keyboard"),
                                  QStringLiteral("단축키"), keyboardDetail());
    featureRow(features, QStringLiteral("tray"), QStringLiteral("menubar.arrow.up.rectangle"),
               QStringLiteral("알림 영역"),
               QStringLiteral("알림 영역의 Vyo 아이콘에서 셸프와 설정을 열 수 있습니다."));
    layout->addLayout(features);

    auto *launchAtLogin = new QCheckBox(QStringLiteral("로그인 시 Vyo 실행"), this);
    launchAtLogin->setObjectName(QStringLiteral("launchAtLogin"));
    launchAtLogin->setChecked(m_loginItem.isEnabled());
    // A failure is ignored here: the box keeps what the user chose.
    connect(launchAtLogin, &QCheckBox::toggled, this,
            [this](bool on) { m_loginItem.setEnabled(on); });
    layout->addWidget(launchAtLogin, 0, Qt::AlignHCenter);

    auto *start = new QPushButton(QStringLiteral("시작하기"), this);
    start->setObjectName(QStringLiteral("startButton"));
    start->setDefault(true);
    start->setAutoDefault(true);
    start->setMinimumWidth(140);
    connect(start, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(start, 0, Qt::AlignHCenter);

    // 420 wide, as tall as the wrapped texts need.
    const int height = heightForWidth(420);
    setFixedHeight(height > 0 ? height : sizeHint().height());

    connect(&KeyboardShortcuts::Registry::shared(),
            &KeyboardShortcuts::Registry::shortcutByNameDidChange, this, &WelcomeView::refresh);
}

QString WelcomeView::keyboardDetail()
{
    const auto shortcut =
        KeyboardShortcuts::Registry::shared().shortcut(KeyboardShortcuts::Name::newShelf());
    if (!shortcut)
        return QStringLiteral("설정에서 새 셸프 단축키를 지정할 수 있습니다.");
    return shortcut->description() + QStringLiteral(" 키를 누르면 커서 옆에 빈 셸프가 열립니다.");
}

void WelcomeView::showEvent(QShowEvent *event)
{
    refresh();
    QDialog::showEvent(event);
}

void WelcomeView::refresh()
{
    m_keyboardDetail->setText(keyboardDetail());
}

} // namespace vyo
