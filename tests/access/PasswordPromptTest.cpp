#include <gtest/gtest.h>

#include <stdexcept>

#include "access/Passun.h"
#include "tests/access/AccessFakes.h"

namespace kv {
namespace {

using test::Entry;
using test::PressCancel;
using test::PressKey;
using test::PressOk;
using test::RecordingPrompts;
using test::ScriptedSecurForm;
using test::SecurFormMaker;
using test::Type;

std::vector<ScriptedSecurForm::Step> Join(std::vector<std::vector<ScriptedSecurForm::Step>> parts) {
    std::vector<ScriptedSecurForm::Step> all;
    for (auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

struct Prompt {
    RecordingPrompts prompts;
    SecurFormMaker maker;
    TPasswordDlg dlg;
    int truePassword = 0;

    Prompt(std::string password, std::vector<ScriptedSecurForm::Step> steps)
        : maker(std::move(steps)), dlg(prompts, maker.Factory()) {
        dlg.SetPassword(password);
        dlg.OnTruePassword = [this](TPasswordDlg& sender) {
            EXPECT_EQ(&sender, &dlg);
            ++truePassword;
        };
    }
};

TEST(PasswordPrompt, ThreeWrongEntriesRefuseWithOneMessageEach) {
    Prompt p("Secret", Join({Entry("one"), Entry("two"), Entry("three"), Entry("Secret")}));
    EXPECT_EQ(p.dlg.AttemptCount(), 3);
    EXPECT_FALSE(p.dlg.Execute());
    EXPECT_EQ(p.maker.last->stepsPlayed, 6) << "the prompt must close on the third wrong entry";
    ASSERT_EQ(p.prompts.shown.size(), 3u);
    for (const auto& box : p.prompts.shown) {
        EXPECT_EQ(box.text, "The Password is wrong !");
        EXPECT_EQ(box.title, "Error");
        EXPECT_EQ(box.buttons, Buttons::Ok);
        EXPECT_EQ(box.icon, MessageIcon::None);
    }
    EXPECT_EQ(p.truePassword, 0);
}

TEST(PasswordPrompt, RightEntryAfterWrongOnesPassesAndEmptiesTheFieldEachTime) {
    std::vector<std::string> fieldAfterWrong;
    auto seeField = [&](ScriptedSecurForm& f, TSecurLogic& l) {
        fieldAfterWrong.push_back(f.edit);
        EXPECT_EQ(l.WrongCount(), static_cast<int>(fieldAfterWrong.size()));
    };
    Prompt p("Secret", Join({Entry("x"), {seeField}, Entry("y"), {seeField}, Entry("sECRET")}));
    EXPECT_TRUE(p.dlg.Execute());
    EXPECT_EQ(fieldAfterWrong, (std::vector<std::string>{"", ""}));
    EXPECT_EQ(p.prompts.shown.size(), 2u);
    EXPECT_EQ(p.truePassword, 1);
}

TEST(PasswordPrompt, OtherLetterCasePassesButBlanksMustMatch) {
    {
        Prompt p("Adm1n Pw", Entry("adm1N pW"));
        EXPECT_TRUE(p.dlg.Execute());
        EXPECT_TRUE(p.prompts.shown.empty());
    }
    {
        Prompt p("secret", Join({Entry(" secret"), Entry("secret "), Entry(" SECRET ")}));
        EXPECT_FALSE(p.dlg.Execute());
        EXPECT_EQ(p.prompts.shown.size(), 3u);
    }
    {
        Prompt p(" secret", Entry(" SECRET"));
        EXPECT_TRUE(p.dlg.Execute());
    }
}

TEST(PasswordPrompt, EnterIsOkAndEscapeOrCancelRefuseAtOnce) {
    {
        Prompt p("pw", {Type("PW"), PressKey(kKeyEnter)});
        EXPECT_TRUE(p.dlg.Execute());
    }
    {
        Prompt p("pw", {Type("bad"), PressKey(kKeyEnter), Type("pw"), PressKey(kKeyEnter)});
        EXPECT_TRUE(p.dlg.Execute());
        EXPECT_EQ(p.prompts.shown.size(), 1u);
    }
    {
        Prompt p("pw", {PressKey(kKeyEscape)});
        EXPECT_FALSE(p.dlg.Execute());
        EXPECT_TRUE(p.prompts.shown.empty());
    }
    {
        Prompt p("pw", {PressCancel()});
        EXPECT_FALSE(p.dlg.Execute());
    }
}

TEST(PasswordPrompt, OtherKeysAreLeftToTheControls) {
    RecordingPrompts prompts;
    TSecurLogic logic(prompts);
    ScriptedSecurForm form(logic, {});
    logic.SetForm(&form);
    logic.Open("pw", 3);
    for (int key : {0, 9, 32, 65, 112})
        EXPECT_FALSE(logic.FormKeyDown(key)) << key;
    EXPECT_TRUE(prompts.shown.empty());
}

TEST(PasswordPrompt, EscapeOrCancelAfterTheRightTextRefusesButRaisesOnTruePassword) {
    {
        Prompt p("Secret", {Type("secret"), PressKey(kKeyEscape)});
        EXPECT_FALSE(p.dlg.Execute());
        EXPECT_EQ(p.truePassword, 1);
    }
    {
        Prompt p("Secret", {Type("SECRET"), PressCancel()});
        EXPECT_FALSE(p.dlg.Execute());
        EXPECT_EQ(p.truePassword, 1);
    }
    {
        Prompt p("Secret", {Type("secret!"), PressKey(kKeyEscape)});
        EXPECT_FALSE(p.dlg.Execute());
        EXPECT_EQ(p.truePassword, 0);
    }
}

TEST(PasswordPrompt, AttemptCountOfZeroOrLessNeverGivesUp) {
    for (int limit : {0, -1}) {
        Prompt p("pw", Join({Entry("1"),
                             Entry("2"),
                             Entry("3"),
                             Entry("4"),
                             Entry("5"),
                             {PressKey(kKeyEscape)}}));
        p.dlg.SetAttemptCount(limit);
        EXPECT_FALSE(p.dlg.Execute());
        EXPECT_EQ(p.prompts.shown.size(), 5u) << limit;
        EXPECT_EQ(p.maker.last->stepsPlayed, 11) << limit;
    }
    Prompt one("pw", Join({Entry("1"), Entry("pw")}));
    one.dlg.SetAttemptCount(1);
    EXPECT_FALSE(one.dlg.Execute());
    EXPECT_EQ(one.maker.last->stepsPlayed, 2);
}

TEST(PasswordPrompt, ActivationResetsTheCountAndFocusesTheField) {
    Prompt p("pw", Join({Entry("1"),
                         Entry("2"),
                         {[](ScriptedSecurForm& f, TSecurLogic& l) {
                             EXPECT_EQ(l.WrongCount(), 2);
                             l.FormActivate();  // the prompt opened anew
                             EXPECT_TRUE(f.editFocused);
                         }},
                         Entry("3"),
                         Entry("4"),
                         Entry("5")}));
    EXPECT_FALSE(p.dlg.Execute());
    EXPECT_EQ(p.maker.last->stepsPlayed, 11);
}

TEST(PasswordPrompt, EachExecuteStartsAFreshCountAndLeavesNoTypedText) {
    Prompt p("pw", Join({Entry("1"), Entry("2"), {Type("pw"), PressKey(kKeyEscape)}}));
    EXPECT_FALSE(p.dlg.Execute());
    EXPECT_EQ(p.maker.last->edit, "") << "the typed text must be wiped from the form";
    EXPECT_EQ(p.truePassword, 1);
    EXPECT_FALSE(p.dlg.Execute());
    EXPECT_EQ(p.maker.made, 2);
    EXPECT_EQ(p.prompts.shown.size(), 4u);
}

TEST(PasswordPrompt, AFailingFormPropagatesWipesTheFieldAndStillReportsTheRightText) {
    for (const char* typed : {"typed", "TYPED", "other"}) {
        RecordingPrompts prompts;
        SecurFormMaker maker({Type(typed), [](ScriptedSecurForm&, TSecurLogic&) {
                                  throw std::runtime_error("form failed");
                              }});
        TPasswordDlg dlg(prompts, maker.Factory());
        dlg.SetPassword("typed");
        int raised = 0;
        dlg.OnTruePassword = [&](TPasswordDlg&) { ++raised; };
        EXPECT_THROW(dlg.Execute(), std::runtime_error) << typed;
        EXPECT_EQ(maker.last->edit, "") << typed;
        EXPECT_EQ(raised, std::string(typed) == "other" ? 0 : 1) << typed;
    }
}

TEST(PasswordPrompt, NoFactoryIsAnError) {
    RecordingPrompts prompts;
    EXPECT_THROW(TPasswordDlg(prompts, nullptr), std::invalid_argument);
    TPasswordDlg dlg(prompts, [](TSecurLogic&) { return std::unique_ptr<ISecurForm>(); });
    EXPECT_THROW(dlg.Execute(), std::runtime_error);
}

}  // namespace
}  // namespace kv
