#include "platform/HotKey.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace kv {
namespace {

/// A system with one table of held combinations shared by every registrar,
/// so a combination held by one component is refused to another.
struct FakeSystem {
    std::set<std::pair<unsigned, unsigned>> held;
};

class FakeRegistrar : public IHotKeyRegistrar {
public:
    explicit FakeRegistrar(FakeSystem& system) : system_(system) {}

    bool Register(unsigned modifiers, unsigned virtualKey) override {
        calls.push_back("register " + std::to_string(modifiers) + " " + std::to_string(virtualKey));
        if (mine_ || !system_.held.insert({modifiers, virtualKey}).second)
            return false;
        mine_ = std::pair{modifiers, virtualKey};
        return true;
    }
    void Unregister() override {
        calls.push_back("unregister");
        if (mine_)
            system_.held.erase(*mine_);
        mine_.reset();
    }
    void Press() { Pressed(); }

    std::vector<std::string> calls;

private:
    FakeSystem& system_;
    std::optional<std::pair<unsigned, unsigned>> mine_;
};

using Calls = std::vector<std::string>;

TEST(HotKeyCode, SplitsIntoSystemModifiersAndVirtualKey) {
    const std::uint16_t ctrlAltA = kHotKeyCtrl | kHotKeyAlt | 'A';
    EXPECT_EQ(HotKeyModifiers(ctrlAltA), 3u);
    EXPECT_EQ(HotKeyVirtualKey(ctrlAltA), 0x41u);
    const std::uint16_t shiftF1 = kHotKeyShift | 0x70;
    EXPECT_EQ(HotKeyModifiers(shiftF1), 4u);
    EXPECT_EQ(HotKeyVirtualKey(shiftF1), 0x70u);
    EXPECT_EQ(HotKeyModifiers(kHotKeyShift | kHotKeyCtrl | kHotKeyAlt | 'Z'), 7u);
    EXPECT_EQ(HotKeyModifiers('Z'), 0u);
}

class HotKeyComponent : public testing::Test {
protected:
    FakeSystem system;
    FakeRegistrar registrar{system};
};

TEST_F(HotKeyComponent, RegistersOnlyAfterLoadingWhenEnabled) {
    TfisHotKey hotKey(registrar);
    EXPECT_TRUE(hotKey.Enabled());
    EXPECT_EQ(hotKey.Key(), 0);
    EXPECT_FALSE(hotKey.Registered());
    EXPECT_TRUE(registrar.calls.empty());

    hotKey.Loaded();
    // A Key of 0 is asked for as it stands: virtual-key code 0, no modifiers.
    EXPECT_EQ(registrar.calls, (Calls{"register 0 0"}));
    EXPECT_TRUE(hotKey.Registered());
}

TEST_F(HotKeyComponent, DisabledAtLoadingRegistersNothingUntilEnabled) {
    TfisHotKey hotKey(registrar);
    hotKey.SetEnabled(false);
    hotKey.Loaded();
    hotKey.SetKey(kHotKeyCtrl | 'K');
    EXPECT_TRUE(registrar.calls.empty());
    EXPECT_FALSE(hotKey.Registered());

    hotKey.SetEnabled(true);
    EXPECT_EQ(registrar.calls, (Calls{"register 2 75"}));
    EXPECT_TRUE(hotKey.Registered());

    hotKey.SetEnabled(false);
    EXPECT_FALSE(hotKey.Registered());
    EXPECT_EQ(registrar.calls.back(), "unregister");
    EXPECT_TRUE(system.held.empty());
}

TEST_F(HotKeyComponent, SameKeyRegistersOnceAndNewKeyReleasesTheOldFirst) {
    TfisHotKey hotKey(registrar);
    hotKey.Loaded();
    registrar.calls.clear();

    const std::uint16_t ctrlAltA = kHotKeyCtrl | kHotKeyAlt | 'A';
    hotKey.SetKey(ctrlAltA);
    hotKey.SetKey(ctrlAltA);
    EXPECT_EQ(registrar.calls, (Calls{"unregister", "register 3 65"}));

    registrar.calls.clear();
    hotKey.SetKey(kHotKeyShift | 0x70);
    EXPECT_EQ(registrar.calls, (Calls{"unregister", "register 4 112"}));
    EXPECT_EQ(system.held, (std::set<std::pair<unsigned, unsigned>>{{4u, 0x70u}}));
}

TEST_F(HotKeyComponent, EnablingTwiceAsksOnce) {
    TfisHotKey hotKey(registrar);
    hotKey.SetKey(kHotKeyAlt | 'Q');
    hotKey.SetEnabled(true);
    hotKey.SetEnabled(true);
    EXPECT_EQ(registrar.calls, (Calls{"register 1 81"}));
}

TEST_F(HotKeyComponent, TakenCombinationStaysUnregisteredUntilAnotherKeySucceeds) {
    system.held.insert({3u, 'A'});  // another program holds Ctrl+Alt+A
    TfisHotKey hotKey(registrar);
    hotKey.SetKey(kHotKeyCtrl | kHotKeyAlt | 'A');
    EXPECT_FALSE(hotKey.Registered());

    // Not registered: disabling has nothing to release.
    hotKey.SetEnabled(false);
    EXPECT_EQ(registrar.calls, (Calls{"register 3 65"}));

    hotKey.SetEnabled(true);
    EXPECT_FALSE(hotKey.Registered());
    hotKey.SetKey(kHotKeyCtrl | kHotKeyAlt | 'B');
    EXPECT_TRUE(hotKey.Registered());
    EXPECT_EQ(system.held.count({3u, 'B'}), 1u);
}

TEST_F(HotKeyComponent, DestructionReleasesSoAnotherInstanceCanTakeTheCombination) {
    FakeRegistrar second(system);
    {
        TfisHotKey first(registrar);
        first.SetKey(kHotKeyCtrl | 'K');
        ASSERT_TRUE(first.Registered());
        TfisHotKey rival(second);
        rival.SetKey(kHotKeyCtrl | 'K');
        EXPECT_FALSE(rival.Registered());
    }
    EXPECT_EQ(registrar.calls.back(), "unregister");
    TfisHotKey next(second);
    next.SetKey(kHotKeyCtrl | 'K');
    EXPECT_TRUE(next.Registered());
}

TEST_F(HotKeyComponent, PressRaisesOnHotKeyWithTheComponentAsSender) {
    TfisHotKey hotKey(registrar);
    registrar.Press();  // no handler assigned: nothing happens

    std::vector<TfisHotKey*> senders;
    hotKey.OnHotKey = [&senders](TfisHotKey& sender) { senders.push_back(&sender); };
    hotKey.Loaded();
    registrar.Press();
    registrar.Press();
    EXPECT_EQ(senders, (std::vector<TfisHotKey*>{&hotKey, &hotKey}));
}

TEST_F(HotKeyComponent, RegistrarOutlivingTheComponentNoLongerCallsIt) {
    int raised = 0;
    {
        TfisHotKey hotKey(registrar);
        hotKey.OnHotKey = [&raised](TfisHotKey&) { ++raised; };
        hotKey.Loaded();
    }
    registrar.Press();
    EXPECT_EQ(raised, 0);
}

}  // namespace
}  // namespace kv
