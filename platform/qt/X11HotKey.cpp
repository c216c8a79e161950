#include "platform/qt/X11HotKey.h"

#include <X11/keysym.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <array>
#include <cstdlib>

namespace kv::platform {

namespace {

// NumLock is Mod2 on every common X keyboard map.
constexpr std::uint16_t kNumLockMask = XCB_MOD_MASK_2;
constexpr std::array<std::uint16_t, 4> kLockVariants = {0, XCB_MOD_MASK_LOCK, kNumLockMask,
                                                        XCB_MOD_MASK_LOCK | kNumLockMask};

std::uint16_t XModifiers(unsigned modifiers) {
    std::uint16_t mask = 0;
    if (modifiers & kModShift)
        mask |= XCB_MOD_MASK_SHIFT;
    if (modifiers & kModControl)
        mask |= XCB_MOD_MASK_CONTROL;
    if (modifiers & kModAlt)
        mask |= XCB_MOD_MASK_1;
    return mask;
}

std::uint8_t KeycodeOf(xcb_connection_t* connection, std::uint32_t keysym) {
    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(connection);
    if (!symbols)
        return 0;
    std::uint8_t keycode = 0;
    if (xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, keysym)) {
        keycode = codes[0] == XCB_NO_SYMBOL ? 0 : codes[0];
        std::free(codes);
    }
    xcb_key_symbols_free(symbols);
    return keycode;
}

}  // namespace

std::uint32_t VirtualKeyToKeysym(unsigned vk) {
    if (vk >= 'A' && vk <= 'Z')
        return XK_a + (vk - 'A');
    if (vk >= '0' && vk <= '9')
        return XK_0 + (vk - '0');
    if (vk >= 0x70 && vk <= 0x87)  // VK_F1 .. VK_F24
        return XK_F1 + (vk - 0x70);
    if (vk >= 0x60 && vk <= 0x69)  // VK_NUMPAD0 .. VK_NUMPAD9
        return XK_KP_0 + (vk - 0x60);
    switch (vk) {
        case 0x08:
            return XK_BackSpace;
        case 0x09:
            return XK_Tab;
        case 0x0D:
            return XK_Return;
        case 0x13:
            return XK_Pause;
        case 0x1B:
            return XK_Escape;
        case 0x20:
            return XK_space;
        case 0x21:
            return XK_Prior;
        case 0x22:
            return XK_Next;
        case 0x23:
            return XK_End;
        case 0x24:
            return XK_Home;
        case 0x25:
            return XK_Left;
        case 0x26:
            return XK_Up;
        case 0x27:
            return XK_Right;
        case 0x28:
            return XK_Down;
        case 0x2C:
            return XK_Print;
        case 0x2D:
            return XK_Insert;
        case 0x2E:
            return XK_Delete;
        case 0x6A:
            return XK_KP_Multiply;
        case 0x6B:
            return XK_KP_Add;
        case 0x6D:
            return XK_KP_Subtract;
        case 0x6E:
            return XK_KP_Decimal;
        case 0x6F:
            return XK_KP_Divide;
        case 0xBA:
            return XK_semicolon;
        case 0xBB:
            return XK_equal;
        case 0xBC:
            return XK_comma;
        case 0xBD:
            return XK_minus;
        case 0xBE:
            return XK_period;
        case 0xBF:
            return XK_slash;
        case 0xC0:
            return XK_grave;
        case 0xDB:
            return XK_bracketleft;
        case 0xDC:
            return XK_backslash;
        case 0xDD:
            return XK_bracketright;
        case 0xDE:
            return XK_apostrophe;
        default:
            return 0;
    }
}

X11HotKeyRegistrar::X11HotKeyRegistrar() {
    auto* app = qGuiApp;
    auto* x11 = app ? app->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection())
        return;
    connection_ = x11->connection();
    const xcb_setup_t* setup = xcb_get_setup(connection_);
    xcb_screen_iterator_t screen = xcb_setup_roots_iterator(setup);
    if (!screen.rem) {
        connection_ = nullptr;
        return;
    }
    root_ = screen.data->root;
    QCoreApplication::instance()->installNativeEventFilter(this);
}

X11HotKeyRegistrar::~X11HotKeyRegistrar() {
    Unregister();
    if (connection_ && QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool X11HotKeyRegistrar::Register(unsigned modifiers, unsigned virtualKey) {
    Unregister();
    if (!connection_)
        return false;
    const std::uint32_t keysym = VirtualKeyToKeysym(virtualKey);
    if (keysym == 0)
        return false;
    const std::uint8_t keycode = KeycodeOf(connection_, keysym);
    if (keycode == 0)
        return false;
    keycode_ = keycode;
    modMask_ = XModifiers(modifiers);
    for (std::size_t i = 0; i < kLockVariants.size(); ++i) {
        const xcb_void_cookie_t cookie =
            xcb_grab_key_checked(connection_, 1, root_, modMask_ | kLockVariants[i], keycode_,
                                 XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        if (xcb_generic_error_t* error = xcb_request_check(connection_, cookie)) {
            // BadAccess: another client holds this combination.
            std::free(error);
            Ungrab(static_cast<int>(i));
            keycode_ = 0;
            return false;
        }
    }
    return true;
}

void X11HotKeyRegistrar::Unregister() {
    if (keycode_ == 0)
        return;
    Ungrab(static_cast<int>(kLockVariants.size()));
    keycode_ = 0;
}

void X11HotKeyRegistrar::Ungrab(int count) {
    for (int i = 0; i < count; ++i) {
        xcb_ungrab_key(connection_, keycode_, root_, modMask_ | kLockVariants[i]);
    }
    xcb_flush(connection_);
}

bool X11HotKeyRegistrar::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (keycode_ == 0 || eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7F) != XCB_KEY_PRESS)
        return false;
    const auto* press = reinterpret_cast<const xcb_key_press_event_t*>(event);
    const std::uint16_t relevant =
        XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4;
    if (press->detail == keycode_ && press->root == root_ &&
        (press->state & relevant) == modMask_) {
        Pressed();
    }
    // Like the system's hot key message, the press goes on to the toolkit.
    return false;
}

}  // namespace kv::platform
