#pragma once

// The about pane: the icon, name, version and build, the tagline; the update switch and
// "지금 확인하기" bound to the updater (disabled while it has not started); the web site and
// the licences.
// Children: "versionLine", "automaticUpdates", "checkNow", "webSiteRow", "licensesRow",
// the copyright line as the links section's "sectionFooter"; the sheet it opens is
// "licensesSheet".

#include "settings/SettingsComponents.h"

#include <QUrl>

class QPushButton;

#include <functional>

namespace vyo {

class LicensesSheet;
class SwitchControl;
class Updater;

class AboutPane : public SettingsForm
{
    Q_OBJECT
public:
    explicit AboutPane(QWidget *parent = nullptr);
    explicit AboutPane(Updater &updater, QWidget *parent = nullptr);

    // Opens addresses; the desktop's default browser unless a test replaces it.
    std::function<void(const QUrl &)> openURL;

    void showLicenses();
    LicensesSheet *licensesSheet() const { return m_licenses; }

private:
    void followUpdater(Updater &updater, SwitchControl *automatic, QPushButton *checkNow);

    LicensesSheet *m_licenses = nullptr;
};

} // namespace vyo
