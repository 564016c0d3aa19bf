#pragma once

// Global hot keys on X11: passive key grabs on the root window, on a private connection to the X
// server so that Vyo's own windows keep their usual key handling. Each combination is grabbed
// with and without CapsLock and NumLock, and the connection asks for detectable auto-repeat, so
// a held key reports one press and one release.

#include "platform/GlobalHotKeys.h"

#include <QList>

struct _XDisplay;
struct xcb_connection_t;
class QSocketNotifier;

namespace vyo {

class X11HotKeys : public GlobalHotKeys
{
    Q_OBJECT
public:
    // Connects to the display the application shows its windows on (else $DISPLAY); nothing,
    // with the reason in `error`, when there is no X server to talk to.
    static X11HotKeys *create(QObject *parent, QString *error);
    ~X11HotKeys() override;

    bool isAvailable() const override { return true; }
    int registerHotKey(const HotKeyCombination &combination, QString *error) override;
    void unregisterHotKey(int id) override;
    bool isHeldElsewhere(const HotKeyCombination &combination) override;
    quint32 baseKeySymbol(quint32 nativeScanCode) const override;

private:
    struct Grab
    {
        int id = 0;
        HotKeyCombination combination;
        quint8 keyCode = 0;
        quint16 modifiers = 0; // X modifier mask without CapsLock and NumLock
    };

    X11HotKeys(_XDisplay *display, QObject *parent);

    void readModifierMasks();
    quint16 modifierMask(Qt::KeyboardModifiers modifiers) const;
    QList<quint16> lockVariants() const;
    // Grabs every lock variant of the key, or none of them; the reason in `error`.
    bool grab(Grab &grab, QString *error);
    void ungrab(const Grab &grab);
    void regrabAll();
    void processEvents();
    void scheduleProcessEvents();
    void handleKey(bool press, quint8 keyCode, quint16 state);

    _XDisplay *m_display = nullptr;
    xcb_connection_t *m_connection = nullptr;
    quint32 m_root = 0;
    quint16 m_altMask = 0;
    quint16 m_superMask = 0;
    quint16 m_numLockMask = 0;
    QSocketNotifier *m_notifier = nullptr;
    QList<Grab> m_grabs;
    int m_nextId = 1;
    // The combination whose key is down: its release is the one reported.
    int m_heldId = 0;
    quint8 m_heldKeyCode = 0;
};

} // namespace vyo
