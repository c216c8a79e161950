#include "access/AdminPassword.h"

#include <gtest/gtest.h>

#include "access/PasswordGate.h"
#include "tests/access/AccessFakes.h"
#include "tests/support/TempDir.h"

namespace kv {
namespace {

using test::RecordingPrompts;
using test::ScriptedPasForm;
using test::TempDir;
using Step = ScriptedPasForm::Step;

Step SetFields(std::string password, std::string confirm) {
    return [password, confirm](ScriptedPasForm& f, TPasFrmLogic&) {
        f.password = password;
        f.confirm = confirm;
    };
}
Step ClickOk() {
    return [](ScriptedPasForm&, TPasFrmLogic& l) { l.Button1Click(); };
}
Step Key(int key) {
    return [key](ScriptedPasForm&, TPasFrmLogic& l) { EXPECT_TRUE(l.FormKeyDown(key)); };
}

class AdminPassword : public ::testing::Test {
protected:
    bool Run(std::vector<Step> steps) {
        return cmdPasswordExecute(store, modified, prompts, [&](TPasFrmLogic& logic) {
            auto form = std::make_unique<ScriptedPasForm>(logic, steps);
            wiped = false;
            form->onWipe = [this] { wiped = true; };
            return form;
        });
    }
    std::string OnDisk() {
        TEncriptor reread(dir.File("kv.dat"), true);
        return reread.ReadString("Password", "<none>");
    }

    TempDir dir;
    TEncriptor store{dir.File("kv.dat"), true};
    TModifiedFlag modified;
    RecordingPrompts prompts;
    bool wiped = false;
};

TEST_F(AdminPassword, OpensWithTheStoredPasswordAndAnEmptyConfirm) {
    store.WriteString("Password", "OLD");
    std::string seenPassword, seenConfirm;
    EXPECT_FALSE(Run({[&](ScriptedPasForm& f, TPasFrmLogic&) {
                          seenPassword = f.password;
                          seenConfirm = f.confirm;
                          EXPECT_TRUE(f.masked);
                      },
                      Key(kKeyEscape)}));
    EXPECT_EQ(seenPassword, "OLD");
    EXPECT_EQ(seenConfirm, "");
    EXPECT_TRUE(wiped);
    EXPECT_FALSE(modified.Get());
    EXPECT_EQ(store.ReadString("Password", ""), "OLD");
}

TEST_F(AdminPassword, OkStoresInMemoryAndSetsTheModifiedFlagWithoutFlushing) {
    store.WriteString("Password", "OLD");
    ASSERT_TRUE(store.Flush(true));
    ASSERT_TRUE(Run({SetFields("NEW PW", "NEW PW"), ClickOk()}));
    EXPECT_EQ(store.ReadString("Password", ""), "NEW PW");
    EXPECT_TRUE(modified.Get());
    EXPECT_TRUE(prompts.shown.empty());
    EXPECT_TRUE(wiped);
    EXPECT_EQ(OnDisk(), "OLD") << "the dialog must not write the settings file";
    ASSERT_TRUE(store.Flush(false));
    EXPECT_EQ(OnDisk(), "NEW PW");
}

TEST_F(AdminPassword, MismatchAsksAgainEmptiesConfirmAndKeepsTheFormOpen) {
    ASSERT_TRUE(Run({SetFields("ABC", "ABD"), ClickOk(),
                     [](ScriptedPasForm& f, TPasFrmLogic&) {
                         EXPECT_EQ(f.confirm, "");
                         EXPECT_TRUE(f.confirmFocused);
                         EXPECT_EQ(f.password, "ABC");
                     },
                     SetFields("ABC", "abc"), Key(kKeyEnter),  // exact comparison
                     SetFields("ABC", "ABC"), Key(kKeyEnter)}));
    ASSERT_EQ(prompts.shown.size(), 2u);
    for (const auto& box : prompts.shown) {
        EXPECT_EQ(box.text, "Please confirm the password again !");
        EXPECT_EQ(box.title, "Administrator`s Password");
        EXPECT_EQ(box.title[13], 96);
        EXPECT_EQ(box.buttons, Buttons::Ok);
    }
    EXPECT_EQ(store.ReadString("Password", ""), "ABC");
}

TEST_F(AdminPassword, CancelOrEscapeWritesNothing) {
    store.WriteString("Password", "OLD");
    ASSERT_TRUE(store.Flush(true));
    EXPECT_FALSE(Run({SetFields("NEW", "NEW"), Key(kKeyEscape)}));
    EXPECT_FALSE(Run(
        {SetFields("NEW", "NEW"), [](ScriptedPasForm&, TPasFrmLogic& l) { l.Button2Click(); }}));
    EXPECT_EQ(store.ReadString("Password", ""), "OLD");
    EXPECT_FALSE(modified.Get());
    EXPECT_FALSE(store.Modified());
}

TEST_F(AdminPassword, BothEmptyRemovesThePasswordAndTheGateStopsAsking) {
    store.WriteString("Password", "OLD");
    ASSERT_TRUE(Run({SetFields("", ""), ClickOk()}));
    EXPECT_TRUE(modified.Get());
    int prompts_made = 0;
    auto factory = [&](TSecurLogic&) -> std::unique_ptr<ISecurForm> {
        ++prompts_made;
        return nullptr;
    };
    EXPECT_EQ(TPasswordGate::Run(store, prompts, factory), GateResult::Passed);
    EXPECT_EQ(prompts_made, 0);
}

TEST_F(AdminPassword, ANewPasswordIsAskedByTheNextGateAtOnce) {
    ASSERT_TRUE(Run({SetFields("FRESH", "FRESH"), ClickOk()}));
    test::SecurFormMaker maker({test::Type("fresh"), test::PressOk()});
    EXPECT_EQ(TPasswordGate::Run(store, prompts, maker.Factory()), GateResult::Passed);
    EXPECT_EQ(maker.made, 1);
}

TEST_F(AdminPassword, TheMaskBoxMasksOrRevealsBothFields) {
    std::vector<bool> masks;
    auto see = [&](ScriptedPasForm& f, TPasFrmLogic&) { masks.push_back(f.masked); };
    auto click = [](bool checked) {
        return [checked](ScriptedPasForm&, TPasFrmLogic& l) { l.CheckBox1Click(checked); };
    };
    EXPECT_FALSE(Run({see, click(false), see, click(true), see, Key(kKeyEscape)}));
    EXPECT_EQ(masks, (std::vector<bool>{true, false, true}));
}

}  // namespace
}  // namespace kv
