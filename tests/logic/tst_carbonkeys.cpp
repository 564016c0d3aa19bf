// Stored shortcuts keep Carbon virtual key codes: every key's code, from the published list of
// virtual key codes, against its X key symbol (keysymdef.h), both ways.

#include "logic/CarbonKeys.h"

#include <QTest>

using namespace vyo;

class TestCarbonKeys : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void keyCodes();
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
    }
    QCOMPARE(CarbonKeys::carbonKeyCode(quint32('M')), std::optional<int>(46));
    for (const int code : {10, 52, 127, -1})
        QCOMPARE(CarbonKeys::keySymbol(code), std::nullopt);
}

QTEST_GUILESS_MAIN(TestCarbonKeys)
#include "tst_carbonkeys.moc"
