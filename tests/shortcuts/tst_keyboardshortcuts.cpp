// Global shortcuts: the stored JSON text of a shortcut, the two slots over the preferences and a
// hot-key facility that the test presses by hand, and the recorder that changes them.

#include "core/Defaults.h"
#include "logic/CarbonKeys.h"
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

    void codeWithoutKey();
    void storedForms_data();
    void storedForms();
    void unreadableJson_data();
    void unreadableJson();
    void storedTextSurvivesTheSettingsFile();

    void slotsRegisterWithTheFirstActionAndFollowChanges();

    void recorder();

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

void TestKeyboardShortcuts::codeWithoutKey()
{
    // The keypad's clear key has a code but no key here: the shortcut stays, shown by its number.
    const Shortcut shortcut{71, 6144};
    QCOMPARE(shortcut.hotKeyCombination(), std::nullopt);
    QVERIFY(shortcut.keySequence().isEmpty());
    QCOMPARE(shortcut.description(), QString("Ctrl+Alt+#71"));
}

void TestKeyboardShortcuts::storedForms_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("carbon");
    QTest::addColumn<QString>("json");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QKeySequence>("sequence");
    QTest::newRow("Ctrl+Alt+M") << 46 << 6144 << R"({"carbonKeyCode":46,"carbonModifiers":6144})"
                                << "Ctrl+Alt+M" << QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_M);
    QTest::newRow("Super+Shift+K")
        << 40 << 768 << R"({"carbonKeyCode":40,"carbonModifiers":768})"
        << "Shift+Super+K" << QKeySequence(Qt::META | Qt::SHIFT | Qt::Key_K);
    QTest::newRow("function bit is not shown")
        << 96 << 131072 << R"({"carbonKeyCode":96,"carbonModifiers":131072})"
        << "F5" << QKeySequence(Qt::Key_F5);
    QTest::newRow("keypad") << 83 << 4096 << R"({"carbonKeyCode":83,"carbonModifiers":4096})"
                            << "Ctrl+Num 1"
                            << QKeySequence(QKeyCombination(
                                   Qt::ControlModifier | Qt::KeypadModifier, Qt::Key_1));
}

void TestKeyboardShortcuts::storedForms()
{
    QFETCH(int, code);
    QFETCH(int, carbon);
    QFETCH(QString, json);
    QFETCH(QString, description);
    QFETCH(QKeySequence, sequence);
    const Shortcut shortcut{code, carbon};
    QCOMPARE(shortcut.jsonString(), json);
    QCOMPARE(shortcut.description(), description);
    QCOMPARE(shortcut.keySequence(), sequence);
    QString error;
    QCOMPARE(Shortcut::fromJsonString(json, &error), shortcut);
    QVERIFY(error.isEmpty());
    // What a key press makes is the same shortcut (the function bit aside, which Qt lacks).
    if (!(carbon & CarbonKeys::Modifier::function)) {
        const QKeyCombination pressed = sequence[0];
        QCOMPARE(Shortcut::fromQt(pressed.key(), pressed.keyboardModifiers()), shortcut);
    }
}

void TestKeyboardShortcuts::unreadableJson_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("not JSON") << "Ctrl+Alt+M";
    QTest::newRow("cleared") << "false";
    QTest::newRow("no modifiers") << R"({"carbonKeyCode":46})";
    QTest::newRow("negative modifiers") << R"({"carbonKeyCode":46,"carbonModifiers":-6144})";
    QTest::newRow("key code as text") << R"({"carbonKeyCode":"46","carbonModifiers":6144})";
    QTest::newRow("fraction") << R"({"carbonKeyCode":46.5,"carbonModifiers":6144})";
    QTest::newRow("too large") << R"({"carbonKeyCode":1e12,"carbonModifiers":6144})";
}

void TestKeyboardShortcuts::unreadableJson()
{
    QFETCH(QString, text);
    QString error;
    QCOMPARE(Shortcut::fromJsonString(text, &error), std::nullopt);
    QVERIFY(!error.isEmpty());
}

void TestKeyboardShortcuts::storedTextSurvivesTheSettingsFile()
{
    // The JSON text holds commas and quotes, which the settings file must keep as one string.
    const QString json = Shortcut{40, 768}.jsonString();
    m_defaults->setShortcut("newShelf", json);
    m_defaults->sync();
    QCOMPARE(Defaults(m_dir->filePath("Vyo.conf")).shortcut("newShelf"), json);
}

void TestKeyboardShortcuts::slotsRegisterWithTheFirstActionAndFollowChanges()
{
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

void TestKeyboardShortcuts::recorder()
{
    m_registry->onKeyUp(Name::newShelf(), [] {});
    QSignalSpy active(m_registry.get(), &Registry::recorderActiveStatusDidChange);
    Recorder recorder(Name::newShelf(), *m_registry);
    QCOMPARE(recorder.text(), "Ctrl+Alt+M");
    // Recording pauses the hot keys until it ends; Escape ends it and keeps the combination.
    QTest::mouseClick(&recorder, Qt::LeftButton);
    QVERIFY(recorder.isRecording());
    QVERIFY(recorder.text().isEmpty());
    QCOMPARE(recorder.placeholderText(), "단축키를 누르세요");
    QVERIFY(m_hotKeys->registered().isEmpty());
    QTest::keyClick(&recorder, Qt::Key_Escape, Qt::NoModifier);
    QVERIFY(!recorder.isRecording());
    QCOMPARE(active.count(), 2);
    QVERIFY(m_hotKeys->isRegistered(ctrlAltM));
    QCOMPARE(recorder.text(), "Ctrl+Alt+M");
    QVERIFY(m_defaults->shortcut("newShelf").isEmpty());

    // Bare keys and Shift alone beep; a combination is recorded and shown.
    recorder.startRecording();
    QTest::keyClick(&recorder, Qt::Key_K, Qt::NoModifier);
    QTest::keyClick(&recorder, Qt::Key_K, Qt::ShiftModifier);
    QCOMPARE(m_desktop->dialogs().beeps(), 2);
    QVERIFY(recorder.isRecording());
    QTest::keyClick(&recorder, Qt::Key_K, Qt::MetaModifier | Qt::ShiftModifier);
    QVERIFY(!recorder.isRecording());
    QCOMPARE(m_defaults->shortcut("newShelf"), R"({"carbonKeyCode":40,"carbonModifiers":768})");
    QCOMPARE(recorder.text(), "Shift+Super+K");
    // A change from elsewhere shows at once.
    m_registry->reset(Name::newShelf());
    QCOMPARE(recorder.text(), "Ctrl+Alt+M");

    // Function keys work alone.
    recorder.startRecording();
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
