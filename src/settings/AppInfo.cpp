#include "settings/AppInfo.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#ifndef VYO_VERSION
#define VYO_VERSION ""
#endif
#ifndef VYO_BUILD
#define VYO_BUILD ""
#endif
#ifndef VYO_WEBSITE
#define VYO_WEBSITE "https://vyo.app"
#endif

namespace vyo::AppInfo {

namespace {

QString orUnknown(const char *value)
{
    const QString text = QString::fromUtf8(value).trimmed();
    return text.isEmpty() ? QStringLiteral("?") : text;
}

} // namespace

QIcon icon()
{
    return QIcon(QStringLiteral(":/icons/app.vyo.Vyo.svg"));
}

QString shortVersion()
{
    return orUnknown(VYO_VERSION);
}

QString buildVersion()
{
    return orUnknown(VYO_BUILD);
}

QString tagline()
{
    return QStringLiteral("끌고 있는 파일, 링크, 글, 이미지를 잠시 올려 두는 셸프");
}

QString copyrightNotice()
{
    return QStringLiteral("© 2026 Vyo 개발자들. Vyo는 자유 소프트웨어예요.");
}

QUrl webSite()
{
    return QUrl(QStringLiteral(VYO_WEBSITE));
}

QString webSiteHost()
{
    return webSite().host();
}

QString acknowledgementsPath()
{
    // bin/vyo → ../share/vyo when installed; build/src/app/vyo or build/tests/settings/tst_… →
    // build/share/vyo in a build tree.
    QDir folder(QCoreApplication::applicationDirPath());
    for (int up = 0; up < 4; ++up) {
        const QString candidate = folder.filePath(QStringLiteral("share/vyo/Acknowledgements.txt"));
        if (QFileInfo(candidate).isFile())
            return candidate;
        if (!folder.cdUp())
            break;
    }
    return {};
}

} // namespace vyo::AppInfo
