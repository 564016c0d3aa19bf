#include "logic/CarbonKeys.h"

#include <array>

namespace vyo::CarbonKeys {

namespace {

// X key symbols of the keys that are not Latin-1 characters (keysymdef.h).
namespace Sym {
inline constexpr quint32 backSpace = 0xff08, tab = 0xff09, returnKey = 0xff0d, escape = 0xff1b,
                         home = 0xff50, left = 0xff51, up = 0xff52, right = 0xff53, down = 0xff54,
                         pageUp = 0xff55, pageDown = 0xff56, end = 0xff57, insert = 0xff63,
                         keypadEnter = 0xff8d, keypadMultiply = 0xffaa, keypadAdd = 0xffab,
                         keypadSubtract = 0xffad, keypadDecimal = 0xffae, keypadDivide = 0xffaf,
                         keypad0 = 0xffb0, keypadEqual = 0xffbd, f1 = 0xffbe, deleteKey = 0xffff;
} // namespace Sym

struct Key
{
    int carbonKeyCode;
    quint32 keySymbol;
    int qtKey;
    bool keypad;
    const char *label;
};

// One row per key of a US keyboard that a global shortcut can use. The Help key of Apple
// keyboards sits where PC keyboards have Insert.
constexpr std::array keys = std::to_array<Key>({
    {0, 'a', Qt::Key_A, false, "A"},
    {1, 's', Qt::Key_S, false, "S"},
    {2, 'd', Qt::Key_D, false, "D"},
    {3, 'f', Qt::Key_F, false, "F"},
    {4, 'h', Qt::Key_H, false, "H"},
    {5, 'g', Qt::Key_G, false, "G"},
    {6, 'z', Qt::Key_Z, false, "Z"},
    {7, 'x', Qt::Key_X, false, "X"},
    {8, 'c', Qt::Key_C, false, "C"},
    {9, 'v', Qt::Key_V, false, "V"},
    {11, 'b', Qt::Key_B, false, "B"},
    {12, 'q', Qt::Key_Q, false, "Q"},
    {13, 'w', Qt::Key_W, false, "W"},
    {14, 'e', Qt::Key_E, false, "E"},
    {15, 'r', Qt::Key_R, false, "R"},
    {16, 'y', Qt::Key_Y, false, "Y"},
    {17, 't', Qt::Key_T, false, "T"},
    {18, '1', Qt::Key_1, false, "1"},
    {19, '2', Qt::Key_2, false, "2"},
    {20, '3', Qt::Key_3, false, "3"},
    {21, '4', Qt::Key_4, false, "4"},
    {22, '6', Qt::Key_6, false, "6"},
    {23, '5', Qt::Key_5, false, "5"},
    {24, '=', Qt::Key_Equal, false, "="},
    {25, '9', Qt::Key_9, false, "9"},
    {26, '7', Qt::Key_7, false, "7"},
    {27, '-', Qt::Key_Minus, false, "-"},
    {28, '8', Qt::Key_8, false, "8"},
    {29, '0', Qt::Key_0, false, "0"},
    {30, ']', Qt::Key_BracketRight, false, "]"},
    {31, 'o', Qt::Key_O, false, "O"},
    {32, 'u', Qt::Key_U, false, "U"},
    {33, '[', Qt::Key_BracketLeft, false, "["},
    {34, 'i', Qt::Key_I, false, "I"},
    {35, 'p', Qt::Key_P, false, "P"},
    {36, Sym::returnKey, Qt::Key_Return, false, "Enter"},
    {37, 'l', Qt::Key_L, false, "L"},
    {38, 'j', Qt::Key_J, false, "J"},
    {39, '\'', Qt::Key_Apostrophe, false, "'"},
    {40, 'k', Qt::Key_K, false, "K"},
    {41, ';', Qt::Key_Semicolon, false, ";"},
    {42, '\\', Qt::Key_Backslash, false, "\\"},
    {43, ',', Qt::Key_Comma, false, ","},
    {44, '/', Qt::Key_Slash, false, "/"},
    {45, 'n', Qt::Key_N, false, "N"},
    {46, 'm', Qt::Key_M, false, "M"},
    {47, '.', Qt::Key_Period, false, "."},
    {48, Sym::tab, Qt::Key_Tab, false, "Tab"},
    {49, ' ', Qt::Key_Space, false, "Space"},
    {50, '`', Qt::Key_QuoteLeft, false, "`"},
    {51, Sym::backSpace, Qt::Key_Backspace, false, "Backspace"},
    {53, Sym::escape, Qt::Key_Escape, false, "Esc"},
    {64, Sym::f1 + 16, Qt::Key_F17, false, "F17"},
    {65, Sym::keypadDecimal, Qt::Key_Period, true, "Num ."},
    {67, Sym::keypadMultiply, Qt::Key_Asterisk, true, "Num *"},
    {69, Sym::keypadAdd, Qt::Key_Plus, true, "Num +"},
    {75, Sym::keypadDivide, Qt::Key_Slash, true, "Num /"},
    {76, Sym::keypadEnter, Qt::Key_Enter, true, "Num Enter"},
    {78, Sym::keypadSubtract, Qt::Key_Minus, true, "Num -"},
    {79, Sym::f1 + 17, Qt::Key_F18, false, "F18"},
    {80, Sym::f1 + 18, Qt::Key_F19, false, "F19"},
    {81, Sym::keypadEqual, Qt::Key_Equal, true, "Num ="},
    {82, Sym::keypad0 + 0, Qt::Key_0, true, "Num 0"},
    {83, Sym::keypad0 + 1, Qt::Key_1, true, "Num 1"},
    {84, Sym::keypad0 + 2, Qt::Key_2, true, "Num 2"},
    {85, Sym::keypad0 + 3, Qt::Key_3, true, "Num 3"},
    {86, Sym::keypad0 + 4, Qt::Key_4, true, "Num 4"},
    {87, Sym::keypad0 + 5, Qt::Key_5, true, "Num 5"},
    {88, Sym::keypad0 + 6, Qt::Key_6, true, "Num 6"},
    {89, Sym::keypad0 + 7, Qt::Key_7, true, "Num 7"},
    {90, Sym::f1 + 19, Qt::Key_F20, false, "F20"},
    {91, Sym::keypad0 + 8, Qt::Key_8, true, "Num 8"},
    {92, Sym::keypad0 + 9, Qt::Key_9, true, "Num 9"},
    {96, Sym::f1 + 4, Qt::Key_F5, false, "F5"},
    {97, Sym::f1 + 5, Qt::Key_F6, false, "F6"},
    {98, Sym::f1 + 6, Qt::Key_F7, false, "F7"},
    {99, Sym::f1 + 2, Qt::Key_F3, false, "F3"},
    {100, Sym::f1 + 7, Qt::Key_F8, false, "F8"},
    {101, Sym::f1 + 8, Qt::Key_F9, false, "F9"},
    {103, Sym::f1 + 10, Qt::Key_F11, false, "F11"},
    {105, Sym::f1 + 12, Qt::Key_F13, false, "F13"},
    {106, Sym::f1 + 15, Qt::Key_F16, false, "F16"},
    {107, Sym::f1 + 13, Qt::Key_F14, false, "F14"},
    {109, Sym::f1 + 9, Qt::Key_F10, false, "F10"},
    {111, Sym::f1 + 11, Qt::Key_F12, false, "F12"},
    {113, Sym::f1 + 14, Qt::Key_F15, false, "F15"},
    {114, Sym::insert, Qt::Key_Insert, false, "Ins"},
    {115, Sym::home, Qt::Key_Home, false, "Home"},
    {116, Sym::pageUp, Qt::Key_PageUp, false, "PgUp"},
    {117, Sym::deleteKey, Qt::Key_Delete, false, "Del"},
    {118, Sym::f1 + 3, Qt::Key_F4, false, "F4"},
    {119, Sym::end, Qt::Key_End, false, "End"},
    {120, Sym::f1 + 1, Qt::Key_F2, false, "F2"},
    {121, Sym::pageDown, Qt::Key_PageDown, false, "PgDown"},
    {122, Sym::f1 + 0, Qt::Key_F1, false, "F1"},
    {123, Sym::left, Qt::Key_Left, false, "Left"},
    {124, Sym::right, Qt::Key_Right, false, "Right"},
    {125, Sym::down, Qt::Key_Down, false, "Down"},
    {126, Sym::up, Qt::Key_Up, false, "Up"},
});

// Symbols typed with Shift on a US keyboard, and the unshifted key they share.
constexpr std::array<std::pair<int, int>, 21> shiftedSymbols{{
    {Qt::Key_Exclam, Qt::Key_1},
    {Qt::Key_At, Qt::Key_2},
    {Qt::Key_NumberSign, Qt::Key_3},
    {Qt::Key_Dollar, Qt::Key_4},
    {Qt::Key_Percent, Qt::Key_5},
    {Qt::Key_AsciiCircum, Qt::Key_6},
    {Qt::Key_Ampersand, Qt::Key_7},
    {Qt::Key_Asterisk, Qt::Key_8},
    {Qt::Key_ParenLeft, Qt::Key_9},
    {Qt::Key_ParenRight, Qt::Key_0},
    {Qt::Key_Underscore, Qt::Key_Minus},
    {Qt::Key_Plus, Qt::Key_Equal},
    {Qt::Key_BraceLeft, Qt::Key_BracketLeft},
    {Qt::Key_BraceRight, Qt::Key_BracketRight},
    {Qt::Key_Colon, Qt::Key_Semicolon},
    {Qt::Key_QuoteDbl, Qt::Key_Apostrophe},
    {Qt::Key_Less, Qt::Key_Comma},
    {Qt::Key_Greater, Qt::Key_Period},
    {Qt::Key_Question, Qt::Key_Slash},
    {Qt::Key_AsciiTilde, Qt::Key_QuoteLeft},
    {Qt::Key_Bar, Qt::Key_Backslash},
}};

const Key *keyWithCode(int carbonKeyCode)
{
    for (const Key &key : keys) {
        if (key.carbonKeyCode == carbonKeyCode)
            return &key;
    }
    return nullptr;
}

} // namespace

std::optional<quint32> keySymbol(int carbonKeyCode)
{
    if (const Key *key = keyWithCode(carbonKeyCode))
        return key->keySymbol;
    return std::nullopt;
}

std::optional<int> carbonKeyCode(quint32 keySymbol)
{
    if (keySymbol >= 'A' && keySymbol <= 'Z')
        keySymbol += 'a' - 'A';
    for (const Key &key : keys) {
        if (key.keySymbol == keySymbol)
            return key.carbonKeyCode;
    }
    return std::nullopt;
}

std::optional<int> carbonKeyCode(Qt::Key qtKey, bool keypad)
{
    int wanted = qtKey;
    if (qtKey == Qt::Key_Backtab)
        wanted = Qt::Key_Tab;
    if (!keypad) {
        for (const auto &[shifted, plain] : shiftedSymbols) {
            if (shifted == wanted) {
                wanted = plain;
                break;
            }
        }
    }
    for (const Key &key : keys) {
        if (key.qtKey == wanted && key.keypad == keypad)
            return key.carbonKeyCode;
    }
    // Enter and Return are one key to a user who has no number pad in mind.
    if (keypad || wanted == Qt::Key_Enter) {
        for (const Key &key : keys) {
            if (key.qtKey == wanted)
                return key.carbonKeyCode;
        }
    }
    return std::nullopt;
}

std::optional<Qt::Key> qtKey(int carbonKeyCode, bool *keypad)
{
    const Key *key = keyWithCode(carbonKeyCode);
    if (!key)
        return std::nullopt;
    if (keypad)
        *keypad = key->keypad;
    return Qt::Key(key->qtKey);
}

QString keyLabel(int carbonKeyCode)
{
    const Key *key = keyWithCode(carbonKeyCode);
    return key ? QString::fromLatin1(key->label) : QString();
}

bool isFunctionKey(int carbonKeyCode)
{
    const Key *key = keyWithCode(carbonKeyCode);
    return key && key->keySymbol >= Sym::f1 && key->keySymbol < Sym::f1 + 20;
}

int carbonModifiers(Qt::KeyboardModifiers modifiers)
{
    int bits = 0;
    if (modifiers & Qt::ControlModifier)
        bits |= Modifier::control;
    if (modifiers & Qt::AltModifier)
        bits |= Modifier::option;
    if (modifiers & Qt::ShiftModifier)
        bits |= Modifier::shift;
    if (modifiers & Qt::MetaModifier)
        bits |= Modifier::command;
    return bits;
}

Qt::KeyboardModifiers qtModifiers(int carbonModifiers)
{
    Qt::KeyboardModifiers modifiers;
    if (carbonModifiers & Modifier::control)
        modifiers |= Qt::ControlModifier;
    if (carbonModifiers & Modifier::option)
        modifiers |= Qt::AltModifier;
    if (carbonModifiers & Modifier::shift)
        modifiers |= Qt::ShiftModifier;
    if (carbonModifiers & Modifier::command)
        modifiers |= Qt::MetaModifier;
    return modifiers;
}

} // namespace vyo::CarbonKeys
