#pragma once

#include <QHash>
#include <QTreeWidget>

#include "principals/PrincipalTree.h"

namespace kv::ui {

/// The tree `UserGroups`: shows a principal tree model and keeps the
/// selection in step both ways. Labels are read-only.
class TPrincipalTreeView : public QTreeWidget {
    Q_OBJECT
public:
    TPrincipalTreeView(TPrincipalTree& model, QWidget* parent = nullptr);

    /// The item that shows a node, for tests and context menus.
    QTreeWidgetItem* ItemOf(const TPrincipalTree::Node* node) const;

private:
    void Rebuild();
    void SyncSelectionFromModel();
    void OnCurrentItemChanged(QTreeWidgetItem* current);

    TPrincipalTree& model_;
    QHash<QTreeWidgetItem*, TPrincipalTree::Node*> nodes_;
    bool syncing_ = false;
};

}  // namespace kv::ui
