#include "settings/GeneralPane.h"

#include "core/Defaults.h"
#include "logic/NotchGeometry.h"
#include "platform/ScreenCoordinates.h"
#include "shortcuts/Recorder.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QSignalBlocker>

namespace vyo {

namespace {

SwitchControl *boundSwitch(const char *key)
{
    auto *control = new SwitchControl;
    control->setObjectName(QLatin1String(key));
    bindToDefaults(control, Defaults::shared(), QLatin1String(key));
    return control;
}

KeyboardShortcuts::Recorder *recorder(const KeyboardShortcuts::Name &name)
{
    auto *field = new KeyboardShortcuts::Recorder(name);
    field->setObjectName(QStringLiteral("recorder_") + name.rawValue);
    field->setFixedWidth(170);
    return field;
}

} // namespace

GeneralPane::GeneralPane(const LoginItem &loginItem, QWidget *parent)
    : SettingsForm(parent)
    , m_loginItem(loginItem)
    , m_launchAtLogin(new SwitchControl)
    , m_launchAtLoginError(new QLabel)
{
    setObjectName(QStringLiteral("generalPane"));

    SettingsSection *launch = addSection();
    m_launchAtLogin->setObjectName(QStringLiteral("launchAtLogin"));
    SettingsRow *launchRow = launch->addRow(
        new SettingLabel(QStringLiteral("로그인 시 실행"),
                         QStringLiteral("컴퓨터를 켜면 알림 영역에서 바로 기다려요."),
                         QStringLiteral("power"), tintColor(Tint::green)),
        m_launchAtLogin);
    m_launchAtLoginError->setObjectName(QStringLiteral("launchAtLoginError"));
    m_launchAtLoginError->setWordWrap(true);
    QFont caption = m_launchAtLoginError->font();
    caption.setPointSizeF(caption.pointSizeF() * 0.85);
    m_launchAtLoginError->setFont(caption);
    QPalette red = m_launchAtLoginError->palette();
    red.setColor(QPalette::WindowText, tintColor(Tint::red));
    m_launchAtLoginError->setPalette(red);
    m_launchAtLoginError->hide();
    launchRow->addBelow(m_launchAtLoginError);
    connect(m_launchAtLogin, &QAbstractButton::toggled, this, &GeneralPane::launchAtLoginToggled);
    showLoginItemState();

    SettingsSection *shelves = addSection(QStringLiteral("셸프"));
    shelves->addRow(
        new SettingLabel(
            QStringLiteral("셸프 복원"),
            QStringLiteral("앱을 다시 열거나 컴퓨터를 재시동해도 열어 둔 셸프가 돌아와요."),
            QStringLiteral("arrow.counterclockwise"), tintColor(Tint::blue)),
        boundSwitch(DefaultsKey::restoreShelves));
    shelves->addRow(new SettingLabel(QStringLiteral("끌어낸 항목 비우기"),
                                     QStringLiteral("다른 곳에 놓은 항목은 셸프에서 뺍니다. "
                                                    "Shift를 누른 채 옮긴 항목은 항상 빠져요."),
                                     QStringLiteral("tray.and.arrow.up"), tintColor(Tint::orange)),
                    boundSwitch(DefaultsKey::removeAfterDragOut));
    auto *notchLabel = new SettingLabel(
        QStringLiteral("노치에 놓아 셸프 열기"),
        hasNotch()
            ? QStringLiteral("파일을 화면 위 노치로 끌어다 놓으면 바로 아래에 셸프가 열려요.")
            : QStringLiteral("노치가 있는 화면에서 쓸 수 있어요."),
        QStringLiteral("macbook"), tintColor(Tint::gray));
    notchLabel->setObjectName(QStringLiteral("notchRow"));
    shelves->addRow(notchLabel, boundSwitch(DefaultsKey::notchDropEnabled));

    SettingsSection *shortcuts = addSection(QStringLiteral("단축키"));
    shortcuts->addRow(
        new SettingLabel(QStringLiteral("새 셸프"), QStringLiteral("커서 옆에 빈 셸프를 열어요."),
                         QStringLiteral("plus.rectangle.on.rectangle"), tintColor(Tint::purple)),
        recorder(KeyboardShortcuts::Name::newShelf()));
    shortcuts->addRow(new SettingLabel(QStringLiteral("닫은 셸프 다시 열기"),
                                       QStringLiteral("실수로 닫은 셸프를 그대로 되살려요."),
                                       QStringLiteral("arrow.uturn.backward"),
                                       tintColor(Tint::teal)),
                      recorder(KeyboardShortcuts::Name::reopenShelf()));
}

bool GeneralPane::hasNotch()
{
    QList<NotchScreen> screens;
    for (QScreen *screen : QGuiApplication::screens()) {
        NotchScreen notchScreen;
        notchScreen.frame = fromQt(QRectF(screen->geometry()));
        screens.append(notchScreen);
    }
    return !NotchGeometry::dropZoneRects(screens).isEmpty();
}

void GeneralPane::showEvent(QShowEvent *event)
{
    SettingsForm::showEvent(event);
    // The entry may have changed on disk (the welcome window, the user's own editing).
    showLoginItemState();
}

void GeneralPane::showLoginItemState()
{
    const QSignalBlocker quiet(m_launchAtLogin);
    m_launchAtLogin->setChecked(m_loginItem.isEnabled());
}

void GeneralPane::launchAtLoginToggled(bool on)
{
    if (on == m_loginItem.isEnabled())
        return;
    QString reason;
    if (m_loginItem.setEnabled(on, &reason)) {
        m_launchAtLoginError->clear();
        m_launchAtLoginError->hide();
        return;
    }
    m_launchAtLoginError->setText(QStringLiteral("설정을 바꾸지 못했어요: ") + reason);
    m_launchAtLoginError->show();
    // The switch shows what is in force.
    showLoginItemState();
}

} // namespace vyo
