// Which bits each request of the protection mounts asks about: the choices
// that decide what each check box refuses and what it leaves alone.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "driver/mounts/OperationBits.h"
#include "driver/mounts/ProtectionFs.h"

namespace kv::driver::mounts {
namespace {

TEST(RequestBits, ChangingAnExistingFilesContentAsksWriteAndReplace) {
    for (const int flags : {O_WRONLY, O_RDWR, O_RDONLY | O_TRUNC, O_WRONLY | O_APPEND}) {
        EXPECT_EQ(bits::Open(flags) & (op::kWrite | op::kReplace), op::kWrite | op::kReplace)
            << flags;
    }
    EXPECT_EQ(bits::Open(O_RDONLY), op::kOpen | op::kRead) << "reading changes nothing";
    EXPECT_EQ(bits::SetAttr(FUSE_SET_ATTR_SIZE), op::kWrite | op::kReplace) << "truncate";
    EXPECT_EQ(bits::Fallocate(), op::kWrite | op::kReplace);
    EXPECT_EQ(bits::Create(O_WRONLY | O_CREAT) & op::kReplace, 0u) << "a new file replaces nothing";
    EXPECT_NE(bits::Create(O_WRONLY | O_CREAT) & op::kCr, 0u);
}

TEST(RequestBits, FoldersAreListedUnderHideAloneAndFilesReadUnderOpenAndRead) {
    EXPECT_EQ(bits::OpenDirectory(), 0u);
    EXPECT_EQ(bits::Lookup(), 0u);
    EXPECT_EQ(bits::GetAttr(false), op::kAttrGet) << "stat by path";
    EXPECT_EQ(bits::GetAttr(true), 0u) << "a read or fstat of the caller's open file";
    EXPECT_EQ(bits::GetXattr(), op::kAttrGet);
}

TEST(RequestBits, RenamesCreateOnlyWhenComingFromAnotherFolder) {
    EXPECT_EQ(bits::RenameSource(), op::kRename);
    EXPECT_EQ(bits::RenameTarget(true, false, false, false), 0u) << "mv d1 d2 in one folder";
    EXPECT_EQ(bits::RenameTarget(false, false, false, false), op::kCr) << "moved in";
    EXPECT_EQ(bits::RenameTarget(true, true, false, false), op::kReplace | op::kDeleteF)
        << "renaming onto a file deletes it";
    EXPECT_EQ(bits::RenameTarget(true, true, true, false), op::kReplace | op::kDirDelete);
    EXPECT_EQ(bits::RenameTarget(false, true, false, true), op::kCr | op::kReplace | op::kRename)
        << "an exchange deletes nothing";
}

TEST(RequestBits, NoRequestAsksAboutCreationTime) {
    const int every = FUSE_SET_ATTR_MODE | FUSE_SET_ATTR_UID | FUSE_SET_ATTR_GID |
                      FUSE_SET_ATTR_SIZE | FUSE_SET_ATTR_ATIME | FUSE_SET_ATTR_MTIME |
                      FUSE_SET_ATTR_ATIME_NOW | FUSE_SET_ATTR_MTIME_NOW | FUSE_SET_ATTR_CTIME;
    EXPECT_EQ(bits::SetAttr(every) & (op::kTimeSetC | op::kTimeGetC), 0u);
    EXPECT_EQ(bits::SetXattr(), op::kAttrSet);
    EXPECT_EQ(bits::SetAttr(FUSE_SET_ATTR_MODE), op::kAttrSet) << "chmod";
    EXPECT_EQ(bits::SetAttr(FUSE_SET_ATTR_ATIME | FUSE_SET_ATTR_MTIME_NOW),
              op::kTimeSetA | op::kTimeSetM);
}

}  // namespace
}  // namespace kv::driver::mounts
