#pragma once

#include <functional>
#include <string>
#include <vector>

namespace kv {

/// A node of the folder tree as the logic sees it: an opaque handle that the
/// view hands out and takes back. Empty means "no node".
class NodeRef {
public:
    NodeRef() = default;
    explicit NodeRef(const void* node) : node_(node) {}
    explicit operator bool() const { return node_ != nullptr; }
    bool operator==(const NodeRef&) const = default;
    const void* Get() const { return node_; }

private:
    const void* node_ = nullptr;
};

/// View styles of the file list.
enum class ViewStyle { Icons, SmallIcons, List, Report };

/// The folder tree `DriveView1`: what the protection logic needs of it.
class IFolderTree {
public:
    virtual ~IFolderTree() = default;

    virtual bool HasFocus() const = 0;
    virtual NodeRef Selected() const = 0;
    /// The drive roots, in order.
    virtual std::vector<NodeRef> TopLevelNodes() const = 0;
    /// Item path of the folder the node stands for.
    virtual std::string NodePath(NodeRef node) const = 0;
    /// 0 for a drive root, one more per folder below.
    virtual int Level(NodeRef node) const = 0;
    /// Empty for a drive root.
    virtual NodeRef Parent(NodeRef node) const = 0;
    /// Number of loaded children.
    virtual int ChildCount(NodeRef node) const = 0;
    /// Loaded child at a position, empty when there is none.
    virtual NodeRef Child(NodeRef node, int position) const = 0;
    /// Position among its siblings.
    virtual int Position(NodeRef node) const = 0;
    /// Whether the folder has (or, before loading, may have) subfolders.
    virtual bool HasChildren(NodeRef node) const = 0;
    /// Expands the node and collapses its children; expanding a collapsed node
    /// raises the expanded event.
    virtual void ExpandToOwnLevel(NodeRef node) = 0;
    virtual int Marker(NodeRef node) const = 0;
    virtual void SetMarker(NodeRef node, int marker) = 0;
    /// Why the protection the node's marker shows is not (or only partly)
    /// enforced; empty when it is (the marker is then drawn as usual).
    virtual std::string CoverageNote(NodeRef) const { return {}; }
    virtual void SetCoverageNote(NodeRef, const std::string&) {}
    /// The node-expanded event.
    virtual void SetExpandedHandler(std::function<void(NodeRef)> handler) = 0;

    std::vector<NodeRef> LoadedChildren(NodeRef node) const {
        std::vector<NodeRef> children;
        const int count = ChildCount(node);
        children.reserve(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i)
            children.push_back(Child(node, i));
        return children;
    }
};

/// The file list `DirView1` of the folder selected in the tree. Entries are
/// named by their position in the list.
class IFileList {
public:
    virtual ~IFileList() = default;

    virtual bool HasFocus() const = 0;
    /// Positions of the selected entries in list order.
    virtual std::vector<int> SelectedPositions() const = 0;
    /// The bare file or folder name of an entry.
    virtual std::string Caption(int position) const = 0;
    virtual int Marker(int position) const = 0;
    virtual void SetMarker(int position, int marker) = 0;
    /// As IFolderTree::SetCoverageNote, for an entry.
    virtual void SetCoverageNote(int, const std::string&) {}
    virtual int Count() const = 0;
    /// Item path of the folder whose content the list shows.
    virtual std::string CurrentFolder() const = 0;
    virtual ViewStyle Style() const = 0;
    virtual void SetStyle(ViewStyle style) = 0;
    /// The event raised after the list has been filled or refilled.
    virtual void SetFilledHandler(std::function<void()> handler) = 0;
};

/// Offset of the first subfolder entry in the list below a tree node: 1 when a
/// parent entry comes first (any folder but a drive root), else 0.
inline int ListOffset(const IFolderTree& tree, NodeRef node) {
    return tree.Level(node) > 0 ? 1 : 0;
}

}  // namespace kv
