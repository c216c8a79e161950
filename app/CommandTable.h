#pragma once

#include <string>
#include <vector>

namespace kv {

/// One command of the main window: toolbar buttons and menu items bound to it
/// take its caption, hint, picture and enabled state.
struct CommandInfo {
    const char* name;
    const char* category;
    const char* caption;
    const char* hint;  ///< short text "|" long text; without "|" the text serves as both
    int tag;
    int image;
};

/// Every command of the window, in the order of the action list.
const std::vector<CommandInfo>& CommandTable();
const CommandInfo* FindCommand(const std::string& name);

/// The short part of a hint (the tool tip) and the long part (the status bar text).
std::string ShortHint(const std::string& hint);
std::string LongHint(const std::string& hint);

/// One entry of a toolbar or menu layout: a command name, a separator ("-"),
/// or a named item that is not an action.
struct LayoutEntry {
    const char* name;
    const char* control = nullptr;  ///< the control's own name, where it has one
};

/// The toolbar, left to right; "-" is a separator.
const std::vector<LayoutEntry>& ToolBarLayout();

/// The caption of a command, menu or menu item as the menus show it: the same
/// text with "&" before the letter that reaches it from the keyboard (unique
/// within every menu that holds it). The caption itself when it has none.
std::string MenuCaption(const std::string& name, const std::string& caption);

/// The keyboard shortcut of a command or menu item in the portable text form
/// of a key sequence ("Ctrl+S"); empty when it has none.
std::string CommandShortcut(const std::string& name);

}  // namespace kv
