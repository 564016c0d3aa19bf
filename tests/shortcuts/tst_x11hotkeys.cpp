// Global hot keys against the X server of the test display: real key grabs, keys typed with
// xdotool, another client holding a key, and a recorder that changes a slot while it runs.

#include "core/Defaults.h"
#include "platform/fake/FakeDesktop.h"
#include "platform/x11/X11HotKeys.h"
#include "shortcuts/KeyboardShortcuts.h"
#include "shortcuts/Recorder.h"

#include "ChildProcess.h"
#include "TestSupport.h"

#include <QGuiApplication>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

// Last: Xlib's macros clash with Qt's names.
#include <X11/XKBlib.h>

using namespace vyo;
using namespace vyo::KeyboardShortcuts;

namespace {

using test::xdotool;

const HotKeyCombination ctrlAltM{'m', Qt::ControlModifier | Qt::AltModifier};
const HotKeyCombination ctrlAltN{'n', Qt::ControlModifier | Qt::AltModifier};
const HotKeyCombination ctrlAltK{'k', Qt::ControlModifier | Qt::AltModifier};

// Whether some client holds the keyboard grabbed, asked by trying to grab it from a connection
// of the test's own (and letting go at once).
bool isKeyboardGrabbed()
{
    static xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    xcb_grab_keyboard_reply_t *reply =
        xcb_grab_keyboard_reply(connection,
                                xcb_grab_keyboard(connection, 0, root, XCB_CURRENT_TIME,
                                                  XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
                                nullptr);
    const bool grabbed = reply && reply->status == XCB_GRAB_STATUS_ALREADY_GRABBED;
    if (reply && reply->status == XCB_GRAB_STATUS_SUCCESS)
        xcb_ungrab_keyboard(connection, XCB_CURRENT_TIME);
    xcb_flush(connection);
    std::free(reply);
    return grabbed;
}

std::unique_ptr<X11HotKeys> connectHotKeys()
{
    QString error;
    std::unique_ptr<X11HotKeys> hotKeys(X11HotKeys::create(nullptr, &error));
    if (!hotKeys)
        qWarning() << "no X connection:" << error;
    return hotKeys;
}

} // namespace

class TestX11HotKeys : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();

    void releaseReportsOncePerPress_data();
    void releaseReportsOncePerPress();
    void recorderTakesKeysFromTheKeyboard();
};

void TestX11HotKeys::initTestCase()
{
    if (QGuiApplication::platformName() != u"xcb")
        QSKIP("needs the X server of the test display");
    if (QStandardPaths::findExecutable("xdotool").isEmpty())
        QSKIP("xdotool is not installed");
}

void TestX11HotKeys::releaseReportsOncePerPress_data()
{
    // A lock key switched on first: the grab holds whatever the lock keys are.
    QTest::addColumn<QString>("lockKey");
    QTest::newRow("no lock key") << QString();
    QTest::newRow("CapsLock") << "Caps_Lock";
    QTest::newRow("NumLock") << "Num_Lock";
}

void TestX11HotKeys::releaseReportsOncePerPress()
{
    QFETCH(QString, lockKey);
    auto hotKeys = connectHotKeys();
    QVERIFY(hotKeys);
    QString error;
    const int id = hotKeys->registerHotKey(ctrlAltM, &error);
    const int sentinel = hotKeys->registerHotKey(ctrlAltN, &error);
    QVERIFY2(id > 0 && sentinel > 0, qPrintable(error));
    QSignalSpy pressed(hotKeys.get(), &GlobalHotKeys::pressed);
    QSignalSpy released(hotKeys.get(), &GlobalHotKeys::released);
    if (!lockKey.isEmpty())
        QVERIFY(xdotool({"key", lockKey}));
    const auto unlock = qScopeGuard([&] {
        if (!lockKey.isEmpty())
            xdotool({"key", lockKey});
    });
    QVERIFY(xdotool({"key", "ctrl+alt+m"}));
    QTRY_COMPARE(released.count(), 1);
    QCOMPARE(released.first().first().toInt(), id);
    QCOMPARE(pressed.count(), 1);

    // Held for 0.1 s while the server repeats keys after 20 ms, every 10 ms: one report. The
    // sentinel comes after it on the same connection, so once it is seen every repeat has been.
    Display *display = XOpenDisplay(nullptr);
    QVERIFY(display);
    unsigned int delay = 0;
    unsigned int interval = 0;
    XkbGetAutoRepeatRate(display, XkbUseCoreKbd, &delay, &interval);
    XkbSetAutoRepeatRate(display, XkbUseCoreKbd, 20, 10);
    XSync(display, False);
    const auto restore = qScopeGuard([&] {
        XkbSetAutoRepeatRate(display, XkbUseCoreKbd, delay, interval);
        XCloseDisplay(display);
    });
    QVERIFY(xdotool({"keydown", "ctrl+alt+m", "sleep", "0.1", "keyup", "m", "keyup", "alt", "keyup",
                     "ctrl", "key", "ctrl+alt+n"}));
    QTRY_COMPARE(released.count(), 3);
    QCOMPARE(released.at(1).first().toInt(), id);
    QCOMPARE(released.at(2).first().toInt(), sentinel);
    QCOMPARE(pressed.count(), 3);

    // Given back: the key goes to whoever has the focus again.
    hotKeys->unregisterHotKey(id);
    auto other = connectHotKeys();
    QVERIFY(other->registerHotKey(ctrlAltM, &error) > 0);
}

