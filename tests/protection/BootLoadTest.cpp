// Protection from the service's start: an account the settings know is
// protected before it runs anything, and a restart brings its table back.
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "settings/Encript.h"
#include "tests/protection/ProtectionFixture.h"

namespace kv::protection_test {
namespace {

class BootLoad : public ProtectionTest {
protected:
    void SetUp() override {
        ProtectionTest::SetUp();
        program_ = dir_.File("program");
        ASSERT_EQ(::mkdir(program_.c_str(), 0755), 0);
        ro_ = Work("ro");
        MakeFolder(ro_, {"f"});
        // The machine's own login accounts are never touched: none are listed.
        std::ofstream(dir_.File("passwd")).flush();
        serviceArgs_ = {"--settings",     program_ + "/kv.dat", "--program",
                        program_ + "/kv", "--passwd",           dir_.File("passwd")};
    }

    /// Settings that know the account "nobody" in a group whose rules make a
    /// folder ReadOnly.
    void WriteSettings(bool automatic) {
        const std::string file = program_ + "/kv.dat";
        std::filesystem::remove(file);
        TEncriptor settings(file, true);
        settings.WriteBool("CurUsers_nobody", true);
        settings.WriteString("nobody_GroupName", "Pupils");
        settings.WriteInteger("g_Pupils_P_" + ro_, 1);
        if (!automatic)
            settings.WriteBool("AutomaticFilesProtection", false);
        ASSERT_TRUE(settings.Flush(true));
        ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
    }

    void Restart() {
        StopService(SIGTERM);
        ASSERT_TRUE(StartService());
    }

    Outcome Status() {
        return RunAs(0, std::string(KVCTL_PATH) + " --device " + socket_ + " status");
    }

    std::string program_;
    std::string ro_;
};

TEST_F(BootLoad, AKnownAccountIsProtectedFromTheServicesStartWithoutRunningTheProgram) {
    WriteSettings(true);
    Restart();
    EXPECT_TRUE(RunAs(kUser, "rm " + ro_ + "/f").Denied());
    EXPECT_EQ(RunAs(kUser, "cat " + ro_ + "/f").output, "content of f\n");
    EXPECT_EQ(RunAs(kOther, "touch " + ro_ + "/g").exit, 0) << "another uid is not protected";
    const Outcome status = Status();
    EXPECT_NE(status.output.find("tables: 1\n  uid 65534 (nobody): active, 4 entries, from boot\n"),
              std::string::npos)
        << status.output;
}

TEST_F(BootLoad, ARestartLoadsTheTablesAgainFromTheSettings) {
    WriteSettings(true);
    Restart();
    ASSERT_TRUE(Send(kUser, driver::code::kClear)) << "the administrator clears the table";
    EXPECT_EQ(RunAs(kUser, "touch " + ro_ + "/g").exit, 0);
    Restart();
    EXPECT_TRUE(RunAs(kUser, "rm " + ro_ + "/f").Denied()) << "no one logged on, yet protected";
    EXPECT_TRUE(RunAs(kUser, "rm " + ro_ + "/g").Denied());
}

TEST_F(BootLoad, WithAutomaticProtectionOffTheStartLoadsNoAccount) {
    WriteSettings(false);
    Restart();
    EXPECT_EQ(RunAs(kUser, "touch " + ro_ + "/g").exit, 0);
    EXPECT_NE(Status().output.find("tables: 0\n"), std::string::npos) << Status().output;
}

}  // namespace
}  // namespace kv::protection_test
