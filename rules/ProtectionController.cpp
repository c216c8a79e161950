#include "rules/ProtectionController.h"

namespace kv {

TProtectionController::TProtectionController(TEncriptor& store, IPrompts& prompts,
                                             TModifiedFlag& modified,
                                             const IPrincipalSelection& principals,
                                             IFolderTree& tree, IFileList& list,
                                             IOptionsDialogRunner& optionsDialog,
                                             const PathStyle& style)
    : tree_(tree),
      list_(list),
      markers_(RulesContext{store, principals, tree, list, style}),
      options_(RulesContext{store, principals, tree, list, style}, modified, optionsDialog),
      commands_(RulesContext{store, principals, tree, list, style}, prompts, modified,
                [this](int tag) { return options_.EditProtectionOptions(tag); }) {
    tree_.SetExpandedHandler([this](NodeRef node) { markers_.DriveView1Expanded(node); });
    list_.SetFilledHandler([this] { markers_.DirView1DirUpdated(); });
}

TProtectionController::~TProtectionController() {
    tree_.SetExpandedHandler({});
    list_.SetFilledHandler({});
}

void TProtectionController::UserGroupsChange() {
    if (updateCaption_)
        updateCaption_();
    markers_.UserGroupsChange();
}

}  // namespace kv
