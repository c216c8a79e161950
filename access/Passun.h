#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Prompts.h"

namespace kv {

/// How a modal form was closed.
enum class ModalResult { None, Ok, Cancel };

/// Key codes the password forms react to in their key preview.
inline constexpr int kKeyEscape = 27;
inline constexpr int kKeyEnter = 13;

inline constexpr char kPasswordWrongText[] = "The Password is wrong !";
inline constexpr char kPasswordWrongTitle[] = "Error";
inline constexpr char kSecurFrmCaption[] = "Password";

/// What the prompt logic needs of the borderless password form. The program's
/// form is TSecurFrm (access/forms); tests use a scripted stand-in.
class ISecurForm {
public:
    virtual ~ISecurForm() = default;
    /// Shows the form modally; returns when it has closed, with its result.
    virtual ModalResult ShowModal() = 0;
    /// Ends the modal loop with `result`.
    virtual void Close(ModalResult result) = 0;
    /// The text of the field `Edit1`.
    virtual std::string EditText() const = 0;
    /// Empties `Edit1`, leaving no copy of its text in the form.
    virtual void ClearEdit() = 0;
    virtual void FocusEdit() = 0;
};

/// The prompt state and the handlers of TSecurFrm: the expected password, the
/// attempt limit and the count of wrong entries while one prompt is shown.
class TSecurLogic {
public:
    explicit TSecurLogic(IPrompts& prompts) : prompts_(prompts) {}
    TSecurLogic(const TSecurLogic&) = delete;
    TSecurLogic& operator=(const TSecurLogic&) = delete;
    ~TSecurLogic();

    /// The form whose events this logic handles; set before the form is shown.
    void SetForm(ISecurForm* form) { form_ = form; }

    /// Decides whether a typed text is the password, instead of comparing it
    /// with the expected one (a program that cannot read the settings asks
    /// the interceptor service).
    using Verifier = std::function<bool(const std::string& typed)>;
    /// Copies the expected password and the attempt limit when the prompt opens.
    void Open(std::string_view password, int attemptCount, Verifier verifier = {});
    /// The text that was found right, while the prompt's logic lives.
    const std::string& Accepted() const { return accepted_; }

    /// The form became active on opening: no wrong entries yet; focus `Edit1`.
    void FormActivate();
    /// OK: closes with Ok on the right text, else reports it, counts it, closes
    /// with Cancel when the count reaches the limit, and empties `Edit1`.
    void SpeedButton1Click();
    /// Escape closes with Cancel; Enter is OK. True when the key was used.
    bool FormKeyDown(int key);
    /// Cancel.
    void Button1Click();
    /// The form may always close.
    bool FormCloseQuery() const { return true; }

    int WrongCount() const { return wrongCount_; }
    int AttemptLimit() const { return attemptLimit_; }

private:
    ISecurForm* form_ = nullptr;
    IPrompts& prompts_;
    std::string expected_;
    Verifier verifier_;
    std::string accepted_;
    int attemptLimit_ = 3;
    int wrongCount_ = 0;
};

/// Makes the password form for one prompt; the form forwards its events to `logic`.
using SecurFormFactory = std::function<std::unique_ptr<ISecurForm>(TSecurLogic& logic)>;

/// The non-visual password prompt: shows the form modally and tells whether the
/// right password was typed.
class TPasswordDlg {
public:
    TPasswordDlg(IPrompts& prompts, SecurFormFactory makeForm);
    TPasswordDlg(const TPasswordDlg&) = delete;
    TPasswordDlg& operator=(const TPasswordDlg&) = delete;
    /// Frees the form and wipes the expected password.
    ~TPasswordDlg();

    const std::string& Password() const { return password_; }
    void SetPassword(std::string_view value);
    /// When set, decides instead of `Password` whether a typed text is right.
    void SetVerifier(TSecurLogic::Verifier verifier) { verifier_ = std::move(verifier); }
    /// The text found right by the last prompt; empty when none was.
    const std::string& Accepted() const { return accepted_; }
    int AttemptCount() const { return attemptCount_; }
    void SetAttemptCount(int value);

    /// Raised after the prompt has closed when the text left in the field
    /// equals `Password`: also when the prompt was closed by Escape or Cancel,
    /// and when the form failed (before the failure goes on to the caller).
    std::function<void(TPasswordDlg& sender)> OnTruePassword;

    /// Shows the prompt; true when it was closed with the right password.
    /// The typed text is wiped from the form before this returns.
    bool Execute();

    /// The form of the last prompt, or null.
    ISecurForm* SecurFrm() const { return securFrm_.get(); }

private:
    IPrompts& prompts_;
    SecurFormFactory makeForm_;
    std::string password_;
    TSecurLogic::Verifier verifier_;
    std::string accepted_;
    int attemptCount_ = 3;
    // The logic outlives the form, which refers to it.
    std::unique_ptr<TSecurLogic> logic_;
    std::unique_ptr<ISecurForm> securFrm_;
};

}  // namespace kv
