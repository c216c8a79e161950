#include "options/ProgramOptions.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "access/AdminPassword.h"
#include "access/Secure.h"
#include "options/HotKeyText.h"
#include "tests/access/AccessFakes.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TempDir.h"

namespace kv {
namespace {

using test::RecordingPrompts;

/// The program options form as plain fields; ShowModal plays `script`.
class FakePrOptForm : public IPrOptForm {
public:
    FakePrOptForm() = default;
    FakePrOptForm(const FakePrOptForm&) = default;
    FakePrOptForm& operator=(const FakePrOptForm&) = default;
    /// Leaves its final state in `*last` when given.
    ~FakePrOptForm() override {
        if (last) {
            FakePrOptForm* target = last;
            last = nullptr;
            *target = *this;
            target->script = nullptr;
        }
    }
    ModalResult ShowModal() override {
        if (script)
            script(*this);
        return result;
    }
    void Close(ModalResult r) override {
        result = r;
        ++closes;
    }
    void SetPasswordText(const std::string& text) override { password = text; }
    std::string PasswordText() const override { return password; }
    std::string ConfirmText() const override { return confirm; }
    void ClearConfirm() override {
        confirm.clear();
        confirmFocused = true;
    }
    void SetMasked(bool m) override { masked = m; }
    bool Checked(PrOptBox box) const override { return boxes.at(box); }
    void SetChecked(PrOptBox box, bool checked) override { boxes[box] = checked; }
    void SetMiniEnabled(bool enabled) override { miniEnabled = enabled; }
    std::uint16_t HotKey() const override { return hotKey; }
    void SetHotKey(std::uint16_t code) override { hotKey = code; }
    void WipeFields() override {
        password.clear();
        confirm.clear();
        wiped = true;
    }

    std::function<void(FakePrOptForm&)> script;
    FakePrOptForm* last = nullptr;
    ModalResult result = ModalResult::None;
    int closes = 0;
    std::string password = "stale", confirm;
    bool confirmFocused = false, masked = true, miniEnabled = true, wiped = false;
    std::map<PrOptBox, bool> boxes{{PrOptBox::Auto, true},
                                   {PrOptBox::Mini, true},
                                   {PrOptBox::DisableBOOT, true},
                                   {PrOptBox::DisableMSDOS, true}};
    std::uint16_t hotKey = 0;
};

class ProgramOptions : public ::testing::Test {
protected:
    ProgramOptions() {
        hooks.automaticProtection = [this] { return menuChecked; };
        hooks.setAutomaticProtection = [this](bool c) {
            menuChecked = c;
            log.push_back(std::string("menu ") + (c ? "on" : "off"));
        };
        hooks.applyAutostart = [this](bool c) {
            // The entry is written with the "Minimize" value already stored.
            log.push_back(std::string("autostart ") + (c ? "on" : "off") + " minimize " +
                          store.ReadString("Minimize", "?"));
        };
        hooks.applyHotKey = [this](std::uint16_t code) {
            log.push_back("hotkey " + std::to_string(code) + " stored " +
                          store.ReadString("Password", "<none>"));
        };
        hooks.saveKnownUsers = [this] { log.push_back("known users"); };
        hooks.applyBootKeysPolicy = [this](bool on) {
            log.push_back(std::string("boot ") + (on ? "on" : "off") + " " +
                          store.ReadString("DisableBOOT", "?"));
        };
        hooks.applyMsDosModePolicy = [this](bool on) {
            log.push_back(std::string("msdos ") + (on ? "on" : "off"));
        };
    }

    /// Runs the command; the form is kept for inspection.
    bool Run(std::function<void(FakePrOptForm&, TPrOptFrmLogic&)> steps) {
        return cmdPrOptExecute(store, prompts, modified, hooks, [&](TPrOptFrmLogic& logic) {
            auto form = std::make_unique<FakePrOptForm>();
            form->last = &shown;
            form->script = [&logic, steps](FakePrOptForm& f) { steps(f, logic); };
            return std::unique_ptr<IPrOptForm>(form.release());
        });
    }

