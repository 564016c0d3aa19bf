#include "platform/x11/X11HotKeys.h"

#include "core/Log.h"

#include <QGuiApplication>
#include <QSocketNotifier>

#include <X11/XKBlib.h>
#include <X11/Xlib-xcb.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <xcb/xcb.h>

#include <cstdlib>

namespace vyo {

namespace {

// The display Qt shows the application's windows on, so that both connections talk to one
// server; empty means $DISPLAY.
QByteArray applicationDisplayName()
{
    if (auto *x11 =
            qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr) {
        if (Display *display = x11->display())
            return QByteArray(DisplayString(display));
    }
    return {};
}

constexpr quint8 errorBadAccess = 10;

} // namespace

X11HotKeys *X11HotKeys::create(QObject *parent, QString *error)
{
    const QByteArray name = applicationDisplayName();
    Display *display = XOpenDisplay(name.isEmpty() ? nullptr : name.constData());
    if (!display) {
        if (error)
            *error = QStringLiteral("X 서버에 연결할 수 없음 (%1)")
                         .arg(QString::fromLocal8Bit(name.isEmpty() ? qgetenv("DISPLAY") : name));
        return nullptr;
    }
    return new X11HotKeys(display, parent);
}

X11HotKeys::X11HotKeys(Display *display, QObject *parent)
    : GlobalHotKeys(parent)
    , m_display(display)
{
    // Events are read through xcb; Xlib only answers key map questions on the same connection.
    XSetEventQueueOwner(m_display, XCBOwnsEventQueue);
    m_connection = XGetXCBConnection(m_display);
    m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;

    // Without it a held key reports a release and a press about 25 times a second.
    Bool supported = False;
    XkbSetDetectableAutoRepeat(m_display, True, &supported);
    if (!supported)
        vyoWarning(lcApp, u"X 서버가 키 반복 구분을 지원하지 않음: 누르고 있는 단축키가 여러 번 "
                          u"동작할 수 있음");
    readModifierMasks();

    m_notifier =
        new QSocketNotifier(xcb_get_file_descriptor(m_connection), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &X11HotKeys::processEvents);
}

X11HotKeys::~X11HotKeys()
{
    for (const Grab &grab : std::as_const(m_grabs))
        ungrab(grab);
    xcb_flush(m_connection);
    delete m_notifier;
    XCloseDisplay(m_display);
}

void X11HotKeys::readModifierMasks()
{
    // Alt, Super and NumLock sit on whichever ModN the key map gives them (usually Mod1, Mod4
    // and Mod2).
    m_altMask = quint16(XkbKeysymToModifiers(m_display, XK_Alt_L));
    if (m_altMask == 0)
        m_altMask = XCB_MOD_MASK_1;
    m_superMask = quint16(XkbKeysymToModifiers(m_display, XK_Super_L));
    if (m_superMask == 0)
        m_superMask = XCB_MOD_MASK_4;
    m_numLockMask = quint16(XkbKeysymToModifiers(m_display, XK_Num_Lock));
}

quint16 X11HotKeys::modifierMask(Qt::KeyboardModifiers modifiers) const
{
    quint16 mask = 0;
    if (modifiers & Qt::ShiftModifier)
        mask |= XCB_MOD_MASK_SHIFT;
    if (modifiers & Qt::ControlModifier)
        mask |= XCB_MOD_MASK_CONTROL;
    if (modifiers & Qt::AltModifier)
        mask |= m_altMask;
    if (modifiers & Qt::MetaModifier)
        mask |= m_superMask;
    return mask;
}

QList<quint16> X11HotKeys::lockVariants() const
{
    QList<quint16> variants{0, XCB_MOD_MASK_LOCK};
    if (m_numLockMask != 0 && m_numLockMask != XCB_MOD_MASK_LOCK)
        variants << m_numLockMask << quint16(m_numLockMask | XCB_MOD_MASK_LOCK);
    return variants;
}

int X11HotKeys::registerHotKey(const HotKeyCombination &combination, QString *error)
{
    for (const Grab &existing : std::as_const(m_grabs)) {
        if (existing.combination == combination) {
            if (error)
                *error = QStringLiteral("Vyo가 이미 같은 조합을 등록함");
            return 0;
        }
    }
    Grab grab;
    grab.combination = combination;
    if (!this->grab(grab, error))
        return 0;
    grab.id = m_nextId++;
    m_grabs.append(grab);
    return grab.id;
}

void X11HotKeys::unregisterHotKey(int id)
{
    for (qsizetype i = 0; i < m_grabs.size(); ++i) {
        if (m_grabs[i].id != id)
            continue;
        ungrab(m_grabs[i]);
        xcb_flush(m_connection);
        m_grabs.removeAt(i);
        if (m_heldId == id) {
            m_heldId = 0;
            m_heldKeyCode = 0;
        }
        return;
    }
}

bool X11HotKeys::grab(Grab &grab, QString *error)
{
    grab.keyCode = quint8(XKeysymToKeycode(m_display, KeySym(grab.combination.keySymbol)));
    grab.modifiers = modifierMask(grab.combination.modifiers);
    if (grab.keyCode == 0) {
        if (error)
            *error = QStringLiteral("키보드에 그 키가 없음 (keysym 0x%1)")
                         .arg(grab.combination.keySymbol, 0, 16);
        return false;
    }
    QList<xcb_void_cookie_t> cookies;
    for (quint16 variant : lockVariants())
        cookies << xcb_grab_key_checked(m_connection, 1, m_root, grab.modifiers | variant,
                                        grab.keyCode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    int failures = 0;
    quint8 errorCode = 0;
    for (const xcb_void_cookie_t &cookie : std::as_const(cookies)) {
        if (xcb_generic_error_t *failure = xcb_request_check(m_connection, cookie)) {
            ++failures;
            errorCode = failure->error_code;
            std::free(failure);
        }
    }
    scheduleProcessEvents();
    if (failures == 0)
        return true;
    // Half a grab would work only with some lock keys on: give all of it back.
    ungrab(grab);
    xcb_flush(m_connection);
    if (error)
        *error = errorCode == errorBadAccess
                     ? QStringLiteral("다른 앱이 이미 이 키 조합을 잡고 있음")
                     : QStringLiteral("X 오류 %1").arg(errorCode);
    return false;
}

void X11HotKeys::ungrab(const Grab &grab)
{
    if (grab.keyCode == 0)
        return;
    for (quint16 variant : lockVariants())
        xcb_ungrab_key(m_connection, grab.keyCode, m_root, grab.modifiers | variant);
}

void X11HotKeys::regrabAll()
{
    for (Grab &grab : m_grabs) {
        ungrab(grab);
        QString error;
        if (!this->grab(grab, &error))
            vyoError(lcApp, u"키 배치가 바뀐 뒤 단축키를 다시 잡지 못함: %{public}s", error);
    }
    xcb_flush(m_connection);
}

bool X11HotKeys::isHeldElsewhere(const HotKeyCombination &combination)
{
    const quint8 keyCode = quint8(XKeysymToKeycode(m_display, KeySym(combination.keySymbol)));
    const quint16 modifiers = modifierMask(combination.modifiers);
    if (keyCode == 0)
        return false;
    for (const Grab &grab : std::as_const(m_grabs)) {
        if (grab.keyCode == keyCode && grab.modifiers == modifiers)
            return false;
    }
    // Try it: only a grab by another client makes the server refuse.
    xcb_generic_error_t *failure = xcb_request_check(
        m_connection, xcb_grab_key_checked(m_connection, 1, m_root, modifiers, keyCode,
                                           XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    const bool held = failure && failure->error_code == errorBadAccess;
    std::free(failure);
    if (!held)
        xcb_ungrab_key(m_connection, keyCode, m_root, modifiers);
    xcb_flush(m_connection);
    scheduleProcessEvents();
    return held;
}

quint32 X11HotKeys::baseKeySymbol(quint32 nativeScanCode) const
{
    if (nativeScanCode == 0 || nativeScanCode > 255)
        return 0;
    return quint32(XkbKeycodeToKeysym(m_display, KeyCode(nativeScanCode), 0, 0));
}

void X11HotKeys::scheduleProcessEvents()
{
    // Waiting for a reply may have queued events that the socket will not announce again.
    QMetaObject::invokeMethod(this, &X11HotKeys::processEvents, Qt::QueuedConnection);
}

void X11HotKeys::processEvents()
{
    if (xcb_connection_has_error(m_connection)) {
        vyoError(lcApp, u"X 서버와의 연결이 끊겨 전역 단축키가 멈춤");
        m_notifier->setEnabled(false);
        return;
    }
    // Bounded: the queue holds what the server has sent so far.
    for (int i = 0; i < 1000; ++i) {
        xcb_generic_event_t *event = xcb_poll_for_event(m_connection);
        if (!event)
            break;
        const quint8 type = event->response_type & 0x7f;
        if (type == XCB_KEY_PRESS || type == XCB_KEY_RELEASE) {
            const auto *key = reinterpret_cast<xcb_key_press_event_t *>(event);
            handleKey(type == XCB_KEY_PRESS, key->detail, key->state);
        } else if (type == XCB_MAPPING_NOTIFY) {
            const auto *mapping = reinterpret_cast<xcb_mapping_notify_event_t *>(event);
            XMappingEvent xlibEvent{};
            xlibEvent.type = MappingNotify;
            xlibEvent.display = m_display;
            xlibEvent.request = mapping->request;
            xlibEvent.first_keycode = mapping->first_keycode;
            xlibEvent.count = mapping->count;
            XRefreshKeyboardMapping(&xlibEvent);
            if (mapping->request != XCB_MAPPING_POINTER) {
                readModifierMasks();
                regrabAll();
            }
        }
        std::free(event);
    }
}

void X11HotKeys::handleKey(bool press, quint8 keyCode, quint16 state)
{
    if (!press) {
        // The grab stays active until the key goes up, whichever modifiers were let go first.
        if (keyCode != m_heldKeyCode || m_heldId == 0)
            return;
        const int id = m_heldId;
        m_heldId = 0;
        m_heldKeyCode = 0;
        Q_EMIT released(id);
        return;
    }
    if (keyCode == m_heldKeyCode && m_heldId != 0)
        return; // auto-repeat of the held key
    const quint16 locks = XCB_MOD_MASK_LOCK | m_numLockMask;
    const quint16 modifiers = state & quint16(~locks) & 0xff;
    for (const Grab &grab : std::as_const(m_grabs)) {
        if (grab.keyCode == keyCode && grab.modifiers == modifiers) {
            m_heldId = grab.id;
            m_heldKeyCode = keyCode;
            Q_EMIT pressed(grab.id);
            return;
        }
    }
}

} // namespace vyo
