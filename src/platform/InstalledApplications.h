#pragma once

// The applications installed for this user, for choosing the ones in which shaking is ignored.
// Each carries the identifier the drag watcher reports for its windows (DragWatcher.h), so that a
// chosen application is stored as the very string an exclusion is compared with.

#include <QIcon>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace vyo {

struct InstalledApplication
{
    // What the drag watcher reports while one of its windows is active.
    QString applicationID;
    // The name shown to the user, in Korean where the application has one.
    QString name;
    // An icon theme name or an absolute path; empty when the application names none.
    QString icon;
    // Where it was read from.
    QString path;

    bool operator==(const InstalledApplication &) const = default;
};

// The installed applications shown in menus, sorted by name: from the desktop entries in
// `dataFolders` (each folder's "applications"; an earlier folder's entry hides a later one of the
// same id). Malformed, hidden and not shown entries are left out.
QList<InstalledApplication> installedApplications(const QStringList &dataFolders);
// The same from the session's data folders ($XDG_DATA_HOME, then $XDG_DATA_DIRS).
QList<InstalledApplication> installedApplications();
// The installed application with that identifier, if there is one.
std::optional<InstalledApplication> installedApplication(const QString &applicationID);

// The application's icon; a generic application icon when it names none or the theme lacks it.
QIcon applicationIcon(const InstalledApplication &application);

} // namespace vyo
