#include "access/PasswordGate.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "tests/access/AccessFakes.h"
#include "tests/support/TempDir.h"

namespace kv {
namespace {

using test::Entry;
using test::PressKey;
using test::RecordingPrompts;
using test::ScriptedSecurForm;
using test::SecurFormMaker;
using test::TempDir;

class PasswordGate : public ::testing::Test {
protected:
    TempDir dir;
    TEncriptor store{dir.File("kv.dat"), true};
    RecordingPrompts prompts;
};

TEST_F(PasswordGate, NoPasswordPassesWithoutAPrompt) {
    SecurFormMaker maker({PressKey(kKeyEscape)});
    EXPECT_EQ(TPasswordGate::Run(store, prompts, maker.Factory()), GateResult::Passed);
    store.WriteString("Password", "x");
    store.WriteString("Password", "");
    EXPECT_EQ(TPasswordGate::Run(store, prompts, maker.Factory()), GateResult::Passed);
    EXPECT_EQ(maker.made, 0);
}

TEST_F(PasswordGate, AStoredPasswordIsAskedWithThreeAttempts) {
    store.WriteString("Password", "Secret");
    {
        SecurFormMaker maker(
            {test::Type(" secret"), test::PressOk(), test::Type("secret"), test::PressOk()});
        EXPECT_EQ(TPasswordGate::Run(store, prompts, maker.Factory()), GateResult::Passed);
        EXPECT_EQ(maker.made, 1);
        EXPECT_EQ(prompts.shown.size(), 1u);
    }
    SecurFormMaker maker({test::Type("a"), test::PressOk(), test::Type("b"), test::PressOk(),
                          test::Type("c"), test::PressOk()});
    EXPECT_EQ(TPasswordGate::Run(store, prompts, maker.Factory()), GateResult::Refused);
    EXPECT_EQ(prompts.shown.size(), 4u);
}

TEST_F(PasswordGate, APromptAlreadyOpenShowsNoSecond) {
    store.WriteString("Password", "Secret");
    SecurFormMaker inner(Entry("secret"));
    GateResult nested = GateResult::Passed;
    bool openDuring = false;
    SecurFormMaker outer({[&](ScriptedSecurForm&, TSecurLogic&) {
                              openDuring = TPasswordGate::PromptOpen();
                              nested = TPasswordGate::Run(store, prompts, inner.Factory());
                          },
                          test::Type("SECRET"), test::PressOk()});
    EXPECT_FALSE(TPasswordGate::PromptOpen());
    EXPECT_EQ(TPasswordGate::Run(store, prompts, outer.Factory()), GateResult::Passed);
    EXPECT_TRUE(openDuring);
    EXPECT_EQ(nested, GateResult::AlreadyOpen);
    EXPECT_EQ(inner.made, 0);
    EXPECT_FALSE(TPasswordGate::PromptOpen());
    // The flag is cleared: the next gate asks again.
    EXPECT_EQ(TPasswordGate::Run(store, prompts, inner.Factory()), GateResult::Passed);
    EXPECT_EQ(inner.made, 1);
}

TEST_F(PasswordGate, AFailedPromptClearsTheOpenFlag) {
    store.WriteString("Password", "Secret");
    SecurFormMaker failing(
        {[](ScriptedSecurForm&, TSecurLogic&) { throw std::runtime_error("no display"); }});
    EXPECT_THROW((void)TPasswordGate::Run(store, prompts, failing.Factory()), std::runtime_error);
    EXPECT_FALSE(TPasswordGate::PromptOpen());
    SecurFormMaker next(Entry("secret"));
    EXPECT_EQ(TPasswordGate::Run(store, prompts, next.Factory()), GateResult::Passed);
}

TEST(GatePassed, CallersGoOnOnlyWhenPassed) {
    const GateCaller all[] = {GateCaller::Startup, GateCaller::Uninstall, GateCaller::ShowWindow,
                              GateCaller::TrayStop, GateCaller::TrayExit};
    for (GateCaller caller : all) {
        const int c = static_cast<int>(caller);
        EXPECT_TRUE(GatePassed(GateResult::Passed, caller)) << c;
        EXPECT_FALSE(GatePassed(GateResult::Refused, caller)) << c;
        // Another prompt is open: nobody has typed the password for this caller.
        EXPECT_FALSE(GatePassed(GateResult::AlreadyOpen, caller)) << c;
    }
}

}  // namespace
}  // namespace kv
