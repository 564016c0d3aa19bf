#pragma once

// Global hot keys that tests work by hand: they record what is registered, refuse combinations
// the test says another application holds, and press and release registered combinations.

#include "platform/GlobalHotKeys.h"

#include <QList>
#include <QMap>

namespace vyo {

class FakeHotKeys : public GlobalHotKeys
{
    Q_OBJECT
public:
    using GlobalHotKeys::GlobalHotKeys;

    bool isAvailable() const override { return m_available; }
    int registerHotKey(const HotKeyCombination &combination, QString *error) override;
    void unregisterHotKey(int id) override;
    bool isHeldElsewhere(const HotKeyCombination &combination) override;
    quint32 baseKeySymbol(quint32 nativeScanCode) const override;

    // The combinations registered now, in registration order.
    QList<HotKeyCombination> registered() const { return m_registered.values(); }
    bool isRegistered(const HotKeyCombination &combination) const;
    int registrationCount() const { return m_registrationCount; }

    // Makes later registrations of the combination fail as if another application held it.
    void setHeldElsewhere(const HotKeyCombination &combination, bool held = true);
    void setAvailable(bool available) { m_available = available; }
    // Answers baseKeySymbol for a scan code.
    void setBaseKeySymbol(quint32 nativeScanCode, quint32 keySymbol);

    // The user presses and releases a combination; false when nothing is registered for it.
    bool press(const HotKeyCombination &combination);
    bool release(const HotKeyCombination &combination);
    bool pressAndRelease(const HotKeyCombination &combination);

private:
    int idOf(const HotKeyCombination &combination) const;

    bool m_available = true;
    QMap<int, HotKeyCombination> m_registered;
    QList<HotKeyCombination> m_heldElsewhere;
    QMap<quint32, quint32> m_baseKeySymbols;
    int m_nextId = 1;
    int m_registrationCount = 0;
};

} // namespace vyo
