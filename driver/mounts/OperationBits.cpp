#include "driver/mounts/OperationBits.h"

#include <fcntl.h>
#include <unistd.h>

#ifndef FUSE_USE_VERSION
#define FUSE_USE_VERSION 312
#endif
#include <fuse_lowlevel.h>

namespace kv::driver::mounts::bits {

std::uint32_t Lookup() {
    return 0;
}

std::uint32_t GetAttr(bool opened) {
    return opened ? 0 : op::kAttrGet;
}

std::uint32_t Open(int flags) {
    std::uint32_t bits = op::kOpen;
    const int access = flags & O_ACCMODE;
    if (access == O_RDONLY || access == O_RDWR)
        bits |= op::kRead;
    if (access == O_WRONLY || access == O_RDWR || (flags & O_TRUNC))
        bits |= op::kWrite | op::kReplace;
    return bits;
}

std::uint32_t Create(int flags) {
    // A new file has no content to keep: Replace is not asked.
    return (Open(flags) & ~op::kReplace) | op::kCr;
}

std::uint32_t OpenDirectory() {
    return 0;
}

std::uint32_t SetAttr(int toSet) {
    std::uint32_t bits = 0;
    if (toSet & (FUSE_SET_ATTR_MODE | FUSE_SET_ATTR_UID | FUSE_SET_ATTR_GID))
        bits |= op::kAttrSet;
    if (toSet & (FUSE_SET_ATTR_ATIME | FUSE_SET_ATTR_ATIME_NOW))
        bits |= op::kTimeSetA;
    if (toSet & (FUSE_SET_ATTR_MTIME | FUSE_SET_ATTR_MTIME_NOW))
        bits |= op::kTimeSetM;
    if (toSet & FUSE_SET_ATTR_SIZE)
        bits |= op::kWrite | op::kReplace;
    return bits;
}

std::uint32_t Fallocate() {
    return op::kWrite | op::kReplace;
}

std::uint32_t SetXattr() {
    return op::kAttrSet;
}

std::uint32_t GetXattr() {
    return op::kAttrGet;
}

std::uint32_t Access(int mask) {
    std::uint32_t bits = 0;
    if (mask & R_OK)
        bits |= op::kRead;
    if (mask & W_OK)
        bits |= op::kWrite;
    return bits;
}

std::uint32_t Remove(bool folder) {
    return folder ? op::kDirDelete : op::kDeleteF;
}

std::uint32_t RenameSource() {
    return op::kRename;
}

std::uint32_t RenameTarget(bool sameFolder, bool targetExists, bool targetFolder, bool exchange) {
    std::uint32_t bits = sameFolder ? 0 : op::kCr;
    if (targetExists) {
        bits |= op::kReplace | (targetFolder ? op::kDirDelete : op::kDeleteF);
        if (exchange)
            bits = (bits & ~(op::kDirDelete | op::kDeleteF)) | op::kRename;
    }
    return bits;
}

std::uint32_t Make(bool folder) {
    return folder ? op::kDirCreate : op::kCr;
}

std::uint32_t LinkSource() {
    return op::kRename;
}

std::uint32_t LinkTarget() {
    return op::kCr;
}

}  // namespace kv::driver::mounts::bits
