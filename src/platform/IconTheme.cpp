#include "platform/IconTheme.h"

#include <QFile>
#include <QIcon>
#include <QStandardPaths>
#include <QStringList>

namespace vyo {

void ensureIconTheme()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    if (!QIcon::themeName().isEmpty() && QIcon::themeName() != QLatin1String("hicolor"))
        return;
    QStringList folders = QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
    folders.append(QStringLiteral("/usr/share"));
    for (const char *theme : {"Adwaita", "breeze", "Papirus"}) {
        for (const QString &folder : folders) {
            if (QFile::exists(folder + QStringLiteral("/icons/") + QLatin1String(theme) +
                              QStringLiteral("/index.theme"))) {
                QIcon::setThemeName(QLatin1String(theme));
                return;
            }
        }
    }
}

} // namespace vyo