void TestX11HotKeys::recorderTakesKeysFromTheKeyboard()
{
    QTemporaryDir dir;
    Defaults defaults(dir.filePath("Vyo.conf"));
    auto hotKeys = connectHotKeys();
    auto other = connectHotKeys();
    QVERIFY(hotKeys && other);
    QString error;
    QVERIFY(other->registerHotKey(ctrlAltK, &error) > 0);
    QVERIFY(hotKeys->isHeldElsewhere(ctrlAltK));
    QVERIFY(!other->isHeldElsewhere(ctrlAltK)); // its own grab never counts
    QCOMPARE(hotKeys->registerHotKey(ctrlAltK, &error), 0);
    QCOMPARE(error, "다른 앱이 이미 이 키 조합을 잡고 있음");
    // Probing took nothing: the other client still gets the key.
    QSignalSpy otherReleased(other.get(), &GlobalHotKeys::released);
    QVERIFY(xdotool({"key", "ctrl+alt+k"}));
    QTRY_COMPARE(otherReleased.count(), 1);
    Registry registry(defaults, hotKeys.get());
    int opened = 0;
    registry.onKeyUp(Name::newShelf(), [&] { ++opened; });
    FakeDesktop desktop; // records the recorder's alert
    Recorder recorder(Name::newShelf(), registry);
    recorder.show();
    recorder.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&recorder));
    QVERIFY(xdotool({"key", "ctrl+alt+m"}));
    QTRY_COMPARE(opened, 1);

    // Recording holds the whole keyboard, so another client's grab does not take the key: the
    // recorder sees it, and refuses it.
    QTest::mouseClick(&recorder, Qt::LeftButton);
    QTRY_VERIFY(isKeyboardGrabbed());
    QVERIFY(xdotool({"key", "ctrl+alt+k"}));
    QTRY_COMPARE(desktop.dialogs().alerts().size(), 1);
    QCOMPARE(desktop.dialogs().alerts().first().text, Recorder::usedBySystemText());
    QVERIFY(!recorder.isRecording());
    QVERIFY(!registry.isRecorderActive());
    QVERIFY(defaults.shortcut("newShelf").isEmpty());

    QTest::mouseClick(&recorder, Qt::LeftButton);
    QTRY_VERIFY(isKeyboardGrabbed());
    QVERIFY(xdotool({"key", "super+shift+k"}));
    QTRY_COMPARE(defaults.shortcut("newShelf"), R"({"carbonKeyCode":40,"carbonModifiers":768})");
    // The recorder lets go of the keyboard; until then no grab of a single key can act.
    QTRY_VERIFY(!isKeyboardGrabbed());
    // The new combination acts at once.
    QVERIFY(xdotool({"key", "super+shift+k"}));
    QTRY_COMPARE(opened, 2);
    // Once the other client is gone, its combination is free.
    other.reset();
    QVERIFY(!hotKeys->isHeldElsewhere(ctrlAltK));
    QVERIFY(hotKeys->registerHotKey(ctrlAltK, &error) > 0);
}

QTEST_MAIN(TestX11HotKeys)
#include "tst_x11hotkeys.moc"
