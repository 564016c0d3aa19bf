// Reaching the desktop services: the services of this session (here a session without X11, where
// the window-system services stand aside and say why), and desktops of fakes installed for as long
// as they live.

#include "platform/Desktop.h"
#include "platform/Dialogs.h"
#include "platform/FileSystemEvents.h"
#include "platform/WindowSystem.h"
#include "platform/fake/FakeDesktop.h"
#include "platform/linux/FreedesktopFileManager.h"
#include "platform/linux/WidgetDialogs.h"

#include "TestSupport.h"

#include <QApplication>
#include <QPointer>
#include <QTest>
#include <QWidget>

using namespace vyo;
using namespace std::chrono_literals;

class TestDesktop : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();

    void sessionDesktopIsMadeOnce();
    void withoutX11TheWindowSystemDoesNothing();
    void withoutX11DragsAndKeysCannotBeWatched();
    void fakeDesktopsNestForTheirLifetime();
    void fakeDesktopHandsOutFakes();
};

void TestDesktop::initTestCase()
{
    if (QGuiApplication::platformName() == u"xcb")
        QSKIP("tells what a session without X11 gets; runs offscreen");
}

void TestDesktop::sessionDesktopIsMadeOnce()
{
    Desktop &session = Desktop::shared();
    QCOMPARE(&Desktop::shared(), &session);
    QVERIFY(dynamic_cast<WidgetDialogs *>(&session.dialogs()));
    QVERIFY(dynamic_cast<FreedesktopFileManager *>(&session.fileManager()));
    QCOMPARE(&session.dialogs(), &Desktop::shared().dialogs());
}

void TestDesktop::withoutX11TheWindowSystemDoesNothing()
{
    WindowSystem &windowSystem = Desktop::shared().windowSystem();
    QWidget window;
    window.winId();
    windowSystem.showOnAllDesktops(&window);
    QVERIFY(!windowSystem.hasCompositor());
    QCOMPARE(windowSystem.trayEmbeddedGeometry(window.winId()), std::nullopt);
}

void TestDesktop::withoutX11DragsAndKeysCannotBeWatched()
{
    const std::unique_ptr<DragWatcher> watcher = Desktop::shared().makeDragWatcher();
    QVERIFY(!watcher->start());
    QCOMPARE(watcher->unavailableReason(), QGuiApplication::platformName() + u" 세션");

    test::LogCapture log;
    QObject owner;
    QPointer<GlobalHotKeys> hotKeys = Desktop::shared().makeGlobalHotKeys(&owner);
    QCOMPARE(hotKeys->parent(), &owner);
    QVERIFY(!hotKeys->isAvailable());
    QString error;
    QCOMPARE(hotKeys->registerHotKey({'m', Qt::ControlModifier}, &error), 0);
    QVERIFY(!error.isEmpty());
    QVERIFY(log.contains(QStringLiteral("전역 단축키를 쓸 수 없음: ") + error));

    const std::unique_ptr<FileSystemEvents> events = Desktop::shared().makeFileSystemEvents(300ms);
    QVERIFY(!events->isRunning());
}

void TestDesktop::fakeDesktopsNestForTheirLifetime()
{
    Desktop *session = &Desktop::shared();
    {
        FakeDesktop outer;
        QCOMPARE(&Desktop::shared(), &outer);
        {
            FakeDesktop inner;
            QCOMPARE(&Desktop::shared(), &inner);
            Desktop::shared().dialogs().beep();
            QCOMPARE(inner.dialogs().beeps(), 1);
            QCOMPARE(outer.dialogs().beeps(), 0);
        }
        QCOMPARE(&Desktop::shared(), &outer);
    }
    QCOMPARE(&Desktop::shared(), session);
}

void TestDesktop::fakeDesktopHandsOutFakes()
{
    FakeDesktop desktop;
    const std::unique_ptr<DragWatcher> watcher = Desktop::shared().makeDragWatcher();
    QCOMPARE(desktop.dragWatchers().size(), 1);
    QCOMPARE(desktop.dragWatchers().first().data(), watcher.get());
    QVERIFY(watcher->start());

    auto *owner = new QObject;
    Desktop::shared().makeGlobalHotKeys(owner);
    QCOMPARE(desktop.hotKeys().size(), 1);
    QVERIFY(desktop.hotKeys().first()->isAvailable());
    delete owner;
    QVERIFY(desktop.hotKeys().first().isNull());

    QWidget window;
    Desktop::shared().windowSystem().showOnAllDesktops(&window);
    QCOMPARE(desktop.windowSystem().windowsOnAllDesktops().size(), 1);
    QCOMPARE(desktop.windowSystem().windowsOnAllDesktops().first().data(), &window);
    QVERIFY(!Desktop::shared().windowSystem().hasCompositor());

    Desktop::shared().fileManager().reveal({QUrl::fromLocalFile("/tmp/a.txt")});
    QCOMPARE(desktop.fileManager().revealed(), (QList<QList<QUrl>>{{QUrl("file:///tmp/a.txt")}}));
    desktop.fileManager().setOpenSucceeds(false);
    QVERIFY(!Desktop::shared().fileManager().open(QUrl::fromLocalFile("/tmp/a.txt")));
    QVERIFY(desktop.fileManager().opened().isEmpty());
}

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
