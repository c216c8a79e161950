#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace kv {

class TEncriptor;
class IPrincipalSelection;

// Every protection rule is a set of plain entries in the settings store. This
// header names them all; no other file spells a key or a kind.

inline constexpr std::string_view kUserPrefix = "u_";
inline constexpr std::string_view kGroupPrefix = "g_";
/// Joins a principal prefix and an item path into a protection key.
inline constexpr std::string_view kProtectionInfix = "_P_";

/// Protection kinds: the value under a protection key and the tags of the
/// four protection actions. A file's kind is the action tag plus kFileKindOffset.
inline constexpr int kKindNone = -1;  ///< Reset tag and "no marker"; never stored
inline constexpr int kKindReadOnly = 1;
inline constexpr int kKindFull = 2;
inline constexpr int kKindCustom = 3;
inline constexpr int kModeCustomFolder = 4;  ///< options dialog mode only; never stored
inline constexpr int kKindReadOnlyFile = 5;
inline constexpr int kKindFullFile = 6;
inline constexpr int kKindCustomFile = 7;
inline constexpr int kFileKindOffset = 4;

/// The options a Custom item carries, and the kind defaults behind them.
enum class Option { Processes, ExcludeProc, IncludeFiles, ExcludeFiles, SubFolders, dwOperation };

struct OptionInfo {
    Option option;
    std::string_view suffix;          ///< after a protection key: "_Processes"
    std::string_view defaultLiteral;  ///< before a kind digit: "Processes_"
    std::string_view builtIn;         ///< value when neither is stored
};

inline constexpr std::array<OptionInfo, 6> kOptions = {{
    {Option::Processes, "_Processes", "Processes_", "*"},
    {Option::ExcludeProc, "_ExcludeProc", "ExcludeProc_", ""},
    {Option::IncludeFiles, "_IncludeFiles", "IncludeFiles_", "*"},
    {Option::ExcludeFiles, "_ExcludeFiles", "ExcludeFiles_", ""},
    {Option::SubFolders, "_SubFolders", "SubFolders_", "1"},
    {Option::dwOperation, "_dwOperation", "dwOperation_", "0"},
}};

inline constexpr bool kBuiltInSubFolders = true;
inline constexpr std::int32_t kBuiltInCustomMask = 0;

const OptionInfo& InfoOf(Option option);

/// One bit of the operation mask `dwOperation`, named by its options check box.
struct MaskBit {
    std::uint32_t value;
    std::string_view box;
    std::string_view caption;
};

inline constexpr std::array<MaskBit, 19> kMaskBits = {{
    {0x4, "Open", "Open"},
    {0x8, "Time_Get_A", "Retreive last access time"},
    {0x10, "Rename", "Rename"},
    {0x20, "DeleteF", "Delete"},
    {0x40, "Read", "Read"},
    {0x80, "Write", "Write"},
    {0x100, "Attr_Get", "Retreive attributes"},
    {0x200, "List", "Hide"},
    {0x400, "Full", "Inaccessible"},
    {0x800, "Cr", "Create"},
    {0x1000, "Replace", "Replace"},
    {0x2000, "Dir_Delete", "Delete directory"},
    {0x4000, "Dir_Create", "Create directory"},
    {0x8000, "Time_Get_C", "Retreive creation time"},
    {0x10000, "Time_Get_M", "Retreive modification  time"},
    {0x20000, "Time_Set_A", "Change last access time"},
    {0x40000, "Time_Set_C", "Change creation time"},
    {0x80000, "Time_Set_M", "Change modification time"},
    {0x100000, "Attr_Set", "Change attributes"},
}};

/// Rename, DeleteF, Cr, Replace, Dir_Delete, Dir_Create and the four change bits.
inline constexpr std::uint32_t kReadOnlyMask = 0x1E7830;
/// The Full ("Inaccessible") bit alone.
inline constexpr std::uint32_t kFullMask = 0x400;
/// Every bit the options dialog can set.
inline constexpr std::uint32_t kAllMaskBits = 0x1FFFFC;

/// Value of the named mask bit, 0 for an unknown box name.
std::uint32_t MaskBitOfBox(std::string_view box);

/// "g_" + group name or "u_" + node text of the selected principal; empty
/// when no principal is selected.
std::string PrincipalPrefix(const IPrincipalSelection& selection);

/// prefix + "_P_" + item path.
std::string ProtectionKey(std::string_view prefix, std::string_view itemPath);
/// protection key + the option's suffix.
std::string OptionKey(std::string_view protectionKey, Option option);
/// Whether the store entry `key` is an option key of a protected item
/// ("_SubFolders", "_ExcludeFiles", ...) rather than a protection key: its
/// value may read as a kind ("1" of "_SubFolders", a file named "5" in
/// "_ExcludeFiles"). An item whose name merely ends like an option is still
/// one unless its name also makes it the option of an item that has a key or
/// other options (options outlive their item's key).
bool IsOptionKey(const TEncriptor& store, std::string_view key);
/// The option's literal followed by the decimal kind: "SubFolders_3", "SubFolders_-1".
std::string KindDefaultName(Option option, int kind);

/// Deletes the six option keys of one item (exactly those names, nothing that
/// merely begins with them, so a sibling named "<item>_x" keeps its keys).
void DeleteOptionKeys(TEncriptor& store, std::string_view protectionKey);

/// Integer under `name`, `def` when absent or when the text is not an integer.
std::int32_t ReadIntegerOr(const TEncriptor& store, std::string_view name, std::int32_t def);

/// Whether protection of `kind` reaches subfolders: "SubFolders_" + kind,
/// true when absent (so always true for the Reset tag).
bool SubFoldersReach(const TEncriptor& store, int kind);

/// The integer under dwOperation_3, 0 when absent.
std::int32_t CustomDefaultMask(const TEncriptor& store);

/// Kind default of a text option, its built-in value when absent.
std::string ReadKindDefault(const TEncriptor& store, Option option, int kind);

/// The operation mask that applies to an item of `kind`; `key` is its
/// protection key and matters only for kinds 4 and 7.
std::int32_t MaskOfKind(const TEncriptor& store, int kind, std::string_view key);

/// Marker shown for a stored kind: folder kinds as they are, file kinds less 4,
/// -1 for anything else.
int MarkerOfStoredKind(int kind);

}  // namespace kv
