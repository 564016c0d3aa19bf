#include "app/AppDelegate.h"
#include "app/CommandLine.h"
#include "logic/URLCommand.h"
#include "platform/TerminationSignals.h"
#include "platform/Toolkit.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <QSessionManager>

int main(int argc, char *argv[])
{
    // Actions, --help and --version are answered without a window system, by the running copy.
    if (vyo::commandLine::isRequest(argc, argv)) {
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("Vyo"));
        QCoreApplication::setApplicationVersion(QStringLiteral(VYO_VERSION));
        return vyo::commandLine::run(QCoreApplication::arguments());
    }

    vyo::preferX11Platform();
    QApplication app(argc, argv);
    vyo::forgetPlatformChoice();
    vyo::installKoreanToolkitTexts();
    QApplication::setApplicationName(QStringLiteral("Vyo"));
    QApplication::setApplicationVersion(QStringLiteral(VYO_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("app.vyo.Vyo"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/app.vyo.Vyo.svg")));
    QApplication::setQuitOnLastWindowClosed(false);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Vyo: 끌고 있는 파일, 링크, 글, 이미지를 잠시 올려 두는 셸프"));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("urls"),
                                 QStringLiteral("vyoshelf://new, vyoshelf://reopen, "
                                                "vyoshelf://add?path=…"),
                                 QStringLiteral("[url…]"));
    parser.process(app);

    // Quitting, a polite signal or the end of the desktop session all save at once. The signal
    // handlers go in first, so that a signal during start-up still ends in an orderly quit.
    vyo::TerminationSignals signals;
    QObject::connect(&signals, &vyo::TerminationSignals::received, &app, &QApplication::quit,
                     Qt::QueuedConnection);

    vyo::AppDelegate delegate;
    switch (delegate.launch(parser.positionalArguments())) {
    case vyo::AppDelegate::LaunchResult::testHarness:
    case vyo::AppDelegate::LaunchResult::otherInstance:
        return 0;
    case vyo::AppDelegate::LaunchResult::running:
        break;
    }

    QObject::connect(&app, &QGuiApplication::commitDataRequest, &delegate,
                     [&delegate](QSessionManager &) { delegate.saveBeforeQuit(); });
    QObject::connect(&app, &QApplication::aboutToQuit, &delegate,
                     &vyo::AppDelegate::saveBeforeQuit);
    return app.exec();
}
