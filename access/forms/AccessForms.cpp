#include "access/forms/AccessForms.h"

#include "access/forms/PasFrm.h"
#include "access/forms/SecUn.h"

namespace kv {

GateResult RunPasswordGate(const TEncriptor& store, IPrompts& prompts, QWidget* owner) {
    return TPasswordGate::Run(store, prompts, [owner](TSecurLogic& logic) {
        return std::unique_ptr<ISecurForm>(new TSecurFrm(logic, owner));
    });
}

bool PassPasswordGate(GateCaller caller, const TEncriptor& store, IPrompts& prompts,
                      QWidget* owner) {
    return GatePassed(RunPasswordGate(store, prompts, owner), caller);
}

bool cmdPasswordExecute(TEncriptor& store, IPrompts& prompts, TModifiedFlag& modified,
                        QWidget* owner) {
    return cmdPasswordExecute(store, modified, prompts, [owner](TPasFrmLogic& logic) {
        return std::unique_ptr<IPasForm>(new TPasFrm(logic, owner));
    });
}

}  // namespace kv
