#include "principals/GroupCommands.h"

#include <algorithm>

#include "settings/Encript.h"

namespace kv {

namespace {

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

bool IsUser(const TPrincipalTree::Node* node) {
    return node && node->kind != PrincipalKind::Group;
}

}  // namespace

TGroupCommands::TGroupCommands(TPrincipalTree& tree, TModifiedFlag& modified, IPrompts& prompts,
                               IGroupDialog& dialog)
    : tree_(tree), modified_(modified), prompts_(prompts), dialog_(dialog) {}

bool TGroupCommands::CanDeleteGroup() const {
    const auto* node = tree_.SelectedNode();
    return node && node->kind == PrincipalKind::Group;
}

bool TGroupCommands::CanRemoveUser() const {
    const auto* node = tree_.SelectedNode();
    return IsUser(node) && node->parent != nullptr;
}

bool TGroupCommands::CanMoveUser() const {
    return tree_.SelectedNode() != nullptr && tree_.CountGroups() >= 1;
}

void TGroupCommands::cmdNewGroupExecute() {
    const std::optional<std::string> name = dialog_.Run(GroupDialogRequest{});
    if (!name)
        return;
    // "=" would end the key's name early and a line break would split its line:
    // such a group could not keep its members or its protection.
    if (name->find_first_of(std::string("=\r\n\0", 4)) != std::string::npos) {
        prompts_.Message(kBadGroupName, "New User Group", Buttons::Ok, MessageIcon::None);
        return;
    }
    // A nameless group cannot be chosen or told apart; "_" would end the
    // group's part of its settings keys ("g_<group>_P_...") early.
    if (TrimSpaces(*name).empty()) {
        prompts_.Message(kEmptyGroupName, "New User Group", Buttons::Ok, MessageIcon::None);
        return;
    }
    if (name->find('_') != std::string::npos) {
        prompts_.Message(kUnderscoreGroupName, "New User Group", Buttons::Ok, MessageIcon::None);
        return;
    }
    if (tree_.FindNodeByText(*name)) {
        prompts_.Message("You may not use the exists name !", "New User Group", Buttons::Ok,
                         MessageIcon::None);
        return;
    }
    tree_.InsertFirstTop(*name, PrincipalKind::Group);
    modified_.SetTreeEdited();
}

void TGroupCommands::cmdDelGroupExecute() {
    TPrincipalTree::Node* group = tree_.SelectedNode();
    if (!group || group->kind != PrincipalKind::Group)
        return;
    if (prompts_.Message("Are you sure to delete the group " + Quoted(group->text) + " ?",
                         "Delete Users Group", Buttons::YesNo,
                         MessageIcon::Question) != Answer::Yes) {
        return;
    }
    {
        TPrincipalTree::Batch batch(tree_);
        while (!group->children.empty()) {
            TPrincipalTree::Node* child = group->children.front().get();
            tree_.AppendTop(child->text, child->kind);
            tree_.Delete(child);
        }
    }
    tree_.Delete(group);
    modified_.SetTreeEdited();
}

void TGroupCommands::cmdMoveUserExecute(const std::vector<std::string>& profiles) {
    TPrincipalTree::Node* selected = tree_.SelectedNode();
    if (!selected)
        return;
    GroupDialogRequest request;
    request.choose = true;
    const bool addCase = selected->kind == PrincipalKind::Group;
    auto isChildOfSelected = [selected](const std::string& name) {
        return std::any_of(selected->children.begin(), selected->children.end(),
                           [&name](const auto& c) { return c->text == name; });
    };
    if (addCase) {
        request.caption = "Add an user to the group " + Quoted(selected->text);
        request.label = "Select user :";
        for (const std::string& name : profiles) {
            if (!isChildOfSelected(name))
                request.items.push_back(name);
        }
        if (!isChildOfSelected(kUnknownUser))
            request.items.push_back(kUnknownUser);
    } else {
        request.caption = "Move user " + Quoted(selected->text) + " to a group";
        request.label = "Select group :";
        for (TPrincipalTree::Node* node : tree_.DisplayOrder()) {
            if (node->kind == PrincipalKind::Group && node != selected->parent) {
                request.items.push_back(node->text);
            }
        }
    }
    if (!request.items.empty())
        request.text = request.items.front();
    const std::optional<std::string> name = dialog_.Run(request);
    if (!name)
        return;
    // Only the offered entries are taken: a typed name that names some other
    // node (a group in the add case, a user in the move case) changes nothing.
    if (std::find(request.items.begin(), request.items.end(), *name) == request.items.end()) {
        prompts_.Message(Quoted(*name) + (addCase ? kNotAUserText : kNotAGroupText),
                         request.caption, Buttons::Ok, MessageIcon::Warning);
        return;
    }
    TPrincipalTree::Node* found = tree_.FindNodeByText(*name);
    if (!found)
        return;
    if (addCase) {
        if (found->kind == PrincipalKind::Group)
            return;
        const PrincipalKind kind = found->kind;
        TPrincipalTree::Batch batch(tree_);
        tree_.Delete(found);
        tree_.AppendChild(selected, *name, kind);
    } else {
        if (found->kind != PrincipalKind::Group)
            return;
        TPrincipalTree::Batch batch(tree_);
        TPrincipalTree::Node* moved = tree_.AppendChild(found, selected->text, selected->kind);
        tree_.Delete(selected);
        tree_.Select(moved);
    }
    modified_.SetTreeEdited();
}

void TGroupCommands::cmdRemUserExecute() {
    TPrincipalTree::Node* user = tree_.SelectedNode();
    if (!IsUser(user) || !user->parent)
        return;
    if (prompts_.Message("Are you sure to remove the user " + Quoted(user->text) +
                             " from the group " + Quoted(user->parent->text) + " ?",
                         "Remove User", Buttons::YesNo, MessageIcon::Question) != Answer::Yes) {
        return;
    }
    TPrincipalTree::Batch batch(tree_);
    TPrincipalTree::Node* moved = tree_.AppendTop(user->text, user->kind);
    tree_.Delete(user);
    tree_.Select(moved);
    modified_.SetTreeEdited();
}

}  // namespace kv
