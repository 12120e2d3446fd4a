#include "GlobalShortcut.h"

#include "DisplayPlatform.h"
#include "Log.h"

#include <QGuiApplication>
#include <QSettings>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

const QString enabledKey = u"globalShortcut/enabled"_s;
const QString sequenceKey = u"globalShortcut/sequence"_s;

// A grab holds only for the exact modifiers, so it is made again with Caps Lock and Num Lock (Mod2).
constexpr quint16 lockMasks[] = { 0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2, XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2 };
constexpr quint16 comboMask = XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4;

xcb_connection_t* x11Connection()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_window_t rootWindow(xcb_connection_t* connection)
{
    return xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
}

// Letters, digits and F1 to F12: keys every layout has in the same place.
std::optional<xcb_keysym_t> keysymOf(int key)
{
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return xcb_keysym_t('a' + (key - Qt::Key_A));
    if (key >= Qt::Key_0 && key <= Qt::Key_9)
        return xcb_keysym_t('0' + (key - Qt::Key_0));
    if (key >= Qt::Key_F1 && key <= Qt::Key_F12)
        return xcb_keysym_t(0xffbe + (key - Qt::Key_F1)); // XK_F1
    return std::nullopt;
}

std::optional<quint8> keycodeOf(xcb_connection_t* connection, xcb_keysym_t keysym)
{
    const xcb_setup_t* setup = xcb_get_setup(connection);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    const std::unique_ptr<xcb_get_keyboard_mapping_reply_t, decltype(&std::free)> mapping(
        xcb_get_keyboard_mapping_reply(
            connection, xcb_get_keyboard_mapping(connection, setup->min_keycode, quint8(count)), nullptr),
        &std::free);
    if (!mapping)
        return std::nullopt;
    const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(mapping.get());
    const int perKeycode = mapping->keysyms_per_keycode;
    for (int i = 0; i < count; ++i)
        for (int column = 0; column < std::min(perKeycode, 2); ++column)
            if (keysyms[i * perKeycode + column] == keysym)
                return quint8(setup->min_keycode + i);
    return std::nullopt;
}

quint16 x11Modifiers(Qt::KeyboardModifiers modifiers)
{
    quint16 mask = 0;
    if (modifiers & Qt::ShiftModifier)
        mask |= XCB_MOD_MASK_SHIFT;
    if (modifiers & Qt::ControlModifier)
        mask |= XCB_MOD_MASK_CONTROL;
    if (modifiers & Qt::AltModifier)
        mask |= XCB_MOD_MASK_1;
    if (modifiers & Qt::MetaModifier)
        mask |= XCB_MOD_MASK_4;
    return mask;
}

}

GlobalShortcut::GlobalShortcut(QObject* parent)
    : QObject(parent)
{
    QSettings settings;
    m_enabled = settings.value(enabledKey, true).toBool();
    const QKeySequence chosen = QKeySequence::fromString(settings.value(sequenceKey).toString());
    m_sequence = chosen.isEmpty() ? defaultSequence : chosen;
    if (qGuiApp)
        qGuiApp->installNativeEventFilter(this);
    apply();
}

GlobalShortcut::~GlobalShortcut()
{
    release();
    if (qGuiApp)
        qGuiApp->removeNativeEventFilter(this);
}

void GlobalShortcut::setEnabled(bool on)
{
    if (on == m_enabled)
        return;
    m_enabled = on;
    QSettings().setValue(enabledKey, on);
    apply();
}

void GlobalShortcut::setChoosing(bool choosing)
{
    if (choosing == m_isChoosing)
        return;
    m_isChoosing = choosing;
    apply();
}

QString GlobalShortcut::line() const
{
    if (!m_enabled)
        return u"Off: start and stop recordings from Echoquill itself."_s;
    if (!m_problem.isEmpty())
        return m_problem;
    // Through XWayland, the grab sees the keys only while an X11 window has the focus.
    if (DisplayPlatform::isWaylandSession())
        return u"Press %1 while an X11 application is in front; this Wayland session offers no shortcut for the others."_s
            .arg(sequenceText());
    return u"Press %1 in any application to start or stop a recording."_s.arg(sequenceText());
}

bool GlobalShortcut::choose(int key, int modifiers)
{
    const auto held = Qt::KeyboardModifiers(modifiers)
        & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    if (!(held & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) || !keysymOf(key))
        return false;
    m_sequence = QKeySequence(QKeyCombination(held, Qt::Key(key)));
    QSettings().setValue(sequenceKey, m_sequence.toString(QKeySequence::PortableText));
    apply();
    return true;
}

std::optional<GlobalShortcut::Grab> GlobalShortcut::grabFor(const QKeySequence& sequence, QString* problem) const
{
    xcb_connection_t* connection = x11Connection();
    if (!connection) {
        *problem = u"This desktop session offers no shortcut that works in other applications."_s;
        return std::nullopt;
    }
    const QKeyCombination combination = sequence[0];
    const std::optional<xcb_keysym_t> keysym = keysymOf(combination.key());
    const std::optional<quint8> keycode = keysym ? keycodeOf(connection, *keysym) : std::nullopt;
    if (!keycode) {
        *problem = sequenceText() + u" is not on this keyboard. Choose another."_s;
        return std::nullopt;
    }
    return Grab { *keycode, x11Modifiers(combination.keyboardModifiers()) };
}

void GlobalShortcut::apply()
{
    release();
    m_problem.clear();
    if (m_enabled && !m_isChoosing) {
        m_grab = grabFor(m_sequence, &m_problem);
        if (m_grab) {
            xcb_connection_t* connection = x11Connection();
            bool taken = false;
            for (quint16 locks : lockMasks) {
                const xcb_void_cookie_t cookie = xcb_grab_key_checked(connection, 0, rootWindow(connection),
                    m_grab->modifiers | locks, m_grab->keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
                if (xcb_generic_error_t* error = xcb_request_check(connection, cookie)) {
                    taken = true;
                    std::free(error);
                }
            }
            if (taken) {
                release();
                m_problem = sequenceText() + u" is taken by another application. Choose another."_s;
            }
        }
    }
    if (!m_problem.isEmpty())
        Log::line(u"[GlobalShortcut] "_s + m_problem);
    emit changed();
}

void GlobalShortcut::release()
{
    if (!m_grab)
        return;
    if (xcb_connection_t* connection = x11Connection()) {
        for (quint16 locks : lockMasks)
            xcb_ungrab_key(connection, m_grab->keycode, rootWindow(connection), m_grab->modifiers | locks);
        xcb_flush(connection);
    }
    m_grab.reset();
}

bool GlobalShortcut::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (!m_grab || eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<xcb_generic_event_t*>(message);
    const quint8 type = event->response_type & ~0x80;
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE)
        return false;
    const auto* key = reinterpret_cast<const xcb_key_press_event_t*>(event);
    if (key->detail != m_grab->keycode || (key->state & comboMask) != m_grab->modifiers)
        return false;
    if (type == XCB_KEY_RELEASE) {
        m_releasedAt = key->time;
        return true;
    }
    // A key held down repeats as a release and a press at the same moment: one press starts or stops once.
    if (key->time != m_releasedAt)
        emit activated();
    return true;
}
