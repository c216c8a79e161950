#include "options/Autostart.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/FakeRegistry.h"
#include "tests/support/TempDir.h"

namespace kv {
namespace {

using platform::Hive;

class Autostart : public ::testing::Test {
protected:
    Autostart()
        : store_(dir_.File("kv.dat"), true),
          autostart_(store_, registry_, {dir_.File("Program Files/Kestrava"), dir_.File("xdg")}) {
        std::filesystem::create_directories(dir_.File("Program Files/Kestrava"));
    }

    std::optional<std::string> RunValue() const {
        return registry_.ReadString(Hive::LocalMachine, kRunKey, kRunValue);
    }

    test::TempDir dir_;
    test::FakeRegistry registry_;
    TEncriptor store_;
    TAutostart autostart_;
};

TEST_F(Autostart, EntryFollowsTheMenuItemAndTheMinimizeOption) {
    autostart_.ApplyAutostart(true);
    const std::string program = dir_.File("Program Files/Kestrava") + "/kv";
    EXPECT_EQ(RunValue(), program + " /T");  // no quotes even with blanks
    EXPECT_EQ(store_.ReadString("AutomaticFilesProtection", ""), "1");
    const std::string desktop = test::ReadFile(dir_.File("xdg/kestrava.desktop"));
    EXPECT_NE(desktop.find("Exec=\"" + program + "\" /T\n"), std::string::npos) << desktop;

    store_.WriteBool("Minimize", false);
    autostart_.ApplyAutostart(true);
    EXPECT_EQ(RunValue(), program + " /S");
    EXPECT_NE(test::ReadFile(dir_.File("xdg/kestrava.desktop")).find("\" /S\n"), std::string::npos);

    autostart_.ApplyAutostart(false);
    EXPECT_FALSE(RunValue().has_value());
    EXPECT_TRUE(registry_.KeyExists(Hive::LocalMachine, kRunKey));  // the key stays
    EXPECT_FALSE(std::filesystem::exists(dir_.File("xdg/kestrava.desktop")));
    EXPECT_EQ(store_.ReadString("AutomaticFilesProtection", ""), "0");
}

TEST(AutostartEntry, ProgramPathsAreEscapedForTheDesktopEntry) {
    test::TempDir dir;
    test::FakeRegistry registry;
    TEncriptor store(dir.File("kv.dat"), true);
    TAutostart odd(store, registry, {"/opt/100% $HOME \\x", dir.File("xdg")});
    odd.ApplyAutostart(true);
    const std::string entry = test::ReadFile(dir.File("xdg/kestrava.desktop"));
    EXPECT_NE(entry.find("Exec=\"/opt/100%% \\\\$HOME \\\\\\\\x/kv\" /T\n"), std::string::npos)
        << entry;
    // A path that no entry line can carry writes no entry.
    TAutostart broken(store, registry, {"/opt/a\nExec=rm", dir.File("xdg2")});
    broken.ApplyAutostart(true);
    EXPECT_FALSE(std::filesystem::exists(dir.File("xdg2/kestrava.desktop")));
}

TEST_F(Autostart, InstallationRegistersTheServiceAndRewritesTheUninstallEntry) {
    const std::string entry = std::string(kUninstallKey) + "\\Kestrava_is1";
    registry_.WriteString(Hive::LocalMachine, entry, "UninstallString",
                          "\"/opt/kestrava/unins000\"");
    registry_.CreateKey(Hive::LocalMachine, std::string(kUninstallKey) + "\\Kestrava 1.2_is1");
    registry_.CreateKey(Hive::LocalMachine, std::string(kUninstallKey) + "\\KESTRAVA old");
    registry_.CreateKey(Hive::LocalMachine, std::string(kUninstallKey) + "\\Other");
    test::WriteFile(dir_.File("Program Files/Kestrava/uninst0.000"), "x");

    autostart_.RegisterInstallation();
    const auto start = registry_.ReadValue(Hive::LocalMachine, kServiceKey, "Start");
    ASSERT_TRUE(start.has_value());
    EXPECT_EQ(start->type, platform::RegistryValue::Type::Binary);
    EXPECT_EQ(start->bytes, std::vector<std::uint8_t>{0});
    EXPECT_EQ(registry_.ReadString(Hive::LocalMachine, kServiceKey, "StaticVxD"), "kvvxd");
    EXPECT_EQ(registry_.ReadString(Hive::LocalMachine, entry, "UninstallString"),
              "\"/opt/kestrava/kv\" /U");
    EXPECT_EQ(registry_.SubKeyNames(Hive::LocalMachine, kUninstallKey),
              (std::vector<std::string>{"Kestrava_is1", "KESTRAVA old", "Other"}));
    EXPECT_FALSE(std::filesystem::exists(dir_.File("Program Files/Kestrava/uninst0.000")));

    // A second installation step gives the same text.
    autostart_.RegisterInstallation();
    EXPECT_EQ(registry_.ReadString(Hive::LocalMachine, entry, "UninstallString"),
              "\"/opt/kestrava/kv\" /U");
}

TEST_F(Autostart, RemovalUndoesTheRegistrations) {
    autostart_.RegisterInstallation();
    autostart_.ApplyAutostart(true);
    autostart_.RemoveRegistrations();
    EXPECT_FALSE(registry_.KeyExists(Hive::LocalMachine, kServiceKey));
    EXPECT_FALSE(RunValue().has_value());
    EXPECT_FALSE(std::filesystem::exists(dir_.File("xdg/kestrava.desktop")));
}

}  // namespace
}  // namespace kv
