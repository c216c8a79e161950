// Every refusal of the protection mounts is recorded once, shown by kvctl log
// to root and to the refused user alone, and a flood of refusals stays
// bounded in memory and in the system log.
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "driver/DenialLog.h"
#include "tests/protection/ProtectionFixture.h"

namespace kv::protection_test {
namespace {

constexpr std::uint32_t kDeleteF = 0x20;
constexpr std::uint32_t kRename = 0x10;
constexpr std::uint32_t kDirCreate = 0x4000;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

class DenialLogTest : public ProtectionTest {
protected:
    Outcome Kvctl(uid_t uid, const std::string& arguments) {
        return RunAs(uid, std::string(KVCTL_PATH) + " --device " + socket_ + " " + arguments);
    }
};

TEST_F(DenialLogTest, EachRefusalOfAScriptedSessionIsLoggedOnceWithItsOperationAndEntry) {
    const std::string folder = Work("kept");
    MakeFolder(folder, {"f", "g"});
    Load(kUser, {Rule(0x80, Work("elsewhere") + "/*"),  // entry 0 refuses nothing here
                 Rule(kDeleteF | kRename | kDirCreate, folder + "/*")});
    Load(kOther, {Rule(kDeleteF, folder + "/*")});
    EXPECT_TRUE(RunAs(kUser, "rm " + folder + "/f").Denied());
    EXPECT_TRUE(RunAs(kUser, "mkdir " + folder + "/d").Denied());
    EXPECT_TRUE(RunAs(kUser, "mv " + folder + "/f " + folder + "/h").Denied());
    EXPECT_EQ(RunAs(kUser, "cat " + folder + "/g").exit, 0) << "reading is not refused";
    EXPECT_TRUE(RunAs(kOther, "rm " + folder + "/g").Denied());

    const Outcome all = Kvctl(0, "log --json");
    ASSERT_EQ(all.exit, 0) << all.output;
    const std::vector<std::string> lines = Lines(all.output);
    ASSERT_EQ(lines.size(), 4u) << all.output;
    const std::string user = "\"uid\":" + std::to_string(kUser) + ",\"user\":\"nobody\"";
    auto expect = [&](std::size_t i, const std::string& operation, const std::string& path,
                      const std::string& program) {
        EXPECT_NE(lines[i].find("\"operation\":\"" + operation + "\""), std::string::npos)
            << lines[i];
        EXPECT_NE(lines[i].find("\"path\":\"" + path + "\""), std::string::npos) << lines[i];
        EXPECT_NE(lines[i].find("\"entry\":1}"), std::string::npos) << lines[i];
        EXPECT_NE(lines[i].find(program + "\""), std::string::npos) << lines[i];
        EXPECT_NE(lines[i].find("\"sequence\":" + std::to_string(i + 1) + ","), std::string::npos);
    };
    expect(0, "DeleteF", folder + "/f", "/rm");
    expect(1, "Dir_Create", folder + "/d", "/mkdir");
    expect(2, "Rename", folder + "/f", "/mv");
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_NE(lines[i].find(user), std::string::npos) << lines[i];
    EXPECT_NE(lines[3].find("\"uid\":" + std::to_string(kOther)), std::string::npos);

    // A user sees their own refusals only; their count is in the status.
    const Outcome own = Kvctl(kUser, "log");
    EXPECT_EQ(Lines(own.output).size(), 3u) << own.output;
    EXPECT_NE(own.output.find("rm: DeleteF " + folder + "/f refused by entry 1"), std::string::npos)
        << own.output;
    EXPECT_EQ(own.output.find("uid " + std::to_string(kOther)), std::string::npos);
    EXPECT_NE(Kvctl(kUser, "status").output.find("refused since protection started: 3\n"),
              std::string::npos);
    EXPECT_NE(Kvctl(kOther, "status").output.find("refused since protection started: 1\n"),
              std::string::npos);
    EXPECT_EQ(Lines(Kvctl(kOther, "--uid " + std::to_string(kUser) + " log").output).size(), 1u)
        << "only root addresses another uid";
}

TEST_F(DenialLogTest, AFloodOfRefusalsStaysBounded) {
    serviceLog_ = dir_.File("service.log");
    StopService(SIGTERM);
    ASSERT_TRUE(StartService());
    const std::string folder = Work("kept");
    MakeFolder(folder, {"f"});
    Load(kUser, {Rule(kDeleteF, folder + "/*")});
    constexpr int kFlood = 100000;
    const Outcome flood = RunAs(kUser,
                                "python3 -c 'import os\n"
                                "n = 0\n"
                                "for i in range(" +
                                    std::to_string(kFlood) +
                                    "):\n"
                                    "    try: os.unlink(\"" +
                                    folder +
                                    "/f\")\n"
                                    "    except PermissionError: n += 1\n"
                                    "print(n)'");
    ASSERT_EQ(flood.output, std::to_string(kFlood) + "\n");
    EXPECT_NE(
        Kvctl(kUser, "status")
            .output.find("refused since protection started: " + std::to_string(kFlood) + "\n"),
        std::string::npos);

    const std::vector<std::string> kept = Lines(Kvctl(0, "log --json").output);
    ASSERT_EQ(kept.size(), driver::DenialLog::kCapacity) << "the ring keeps the latest only";
    EXPECT_NE(kept.back().find("\"sequence\":" + std::to_string(kFlood) + ","), std::string::npos);
    EXPECT_NE(kept.front().find("\"sequence\":" +
                                std::to_string(kFlood - driver::DenialLog::kCapacity + 1) + ","),
              std::string::npos);

    // The system log got a bounded share of it, and says what it left out.
    std::ifstream log(serviceLog_);
    std::size_t refusedLines = 0;
    bool saysLeftOut = false;
    for (std::string line; std::getline(log, line);) {
        if (line.find("refused ") != std::string::npos)
            ++refusedLines;
        saysLeftOut = saysLeftOut || line.find("refusals not logged") != std::string::npos;
    }
    EXPECT_GE(refusedLines, 50u);
    EXPECT_LT(refusedLines, 2000u);
    EXPECT_TRUE(saysLeftOut);
}

}  // namespace
}  // namespace kv::protection_test
