// Reaching the desktop services of a session without X11 (where the window-system services stand
// aside and say why), and the start-up choices about the toolkit.

#include "platform/Desktop.h"
#include "platform/Dialogs.h"
#include "platform/DragWatcher.h"
#include "platform/GlobalHotKeys.h"
#include "platform/Toolkit.h"
#include "platform/WindowSystem.h"
#include "platform/linux/FreedesktopFileManager.h"
#include "platform/linux/WidgetDialogs.h"

#include "TestSupport.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QWidget>

using namespace vyo;

class TestDesktop : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void withoutX11WindowsDragsAndKeysStandAside();
    void preferX11Platform_data();
    void preferX11Platform();
    void standardButtonsSpeakKorean();
};

void TestDesktop::withoutX11WindowsDragsAndKeysStandAside()
{
    if (QGuiApplication::platformName() == u"xcb")
        QSKIP("tells what a session without X11 gets; runs offscreen");
    Desktop &session = Desktop::shared();
    QVERIFY(dynamic_cast<WidgetDialogs *>(&session.dialogs()));
    QVERIFY(dynamic_cast<FreedesktopFileManager *>(&session.fileManager()));

    QWidget window;
    session.windowSystem().showOnAllDesktops(&window);
    QVERIFY(!session.windowSystem().hasCompositor());
    QCOMPARE(session.windowSystem().trayEmbeddedGeometry(window.winId()), std::nullopt);

    const std::unique_ptr<DragWatcher> watcher = session.makeDragWatcher();
    QVERIFY(!watcher->start());
    QCOMPARE(watcher->unavailableReason(), QGuiApplication::platformName() + u" 세션");

    test::LogCapture log;
    QObject owner;
    QPointer<GlobalHotKeys> hotKeys = session.makeGlobalHotKeys(&owner);
    QVERIFY(!hotKeys->isAvailable());
    QString error;
    QCOMPARE(hotKeys->registerHotKey({'m', Qt::ControlModifier}, &error), 0);
    QVERIFY(log.contains(QStringLiteral("전역 단축키를 쓸 수 없음: ") + error));
}

void TestDesktop::preferX11Platform_data()
{
    // QT_QPA_PLATFORM, XDG_SESSION_TYPE, WAYLAND_DISPLAY and DISPLAY, and the platform chosen.
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<QString>("chosen");
    QTest::newRow("wayland with xwayland")
        << QStringList{"", "wayland", "wayland-0", ":0"} << "xcb;wayland";
    QTest::newRow("wayland socket only") << QStringList{"", "", "wayland-0", ":0"} << "xcb;wayland";
    QTest::newRow("wayland without xwayland") << QStringList{"", "wayland", "wayland-0", ""} << "";
    QTest::newRow("x11 session") << QStringList{"", "x11", "", ":0"} << "";
    QTest::newRow("chosen by the user")
        << QStringList{"wayland", "wayland", "wayland-0", ":0"} << "wayland";
}

void TestDesktop::preferX11Platform()
{
    QFETCH(QStringList, environment);
    QFETCH(QString, chosen);
    const QByteArray names[] = {"QT_QPA_PLATFORM", "XDG_SESSION_TYPE", "WAYLAND_DISPLAY",
                                "DISPLAY"};
    QByteArray saved[4];
    for (int i = 0; i < 4; ++i) {
        saved[i] = qgetenv(names[i].constData());
        qputenv(names[i].constData(), environment[i].toUtf8());
    }
    vyo::preferX11Platform();
    const QByteArray result = qgetenv("QT_QPA_PLATFORM");
    // Once the application object is made, programs started from it inherit only a choice the
    // user made.
    vyo::forgetPlatformChoice();
    const QByteArray inherited = qgetenv("QT_QPA_PLATFORM");
    for (int i = 0; i < 4; ++i)
        qputenv(names[i].constData(), saved[i]);
    QCOMPARE(QString::fromUtf8(result), chosen);
    QCOMPARE(QString::fromUtf8(inherited), environment[0]);
}

void TestDesktop::standardButtonsSpeakKorean()
{
    QVERIFY(installKoreanToolkitTexts());
    QDialogButtonBox korean(QDialogButtonBox::Cancel);
    const QString text = korean.button(QDialogButtonBox::Cancel)->text();
    QVERIFY2(text.contains(QStringLiteral("취소")), qPrintable(text));
}

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
