#include "core/Paths.h"

#include <QStandardPaths>

namespace vyo {

bool isTestHarness()
{
    return qEnvironmentVariableIsSet("VYO_TEST_HARNESS");
}

QString applicationDataDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Vyo");
}

QString settingsFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Vyo/Vyo.conf");
}

} // namespace vyo

#include <QDir>
#include <QFileInfo>

namespace vyo {

QString canonicalPath(const QString &path)
{
    if (path.isEmpty())
        return path;
    const QFileInfo info(path);
    QString result = info.canonicalFilePath();
    if (result.isEmpty())
        result = QDir::cleanPath(info.absoluteFilePath());
    while (result.size() > 1 && result.endsWith(u'/'))
        result.chop(1);
    return result;
}

} // namespace vyo
