#include "options/forms/OptionsForms.h"

#include "options/forms/PrOptFrm.h"

namespace kv {

bool cmdPrOptExecute(TEncriptor& store, IPrompts& prompts, TModifiedFlag& modified,
                     ProgramOptionsHooks& hooks, QWidget* owner) {
    return cmdPrOptExecute(store, prompts, modified, hooks, [owner](TPrOptFrmLogic& logic) {
        return std::unique_ptr<IPrOptForm>(new TPrOptFrm(logic, owner));
    });
}

}  // namespace kv
