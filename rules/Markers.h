#pragma once

#include <functional>
#include <optional>
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

    /// How the service enforces an entry naming a folder: its coverage answer
    /// ("mount ...", "open events (...)", "not enforced: ..."); nullopt when
    /// no service answers. Without it, markers carry no coverage notes.
    using CoverageQuery = std::function<std::optional<std::string>(const std::string& folder)>;
    void SetCoverage(CoverageQuery query) { coverage_ = std::move(query); }
    /// Receives after every principal change a warning for the status bar
    /// about the principal's protections that are not fully enforced (empty
    /// when there are none).
    void SetCoverageWarning(std::function<void(const std::string&)> warn) {
        coverageWarning_ = std::move(warn);
    }
    /// The note a marker carries for an entry naming `folder`: empty when the
    /// service enforces every bit there, else why not.
    static std::string NoteOf(const std::optional<std::string>& answer);

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

    /// Marks the children of `node` (marker `v`, coverage note `note`) and
    /// below: every loaded level, or (`onlyWithChildren`) only below children
    /// that have children.
    void MarkChildren(Pass& pass, NodeRef node, int v, const std::string& note,
                      bool onlyWithChildren);
    void ListUpdated(Pass& pass);
    /// The warning about every protection key of the principal.
    std::string CoverageWarning(Pass& pass) const;

    RulesContext ctx_;
    std::function<void(const std::string&)> statusText_;
    CoverageQuery coverage_;
    std::function<void(const std::string&)> coverageWarning_;
};

}  // namespace kv
