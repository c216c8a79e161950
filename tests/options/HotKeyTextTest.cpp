#include "options/HotKeyText.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

struct Written {
    std::uint16_t code;
    const char* text;
};

// Every key of the text form, in the form it is written, and back.
TEST(HotKeyText, WritesPrefixesInOrderAndReadsBack) {
    const Written cases[] = {
        {0x4041, "Ctrl+A"},
        {0x805A, "Alt+Z"},
        {0x2030, "Shift+0"},
        {0xE039, "Shift+Ctrl+Alt+9"},
        {0xA070, "Shift+Alt+F1"},
        {0x4087, "Ctrl+F24"},
        {0x407B, "Ctrl+F12"},
        {0x8008, "Alt+BkSp"},
        {0x8009, "Alt+Tab"},
        {0x800D, "Alt+Enter"},
        {0x801B, "Alt+Esc"},
        {0x8020, "Alt+Space"},
        {0x8021, "Alt+PgUp"},
        {0x8022, "Alt+PgDn"},
        {0x8023, "Alt+End"},
        {0x8024, "Alt+Home"},
        {0x8025, "Alt+Left"},
        {0x8026, "Alt+Up"},
        {0x8027, "Alt+Right"},
        {0x8028, "Alt+Down"},
        {0x802D, "Alt+Ins"},
        {0x802E, "Alt+Del"},
        {0x0041, "A"},
        {0x6046, "Shift+Ctrl+F"},
    };
    for (const Written& c : cases) {
        EXPECT_EQ(HotKeyToText(c.code), c.text) << std::hex << c.code;
        EXPECT_EQ(HotKeyFromText(c.text), c.code) << c.text;
    }
}

TEST(HotKeyText, EveryNamedCodeSurvivesTheRoundTrip) {
    int named = 0;
    for (unsigned vk = 1; vk < 0x100; ++vk) {
        for (std::uint16_t mods : {0, 0x2000, 0x4000, 0x8000, 0xE000}) {
            const auto code = static_cast<std::uint16_t>(mods | vk);
            const std::string text = HotKeyToText(code);
            if (text.empty())
                continue;
            ++named;
            const bool keypad = vk >= kVkNumpad0 && vk <= kVkNumpad9;
            // A keypad digit reads back as the digit of the main keyboard.
            const auto expected =
                keypad ? static_cast<std::uint16_t>(mods | (vk - kVkNumpad0 + '0')) : code;
            EXPECT_EQ(HotKeyFromText(text), expected) << text;
        }
    }
    EXPECT_EQ(named, (26 + 10 + 10 + 24 + 15) * 5);
}

TEST(HotKeyText, CodesWithoutANamedKeyHaveNoText) {
    for (std::uint16_t code : {0x0000, 0x4000, 0xE000, 0x4010, 0x80FF, 0x40BA, 0x4088})
        EXPECT_EQ(HotKeyToText(code), "") << std::hex << code;
}

struct Read {
    const char* text;
    std::uint16_t code;
};

TEST(HotKeyText, ReadingAcceptsAnyOrderCaseAndTheCaret) {
    const Read cases[] = {
        {"ctrl+a", 0x4041},     {"CTRL+SHIFT+a", 0x6041}, {"Alt+Ctrl+Shift+F5", 0xE074},
        {"^A", 0x4041},         {"^alt+x", 0xC058},       {"Alt+^f24", 0xC087},
        {"shift+pgdn", 0x2022}, {"ESC", 0x001B},          {"f9", 0x0078},
        {"Alt+del", 0x802E},    {"aLt+SpAcE", 0x8020},
    };
    for (const Read& c : cases)
        EXPECT_EQ(HotKeyFromText(c.text), c.code) << c.text;
}

TEST(HotKeyText, TextThatDoesNotParseGivesZero) {
    const char* bad[] = {
        "",          "Ctrl+",       "Ctrl+Ctrl+A", "^Ctrl+A", "^^A",        "Shift+Shift+A",
        "Alt+alt+A", "+A",          "Ctrl+AB",     "Ctrl+F0", "Ctrl+F25",   "FF",
        "F100",      "Ctrl+Shift",  "Ctrl A",      " Ctrl+A", "Ctrl+A ",    "Ctrl-A",
        "Win+A",     "Ctrl+Escape", "Ctrl+PageUp", "Ctrl+Ä",  "Ctrl+\xff",  "Ctrl+*",
        "Shift+",    "Alt",         "^",           "Ctrl+\0", "Ctrl+BkSpX", "Num 1",
    };
    for (const char* text : bad)
        EXPECT_EQ(HotKeyFromText(text), 0) << '"' << text << '"';
    EXPECT_EQ(HotKeyFromText(std::string_view("Ctrl+A\0", 7)), 0);
    EXPECT_EQ(HotKeyFromText(std::string(100000, '^') + "A"), 0);
}

}  // namespace
}  // namespace kv
