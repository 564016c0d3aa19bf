#include "settings/AboutPane.h"

#include "settings/AppInfo.h"
#include "settings/LicensesSheet.h"
#include "update/Updater.h"

#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace vyo {

AboutPane::AboutPane(QWidget *parent)
    : AboutPane(Updater::shared(), parent)
{}

AboutPane::AboutPane(Updater &updater, QWidget *parent)
    : SettingsForm(parent)
    , openURL([](const QUrl &url) { QDesktopServices::openUrl(url); })
{
    setObjectName(QStringLiteral("aboutPane"));

    auto *header = new QWidget;
    header->setObjectName(QStringLiteral("aboutHeader"));
    auto *headerLayout = new QVBoxLayout(header);
    headerLayout->setSpacing(4);
    auto *icon = new QLabel(header);
    icon->setPixmap(AppInfo::icon().pixmap(72, 72));
    headerLayout->addWidget(icon, 0, Qt::AlignHCenter);
    auto *name = new QLabel(QStringLiteral("Vyo"), header);
    QFont bold = name->font();
    bold.setPointSizeF(bold.pointSizeF() * 1.7);
    bold.setBold(true);
    name->setFont(bold);
    headerLayout->addWidget(name, 0, Qt::AlignHCenter);
    auto *version =
        new QLabel(QStringLiteral("버전 ") + AppInfo::shortVersion() + QStringLiteral(" (") +
                       AppInfo::buildVersion() + QStringLiteral(")"),
                   header);
    version->setObjectName(QStringLiteral("versionLine"));
    version->setTextInteractionFlags(Qt::TextSelectableByMouse);
    headerLayout->addWidget(version, 0, Qt::AlignHCenter);
    auto *tagline = new QLabel(AppInfo::tagline(), header);
    tagline->setObjectName(QStringLiteral("tagline"));
    headerLayout->addWidget(tagline, 0, Qt::AlignHCenter);
    addWidget(header);

    // Both controls follow the updater; they stay disabled while it has not started (a build
    // without an update feed never starts it), and the button while a check runs.
    SettingsSection *updates = addSection(QStringLiteral("업데이트"));
    auto *automatic = new SwitchControl;
    automatic->setObjectName(QStringLiteral("automaticUpdates"));
    updates->addRow(new SettingLabel(QStringLiteral("자동으로 업데이트 확인"),
                                     QStringLiteral("새 버전이 나오면 알림 영역에서 알려 드려요."),
                                     QStringLiteral("arrow.down.circle.fill"),
                                     tintColor(Tint::green)),
                    automatic);
    auto *checkNow = new QPushButton(QStringLiteral("지금 확인하기"));
    checkNow->setObjectName(QStringLiteral("checkNow"));
    updates->addWidget(checkNow);
    followUpdater(updater, automatic, checkNow);

    SettingsSection *links = addSection();
    auto *webSite = new LinkRow(
        new SettingLabel(AppInfo::webSiteHost(), QStringLiteral("소개, 내려받기, 브라우저로 받기"),
                         QStringLiteral("safari.fill"), tintColor(Tint::blue)),
        QStringLiteral("arrow.up.right"));
    webSite->setObjectName(QStringLiteral("webSiteRow"));
    connect(webSite, &QAbstractButton::clicked, this, [this] {
        if (openURL)
            openURL(AppInfo::webSite());
    });
    links->addWidget(webSite);
    auto *licenses =
        new LinkRow(new SettingLabel(QStringLiteral("오픈소스 라이선스"),
                                     QStringLiteral("Vyo가 사용하는 오픈소스 소프트웨어"),
                                     QStringLiteral("doc.text.fill"), tintColor(Tint::gray)),
                    QStringLiteral("chevron.right"));
    licenses->setObjectName(QStringLiteral("licensesRow"));
    connect(licenses, &QAbstractButton::clicked, this, &AboutPane::showLicenses);
    links->addWidget(licenses);
    links->setFooter(AppInfo::copyrightNotice());
}

void AboutPane::showLicenses()
{
    // Made once, then shown again as it was left.
    if (!m_licenses) {
        m_licenses = new LicensesSheet(AppInfo::acknowledgementsPath(), window());
        m_licenses->setWindowModality(Qt::WindowModal);
    }
    m_licenses->show();
    m_licenses->raise();
    m_licenses->activateWindow();
}

void AboutPane::followUpdater(Updater &updater, SwitchControl *automatic, QPushButton *checkNow)
{
    const auto refresh = [&updater, automatic, checkNow] {
        automatic->setEnabled(updater.isStarted());
        automatic->setChecked(updater.automaticallyChecksForUpdates());
        checkNow->setEnabled(updater.isStarted() && updater.canCheckForUpdates());
    };
    refresh();
    connect(&updater, &Updater::started, this, refresh);
    connect(&updater, &Updater::canCheckForUpdatesChanged, this, refresh);
    connect(&updater, &Updater::automaticallyChecksForUpdatesChanged, this, refresh);
    connect(automatic, &QAbstractButton::toggled, this,
            [&updater](bool on) { updater.setAutomaticallyChecksForUpdates(on); });
    connect(checkNow, &QPushButton::clicked, &updater, &Updater::checkForUpdates);
}

} // namespace vyo
