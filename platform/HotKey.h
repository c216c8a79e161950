#pragma once

#include <cstdint>
#include <functional>

namespace kv {

/// Modifier flags of a hot key code (the virtual-key code is the low byte).
inline constexpr std::uint16_t kHotKeyShift = 0x2000;
inline constexpr std::uint16_t kHotKeyCtrl = 0x4000;
inline constexpr std::uint16_t kHotKeyAlt = 0x8000;

/// Modifier flags in the system's registration form.
inline constexpr unsigned kModAlt = 1;
inline constexpr unsigned kModControl = 2;
inline constexpr unsigned kModShift = 4;

/// The system's modifiers for a hot key code: 4 for Shift, plus 1 for Alt,
/// plus 2 for Ctrl.
[[nodiscard]] unsigned HotKeyModifiers(std::uint16_t key);
/// The virtual-key code of a hot key code: its low byte.
[[nodiscard]] unsigned HotKeyVirtualKey(std::uint16_t key);

/// The system service that holds one global key combination for the process.
/// The X11 implementation is platform/qt/X11HotKey.h; tests use a fake.
class IHotKeyRegistrar {
public:
    virtual ~IHotKeyRegistrar() = default;
    /// Asks the system for the combination; false when it refuses (taken by
    /// another program, no such key, no system-wide hot keys here).
    [[nodiscard]] virtual bool Register(unsigned modifiers, unsigned virtualKey) = 0;
    /// Releases the combination held by the last successful Register.
    virtual void Unregister() = 0;
    /// Called when the held combination is pressed (on the GUI thread).
    void SetOnPressed(std::function<void()> handler) { onPressed_ = std::move(handler); }

protected:
    void Pressed() {
        if (onPressed_)
            onPressed_();
    }

private:
    std::function<void()> onPressed_;
};

/// The global hot key component: holds one combination, `Key`, with the
/// system while `Enabled`, and raises `OnHotKey` when it is pressed.
///
/// Life cycle: construct (nothing registered), then Loaded() once the owner
/// has applied its stored properties: it registers when Enabled. A refusal is
/// silent and leaves Registered() false; a later write of another Key tries
/// again. Destruction releases the combination.
///
/// Wiring in the main window (TSecFrm owns one instance, `fisHotKey1`):
///   platform::X11HotKeyRegistrar hotKeyRegistrar_;      // platform/qt/X11HotKey.h
///   TfisHotKey fisHotKey1{hotKeyRegistrar_};            // declared after the registrar
///   fisHotKey1.OnHotKey = [this](TfisHotKey&) { ShowMainWindow(); };  // fisHotKey1HotKey
///   fisHotKey1.Loaded();                                // at the end of the constructor
/// Its Key comes from the settings through ApplyHotKey (program options):
/// ReadString("HotKey", "Ctrl+Alt+K") converted to the 16-bit code, then
/// `fisHotKey1.SetKey(code)`; called at startup before the command line is
/// examined and after the program options dialog's OK.
class TfisHotKey {
public:
    explicit TfisHotKey(IHotKeyRegistrar& registrar);
    ~TfisHotKey();
    TfisHotKey(const TfisHotKey&) = delete;
    TfisHotKey& operator=(const TfisHotKey&) = delete;

    /// The owner has loaded: registers when Enabled.
    void Loaded();

    [[nodiscard]] bool Enabled() const { return enabled_; }
    /// true registers, false releases.
    void SetEnabled(bool enabled);

    [[nodiscard]] std::uint16_t Key() const { return key_; }
    /// The same value does nothing; another releases the old combination,
    /// then registers the new one when Enabled.
    void SetKey(std::uint16_t key);

    /// True while the system holds the combination for this component.
    [[nodiscard]] bool Registered() const { return registered_; }

    /// Raised with the component as sender when the combination is pressed.
    std::function<void(TfisHotKey& sender)> OnHotKey;

private:
    void Register();
    void Unregister();
    void HotKeyPressed();

    IHotKeyRegistrar& registrar_;
    bool enabled_ = true;
    std::uint16_t key_ = 0;
    bool registered_ = false;
};

}  // namespace kv
