#include "shortcuts/Shortcut.h"

#include "logic/CarbonKeys.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <cmath>
#include <limits>

namespace vyo::KeyboardShortcuts {

namespace {

constexpr auto keyCodeMember = "carbonKeyCode";
constexpr auto modifiersMember = "carbonModifiers";

// A member that is a whole number from 0 up that fits an int.
std::optional<int> wholeNumber(const QJsonObject &object, const char *member, QString *error)
{
    const QJsonValue value = object.value(QLatin1String(member));
    const auto fail = [&](const QString &reason) -> std::optional<int> {
        if (error)
            *error = QStringLiteral("%1: %2").arg(QLatin1String(member), reason);
        return std::nullopt;
    };
    if (value.isUndefined())
        return fail(QStringLiteral("없음"));
    if (!value.isDouble())
        return fail(QStringLiteral("숫자가 아님"));
    const double number = value.toDouble();
    if (number < 0)
        return fail(QStringLiteral("음수"));
    if (number != std::floor(number) || number > std::numeric_limits<int>::max())
        return fail(QStringLiteral("정수가 아님"));
    return int(number);
}

} // namespace

std::optional<Shortcut> Shortcut::fromQt(Qt::Key key, Qt::KeyboardModifiers modifiers)
{
    const std::optional<int> code =
        CarbonKeys::carbonKeyCode(key, modifiers.testFlag(Qt::KeypadModifier));
    if (!code)
        return std::nullopt;
    return Shortcut{*code, CarbonKeys::carbonModifiers(modifiers)};
}

QString Shortcut::jsonString() const
{
    const QJsonObject object{{QLatin1String(keyCodeMember), carbonKeyCode},
                             {QLatin1String(modifiersMember), carbonModifiers}};
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

std::optional<Shortcut> Shortcut::fromJsonString(const QString &text, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        if (error)
            *error = parseError.errorString();
        return std::nullopt;
    }
    if (!document.isObject()) {
        if (error)
            *error = QStringLiteral("JSON 객체가 아님");
        return std::nullopt;
    }
    const QJsonObject object = document.object();
    const std::optional<int> keyCode = wholeNumber(object, keyCodeMember, error);
    if (!keyCode)
        return std::nullopt;
    const std::optional<int> modifiers = wholeNumber(object, modifiersMember, error);
    if (!modifiers)
        return std::nullopt;
    return Shortcut{*keyCode, *modifiers};
}

QString Shortcut::description() const
{
    QStringList parts;
    if (carbonModifiers & CarbonKeys::Modifier::control)
        parts << QStringLiteral("Ctrl");
    if (carbonModifiers & CarbonKeys::Modifier::option)
        parts << QStringLiteral("Alt");
    if (carbonModifiers & CarbonKeys::Modifier::shift)
        parts << QStringLiteral("Shift");
    if (carbonModifiers & CarbonKeys::Modifier::command)
        parts << QStringLiteral("Super");
    const QString label = CarbonKeys::keyLabel(carbonKeyCode);
    parts << (label.isEmpty() ? QStringLiteral("#%1").arg(carbonKeyCode) : label);
    return parts.join(u'+');
}

QKeySequence Shortcut::keySequence() const
{
    bool keypad = false;
    const std::optional<Qt::Key> key = CarbonKeys::qtKey(carbonKeyCode, &keypad);
    if (!key)
        return {};
    Qt::KeyboardModifiers modifiers = CarbonKeys::qtModifiers(carbonModifiers);
    if (keypad)
        modifiers |= Qt::KeypadModifier;
    return QKeySequence(QKeyCombination(modifiers, *key));
}

std::optional<HotKeyCombination> Shortcut::hotKeyCombination() const
{
    const std::optional<quint32> symbol = CarbonKeys::keySymbol(carbonKeyCode);
    if (!symbol)
        return std::nullopt;
    return HotKeyCombination{*symbol, CarbonKeys::qtModifiers(carbonModifiers)};
}

} // namespace vyo::KeyboardShortcuts
