#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "rules/BrowsingViews.h"

class QListView;
class QMenu;
class QStackedWidget;
class QTreeView;
class QAbstractItemView;

namespace kv::ui {

class TDriveView;

/// The entries of the file list: a plain vector, so filling and drawing stay
/// cheap for folders of many thousand entries.
class TDirModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { kName, kType, kAttributes, kModified, kColumnCount };
    enum class Kind { Parent, Folder, File };

    struct Entry {
        std::string name;
        Kind kind = Kind::File;
        bool writable = true;
        bool isLink = false;
        std::int64_t size = 0;
        std::int64_t modified = 0;
        int marker = -1;
        std::string note;  ///< why its protection is not enforced; empty: it is
    };

    explicit TDirModel(QObject* parent = nullptr);

    void Reset(std::vector<Entry> entries);
    const std::vector<Entry>& Entries() const { return entries_; }
    void SetMarker(int row, int marker);
    void SetNote(int row, const std::string& note);
    /// Size of the icons drawn in the name column.
    void SetIconSize(int size);
    /// The size every entry asks for; an invalid size lets the view measure.
    /// The icon view's cells are uniform, and the first entry (often "..")
    /// must not set their width for longer names.
    void SetCellSize(QSize size);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    /// Sets one field of the entry at `row` and tells the views when it changed.
    template <typename Field, typename Value>
    void SetField(int row, Field Entry::*field, const Value& value, const QList<int>& roles);

    std::vector<Entry> entries_;
    int iconSize_ = 16;
    QSize cellSize_;
    QIcon folderIcon_;
    QIcon fileIcon_;
    QIcon parentIcon_;
};

/// `DirView1`: the file list of the folder selected in the bound folder tree.
/// Below any folder but the root it starts with a ".." entry for the folder
/// above, then lists the subfolders in the tree's order, then the files by
/// name. Four view styles; icons, small icons and list share one list widget,
/// report uses a column view over the same model and selection.
class TDirView : public QWidget, public IFileList {
    Q_OBJECT
public:
    static constexpr const char* kParentCaption = "..";

    explicit TDirView(TDriveView* tree, QWidget* parent = nullptr);

    // IFileList
    bool HasFocus() const override;
    std::vector<int> SelectedPositions() const override;
    std::string Caption(int position) const override;
    int Marker(int position) const override;
    void SetMarker(int position, int marker) override;
    void SetCoverageNote(int position, const std::string& note) override;
    int Count() const override;
    std::string CurrentFolder() const override;
    ViewStyle Style() const override { return style_; }
    void SetStyle(ViewStyle style) override;
    void SetFilledHandler(std::function<void()> handler) override;

    /// Reads the tree's selected folder again and raises the filled event.
    void Refill();
    /// Replaces the selection by these positions; the first becomes current.
    void SelectPositions(const std::vector<int>& positions);
    /// Gives the keyboard focus to the view of the current style.
    void FocusList();
    /// The menu popped up on a right click (DirListMenu); not owned.
    void SetContextMenu(QMenu* menu);

    TDirModel* Model() const { return model_; }
    QListView* ListWidget() const { return list_; }
    QTreeView* ReportWidget() const { return report_; }
    QAbstractItemView* CurrentView() const;

private:
    void OpenEntry(const QModelIndex& index);
    /// Cells of the list and small-icon styles: as wide as the widest caption.
    void UpdateGrid();
    void PopupMenu(QAbstractItemView* view, const QPoint& pos);

    TDriveView* tree_;
    TDirModel* model_;
    QStackedWidget* stack_;
    QListView* list_;
    QTreeView* report_;
    ViewStyle style_ = ViewStyle::List;
    std::string folder_;
    int widestCaption_ = 0;
    std::function<void()> filledHandler_;
    QPointer<QMenu> menu_;
};

}  // namespace kv::ui
