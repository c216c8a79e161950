#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "principals/PrincipalSelection.h"
#include "rules/BrowsingViews.h"
#include "rules/PathStyle.h"
#include "rules/ProtectionOptions.h"

namespace kv::test {

/// An in-memory folder tree: nodes are added by the test, expansion only
/// raises the event (children are "loaded" when added).
class FakeTree : public IFolderTree {
public:
    struct Node {
        std::string path;
        std::string name;
        int level = 0;
        Node* parent = nullptr;
        std::vector<std::unique_ptr<Node>> children;
        int marker = -1;
        std::string note;
        bool expanded = false;
    };

    FakeTree(const PathStyle& style, const std::string& rootPath) : style_(style) {
        auto root = std::make_unique<Node>();
        root->path = rootPath;
        root->name = rootPath;
        roots_.push_back(std::move(root));
    }

    Node* Root() const { return roots_.front().get(); }
    Node* Add(Node* parent, const std::string& name) {
        auto node = std::make_unique<Node>();
        node->path = style_.Join(parent->path, name);
        node->name = name;
        node->level = parent->level + 1;
        node->parent = parent;
        parent->children.push_back(std::move(node));
        return parent->children.back().get();
    }
    /// Adds the folders of a path below the root, as far as they are missing.
    Node* AddPath(const std::string& relative) {
        Node* node = Root();
        std::size_t start = 0;
        while (start <= relative.size()) {
            std::size_t end = relative.find(style_.Separator(), start);
            if (end == std::string::npos)
                end = relative.size();
            const std::string name = relative.substr(start, end - start);
            Node* next = nullptr;
            for (auto& c : node->children)
                if (c->name == name)
                    next = c.get();
            node = next ? next : Add(node, name);
            start = end + 1;
        }
        return node;
    }
    Node* Find(const std::string& path) { return Find(Root(), path); }

    static NodeRef Ref(const Node* n) { return NodeRef(n); }
    static Node* N(NodeRef r) { return static_cast<Node*>(const_cast<void*>(r.Get())); }

    bool focus = false;
    Node* selected = nullptr;
    int expandedEvents = 0;

    bool HasFocus() const override { return focus; }
    NodeRef Selected() const override { return Ref(selected); }
    std::vector<NodeRef> TopLevelNodes() const override {
        std::vector<NodeRef> nodes;
        for (auto& r : roots_)
            nodes.push_back(Ref(r.get()));
        return nodes;
    }
    std::string NodePath(NodeRef node) const override { return N(node)->path; }
    int Level(NodeRef node) const override { return N(node)->level; }
    NodeRef Parent(NodeRef node) const override { return Ref(N(node)->parent); }
    int ChildCount(NodeRef node) const override {
        return static_cast<int>(N(node)->children.size());
    }
    NodeRef Child(NodeRef node, int position) const override {
        auto& c = N(node)->children;
        if (position < 0 || position >= static_cast<int>(c.size()))
            return {};
        return Ref(c[static_cast<std::size_t>(position)].get());
    }
    int Position(NodeRef node) const override {
        Node* n = N(node);
        if (!n->parent)
            return 0;
        for (std::size_t i = 0; i < n->parent->children.size(); ++i)
            if (n->parent->children[i].get() == n)
                return static_cast<int>(i);
        return -1;
    }
    bool HasChildren(NodeRef node) const override { return !N(node)->children.empty(); }
    void ExpandToOwnLevel(NodeRef node) override {
        for (auto& c : N(node)->children)
            c->expanded = false;
        if (!N(node)->expanded) {
            N(node)->expanded = true;
            ++expandedEvents;
            if (handler_)
                handler_(node);
        }
    }
    int Marker(NodeRef node) const override { return N(node)->marker; }
    void SetMarker(NodeRef node, int marker) override { N(node)->marker = marker; }
    std::string CoverageNote(NodeRef node) const override { return N(node)->note; }
    void SetCoverageNote(NodeRef node, const std::string& note) override { N(node)->note = note; }
    void SetExpandedHandler(std::function<void(NodeRef)> handler) override {
        handler_ = std::move(handler);
    }

private:
    static Node* Find(Node* node, const std::string& path) {
        if (node->path == path)
            return node;
        for (auto& c : node->children)
            if (Node* found = Find(c.get(), path))
                return found;
        return nullptr;
    }

