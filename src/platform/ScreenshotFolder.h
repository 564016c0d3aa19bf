#pragma once

// Where the desktop saves screenshots, for the watched-folder suggestion.

#include <QString>

#include <functional>

namespace vyo {

// What the answer is made from; screenshotFolder() fills it from the running session.
struct ScreenshotFolderSources
{
    QString currentDesktop; // $XDG_CURRENT_DESKTOP, for example "GNOME" or "KDE"
    QString configHome;     // $XDG_CONFIG_HOME, where KDE's screenshot tool keeps its settings
    QString home;           // the home folder, for a leading "~"
    QString pictures;       // the XDG pictures folder
    QString desktop;        // the XDG desktop folder
    std::function<bool(const QString &)> isFolder;
};

// The screenshot folder: KDE's screenshot tool's own save location when its settings name one;
// on GNOME the "Screenshots" folder in the pictures folder, where GNOME saves them; elsewhere that
// folder when it exists; otherwise the desktop folder.
QString screenshotFolder(const ScreenshotFolderSources &sources);
QString screenshotFolder();

} // namespace vyo
