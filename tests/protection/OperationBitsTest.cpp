// Every operation bit, tried by real programs of an unprivileged user inside
// a protection mount: refused for the protected uid, allowed for another
// uid, and allowed again once the table is deactivated.
#include <string>
#include <vector>

#include "tests/protection/ProtectionFixture.h"

namespace kv::protection_test {
namespace {

struct BitCase {
    const char* name;
    std::uint32_t mask;
    /// Run as root before each attempt ({F} the folder, {U} the trying uid).
    const char* setup;
    /// Run as the trying uid.
    const char* command;
    /// What a refusal prints: "" for "Permission denied", "absent" for "No
    /// such file or directory", else this text (printed by the command).
    const char* refusal;
};

const BitCase kCases[] = {
    {"Open", 0x4, "", "cat {F}/f", ""},
    {"Read", 0x40, "", "cat {F}/f", ""},
    {"Read-python", 0x40, "", "python3 -c \"open('{F}/f').read()\"", ""},
    {"Write-append", 0x80, "", "echo x >> {F}/f", ""},
    {"Write-truncate", 0x80, "", "truncate -s 0 {F}/f", ""},
    {"Write-python", 0x80, "", "python3 -c \"open('{F}/f', 'r+').write('x')\"", ""},
    {"Rename", 0x10, "rm -f {F}/g; touch {F}/f; chmod 666 {F}/f", "mv {F}/f {F}/g", ""},
    {"Replace", 0x1000, "touch {F}/f {F}/other; chmod 666 {F}/f {F}/other", "mv {F}/other {F}/f",
     ""},
    {"DeleteF", 0x20, "touch {F}/f; chmod 666 {F}/f", "rm {F}/f", ""},
    {"DeleteF-static", 0x20, "touch {F}/f; chmod 666 {F}/f", "busybox rm {F}/f", ""},
    {"Dir_Delete", 0x2000, "mkdir -p -m 777 {F}/sub", "rmdir {F}/sub", ""},
    {"Cr", 0x800, "rm -f {F}/new", "touch {F}/new", ""},
    {"Cr-symlink", 0x800, "rm -f {F}/ln", "ln -s f {F}/ln", ""},
    {"Cr-link", 0x800, "rm -f {F}/hl", "ln {F}/f {F}/hl", ""},
    {"Cr-rename-into", 0x800, "rm -f {F}/moved; touch {F}/f; chmod 666 {F}/f", "mv {F}/f {F}/moved",
     ""},
    {"Cr-static", 0x800, "rm -f {F}/new", "busybox touch {F}/new", ""},
    {"Dir_Create", 0x4000, "rmdir {F}/newdir 2>/dev/null; true", "mkdir {F}/newdir", ""},
    {"Attr_Get", 0x100, "", "stat {F}/f", ""},
    {"Time_Get_A", 0x8, "", "t=$(stat -c %X {F}/f) && [ \"$t\" != 0 ] || { echo hidden; exit 1; }",
     "hidden"},
    {"Time_Get_C", 0x8000, "",
     "t=$(stat -c %Z {F}/f) && [ \"$t\" != 0 ] || { echo hidden; exit 1; }", "hidden"},
    {"Time_Get_M", 0x10000, "",
     "t=$(stat -c %Y {F}/f) && [ \"$t\" != 0 ] || { echo hidden; exit 1; }", "hidden"},
    {"Attr_Set-chmod", 0x100000, "chown {U} {F}/f", "chmod 600 {F}/f", ""},
    {"Attr_Set-xattr", 0x100000, "chown {U} {F}/f",
     "python3 -c \"import os; os.setxattr('{F}/f', 'user.k', b'v')\"", ""},
    {"Time_Set_A", 0x20000, "chown {U} {F}/f", "touch -a -d 2001-01-01 {F}/f", ""},
    {"Time_Set_M", 0x80000, "chown {U} {F}/f", "touch -m -d 2001-01-01 {F}/f", ""},
    {"Time_Set_C", 0x40000, "chown {U} {F}/f", "chmod 640 {F}/f", ""},
    {"Hide-stat", 0x200, "", "stat {F}/f", "absent"},
    {"Hide-open", 0x200, "", "cat {F}/f", "absent"},
    {"Hide-listing", 0x200, "", "ls {F} | grep -qx f || { echo not listed; exit 1; }",
     "not listed"},
    {"Full-read", 0x400, "", "cat {F}/f", ""},
    {"Full-stat", 0x400, "", "stat {F}/f", ""},
    {"Full-delete", 0x400, "touch {F}/f; chmod 666 {F}/f", "rm {F}/f", ""},
    {"Full-list-folder", 0x400, "", "ls {F}", ""},
    {"Attr_Set-folder-itself", 0x100000, "chown {U} {F}", "chmod 750 {F}", ""},
};

std::string Fill(std::string text, const std::string& folder, uid_t uid) {
    for (std::size_t at; (at = text.find("{F}")) != std::string::npos;)
        text.replace(at, 3, folder);
    for (std::size_t at; (at = text.find("{U}")) != std::string::npos;)
        text.replace(at, 3, std::to_string(uid));
    return text;
}

bool Refused(const Outcome& outcome, const BitCase& c) {
    const std::string refusal = c.refusal;
    if (refusal.empty())
        return outcome.Denied();
    if (refusal == "absent")
        return outcome.Absent();
    return outcome.exit != 0 && outcome.output.find(refusal) != std::string::npos;
}

using OperationBits = ProtectionTest;

TEST_F(OperationBits, EachBitRefusesItsOperationsForTheProtectedUidOnly) {
    std::vector<driver::Entry> entries;
    for (const BitCase& c : kCases) {
        const std::string folder = Work(c.name);
        MakeFolder(folder, {"f"});
        entries.push_back(Rule(c.mask, folder + "/*"));
    }
    Load(kUser, entries);
    EXPECT_EQ(MountsUnder(work_).size(), std::size(kCases)) << "one mount per protected folder";

    auto attempt = [&](const BitCase& c, uid_t uid) {
        const std::string folder = Work(c.name);
        const Outcome setup = RunAs(0, Fill(c.setup, folder, uid));
        EXPECT_EQ(setup.exit, 0) << c.name << " setup: " << setup.output;
        return RunAs(uid, Fill(c.command, folder, uid));
    };
    for (const BitCase& c : kCases) {
        const Outcome mine = attempt(c, kUser);
        EXPECT_TRUE(Refused(mine, c))
            << c.name << " by the protected uid: exit " << mine.exit << ", " << mine.output;
        const Outcome other = attempt(c, kOther);
        EXPECT_EQ(other.exit, 0) << c.name << " by another uid: " << other.output;
    }
    ASSERT_TRUE(Send(kUser, driver::code::kDeactivate));
    EXPECT_TRUE(MountsUnder(work_).empty()) << "no active table needs a mount";
    for (const BitCase& c : kCases) {
        const Outcome after = attempt(c, kUser);
        EXPECT_EQ(after.exit, 0) << c.name << " after the stop: " << after.output;
    }
}

}  // namespace
}  // namespace kv::protection_test
