// Runs the built program as a user would: two starts, a killed first instance.
#include <gtest/gtest.h>
#include <signal.h>

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <filesystem>

#include "settings/Encript.h"
#include "tests/support/TempDir.h"

#include "app/Startup.h"

namespace kv {
namespace {

class ProgramRun : public ::testing::Test {
protected:
    void SetUp() override {
        program_ = dir_.File("kv");
        std::filesystem::copy_file(KV_BINARY_PATH, program_);
        runtime_ = dir_.File("run");
    }

    QProcessEnvironment Env() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("KESTRAVA_RUNTIME", QString::fromStdString(runtime_));
        env.insert("KESTRAVA_NONINTERACTIVE", "1");
        env.insert("QT_LOGGING_RULES", "kestrava.*=true");
        return env;
    }

    void Start(QProcess& p, const QStringList& args = {}) {
        p.setProcessEnvironment(Env());
        p.start(QString::fromStdString(program_), args);
        ASSERT_TRUE(p.waitForStarted(5000));
    }

    bool WaitForSocket() const {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 10000) {
            if (std::filesystem::exists(runtime_ + "/tarvex"))
                return true;
            QTest::qWait(20);
        }
        return false;
    }

    test::TempDir dir_;
    std::string program_;
    std::string runtime_;
};

TEST_F(ProgramRun, SecondStartIsRefusedWhateverItsSwitchAndTheFirstComesForward) {
    QProcess first;
    Start(first);
    ASSERT_TRUE(WaitForSocket());
    const std::string settingsBefore = test::ReadFile(dir_.File("kv.dat"));
    ASSERT_FALSE(settingsBefore.empty());

    for (const QStringList& args :
         {QStringList{}, QStringList{"/S"}, QStringList{"/U"}, QStringList{"/bogus"}}) {
        QProcess second;
        Start(second, args);
        ASSERT_TRUE(second.waitForFinished(10000));
        EXPECT_EQ(second.exitCode(), 1);
        EXPECT_TRUE(
            second.readAllStandardError().contains("[Warning] The program is running already !"));
    }
    EXPECT_EQ(test::ReadFile(dir_.File("kv.dat")), settingsBefore);

    QElapsedTimer t;
    t.start();
    QByteArray log;
    while (t.elapsed() < 5000 && log.count("show request") < 4) {
        first.waitForReadyRead(100);
        log += first.readAllStandardError();
    }
    EXPECT_EQ(log.count("show request"), 4) << log.toStdString();
    EXPECT_EQ(first.state(), QProcess::Running);

    // A killed first instance leaves its socket; the next start still runs.
    ::kill(static_cast<pid_t>(first.processId()), SIGKILL);
    first.waitForFinished(5000);
    ASSERT_TRUE(std::filesystem::exists(runtime_ + "/tarvex"));
    QProcess next;
    Start(next);
    EXPECT_FALSE(next.waitForFinished(1500));
    EXPECT_EQ(next.state(), QProcess::Running);
    QProcess third;
    Start(third);
    ASSERT_TRUE(third.waitForFinished(10000));
    EXPECT_EQ(third.exitCode(), 1);
    next.terminate();
    next.waitForFinished(5000);
}

// A logoff, "systemctl stop" or Ctrl+C ends the program as its Exit does: the
// window is destroyed and the instance's socket goes with the lock.
TEST_F(ProgramRun, TerminationSignalsEndTheProgramCleanly) {
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        QProcess p;
        Start(p);
        ASSERT_TRUE(WaitForSocket()) << signal;
        QTest::qWait(200);  // past startup, in the message loop
        ::kill(static_cast<pid_t>(p.processId()), signal);
        ASSERT_TRUE(p.waitForFinished(10000)) << signal;
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << signal;
        EXPECT_EQ(p.exitCode(), 0) << signal;
        EXPECT_FALSE(std::filesystem::exists(runtime_ + "/tarvex")) << signal;
    }
}

// Scripted runs never wait for a person: the password prompt is refused.
TEST_F(ProgramRun, WithoutAPersonThePasswordPromptIsRefused) {
    {
        TEncriptor store(dir_.File("kv.dat"), true);
        store.WriteString("Password", "SECRET");
        store.WriteBool("FirstTime", false);
        ASSERT_TRUE(store.Flush(true));
    }
    for (const QStringList& args : {QStringList{"/D"}, QStringList{}}) {
        QProcess p;
        Start(p, args);
        const bool ended = p.waitForFinished(10000);
        EXPECT_TRUE(ended) << args.join(' ').toStdString();
        if (!ended) {
            p.kill();
            p.waitForFinished(5000);
            continue;
        }
        // A refused password is no success: exit code 1 and a line saying why.
        EXPECT_EQ(p.exitCode(), 1);
        const QByteArray err = p.readAllStandardError();
        EXPECT_TRUE(err.contains("[Password] Enter Password :"));
        EXPECT_TRUE(err.contains(kRefusedText)) << err.toStdString();
    }
}

// Without a display the program says so and ends with 1, whatever its switch.
TEST_F(ProgramRun, WithoutADisplayTheProgramSaysSoAndEndsWithOne) {
    for (const char* display : {"", ":987"}) {
        for (const QStringList& args : {QStringList{"--bogus"}, QStringList{"-h"}, QStringList{}}) {
            QProcessEnvironment env = Env();
            env.remove("QT_QPA_PLATFORM");
            env.remove("WAYLAND_DISPLAY");
            if (*display)
                env.insert("DISPLAY", display);
            else
                env.remove("DISPLAY");
            QProcess p;
            p.setProcessEnvironment(env);
            p.start(QString::fromStdString(program_), args);
            ASSERT_TRUE(p.waitForFinished(10000));
            const std::string what = std::string(display) + " " + args.join(' ').toStdString();
            EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << what;
            EXPECT_EQ(p.exitCode(), 1) << what;
            EXPECT_TRUE(p.readAllStandardError().contains("kv: no display")) << what;
        }
    }
}

TEST_F(ProgramRun, HelpAndVersionEndWithZero) {
    QProcess help;
    Start(help, {"--help"});
    ASSERT_TRUE(help.waitForFinished(5000));
    EXPECT_EQ(help.exitCode(), 0);
    EXPECT_TRUE(help.readAllStandardOutput().contains("/U"));
    QProcess version;
    Start(version, {"--version"});
    ASSERT_TRUE(version.waitForFinished(5000));
    EXPECT_EQ(version.exitCode(), 0);
    EXPECT_TRUE(version.readAllStandardOutput().contains("1.3.1.1"));
    EXPECT_FALSE(std::filesystem::exists(dir_.File("kv.dat")));
}

}  // namespace
}  // namespace kv