    const PathStyle& style_;
    std::vector<std::unique_ptr<Node>> roots_;
    std::function<void(NodeRef)> handler_;
};

/// An in-memory file list laid out like the real one: parent entry below any
/// folder but a root, the tree's subfolders, then the given files.
class FakeList : public IFileList {
public:
    struct Entry {
        std::string caption;
        int marker = -1;
        std::string note;
    };

    explicit FakeList(FakeTree& tree) : tree_(tree) {}

    /// Shows the folder selected in the tree with these files and raises the
    /// filled event.
    void Fill(const std::vector<std::string>& files) {
        entries.clear();
        FakeTree::Node* folder = tree_.selected;
        folder_ = folder->path;
        if (folder->level > 0)
            entries.push_back({"..", -1, {}});
        for (auto& c : folder->children)
            entries.push_back({c->name, -1, {}});
        for (const std::string& f : files)
            entries.push_back({f, -1, {}});
        selected.clear();
        if (handler_)
            handler_();
    }
    int PositionOf(const std::string& caption) const {
        for (std::size_t i = 0; i < entries.size(); ++i)
            if (entries[i].caption == caption)
                return static_cast<int>(i);
        return -1;
    }
    void Select(std::initializer_list<std::string> captions) {
        selected.clear();
        for (const std::string& c : captions)
            selected.push_back(PositionOf(c));
    }

    bool focus = false;
    std::vector<Entry> entries;
    std::vector<int> selected;
    ViewStyle style = ViewStyle::List;

    bool HasFocus() const override { return focus; }
    std::vector<int> SelectedPositions() const override { return selected; }
    std::string Caption(int position) const override {
        return entries[static_cast<std::size_t>(position)].caption;
    }
    int Marker(int position) const override {
        return entries[static_cast<std::size_t>(position)].marker;
    }
    void SetMarker(int position, int marker) override {
        entries[static_cast<std::size_t>(position)].marker = marker;
    }
    void SetCoverageNote(int position, const std::string& note) override {
        entries[static_cast<std::size_t>(position)].note = note;
    }
    int Count() const override { return static_cast<int>(entries.size()); }
    std::string CurrentFolder() const override { return folder_; }
    ViewStyle Style() const override { return style; }
    void SetStyle(ViewStyle s) override { style = s; }
    void SetFilledHandler(std::function<void()> handler) override { handler_ = std::move(handler); }

private:
    FakeTree& tree_;
    std::string folder_;
    std::function<void()> handler_;
};

class FakePrincipals : public IPrincipalSelection {
public:
    std::optional<SelectedPrincipal> selected;
    std::optional<SelectedPrincipal> Selected() const override { return selected; }
    void User(const std::string& name) { selected = SelectedPrincipal{name, PrincipalKind::User}; }
    void Group(const std::string& name) {
        selected = SelectedPrincipal{name, PrincipalKind::Group};
    }
};

/// Answers the options dialog from a script and records every state shown.
class ScriptedOptionsDialog : public IOptionsDialogRunner {
public:
    using Answer = std::function<bool(const OptionsDialogState&, OptionsFields*)>;

    void Queue(Answer answer) { answers_.push_back(std::move(answer)); }
    void QueueOk() {
        Queue([](const OptionsDialogState&, OptionsFields*) { return true; });
    }
    void QueueCancel() {
        Queue([](const OptionsDialogState&, OptionsFields*) { return false; });
    }

    bool Run(const OptionsDialogState& state, OptionsFields* result) override {
        shown.push_back(state);
        if (answers_.empty())
            return false;
        Answer answer = std::move(answers_.front());
        answers_.pop_front();
        return answer(state, result);
    }

    std::vector<OptionsDialogState> shown;

private:
    std::deque<Answer> answers_;
};

}  // namespace kv::test
