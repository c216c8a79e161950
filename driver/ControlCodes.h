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
/// No input. With a password: succeeds when it is the administrator's (returned
/// value 1) or when none is set (0); wrong tries are answered ever later.
/// Without one: succeeds (0) exactly when no password is set, and counts as
/// no try.
inline constexpr std::uint32_t kCheckPassword = 0x83000098;
/// Input: a file id and an offset (8 bytes). Output: the file's bytes from
/// that offset, at most the output size. Returned value: the file's size; on
/// failure an errno value (ENOENT: no such file; EACCES: refused).
inline constexpr std::uint32_t kReadFile = 0x8300009C;
/// Input: a file id and flags (8 bytes), then bytes to append to the file's
/// new content. kFileFirst starts a new content, kFileLast writes it in place
/// of the file (atomically), kFileRemove removes the file. Returned value on
/// failure: an errno value.
inline constexpr std::uint32_t kWriteFile = 0x830000A0;
/// Input: a sequence number (4 bytes). Output: the kept refusals after it,
/// oldest first, as many as fit: sequence, time, uid, pid, operation, entry
/// (six words), then the process and the path, each NUL-terminated. Returned
/// value: their number. A caller other than root gets only its own.
inline constexpr std::uint32_t kGetDenials = 0x830000A4;
/// No input. Returned value: the refusals of the table's uid since its
/// protection was last started.
inline constexpr std::uint32_t kGetDenialCount = 0x830000A8;
/// No input. Output: for each entry of the table, how it is enforced
/// ("mount /srv/ro", "not enforced: ..."), NUL-terminated. Returned value:
/// their number.
inline constexpr std::uint32_t kGetCoverage = 0x830000AC;
/// Input: an origin number (4 bytes): where the table's entries came from,
/// shown by kvctl status. Needs the administrator's password from a caller
/// other than root, as activating does.
inline constexpr std::uint32_t kSetOrigin = 0x830000B0;
/// No input; root only. Output: for every uid that has a table, four words:
/// uid, active (1 or 0), entry count, origin number. Returned value: their number.
inline constexpr std::uint32_t kGetTables = 0x830000B4;
/// No input. The service reloads, from the settings it keeps, the table of
/// every account the settings know and of every other login account (the
/// boot load, again). Needs the administrator's password from a caller other
/// than root. Returned value: the number of tables loaded.
inline constexpr std::uint32_t kLoadEveryAccount = 0x830000B8;
/// No input. A session of the table's uid is opening (the PAM session hook,
/// as root after selecting the uid): when the settings ask for automatic
/// protection, the account's own rules are loaded and activated. Returned
/// value: the number of entries, 0 when automatic protection is off.
inline constexpr std::uint32_t kSessionOpened = 0x830000BC;
/// Input: the pointer of a folder path. Output: how an entry naming that
/// folder is or would be enforced, in the words of kGetCoverage. Returned
/// value: the output's length.
inline constexpr std::uint32_t kGetFolderCoverage = 0x830000C0;
}  // namespace code

/// Origin numbers of kSetOrigin and kGetTables: where a table's entries came from.
namespace origin {
inline constexpr std::uint32_t kBoot = 1;
inline constexpr std::uint32_t kSession = 2;
inline constexpr std::uint32_t kStart = 3;
inline constexpr std::uint32_t kTest = 4;
inline constexpr std::uint32_t kEntries = 5;
}  // namespace origin

/// The files a program run by another user reads and writes through the
/// service: named by these ids, resolved by the service from its own
/// configuration, never from a path in the request.
namespace file {
inline constexpr std::uint32_t kSettings = 1;         ///< kv.dat
inline constexpr std::uint32_t kMachineRegistry = 2;  ///< machine/registry/HKLM.reg
inline constexpr std::uint32_t kUserRegistry = 3;     ///< the caller's own HKCU file
inline constexpr std::uint32_t kBootFile = 4;         ///< machine/drive_c/msdos.sys
inline constexpr std::uint32_t kAutostart = 5;        ///< the machine-wide autostart entry
}  // namespace file

inline constexpr std::uint32_t kFileFirst = 1;
inline constexpr std::uint32_t kFileLast = 2;
inline constexpr std::uint32_t kFileRemove = 4;

/// Returned value of a check whose operation is allowed.
inline constexpr std::uint32_t kAllowed = 0xFFFFFFFF;

/// Size of the entry record of an add request.
inline constexpr std::uint32_t kEntryRecordSize = 28;

}  // namespace kv::driver
