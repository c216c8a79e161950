#pragma once

#include <cstdint>

namespace kv::driver {

/// Control codes of the interceptor device. The first five are the requests
/// the program sends; the others are the service's own additions.
namespace code {
inline constexpr std::uint32_t kAddEntry = 0x83000004;
inline constexpr std::uint32_t kActivate = 0x8300000C;
inline constexpr std::uint32_t kDeactivate = 0x83000013;
inline constexpr std::uint32_t kClear = 0x83000044;
inline constexpr std::uint32_t kCount = 0x83000053;
/// Input: operation bit, path pointer, process pointer (12 bytes). Returned
/// value: index of the refusing entry, or kAllowed.
inline constexpr std::uint32_t kCheck = 0x83000080;
/// No input. Returned value: 1 when enforcement is active, else 0.
inline constexpr std::uint32_t kGetActive = 0x83000084;
/// Input: entry index (4 bytes). Output: dwOperation, then FileMask,
/// ExcludeFiles, Processes and ExcludeProc, each NUL-terminated. Returned
/// value: the size of that output.
inline constexpr std::uint32_t kGetEntry = 0x83000088;
/// Input: a uid (4 bytes). The later requests of this connection act on that
/// uid's table instead of the caller's own; refused unless the caller is root.
inline constexpr std::uint32_t kSelectUid = 0x8300008C;
/// No input. Output: the folders under protection mounts, each
/// NUL-terminated. Returned value: their number.
inline constexpr std::uint32_t kGetMounts = 0x83000090;
/// Input: a principal pointer (4 bytes; null for the caller's own principal).
/// The service compiles that principal's rules from the settings it keeps,
/// replaces the table with them and activates it. Returned value: the number
/// of entries. Another principal than one's own needs the administrator's
/// password from a caller other than root.
inline constexpr std::uint32_t kLoadRules = 0x83000094;
/// No input. Succeeds when the request's password is the administrator's, or
/// when no password is set; wrong tries are answered ever later.
inline constexpr std::uint32_t kCheckPassword = 0x83000098;
}  // namespace code

/// Returned value of a check whose operation is allowed.
inline constexpr std::uint32_t kAllowed = 0xFFFFFFFF;

/// Size of the entry record of an add request.
inline constexpr std::uint32_t kEntryRecordSize = 28;

}  // namespace kv::driver
