#include "app/Startup.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

TEST(StartSwitch, OnlyTheExactFirstArgumentCounts) {
    const std::vector<std::pair<std::vector<std::string>, StartSwitch>> cases = {
        {{}, StartSwitch::None},           {{"/T"}, StartSwitch::Tray},
        {{"/S"}, StartSwitch::Start},      {{"/D"}, StartSwitch::Stop},
        {{"/I"}, StartSwitch::Install},    {{"/U"}, StartSwitch::Uninstall},
        {{"/t"}, StartSwitch::Other},      {{"/T "}, StartSwitch::Other},
        {{"/TD"}, StartSwitch::Other},     {{"/T", "/D"}, StartSwitch::Tray},
        {{"--bogus"}, StartSwitch::Other}, {{""}, StartSwitch::Other},
    };
    for (const auto& [args, expected] : cases) {
        EXPECT_EQ(ParseStartSwitch(args), expected) << (args.empty() ? "<none>" : args[0]);
    }
}

TEST(StartSwitch, HelpListsTheFiveSwitchesAndVersionNamesTheBuild) {
    std::string out;
    ASSERT_TRUE(HandleInfoSwitch({"--help"}, &out));
    for (const char* s : {"/T", "/S", "/D", "/I", "/U"})
        EXPECT_NE(out.find(s), std::string::npos);
    ASSERT_TRUE(HandleInfoSwitch({"--version"}, &out));
    EXPECT_EQ(out, "Kestrava Version 1.3 (Build 1.3.1.1)\n");
    EXPECT_FALSE(HandleInfoSwitch({"/T"}, &out));
    EXPECT_FALSE(HandleInfoSwitch({"--helpme"}, &out));
}

}  // namespace
}  // namespace kv
