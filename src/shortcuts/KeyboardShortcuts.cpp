#include "shortcuts/KeyboardShortcuts.h"

#include "core/Defaults.h"
#include "core/Log.h"
#include "logic/CarbonKeys.h"
#include "platform/Desktop.h"
#include "platform/GlobalHotKeys.h"

namespace vyo::KeyboardShortcuts {

const Name &Name::newShelf()
{
    static const Name name{
        QStringLiteral("newShelf"),
        Shortcut{46, CarbonKeys::Modifier::control | CarbonKeys::Modifier::option}};
    return name;
}

const Name &Name::reopenShelf()
{
    static const Name name{QStringLiteral("reopenShelf"),
                           Shortcut{46, CarbonKeys::Modifier::control |
                                            CarbonKeys::Modifier::option |
                                            CarbonKeys::Modifier::shift}};
    return name;
}

QString Name::userDefaultsKey() const
{
    return QLatin1String(DefaultsKey::shortcutPrefix) + rawValue;
}

namespace {

bool isCleared(const QString &stored)
{
    return stored.trimmed() == QLatin1String(clearedValue);
}

// The slot's combination with the reason when the stored value cannot be used.
std::optional<Shortcut> readShortcut(const Defaults &defaults, const Name &name, QString *problem)
{
    const QString stored = defaults.shortcut(name.rawValue);
    if (stored.isEmpty())
        return name.defaultShortcut;
    if (isCleared(stored))
        return std::nullopt;
    QString error;
    const std::optional<Shortcut> shortcut = Shortcut::fromJsonString(stored, &error);
    if (!shortcut && problem)
        *problem = QStringLiteral("저장된 값을 읽을 수 없음 (%1): %2").arg(error, stored.left(200));
    return shortcut;
}

} // namespace

Registry &Registry::shared()
{
    static Registry *instance = [] {
        auto *registry = new Registry(Defaults::shared(), Desktop::shared().makeGlobalHotKeys());
        registry->hotKeys()->setParent(registry);
        return registry;
    }();
    return *instance;
}

Registry::Registry(Defaults &defaults, GlobalHotKeys *hotKeys, QObject *parent)
    : QObject(parent)
    , m_defaults(defaults)
    , m_hotKeys(hotKeys)
{
    connect(&m_defaults, &Defaults::changed, this, &Registry::preferenceChanged);
    connect(m_hotKeys, &GlobalHotKeys::released, this, &Registry::hotKeyReleased);
}

Registry::~Registry()
{
    for (Slot &slot : m_slots)
        unregister(slot);
}

std::optional<Shortcut> Registry::shortcut(const Name &name) const
{
    return readShortcut(m_defaults, name, nullptr);
}

void Registry::setShortcut(const std::optional<Shortcut> &shortcut, const Name &name)
{
    m_defaults.setShortcut(name.rawValue,
                           shortcut ? shortcut->jsonString() : QString::fromLatin1(clearedValue));
}

void Registry::reset(const Name &name)
{
    m_defaults.setShortcut(name.rawValue, QString());
}

void Registry::onKeyUp(const Name &name, std::function<void()> action)
{
    auto it = m_slots.find(name.rawValue);
    if (it == m_slots.end()) {
        it = m_slots.insert(name.rawValue, Slot{name, {}, 0, std::nullopt, QString()});
        m_order.append(name.rawValue);
    }
    it->keyUpActions.append(std::move(action));
    updateRegistration(*it);
}

QStringList Registry::slotNames() const
{
    return m_order;
}

bool Registry::isRegistered(const QString &slotName) const
{
    const auto it = m_slots.constFind(slotName);
    return it != m_slots.cend() && it->hotKeyId != 0;
}

void Registry::setRecorderActive(bool active)
{
    if (active == m_recorderActive)
        return;
    m_recorderActive = active;
    for (const QString &name : std::as_const(m_order))
        updateRegistration(m_slots[name]);
    Q_EMIT recorderActiveStatusDidChange(active);
}

std::optional<HotKeyCombination> Registry::wantedCombination(Slot &slot)
{
    if (slot.keyUpActions.isEmpty() || m_recorderActive || !m_hotKeys || !m_hotKeys->isAvailable())
        return std::nullopt;
    QString problem;
    const std::optional<Shortcut> shortcut = readShortcut(m_defaults, slot.name, &problem);
    std::optional<HotKeyCombination> combination;
    if (shortcut) {
        combination = shortcut->hotKeyCombination();
        if (!combination)
            problem = QStringLiteral("키 코드 %1에 맞는 키가 없음").arg(shortcut->carbonKeyCode);
    }
    if (!problem.isEmpty() && problem != slot.reportedProblem)
        vyoError(lcApp, u"단축키 %{public}s를 꺼 둠: %{public}s", slot.name.rawValue, problem);
    slot.reportedProblem = problem;
    return combination;
}

void Registry::updateRegistration(Slot &slot)
{
    const std::optional<HotKeyCombination> wanted = wantedCombination(slot);
    if (slot.hotKeyId != 0 && slot.registered == wanted)
        return;
    unregister(slot);
    if (!wanted)
        return;
    QString error;
    const int id = m_hotKeys->registerHotKey(*wanted, &error);
    if (id == 0) {
        const QString description =
            readShortcut(m_defaults, slot.name, nullptr).value_or(Shortcut{}).description();
        vyoError(lcApp, u"Error registering hotkey %{public}s (%{public}s): %{public}s",
                 slot.name.rawValue, description, error);
        return;
    }
    slot.hotKeyId = id;
    slot.registered = wanted;
}

void Registry::unregister(Slot &slot)
{
    if (slot.hotKeyId != 0 && m_hotKeys)
        m_hotKeys->unregisterHotKey(slot.hotKeyId);
    slot.hotKeyId = 0;
    slot.registered.reset();
}

void Registry::preferenceChanged(const QString &key)
{
    const QLatin1String prefix(DefaultsKey::shortcutPrefix);
    if (!key.startsWith(prefix))
        return;
    const QString name = key.mid(prefix.size());
    const auto it = m_slots.find(name);
    if (it != m_slots.end())
        updateRegistration(*it);
    Q_EMIT shortcutByNameDidChange(name);
}

void Registry::hotKeyReleased(int id)
{
    for (const QString &name : std::as_const(m_order)) {
        const Slot &slot = m_slots[name];
        if (slot.hotKeyId != id)
            continue;
        vyoDebug(lcApp, u"전역 단축키 %{public}s", name);
        // A copy: an action may register further actions.
        const QList<std::function<void()>> actions = slot.keyUpActions;
        for (const std::function<void()> &action : actions)
            action();
        return;
    }
}

} // namespace vyo::KeyboardShortcuts
