// The view under each pane's header: the one table to change when a pane gets its own view.

#include "settings/AboutPane.h"
#include "settings/GeneralPane.h"
#include "settings/SettingsComponents.h"
#include "settings/SettingsWindow.h"

namespace vyo {

namespace {

// A pane whose view is not built yet: an empty form under its header.
QWidget *placeholderPane(const QString &rawValue)
{
    auto *form = new SettingsForm;
    form->setObjectName(QStringLiteral("placeholderPane_") + rawValue);
    return form;
}

} // namespace

QWidget *makePaneView(SettingsPane pane)
{
    switch (pane) {
    case SettingsPane::general:
        return new GeneralPane;
    case SettingsPane::shake:
        return placeholderPane(QStringLiteral("shake"));
    case SettingsPane::watch:
        return placeholderPane(QStringLiteral("watch"));
    case SettingsPane::share:
        return placeholderPane(QStringLiteral("share"));
    case SettingsPane::about:
        return new AboutPane;
    }
    Q_UNREACHABLE();
}

} // namespace vyo
