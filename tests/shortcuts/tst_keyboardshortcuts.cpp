// The two shortcut slots over the preferences and a hot-key facility that the test presses by
// hand, and the recorder that changes them.

#include "core/Defaults.h"
#include "platform/fake/FakeDesktop.h"
#include "platform/fake/FakeHotKeys.h"
#include "shortcuts/KeyboardShortcuts.h"
#include "shortcuts/Recorder.h"

#include "TestSupport.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace vyo;
using namespace vyo::KeyboardShortcuts;

namespace {

const HotKeyCombination ctrlAltM{'m', Qt::ControlModifier | Qt::AltModifier};
const HotKeyCombination ctrlAltShiftM{'m',
                                      Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier};
const HotKeyCombination superShiftK{'k', Qt::MetaModifier | Qt::ShiftModifier};

} // namespace

class TestKeyboardShortcuts : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void slotsRegisterWithTheFirstActionAndFollowChanges();
    void failedRegistrationLeavesSlotInactive();

    void recorderShowsAndRecords();
    void recorderKeys();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Defaults> m_defaults;
    std::unique_ptr<FakeHotKeys> m_hotKeys;
    std::unique_ptr<Registry> m_registry;
    std::unique_ptr<FakeDesktop> m_desktop;
};

void TestKeyboardShortcuts::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_defaults = std::make_unique<Defaults>(m_dir->filePath("Vyo.conf"));
    m_hotKeys = std::make_unique<FakeHotKeys>();
    m_registry = std::make_unique<Registry>(*m_defaults, m_hotKeys.get());
    m_desktop = std::make_unique<FakeDesktop>();
}

void TestKeyboardShortcuts::cleanup()
{
    m_desktop.reset();
    m_registry.reset();
    m_hotKeys.reset();
    m_defaults.reset();
    m_dir.reset();
}

void TestKeyboardShortcuts::slotsRegisterWithTheFirstActionAndFollowChanges()
{
    QCOMPARE(m_registry->shortcut(Name::reopenShelf()), (Shortcut{46, 6656}));
    QVERIFY(m_hotKeys->registered().isEmpty());
    int opened = 0;
    int reopened = 0;
    m_registry->onKeyUp(Name::newShelf(), [&] { ++opened; });
    m_registry->onKeyUp(Name::reopenShelf(), [&] { ++reopened; });
    QCOMPARE(m_hotKeys->registered(), (QList<HotKeyCombination>{ctrlAltM, ctrlAltShiftM}));
    // A second action for a slot does not register it twice.
    m_registry->onKeyUp(Name::newShelf(), [] {});
    QCOMPARE(m_hotKeys->registrationCount(), 2);
    // The action runs when the key goes up.
    QVERIFY(m_hotKeys->press(ctrlAltM));
    QCOMPARE(opened, 0);
    QVERIFY(m_hotKeys->release(ctrlAltM));
    QCOMPARE(opened, 1);
    QVERIFY(m_hotKeys->pressAndRelease(ctrlAltShiftM));
    QCOMPARE(reopened, 1);

    // A new combination replaces the old at once; the same value again changes nothing.
    QSignalSpy changed(m_registry.get(), &Registry::shortcutByNameDidChange);
    m_registry->setShortcut(Shortcut{40, 768}, Name::newShelf());
    m_registry->setShortcut(Shortcut{40, 768}, Name::newShelf());
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.first().first().toString(), "newShelf");
    QVERIFY(!m_hotKeys->pressAndRelease(ctrlAltM));
    QVERIFY(m_hotKeys->pressAndRelease(superShiftK));
    QCOMPARE(opened, 2);
    m_registry->reset(Name::newShelf());
    QCOMPARE(m_registry->shortcut(Name::newShelf()), (Shortcut{46, 6144}));
    QVERIFY(!m_hotKeys->isRegistered(superShiftK));

    // Cleared, the slot keeps the default away, also in the next launch; its action stays for a
    // later recording.
    m_registry->setShortcut(std::nullopt, Name::newShelf());
    QCOMPARE(m_defaults->shortcut("newShelf"), "false");
    QCOMPARE(m_registry->shortcut(Name::newShelf()), std::nullopt);
    QVERIFY(!m_hotKeys->isRegistered(ctrlAltM));
    FakeHotKeys otherKeys;
    Registry next(*m_defaults, &otherKeys);
    next.onKeyUp(Name::newShelf(), [] {});
    QVERIFY(otherKeys.registered().isEmpty());
    m_registry->setShortcut(Shortcut{40, 768}, Name::newShelf());
    QVERIFY(m_hotKeys->pressAndRelease(superShiftK));
    QCOMPARE(opened, 3);
}

