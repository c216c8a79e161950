// The titles of the program's windows as the window system shows them.
#include <gtest/gtest.h>
#include <signal.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <cstdlib>
#include <filesystem>
#include <set>

#include "settings/Encript.h"
#include "tests/support/TempDir.h"

namespace kv {
namespace {

/// Runs xdotool with `args`; its output without the last line end.
QString Xdotool(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(KV_XDOTOOL), args);
    if (!p.waitForFinished(5000))
        return {};
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

/// The names of the visible windows of a process.
std::multiset<std::string> VisibleNames(qint64 pid) {
    std::multiset<std::string> names;
    const QString ids = Xdotool({"search", "--onlyvisible", "--pid", QString::number(pid)});
    for (const QString& id : ids.split('\n', Qt::SkipEmptyParts))
        names.insert(Xdotool({"getwindowname", id}).toStdString());
    return names;
}

/// Waits until the visible windows of a process are exactly `expected`.
std::multiset<std::string> WaitForNames(qint64 pid, const std::multiset<std::string>& expected) {
    QElapsedTimer timer;
    timer.start();
    std::multiset<std::string> names;
    while (timer.elapsed() < 15000) {
        names = VisibleNames(pid);
        if (names == expected)
            break;
        QThread::msleep(100);
    }
    return names;
}

class WindowTitles : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY"))
            GTEST_SKIP() << "needs an X display";
        program_ = dir_.File("kv");
        std::filesystem::copy_file(KV_BINARY_PATH, program_);
        std::filesystem::create_directories(dir_.File("machine/registry"));
        test::WriteFile(dir_.File("machine/registry/HKLM.reg"),
                        "REGEDIT4\r\n\r\n"
                        "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control]\r\n"
                        "\"Current User\"=\"BOB\"\r\n\r\n"
                        "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\"
                        "ProfileList\\BOB]\r\n\r\n");
        TEncriptor store(dir_.File("kv.dat"), true);
        store.WriteString("Password", "SECRET");
        store.WriteBool("FirstTime", false);
        store.WriteBool("CurUsers_BOB", true);
        ASSERT_TRUE(store.Flush(true));
    }
    void TearDown() override {
        if (kv_.state() != QProcess::NotRunning) {
            kv_.kill();
            kv_.waitForFinished(5000);
        }
    }

    test::TempDir dir_;
    std::string program_;
    QProcess kv_;
};

TEST_F(WindowTitles, ThePromptAndTheWindowShowExactlyTheirCaptions) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("KESTRAVA_MACHINE", QString::fromStdString(dir_.File("machine")));
    env.insert("KESTRAVA_RUNTIME", QString::fromStdString(dir_.File("run")));
    env.insert("KESTRAVA_DEVICE", QString::fromStdString(dir_.File("VEVUZ")));
    env.remove("KESTRAVA_NONINTERACTIVE");
    kv_.setProcessEnvironment(env);
    kv_.start(QString::fromStdString(program_), {});
    ASSERT_TRUE(kv_.waitForStarted(5000));

    ASSERT_EQ(WaitForNames(kv_.processId(), {"Password"}), std::multiset<std::string>{"Password"});
    const QString prompt = Xdotool({"search", "--onlyvisible", "--pid",
                                    QString::number(kv_.processId()), "--name", "^Password$"});
    ASSERT_FALSE(prompt.isEmpty());
    Xdotool({"windowfocus", "--sync", prompt.split('\n').front()});
    Xdotool({"type", "--delay", "20", "secret"});
    Xdotool({"key", "Return"});

    const std::string caption = "Kestrava - Protection settings for the user \"BOB\"";
    EXPECT_EQ(WaitForNames(kv_.processId(), {caption}), std::multiset<std::string>{caption});

    ::kill(static_cast<pid_t>(kv_.processId()), SIGTERM);
    EXPECT_TRUE(kv_.waitForFinished(10000));
}

}  // namespace
}  // namespace kv
