#include "access/forms/AccessForms.h"

#include "access/forms/PasFrm.h"
#include "access/forms/SecUn.h"

namespace kv {

GateResult RunPasswordGate(const TEncriptor& store, IPrompts& prompts, QWidget* owner,
                           IPasswordService* service, std::string* accepted) {
    return TPasswordGate::Run(
        store, prompts,
        [owner](TSecurLogic& logic) {
            return std::unique_ptr<ISecurForm>(new TSecurFrm(logic, owner));
        },
        service, accepted);
}

bool PassPasswordGate(GateCaller caller, const TEncriptor& store, IPrompts& prompts, QWidget* owner,
                      IPasswordService* service, std::string* accepted) {
    return GatePassed(RunPasswordGate(store, prompts, owner, service, accepted), caller);
}

bool cmdPasswordExecute(TEncriptor& store, IPrompts& prompts, TModifiedFlag& modified,
                        QWidget* owner) {
    return cmdPasswordExecute(store, modified, prompts, [owner](TPasFrmLogic& logic) {
        return std::unique_ptr<IPasForm>(new TPasFrm(logic, owner));
    });
}

}  // namespace kv