    std::string OnDisk(const char* name) {
        TEncriptor reread(dir.File("kv.dat"), true);
        return reread.ReadString(name, "<none>");
    }

    test::TempDir dir;
    TEncriptor store{dir.File("kv.dat"), true};
    RecordingPrompts prompts;
    TModifiedFlag modified;
    ProgramOptionsHooks hooks;
    bool menuChecked = true;
    std::vector<std::string> log;
    FakePrOptForm shown;  ///< the form as it was freed
};

TEST_F(ProgramOptions, EmptySettingsOpenWithDefaultsAndCancelOnlyClearsFirstTime) {
    FakePrOptForm seen;
    const bool ok = Run([&](FakePrOptForm& f, TPrOptFrmLogic& logic) {
        seen = f;
        seen.last = nullptr;
        logic.CNCLButtonClick();
    });
    EXPECT_FALSE(ok);
    EXPECT_EQ(seen.password, "");  // "stale" was replaced by the load step
    for (const auto& [box, checked] : seen.boxes)
        EXPECT_TRUE(checked) << static_cast<int>(box);
    EXPECT_EQ(seen.hotKey, 0xC04B);  // Ctrl+Alt+K
    EXPECT_TRUE(seen.miniEnabled);
    EXPECT_TRUE(shown.wiped);
    EXPECT_EQ(shown.result, ModalResult::Cancel);
    EXPECT_EQ(store.ReadString("FirstTime", "<none>"), "0");
    EXPECT_EQ(OnDisk("FirstTime"), "<none>");  // in memory only
    EXPECT_EQ(store.ReadString("Minimize", "<none>"), "<none>");
    EXPECT_TRUE(log.empty());
    EXPECT_TRUE(prompts.shown.empty());
}

TEST_F(ProgramOptions, LoadTakesTheStoredValuesAndTheMenuItem) {
    store.WriteString("Password", "SECRET");
    store.WriteBool("Minimize", false);
    store.WriteBool("DisableBOOT", false);
    store.WriteBool("DisableMSDOS", true);
    store.WriteString("HotKey", "Shift+Alt+F7");
    menuChecked = false;
    Run([&](FakePrOptForm& f, TPrOptFrmLogic& logic) {
        EXPECT_EQ(f.password, "SECRET");
        EXPECT_FALSE(f.boxes[PrOptBox::Auto]);
        EXPECT_FALSE(f.boxes[PrOptBox::Mini]);
        EXPECT_FALSE(f.boxes[PrOptBox::DisableBOOT]);
        EXPECT_TRUE(f.boxes[PrOptBox::DisableMSDOS]);
        EXPECT_EQ(f.hotKey, 0xA076);
        EXPECT_FALSE(f.miniEnabled);
        f.boxes[PrOptBox::Auto] = true;
        logic.AutoClick();
        EXPECT_TRUE(f.miniEnabled);
        logic.CheckBox1Click(false);
        EXPECT_FALSE(f.masked);
        EXPECT_FALSE(logic.FormKeyDown('A'));
        EXPECT_TRUE(logic.FormKeyDown(kKeyEscape));
    });
    EXPECT_EQ(shown.result, ModalResult::Cancel);
    EXPECT_TRUE(log.empty());
}

TEST_F(ProgramOptions, AStoredHotKeyThatDoesNotParseShowsAndAppliesZero) {
    store.WriteString("HotKey", "Ctrl+Nothing");
    Run([](FakePrOptForm& f, TPrOptFrmLogic& logic) {
        EXPECT_EQ(f.hotKey, 0);
        logic.CNCLButtonClick();
    });
    std::uint16_t applied = 0xFFFF;
    EXPECT_EQ(ApplyHotKey(store, [&](std::uint16_t code) { applied = code; }), 0);
    EXPECT_EQ(applied, 0);
}

TEST_F(ProgramOptions, AnAbsentHotKeyIsCtrlAltKAndAStoredOneIsKept) {
    // Ctrl+A would take Select All away from every other program.
    std::uint16_t applied = 0;
    EXPECT_EQ(ApplyHotKey(store, [&](std::uint16_t code) { applied = code; }), 0xC04B);
    EXPECT_EQ(applied, 0xC04B);
    Run([](FakePrOptForm& f, TPrOptFrmLogic& logic) {
        EXPECT_EQ(f.hotKey, 0xC04B);
        logic.CNCLButtonClick();
    });
    store.WriteString("HotKey", "Ctrl+A");
    EXPECT_EQ(ApplyHotKey(store, [&](std::uint16_t code) { applied = code; }), 0x4041);
    EXPECT_EQ(applied, 0x4041);
    Run([](FakePrOptForm& f, TPrOptFrmLogic& logic) {
        EXPECT_EQ(f.hotKey, 0x4041);
        logic.CNCLButtonClick();
    });
    EXPECT_EQ(store.ReadString("HotKey", ""), "Ctrl+A");
}

TEST_F(ProgramOptions, OkLeavesTheFlagSetWhileGroupEditsAreUnsaved) {
    modified.SetTreeEdited();
    EXPECT_TRUE(Run([](FakePrOptForm&, TPrOptFrmLogic& logic) { logic.OKButtonClick(); }));
    EXPECT_EQ(OnDisk("FirstTime"), "0");
    EXPECT_TRUE(modified.Get());
    EXPECT_TRUE(modified.TreeEdited());
    modified.Clear();  // Save wrote the tree
    EXPECT_FALSE(modified.TreeEdited());
    modified.Set();  // a protection edit: the settings hold it, OK writes it
    EXPECT_TRUE(Run([](FakePrOptForm&, TPrOptFrmLogic& logic) { logic.OKButtonClick(); }));
    EXPECT_FALSE(modified.Get());
}

TEST_F(ProgramOptions, OkStoresAppliesAndSavesInOrder) {
    store.WriteString("Password", "OLD");
    modified.Set();
    const bool ok = Run([](FakePrOptForm& f, TPrOptFrmLogic& logic) {
        f.password = f.confirm = "New pass";
        f.boxes[PrOptBox::Mini] = false;
        f.boxes[PrOptBox::DisableMSDOS] = false;
        f.boxes[PrOptBox::Auto] = false;
        f.hotKey = 0xC074;
        logic.OKButtonClick();
    });
    EXPECT_TRUE(ok);
    EXPECT_EQ(shown.closes, 1);
    const std::vector<std::string> expected = {"boot on 1",
                                               "msdos off",
                                               "menu off",
                                               "autostart off minimize 0",
                                               "hotkey 49268 stored New pass",
                                               "known users"};
    EXPECT_EQ(log, expected);
    EXPECT_FALSE(menuChecked);
    EXPECT_EQ(OnDisk("HotKey"), "Ctrl+Alt+F5");
    EXPECT_EQ(OnDisk("Minimize"), "0");
    EXPECT_EQ(OnDisk("DisableBOOT"), "1");
    EXPECT_EQ(OnDisk("DisableMSDOS"), "0");
    EXPECT_EQ(OnDisk("Password"), "New pass");
    EXPECT_EQ(OnDisk("FirstTime"), "0");
    EXPECT_FALSE(modified.Get());
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].title, "Kestrava");
    EXPECT_EQ(prompts.shown[0].icon, MessageIcon::Warning);
    EXPECT_EQ(prompts.shown[0].buttons, Buttons::Ok);
    const std::string& text = prompts.shown[0].text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\r'), 6);
    EXPECT_EQ(text.find('\n'), std::string::npos);
    EXPECT_EQ(text.substr(0, 78),
              "For the highest possible level of security in addition to the above settings \r");
    EXPECT_NE(text.find("from A:then C:\\ to C:then A:\\. This prevents \rbooting"),
              std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 15), "\rCMOS settings.");
}

