#pragma once

// The stored key numbering of global shortcuts and its Linux counterparts. Stored shortcuts keep
// the Carbon virtual key codes (positions on a US keyboard: 46 is M, 40 is K) and modifier bits
// (command 256, shift 512, option 2048, control 4096, function 131072); the desktop knows keys by
// X key symbols and Qt by Qt::Key. Everything here is a pure table.

#include <QString>
#include <Qt>

#include <optional>

namespace vyo::CarbonKeys {

namespace Modifier {
inline constexpr int command = 256;
inline constexpr int shift = 512;
inline constexpr int option = 2048;
inline constexpr int control = 4096;
inline constexpr int function = 131072;
} // namespace Modifier

// The unshifted X key symbol of a Carbon key code; nothing for codes without a key.
std::optional<quint32> keySymbol(int carbonKeyCode);
// The Carbon key code of an X key symbol (upper- and lower-case letters alike).
std::optional<int> carbonKeyCode(quint32 keySymbol);
// The Carbon key code of a Qt key; `keypad` tells the number pad's keys apart. Shifted symbols
// of a US keyboard (e.g. '!' for 1) name their key.
std::optional<int> carbonKeyCode(Qt::Key key, bool keypad);
// The Qt key of a Carbon key code, and whether it sits on the number pad.
std::optional<Qt::Key> qtKey(int carbonKeyCode, bool *keypad = nullptr);
// The key's label in shortcut texts ("M", "F5", "Space"); empty for codes without a key.
QString keyLabel(int carbonKeyCode);
// Whether the key is a function key (F1–F20), the only keys usable without a modifier.
bool isFunctionKey(int carbonKeyCode);

// Modifier bits from Qt's modifiers: Ctrl → control, Alt → option, Shift → shift,
// Meta (Super) → command; no other modifier survives.
int carbonModifiers(Qt::KeyboardModifiers modifiers);
// Qt's modifiers from modifier bits, the reverse of carbonModifiers; the function bit and
// unknown bits have no Qt counterpart.
Qt::KeyboardModifiers qtModifiers(int carbonModifiers);

} // namespace vyo::CarbonKeys
