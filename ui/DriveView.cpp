#include "ui/DriveView.h"

#include <QApplication>
#include <QHeaderView>
#include <QMenu>
#include <QStyle>
#include <algorithm>

#include "platform/Folders.h"
#include "rules/PathStyle.h"
#include "ui/KeyboardMenu.h"
#include "ui/MarkerImages.h"
#include "ui/NameOrder.h"

namespace kv::ui {

namespace {
constexpr int kIconSize = 16;
}

bool NameLess(const std::string& a, const std::string& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    }
    if (a.size() != b.size())
        return a.size() < b.size();
    return a < b;
}

TFolderItem::TFolderItem(std::string path, std::string caption, int level, bool mayHaveChildren)
    : QTreeWidgetItem(kType),
      path_(std::move(path)),
      name_(std::move(caption)),
      level_(level),
      mayHaveChildren_(mayHaveChildren) {
    setText(0, QString::fromStdString(name_));
    setChildIndicatorPolicy(mayHaveChildren ? ShowIndicator : DontShowIndicator);
}

TDriveView::TDriveView(QWidget* parent) : QTreeWidget(parent) {
    setObjectName("DriveView1");
    setHeaderHidden(true);
    setColumnCount(1);
    setIndentation(19);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setAnimated(false);
    setDragDropMode(QAbstractItemView::DragOnly);
    setIconSize(QSize(TMarkerImages::MarkedWidth(kIconSize), kIconSize));
    setContextMenuPolicy(Qt::CustomContextMenu);
    folderIcon_ = QApplication::style()->standardIcon(QStyle::SP_DirIcon);
    driveIcon_ = QApplication::style()->standardIcon(QStyle::SP_DriveHDIcon);

    auto* root = new TFolderItem("/", "/", 0, true);
    root->setIcon(0, IconFor(-1));
    addTopLevelItem(root);

    connect(this, &QTreeWidget::itemExpanded, this, &TDriveView::OnExpanded);
    connect(this, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem*, QTreeWidgetItem*) { emit SelectedFolderChanged(); });
    connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        if (menu_)
            menu_->popup(viewport()->mapToGlobal(pos));
    });
}

TFolderItem* TDriveView::ItemOf(NodeRef node) {
    return static_cast<TFolderItem*>(const_cast<void*>(node.Get()));
}

TFolderItem* TDriveView::RootItem() const {
    return static_cast<TFolderItem*>(topLevelItem(0));
}

TFolderItem* TDriveView::SelectedItem() const {
    QTreeWidgetItem* item = currentItem();
    return item && item->type() == TFolderItem::kType ? static_cast<TFolderItem*>(item) : nullptr;
}

QIcon TDriveView::IconFor(int marker, bool unenforced) const {
    return TMarkerImages::Instance().Marked(folderIcon_, kIconSize, marker, unenforced);
}

bool TDriveView::HasFocus() const {
    const QWidget* focus = KeyboardFocus(*window());
    return focus == this || focus == viewport();
}

NodeRef TDriveView::Selected() const {
    return NodeRef(SelectedItem());
}

std::vector<NodeRef> TDriveView::TopLevelNodes() const {
    std::vector<NodeRef> nodes;
    for (int i = 0; i < topLevelItemCount(); ++i)
        nodes.push_back(NodeRef(topLevelItem(i)));
    return nodes;
}

std::string TDriveView::NodePath(NodeRef node) const {
    return ItemOf(node)->Path();
}

int TDriveView::Level(NodeRef node) const {
    return ItemOf(node)->Level();
}

NodeRef TDriveView::Parent(NodeRef node) const {
    return NodeRef(ItemOf(node)->parent());
}

int TDriveView::ChildCount(NodeRef node) const {
    return ItemOf(node)->childCount();
}

NodeRef TDriveView::Child(NodeRef node, int position) const {
    return NodeRef(ItemOf(node)->child(position));
}

