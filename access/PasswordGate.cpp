#include "access/PasswordGate.h"

#include "access/Secure.h"

namespace kv {

namespace {

// The process-wide prompt-open flag; every prompt runs on the GUI thread.
bool promptOpen = false;

class TPromptOpenScope {
public:
    TPromptOpenScope() { promptOpen = true; }
    ~TPromptOpenScope() { promptOpen = false; }
    TPromptOpenScope(const TPromptOpenScope&) = delete;
    TPromptOpenScope& operator=(const TPromptOpenScope&) = delete;
};

}  // namespace

bool GatePassed(GateResult result, GateCaller /*caller*/) {
    // While another prompt is open nobody has typed the password for this
    // caller: tray Stop and Exit, like everything else, are refused.
    return result == GateResult::Passed;
}

GateResult TPasswordGate::Run(const TEncriptor& store, IPrompts& prompts,
                              const SecurFormFactory& makeForm) {
    TWipedString stored(store.ReadString("Password", ""));
    if (stored.str().empty())
        return GateResult::Passed;
    if (promptOpen)
        return GateResult::AlreadyOpen;
    TPasswordDlg dlg(prompts, makeForm);
    dlg.SetPassword(stored.str());
    TPromptOpenScope open;
    return dlg.Execute() ? GateResult::Passed : GateResult::Refused;
}

bool TPasswordGate::PromptOpen() {
    return promptOpen;
}

}  // namespace kv