void TestKeyboardShortcuts::failedRegistrationLeavesSlotInactive()
{
    m_hotKeys->setHeldElsewhere(ctrlAltM);
    int opened = 0;
    int reopened = 0;
    m_registry->onKeyUp(Name::newShelf(), [&] { ++opened; });
    m_registry->onKeyUp(Name::reopenShelf(), [&] { ++reopened; });
    QVERIFY(!m_registry->isRegistered("newShelf"));
    QVERIFY(!m_hotKeys->pressAndRelease(ctrlAltM));
    // The other slot is unaffected.
    QVERIFY(m_hotKeys->pressAndRelease(ctrlAltShiftM));
    QCOMPARE(reopened, 1);

    // Once the other application lets go, the next change registers it.
    m_hotKeys->setHeldElsewhere(ctrlAltM, false);
    m_registry->setRecorderActive(true);
    m_registry->setRecorderActive(false);
    QVERIFY(m_hotKeys->pressAndRelease(ctrlAltM));
    QCOMPARE(opened, 1);
}

void TestKeyboardShortcuts::recorderShowsAndRecords()
{
    int opened = 0;
    m_registry->onKeyUp(Name::newShelf(), [&] { ++opened; });
    QSignalSpy active(m_registry.get(), &Registry::recorderActiveStatusDidChange);
    Recorder recorder(Name::newShelf(), *m_registry);
    QCOMPARE(recorder.text(), "Ctrl+Alt+M");

    // Recording pauses the hot keys until it ends.
    QTest::mouseClick(&recorder, Qt::LeftButton);
    QVERIFY(recorder.isRecording());
    QVERIFY(recorder.text().isEmpty());
    QCOMPARE(recorder.placeholderText(), "단축키를 누르세요");
    QVERIFY(m_hotKeys->registered().isEmpty());
    QCOMPARE(active.count(), 1);

    QTest::keyClick(&recorder, Qt::Key_K, Qt::MetaModifier | Qt::ShiftModifier);
    QVERIFY(!recorder.isRecording());
    QCOMPARE(active.count(), 2);
    QVERIFY(!m_registry->isRecorderActive());
    QCOMPARE(m_defaults->shortcut("newShelf"), R"({"carbonKeyCode":40,"carbonModifiers":768})");
    QCOMPARE(recorder.text(), "Shift+Super+K");
    QVERIFY(m_hotKeys->pressAndRelease(superShiftK));
    QCOMPARE(opened, 1);

    // A change from elsewhere shows at once.
    m_registry->reset(Name::newShelf());
    QCOMPARE(recorder.text(), "Ctrl+Alt+M");
}

void TestKeyboardShortcuts::recorderKeys()
{
    m_registry->onKeyUp(Name::newShelf(), [] {});
    Recorder recorder(Name::newShelf(), *m_registry);
    // Escape stops recording and keeps the combination.
    recorder.startRecording();
    QTest::keyClick(&recorder, Qt::Key_Escape, Qt::NoModifier);
    QVERIFY(!recorder.isRecording());
    QCOMPARE(recorder.text(), "Ctrl+Alt+M");
    QVERIFY(m_defaults->shortcut("newShelf").isEmpty());

    // Bare keys and Shift alone beep; function keys work alone.
    recorder.startRecording();
    QTest::keyClick(&recorder, Qt::Key_K, Qt::NoModifier);
    QTest::keyClick(&recorder, Qt::Key_K, Qt::ShiftModifier);
    QCOMPARE(m_desktop->dialogs().beeps(), 2);
    QVERIFY(recorder.isRecording());
    QTest::keyClick(&recorder, Qt::Key_F6, Qt::NoModifier);
    QCOMPARE(m_defaults->shortcut("newShelf"), R"({"carbonKeyCode":97,"carbonModifiers":0})");
    QCOMPARE(m_desktop->dialogs().beeps(), 2);

    // With another keyboard layout the K key types another symbol; the stored code names the key.
    m_hotKeys->setBaseKeySymbol(45, 'k');
    recorder.startRecording();
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Eacute, Qt::ControlModifier | Qt::AltModifier, 45,
                    0xe9, 0, QStringLiteral("é"));
    QApplication::sendEvent(&recorder, &press);
    QCOMPARE(m_defaults->shortcut("newShelf"), R"({"carbonKeyCode":40,"carbonModifiers":6144})");

    // The clear button, and Backspace while recording, clear the slot.
    QAction *clear = recorder.findChild<QAction *>("clearShortcut");
    QVERIFY(clear && clear->isVisible());
    clear->trigger();
    QCOMPARE(m_defaults->shortcut("newShelf"), "false");
    QVERIFY(recorder.text().isEmpty());
    QCOMPARE(recorder.placeholderText(), "단축키 기록");
    QVERIFY(!clear->isVisible());
    QVERIFY(m_hotKeys->registered().isEmpty());
    m_registry->reset(Name::newShelf());
    recorder.startRecording();
    QTest::keyClick(&recorder, Qt::Key_Backspace, Qt::NoModifier);
    QCOMPARE(m_defaults->shortcut("newShelf"), "false");
}

QTEST_MAIN(TestKeyboardShortcuts)
#include "tst_keyboardshortcuts.moc"
