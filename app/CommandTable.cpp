#include "app/CommandTable.h"

#include "ui/ImageList1.h"

namespace kv {

using namespace ui;

const std::vector<CommandInfo>& CommandTable() {
    static const std::vector<CommandInfo> table = {
        {"cmdSave", "File", "Save", "Save Settings|Save all Protection settings", 0, kImgSave},
        {"cmdMinimize", "File", "Minimize", "Minimize to the Tray Bar", 0, kImgMinimize},
        {"cmdNewGroup", "Edit", "New Users Group",
         "New Users Group|Add New Users Group to the list", 0, kImgNewGroup},
        {"cmdDelGroup", "Edit", "Delete Group",
         "Remove Users Group|Remove Users Group from the list", 0, kImgDeleteGroup},
        {"cmdMoveUser", "Edit", "Add User to a Group", "Move User to Group|Move User to Group", 0,
         kImgMoveUser},
        {"cmdRemUser", "Edit", "Remove User from a Group",
         "Remove User from Group|Remove User from Group", 0, kImgRemoveUser},
        {"cmdicon", "View", "Icon view", "Icon view", 0, kImgIconView},
        {"cmdSmIcon", "View", "Small Icon view", "Small Icon view", 0, kImgSmallIconView},
        {"cmdList", "View", "List view", "List view", 0, kImgListView},
        {"cmdReport", "View", "Report view", "Report view", 0, kImgReportView},
        {"cmdRefresh", "View", "Refresh",
         "Refresh File System|Use it to update File System after you have changed any protection "
         "settings",
         0, kImgRefresh},
        {"cmdReadOnly", "Actions", "ReadOnly Protection",
         "ReadOnly Protection|Set ReadOnly Protection for the folder", 1, kImgReadOnly},
        {"cmdUnaccessable", "Actions", "Full Protection",
         "Full Protection|Set Full Protection for the folder", 2, kImgFull},
        {"cmdCustom", "Actions", "Custom Protection",
         "Custom Protection|Set Custom Protection for the folder", 3, kImgCustom},
        {"cmdReset", "Actions", "Reset Protection",
         "Reset any Protection|Reset any Protection for the folder", -1, kImgReset},
        {"cmdAutorun", "Actions", "Start Protection",
         "Start File System Protection|Start File System Protection for all users and users "
         "groups ",
         0, kImgStart},
        {"cmdStart", "Actions", "Test Protection",
         "Test File System Protection|Test File System Protection for the selected user or users "
         "group ",
         0, kImgTest},
        {"cmdStop", "Actions", "Stop Protection",
         "Stop File System Protection|Stop File System Protection for the current session", 0,
         kImgStop},
        {"cmdROpt", "Options", "ReadOnly Protection Options",
         "Set ReadOnly Protection Options|Set Default ReadOnly Protection Options", 1,
         kImgReadOnlyOptions},
        {"cmdFullOpt", "Options", "Full Protection Options",
         "Set Full Protection Options|Set Default Full Protection Options", 2, kImgFullOptions},
        {"cmdCustomOpt", "Options", "Custom Protection Options",
         "Set Custom Protection Options|Set Default Custom Protection Options or Custom "
         "Protection settings for the selected folder",
         3, kImgCustomOptions},
        {"cmdPrOpt", "Options", "Program Options",
         "Set program options|Set program options and the password to secure an access to "
         "program settings",
         0, kImgProgramOptions},
        {"cmdPassword", "Options", "Administrator's Password",
         "Administrator's Password|Set the Administrator's Password to secure an access to File "
         "System Protection settings",
         0, kImgPassword},
    };
    return table;
}

const CommandInfo* FindCommand(const std::string& name) {
    for (const CommandInfo& command : CommandTable()) {
        if (name == command.name)
            return &command;
    }
    return nullptr;
}

std::string ShortHint(const std::string& hint) {
    return hint.substr(0, hint.find('|'));
}

std::string LongHint(const std::string& hint) {
    const std::size_t bar = hint.find('|');
    return bar == std::string::npos ? hint : hint.substr(bar + 1);
}

const std::vector<LayoutEntry>& ToolBarLayout() {
    static const std::vector<LayoutEntry> layout = {
        {"cmdNewGroup"},
        {"cmdDelGroup"},
        {"cmdMoveUser"},
        {"cmdRemUser"},
        {"-"},
        {"cmdSave"},
        {"cmdMinimize"},
        {"-"},
        {"cmdReadOnly"},
        {"cmdUnaccessable"},
        {"cmdCustom"},
        {"cmdReset"},
        {"-"},
        {"cmdROpt"},
        {"cmdFullOpt"},
        {"cmdCustomOpt"},
        {"cmdPrOpt"},
        {"-"},
        {"cmdicon", "btnIcons"},
        {"cmdSmIcon", "btnSmallIcons"},
        {"cmdList", "btnList"},
        {"cmdReport", "btnReport"},
        {"-"},
        {"-"},
        {"cmdAutorun", "ToolButton20"},
        {"cmdStart", "ToolButton18"},
        {"cmdStop", "ToolButton19"},
        {"-"},
        {"-"},
        {"cmdRefresh", "ToolButton25"},
    };
    return layout;
}

namespace {

struct Mnemonic {
    const char* name;
    const char* letterAt;  ///< the caption from the letter that takes the "&" on
};

// Chosen so that no two entries of one menu share a letter: the menu bar,
// File, Edit, View, Actions, Options, Help, the three context menus of the
// panes (with the list's View submenu) and the tray menu.
const Mnemonic kMnemonics[] = {
    {"File", "File"},
    {"Edit", "Edit"},
    {"View", "View"},
    {"Actions", "Actions"},
    {"Options", "Options"},
    {"Help", "Help"},
    {"DirListViewMenu", "View"},
    {"cmdSave", "Save"},
    {"cmdMinimize", "Minimize"},
    {"Exit1", "xit   Alt+F4"},
    {"cmdNewGroup", "New Users Group"},
    {"cmdDelGroup", "Delete Group"},
    {"cmdMoveUser", "Add User to a Group"},
    {"cmdRemUser", "Remove User from a Group"},
    {"cmdRefresh", "Refresh"},
    {"cmdicon", "Icon view"},
    {"cmdSmIcon", "Small Icon view"},
    {"cmdList", "List view"},
    {"cmdReport", "port view"},
    {"Refusals1", "usals ..."},
    {"cmdReadOnly", "ReadOnly Protection"},
    {"cmdUnaccessable", "Full Protection"},
    {"cmdCustom", "Custom Protection"},
    {"cmdReset", "eset Protection"},
    {"cmdROpt", "dOnly Protection Options"},
    {"cmdFullOpt", "ull Protection Options"},
    {"cmdCustomOpt", "tom Protection Options"},
    {"cmdPrOpt", "Program Options"},
    {"AutomaticFilesProtection1", "Automatic Files Protection"},
    {"cmdPassword", "ministrator's Password"},
    {"Help2", "Help"},
    {"KVHomePage1", "ome Page"},
    {"KVSupportPage1", "Support Page"},
    {"About1", "About ..."},
    {"cmdShowMain", "Show Protect Settings"},
    {"StartFileProtection1", "tart Files Protection"},
    {"StopFileProtection1", "p Files Protection"},
    {"Exit2", "xit"},
};

struct Shortcut {
    const char* name;
    const char* keys;
};

// The desktop's usual keys where there is one; the three protection commands,
// which only the toolbar shows, take three neighbouring function keys.
const Shortcut kShortcuts[] = {
    {"cmdSave", "Ctrl+S"}, {"cmdRefresh", "F5"}, {"Help2", "F1"},           {"cmdAutorun", "F9"},
    {"cmdStart", "F8"},    {"cmdStop", "F7"},    {"cmdMinimize", "Ctrl+M"},
};

}  // namespace

std::string MenuCaption(const std::string& name, const std::string& caption) {
    for (const Mnemonic& m : kMnemonics) {
        if (name != m.name)
            continue;
        const std::string tail = m.letterAt;
        if (caption.size() < tail.size() ||
            caption.compare(caption.size() - tail.size(), tail.size(), tail) != 0)
            break;  // a caption this table does not know keeps its text
        const std::size_t at = caption.size() - tail.size();
        return caption.substr(0, at) + "&" + tail;
    }
    return caption;
}

std::string CommandShortcut(const std::string& name) {
    for (const Shortcut& s : kShortcuts) {
        if (name == s.name)
            return s.keys;
    }
    return {};
}

}  // namespace kv
