#include "settings/ShakePane.h"

#include "settings/ApplicationChooser.h"
#include "settings/SettingsComponents.h"

#include "core/Defaults.h"
#include "logic/ShakeSensitivity.h"
#include "platform/InstalledApplications.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace vyo {

ExcludedAppRow::ExcludedAppRow(const QString &bundleID, QWidget *parent)
    : QWidget(parent)
    , m_bundleID(bundleID)
{
    setObjectName(QStringLiteral("excludedAppRow"));
    auto *icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("excludedAppIcon"));
    icon->setFixedSize(24, 24);
    auto *name = new QLabel(this);
    name->setObjectName(QStringLiteral("excludedAppName"));
    if (const auto application = installedApplication(bundleID)) {
        icon->setPixmap(applicationIcon(*application).pixmap(24, 24));
        name->setText(application->name);
    } else {
        icon->setPixmap(symbolIcon(QStringLiteral("questionmark.app.dashed")).pixmap(24, 24));
        name->setText(bundleID);
        name->setForegroundRole(QPalette::PlaceholderText);
    }
    auto *remove = new QPushButton(symbolIcon(QStringLiteral("minus.circle.fill")),
                                   QStringLiteral("제거"), this);
    remove->setObjectName(QStringLiteral("removeExcludedButton"));
    remove->setFlat(true);
    connect(remove, &QPushButton::clicked, this, &ExcludedAppRow::removeRequested);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 2, 0, 2);
    layout->addWidget(icon);
    layout->addWidget(name, 1);
    layout->addWidget(remove);
}

ShakePane::ShakePane(QWidget *parent)
    : ShakePane(Defaults::shared(), parent)
{}

ShakePane::ShakePane(Defaults &defaults, QWidget *parent)
    : QWidget(parent)
    , m_defaults(defaults)
    , m_excluded(defaults.excludedBundleIDs())
    , m_sensitivity(new QButtonGroup(this))
    , m_excludedRows(new QVBoxLayout)
{
    setObjectName(QStringLiteral("shakePane"));
    auto *form = new SettingsForm(this);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(form);

    // Shaking on or off.
    auto *enabled = new SwitchControl;
    enabled->setObjectName(QStringLiteral("shakeEnabledSwitch"));
    bindToDefaults(enabled, m_defaults, QString::fromLatin1(DefaultsKey::shakeEnabled));
    form->addSection()->addRow(
        new SettingLabel(QStringLiteral("흔들어서 셸프 열기"),
                         QStringLiteral("파일 관리자나 다른 앱에서 파일을 끄는 도중 좌우로 몇 번 "
                                        "흔드세요."),
                         QStringLiteral("hand.draw.fill"), tintColor(Tint::purple)),
        enabled);

    // Sensitivity: a segmented picker whose caption describes the chosen preset. The whole
    // section is off while shaking is.
    m_sensitivitySection = form->addSection();
    auto *segments = new QWidget;
    auto *segmentsLayout = new QHBoxLayout(segments);
    segmentsLayout->setContentsMargins(0, 0, 0, 0);
    segmentsLayout->setSpacing(0);
    for (const ShakeSensitivity::Value value : ShakeSensitivity::allCases) {
        const ShakeSensitivity sensitivity(value);
        auto *button = new QPushButton(sensitivity.title(), segments);
        button->setObjectName(QStringLiteral("sensitivity%1").arg(sensitivity.rawValue()));
        button->setCheckable(true);
        m_sensitivity->addButton(button, sensitivity.rawValue());
        segmentsLayout->addWidget(button);
    }
    m_sensitivityLabel = new SettingLabel(QStringLiteral("민감도"), QString(),
                                          QStringLiteral("waveform.path"), QColor(255, 45, 85));
    m_sensitivityLabel->setObjectName(QStringLiteral("sensitivityLabel"));
    m_sensitivitySection->addRow(m_sensitivityLabel, segments);
    showSensitivity();

    // The applications in which shaking is ignored.
    SettingsSection *excluded = form->addSection(QStringLiteral("흔들기 제외 앱"));
    excluded->setFooter(
        QStringLiteral("그림 앱이나 게임처럼 드래그하며 마우스를 크게 움직이는 앱을 넣어 두세요."));
    auto *rows = new QWidget;
    rows->setObjectName(QStringLiteral("excludedApps"));
    rows->setLayout(m_excludedRows);
    m_excludedRows->setContentsMargins(0, 0, 0, 0);
    excluded->addWidget(rows);
    auto *add = new QPushButton(symbolIcon(QStringLiteral("plus")), QStringLiteral("앱 추가…"));
    add->setObjectName(QStringLiteral("addApplicationButton"));
    auto *addRow = new QWidget;
    auto *addLayout = new QHBoxLayout(addRow);
    addLayout->setContentsMargins(0, 0, 0, 0);
    addLayout->addWidget(add);
    addLayout->addStretch();
    excluded->addWidget(addRow);
    rebuildExcludedRows();

    m_sensitivitySection->setEnabled(enabled->isChecked());
    connect(enabled, &QAbstractButton::toggled, m_sensitivitySection, &QWidget::setEnabled);
    connect(m_sensitivity, &QButtonGroup::idClicked, this, [this](int raw) {
        m_defaults.setValue(DefaultsKey::shakeSensitivity, raw);
        showSensitivity();
    });
    connect(add, &QPushButton::clicked, this, &ShakePane::chooseApplications);
}

void ShakePane::showSensitivity()
{
    const ShakeSensitivity current = ShakeSensitivity::current(m_defaults);
    m_sensitivity->button(current.rawValue())->setChecked(true);
    m_sensitivityLabel->setDetail(current.description());
}

void ShakePane::addExcluded(const QStringList &bundleIDs)
{
    const qsizetype before = m_excluded.size();
    for (const QString &id : bundleIDs) {
        if (!id.isEmpty() && !m_excluded.contains(id))
            m_excluded.append(id);
    }
    if (m_excluded.size() != before)
        storeExcluded();
}

void ShakePane::removeExcluded(const QString &bundleID)
{
    if (m_excluded.removeAll(bundleID) > 0)
        storeExcluded();
}

void ShakePane::storeExcluded()
{
    m_defaults.setValue(DefaultsKey::excludedBundleIDs, m_excluded);
    rebuildExcludedRows();
}

void ShakePane::rebuildExcludedRows()
{
    while (QLayoutItem *item = m_excludedRows->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    if (m_excluded.isEmpty()) {
        auto *empty =
            new QLabel(QStringLiteral("제외한 앱이 없어요. 모든 앱에서 흔들기가 동작해요."));
        empty->setObjectName(QStringLiteral("excludedEmptyLabel"));
        empty->setForegroundRole(QPalette::PlaceholderText);
        m_excludedRows->addWidget(empty);
        return;
    }
    for (const QString &id : std::as_const(m_excluded)) {
        auto *row = new ExcludedAppRow(id);
        // Queued: the row that asks is deleted by the rebuild.
        connect(
            row, &ExcludedAppRow::removeRequested, this, [this, id] { removeExcluded(id); },
            Qt::QueuedConnection);
        m_excludedRows->addWidget(row);
    }
}

void ShakePane::chooseApplications()
{
    auto *chooser = new ApplicationChooser(installedApplications(), this);
    connect(chooser, &ApplicationChooser::applicationsChosen, this, &ShakePane::addExcluded);
    chooser->open();
}

} // namespace vyo
