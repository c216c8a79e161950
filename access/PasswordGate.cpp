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
                              const SecurFormFactory& makeForm, IPasswordService* service,
                              std::string* accepted) {
    if (accepted)
        WipeString(*accepted);
    TWipedString stored(store.ReadString("Password", ""));
    // Settings this program cannot read: the service knows whether a password
    // is set (no answer: nothing can be read or changed through it either).
    const bool askService = stored.str().empty() && service && !store.Readable() &&
                            service->PasswordSet().value_or(false);
    if (stored.str().empty() && !askService)
        return GateResult::Passed;
    if (promptOpen)
        return GateResult::AlreadyOpen;
    TPasswordDlg dlg(prompts, makeForm);
    if (askService)
        dlg.SetVerifier([service](const std::string& typed) { return service->Verify(typed); });
    else
        dlg.SetPassword(stored.str());
    TPromptOpenScope open;
    if (!dlg.Execute())
        return GateResult::Refused;
    if (accepted)
        *accepted = dlg.Accepted();
    return GateResult::Passed;
}

bool TPasswordGate::PromptOpen() {
    return promptOpen;
}

}  // namespace kv
