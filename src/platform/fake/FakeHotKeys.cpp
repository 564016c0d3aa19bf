#include "platform/fake/FakeHotKeys.h"

namespace vyo {

int FakeHotKeys::registerHotKey(const HotKeyCombination &combination, QString *error)
{
    QString reason;
    if (!m_available)
        reason = QStringLiteral("전역 단축키를 쓸 수 없는 세션");
    else if (m_heldElsewhere.contains(combination))
        reason = QStringLiteral("다른 앱이 이미 이 키 조합을 잡고 있음");
    else if (idOf(combination) != 0)
        reason = QStringLiteral("Vyo가 이미 같은 조합을 등록함");
    if (!reason.isEmpty()) {
        if (error)
            *error = reason;
        return 0;
    }
    const int id = m_nextId++;
    m_registered.insert(id, combination);
    ++m_registrationCount;
    return id;
}

void FakeHotKeys::unregisterHotKey(int id)
{
    m_registered.remove(id);
}

bool FakeHotKeys::isHeldElsewhere(const HotKeyCombination &combination)
{
    return m_heldElsewhere.contains(combination);
}

quint32 FakeHotKeys::baseKeySymbol(quint32 nativeScanCode) const
{
    return m_baseKeySymbols.value(nativeScanCode, 0);
}

bool FakeHotKeys::isRegistered(const HotKeyCombination &combination) const
{
    return idOf(combination) != 0;
}

void FakeHotKeys::setHeldElsewhere(const HotKeyCombination &combination, bool held)
{
    m_heldElsewhere.removeAll(combination);
    if (held)
        m_heldElsewhere.append(combination);
}

void FakeHotKeys::setBaseKeySymbol(quint32 nativeScanCode, quint32 keySymbol)
{
    m_baseKeySymbols.insert(nativeScanCode, keySymbol);
}

bool FakeHotKeys::press(const HotKeyCombination &combination)
{
    const int id = idOf(combination);
    if (id != 0)
        Q_EMIT pressed(id);
    return id != 0;
}

bool FakeHotKeys::release(const HotKeyCombination &combination)
{
    const int id = idOf(combination);
    if (id != 0)
        Q_EMIT released(id);
    return id != 0;
}

bool FakeHotKeys::pressAndRelease(const HotKeyCombination &combination)
{
    return press(combination) && release(combination);
}

int FakeHotKeys::idOf(const HotKeyCombination &combination) const
{
    for (auto it = m_registered.cbegin(); it != m_registered.cend(); ++it) {
        if (it.value() == combination)
            return it.key();
    }
    return 0;
}

} // namespace vyo
