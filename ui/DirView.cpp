#include "ui/DirView.h"

#include <QApplication>
#include <QDateTime>
#include <QFontMetrics>
#include <QHeaderView>
#include <QListView>
#include <QMenu>
#include <QStackedWidget>
#include <QStyle>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>
#include <unordered_map>

#include "platform/Folders.h"
#include "ui/DriveView.h"
#include "ui/KeyboardMenu.h"
#include "ui/MarkerImages.h"
#include "ui/NameOrder.h"

namespace kv::ui {

namespace {

constexpr int kSmallIcon = 16;
constexpr int kLargeIcon = 32;

QString TypeText(const TDirModel::Entry& e) {
    if (e.kind != TDirModel::Kind::File)
        return "File Folder";
    const std::size_t dot = e.name.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == e.name.size())
        return "File";
    return QString::fromStdString(e.name.substr(dot + 1)).toUpper() + " File";
}

QString AttributeText(const TDirModel::Entry& e) {
    QString text;
    if (!e.writable)
        text += 'R';
    if (!e.name.empty() && e.name[0] == '.' && e.kind != TDirModel::Kind::Parent)
        text += 'H';
    if (e.isLink)
        text += 'L';
    return text;
}

}  // namespace

TDirModel::TDirModel(QObject* parent) : QAbstractTableModel(parent) {
    folderIcon_ = QApplication::style()->standardIcon(QStyle::SP_DirIcon);
    fileIcon_ = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
    parentIcon_ = QApplication::style()->standardIcon(QStyle::SP_FileDialogToParent);
}

void TDirModel::Reset(std::vector<Entry> entries) {
    beginResetModel();
    entries_ = std::move(entries);
    endResetModel();
}

template <typename Field, typename Value>
void TDirModel::SetField(int row, Field Entry::*field, const Value& value,
                         const QList<int>& roles) {
    if (row < 0 || row >= static_cast<int>(entries_.size()))
        return;
    Entry& e = entries_[static_cast<std::size_t>(row)];
    if (e.*field == value)
        return;
    e.*field = value;
    const QModelIndex cell = index(row, kName);
    emit dataChanged(cell, cell, roles);
}

void TDirModel::SetMarker(int row, int marker) {
    SetField(row, &Entry::marker, marker, {Qt::DecorationRole});
}

void TDirModel::SetNote(int row, const std::string& note) {
    SetField(row, &Entry::note, note, {Qt::DecorationRole, Qt::ToolTipRole});
}

void TDirModel::SetIconSize(int size) {
    if (iconSize_ == size)
        return;
    iconSize_ = size;
    if (!entries_.empty())
        emit dataChanged(index(0, kName), index(rowCount() - 1, kName), {Qt::DecorationRole});
}

void TDirModel::SetCellSize(QSize size) {
    if (cellSize_ == size)
        return;
    cellSize_ = size;
    if (!entries_.empty())
        emit dataChanged(index(0, kName), index(rowCount() - 1, kName), {Qt::SizeHintRole});
}

int TDirModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(entries_.size());
}

int TDirModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant TDirModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(entries_.size()))
        return {};
    const Entry& e = entries_[static_cast<std::size_t>(index.row())];
    if (role == Qt::DisplayRole) {
        switch (index.column()) {
            case kName:
                return QString::fromStdString(e.name);
            case kType:
                return TypeText(e);
            case kAttributes:
                return AttributeText(e);
            case kModified:
                if (e.kind == Kind::Parent)
                    return {};
                return QDateTime::fromSecsSinceEpoch(e.modified).toString("yyyy-MM-dd HH:mm:ss");
            default:
                return {};
        }
    }
    if (role == Qt::DecorationRole && index.column() == kName) {
        const QIcon& base = e.kind == Kind::File     ? fileIcon_
                            : e.kind == Kind::Folder ? folderIcon_
                                                     : parentIcon_;
        return TMarkerImages::Instance().Marked(base, iconSize_, e.marker, !e.note.empty());
    }
    if (role == Qt::SizeHintRole && index.column() == kName && cellSize_.isValid())
        return cellSize_;
    if (role == Qt::ToolTipRole && !e.note.empty())
        return QString::fromStdString(e.note);
    return {};
}

QVariant TDirModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
        case kName:
            return "Name";
        case kType:
            return "Type";
        case kAttributes:
            return "Attributes";
        case kModified:
            return "Modified";
        default:
            return {};
    }
}

