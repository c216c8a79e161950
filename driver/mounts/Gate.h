#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "driver/Policy.h"

namespace kv::driver::mounts {

/// Operation bits, by the names of their check boxes.
namespace op {
inline constexpr std::uint32_t kOpen = 0x4;
inline constexpr std::uint32_t kTimeGetA = 0x8;
inline constexpr std::uint32_t kRename = 0x10;
inline constexpr std::uint32_t kDeleteF = 0x20;
inline constexpr std::uint32_t kRead = 0x40;
inline constexpr std::uint32_t kWrite = 0x80;
inline constexpr std::uint32_t kAttrGet = 0x100;
inline constexpr std::uint32_t kList = 0x200;
inline constexpr std::uint32_t kFull = 0x400;
inline constexpr std::uint32_t kCr = 0x800;
inline constexpr std::uint32_t kReplace = 0x1000;
inline constexpr std::uint32_t kDirDelete = 0x2000;
inline constexpr std::uint32_t kDirCreate = 0x4000;
inline constexpr std::uint32_t kTimeGetC = 0x8000;
inline constexpr std::uint32_t kTimeGetM = 0x10000;
inline constexpr std::uint32_t kTimeSetA = 0x20000;
inline constexpr std::uint32_t kTimeSetC = 0x40000;
inline constexpr std::uint32_t kTimeSetM = 0x80000;
inline constexpr std::uint32_t kAttrSet = 0x100000;
}  // namespace op

/// The decisions of one request, for one caller: the caller's rules from one
/// policy snapshot, and the caller's process name, read once when first needed.
class Gate {
public:
    Gate(const Policy& policy, uid_t uid, pid_t pid);

    /// Whether the caller's table is active at all.
    bool Protected() const { return rules_ != nullptr; }
    /// 0 when every operation of `bits` on `path` is allowed, ENOENT when the
    /// item is hidden from the caller, EACCES when an entry refuses (recorded
    /// in the policy's denial log).
    /// `folder`: the item is an existing folder.
    int Check(std::uint32_t bits, std::string_view path, bool folder = false);
    /// 0, or EACCES (recorded as a refusal of `bits`) when moving or removing
    /// `folder` would carry an item that the caller's entries protect out of
    /// their reach. Callers without rules are never refused.
    int CheckHolds(std::uint32_t bits, std::string_view folder);
    /// Whether the item is left out of the caller's listings.
    bool Hidden(std::string_view path, bool folder = false);
    /// Zeroes the times of `st` that Retrieve last access time and Retrieve
    /// modification time refuse on `path`. (Retrieve creation time has
    /// nothing to hide: a protection mount shows no birth time.)
    void HideTimes(std::string_view path, struct stat* st);

private:
    Decision Decide(std::uint32_t bits, std::string_view path, bool folder = false);
    const std::string& Process();
    int Refuse(std::uint32_t bits, std::string_view path, std::uint32_t entry);
    /// The process name decisions use: empty when none depends on it.
    std::string_view DecidingProcess();

    const Policy& policy_;
    const UserRules* rules_;
    uid_t uid_;
    pid_t pid_;
    std::optional<std::string> process_;
    ProgramId program_;
};

}  // namespace kv::driver::mounts
