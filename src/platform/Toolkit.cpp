#include "platform/Toolkit.h"

#include "core/Log.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace vyo {

bool isWaylandSession()
{
    return qEnvironmentVariable("XDG_SESSION_TYPE").compare(u"wayland", Qt::CaseInsensitive) == 0 ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

namespace {

constexpr char preferredPlatforms[] = "xcb;wayland";
bool platformChosenHere = false;

} // namespace

void preferX11Platform()
{
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !isWaylandSession() ||
        qEnvironmentVariableIsEmpty("DISPLAY"))
        return;
    qputenv("QT_QPA_PLATFORM", preferredPlatforms);
    platformChosenHere = true;
}

void forgetPlatformChoice()
{
    if (platformChosenHere && qgetenv("QT_QPA_PLATFORM") == preferredPlatforms)
        qunsetenv("QT_QPA_PLATFORM");
    platformChosenHere = false;
}

bool installKoreanToolkitTexts()
{
    auto *translator = new QTranslator(QCoreApplication::instance());
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!translator->load(QLocale(QLocale::Korean, QLocale::SouthKorea), QStringLiteral("qtbase"),
                          QStringLiteral("_"), folder)) {
        vyoWarning(lcApp, u"Qt의 한국어 번역을 찾지 못함: %{public}s", folder);
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

} // namespace vyo
