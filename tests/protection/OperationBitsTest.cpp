// Every operation bit, tried by real programs of an unprivileged user inside
// a protection mount: refused for the protected uid, allowed for another
// uid, and allowed again once the table is deactivated; and the everyday
// operations each bit must leave alone pass for the protected uid.
#include <string>
#include <vector>

#include "tests/protection/ProtectionFixture.h"

namespace kv::protection_test {
namespace {

struct BitCase {
    const char* name;
    std::uint32_t mask;
    /// Run as root before each attempt ({F} the folder, {U} the trying uid,
    /// {T} a folder of everyone's outside the protection).
    const char* setup;
    /// Run as the trying uid.
    const char* command;
    /// What a refusal prints: "" for "Permission denied", "absent" for "No
    /// such file or directory", "nothing" when the bit has nothing to refuse
    /// on this system (the command must pass), else this text (printed by the
    /// command).
    const char* refusal;
    /// Everyday operations the bit must leave alone, run as the protected uid
    /// after the setup; they must all pass.
    const char* allowed;
};

// Everyday operations, combined per bit below.
#define READS "cat {F}/f >/dev/null && head -c 1 {F}/f >/dev/null && cp {F}/f {T}/{U}.copy"
#define LIST "ls {F} >/dev/null && ls -d {F} >/dev/null && cd {F} && ls {F}/sub >/dev/null"
#define STAT "stat {F}/f >/dev/null"
#define APPEND "echo more >> {F}/f"
#define MV_WITHIN "mv {F}/f {F}/g && mv {F}/g {F}/f"
#define NEW_FILE "touch {F}/n1 && rm {F}/n1"
#define NEW_FOLDER "mkdir {F}/d1 && rmdir {F}/d1"
#define SAVE_IN_PLACE "printf 'saved\n' > {F}/f"
#define SAVE_BY_RENAME "printf 'saved\n' > {F}/f.tmp && mv {F}/f.tmp {F}/f"

const BitCase kCases[] = {
    {"Open", 0x4, "", "cat {F}/f", "", LIST " && " STAT " && " MV_WITHIN " && " NEW_FOLDER},
    {"Read", 0x40, "", "cat {F}/f", "",
     LIST " && " STAT " && " APPEND " && " MV_WITHIN " && " NEW_FILE " && " SAVE_IN_PLACE},
    {"Read-python", 0x40, "", "python3 -c \"open('{F}/f').read()\"", "", LIST},
    {"Write-append", 0x80, "", "echo x >> {F}/f", "",
     READS " && " LIST " && " STAT " && " MV_WITHIN " && " NEW_FOLDER},
    {"Write-truncate", 0x80, "", "truncate -s 0 {F}/f", "", READS " && " LIST},
    {"Write-python", 0x80, "", "python3 -c \"open('{F}/f', 'r+').write('x')\"", "", READS},
    {"Rename", 0x10, "rm -f {F}/g; touch {F}/f; chmod 666 {F}/f", "mv {F}/f {F}/g", "",
     READS " && " LIST " && " STAT " && " APPEND " && " NEW_FILE " && " NEW_FOLDER
           " && " SAVE_IN_PLACE},
    {"Replace", 0x1000, "touch {F}/f {F}/other; chmod 666 {F}/f {F}/other", "mv {F}/other {F}/f",
     "", READS " && " LIST " && " STAT " && " MV_WITHIN " && " NEW_FILE " && " NEW_FOLDER},
    {"Replace-write", 0x1000, "", "echo new > {F}/f", "", READS " && " LIST},
    {"Replace-append", 0x1000, "", "echo new >> {F}/f", "", READS},
    {"Replace-cp", 0x1000, "touch {F}/other; chmod 666 {F}/other", "cp {F}/other {F}/f", "",
     READS " && cp {F}/other {F}/fresh-{U} && rm {F}/fresh-{U}"},
    {"Replace-truncate", 0x1000, "", "truncate -s 0 {F}/f", "", READS},
    {"Replace-fallocate", 0x1000, "", "fallocate -l 1M {F}/f", "", READS},
    {"ReadOnly-append", 0x1E7830, "", "echo x >> {F}/f", "", READS " && " LIST " && " STAT},
    {"DeleteF", 0x20, "touch {F}/f; chmod 666 {F}/f", "rm {F}/f", "",
     READS " && " LIST " && " STAT " && " APPEND " && " MV_WITHIN " && " NEW_FOLDER
           " && " SAVE_IN_PLACE},
    {"DeleteF-rename-onto", 0x20, "touch {F}/f {F}/junk; chmod 666 {F}/f {F}/junk",
     "mv {F}/junk {F}/f", "", READS " && " MV_WITHIN},
    {"DeleteF-static", 0x20, "touch {F}/f; chmod 666 {F}/f", "busybox rm {F}/f", "", LIST},
    {"Dir_Delete", 0x2000, "mkdir -p -m 777 {F}/gone", "rmdir {F}/gone", "",
     READS " && " LIST " && " STAT " && " APPEND " && " MV_WITHIN " && " NEW_FILE},
    {"Cr", 0x800, "rm -f {F}/new", "touch {F}/new", "",
     READS " && " LIST " && " STAT " && " APPEND " && " MV_WITHIN " && " SAVE_IN_PLACE},
    {"Cr-symlink", 0x800, "rm -f {F}/ln", "ln -s f {F}/ln", "", LIST},
    {"Cr-link", 0x800, "rm -f {F}/hl", "ln {F}/f {F}/hl", "", LIST},
    {"Cr-move-in", 0x800, "rm -f {F}/moved; touch {F}/sub/f; chmod 666 {F}/sub/f",
     "mv {F}/sub/f {F}/moved", "", MV_WITHIN " && mv {F}/sub {F}/sub2 && mv {F}/sub2 {F}/sub"},
    {"Cr-static", 0x800, "rm -f {F}/new", "busybox touch {F}/new", "", LIST},
    {"Dir_Create", 0x4000, "rmdir {F}/newdir 2>/dev/null; true", "mkdir {F}/newdir", "",
     READS " && " LIST " && " STAT " && " APPEND " && " MV_WITHIN " && " NEW_FILE
           " && " SAVE_BY_RENAME},
    {"Attr_Get", 0x100, "", "stat {F}/f", "",
     // Not cp: it asks for the source's attributes by path before opening it.
     "cat {F}/f >/dev/null && head -c 1 {F}/f >/dev/null && python3 -c \"open('{F}/f').read()\" "
     "&& ls {F} >/dev/null && ls -d {F} >/dev/null && cd {F} && " APPEND},
    {"Attr_Get-xattr", 0x100, "", "python3 -c \"import os; os.listxattr('{F}/f')\"", "",
     "cat {F}/f >/dev/null"},
    {"Time_Get_A", 0x8, "", "t=$(stat -c %X {F}/f) && [ \"$t\" != 0 ] || { echo hidden; exit 1; }",
     "hidden", READS " && " LIST " && " APPEND},
    {"Time_Get_M", 0x10000, "",
     "t=$(stat -c %Y {F}/f) && [ \"$t\" != 0 ] || { echo hidden; exit 1; }", "hidden",
     READS " && " LIST " && " APPEND},
    {"Time_Get_M-kept-from-lookup", 0x10000, "",
     "t=$(stat --cached=always -c %Y {F}/f) && [ \"$t\" != 0 ] || { echo hidden; exit 1; }",
     "hidden", READS},
    {"Time_Get_C", 0x8000, "", "t=$(stat -c %Z {F}/f) && [ \"$t\" != 0 ]", "nothing",
     READS " && " LIST " && " STAT},
    {"Attr_Set-chmod", 0x100000, "chown {U} {F}/f", "chmod 600 {F}/f", "",
     READS " && " LIST " && " APPEND " && touch -m -d 2001-01-01 {F}/f"},
    {"Attr_Set-xattr", 0x100000, "chown {U} {F}/f",
     "python3 -c \"import os; os.setxattr('{F}/f', 'user.k', b'v')\"", "", LIST},
    {"Time_Set_A", 0x20000, "chown {U} {F}/f", "touch -a -d 2001-01-01 {F}/f", "",
     READS " && " LIST " && " APPEND " && chmod 644 {F}/f && touch -m -d 2001-01-01 {F}/f"},
    {"Time_Set_M", 0x80000, "chown {U} {F}/f", "touch -m -d 2001-01-01 {F}/f", "",
     READS " && " LIST " && chmod 644 {F}/f && touch -a -d 2001-01-01 {F}/f"},
    {"Time_Set_C", 0x40000, "chown {U} {F}/f",
     "chmod 640 {F}/f && touch {F}/f && python3 -c \"import os; os.setxattr('{F}/f', 'user.k', "
     "b'v')\"",
     "nothing", READS " && " LIST},
    {"Hide-stat", 0x200, "", "stat {F}/f", "absent", "ls {F} >/dev/null && ls -d {F} && cd {F}"},
    {"Hide-open", 0x200, "", "cat {F}/f", "absent", "ls {F} >/dev/null && cd {F}"},
    {"Hide-subfolder", 0x200, "", "ls {F}/sub", "absent", "ls {F} >/dev/null && cd {F}"},
    {"Hide-listing", 0x200, "", "ls {F} | grep -qx f || { echo not listed; exit 1; }", "not listed",
     "ls {F} >/dev/null && cd {F}"},
    {"Full-read", 0x400, "", "cat {F}/f", "", nullptr},
    {"Full-stat", 0x400, "", "stat {F}/f", "", nullptr},
    {"Full-delete", 0x400, "touch {F}/f; chmod 666 {F}/f", "rm {F}/f", "", nullptr},
    {"Full-list-folder", 0x400, "", "ls {F}", "", nullptr},
    {"Attr_Set-folder-itself", 0x100000, "chown {U} {F}", "chmod 750 {F}", "", READS " && " LIST},
};

#undef READS
#undef LIST
#undef STAT
#undef APPEND
#undef MV_WITHIN
#undef NEW_FILE
#undef NEW_FOLDER
#undef SAVE_IN_PLACE
#undef SAVE_BY_RENAME

std::string Fill(std::string text, const std::string& folder, uid_t uid, const std::string& out) {
    for (std::size_t at; (at = text.find("{F}")) != std::string::npos;)
        text.replace(at, 3, folder);
    for (std::size_t at; (at = text.find("{T}")) != std::string::npos;)
        text.replace(at, 3, out);
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
    if (refusal == "nothing")
        return outcome.exit == 0;
    return outcome.exit != 0 && outcome.output.find(refusal) != std::string::npos;
}

using OperationBits = ProtectionTest;

TEST_F(OperationBits, EachBitRefusesItsOperationsForTheProtectedUidOnlyAndLeavesTheRestAlone) {
    const std::string out = Work("out");
    MakeFolder(out, {});
    std::vector<driver::Entry> entries;
    for (const BitCase& c : kCases) {
        const std::string folder = Work(c.name);
        MakeFolder(folder, {"f"});
        MakeFolder(folder + "/sub", {"inner"});
        entries.push_back(Rule(c.mask, folder + "/*"));
    }
    Load(kUser, entries);
    EXPECT_EQ(MountsUnder(work_).size(), std::size(kCases)) << "one mount per protected folder";

    auto run = [&](const BitCase& c, uid_t uid, const char* command) {
        const std::string folder = Work(c.name);
        const Outcome setup = RunAs(0, Fill(c.setup, folder, uid, out));
        EXPECT_EQ(setup.exit, 0) << c.name << " setup: " << setup.output;
        return RunAs(uid, Fill(command, folder, uid, out));
    };
    for (const BitCase& c : kCases) {
        const Outcome mine = run(c, kUser, c.command);
        EXPECT_TRUE(Refused(mine, c))
            << c.name << " by the protected uid: exit " << mine.exit << ", " << mine.output;
        if (c.allowed) {
            const Outcome everyday = run(c, kUser, c.allowed);
            EXPECT_EQ(everyday.exit, 0)
                << c.name << ": everyday operations of the protected uid: " << everyday.output;
        }
        const Outcome other = run(c, kOther, c.command);
        EXPECT_EQ(other.exit, 0) << c.name << " by another uid: " << other.output;
    }
    ASSERT_TRUE(Send(kUser, driver::code::kDeactivate));
    EXPECT_TRUE(MountsUnder(work_).empty()) << "no active table needs a mount";
    for (const BitCase& c : kCases) {
        const Outcome after = run(c, kUser, c.command);
        EXPECT_EQ(after.exit, 0) << c.name << " after the stop: " << after.output;
    }
}

}  // namespace
}  // namespace kv::protection_test
