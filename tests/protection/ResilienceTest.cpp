// What one user can do to the service and to others: many lookups, many
// open files, odd modes, a full disk.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/protection/ProtectionFixture.h"

namespace kv::protection_test {
namespace {

std::size_t OpenDescriptorsOf(pid_t pid) {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd"))
        ++count;
    return count;
}

using Resilience = ProtectionTest;

TEST_F(Resilience, LookingUpTwentyThousandItemsLeavesTheServiceFewDescriptorsAndAnswering) {
    const std::string folder = Work("many");
    MakeFolder(folder, {});
    for (int d = 0; d < 20; ++d) {
        const std::string sub = folder + "/d" + std::to_string(d);
        ASSERT_EQ(::mkdir(sub.c_str(), 0777), 0);
        for (int f = 0; f < 1000; ++f)
            std::ofstream(sub + "/f" + std::to_string(f)) << f;
    }
    MakeFolder(Work("other"), {"g"});
    Load(kUser, {Rule(0x1E7830, folder + "/*"), Rule(0x1E7830, Work("other") + "/*")});
    Load(kOther, {Rule(0x20, Work("other") + "/*")});
    const Outcome found = RunAs(kUser, "find " + folder + " -printf '%s\\n' | wc -l");
    ASSERT_EQ(found.output, "20021\n") << "every item was looked up and its size read";
    EXPECT_LT(OpenDescriptorsOf(service_), 2000u);
    EXPECT_EQ(RunAs(kUser, "cat " + folder + "/d19/f999").output, "999");
    EXPECT_EQ(RunAs(kOther, "cat " + Work("other/g")).output, "content of g\n")
        << "another user's mount still answers";
    EXPECT_TRUE(RunAs(kOther, "rm " + Work("other/g")).Denied());
    // Items whose descriptors were closed are found again by handle, also
    // after a rename the service saw.
    EXPECT_EQ(RunAs(0, "mv " + folder + "/d0 " + folder + "/e0").exit, 0);
    EXPECT_EQ(RunAs(kUser, "cat " + folder + "/e0/f0").output, "0");
    EXPECT_TRUE(RunAs(kUser, "rm " + folder + "/e0/f0").Denied());
}

TEST_F(Resilience, AUserHoldingFilesOpenLeavesTheServiceDescriptorsForEveryoneElse) {
    StopService(SIGTERM);
    serviceDescriptors_ = 2048;
    ASSERT_TRUE(StartService());
    const std::string folder = Work("shared");
    const std::string held = Work("held");
    MakeFolder(folder, {"f"});
    MakeFolder(held, {});
    Load(kUser, {Rule(0x20, folder + "/never")});
    // The protected user opens the file as often as the service lets them
    // (at most 1500 times) and keeps every descriptor.
    const std::string holder =
        "setpriv --reuid=" + std::to_string(kUser) + " --regid=" + std::to_string(kUser) +
        " --clear-groups -- bash -c 'n=0; while [ $n -lt 1500 ] && exec "
        "{fd}<" +
        folder + "/f; do n=$((n+1)); done 2>/dev/null; echo $$ > " + held + "/pid; echo $n > " +
        held + "/n.new; mv " + held + "/n.new " + held + "/n; exec sleep 60' >/dev/null 2>&1 &";
    ASSERT_EQ(std::system(holder.c_str()), 0);
    std::string opened;
    for (int i = 0; i < 200 && opened.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::ifstream(held + "/n") >> opened;
    }
    pid_t pid = 0;
    std::ifstream(held + "/pid") >> pid;
    ASSERT_GT(pid, 0);
    struct Killer {
        pid_t pid;
        ~Killer() { ::kill(pid, SIGKILL); }
    } killer{pid};
    ASSERT_FALSE(opened.empty());
    EXPECT_LT(std::stoi(opened), 1500) << "one user holds a share of the descriptors only";
    EXPECT_GE(std::stoi(opened), 64);
    const Outcome refused = RunAs(kUser, "cat " + folder + "/f");
    EXPECT_NE(refused.exit, 0);
    EXPECT_NE(refused.output.find("Too many open files"), std::string::npos) << refused.output;
    EXPECT_EQ(RunAs(kOther, "cat " + folder + "/f").output, "content of f\n")
        << "another user's opens still answered";
    EXPECT_EQ(RunAs(kOther, "ls " + folder).output, "f\n");
    EXPECT_EQ(RunAs(0, "cat " + folder + "/f").output, "content of f\n");
    // Closed again, the share is the user's again.
    ::kill(pid, SIGKILL);
    Outcome again;
    for (int i = 0; i < 100 && again.output != "content of f\n"; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        again = RunAs(kUser, "cat " + folder + "/f");
    }
    EXPECT_EQ(again.output, "content of f\n");
}

TEST_F(Resilience, ItemsAreMadeWithTheModesTheCallersUmaskGives) {
    const std::string plain = Work("plain");
    const std::string guarded = Work("guarded");
    MakeFolder(plain, {});
    MakeFolder(guarded, {});
    Load(kUser, {Rule(0x20, guarded + "/never")});
    ASSERT_EQ(MountsUnder(work_), std::vector<std::string>{guarded});
    auto make = [&](const std::string& folder, const std::string& umask, const std::string& tag) {
        const std::string at = folder + "/" + tag;
        return RunAs(kUser, "umask " + umask + " && mkdir " + at + " && cd " + at +
                                " && touch f && mkdir d && mkfifo p && ln -s f l && "
                                "stat -c '%n %a' f d p && stat -c '%n %F' l");
    };
    for (const std::string umask : {"022", "002", "077"}) {
        const Outcome expected = make(plain, umask, "u" + umask);
        ASSERT_EQ(expected.exit, 0) << expected.output;
        EXPECT_EQ(make(guarded, umask, "u" + umask).output, expected.output) << "umask " << umask;
    }
    // A default ACL of the folder takes the umask's place, as without the mount.
    if (std::system("command -v setfacl >/dev/null") == 0) {
        for (const std::string& folder : {plain, guarded}) {
            ASSERT_EQ(
                RunAs(kUser, "mkdir " + folder + "/acl && setfacl -d -m u::rwx,g::rwx,o::rx " +
                                 folder + "/acl")
                    .exit,
                0);
        }
        const std::string list =
            "umask 077 && cd {}/acl && touch f && mkdir d && stat -c '%n %a' f d";
        auto in = [&](const std::string& folder) {
            std::string command = list;
            command.replace(command.find("{}"), 2, folder);
            return RunAs(kUser, command).output;
        };
        const std::string expected = in(plain);
        EXPECT_EQ(expected, "f 664\nd 775\n");
        EXPECT_EQ(in(guarded), expected);
    } else {
        ADD_FAILURE() << "setfacl is missing (package acl)";
    }
}

/// A small ext4 file system whose root reserve is half of it, mounted at `at`.
class SmallDisk {
public:
    explicit SmallDisk(const std::string& image, const std::string& at) : at_(at) {
        ok_ = std::system(("truncate -s 64M " + image + " && mkfs.ext4 -q -m 50 " + image +
                           " && mkdir -p " + at + " && mount -o loop " + image + " " + at)
                              .c_str()) == 0;
    }
    ~SmallDisk() {
        if (ok_)
            ::umount2(at_.c_str(), MNT_DETACH);
    }
    bool Ok() const { return ok_; }

private:
    std::string at_;
    bool ok_ = false;
};

TEST_F(Resilience, WritesThroughTheMountKeepTheRootReserve) {
    SmallDisk disk(dir_.File("disk.img"), Work("disk"));
    ASSERT_TRUE(disk.Ok()) << "a loop-mounted ext4 is needed";
    const std::string folder = Work("disk/data");
    MakeFolder(folder, {});
    auto fill = [&](const std::string& name) {
        RunAs(kUser, "dd if=/dev/zero of=" + folder + "/" + name + " bs=1M count=60 2>/dev/null");
        struct stat st;
        return ::stat((folder + "/" + name).c_str(), &st) == 0 ? st.st_size >> 20 : -1;
    };
    const long plain = fill("plain");
    ASSERT_GT(plain, 0);
    ASSERT_EQ(std::remove((folder + "/plain").c_str()), 0);
    Load(kUser, {Rule(0x20, folder + "/never")});
    ASSERT_EQ(MountsUnder(work_).size(), 1u);
    const long guarded = fill("guarded");
    EXPECT_LE(guarded, plain) << "the mount lent the caller root's reserve";
    Send(kUser, driver::code::kDeactivate);
    ASSERT_TRUE(WaitForNoMounts());
}

}  // namespace
}  // namespace kv::protection_test