TDirView::TDirView(TDriveView* tree, QWidget* parent)
    : QWidget(parent), tree_(tree), model_(new TDirModel(this)) {
    setObjectName("DirView1");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    stack_ = new QStackedWidget(this);
    layout->addWidget(stack_);

    list_ = new QListView(stack_);
    list_->setModel(model_);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setUniformItemSizes(true);
    list_->setLayoutMode(QListView::Batched);
    list_->setBatchSize(500);
    list_->setResizeMode(QListView::Adjust);
    list_->setMovement(QListView::Static);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);

    report_ = new QTreeView(stack_);
    report_->setModel(model_);
    report_->setSelectionModel(list_->selectionModel());
    report_->setRootIsDecorated(false);
    report_->setUniformRowHeights(true);
    report_->setItemsExpandable(false);
    report_->setSortingEnabled(false);  // positions map to tree nodes
    report_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    report_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    report_->setIconSize(QSize(TMarkerImages::MarkedWidth(kSmallIcon), kSmallIcon));
    report_->setContextMenuPolicy(Qt::CustomContextMenu);
    report_->header()->resizeSection(TDirModel::kName, 110);
    report_->header()->resizeSection(TDirModel::kType, 110);
    report_->header()->resizeSection(TDirModel::kAttributes, 35);
    report_->header()->resizeSection(TDirModel::kModified, 130);

    stack_->addWidget(list_);
    stack_->addWidget(report_);
    SetStyle(ViewStyle::List);

    for (QAbstractItemView* view :
         {static_cast<QAbstractItemView*>(list_), static_cast<QAbstractItemView*>(report_)}) {
        connect(view, &QWidget::customContextMenuRequested, this,
                [this, view](const QPoint& pos) { PopupMenu(view, pos); });
        connect(view, &QAbstractItemView::activated, this, &TDirView::OpenEntry);
    }
    connect(tree_, &TDriveView::SelectedFolderChanged, this, &TDirView::Refill);
}

QAbstractItemView* TDirView::CurrentView() const {
    return style_ == ViewStyle::Report ? static_cast<QAbstractItemView*>(report_)
                                       : static_cast<QAbstractItemView*>(list_);
}

bool TDirView::HasFocus() const {
    const QWidget* focus = KeyboardFocus(*window());
    return focus == list_ || focus == report_ || focus == list_->viewport() ||
           focus == report_->viewport() || focus == this;
}

