// Stored shortcuts keep Carbon virtual key codes and modifier bits: every key's code, from the
// published list of virtual key codes, against its X key symbol (keysymdef.h) both ways and through
// its Qt key; the labels; the modifier bits.

#include "logic/CarbonKeys.h"

#include <QTest>

using namespace vyo;

class TestCarbonKeys : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void keyCodes();
    void qtKeys_data();
    void qtKeys();
    void modifiers();
};

void TestCarbonKeys::keyCodes()
{
    // Codes 0 to 50 are the characters of this line, in order ('#' where the code has no key or
    // no character: 10 is missing, 36 is Return and 48 is Tab).
    const QByteArray characters = "asdfhgzxcv#bqweryt123465=97-80]ou[ip#lj'k;\\,/nm.# `";
    QList<std::pair<int, quint32>> keys;
    for (int code = 0; code < characters.size(); ++code) {
        if (characters[code] != '#')
            keys.append({code, quint32(characters[code])});
    }
    const quint32 f1 = 0xffbe;
    const quint32 keypad0 = 0xffb0;
    keys += {{36, 0xff0d},      {48, 0xff09},      {51, 0xff08},      {53, 0xff1b},
             {64, f1 + 16},     {65, 0xffae},      {67, 0xffaa},      {69, 0xffab},
             {75, 0xffaf},      {76, 0xff8d},      {78, 0xffad},      {79, f1 + 17},
             {80, f1 + 18},     {81, 0xffbd},      {82, keypad0},     {83, keypad0 + 1},
             {84, keypad0 + 2}, {85, keypad0 + 3}, {86, keypad0 + 4}, {87, keypad0 + 5},
             {88, keypad0 + 6}, {89, keypad0 + 7}, {90, f1 + 19},     {91, keypad0 + 8},
             {92, keypad0 + 9}, {96, f1 + 4},      {97, f1 + 5},      {98, f1 + 6},
             {99, f1 + 2},      {100, f1 + 7},     {101, f1 + 8},     {103, f1 + 10},
             {105, f1 + 12},    {106, f1 + 15},    {107, f1 + 13},    {109, f1 + 9},
             {111, f1 + 11},    {113, f1 + 14},    {114, 0xff63},     {115, 0xff50},
             {116, 0xff55},     {117, 0xffff},     {118, f1 + 3},     {119, 0xff57},
             {120, f1 + 1},     {121, 0xff56},     {122, f1},         {123, 0xff51},
             {124, 0xff53},     {125, 0xff54},     {126, 0xff52}};
    for (const auto &[code, symbol] : keys) {
        QCOMPARE(CarbonKeys::keySymbol(code), std::optional<quint32>(symbol));
        QCOMPARE(CarbonKeys::carbonKeyCode(symbol), std::optional<int>(code));
        bool keypad = false;
        const std::optional<Qt::Key> key = CarbonKeys::qtKey(code, &keypad);
        QVERIFY(key);
        QCOMPARE(CarbonKeys::carbonKeyCode(*key, keypad), std::optional<int>(code));
        QVERIFY(!CarbonKeys::keyLabel(code).isEmpty());
    }
    QCOMPARE(CarbonKeys::carbonKeyCode(quint32('M')), std::optional<int>(46));
    // A gap in the numbering, the keypad's clear key (no key here), beyond the table.
    for (const int code : {10, 52, 71, 127, -1, 2'000'000'000}) {
        QCOMPARE(CarbonKeys::keySymbol(code), std::nullopt);
        QCOMPARE(CarbonKeys::qtKey(code), std::nullopt);
        QVERIFY(CarbonKeys::keyLabel(code).isEmpty());
    }
}

void TestCarbonKeys::qtKeys_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("qtKey");
    QTest::addColumn<bool>("keypad");
    QTest::addColumn<QString>("label");
    QTest::newRow("M") << 46 << int(Qt::Key_M) << false << "M";
    QTest::newRow("return") << 36 << int(Qt::Key_Return) << false << "Enter";
    QTest::newRow("forward delete") << 117 << int(Qt::Key_Delete) << false << "Del";
    QTest::newRow("help is insert") << 114 << int(Qt::Key_Insert) << false << "Ins";
    QTest::newRow("keypad 5") << 87 << int(Qt::Key_5) << true << "Num 5";
    QTest::newRow("keypad enter") << 76 << int(Qt::Key_Enter) << true << "Num Enter";
}

void TestCarbonKeys::qtKeys()
{
    QFETCH(int, code);
    QFETCH(int, qtKey);
    QFETCH(bool, keypad);
    QFETCH(QString, label);
    QCOMPARE(CarbonKeys::carbonKeyCode(Qt::Key(qtKey), keypad), code);
    bool isKeypad = !keypad;
    QCOMPARE(CarbonKeys::qtKey(code, &isKeypad), Qt::Key(qtKey));
    QCOMPARE(isKeypad, keypad);
    QCOMPARE(CarbonKeys::keyLabel(code), label);
    // Enter and Return are one key unless the number pad is meant; a key the pad lacks is the plain
    // one.
    QCOMPARE(CarbonKeys::carbonKeyCode(Qt::Key_Enter, false), 76);
    QCOMPARE(CarbonKeys::carbonKeyCode(Qt::Key_M, true), 46);
}

void TestCarbonKeys::modifiers()
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
    QCOMPARE(CarbonKeys::qtModifiers(6912), all);
    // Only the four survive: the number pad flag and AltGr do not; the function bit and unknown
    // bits have no Qt counterpart.
    QCOMPARE(CarbonKeys::carbonModifiers(Qt::KeypadModifier | Qt::GroupSwitchModifier), 0);
    QCOMPARE(CarbonKeys::qtModifiers(CarbonKeys::Modifier::function | 1 | 1024), Qt::NoModifier);
}

QTEST_GUILESS_MAIN(TestCarbonKeys)
#include "tst_carbonkeys.moc"
