#pragma once

#include <functional>
#include <memory>
#include <string>

#include "access/Passun.h"
#include "platform/Prompts.h"
#include "principals/ModifiedFlag.h"
#include "settings/Encript.h"

namespace kv {

inline constexpr char kPasFrmCaption[] = "Administrator's Password";
inline constexpr char kConfirmAgainText[] = "Please confirm the password again !";
/// "Administrator", a grave accent (code 96) and "s Password".
inline constexpr char kConfirmAgainTitle[] = "Administrator\x60s Password";

/// What the administrator password logic needs of its form. The program's form
/// is TPasFrm (access/forms); tests use a scripted stand-in.
class IPasForm {
public:
    virtual ~IPasForm() = default;
    /// Shows the form modally; returns when it has closed, with its result.
    virtual ModalResult ShowModal() = 0;
    virtual void Close(ModalResult result) = 0;
    virtual void SetPasswordText(const std::string& text) = 0;
    virtual std::string PasswordText() const = 0;
    virtual std::string ConfirmText() const = 0;
    /// Empties `Confirm` and gives it the focus.
    virtual void ClearConfirm() = 0;
    /// Shows "*" for each character of both fields, or their text.
    virtual void SetMasked(bool masked) = 0;
    /// Empties both fields, leaving no copy of their text in the form.
    virtual void WipeFields() = 0;
};

/// The handlers of TPasFrm.
class TPasFrmLogic {
public:
    explicit TPasFrmLogic(IPrompts& prompts) : prompts_(prompts) {}
    void SetForm(IPasForm* form) { form_ = form; }

    /// OK: closes with Ok when both fields hold the same text, else asks to
    /// confirm again and empties `Confirm`.
    void Button1Click();
    /// Cancel.
    void Button2Click();
    /// Escape closes with Cancel; Enter is OK. True when the key was used.
    bool FormKeyDown(int key);
    /// The mask box: checked masks both fields, unchecked shows their text.
    void CheckBox1Click(bool checked);

private:
    IPasForm* form_ = nullptr;
    IPrompts& prompts_;
};

/// Makes the administrator password form; the form forwards its events to `logic`.
using PasFormFactory = std::function<std::unique_ptr<IPasForm>(TPasFrmLogic& logic)>;

/// The command `cmdPassword`: shows the form with the stored password in the
/// first field; on OK writes "Password" (not flushed) and sets `modified`.
/// Returns true when a password was written.
bool cmdPasswordExecute(TEncriptor& store, TModifiedFlag& modified, IPrompts& prompts,
                        const PasFormFactory& makeForm);

}  // namespace kv
