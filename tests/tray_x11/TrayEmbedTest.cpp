#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QMenu>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QThread>
#include <QWidget>
#include <cstdlib>

#include "ui/TrayIcon.h"
#include "ui/TrayLogic.h"

namespace kv::ui {
namespace {

template <typename Done>
bool WaitFor(Done done, int milliseconds) {
    QDeadlineTimer deadline(milliseconds);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(20);
    }
    return done();
}

struct NoPrompts : IPrompts {
    Answer Message(const std::string&, const std::string&, Buttons, MessageIcon) override {
        return Answer::Cancel;
    }
};

class TrayEmbed : public testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY") || QGuiApplication::platformName() != "xcb")
            GTEST_SKIP() << "needs an X display and the xcb platform";
    }
    void TearDown() override {
        if (trayer.state() != QProcess::NotRunning) {
            trayer.kill();
            trayer.waitForFinished(2000);
        }
    }
    void StartTrayer() {
        trayer.start(QStringLiteral(KV_TRAYER), {QStringLiteral("--edge"), QStringLiteral("top")});
        ASSERT_TRUE(trayer.waitForStarted(2000));
    }

    QProcess trayer;
};

TEST_F(TrayEmbed, HiddenWindowWaitsForTheTrayAndItsIconEmbedsOnceItComes) {
    QWidget window;
    QMenu popup;
    TQtTrayHost host(window, &popup);
    NoPrompts prompts;
    TTrayLogic logic(host, prompts, {});
    int ticks = 0;
    QObject::connect(&host.FindShell(), &QTimer::timeout, [&logic, &ticks] {
        ++ticks;
        logic.FindShellTimer();
    });
    window.show();

    // No tray yet: the first tick finds none and tries again.
    ASSERT_FALSE(TRxTrayIcon::Available());
    logic.HideToTray();
    ASSERT_TRUE(WaitFor([&] { return ticks == 1; }, 1500));
    EXPECT_TRUE(host.FindShell().isActive());
    EXPECT_EQ(logic.State(), Visibility::WaitingForTaskbar);

    StartTrayer();
    ASSERT_TRUE(WaitFor([&] { return logic.State() == Visibility::InTray; }, 8000));
    EXPECT_FALSE(window.isVisible());
    QSystemTrayIcon& icon = host.RxTrayIcon1().Icon();
    EXPECT_TRUE(WaitFor([&] { return !icon.geometry().isEmpty(); }, 3000))
        << "the icon did not embed in the tray";

    logic.cmdShowMainClick();
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(icon.isVisible());
    EXPECT_EQ(logic.State(), Visibility::Shown);
}

}  // namespace
}  // namespace kv::ui
