#include "core/Defaults.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "shelf/ShelfPersistence.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vyo"));
    QApplication::setQuitOnLastWindowClosed(false);
    if (vyo::isTestHarness())
        return 0;
    vyo::Defaults::shared().registerDefaults();
    const auto state = vyo::ShelfPersistence().load();
    vyoInfo(lcApp, u"셸프 %ld개를 불러옴", state.open.size());
    return app.exec();
}
