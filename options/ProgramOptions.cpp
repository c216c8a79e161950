#include "options/ProgramOptions.h"

#include <stdexcept>

#include "access/AdminPassword.h"
#include "access/Secure.h"
#include "options/HotKeyText.h"

namespace kv {

std::uint16_t ApplyHotKey(const TEncriptor& store,
                          const std::function<void(std::uint16_t)>& applyHotKey) {
    const std::uint16_t code = HotKeyFromText(store.ReadString("HotKey", kDefaultHotKeyText));
    applyHotKey(code);
    return code;
}

void TPrOptFrmLogic::Load() {
    {
        TWipedString password(store_.ReadString("Password", ""));
        form_->SetPasswordText(password.str());
    }
    form_->SetChecked(PrOptBox::Auto, hooks_.automaticProtection());
    form_->SetChecked(PrOptBox::Mini, store_.ReadBool("Minimize", true));
    form_->SetChecked(PrOptBox::DisableBOOT, store_.ReadBool("DisableBOOT", true));
    form_->SetChecked(PrOptBox::DisableMSDOS, store_.ReadBool("DisableMSDOS", true));
    form_->SetHotKey(HotKeyFromText(store_.ReadString("HotKey", kDefaultHotKeyText)));
    AutoClick();
    store_.WriteBool("FirstTime", false);
}

void TPrOptFrmLogic::OKButtonClick() {
    TWipedString password(form_->PasswordText());
    {
        TWipedString confirm(form_->ConfirmText());
        TWipedString stored(store_.ReadString("Password", ""));
        // The password shown and not touched needs no confirmation: OK keeps it.
        const bool untouched = password.str() == stored.str() && confirm.str().empty();
        // The same comparison as the password prompt's.
        if (!untouched && !PasswordsMatch(password.str(), confirm.str())) {
            prompts_.Message(kConfirmAgainText, kConfirmAgainTitle, Buttons::Ok, MessageIcon::None);
            form_->ClearConfirm();
            return;
        }
    }
    store_.WriteString("HotKey", HotKeyToText(form_->HotKey()));
    store_.WriteBool("Minimize", form_->Checked(PrOptBox::Mini));
    store_.WriteBool("DisableBOOT", form_->Checked(PrOptBox::DisableBOOT));
    store_.WriteBool("DisableMSDOS", form_->Checked(PrOptBox::DisableMSDOS));
    hooks_.applyBootKeysPolicy(form_->Checked(PrOptBox::DisableBOOT));
    hooks_.applyMsDosModePolicy(form_->Checked(PrOptBox::DisableMSDOS));
    hooks_.setAutomaticProtection(form_->Checked(PrOptBox::Auto));
    hooks_.applyAutostart(hooks_.automaticProtection());
    // An empty password removes the entry: no password is set.
    if (password.str().empty())
        store_.DeleteKey("Password");
    else
        store_.WriteString("Password", password.str());
    ApplyHotKey(store_, hooks_.applyHotKey);
    hooks_.saveKnownUsers();
    if (!store_.Flush(true)) {
        // Everything is kept in memory; Save or the close question can try again.
        modified_.Set();
        prompts_.Message(std::string(kOptionsNotSavedText) + ": " + store_.LastError(), kCmosTitle,
                         Buttons::Ok, MessageIcon::Error);
        return;
    }
    // Group edits are written by Save only: they keep the flag set.
    modified_.SettingsSaved();
    prompts_.Message(kCmosText, kCmosTitle, Buttons::Ok, MessageIcon::Warning);
    form_->Close(ModalResult::Ok);
}

void TPrOptFrmLogic::CNCLButtonClick() {
    form_->Close(ModalResult::Cancel);
}

void TPrOptFrmLogic::AutoClick() {
    form_->SetMiniEnabled(form_->Checked(PrOptBox::Auto));
}

void TPrOptFrmLogic::CheckBox1Click(bool checked) {
    form_->SetMasked(checked);
}

bool TPrOptFrmLogic::FormKeyDown(int key) {
    switch (key) {
        case kKeyEscape:
            form_->Close(ModalResult::Cancel);
            return true;
        case kKeyEnter:
            OKButtonClick();
            return true;
        default:
            return false;
    }
}

bool cmdPrOptExecute(TEncriptor& store, IPrompts& prompts, TModifiedFlag& modified,
                     ProgramOptionsHooks& hooks, const PrOptFormFactory& makeForm) {
    if (!hooks.automaticProtection || !hooks.setAutomaticProtection || !hooks.applyAutostart ||
        !hooks.applyHotKey || !hooks.saveKnownUsers || !hooks.applyBootKeysPolicy ||
        !hooks.applyMsDosModePolicy)
        throw std::invalid_argument("the program options need every hook of ProgramOptionsHooks");
    TPrOptFrmLogic logic(store, prompts, modified, hooks);
    std::unique_ptr<IPrOptForm> form = makeForm(logic);
    if (!form)
        throw std::runtime_error("the program options form could not be created");
    logic.SetForm(form.get());
    struct Wiper {
        IPrOptForm& form;
        ~Wiper() { form.WipeFields(); }
    } wiper{*form};
    logic.Load();
    return form->ShowModal() == ModalResult::Ok;
}

}  // namespace kv
