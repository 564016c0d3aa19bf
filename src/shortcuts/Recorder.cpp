#include "shortcuts/Recorder.h"

#include "logic/CarbonKeys.h"
#include "platform/Desktop.h"
#include "platform/Dialogs.h"
#include "platform/GlobalHotKeys.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QStyle>

namespace vyo::KeyboardShortcuts {

namespace {

const QString recordShortcutText = QStringLiteral("단축키 기록");
const QString pressShortcutText = QStringLiteral("단축키를 누르세요");

constexpr Qt::KeyboardModifiers shortcutModifiers =
    Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier | Qt::MetaModifier;

bool isModifierKey(int key)
{
    switch (key) {
    case Qt::Key_Control:
    case Qt::Key_Shift:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
    case Qt::Key_unknown:
        return true;
    default:
        return false;
    }
}

// The modifiers held so far, as the start of a combination ("Ctrl+Alt+").
QString modifierPrefix(Qt::KeyboardModifiers modifiers)
{
    const QString text = Shortcut{0, CarbonKeys::carbonModifiers(modifiers)}.description();
    return text.left(text.lastIndexOf(u'+') + 1);
}

} // namespace

Recorder::Recorder(const Name &name, Registry &registry, QWidget *parent)
    : QLineEdit(parent)
    , m_name(name)
    , m_registry(&registry)
{
    setObjectName(QStringLiteral("shortcutRecorder_") + name.rawValue);
    setReadOnly(true);
    setAlignment(Qt::AlignCenter);
    setMinimumWidth(160);
    setContextMenuPolicy(Qt::NoContextMenu);
    m_clearAction = addAction(style()->standardIcon(QStyle::SP_LineEditClearButton),
                              QLineEdit::TrailingPosition);
    m_clearAction->setObjectName(QStringLiteral("clearShortcut"));
    m_clearAction->setToolTip(QStringLiteral("단축키 지우기"));
    connect(m_clearAction, &QAction::triggered, this, &Recorder::clearShortcut);
    connect(&registry, &Registry::shortcutByNameDidChange, this, [this](const QString &changed) {
        if (changed == m_name.rawValue)
            refresh();
    });
    refresh();
}

Recorder::~Recorder()
{
    if (m_recording && m_registry)
        m_registry->setRecorderActive(false);
}

QString Recorder::usedBySystemText()
{
    return QStringLiteral("다른 앱이나 데스크톱이 이미 쓰고 있는 단축키예요.");
}

QString Recorder::usedByMenuItemText(const QString &menuItemTitle)
{
    return QStringLiteral("‘%1’ 메뉴 항목이 이미 쓰고 있는 단축키예요.").arg(menuItemTitle);
}

QString Recorder::canBeChangedText()
{
    return QStringLiteral("다른 조합을 눌러 주세요. 다른 앱의 단축키는 그 앱의 설정에서 바꿀 수 "
                          "있어요.");
}

void Recorder::startRecording()
{
    if (m_recording || !m_registry)
        return;
    m_recording = true;
    m_registry->setRecorderActive(true);
    refresh();
    if (!hasFocus())
        setFocus(Qt::MouseFocusReason);
    // Every key comes here while recording, also those another application grabs, so that such
    // a combination can be answered instead of silently reaching that application.
    grabKeyboard();
}

void Recorder::stopRecording()
{
    if (!m_recording)
        return;
    m_recording = false;
    releaseKeyboard();
    if (m_registry)
        m_registry->setRecorderActive(false);
    refresh();
}

void Recorder::clearShortcut()
{
    stopRecording();
    if (m_registry)
        m_registry->setShortcut(std::nullopt, m_name);
    refresh();
}

void Recorder::refresh()
{
    const std::optional<Shortcut> shortcut =
        m_registry ? m_registry->shortcut(m_name) : std::nullopt;
    if (m_recording) {
        setText(QString());
        setPlaceholderText(pressShortcutText);
    } else {
        setText(shortcut ? shortcut->description() : QString());
        setPlaceholderText(recordShortcutText);
    }
    m_clearAction->setVisible(shortcut.has_value() && !m_recording);
}

bool Recorder::event(QEvent *event)
{
    // While recording every combination is for the recorder, not for a shortcut of the window.
    if (m_recording && event->type() == QEvent::ShortcutOverride) {
        event->accept();
        return true;
    }
    return QLineEdit::event(event);
}

void Recorder::mousePressEvent(QMouseEvent *event)
{
    QLineEdit::mousePressEvent(event);
    startRecording();
}

void Recorder::changeEvent(QEvent *event)
{
    // Leaving the window ends recording, as leaving the field does.
    if (event->type() == QEvent::ActivationChange && !isActiveWindow())
        stopRecording();
    QLineEdit::changeEvent(event);
}

void Recorder::focusOutEvent(QFocusEvent *event)
{
    stopRecording();
    QLineEdit::focusOutEvent(event);
}

void Recorder::keyPressEvent(QKeyEvent *event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers() & shortcutModifiers;
    const int key = event->key();
    if (!m_recording) {
        if (modifiers == Qt::NoModifier &&
            (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter)) {
            startRecording();
        } else if (modifiers == Qt::NoModifier &&
                   (key == Qt::Key_Backspace || key == Qt::Key_Delete)) {
            clearShortcut();
        } else {
            QLineEdit::keyPressEvent(event);
        }
        return;
    }
    event->accept();
    if (isModifierKey(key)) {
        setText(modifierPrefix(modifiers));
        return;
    }
    if (modifiers == Qt::NoModifier) {
        switch (key) {
        case Qt::Key_Escape:
            stopRecording();
            return;
        case Qt::Key_Backspace:
        case Qt::Key_Delete:
            clearShortcut();
            return;
        case Qt::Key_Tab:
            stopRecording();
            focusNextChild();
            return;
        default:
            break;
        }
    }
    record(event);
}

void Recorder::record(QKeyEvent *event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers() & shortcutModifiers;
    // The key's place on the keyboard counts, not the symbol Shift makes of it.
    std::optional<int> keyCode;
    if (GlobalHotKeys *hotKeys = m_registry ? m_registry->hotKeys() : nullptr) {
        if (const quint32 symbol = hotKeys->baseKeySymbol(event->nativeScanCode()))
            keyCode = CarbonKeys::carbonKeyCode(symbol);
    }
    if (!keyCode)
        keyCode = CarbonKeys::carbonKeyCode(Qt::Key(event->key()),
                                            event->modifiers().testFlag(Qt::KeypadModifier));
    const bool hasCommandModifier =
        modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    if (!keyCode || (!hasCommandModifier && !CarbonKeys::isFunctionKey(*keyCode))) {
        // Typing keys alone would be taken from every application.
        setText(QString());
        Desktop::shared().dialogs().beep();
        return;
    }
    const Shortcut shortcut{*keyCode, CarbonKeys::carbonModifiers(modifiers)};
    const std::optional<HotKeyCombination> combination = shortcut.hotKeyCombination();

    QString conflict;
    const QString menuItem = menuItemUsing(shortcut.keySequence());
    if (!menuItem.isEmpty())
        conflict = usedByMenuItemText(menuItem);
    else if (combination && m_registry->hotKeys()->isHeldElsewhere(*combination))
        conflict = usedBySystemText();
    if (!conflict.isEmpty()) {
        stopRecording();
        Desktop::shared().dialogs().showAlert({conflict, canBeChangedText()});
        return;
    }
    stopRecording();
    m_registry->setShortcut(shortcut, m_name);
}

QString Recorder::menuItemUsing(const QKeySequence &sequence) const
{
    if (sequence.isEmpty())
        return {};
    const QWidgetList widgets = QApplication::allWidgets();
    for (QWidget *widget : widgets) {
        if (!qobject_cast<QMenu *>(widget) && !qobject_cast<QMenuBar *>(widget))
            continue;
        const QList<QAction *> actions = widget->actions();
        for (QAction *action : actions) {
            if (action->isSeparator() ||
                action->property(menuItemSlotProperty).toString() == m_name.rawValue)
                continue;
            if (action->shortcuts().contains(sequence))
                return action->text().remove(u'&').section(u'\t', 0, 0);
        }
    }
    return {};
}

} // namespace vyo::KeyboardShortcuts
