#include "access/AdminPassword.h"

#include <stdexcept>

#include "access/Secure.h"

namespace kv {

void TPasFrmLogic::Button1Click() {
    TWipedString password(form_->PasswordText());
    TWipedString confirm(form_->ConfirmText());
    if (password.str() == confirm.str()) {
        form_->Close(ModalResult::Ok);
        return;
    }
    prompts_.Message(kConfirmAgainText, kConfirmAgainTitle, Buttons::Ok, MessageIcon::None);
    form_->ClearConfirm();
}

void TPasFrmLogic::Button2Click() {
    form_->Close(ModalResult::Cancel);
}

bool TPasFrmLogic::FormKeyDown(int key) {
    switch (key) {
        case kKeyEscape:
            form_->Close(ModalResult::Cancel);
            return true;
        case kKeyEnter:
            Button1Click();
            return true;
        default:
            return false;
    }
}

void TPasFrmLogic::CheckBox1Click(bool checked) {
    form_->SetMasked(checked);
}

bool cmdPasswordExecute(TEncriptor& store, TModifiedFlag& modified, IPrompts& prompts,
                        const PasFormFactory& makeForm) {
    TPasFrmLogic logic(prompts);
    std::unique_ptr<IPasForm> form = makeForm(logic);
    if (!form)
        throw std::runtime_error("the administrator password form could not be created");
    logic.SetForm(form.get());
    struct Wiper {
        IPasForm& form;
        ~Wiper() { form.WipeFields(); }
    } wiper{*form};

    {
        TWipedString current(store.ReadString("Password", ""));
        form->SetPasswordText(current.str());
    }
    if (form->ShowModal() != ModalResult::Ok)
        return false;
    TWipedString chosen(form->PasswordText());
    store.WriteString("Password", chosen.str());
    modified.Set();
    return true;
}

}  // namespace kv
