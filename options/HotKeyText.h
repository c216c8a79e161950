#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kv {

/// A hot key code: the virtual-key code in the low byte plus these modifiers.
inline constexpr std::uint16_t kHotKeyShift = 0x2000;
inline constexpr std::uint16_t kHotKeyCtrl = 0x4000;
inline constexpr std::uint16_t kHotKeyAlt = 0x8000;
inline constexpr std::uint16_t kHotKeyModifiers = kHotKeyShift | kHotKeyCtrl | kHotKeyAlt;

/// Virtual-key codes that have names of their own.
inline constexpr std::uint8_t kVkF1 = 0x70;
inline constexpr std::uint8_t kVkF24 = 0x87;
inline constexpr std::uint8_t kVkNumpad0 = 0x60;
inline constexpr std::uint8_t kVkNumpad9 = 0x69;

/// The "HotKey" setting's default. Ctrl+A would take Select All away from
/// every other program of the desktop; a stored value is used as it is.
inline constexpr char kDefaultHotKeyText[] = "Ctrl+Alt+K";

/// The name of a virtual key: "A".."Z", "0".."9" (the keypad digits too),
/// "F1".."F24", "BkSp", "Tab", "Enter", "Esc", "Space", "PgUp", "PgDn", "End",
/// "Home", "Left", "Up", "Right", "Down", "Ins", "Del"; empty for other keys.
std::string_view VirtualKeyName(std::uint8_t vk);

/// The text form of a hot key code: the prefixes "Shift+", "Ctrl+", "Alt+" in
/// that order, then the key's name; empty when the key has no name (code 0).
std::string HotKeyToText(std::uint16_t code);

/// The code of a hot key text. Prefixes in any order and letter case, "^" for
/// "Ctrl+", each at most once; the key name in any letter case. Text that does
/// not parse (no key, an unknown name, a repeated or unknown prefix) gives 0.
std::uint16_t HotKeyFromText(std::string_view text);

}  // namespace kv
