#include "ui/PrincipalTreeView.h"

#include "ui/ImageList1.h"

namespace kv::ui {

TPrincipalTreeView::TPrincipalTreeView(TPrincipalTree& model, QWidget* parent)
    : QTreeWidget(parent), model_(model) {
    setObjectName("UserGroups");
    setHeaderHidden(true);
    setColumnCount(1);
    setIndentation(23);
    setIconSize(QSize(20, 20));
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setContextMenuPolicy(Qt::CustomContextMenu);
    model_.OnStructureChanged([this] { Rebuild(); });
    model_.OnSelectionChanged([this] { SyncSelectionFromModel(); });
    connect(this, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current, QTreeWidgetItem*) { OnCurrentItemChanged(current); });
    Rebuild();
}

QTreeWidgetItem* TPrincipalTreeView::ItemOf(const TPrincipalTree::Node* node) const {
    for (auto it = nodes_.cbegin(); it != nodes_.cend(); ++it) {
        if (it.value() == node)
            return it.key();
    }
    return nullptr;
}

void TPrincipalTreeView::Rebuild() {
    syncing_ = true;
    setUpdatesEnabled(false);
    clear();
    nodes_.clear();
    auto make = [this](TPrincipalTree::Node* node) {
        auto* item = new QTreeWidgetItem(QStringList{QString::fromStdString(node->text)});
        item->setIcon(0, ImageList1(static_cast<int>(node->kind)));
        item->setSizeHint(0, QSize(-1, 24));  // rows fit the 20-pixel pictures
        nodes_.insert(item, node);
        return item;
    };
    for (const auto& top : model_.TopLevel()) {
        QTreeWidgetItem* item = make(top.get());
        addTopLevelItem(item);
        for (const auto& child : top->children)
            item->addChild(make(child.get()));
        item->setExpanded(true);
    }
    setUpdatesEnabled(true);
    syncing_ = false;
    SyncSelectionFromModel();
}

void TPrincipalTreeView::SyncSelectionFromModel() {
    syncing_ = true;
    QTreeWidgetItem* item = ItemOf(model_.SelectedNode());
    setCurrentItem(item);
    if (!item)
        clearSelection();
    syncing_ = false;
}

void TPrincipalTreeView::OnCurrentItemChanged(QTreeWidgetItem* current) {
    if (syncing_)
        return;
    model_.Select(current ? nodes_.value(current, nullptr) : nullptr);
}

}  // namespace kv::ui
