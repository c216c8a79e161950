#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "principals/PrincipalSelection.h"

namespace kv {

/// The principals shown in the tree `UserGroups`: groups at the top level
/// before all users, users either at the top level or inside one group.
/// A plain model; the window's tree widget mirrors it.
class TPrincipalTree : public IPrincipalSelection {
public:
    struct Node {
        std::string text;
        PrincipalKind kind = PrincipalKind::User;
        Node* parent = nullptr;
        std::vector<std::unique_ptr<Node>> children;
    };

    /// Adds a listener called after nodes were added, moved or deleted.
    void OnStructureChanged(std::function<void()> callback) {
        structureChanged_.push_back(std::move(callback));
    }
    /// Adds a listener called after the selection changed.
    void OnSelectionChanged(std::function<void()> callback) {
        selectionChanged_.push_back(std::move(callback));
    }

    void Clear();
    Node* AppendTop(const std::string& text, PrincipalKind kind);
    Node* InsertFirstTop(const std::string& text, PrincipalKind kind);
    Node* AppendChild(Node* parent, const std::string& text, PrincipalKind kind);
    /// Deletes a node with its children; a deleted selected node leaves no selection.
    void Delete(Node* node);

    const std::vector<std::unique_ptr<Node>>& TopLevel() const { return top_; }
    /// Every node in display order: a group, its children, then the next top-level node.
    std::vector<Node*> DisplayOrder() const;
    /// The first node in display order whose text equals `name` exactly.
    Node* FindNodeByText(const std::string& name) const;
    /// The first group node whose text equals `name` exactly.
    Node* FindGroupByText(const std::string& name) const;
    int CountGroups() const;
    /// 1-based position among the top-level nodes; 0 for a child node.
    int TopLevelPosition(const Node* node) const;

    Node* SelectedNode() const { return selected_; }
    void Select(Node* node);
    std::optional<SelectedPrincipal> Selected() const override;

    /// Groups structural edits so the view is rebuilt once (suspended redrawing).
    class Batch {
    public:
        explicit Batch(TPrincipalTree& tree) : tree_(tree) { ++tree_.batchDepth_; }
        ~Batch();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        TPrincipalTree& tree_;
    };

private:
    void Changed();
    void NotifySelection();
    std::vector<std::unique_ptr<Node>>& SiblingsOf(Node* node);

    std::vector<std::unique_ptr<Node>> top_;
    Node* selected_ = nullptr;
    int batchDepth_ = 0;
    bool pendingChange_ = false;
    std::vector<std::function<void()>> structureChanged_;
    std::vector<std::function<void()>> selectionChanged_;
};

}  // namespace kv
