#pragma once

#include "rules/BrowsingViews.h"
#include "rules/PathStyle.h"

namespace kv {

class TEncriptor;
class IPrincipalSelection;

/// What the protection logic works on: the store, the selected principal, the
/// two browsing views and the spelling of their paths.
struct RulesContext {
    TEncriptor& store;
    const IPrincipalSelection& principals;
    IFolderTree& tree;
    IFileList& list;
    const PathStyle& style;
};

}  // namespace kv
