#include <gtest/gtest.h>

#include <QApplication>
#include <QMenu>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QWidget>

#include "platform/HotKey.h"
#include "platform/qt/X11HotKey.h"
#include "ui/TrayIcon.h"

namespace kv::ui {
namespace {

TEST(TrayIcon, CarriesTheTooltipAndMenuAndIsOffAtCreation) {
    QMenu popup;
    TRxTrayIcon icon(&popup);
    EXPECT_EQ(icon.Icon().toolTip(), QStringLiteral("Kestrava"));
    EXPECT_EQ(icon.Icon().contextMenu(), &popup);
    EXPECT_FALSE(icon.Icon().icon().isNull());
    EXPECT_FALSE(icon.Active());
}

TEST(TrayIcon, OnlyDoubleClickRaisesDblClick) {
    TRxTrayIcon icon(nullptr);
    QSignalSpy spy(&icon, &TRxTrayIcon::DblClick);
    emit icon.Icon().activated(QSystemTrayIcon::Trigger);
    emit icon.Icon().activated(QSystemTrayIcon::Context);
    EXPECT_EQ(spy.count(), 0);
    emit icon.Icon().activated(QSystemTrayIcon::DoubleClick);
    EXPECT_EQ(spy.count(), 1);
}

TEST(TrayHost, DrivesTheWindowAndTheOneSecondTimer) {
    QWidget window;
    QMenu popup;
    TQtTrayHost host(window, &popup);
    EXPECT_EQ(host.FindShell().interval(), 1000);
    EXPECT_FALSE(host.FindShell().isActive());

    host.ShowMainWindow();
    EXPECT_TRUE(window.isVisible());
    window.showMinimized();
    host.RestoreAndRaise();
    EXPECT_FALSE(window.isMinimized());
    host.HideMainWindow();
    EXPECT_FALSE(window.isVisible());

    host.StartFindShell();
    EXPECT_TRUE(host.FindShell().isActive());
    host.StopFindShell();
    EXPECT_FALSE(host.FindShell().isActive());
}

TEST(TrayHost, WithoutTrayTheLogicEndsHiddenWithNoIcon) {
    if (QSystemTrayIcon::isSystemTrayAvailable())
        GTEST_SKIP() << "this desktop has a tray";
    QWidget window;
    window.show();
    TQtTrayHost host(window, nullptr);
    struct NoPrompts : IPrompts {
        Answer Message(const std::string&, const std::string&, Buttons, MessageIcon) override {
            return Answer::Cancel;
        }
    } prompts;
    TTrayLogic logic(host, prompts, {});
    logic.HideToTray();
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(host.FindShell().isActive());
    for (int tick = 0; tick < TTrayLogic::kFindShellTries; ++tick)
        logic.FindShellTimer();
    EXPECT_FALSE(host.FindShell().isActive());
    EXPECT_FALSE(host.TrayActive());
    EXPECT_EQ(logic.State(), Visibility::HiddenNoTaskbar);
}

TEST(X11HotKeyRegistrar, RefusesWithoutAnXDisplay) {
    if (QGuiApplication::platformName() == QStringLiteral("xcb"))
        GTEST_SKIP() << "runs on a display-less platform only";
    platform::X11HotKeyRegistrar registrar;
    EXPECT_FALSE(registrar.HasDisplay());
    TfisHotKey hotKey(registrar);
    hotKey.SetKey(kHotKeyCtrl | kHotKeyAlt | 'A');
    EXPECT_FALSE(hotKey.Registered());
}

}  // namespace
}  // namespace kv::ui
