#pragma once

#include <functional>
#include <string>

#include "rules/RulesContext.h"

namespace kv {

/// Computes the protection markers of the two views from the protection keys
/// of the selected principal. Each marker costs one indexed lookup of the
/// node's own key; the store is never scanned.
class TProtectionMarkers {
public:
    explicit TProtectionMarkers(RulesContext context) : ctx_(context) {}

    /// Receives the list's folder path after the list markers were set.
    void SetStatusText(std::function<void(const std::string&)> statusText) {
        statusText_ = std::move(statusText);
    }

    /// The principal changed: every loaded node and list entry is marked again.
    /// The caller names the principal in the window caption first.
    void UserGroupsChange();
    /// Marks the loaded children of a node from its current marker, and below.
    void DriveView1Expanded(NodeRef node);
    /// Marks the loaded descendants of a node whose marker is `v`.
    void MarkSubtree(NodeRef node, int v);
    /// The list was (re)filled: its subfolder entries take their nodes'
    /// markers, file entries their own kind.
    void DirView1DirUpdated();

    /// Marker of a node given its parent's marker (the inheritance rule).
    int InheritedMarker(NodeRef node, int parentMarker) const;

private:
    // One pass over the views: the prefix and the SubFolders_ defaults are read
    // once per operation, not per node.
    struct Pass;

    void MarkChildren(Pass& pass, NodeRef node, int v);

    RulesContext ctx_;
    std::function<void(const std::string&)> statusText_;
};

}  // namespace kv
