#pragma once

#include <QAbstractNativeEventFilter>
#include <cstdint>

#include "platform/HotKey.h"

struct xcb_connection_t;

namespace kv::platform {

/// The X11 keysym for a Windows virtual-key code (letters, digits, F1 to F24,
/// keypad, navigation and punctuation keys); 0 when there is none.
[[nodiscard]] std::uint32_t VirtualKeyToKeysym(unsigned virtualKey);

/// Holds a global key combination with an X server: grabs the key on the
/// root window for the modifiers alone and with CapsLock, NumLock (Mod2) and
/// both, so the combination works whatever the lock keys show. A grab held by
/// another client fails with BadAccess: Register returns false and nothing
/// stays grabbed. Key presses arrive through a native event filter on the
/// GUI thread. Without an X display (offscreen, Wayland) Register always
/// refuses. Needs a QGuiApplication for its whole life.
class X11HotKeyRegistrar final : public IHotKeyRegistrar, public QAbstractNativeEventFilter {
public:
    X11HotKeyRegistrar();
    ~X11HotKeyRegistrar() override;
    X11HotKeyRegistrar(const X11HotKeyRegistrar&) = delete;
    X11HotKeyRegistrar& operator=(const X11HotKeyRegistrar&) = delete;

    /// True when an X display is there to hold hot keys.
    [[nodiscard]] bool HasDisplay() const { return connection_ != nullptr; }

    [[nodiscard]] bool Register(unsigned modifiers, unsigned virtualKey) override;
    void Unregister() override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    /// Ungrabs the first `count` lock-mask variants of the held combination.
    void Ungrab(int count);

    xcb_connection_t* connection_ = nullptr;
    std::uint32_t root_ = 0;
    std::uint8_t keycode_ = 0;   ///< 0: nothing held
    std::uint16_t modMask_ = 0;  ///< X modifier mask of the held combination
};

}  // namespace kv::platform
