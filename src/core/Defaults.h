#pragma once

// The user's preferences: registered defaults in memory over a QSettings file
// (~/.config/Vyo/Vyo.conf). Registration never overwrites a value the user has set.

#include <QByteArray>
#include <QObject>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantHash>

namespace vyo {

namespace DefaultsKey {
inline constexpr auto shakeEnabled = "shakeEnabled";
inline constexpr auto shakeSensitivity = "shakeSensitivity";
inline constexpr auto excludedBundleIDs = "excludedBundleIDs";
inline constexpr auto removeAfterDragOut = "removeAfterDragOut";
inline constexpr auto restoreShelves = "restoreShelves";
inline constexpr auto shareExpiryMinutes = "shareExpiryMinutes";
// The base address of a share service (signaling, ICE list, share page); not registered.
inline constexpr auto shareServiceURL = "shareServiceURL";
inline constexpr auto notchDropEnabled = "notchDropEnabled";
inline constexpr auto hasShownWelcome = "hasShownWelcome";
inline constexpr auto watchedFolders = "watchedFolders";
inline constexpr auto shortcutPrefix = "KeyboardShortcuts_";
// The updater's switch (absent: on) and the time of its last check, kept so that a restart does
// not check again early; not registered.
inline constexpr auto automaticallyChecksForUpdates = "automaticallyChecksForUpdates";
inline constexpr auto lastUpdateCheck = "lastUpdateCheck";
} // namespace DefaultsKey

class Defaults : public QObject
{
    Q_OBJECT
public:
    // The process-wide store, over the user's settings file.
    static Defaults &shared();

    explicit Defaults(const QString &filePath, QObject *parent = nullptr);

    // Registers the defaults of every registered key ("hasShownWelcome", "watchedFolders",
    // "shareServiceURL" and the shortcut keys are not registered: absent means their own default).
    void registerDefaults();

    QVariant value(const QString &key) const;
    bool contains(const QString &key) const;
    void setValue(const QString &key, const QVariant &value);
    void remove(const QString &key);
    void sync();

    bool boolValue(const QString &key) const;
    int intValue(const QString &key) const;
    QStringList stringListValue(const QString &key) const;
    QByteArray dataValue(const QString &key) const;

    bool shakeEnabled() const { return boolValue(DefaultsKey::shakeEnabled); }
    int shakeSensitivity() const { return intValue(DefaultsKey::shakeSensitivity); }
    QStringList excludedBundleIDs() const
    {
        return stringListValue(DefaultsKey::excludedBundleIDs);
    }
    bool removeAfterDragOut() const { return boolValue(DefaultsKey::removeAfterDragOut); }
    bool restoreShelves() const { return boolValue(DefaultsKey::restoreShelves); }
    int shareExpiryMinutes() const { return intValue(DefaultsKey::shareExpiryMinutes); }
    bool notchDropEnabled() const { return boolValue(DefaultsKey::notchDropEnabled); }
    bool hasShownWelcome() const { return boolValue(DefaultsKey::hasShownWelcome); }
    QByteArray watchedFolders() const { return dataValue(DefaultsKey::watchedFolders); }
    // The stored JSON text of a global shortcut slot ("newShelf", "reopenShelf"); empty if absent.
    QString shortcut(const QString &slot) const;
    void setShortcut(const QString &slot, const QString &json);

Q_SIGNALS:
    void changed(const QString &key);

private:
    QSettings m_settings;
    QVariantHash m_registered;
};

} // namespace vyo
