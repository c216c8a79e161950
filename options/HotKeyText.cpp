#include "options/HotKeyText.h"

#include <array>

namespace kv {

namespace {

struct NamedKey {
    std::uint8_t vk;
    std::string_view name;
};

constexpr std::array<NamedKey, 15> kNamedKeys{{
    {0x08, "BkSp"},
    {0x09, "Tab"},
    {0x0D, "Enter"},
    {0x1B, "Esc"},
    {0x20, "Space"},
    {0x21, "PgUp"},
    {0x22, "PgDn"},
    {0x23, "End"},
    {0x24, "Home"},
    {0x25, "Left"},
    {0x26, "Up"},
    {0x27, "Right"},
    {0x28, "Down"},
    {0x2D, "Ins"},
    {0x2E, "Del"},
}};

// The F-key names as text, so VirtualKeyName can hand out views of them.
constexpr std::array<std::string_view, 24> kFunctionNames{
    "F1",  "F2",  "F3",  "F4",  "F5",  "F6",  "F7",  "F8",  "F9",  "F10", "F11", "F12",
    "F13", "F14", "F15", "F16", "F17", "F18", "F19", "F20", "F21", "F22", "F23", "F24"};
constexpr std::string_view kLetters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
constexpr std::string_view kDigits = "0123456789";

char Upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Upper(a[i]) != Upper(b[i]))
            return false;
    }
    return true;
}

// Removes `prefix` from the front of `text` (any letter case); true when it was there.
bool TakePrefix(std::string_view& text, std::string_view prefix) {
    if (text.size() < prefix.size() || !SameName(text.substr(0, prefix.size()), prefix))
        return false;
    text.remove_prefix(prefix.size());
    return true;
}

std::uint8_t VirtualKeyOfName(std::string_view name) {
    if (name.size() == 1) {
        const char c = Upper(name[0]);
        if (c >= 'A' && c <= 'Z')
            return static_cast<std::uint8_t>(c);
        if (c >= '0' && c <= '9')
            return static_cast<std::uint8_t>(c);
        return 0;
    }
    for (const NamedKey& key : kNamedKeys) {
        if (SameName(key.name, name))
            return key.vk;
    }
    for (std::size_t i = 0; i < kFunctionNames.size(); ++i) {
        if (SameName(kFunctionNames[i], name))
            return static_cast<std::uint8_t>(kVkF1 + i);
    }
    return 0;
}

}  // namespace

std::string_view VirtualKeyName(std::uint8_t vk) {
    if (vk >= 'A' && vk <= 'Z')
        return kLetters.substr(vk - 'A', 1);
    if (vk >= '0' && vk <= '9')
        return kDigits.substr(vk - '0', 1);
    if (vk >= kVkNumpad0 && vk <= kVkNumpad9)
        return kDigits.substr(vk - kVkNumpad0, 1);
    if (vk >= kVkF1 && vk <= kVkF24)
        return kFunctionNames[vk - kVkF1];
    for (const NamedKey& key : kNamedKeys) {
        if (key.vk == vk)
            return key.name;
    }
    return {};
}

std::string HotKeyToText(std::uint16_t code) {
    const std::string_view name = VirtualKeyName(static_cast<std::uint8_t>(code & 0xFF));
    if (name.empty())
        return {};
    std::string text;
    if (code & kHotKeyShift)
        text += "Shift+";
    if (code & kHotKeyCtrl)
        text += "Ctrl+";
    if (code & kHotKeyAlt)
        text += "Alt+";
    text += name;
    return text;
}

std::uint16_t HotKeyFromText(std::string_view text) {
    std::uint16_t modifiers = 0;
    for (;;) {
        std::uint16_t found = 0;
        if (TakePrefix(text, "Shift+"))
            found = kHotKeyShift;
        else if (TakePrefix(text, "Ctrl+") || TakePrefix(text, "^"))
            found = kHotKeyCtrl;
        else if (TakePrefix(text, "Alt+"))
            found = kHotKeyAlt;
        else
            break;
        if (modifiers & found)
            return 0;
        modifiers |= found;
    }
    const std::uint8_t vk = VirtualKeyOfName(text);
    return vk == 0 ? 0 : static_cast<std::uint16_t>(modifiers | vk);
}

}  // namespace kv