TEST_F(ProgramOptions, AMismatchedConfirmationStoresNothing) {
    store.WriteString("Password", "SET");
    Run([](FakePrOptForm& f, TPrOptFrmLogic& logic) {
        f.password = "NEW";
        f.confirm = "OTHER";
        f.boxes[PrOptBox::Mini] = false;
        logic.OKButtonClick();
        EXPECT_EQ(f.closes, 0);
        EXPECT_TRUE(f.confirmFocused);
        EXPECT_EQ(f.confirm, "");
        f.confirm = "";  // a changed password not confirmed: refused again
        EXPECT_TRUE(logic.FormKeyDown(kKeyEnter));
        EXPECT_EQ(f.closes, 0);
        logic.CNCLButtonClick();
    });
    ASSERT_EQ(prompts.shown.size(), 2u);
    EXPECT_EQ(prompts.shown[0].text, "Please confirm the password again !");
    EXPECT_EQ(prompts.shown[0].title, "Administrator\x60s Password");
    EXPECT_EQ(prompts.shown[0].buttons, Buttons::Ok);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(store.ReadString("Minimize", "<none>"), "<none>");
    EXPECT_EQ(store.ReadString("Password", ""), "SET");
}

TEST_F(ProgramOptions, OKWithoutTouchingThePasswordKeepsIt) {
    store.WriteString("Password", "SET");
    Run([](FakePrOptForm& f, TPrOptFrmLogic& logic) {
        EXPECT_EQ(f.password, "SET");  // shown as stored
        f.confirm = "";
        f.hotKey = HotKeyFromText("Ctrl+Alt+J");
        logic.OKButtonClick();
        EXPECT_EQ(f.closes, 1);
    });
    EXPECT_EQ(OnDisk("Password"), "SET");
    EXPECT_EQ(OnDisk("HotKey"), "Ctrl+Alt+J");
}

