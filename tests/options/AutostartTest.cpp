#include "options/Autostart.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "platform/Paths.h"
#include "tests/support/FakeRegistry.h"
#include "tests/support/TempDir.h"

namespace kv {
namespace {

using platform::Hive;

/// Makes `folder` an installed program's folder: the marker file in a folder
/// owned by root that no one else may write. False when that needs root.
bool MakeInstalled(const std::string& folder) {
    if (::geteuid() != 0)
        return false;
    std::filesystem::create_directories(folder);
    std::filesystem::permissions(folder, std::filesystem::perms(0755));
    test::WriteFile(folder + "/installed", "");
    return true;
}

class Autostart : public ::testing::Test {
protected:
    Autostart()
        : store_(dir_.File("kv.dat"), true),
          autostart_(store_, registry_, {dir_.File("Program Files/Kestrava"), dir_.File("xdg")}) {
        std::filesystem::create_directories(dir_.File("Program Files/Kestrava"));
    }
    void SetUp() override {
        if (!MakeInstalled(dir_.File("Program Files/Kestrava")))
            GTEST_SKIP() << "an installed program's folder belongs to root";
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

// A program run from a build tree writes nothing outside its machine folder:
// the value goes to the registry files only, no desktop entry is written or removed.
TEST(AutostartOfABuildTree, KeepsToTheRegistryValue) {
    test::TempDir dir;
    test::FakeRegistry registry;
    TEncriptor store(dir.File("kv.dat"), true);
    std::filesystem::create_directories(dir.File("build"));
    std::filesystem::create_directories(dir.File("xdg"));
    TAutostart autostart(store, registry, {dir.File("build"), dir.File("xdg")});
    autostart.ApplyAutostart(true);
    EXPECT_EQ(registry.ReadString(Hive::LocalMachine, kRunKey, kRunValue),
              dir.File("build") + "/kv /T");
    EXPECT_FALSE(std::filesystem::exists(dir.File("xdg/kestrava.desktop")));

    // An entry of an installed copy is not the build tree's to remove.
    test::WriteFile(dir.File("xdg/kestrava.desktop"), "installed copy");
    autostart.ApplyAutostart(false);
    autostart.RemoveRegistrations();
    EXPECT_EQ(test::ReadFile(dir.File("xdg/kestrava.desktop")), "installed copy");
    EXPECT_FALSE(registry.ReadString(Hive::LocalMachine, kRunKey, kRunValue).has_value());

    // The marker alone does not make a folder that others may write installed.
    test::WriteFile(dir.File("build/installed"), "");
    std::filesystem::permissions(dir.File("build"), std::filesystem::perms(0777));
    autostart.ApplyAutostart(true);
    EXPECT_EQ(test::ReadFile(dir.File("xdg/kestrava.desktop")), "installed copy");
}

// The start-at-logon value is machine-wide, and so is the entry: never the home
// folder's, whoever runs the program, with or without a home folder.
TEST(AutostartEntry, TheEntryIsTheMachinesForEveryUser) {
    EXPECT_EQ(platform::DefaultAutostartDir(), "/etc/xdg/autostart");
    if (::geteuid() != 0)
        GTEST_SKIP() << "another user is tried only from root";
    test::TempDir dir;
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(pipeFds[0]);
        ::setenv("HOME", dir.Path().c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", dir.File("config").c_str(), 1);
        if (::seteuid(65534) != 0)
            ::_exit(2);
        const std::string found = platform::DefaultAutostartDir();
        (void)!::write(pipeFds[1], found.data(), found.size());
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    std::string found;
    char buffer[256];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        found.append(buffer, static_cast<std::size_t>(n));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(found, "/etc/xdg/autostart");
}

TEST(AutostartEntry, NoAutostartFolderWritesNoEntry) {
    test::TempDir dir;
    test::FakeRegistry registry;
    TEncriptor store(dir.File("kv.dat"), true);
    if (!MakeInstalled(dir.File("program")))
        GTEST_SKIP() << "an installed program's folder belongs to root";
    TAutostart autostart(store, registry, {dir.File("program"), ""});
    // Checked before anything is applied: "/kestrava.desktop" must never be written.
    ASSERT_EQ(autostart.DesktopEntryPath(), "");
    autostart.ApplyAutostart(true);
    EXPECT_EQ(registry.ReadString(Hive::LocalMachine, kRunKey, kRunValue),
              dir.File("program") + "/kv /T");
    autostart.ApplyAutostart(false);
    EXPECT_FALSE(registry.ReadString(Hive::LocalMachine, kRunKey, kRunValue).has_value());
}

TEST(AutostartEntry, ProgramPathsAreEscapedForTheDesktopEntry) {
    test::TempDir dir;
    test::FakeRegistry registry;
    TEncriptor store(dir.File("kv.dat"), true);
    const std::string program = dir.File("100% $HOME \\x");
    if (!MakeInstalled(program))
        GTEST_SKIP() << "an installed program's folder belongs to root";
    TAutostart odd(store, registry, {program, dir.File("xdg")});
    odd.ApplyAutostart(true);
    const std::string entry = test::ReadFile(dir.File("xdg/kestrava.desktop"));
    std::string escapedDir = dir.Path();
    EXPECT_NE(entry.find("Exec=\"" + escapedDir + "/100%% \\\\$HOME \\\\\\\\x/kv\" /T\n"),
              std::string::npos)
        << entry;
    // A path that no entry line can carry writes no entry.
    const std::string broken = dir.File("a\nExec=rm");
    ASSERT_TRUE(MakeInstalled(broken));
    TAutostart brokenEntry(store, registry, {broken, dir.File("xdg2")});
    brokenEntry.ApplyAutostart(true);
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

TEST(UninstallEntry, AnUnquotedCommandKeepsItsFolderUpToTheLastSeparator) {
    test::TempDir dir;
    test::FakeRegistry registry;
    TEncriptor store(dir.File("kv.dat"), true);
    TAutostart autostart(store, registry, {dir.File("program"), dir.File("xdg")});
    const std::string entry = std::string(kUninstallKey) + "\\Kestrava_is1";
    const std::pair<const char*, const char*> cases[] = {
        {"/opt/Kestrava 1.3/unins000", "/opt/Kestrava 1.3/kv\" /U"},
        {"/opt/Kestrava 1.3/unins000 /SILENT", "/opt/Kestrava 1.3/kv\" /U"},
        {"C:\\Program Files\\Kestrava\\unins000.exe", "C:\\Program Files\\Kestrava\\kv\" /U"},
        {"\"/opt/Kestrava 1.3/kv\" /U", "\"/opt/Kestrava 1.3/kv\" /U"},
        {"unins000", "kv\" /U"},
    };
    for (const auto& [before, after] : cases) {
        registry.WriteString(Hive::LocalMachine, entry, "UninstallString", before);
        autostart.RegisterInstallation();
        EXPECT_EQ(registry.ReadString(Hive::LocalMachine, entry, "UninstallString"), after)
            << before;
    }
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
