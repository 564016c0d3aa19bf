#pragma once

// Global hot keys: key combinations that reach Vyo while any other application is in front.
// Subsystems register combinations here and hear when one is pressed and released; how the
// desktop is asked (X11 key grabs, or nothing where the session forbids it) stays behind this
// interface.

#include <QObject>
#include <QString>

namespace vyo {

// A key combination as the desktop names it: a key symbol in the X keysym numbering (the
// unshifted symbol, e.g. 0x6d for M) and the modifiers Ctrl, Alt, Shift and Meta (= Super).
struct HotKeyCombination
{
    quint32 keySymbol = 0;
    Qt::KeyboardModifiers modifiers;

    friend bool operator==(const HotKeyCombination &, const HotKeyCombination &) = default;
};

class GlobalHotKeys : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Whether this session can register combinations at all.
    virtual bool isAvailable() const = 0;
    // Registers a combination; answers its identifier (> 0), or 0 with the reason in `error`
    // (another application holds it, the keyboard has no such key, …).
    virtual int registerHotKey(const HotKeyCombination &combination, QString *error) = 0;
    // Gives a registration back.
    virtual void unregisterHotKey(int id) = 0;
    // Whether another application holds the combination; Vyo's own registrations never count.
    virtual bool isHeldElsewhere(const HotKeyCombination &combination) = 0;
    // The unshifted key symbol of a key event's native scan code; 0 when unknown.
    virtual quint32 baseKeySymbol(quint32 nativeScanCode) const = 0;

Q_SIGNALS:
    // A registered combination went down; a held key reports no repeats.
    void pressed(int id);
    // A registered combination was released; reported once per press.
    void released(int id);
};

} // namespace vyo
