#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QTest>

#include "app/Double.h"
#include "tests/support/ScriptedPrompts.h"
#include "tests/support/TempDir.h"

namespace kv {
namespace {

using platform::InstanceGuard;

TEST(InstanceGuard, SecondStartIsRefusedAndTheFirstIsAskedToShow) {
    test::TempDir dir;
    const QString runtime = QString::fromStdString(dir.Path());
    InstanceGuard first(runtime, kInstanceName);
    test::ScriptedPrompts firstPrompts;
    const InstanceResult one = InitInstance(first, false, true, firstPrompts);
    ASSERT_TRUE(one.run);
    EXPECT_TRUE(firstPrompts.shown.empty());

    int shows = 0;
    TAppManager listener(first, [&shows] { ++shows; });

    InstanceGuard second(runtime, kInstanceName);
    test::ScriptedPrompts prompts;
    const InstanceResult two = InitInstance(second, false, true, prompts);
    EXPECT_FALSE(two.run);
    EXPECT_EQ(two.exitCode, 1);
    EXPECT_TRUE(two.error.empty());
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text, "The program is running already !");
    EXPECT_EQ(prompts.shown[0].title, "Warning");
    EXPECT_EQ(prompts.shown[0].buttons, Buttons::Ok);

    QElapsedTimer timer;
    timer.start();
    while (shows == 0 && timer.elapsed() < 5000)
        QTest::qWait(10);
    EXPECT_EQ(shows, 1);
}

// The show request may run a modal loop (the password prompt): the request is
// answered and closed first, so nothing of it is left to the loop.
TEST(InstanceGuard, TheRequestIsAnsweredAndClosedBeforeTheShowRequestRuns) {
    test::TempDir dir;
    InstanceGuard guard(QString::fromStdString(dir.Path()), kInstanceName);
    test::ScriptedPrompts prompts;
    ASSERT_TRUE(InitInstance(guard, false, true, prompts).run);

    QLocalSocket client;
    bool closedFirst = false;
    QByteArray reply;
    int shows = 0;
    TAppManager listener(guard, [&] {
        ++shows;
        // A nested loop, as a modal prompt runs it.
        QElapsedTimer timer;
        timer.start();
        while (client.state() != QLocalSocket::UnconnectedState && timer.elapsed() < 2000)
            QTest::qWait(10);
        closedFirst = client.state() == QLocalSocket::UnconnectedState;
        reply += client.readAll();
        // Further requests arrive while the loop runs.
        InstanceGuard other(QString::fromStdString(dir.Path()), kInstanceName);
        if (shows == 1) {
            EXPECT_TRUE(other.SendShowRequest());
        }
        QTest::qWait(100);
    });
    client.connectToServer(guard.SocketPath());
    ASSERT_TRUE(client.waitForConnected(2000));
    client.write("show\n");
    ASSERT_TRUE(client.waitForBytesWritten(2000));
    QElapsedTimer timer;
    timer.start();
    while (shows < 2 && timer.elapsed() < 5000)
        QTest::qWait(10);
    EXPECT_EQ(shows, 2);
    EXPECT_TRUE(closedFirst);
    EXPECT_EQ(reply, "ok\n");
}

TEST(InstanceGuard, AllowedCopyAsksAndDeclineEndsWithTwo) {
    test::TempDir dir;
    const QString runtime = QString::fromStdString(dir.Path());
    InstanceGuard first(runtime, kInstanceName);
    test::ScriptedPrompts none;
    ASSERT_TRUE(InitInstance(first, true, true, none).run);

    InstanceGuard second(runtime, kInstanceName);
    test::ScriptedPrompts prompts;
    prompts.Queue(Answer::No);
    const InstanceResult declined = InitInstance(second, true, true, prompts);
    EXPECT_FALSE(declined.run);
    EXPECT_EQ(declined.exitCode, 2);
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text,
              "The program is running already ! Create a copy of the program yet ?");
    EXPECT_EQ(prompts.shown[0].buttons, Buttons::YesNo);

    prompts.Queue(Answer::Yes);
    EXPECT_TRUE(InitInstance(second, true, true, prompts).run);
}

TEST(InstanceGuard, ReleasedLockLetsTheNextStartRun) {
    test::TempDir dir;
    const QString runtime = QString::fromStdString(dir.Path());
    test::ScriptedPrompts prompts;
    {
        InstanceGuard first(runtime, kInstanceName);
        ASSERT_TRUE(InitInstance(first, false, true, prompts).run);
    }
    InstanceGuard next(runtime, kInstanceName);
    EXPECT_TRUE(InitInstance(next, false, true, prompts).run);
    EXPECT_TRUE(prompts.shown.empty());
}

TEST(InstanceGuard, StaleSocketFileDoesNotBlockTheNextStart) {
    test::TempDir dir;
    const QString runtime = QString::fromStdString(dir.Path());
    test::WriteFile(dir.File("tarvex"), "left by a killed instance");
    InstanceGuard guard(runtime, kInstanceName);
    test::ScriptedPrompts prompts;
    ASSERT_TRUE(InitInstance(guard, false, true, prompts).run);

    int shows = 0;
    TAppManager listener(guard, [&shows] { ++shows; });
    InstanceGuard probe(runtime, kInstanceName);
    EXPECT_TRUE(probe.SendShowRequest());
    QElapsedTimer timer;
    timer.start();
    while (shows == 0 && timer.elapsed() < 5000)
        QTest::qWait(10);
    EXPECT_EQ(shows, 1);
}

TEST(InstanceGuard, SetupFailuresCarryThePrefixes) {
    test::TempDir dir;
    test::WriteFile(dir.File("file"), "x");
    // The runtime folder cannot be made below a plain file.
    InstanceGuard guard(QString::fromStdString(dir.File("file") + "/sub"), kInstanceName);
    test::ScriptedPrompts prompts;
    const InstanceResult r = InitInstance(guard, false, true, prompts);
    EXPECT_FALSE(r.run);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.error.rfind("Register Window Message Error : \r\n", 0), 0u) << r.error;
    EXPECT_GT(r.error.size(), std::string("Register Window Message Error : \r\n").size());
    EXPECT_TRUE(prompts.shown.empty());
}

TEST(InstanceGuard, GarbageOnTheSocketIsIgnored) {
    test::TempDir dir;
    InstanceGuard guard(QString::fromStdString(dir.Path()), kInstanceName);
    test::ScriptedPrompts prompts;
    ASSERT_TRUE(InitInstance(guard, false, true, prompts).run);
    int shows = 0;
    TAppManager listener(guard, [&shows] { ++shows; });
    {
        QLocalSocket socket;
        socket.connectToServer(guard.SocketPath());
        ASSERT_TRUE(socket.waitForConnected(2000));
        socket.write(QByteArray(100000, 'x'));
        socket.waitForBytesWritten(2000);
        QTest::qWait(100);
    }
    QTest::qWait(100);
    EXPECT_EQ(shows, 0);
}

}  // namespace
}  // namespace kv
