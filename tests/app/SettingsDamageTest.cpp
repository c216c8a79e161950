#include <gtest/gtest.h>

#include <filesystem>

#include "app/CtrlPanel.h"
#include "app/SettingsDamage.h"
#include "app/Startup.h"
#include "platform/Files.h"
#include "tests/app/WindowFixture.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

TEST(SettingsBytes, WhatTheStoreWritesIsIntactAndGarbageIsNot) {
    test::TempDir dir;
    {
        TEncriptor store(dir.File("kv.dat"), true);
        store.WriteString("Password", "secret");
        store.WriteInteger("g_Staff_P_/srv", 1);
        ASSERT_TRUE(store.Flush(true));
    }
    std::string data;
    ASSERT_TRUE(platform::ReadWholeFile(dir.File("kv.dat"), &data));
    EXPECT_TRUE(SettingsBytesIntact(data));
    EXPECT_TRUE(SettingsBytesIntact(""));
    EXPECT_FALSE(SettingsBytesIntact("this is not a settings file\n"));
    // One byte changed inside a good file, or the file cut short.
    std::string changed = data;
    changed[5] = 'z';
    EXPECT_FALSE(SettingsBytesIntact(changed));
    EXPECT_FALSE(SettingsBytesIntact(data.substr(0, data.size() - 3)));
}

class DamagedSettings : public test::WindowFixture {
protected:
    DamagedSettings() {
        registry_.SetProfiles({"ALICE"});
        registry_.SetCurrentUser("ALICE");
        EXPECT_TRUE(platform::WriteFileAtomically(File(), kGarbage, nullptr));
    }
    std::string File() const { return dir_.File("kv.dat"); }

    std::vector<fs::path> Copies() const {
        std::vector<fs::path> out;
        for (const auto& e : fs::directory_iterator(dir_.Path()))
            if (e.path().filename().string().rfind("kv.dat.damaged-", 0) == 0)
                out.push_back(e.path());
        return out;
    }
    std::string Bytes(const std::string& path) const {
        std::string data;
        EXPECT_TRUE(platform::ReadWholeFile(path, &data));
        return data;
    }

    static constexpr char kGarbage[] = "garbage \x01\x02 that no store wrote\r\n";
};

TEST_F(DamagedSettings, TheFileIsKeptTheAdministratorToldOnceAndNothingOverwritten) {
    TEncriptor store(File(), true);
    auto w = Make(store);
    EXPECT_EQ(RunStartup(*w, StartSwitch::None), StartupOutcome::ShowWindow);

    const std::vector<fs::path> copies = Copies();
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(Bytes(copies[0].string()), kGarbage);
    EXPECT_EQ(fs::status(copies[0]).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_EQ(prompts_.shown.size(), 1u);
    EXPECT_NE(prompts_.shown[0].text.find(File()), std::string::npos);
    EXPECT_NE(prompts_.shown[0].text.find(copies[0].string()), std::string::npos);
    // Not a first start: no first steps, and no Program Options on close.
    EXPECT_TRUE(helpTopics_.empty());

    // Save asks first; No leaves the file as it was.
    prompts_.Queue(Answer::No);
    w->cmdSaveExecute();
    ASSERT_EQ(prompts_.shown.size(), 2u);
    EXPECT_EQ(prompts_.shown[1].buttons, Buttons::YesNo);
    EXPECT_EQ(Bytes(File()), kGarbage);

    w->Modified().Clear();
    EXPECT_TRUE(w->QueryEndSession());
    EXPECT_EQ(optionRuns_, 0);
    EXPECT_EQ(Bytes(File()), kGarbage);
}

TEST_F(DamagedSettings, YesWritesTheSettingsAndAnotherStartKeepsNoSecondCopy) {
    {
        TEncriptor store(File(), true);
        auto w = Make(store);
        RunStartup(*w, StartSwitch::None);
    }
    {
        TEncriptor store(File(), true);
        auto w = Make(store);
        RunStartup(*w, StartSwitch::None);
        EXPECT_EQ(Copies().size(), 1u);
        prompts_.Queue(Answer::Yes);
        w->cmdSaveExecute();
        // Asked once only.
        w->cmdSaveExecute();
    }
    EXPECT_EQ(prompts_.shown.size(), 3u);
    std::string data = Bytes(File());
    EXPECT_TRUE(SettingsBytesIntact(data));
    TEncriptor reread(File(), true);
    EXPECT_EQ(reread.ReadString("CurUsers_ALICE", ""), "1");
}

}  // namespace
}  // namespace kv
