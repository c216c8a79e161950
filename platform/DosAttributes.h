#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kv::platform {

/// The DOS attributes of a file in the machine folder (read-only, hidden,
/// system, archive as on the Windows system). They are kept in the extended
/// attribute `user.DOSATTRIB` as the text "0x<hex>"; where the file system
/// has no user extended attributes, in a sidecar file beside the file
/// (SidecarPath). No attribute stored means 0 (normal).
inline constexpr std::uint32_t kDosReadOnly = 0x01;
inline constexpr std::uint32_t kDosHidden = 0x02;
inline constexpr std::uint32_t kDosSystem = 0x04;
inline constexpr std::uint32_t kDosArchive = 0x20;

inline constexpr char kDosAttribName[] = "user.DOSATTRIB";

/// Where the attributes live: Auto tries the extended attribute first and
/// falls back to the sidecar only when the file system does not support it;
/// SidecarOnly never touches extended attributes (as on such a file system).
enum class DosAttributeStore { Auto, SidecarOnly };

/// The sidecar of `path`: ".<name>.DOSATTRIB" in the same folder.
std::string DosAttributeSidecarPath(const std::string& path);

/// The attributes of the file at `path`; nothing when it does not exist (or
/// is not a regular file). Unreadable or malformed stored text counts as 0.
std::optional<std::uint32_t> GetDosAttributes(const std::string& path,
                                              DosAttributeStore store = DosAttributeStore::Auto);

/// Stores `attributes` for the existing file at `path`; 0 removes what is
/// stored, so the file looks as it did before it had any. False (with `error`
/// filled when given) when the file does not exist or nothing could be stored.
[[nodiscard]] bool SetDosAttributes(const std::string& path, std::uint32_t attributes,
                                    DosAttributeStore store = DosAttributeStore::Auto,
                                    std::string* error = nullptr);

/// Parses the stored text: "0x" and hex digits, optionally followed by a NUL
/// and further bytes (the form other programs write); else nothing.
std::optional<std::uint32_t> ParseDosAttributeText(const std::string& text);
/// The stored text of `attributes`, e.g. "0x7".
std::string FormatDosAttributeText(std::uint32_t attributes);

}  // namespace kv::platform
