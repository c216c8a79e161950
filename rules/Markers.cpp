#include "rules/Markers.h"

#include <array>
#include <map>

#include "rules/Schema.h"
#include "settings/Encript.h"

namespace kv {

struct TProtectionMarkers::Pass {
    Pass(const RulesContext& ctx, const CoverageQuery& coverage)
        : store(ctx.store),
          tree(ctx.tree),
          prefix(PrincipalPrefix(ctx.principals)),
          coverage(coverage) {}

    /// The note of an entry naming `folder`, asked once per pass.
    const std::string& Note(const std::string& folder) {
        static const std::string kNone;
        if (!coverage)
            return kNone;
        const auto it = notes.find(folder);
        if (it != notes.end())
            return it->second;
        return notes.emplace(folder, NoteOf(coverage(folder))).first->second;
    }
    /// The note of a node given its parent's: its own key's when it has one.
    std::string NoteOfNode(NodeRef node, int marker, const std::string& parentNote) {
        if (marker == kKindNone)
            return {};
        return Own(node) != kKindNone ? Note(tree.NodePath(node)) : parentNote;
    }

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
    const CoverageQuery& coverage;
    std::map<std::string, std::string> notes;
    std::array<int, 5> reach{-1, -1, -1, -1, -1};  // markers -1..3
};

std::string TProtectionMarkers::NoteOf(const std::optional<std::string>& answer) {
    if (!answer)
        return "not enforced: no protection service answers";
    if (answer->starts_with("mount "))
        return {};
    if (answer->starts_with("not enforced"))
        return *answer;
    return "only partly enforced: " + *answer;
}

int TProtectionMarkers::InheritedMarker(NodeRef node, int parentMarker) const {
    Pass pass(ctx_, coverage_);
    return pass.Inherit(node, parentMarker);
}

void TProtectionMarkers::UserGroupsChange() {
    Pass pass(ctx_, coverage_);
    for (NodeRef drive : ctx_.tree.TopLevelNodes()) {
        const int marker = pass.Own(drive);
        ctx_.tree.SetMarker(drive, marker);
        const std::string note = pass.NoteOfNode(drive, marker, {});
        ctx_.tree.SetCoverageNote(drive, note);
        MarkChildren(pass, drive, marker, note, false);  // as DriveView1Expanded
    }
    if (ctx_.tree.Selected())
        ListUpdated(pass);
    if (coverageWarning_)
        coverageWarning_(coverage_ ? CoverageWarning(pass) : std::string());
}

std::string TProtectionMarkers::CoverageWarning(Pass& pass) const {
    const std::string keyPrefix = pass.prefix + std::string(kProtectionInfix);
    int count = 0;
    std::string first;
    const int entries = ctx_.store.EntryCount();
    for (int i = 0; i < entries; ++i) {
        const std::string key = ctx_.store.EntryName(i);
        if (!key.starts_with(keyPrefix) || IsOptionKey(ctx_.store, key))
            continue;
        const int kind = ReadIntegerOr(ctx_.store, key, kKindNone);
        const bool folder = kind >= kKindReadOnly && kind <= kKindCustom;
        if (!folder && (kind < kKindReadOnlyFile || kind > kKindCustomFile))
            continue;
        const std::string path = key.substr(keyPrefix.size());
        const std::size_t cut = path.rfind(ctx_.style.Separator());
        const std::string folderPath = folder || cut == std::string::npos ? path
                                       : cut == 0 || ctx_.style.IsRoot(path.substr(0, cut + 1))
                                           ? path.substr(0, cut + 1)
                                           : path.substr(0, cut);
        const std::string& note = pass.Note(folderPath);
        if (note.empty())
            continue;
        if (count++ == 0)
            first = path + ": " + note;
    }
    if (count == 0)
        return {};
    return std::to_string(count) + (count == 1 ? " protected item is" : " protected items are") +
           " not fully enforced (" + first + ")";
}

void TProtectionMarkers::DriveView1Expanded(NodeRef node) {
    Pass pass(ctx_, coverage_);
    MarkChildren(pass, node, ctx_.tree.Marker(node), ctx_.tree.CoverageNote(node), false);
}

void TProtectionMarkers::MarkSubtree(NodeRef node, int v) {
    Pass pass(ctx_, coverage_);
    MarkChildren(pass, node, v, ctx_.tree.CoverageNote(node), true);
}

void TProtectionMarkers::MarkChildren(Pass& pass, NodeRef node, int v, const std::string& note,
                                      bool onlyWithChildren) {
    IFolderTree& tree = ctx_.tree;
    const int count = tree.ChildCount(node);
    for (int i = 0; i < count; ++i) {
        const NodeRef child = tree.Child(node, i);
        const int marker = pass.Inherit(child, v);
        tree.SetMarker(child, marker);
        const std::string childNote = pass.NoteOfNode(child, marker, note);
        tree.SetCoverageNote(child, childNote);
        if (!onlyWithChildren || tree.HasChildren(child))
            MarkChildren(pass, child, marker, childNote, true);
    }
}

void TProtectionMarkers::DirView1DirUpdated() {
    Pass pass(ctx_, coverage_);
    ListUpdated(pass);
}

void TProtectionMarkers::ListUpdated(Pass& pass) {
    IFolderTree& tree = ctx_.tree;
    IFileList& list = ctx_.list;
    const NodeRef selected = tree.Selected();
    if (!selected)
        return;
    const std::string folderKey = ProtectionKey(pass.prefix, tree.NodePath(selected));
    const int offset = ListOffset(tree, selected);

    tree.ExpandToOwnLevel(selected);
    const int children = tree.ChildCount(selected);
    const int entries = list.Count();
    for (int i = 0; i < children && i + offset < entries; ++i) {
        const NodeRef child = tree.Child(selected, i);
        list.SetMarker(i + offset, tree.Marker(child));
        list.SetCoverageNote(i + offset, tree.CoverageNote(child));
    }
    for (int position = children + offset; position < entries; ++position) {
        const std::string key = ctx_.style.Join(folderKey, list.Caption(position));
        const int kind = ReadIntegerOr(ctx_.store, key, kKindNone);
        const bool fileKind = kind >= kKindReadOnlyFile && kind <= kKindCustomFile;
        list.SetMarker(position, fileKind ? kind - kFileKindOffset : kKindNone);
        // A file's entry names the folder that holds it.
        list.SetCoverageNote(position, fileKind ? pass.Note(tree.NodePath(selected)) : "");
    }
    if (statusText_)
        statusText_(list.CurrentFolder());
}

}  // namespace kv