int TDriveView::Position(NodeRef node) const {
    const TFolderItem* item = ItemOf(node);
    if (QTreeWidgetItem* parent = item->parent())
        return parent->indexOfChild(const_cast<TFolderItem*>(item));
    return indexOfTopLevelItem(const_cast<TFolderItem*>(item));
}

bool TDriveView::HasChildren(NodeRef node) const {
    const TFolderItem* item = ItemOf(node);
    return item->Loaded() ? item->childCount() > 0 : item->MayHaveChildren();
}

void TDriveView::ExpandToOwnLevel(NodeRef node) {
    TFolderItem* item = ItemOf(node);
    for (int i = 0; i < item->childCount(); ++i) {
        if (item->child(i)->isExpanded())
            item->child(i)->setExpanded(false);
    }
    if (!item->isExpanded())
        item->setExpanded(true);  // raises itemExpanded
}

int TDriveView::Marker(NodeRef node) const {
    return ItemOf(node)->Marker();
}

void TDriveView::SetMarker(NodeRef node, int marker) {
    TFolderItem* item = ItemOf(node);
    if (item->marker_ == marker)
        return;
    item->marker_ = marker;
    item->setIcon(0, IconFor(marker, !item->note_.empty()));
}

std::string TDriveView::CoverageNote(NodeRef node) const {
    return ItemOf(node)->note_;
}

void TDriveView::SetCoverageNote(NodeRef node, const std::string& note) {
    TFolderItem* item = ItemOf(node);
    if (item->note_ == note)
        return;
    item->note_ = note;
    item->setIcon(0, IconFor(item->marker_, !note.empty()));
    item->setToolTip(0, QString::fromStdString(note));
}

void TDriveView::SetExpandedHandler(std::function<void(NodeRef)> handler) {
    expandedHandler_ = std::move(handler);
}

void TDriveView::EnsureLoaded(TFolderItem* item) {
    if (item->loaded_)
        return;
    item->loaded_ = true;
    std::vector<platform::FolderEntry> entries;
    platform::ListFolder(item->Path(), &entries, nullptr);  // unreadable: no subfolders
    std::erase_if(entries, [](const platform::FolderEntry& e) { return !e.isFolder; });
    std::sort(entries.begin(), entries.end(),
              [](const auto& a, const auto& b) { return NameLess(a.name, b.name); });
    QList<QTreeWidgetItem*> children;
    children.reserve(static_cast<qsizetype>(entries.size()));
    const PathStyle& style = PathStyle::Native();
    const QIcon icon = IconFor(-1);
    for (const platform::FolderEntry& entry : entries) {
        auto* child = new TFolderItem(style.Join(item->Path(), entry.name), entry.name,
                                      item->Level() + 1, entry.mayHaveSubfolders);
        child->setIcon(0, icon);
        children.append(child);
    }
    item->addChildren(children);
    item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

void TDriveView::OnExpanded(QTreeWidgetItem* item) {
    if (item->type() != TFolderItem::kType)
        return;
    auto* folder = static_cast<TFolderItem*>(item);
    EnsureLoaded(folder);
    if (expandedHandler_)
        expandedHandler_(NodeRef(folder));
}

bool TDriveView::SelectPath(const std::string& path) {
    TFolderItem* item = RootItem();
    std::size_t start = 1;
    while (start < path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string name = path.substr(start, end - start);
        start = end + 1;
        if (name.empty())
            continue;
        item->setExpanded(true);
        EnsureLoaded(item);
        TFolderItem* next = nullptr;
        for (int i = 0; i < item->childCount() && !next; ++i) {
            auto* child = static_cast<TFolderItem*>(item->child(i));
            if (child->Name() == name)
                next = child;
        }
        if (!next)
            return false;
        item = next;
    }
    setCurrentItem(item);
    return true;
}

void TDriveView::SetContextMenu(QMenu* menu) {
    menu_ = menu;
}

}  // namespace kv::ui
