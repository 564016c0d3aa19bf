#pragma once

// Shows the settings window and the welcome window. Each window is made on its first show and
// kept for the life of the process: closing only hides it, and the next show finds it as it was
// left (the same pane selected).

#include <QObject>
#include <QPointer>

namespace vyo {

class SettingsWindow;
class WelcomeView;

class SettingsWindowController : public QObject
{
    Q_OBJECT
public:
    static SettingsWindowController &shared();

    // Shows "Vyo 설정", raised and focused (the tray's "설정…", Vyo launched again).
    void showSettings();
    // Shows the welcome window centred on the primary screen (once, on the first launch).
    void showWelcome();

    // The windows once made; null before their first show.
    SettingsWindow *settingsWindow() const;
    WelcomeView *welcomeWindow() const;

private:
    SettingsWindowController() = default;

    QPointer<SettingsWindow> m_settingsWindow;
    QPointer<WelcomeView> m_welcomeWindow;
};

} // namespace vyo
