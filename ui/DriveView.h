#pragma once

#include <QIcon>
#include <QPointer>
#include <QTreeWidget>
#include <functional>
#include <string>

#include "rules/BrowsingViews.h"

class QMenu;

namespace kv::ui {

/// A folder node of the tree: its item path, level, marker and load state.
class TFolderItem : public QTreeWidgetItem {
public:
    static constexpr int kType = QTreeWidgetItem::UserType + 1;

    TFolderItem(std::string path, std::string caption, int level, bool mayHaveChildren);

    const std::string& Path() const { return path_; }
    /// The folder's name as the file system spells it (bytes, not display text).
    const std::string& Name() const { return name_; }
    int Level() const { return level_; }
    int Marker() const { return marker_; }
    const std::string& Note() const { return note_; }
    bool Loaded() const { return loaded_; }
    bool MayHaveChildren() const { return mayHaveChildren_; }

private:
    friend class TDriveView;
    std::string path_;
    std::string name_;
    int level_;
    int marker_ = -1;
    std::string note_;  ///< why its protection is not enforced; empty: it is
    bool loaded_ = false;
    bool mayHaveChildren_;
};

/// `DriveView1`: the folder tree with "/" as its one drive root. Folders are
/// read from disk when first expanded (or when the file list needs them); a
/// folder not yet read shows an expand sign when its link count says it may
/// have subfolders. Each node's marker is drawn as a state image beside its
/// icon. There is no change watching: a folder is read once.
class TDriveView : public QTreeWidget, public IFolderTree {
    Q_OBJECT
public:
    explicit TDriveView(QWidget* parent = nullptr);

    // IFolderTree
    bool HasFocus() const override;
    NodeRef Selected() const override;
    std::vector<NodeRef> TopLevelNodes() const override;
    std::string NodePath(NodeRef node) const override;
    int Level(NodeRef node) const override;
    NodeRef Parent(NodeRef node) const override;
    int ChildCount(NodeRef node) const override;
    NodeRef Child(NodeRef node, int position) const override;
    int Position(NodeRef node) const override;
    bool HasChildren(NodeRef node) const override;
    void ExpandToOwnLevel(NodeRef node) override;
    int Marker(NodeRef node) const override;
    void SetMarker(NodeRef node, int marker) override;
    std::string CoverageNote(NodeRef node) const override;
    void SetCoverageNote(NodeRef node, const std::string& note) override;
    void SetExpandedHandler(std::function<void(NodeRef)> handler) override;

    static NodeRef Ref(const TFolderItem* item) { return NodeRef(item); }
    static TFolderItem* ItemOf(NodeRef node);
    TFolderItem* RootItem() const;
    TFolderItem* SelectedItem() const;

    /// Reads a folder's subfolders once, without expanding it.
    void EnsureLoaded(TFolderItem* item);
    /// Expands the folders on the way to `path` and selects it; false when a
    /// folder on the way does not exist.
    bool SelectPath(const std::string& path);
    /// The menu popped up on a right click (DriveMenu); not owned.
    void SetContextMenu(QMenu* menu);

signals:
    /// The selected folder changed; the bound file list refills.
    void SelectedFolderChanged();

private:
    void OnExpanded(QTreeWidgetItem* item);
    QIcon IconFor(int marker, bool unenforced = false) const;

    std::function<void(NodeRef)> expandedHandler_;
    QPointer<QMenu> menu_;
    QIcon folderIcon_;
    QIcon driveIcon_;
};

}  // namespace kv::ui
