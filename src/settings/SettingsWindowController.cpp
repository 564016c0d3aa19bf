#include "settings/SettingsWindowController.h"

#include "core/Log.h"
#include "settings/SettingsWindow.h"
#include "settings/WelcomeView.h"

#include <QGuiApplication>
#include <QScreen>

namespace vyo {

namespace {

void bringToFront(QWidget *window)
{
    window->show();
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->raise();
    window->activateWindow();
}

} // namespace

SettingsWindowController &SettingsWindowController::shared()
{
    static SettingsWindowController *instance = new SettingsWindowController;
    return *instance;
}

SettingsWindow *SettingsWindowController::settingsWindow() const
{
    return m_settingsWindow;
}

WelcomeView *SettingsWindowController::welcomeWindow() const
{
    return m_welcomeWindow;
}

void SettingsWindowController::showSettings()
{
    if (!m_settingsWindow)
        m_settingsWindow = new SettingsWindow;
    vyoInfo(lcApp, u"설정 창 보여 줌");
    bringToFront(m_settingsWindow);
}

void SettingsWindowController::showWelcome()
{
    if (!m_welcomeWindow) {
        m_welcomeWindow = new WelcomeView;
        if (QScreen *screen = QGuiApplication::primaryScreen()) {
            const QRect available = screen->availableGeometry();
            m_welcomeWindow->move(available.center() - m_welcomeWindow->rect().center());
        }
    }
    vyoInfo(lcApp, u"환영 창 보여 줌");
    bringToFront(m_welcomeWindow);
}

} // namespace vyo
