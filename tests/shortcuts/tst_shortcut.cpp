// The stored key numbering: Carbon key codes and modifier bits against X key symbols, Qt keys and
// labels, and the stored JSON text of a shortcut.

#include "core/Defaults.h"
#include "logic/CarbonKeys.h"
#include "shortcuts/Shortcut.h"

#include <QTemporaryDir>
#include <QTest>

using namespace vyo;
using KeyboardShortcuts::Shortcut;

class TestShortcut : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void keyTable_data();
    void keyTable();
    void everyKeyHasOneCode();
    void codesWithoutKey();
    void modifiers();
    void storedForms_data();
    void storedForms();
    void unreadableJson_data();
    void unreadableJson();
    void storedTextSurvivesTheSettingsFile();
};

void TestShortcut::keyTable_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<quint32>("keySymbol");
    QTest::addColumn<int>("qtKey");
    QTest::addColumn<bool>("keypad");
    QTest::addColumn<QString>("label");
    QTest::newRow("M") << 46 << quint32('m') << int(Qt::Key_M) << false << "M";
    QTest::newRow("return") << 36 << quint32(0xff0d) << int(Qt::Key_Return) << false << "Enter";
    QTest::newRow("forward delete")
        << 117 << quint32(0xffff) << int(Qt::Key_Delete) << false << "Del";
    QTest::newRow("help is insert")
        << 114 << quint32(0xff63) << int(Qt::Key_Insert) << false << "Ins";
    QTest::newRow("keypad 5") << 87 << quint32(0xffb5) << int(Qt::Key_5) << true << "Num 5";
    QTest::newRow("keypad enter") << 76 << quint32(0xff8d) << int(Qt::Key_Enter) << true
                                  << "Num Enter";
}

void TestShortcut::keyTable()
{
    QFETCH(int, code);
    QFETCH(quint32, keySymbol);
    QFETCH(int, qtKey);
    QFETCH(bool, keypad);
    QFETCH(QString, label);
    QCOMPARE(CarbonKeys::keySymbol(code), keySymbol);
    QCOMPARE(CarbonKeys::carbonKeyCode(keySymbol), code);
    QCOMPARE(CarbonKeys::carbonKeyCode(Qt::Key(qtKey), keypad), code);
    bool isKeypad = !keypad;
    QCOMPARE(CarbonKeys::qtKey(code, &isKeypad), Qt::Key(qtKey));
    QCOMPARE(isKeypad, keypad);
    QCOMPARE(CarbonKeys::keyLabel(code), label);
}

void TestShortcut::everyKeyHasOneCode()
{
    // Over every printable and function key symbol: a symbol with a code is the one that code
    // stands for, and the code leads through its Qt key back to itself.
    QList<quint32> symbols;
    for (quint32 symbol = 0x20; symbol < 0x7f; ++symbol)
        symbols.append(symbol);
    for (quint32 symbol = 0xff00; symbol <= 0xffff; ++symbol)
        symbols.append(symbol);
    int keys = 0;
    for (const quint32 symbol : std::as_const(symbols)) {
        const std::optional<int> code = CarbonKeys::carbonKeyCode(symbol);
        if (!code)
            continue;
        ++keys;
        const quint32 plain = symbol >= 'A' && symbol <= 'Z' ? symbol + ('a' - 'A') : symbol;
        QCOMPARE(CarbonKeys::keySymbol(*code), plain);
        bool keypad = false;
        const std::optional<Qt::Key> key = CarbonKeys::qtKey(*code, &keypad);
        QVERIFY(key);
        QCOMPARE(CarbonKeys::carbonKeyCode(*key, keypad), code);
        QVERIFY(!CarbonKeys::keyLabel(*code).isEmpty());
    }
    QVERIFY(keys > 100);
}

void TestShortcut::codesWithoutKey()
{
    // The keypad's clear key, a gap in the numbering, far beyond the table.
    for (const int code : {71, 52, 2'000'000'000}) {
        QCOMPARE(CarbonKeys::keySymbol(code), std::nullopt);
        QCOMPARE(CarbonKeys::qtKey(code), std::nullopt);
        QVERIFY(CarbonKeys::keyLabel(code).isEmpty());
        const Shortcut shortcut{code, 6144};
        QCOMPARE(shortcut.hotKeyCombination(), std::nullopt);
        QVERIFY(shortcut.keySequence().isEmpty());
        QCOMPARE(shortcut.description(), QString("Ctrl+Alt+#%1").arg(code));
    }
}

void TestShortcut::modifiers()
{
    const std::pair<Qt::KeyboardModifier, int> pairs[] = {{Qt::ControlModifier, 4096},
                                                          {Qt::AltModifier, 2048},
                                                          {Qt::ShiftModifier, 512},
                                                          {Qt::MetaModifier, 256}};
    Qt::KeyboardModifiers all;
    for (const auto &[modifier, bit] : pairs) {
        QCOMPARE(CarbonKeys::carbonModifiers(modifier), bit);
        QCOMPARE(CarbonKeys::qtModifiers(bit), modifier);
        all |= modifier;
    }
    QCOMPARE(CarbonKeys::carbonModifiers(all), 6912);
    QCOMPARE(CarbonKeys::qtModifiers(6912), all);
    // Only the four survive: the number pad flag and AltGr do not; the function bit and unknown
    // bits have no Qt counterpart.
    QCOMPARE(CarbonKeys::carbonModifiers(Qt::KeypadModifier | Qt::GroupSwitchModifier), 0);
    QCOMPARE(CarbonKeys::qtModifiers(CarbonKeys::Modifier::function | 1 | 1024), Qt::NoModifier);
}

void TestShortcut::storedForms_data()
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

void TestShortcut::storedForms()
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
    // Spacing and member order of another writer do not matter.
    const QString spaced =
        QString(R"( { "carbonModifiers" : %1, "carbonKeyCode" : %2 } )").arg(carbon).arg(code);
    QCOMPARE(Shortcut::fromJsonString(spaced), shortcut);
    // What a key press makes is the same shortcut (the function bit aside, which Qt lacks).
    if (!(carbon & CarbonKeys::Modifier::function)) {
        const QKeyCombination pressed = sequence[0];
        QCOMPARE(Shortcut::fromQt(pressed.key(), pressed.keyboardModifiers()), shortcut);
    }
}

void TestShortcut::unreadableJson_data()
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

void TestShortcut::unreadableJson()
{
    QFETCH(QString, text);
    QString error;
    QCOMPARE(Shortcut::fromJsonString(text, &error), std::nullopt);
    QVERIFY(!error.isEmpty());
}

void TestShortcut::storedTextSurvivesTheSettingsFile()
{
    // The JSON text holds commas and quotes, which the settings file must keep as one string.
    QTemporaryDir dir;
    const QString path = dir.filePath("Vyo.conf");
    const QString json = Shortcut{40, 768}.jsonString();
    {
        Defaults defaults(path);
        defaults.setShortcut("newShelf", json);
        defaults.sync();
    }
    QCOMPARE(Defaults(path).shortcut("newShelf"), json);
}

QTEST_GUILESS_MAIN(TestShortcut)
#include "tst_shortcut.moc"
