#pragma once

// The two global shortcuts: their slots ("newShelf", "reopenShelf") with defaults, their stored
// values under "KeyboardShortcuts_" + slot in the preferences, their registration with the
// desktop, and the actions that run when a slot's combination is released.

#include "shortcuts/Shortcut.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <optional>

namespace vyo {

class Defaults;
class GlobalHotKeys;

namespace KeyboardShortcuts {

// A shortcut slot, identified by its raw value, with an optional default combination.
struct Name
{
    QString rawValue;
    std::optional<Shortcut> defaultShortcut;

    // Ctrl+Alt+M: open a new empty shelf beside the pointer.
    static const Name &newShelf();
    // Ctrl+Alt+Shift+M: reopen the most recently closed shelf.
    static const Name &reopenShelf();

    // The preferences key of the slot's stored value.
    QString userDefaultsKey() const;
};

// The stored value of a slot that the user cleared: JSON false, so that the default does not
// come back the way it does for a slot with no stored value.
inline constexpr auto clearedValue = "false";

// A menu item that shows a slot's combination carries the slot's raw value in this property, so
// that the recorder of that slot does not take it for a conflict.
inline constexpr auto menuItemSlotProperty = "vyoShortcutSlot";

class Registry : public QObject
{
    Q_OBJECT
public:
    // The process-wide registry over the user's preferences and the desktop's hot keys.
    static Registry &shared();

    Registry(Defaults &defaults, GlobalHotKeys *hotKeys, QObject *parent = nullptr);
    ~Registry() override;

    // The slot's combination: the stored one, the default when nothing is stored, nothing when
    // the user cleared it or the stored value cannot be read.
    std::optional<Shortcut> shortcut(const Name &name) const;
    // Stores a combination for the slot, or the cleared value for nothing.
    void setShortcut(const std::optional<Shortcut> &shortcut, const Name &name);
    // Forgets the stored value: the slot uses its default again.
    void reset(const Name &name);

    // Runs `action` on the main thread each time the slot's combination is released (never on
    // press). The slot's combination is registered with the desktop from the first action on.
    void onKeyUp(const Name &name, std::function<void()> action);

    // The slots known here (those with actions), in the order they were first used.
    QStringList slotNames() const;
    // Whether the slot's combination is registered with the desktop right now.
    bool isRegistered(const QString &slotName) const;

    // While a recorder records, no global shortcut fires (the keys go to the recorder).
    void setRecorderActive(bool active);
    bool isRecorderActive() const { return m_recorderActive; }

    GlobalHotKeys *hotKeys() const { return m_hotKeys; }

Q_SIGNALS:
    // A slot's stored value changed (from any writer of the preferences).
    void shortcutByNameDidChange(const QString &name);
    void recorderActiveStatusDidChange(bool active);

private:
    struct Slot
    {
        Name name;
        QList<std::function<void()>> keyUpActions;
        int hotKeyId = 0;
        std::optional<HotKeyCombination> registered;
        QString reportedProblem;
    };

    // What the slot should be registered with now; a problem with its stored value is logged
    // once per value.
    std::optional<HotKeyCombination> wantedCombination(Slot &slot);
    void updateRegistration(Slot &slot);
    void unregister(Slot &slot);
    void preferenceChanged(const QString &key);
    void hotKeyReleased(int id);

    Defaults &m_defaults;
    QPointer<GlobalHotKeys> m_hotKeys;
    QHash<QString, Slot> m_slots;
    QStringList m_order;
    bool m_recorderActive = false;
};

} // namespace KeyboardShortcuts
} // namespace vyo
