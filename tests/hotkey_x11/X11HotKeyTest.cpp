#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QThread>
#include <cstdlib>
#include <memory>

#include "platform/HotKey.h"
#include "platform/qt/X11HotKey.h"

namespace kv::platform {
namespace {

constexpr std::uint16_t kCtrlAltK = kHotKeyCtrl | kHotKeyAlt | 'K';
constexpr std::uint16_t kBadAccess = 10;

/// A second X client, as another program holding or asking for a key would be.
class OtherClient {
public:
    OtherClient() : connection_(xcb_connect(nullptr, nullptr)) {
        root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    }
    ~OtherClient() { xcb_disconnect(connection_); }

    /// The X error code of grabbing Ctrl+Alt+K on the root window; 0 when it succeeds.
    std::uint8_t GrabCtrlAltK() {
        const xcb_keycode_t keycode = KeycodeOfK();
        const auto cookie =
            xcb_grab_key_checked(connection_, 1, root_, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1,
                                 keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        std::unique_ptr<xcb_generic_error_t, decltype(&std::free)> error(
            xcb_request_check(connection_, cookie), &std::free);
        return error ? error->error_code : 0;
    }

private:
    xcb_keycode_t KeycodeOfK() {
        const xcb_setup_t* setup = xcb_get_setup(connection_);
        auto cookie = xcb_get_keyboard_mapping(connection_, setup->min_keycode,
                                               setup->max_keycode - setup->min_keycode + 1);
        std::unique_ptr<xcb_get_keyboard_mapping_reply_t, decltype(&std::free)> reply(
            xcb_get_keyboard_mapping_reply(connection_, cookie, nullptr), &std::free);
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply.get());
        const int per = reply->keysyms_per_keycode;
        const int count = xcb_get_keyboard_mapping_keysyms_length(reply.get());
        for (int i = 0; i < count; ++i) {
            if (syms[i] == VirtualKeyToKeysym('K'))
                return static_cast<xcb_keycode_t>(setup->min_keycode + i / per);
        }
        return 0;
    }

    xcb_connection_t* connection_;
    xcb_window_t root_ = 0;
};

bool PressKeys(const char* keys) {
    return QProcess::execute(QStringLiteral(KV_XDOTOOL),
                             {QStringLiteral("key"), QString::fromLatin1(keys)}) == 0;
}

/// Runs the event loop until `done` or two seconds have passed.
template <typename Done>
bool WaitFor(Done done) {
    QDeadlineTimer deadline(2000);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(10);
    }
    return done();
}

class X11HotKey : public testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY") || QGuiApplication::platformName() != "xcb")
            GTEST_SKIP() << "needs an X display and the xcb platform";
    }
};

TEST(X11Keysyms, MapsVirtualKeysOfEveryFamily) {
    EXPECT_EQ(VirtualKeyToKeysym('A'), 0x61u);          // XK_a
    EXPECT_EQ(VirtualKeyToKeysym('9'), 0x39u);          // XK_9
    EXPECT_EQ(VirtualKeyToKeysym(0x70), 0xFFBEu);       // VK_F1 -> XK_F1
    EXPECT_EQ(VirtualKeyToKeysym(0x87), 0xFFBEu + 23);  // VK_F24
    EXPECT_EQ(VirtualKeyToKeysym(0x60), 0xFFB0u);       // VK_NUMPAD0 -> XK_KP_0
    EXPECT_EQ(VirtualKeyToKeysym(0x2E), 0xFFFFu);       // VK_DELETE
    EXPECT_EQ(VirtualKeyToKeysym(0x21), 0xFF55u);       // VK_PRIOR -> Page Up
    EXPECT_EQ(VirtualKeyToKeysym(0), 0u);
    EXPECT_EQ(VirtualKeyToKeysym(0x10), 0u);  // VK_SHIFT alone is no hot key
}

TEST_F(X11HotKey, PressedCombinationRaisesOnHotKeyAlsoWithLockKeys) {
    X11HotKeyRegistrar registrar;
    ASSERT_TRUE(registrar.HasDisplay());
    TfisHotKey hotKey(registrar);
    int raised = 0;
    hotKey.OnHotKey = [&raised](TfisHotKey&) { ++raised; };
    hotKey.SetKey(kCtrlAltK);
    ASSERT_TRUE(hotKey.Registered());

    ASSERT_TRUE(PressKeys("ctrl+alt+k"));
    EXPECT_TRUE(WaitFor([&] { return raised == 1; }));

    // Another combination on the same key is not ours.
    ASSERT_TRUE(PressKeys("ctrl+k"));
    WaitFor([] { return false; });
    EXPECT_EQ(raised, 1);

    // With NumLock on, the grab with Mod2 takes the press.
    ASSERT_TRUE(PressKeys("Num_Lock"));
    ASSERT_TRUE(PressKeys("ctrl+alt+k"));
    EXPECT_TRUE(WaitFor([&] { return raised == 2; }));
    ASSERT_TRUE(PressKeys("Num_Lock"));
}

TEST_F(X11HotKey, CombinationHeldByUsIsRefusedToAnotherClientUntilReleased) {
    OtherClient other;
    {
        X11HotKeyRegistrar registrar;
        TfisHotKey hotKey(registrar);
        hotKey.SetKey(kCtrlAltK);
        ASSERT_TRUE(hotKey.Registered());
        EXPECT_EQ(other.GrabCtrlAltK(), kBadAccess);

        // A new Key releases the old combination first.
        hotKey.SetKey(kHotKeyCtrl | kHotKeyAlt | 'J');
        ASSERT_TRUE(hotKey.Registered());
        EXPECT_EQ(other.GrabCtrlAltK(), 0);
    }
}

TEST_F(X11HotKey, CombinationHeldByAnotherClientLeavesUsUnregistered) {
    auto other = std::make_unique<OtherClient>();
    ASSERT_EQ(other->GrabCtrlAltK(), 0);

    X11HotKeyRegistrar registrar;
    TfisHotKey hotKey(registrar);
    hotKey.SetKey(kCtrlAltK);
    EXPECT_FALSE(hotKey.Registered());

    // The other program ends: the next write of a Key tries again.
    other.reset();
    hotKey.SetKey(0);
    hotKey.SetKey(kCtrlAltK);
    EXPECT_TRUE(hotKey.Registered());
}

TEST_F(X11HotKey, DestructionReleasesTheGrab) {
    {
        X11HotKeyRegistrar registrar;
        TfisHotKey hotKey(registrar);
        hotKey.SetKey(kCtrlAltK);
        ASSERT_TRUE(hotKey.Registered());
    }
    OtherClient other;
    EXPECT_EQ(other.GrabCtrlAltK(), 0);
}

}  // namespace
}  // namespace kv::platform
