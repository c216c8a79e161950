#include "rules/Markers.h"

#include <array>

#include "rules/Schema.h"
#include "settings/Encript.h"

namespace kv {

struct TProtectionMarkers::Pass {
    explicit Pass(const RulesContext& ctx)
        : store(ctx.store), tree(ctx.tree), prefix(PrincipalPrefix(ctx.principals)) {}

    /// own(x): the node's stored kind, -1 without a key (or with a value that
    /// is not a kind).
    int Own(NodeRef node) const {
        const std::string key = ProtectionKey(prefix, tree.NodePath(node));
        return MarkerOfStoredKind(ReadIntegerOr(store, key, kKindNone));
    }

    bool Reaches(int marker) {
        if (marker < kKindNone || marker > kKindCustom)
            return SubFoldersReach(store, marker);
        int& cached = reach[static_cast<std::size_t>(marker + 1)];
        if (cached < 0)
            cached = SubFoldersReach(store, marker) ? 1 : 0;
        return cached == 1;
    }

    int Inherit(NodeRef node, int parentMarker) {
        const int own = Own(node);
        if (own != kKindNone)
            return own;
        return Reaches(parentMarker) ? parentMarker : kKindNone;
    }

    const TEncriptor& store;
    const IFolderTree& tree;
    std::string prefix;
    std::array<int, 5> reach{-1, -1, -1, -1, -1};  // markers -1..3
};

int TProtectionMarkers::InheritedMarker(NodeRef node, int parentMarker) const {
    Pass pass(ctx_);
    return pass.Inherit(node, parentMarker);
}

void TProtectionMarkers::UserGroupsChange() {
    Pass pass(ctx_);
    for (NodeRef drive : ctx_.tree.TopLevelNodes()) {
        ctx_.tree.SetMarker(drive, pass.Own(drive));
        DriveView1Expanded(drive);
    }
    if (ctx_.tree.Selected())
        DirView1DirUpdated();
}

void TProtectionMarkers::DriveView1Expanded(NodeRef node) {
    Pass pass(ctx_);
    IFolderTree& tree = ctx_.tree;
    const int parentMarker = tree.Marker(node);
    const int count = tree.ChildCount(node);
    for (int i = 0; i < count; ++i) {
        const NodeRef child = tree.Child(node, i);
        const int marker = pass.Inherit(child, parentMarker);
        tree.SetMarker(child, marker);
        MarkChildren(pass, child, marker);
    }
}

void TProtectionMarkers::MarkSubtree(NodeRef node, int v) {
    Pass pass(ctx_);
    MarkChildren(pass, node, v);
}

void TProtectionMarkers::MarkChildren(Pass& pass, NodeRef node, int v) {
    IFolderTree& tree = ctx_.tree;
    const int count = tree.ChildCount(node);
    for (int i = 0; i < count; ++i) {
        const NodeRef child = tree.Child(node, i);
        const int marker = pass.Inherit(child, v);
        tree.SetMarker(child, marker);
        if (tree.HasChildren(child))
            MarkChildren(pass, child, marker);
    }
}

void TProtectionMarkers::DirView1DirUpdated() {
    IFolderTree& tree = ctx_.tree;
    IFileList& list = ctx_.list;
    const NodeRef selected = tree.Selected();
    if (!selected)
        return;
    Pass pass(ctx_);
    const std::string folderKey = ProtectionKey(pass.prefix, tree.NodePath(selected));
    const int offset = ListOffset(tree, selected);

    tree.ExpandToOwnLevel(selected);
    const int children = tree.ChildCount(selected);
    const int entries = list.Count();
    for (int i = 0; i < children && i + offset < entries; ++i)
        list.SetMarker(i + offset, tree.Marker(tree.Child(selected, i)));
    for (int position = children + offset; position < entries; ++position) {
        const std::string key = ctx_.style.Join(folderKey, list.Caption(position));
        const int kind = ReadIntegerOr(ctx_.store, key, kKindNone);
        const bool fileKind = kind >= kKindReadOnlyFile && kind <= kKindCustomFile;
        list.SetMarker(position, fileKind ? kind - kFileKindOffset : kKindNone);
    }
    if (statusText_)
        statusText_(list.CurrentFolder());
}

}  // namespace kv
