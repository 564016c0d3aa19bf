#pragma once

// One global key combination in the stored numbering: a Carbon key code and Carbon modifier bits
// (see CarbonKeys.h). Its stored form is the JSON text {"carbonKeyCode":46,"carbonModifiers":6144}.

#include "platform/GlobalHotKeys.h"

#include <QKeySequence>
#include <QString>

#include <optional>

namespace vyo::KeyboardShortcuts {

struct Shortcut
{
    int carbonKeyCode = 0;
    int carbonModifiers = 0;

    // A shortcut from a key and Qt's modifiers; nothing for keys without a key code.
    static std::optional<Shortcut> fromQt(Qt::Key key, Qt::KeyboardModifiers modifiers);

    // The stored JSON text: an object with the integer members "carbonKeyCode" and
    // "carbonModifiers", compact, keys in that order.
    QString jsonString() const;
    // Reads a stored JSON text; nothing (with the reason in `error`) unless it is an object whose
    // two members are whole numbers from 0 up. Other members are ignored.
    static std::optional<Shortcut> fromJsonString(const QString &text, QString *error = nullptr);

    // The text form: modifiers in the order Ctrl, Alt, Shift, Super, then the key ("Ctrl+Alt+M").
    QString description() const;
    // The same combination for Qt's menus; empty for key codes without a key.
    QKeySequence keySequence() const;
    // The combination the desktop grabs; nothing for key codes without a key symbol.
    std::optional<HotKeyCombination> hotKeyCombination() const;

    friend bool operator==(const Shortcut &, const Shortcut &) = default;
};

} // namespace vyo::KeyboardShortcuts
