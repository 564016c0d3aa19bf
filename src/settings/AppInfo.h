#pragma once

// What the settings and welcome windows say about Vyo itself: its version and build (set by the
// build system; "?" when a build did not set them), its one-line tagline, its web site, the
// copyright line, and where the acknowledgements file was installed.

#include <QIcon>
#include <QString>
#include <QUrl>

namespace vyo::AppInfo {

// The application icon (the one the desktop entry names).
QIcon icon();
QString shortVersion();
QString buildVersion();
QString tagline();
QString copyrightNotice();
// The web site's root address (https) and the host name shown for it.
QUrl webSite();
QString webSiteHost();
// The acknowledgements file: share/vyo/Acknowledgements.txt beside the folder of the executable
// (installed) or a few folders up from it (a build tree); empty when there is none.
QString acknowledgementsPath();

} // namespace vyo::AppInfo
