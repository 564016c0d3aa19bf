#pragma once

// The general pane: starting at login, the shelf switches (restoring, emptying dragged-out
// items, the drop zone at the top of the screen) and the two global shortcut recorders.
// Children: "launchAtLogin" (switch) with "launchAtLoginError" (red line under it),
// "restoreShelves", "removeAfterDragOut", "notchDropEnabled" (switches), "notchRow" (its label),
// the recorders "recorder_newShelf" and "recorder_reopenShelf".

#include "platform/LoginItem.h"
#include "settings/SettingsComponents.h"

class QLabel;

namespace vyo {

class GeneralPane : public SettingsForm
{
    Q_OBJECT
public:
    explicit GeneralPane(const LoginItem &loginItem = LoginItem(), QWidget *parent = nullptr);

    // Whether some screen has a drop zone at its top (Linux: the virtual notch of the primary
    // screen, whenever there is a screen).
    static bool hasNotch();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void launchAtLoginToggled(bool on);
    void showLoginItemState();

    LoginItem m_loginItem;
    SwitchControl *m_launchAtLogin;
    QLabel *m_launchAtLoginError;
};

} // namespace vyo
