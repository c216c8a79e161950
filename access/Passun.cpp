#include "access/Passun.h"

#include <stdexcept>
#include <utility>

#include "access/Secure.h"

namespace kv {

TSecurLogic::~TSecurLogic() {
    WipeString(expected_);
    WipeString(accepted_);
}

void TSecurLogic::Open(std::string_view password, int attemptCount, Verifier verifier) {
    WipeString(expected_);
    WipeString(accepted_);
    expected_.assign(password);
    verifier_ = std::move(verifier);
    attemptLimit_ = attemptCount;
    wrongCount_ = 0;
}

void TSecurLogic::FormActivate() {
    wrongCount_ = 0;
    form_->FocusEdit();
}

void TSecurLogic::SpeedButton1Click() {
    TWipedString typed(form_->EditText());
    if (verifier_ ? verifier_(typed.str()) : PasswordsMatch(typed.str(), expected_)) {
        WipeString(accepted_);
        accepted_ = typed.str();
        form_->Close(ModalResult::Ok);
        return;
    }
    prompts_.Message(kPasswordWrongText, kPasswordWrongTitle, Buttons::Ok, MessageIcon::None);
    ++wrongCount_;
    if (wrongCount_ == attemptLimit_)
        form_->Close(ModalResult::Cancel);
    form_->ClearEdit();
}

bool TSecurLogic::FormKeyDown(int key) {
    switch (key) {
        case kKeyEscape:
            form_->Close(ModalResult::Cancel);
            return true;
        case kKeyEnter:
            SpeedButton1Click();
            return true;
        default:
            return false;
    }
}

void TSecurLogic::Button1Click() {
    form_->Close(ModalResult::Cancel);
}

TPasswordDlg::TPasswordDlg(IPrompts& prompts, SecurFormFactory makeForm)
    : prompts_(prompts), makeForm_(std::move(makeForm)) {
    if (!makeForm_)
        throw std::invalid_argument("TPasswordDlg needs a form factory");
}

TPasswordDlg::~TPasswordDlg() {
    if (securFrm_)
        securFrm_->ClearEdit();
    securFrm_.reset();
    logic_.reset();
    WipeString(password_);
    WipeString(accepted_);
}

void TPasswordDlg::SetPassword(std::string_view value) {
    if (value == password_)
        return;
    WipeString(password_);
    password_.assign(value);
}

void TPasswordDlg::SetAttemptCount(int value) {
    if (value != attemptCount_)
        attemptCount_ = value;
}

bool TPasswordDlg::Execute() {
    bool result = false;
    securFrm_.reset();
    logic_.reset();
    logic_ = std::make_unique<TSecurLogic>(prompts_);
    securFrm_ = makeForm_(*logic_);
    if (!securFrm_)
        throw std::runtime_error("the password form could not be created");
    logic_->SetForm(securFrm_.get());
    logic_->Open(password_, attemptCount_, verifier_);
    WipeString(accepted_);

    // Whether the form closed or failed, the text left in the field is read,
    // wiped, and reported when it is the password.
    auto finish = [this] {
        bool truePassword = false;
        {
            TWipedString left(securFrm_->EditText());
            // A verifier is asked once per try: the text left is right when
            // it is the one it accepted.
            truePassword = verifier_
                               ? !logic_->Accepted().empty() && left.str() == logic_->Accepted()
                               : PasswordsMatch(left.str(), password_);
        }
        securFrm_->ClearEdit();
        if (truePassword && OnTruePassword)
            OnTruePassword(*this);
    };
    ModalResult closed = ModalResult::Cancel;
    try {
        closed = securFrm_->ShowModal();
    } catch (...) {
        finish();
        throw;
    }
    result = closed == ModalResult::Ok;
    if (result)
        accepted_ = verifier_ ? logic_->Accepted() : password_;
    finish();
    return result;
}

}  // namespace kv