TEST_F(ProgramOptions, TheConfirmationIgnoresCaseAsThePromptDoes) {
    Run([](FakePrOptForm& f, TPrOptFrmLogic& logic) {
        f.password = "Secret";
        f.confirm = "SECRET";
        logic.OKButtonClick();
        EXPECT_EQ(f.closes, 1);
    });
    EXPECT_EQ(OnDisk("Password"), "Secret");
    EXPECT_TRUE(PasswordsMatch("SECRET", OnDisk("Password")));
}

TEST_F(ProgramOptions, EmptyPasswordsRemoveTheStoredOne) {
    store.WriteString("Password", "SET");
    ASSERT_TRUE(store.Flush(true));
    Run([](FakePrOptForm& f, TPrOptFrmLogic& logic) {
        f.password.clear();
        EXPECT_TRUE(logic.FormKeyDown(kKeyEnter));
    });
    EXPECT_EQ(shown.result, ModalResult::Ok);
    EXPECT_EQ(OnDisk("Password"), "<none>");
    EXPECT_EQ(OnDisk("HotKey"), "Ctrl+Alt+K");
    EXPECT_EQ(log.front(), "boot on 1");  // rewritten even when untouched
}

TEST_F(ProgramOptions, AFailedSaveKeepsTheDialogOpenAndTheChangesMarked) {
    store.WriteString("Padding", std::string(4000, 'x'));
    Run([](FakePrOptForm& f, TPrOptFrmLogic& logic) {
        f.password = f.confirm = "P";
        {
            test::FileSizeLimit limit(512);
            logic.OKButtonClick();
        }
        EXPECT_EQ(f.closes, 0);
        logic.CNCLButtonClick();
    });
    EXPECT_TRUE(modified.Get());
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].icon, MessageIcon::Error);
    EXPECT_EQ(prompts.shown[0].text.rfind(kOptionsNotSavedText, 0), 0u);
    EXPECT_EQ(store.ReadString("Password", ""), "P");  // kept for Save
}

TEST_F(ProgramOptions, AMissingHookIsRefusedBeforeTheFormOpens) {
    hooks.saveKnownUsers = nullptr;
    bool opened = false;
    EXPECT_THROW(Run([&](FakePrOptForm&, TPrOptFrmLogic&) { opened = true; }),
                 std::invalid_argument);
    EXPECT_FALSE(opened);
    EXPECT_EQ(store.ReadString("FirstTime", "<none>"), "<none>");
}

}  // namespace
}  // namespace kv
