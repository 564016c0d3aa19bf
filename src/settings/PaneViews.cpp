// The view under each pane's header.

#include "settings/AboutPane.h"
#include "settings/GeneralPane.h"
#include "settings/SettingsWindow.h"
#include "settings/ShakePane.h"
#include "settings/SharePane.h"
#include "settings/WatchPane.h"

namespace vyo {

QWidget *makePaneView(SettingsPane pane)
{
    switch (pane) {
    case SettingsPane::general:
        return new GeneralPane;
    case SettingsPane::shake:
        return new ShakePane;
    case SettingsPane::watch:
        return new WatchPane;
    case SettingsPane::share:
        return new SharePane;
    case SettingsPane::about:
        return new AboutPane;
    }
    Q_UNREACHABLE();
}

} // namespace vyo
