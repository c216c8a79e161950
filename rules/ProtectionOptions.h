#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "rules/RulesContext.h"

namespace kv {

class TModifiedFlag;

/// The values the options dialog shows and collects.
struct OptionsFields {
    std::string proc = "*";      ///< Proc: processes the rule applies to
    std::string exProc;          ///< ExProc: processes exempt from it
    std::string exFiles;         ///< ExFiles: entries exempt from it
    std::string incFiles = "*";  ///< IncFiles: entries it covers
    bool subFolders = true;      ///< SubFolders: it covers subfolders
    std::uint32_t mask = 0;      ///< the checked boxes of the operation mask
    bool setDefault = false;     ///< SetDefault: also make these the Custom defaults
};

/// Which controls a fixed kind leaves editable (SetDefault always is).
struct FixedOptionsLock {
    bool maskBoxes = true;     ///< the nineteen operation boxes
    bool subFolders = true;    ///< Include Subfolders
    bool filePatterns = true;  ///< IncFiles, ExFiles and their captions CoolLabel3, CoolLabel4
};

/// Everything the dialog shows for one use.
struct OptionsDialogState {
    int mode = kDefaultMode;
    std::string itemPath;  ///< modes 4 and 7
    std::string caption;
    std::string helpTopic;
    bool setDefaultVisible = false;
    FixedOptionsLock lock;
    OptionsFields fields;

    static constexpr int kDefaultMode = 3;
};

/// Runs the options dialog modally: shows `state`, and on OK fills `result`
/// and returns true. The program runs the form; tests script the answer.
class IOptionsDialogRunner {
public:
    virtual ~IOptionsDialogRunner() = default;
    virtual bool Run(const OptionsDialogState& state, OptionsFields* result) = 0;
};

/// Mode-dependent texts of the dialog.
std::string OptionsCaption(int mode, const std::string& itemPath);
std::string OptionsHelpTopic(int mode);
/// "Topic200": the topic of the caption labels.
inline constexpr const char* kPatternsHelpTopic = "Topic200";
inline constexpr const char* kInitialOptionsCaption = "Protection Settings";

/// What a fixed kind does not use: everything but Include Subfolders in mode 1;
/// in mode 2 also the file patterns and Include Subfolders.
FixedOptionsLock LockFixedOptions(int mode);

/// The options dialog's choice of mode and item, loading and storing.
class TProtectionOptions {
public:
    TProtectionOptions(RulesContext context, TModifiedFlag& modified, IOptionsDialogRunner& runner)
        : ctx_(context), modified_(modified), runner_(runner) {}

    /// Picks the mode and item from the action's tag and the focused
    /// selection, runs the dialog and stores its result; true on OK.
    bool EditProtectionOptions(int tag);
    /// The dialog's content for a mode (`path` is the item path in modes 4 and 7).
    OptionsDialogState LoadOptions(const std::string& path, int mode) const;
    /// Stores what the dialog collected and raises the modified flag.
    void StoreOptions(const OptionsDialogState& shown, const OptionsFields& result);

    /// The mode and item path EditProtectionOptions would use for a tag.
    struct Choice {
        int mode;
        std::string path;
    };
    Choice ChooseMode(int tag) const;

private:
    RulesContext ctx_;
    TModifiedFlag& modified_;
    IOptionsDialogRunner& runner_;
};

}  // namespace kv