std::vector<int> TDirView::SelectedPositions() const {
    std::vector<int> rows;
    // A click in the list view selects the name cell only, a click in the report
    // view the whole row: a row counts when its name cell is selected.
    for (const QModelIndex& index : list_->selectionModel()->selectedIndexes()) {
        if (index.column() == TDirModel::kName)
            rows.push_back(index.row());
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

std::string TDirView::Caption(int position) const {
    if (position < 0 || position >= Count())
        return {};
    return model_->Entries()[static_cast<std::size_t>(position)].name;
}

int TDirView::Marker(int position) const {
    if (position < 0 || position >= Count())
        return -1;
    return model_->Entries()[static_cast<std::size_t>(position)].marker;
}

void TDirView::SetCoverageNote(int position, const std::string& note) {
    model_->SetNote(position, note);
}

void TDirView::SetMarker(int position, int marker) {
    model_->SetMarker(position, marker);
}

int TDirView::Count() const {
    return model_->rowCount();
}

std::string TDirView::CurrentFolder() const {
    return folder_;
}

void TDirView::SetStyle(ViewStyle style) {
    style_ = style;
    const bool hadFocus = HasFocus();
    if (style == ViewStyle::Report) {
        model_->SetIconSize(kSmallIcon);
        stack_->setCurrentWidget(report_);
    } else {
        const bool large = style == ViewStyle::Icons;
        const int size = large ? kLargeIcon : kSmallIcon;
        model_->SetIconSize(size);
        list_->setIconSize(QSize(TMarkerImages::MarkedWidth(size), size));
        list_->setViewMode(large ? QListView::IconMode : QListView::ListMode);
        list_->setFlow(style == ViewStyle::List ? QListView::TopToBottom : QListView::LeftToRight);
        list_->setWrapping(true);
        list_->setWordWrap(large);
        list_->setTextElideMode(large ? Qt::ElideMiddle : Qt::ElideRight);
        list_->setMovement(QListView::Static);
        UpdateGrid();
        stack_->setCurrentWidget(list_);
    }
    if (hadFocus)
        FocusList();
}

void TDirView::SetFilledHandler(std::function<void()> handler) {
    filledHandler_ = std::move(handler);
}

void TDirView::FocusList() {
    CurrentView()->setFocus(Qt::OtherFocusReason);
}

void TDirView::Refill() {
    std::vector<TDirModel::Entry> entries;
    TFolderItem* folder = tree_->SelectedItem();
    folder_ = folder ? folder->Path() : std::string();
    if (folder) {
        tree_->EnsureLoaded(folder);
        std::vector<platform::FolderEntry> listing;
        platform::ListFolder(folder_, &listing, nullptr);  // unreadable: shown empty
        std::unordered_map<std::string, const platform::FolderEntry*> folders;
        std::vector<const platform::FolderEntry*> files;
        for (const platform::FolderEntry& e : listing) {
            if (e.isFolder)
                folders.emplace(e.name, &e);
            else
                files.push_back(&e);
        }
        std::sort(files.begin(), files.end(),
                  [](const auto* a, const auto* b) { return NameLess(a->name, b->name); });
        entries.reserve(files.size() + static_cast<std::size_t>(folder->childCount()) + 1);
        if (folder->Level() > 0) {
            TDirModel::Entry parentEntry;
            parentEntry.name = kParentCaption;
            parentEntry.kind = TDirModel::Kind::Parent;
            entries.push_back(std::move(parentEntry));
        }
        const auto convert = [](const platform::FolderEntry& f, TDirModel::Kind kind) {
            TDirModel::Entry e;
            e.name = f.name;
            e.kind = kind;
            e.writable = f.writable;
            e.isLink = f.isLink;
            e.size = f.size;
            e.modified = f.modified;
            return e;
        };
        // Subfolders exactly as the tree lists them, so positions map to nodes.
        for (int i = 0; i < folder->childCount(); ++i) {
            const auto* child = static_cast<TFolderItem*>(folder->child(i));
            const std::string& name = child->Name();
            const auto it = folders.find(name);
            if (it != folders.end()) {
                entries.push_back(convert(*it->second, TDirModel::Kind::Folder));
            } else {
                TDirModel::Entry gone;
                gone.name = name;
                gone.kind = TDirModel::Kind::Folder;
                entries.push_back(std::move(gone));
            }
        }
        for (const platform::FolderEntry* f : files)
            entries.push_back(convert(*f, TDirModel::Kind::File));
    }
    // Measuring every caption costs more than the rest of the filling; the
    // widest is found among the longest few.
    std::vector<const std::string*> names;
    names.reserve(entries.size());
    for (const TDirModel::Entry& e : entries)
        names.push_back(&e.name);
    const std::size_t measured = std::min<std::size_t>(names.size(), 64);
    std::partial_sort(
        names.begin(), names.begin() + static_cast<std::ptrdiff_t>(measured), names.end(),
        [](const std::string* a, const std::string* b) { return a->size() > b->size(); });
    const QFontMetrics metrics(list_->font());
    widestCaption_ = 0;
    for (std::size_t i = 0; i < measured; ++i) {
        widestCaption_ = std::max(widestCaption_,
                                  metrics.horizontalAdvance(QString::fromUtf8(
                                      names[i]->data(), static_cast<qsizetype>(names[i]->size()))));
    }
    model_->Reset(std::move(entries));
    UpdateGrid();
    if (filledHandler_)
        filledHandler_();
}

void TDirView::UpdateGrid() {
    constexpr int kMaxCaption = 280;
    if (style_ == ViewStyle::Icons) {
        // Room for the icon and two lines of caption; a longer caption is
        // cut in the middle, keeping its end (the type).
        const QSize grid(96, kLargeIcon + 2 * list_->fontMetrics().height() + 8);
        model_->SetCellSize(grid - QSize(4, 2));
        list_->setGridSize(grid);
        return;
    }
    model_->SetCellSize(QSize());
    if (style_ == ViewStyle::Report)
        return;
    // Uniform cells are what keeps a list of many thousand entries cheap; they
    // must fit the widest caption, not the first one.
    const int text = std::min(widestCaption_, kMaxCaption);
    const int height = std::max(list_->fontMetrics().height(), kSmallIcon) + 4;
    list_->setGridSize(QSize(TMarkerImages::MarkedWidth(kSmallIcon) + text + 16, height));
}

void TDirView::SelectPositions(const std::vector<int>& positions) {
    QItemSelectionModel* selection = list_->selectionModel();
    selection->clearSelection();
    for (const int row : positions) {
        selection->select(model_->index(row, 0),
                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    if (!positions.empty()) {
        selection->setCurrentIndex(model_->index(positions.front(), 0),
                                   QItemSelectionModel::NoUpdate);
    }
}

void TDirView::OpenEntry(const QModelIndex& index) {
    if (!index.isValid())
        return;
    TFolderItem* folder = tree_->SelectedItem();
    if (!folder)
        return;
    const auto& e = model_->Entries()[static_cast<std::size_t>(index.row())];
    if (e.kind == TDirModel::Kind::Parent) {
        if (QTreeWidgetItem* up = folder->parent())
            tree_->setCurrentItem(up);
        return;
    }
    if (e.kind == TDirModel::Kind::Folder) {
        const int k = index.row() - (folder->Level() > 0 ? 1 : 0);
        if (QTreeWidgetItem* child = folder->child(k))
            tree_->setCurrentItem(child);
    }
}

void TDirView::PopupMenu(QAbstractItemView* view, const QPoint& pos) {
    if (menu_)
        menu_->popup(view->viewport()->mapToGlobal(pos));
}

void TDirView::SetContextMenu(QMenu* menu) {
    menu_ = menu;
}

}  // namespace kv::ui
