#pragma once

// Makes this executable the user's handler of vyoshelf: URLs, so that `xdg-open vyoshelf://new`
// reaches Vyo: a desktop entry in $XDG_DATA_HOME/applications with the real executable path (and
// its icon in $XDG_DATA_HOME/icons), and the default-application entry in
// $XDG_CONFIG_HOME/mimeapps.list. Files are rewritten only when
// their content changes, atomically, and other entries of mimeapps.list are kept; a file that
// exists but cannot be read (or is not UTF-8) is left untouched and named in `error`.

#include <QString>

namespace vyo {

// The desktop-file id and D-Bus name of the application.
inline constexpr auto applicationId = "app.vyo.Vyo";

// Quotes one argument of a desktop entry's Exec key, as the desktop-entry rules require.
QString quoteExecArgument(const QString &argument);

// The desktop entry text for an executable (its path quoted as desktop entries require), with
// the launcher actions that run its command line.
QString desktopEntryText(const QString &executable);
// Where the application's icon goes for the user: the hicolor theme in $XDG_DATA_HOME/icons.
QString userIconPath();

// The mimeapps.list text with the default handler of `mimeType` set to `desktopId`, everything
// else as it was.
QString withDefaultApplication(const QString &mimeappsText, const QString &mimeType,
                               const QString &desktopId);

bool registerUrlSchemeHandler(const QString &executable, QString *error = nullptr);

} // namespace vyo
