#pragma once

#include <gtest/gtest.h>

#include <QTest>
#include <memory>

#include "app/CtrlPanel.h"
#include "app/Startup.h"
#include "tests/support/FakeRegistry.h"
#include "tests/support/ScriptedGroupDialog.h"
#include "tests/support/ScriptedPrompts.h"
#include "tests/support/TempDir.h"

namespace kv::test {

/// A settings window over a temporary folder, a scripted registry with the
/// users ALICE and BOB (BOB logged on), scripted boxes and no service.
class WindowFixture : public ::testing::Test {
protected:
    WindowFixture() {
        registry_.SetProfiles({"ALICE", "BOB"});
        registry_.SetCurrentUser("BOB");
    }

    /// The services of a window over `store` and this fixture's fakes.
    TSecFrmServices Services(TEncriptor& store) {
        return TSecFrmServices{
            .store = store,
            .prompts = prompts_,
            .registry = registry_,
            .groupDialog = &dialog_,
            .devicePath = dir_.File("VEVUZ"),
            .installPaths = {dir_.File("program"), dir_.File("autostart")},
            .machineDir = dir_.File("machine"),
            .programOptions = [this](ProgramOptionsHooks&) { return ++optionRuns_ > 0; },
            .openHelp = [this](const std::string& t) { helpTopics_.push_back(t); }};
    }
    std::unique_ptr<TSecFrm> Make(TEncriptor& store) {
        return std::make_unique<TSecFrm>(Services(store));
    }
    /// Started, shown and active, as the user meets it.
    static void ShowActive(TSecFrm& w) {
        RunStartup(w, StartSwitch::None);
        w.show();
        w.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    }

    TempDir dir_;
    FakeRegistry registry_;
    ScriptedPrompts prompts_;
    ScriptedGroupDialog dialog_;
    int optionRuns_ = 0;
    std::vector<std::string> helpTopics_;
};

}  // namespace kv::test
