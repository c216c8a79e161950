#include "access/PasswordGate.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <optional>
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

/// The service's side of the password, for a program that cannot read the settings.
class FakePasswordService : public IPasswordService {
public:
    std::optional<bool> set = true;
    std::string password = "Secret";
    std::vector<std::string> asked;

    std::optional<bool> PasswordSet() override { return set; }
    bool Verify(const std::string& typed) override {
        asked.push_back(typed);
        return typed == password;
    }
};

class UnreadableSettingsGate : public ::testing::Test {
protected:
    void SetUp() override {
        // A settings file that exists but cannot be read: a folder of that name.
        ASSERT_EQ(::mkdir(dir.File("kv.dat").c_str(), 0700), 0);
        holder.emplace(dir.File("kv.dat"), true);
        ASSERT_FALSE(store().Readable());
    }
    TEncriptor& store() { return *holder; }
    TempDir dir;
    std::optional<TEncriptor> holder;
    RecordingPrompts prompts;
    FakePasswordService service;
};

TEST_F(UnreadableSettingsGate, TheServiceChecksEachTryAndTellsTheAcceptedPassword) {
    SecurFormMaker maker(
        {test::Type("guess"), test::PressOk(), test::Type("Secret"), test::PressOk()});
    std::string accepted;
    EXPECT_EQ(TPasswordGate::Run(store(), prompts, maker.Factory(), &service, &accepted),
              GateResult::Passed);
    EXPECT_EQ(service.asked, (std::vector<std::string>{"guess", "Secret"}))
        << "each try asked once, the text left in the field not again";
    EXPECT_EQ(accepted, "Secret");
    EXPECT_EQ(prompts.shown.size(), 1u) << "the wrong try is reported as usual";

    SecurFormMaker refused({PressKey(kKeyEscape)});
    EXPECT_EQ(TPasswordGate::Run(store(), prompts, refused.Factory(), &service, &accepted),
              GateResult::Refused);
    EXPECT_EQ(accepted, "");
}

TEST_F(UnreadableSettingsGate, NoPasswordOrNoServiceAnswerPassesWithoutAPrompt) {
    SecurFormMaker maker({PressKey(kKeyEscape)});
    service.set = false;
    EXPECT_EQ(TPasswordGate::Run(store(), prompts, maker.Factory(), &service), GateResult::Passed);
    service.set = std::nullopt;
    EXPECT_EQ(TPasswordGate::Run(store(), prompts, maker.Factory(), &service), GateResult::Passed);
    EXPECT_EQ(maker.made, 0);
    EXPECT_TRUE(service.asked.empty());
}

TEST_F(PasswordGate, ReadableSettingsAreNeverCheckedByTheService) {
    FakePasswordService service;
    SecurFormMaker none({PressKey(kKeyEscape)});
    EXPECT_EQ(TPasswordGate::Run(store, prompts, none.Factory(), &service), GateResult::Passed)
        << "no password in readable settings: nothing to ask";
    store.WriteString("Password", "Local");
    SecurFormMaker maker({test::Type("local"), test::PressOk()});
    std::string accepted;
    EXPECT_EQ(TPasswordGate::Run(store, prompts, maker.Factory(), &service, &accepted),
              GateResult::Passed);
    EXPECT_EQ(accepted, "Local") << "the stored password, as requests must carry it";
    EXPECT_TRUE(service.asked.empty());
}

}  // namespace
}  // namespace kv
