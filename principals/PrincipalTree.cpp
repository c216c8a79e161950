#include "principals/PrincipalTree.h"

#include <algorithm>

namespace kv {

TPrincipalTree::Batch::~Batch() {
    if (--tree_.batchDepth_ == 0 && tree_.pendingChange_) {
        tree_.pendingChange_ = false;
        for (const auto& listener : tree_.structureChanged_)
            listener();
    }
}

void TPrincipalTree::Changed() {
    if (batchDepth_ > 0) {
        pendingChange_ = true;
        return;
    }
    for (const auto& listener : structureChanged_)
        listener();
}

void TPrincipalTree::NotifySelection() {
    for (const auto& listener : selectionChanged_)
        listener();
}

void TPrincipalTree::Clear() {
    const bool hadSelection = selected_ != nullptr;
    top_.clear();
    selected_ = nullptr;
    Changed();
    if (hadSelection)
        NotifySelection();
}

TPrincipalTree::Node* TPrincipalTree::AppendTop(const std::string& text, PrincipalKind kind) {
    top_.push_back(std::make_unique<Node>(Node{text, kind, nullptr, {}}));
    Changed();
    return top_.back().get();
}

TPrincipalTree::Node* TPrincipalTree::InsertFirstTop(const std::string& text, PrincipalKind kind) {
    top_.insert(top_.begin(), std::make_unique<Node>(Node{text, kind, nullptr, {}}));
    Changed();
    return top_.front().get();
}

TPrincipalTree::Node* TPrincipalTree::AppendChild(Node* parent, const std::string& text,
                                                  PrincipalKind kind) {
    if (!parent)
        return AppendTop(text, kind);
    parent->children.push_back(std::make_unique<Node>(Node{text, kind, parent, {}}));
    Changed();
    return parent->children.back().get();
}

std::vector<std::unique_ptr<TPrincipalTree::Node>>& TPrincipalTree::SiblingsOf(Node* node) {
    return node->parent ? node->parent->children : top_;
}

void TPrincipalTree::Delete(Node* node) {
    if (!node)
        return;
    bool selectionLost = false;
    for (const Node* n = selected_; n; n = n->parent) {
        if (n == node)
            selectionLost = true;
    }
    auto& siblings = SiblingsOf(node);
    auto it = std::find_if(siblings.begin(), siblings.end(),
                           [node](const auto& p) { return p.get() == node; });
    if (it == siblings.end())
        return;
    if (selectionLost)
        selected_ = nullptr;
    siblings.erase(it);
    Changed();
    if (selectionLost)
        NotifySelection();
}

std::vector<TPrincipalTree::Node*> TPrincipalTree::DisplayOrder() const {
    std::vector<Node*> order;
    for (const auto& top : top_) {
        order.push_back(top.get());
        for (const auto& child : top->children)
            order.push_back(child.get());
    }
    return order;
}

TPrincipalTree::Node* TPrincipalTree::FindNodeByText(const std::string& name) const {
    for (Node* node : DisplayOrder()) {
        if (node->text == name)
            return node;
    }
    return nullptr;
}

TPrincipalTree::Node* TPrincipalTree::FindGroupByText(const std::string& name) const {
    // Groups are top-level nodes only.
    for (const auto& node : top_) {
        if (node->kind == PrincipalKind::Group && node->text == name)
            return node.get();
    }
    return nullptr;
}

int TPrincipalTree::CountGroups() const {
    int count = 0;
    for (Node* node : DisplayOrder())
        count += node->kind == PrincipalKind::Group;
    return count;
}

int TPrincipalTree::TopLevelPosition(const Node* node) const {
    for (std::size_t i = 0; i < top_.size(); ++i) {
        if (top_[i].get() == node)
            return static_cast<int>(i) + 1;
    }
    return 0;
}

void TPrincipalTree::Select(Node* node) {
    if (selected_ == node)
        return;
    selected_ = node;
    NotifySelection();
}

std::optional<SelectedPrincipal> TPrincipalTree::Selected() const {
    if (!selected_)
        return std::nullopt;
    return SelectedPrincipal{selected_->text, selected_->kind};
}

}  // namespace kv
