#include "core/Defaults.h"

#include "core/Paths.h"

namespace vyo {

Defaults &Defaults::shared()
{
    static Defaults *instance = new Defaults(settingsFilePath());
    return *instance;
}

Defaults::Defaults(const QString &filePath, QObject *parent)
    : QObject(parent)
    , m_settings(filePath, QSettings::IniFormat)
{}

void Defaults::registerDefaults()
{
    m_registered = {
        {DefaultsKey::shakeEnabled, true},
        {DefaultsKey::shakeSensitivity, 1},
        {DefaultsKey::excludedBundleIDs, QStringList()},
        {DefaultsKey::removeAfterDragOut, false},
        {DefaultsKey::restoreShelves, true},
        {DefaultsKey::shareExpiryMinutes, 30},
        {DefaultsKey::notchDropEnabled, true},
    };
}

QVariant Defaults::value(const QString &key) const
{
    if (m_settings.contains(key))
        return m_settings.value(key);
    return m_registered.value(key);
}

bool Defaults::contains(const QString &key) const
{
    return m_settings.contains(key) || m_registered.contains(key);
}

void Defaults::setValue(const QString &key, const QVariant &value)
{
    if (m_settings.contains(key) && m_settings.value(key) == value)
        return;
    m_settings.setValue(key, value);
    Q_EMIT changed(key);
}

void Defaults::remove(const QString &key)
{
    if (!m_settings.contains(key))
        return;
    m_settings.remove(key);
    Q_EMIT changed(key);
}

void Defaults::sync()
{
    m_settings.sync();
}

bool Defaults::boolValue(const QString &key) const
{
    // The INI format stores booleans as text; QVariant converts "true"/"false" back.
    return value(key).toBool();
}

int Defaults::intValue(const QString &key) const
{
    bool ok = false;
    const int result = value(key).toInt(&ok);
    return ok ? result : m_registered.value(key).toInt();
}

QStringList Defaults::stringListValue(const QString &key) const
{
    const QVariant stored = value(key);
    if (stored.typeId() == QMetaType::QString)
        return stored.toString().isEmpty() ? QStringList() : QStringList{stored.toString()};
    return stored.toStringList();
}

QByteArray Defaults::dataValue(const QString &key) const
{
    return value(key).toByteArray();
}

QString Defaults::shortcut(const QString &slot) const
{
    return value(DefaultsKey::shortcutPrefix + slot).toString();
}

void Defaults::setShortcut(const QString &slot, const QString &json)
{
    if (json.isEmpty())
        remove(DefaultsKey::shortcutPrefix + slot);
    else
        setValue(DefaultsKey::shortcutPrefix + slot, json);
}

} // namespace vyo
