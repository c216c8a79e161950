#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "access/AdminPassword.h"
#include "access/Passun.h"

namespace kv::test {

/// Records every message box with its icon; answers OK.
class RecordingPrompts : public IPrompts {
public:
    struct Shown {
        std::string text;
        std::string title;
        Buttons buttons;
        MessageIcon icon;
    };
    Answer Message(const std::string& text, const std::string& title, Buttons buttons,
                   MessageIcon icon) override {
        shown.push_back({text, title, buttons, icon});
        if (onMessage)
            onMessage();
        return Answer::Ok;
    }
    std::vector<Shown> shown;
    std::function<void()> onMessage;
};

/// The password form driven by a script: ShowModal activates the form and then
/// plays the steps until one of them closes it.
class ScriptedSecurForm : public ISecurForm {
public:
    using Step = std::function<void(ScriptedSecurForm& form, TSecurLogic& logic)>;

    ScriptedSecurForm(TSecurLogic& logic, std::vector<Step> steps)
        : logic_(logic), steps_(std::move(steps)) {}

    ModalResult ShowModal() override {
        result_ = ModalResult::None;
        logic_.FormActivate();
        for (Step& step : steps_) {
            step(*this, logic_);
            ++stepsPlayed;
            if (result_ != ModalResult::None)
                return result_;
        }
        ADD_FAILURE() << "the script ended with the prompt still open";
        return ModalResult::Cancel;
    }
    void Close(ModalResult result) override { result_ = result; }
    std::string EditText() const override { return edit; }
    void ClearEdit() override { edit.clear(); }
    void FocusEdit() override { editFocused = true; }

    std::string edit;
    bool editFocused = false;
    int stepsPlayed = 0;

private:
    TSecurLogic& logic_;
    std::vector<Step> steps_;
    ModalResult result_ = ModalResult::None;
};

/// Steps of a prompt script.
inline ScriptedSecurForm::Step Type(std::string text) {
    return [text](ScriptedSecurForm& f, TSecurLogic&) { f.edit = text; };
}
inline ScriptedSecurForm::Step PressOk() {
    return [](ScriptedSecurForm&, TSecurLogic& l) { l.SpeedButton1Click(); };
}
inline ScriptedSecurForm::Step PressKey(int key) {
    return [key](ScriptedSecurForm&, TSecurLogic& l) { EXPECT_TRUE(l.FormKeyDown(key)); };
}
inline ScriptedSecurForm::Step PressCancel() {
    return [](ScriptedSecurForm&, TSecurLogic& l) { l.Button1Click(); };
}
/// Types `text` and presses OK.
inline std::vector<ScriptedSecurForm::Step> Entry(const std::string& text) {
    return {Type(text), PressOk()};
}

/// A factory of scripted prompts that counts the forms it made and keeps the last.
class SecurFormMaker {
public:
    explicit SecurFormMaker(std::vector<ScriptedSecurForm::Step> steps)
        : steps_(std::move(steps)) {}
    SecurFormFactory Factory() {
        return [this](TSecurLogic& logic) {
            ++made;
            auto form = std::make_unique<ScriptedSecurForm>(logic, steps_);
            last = form.get();
            return form;
        };
    }
    int made = 0;
    ScriptedSecurForm* last = nullptr;

private:
    std::vector<ScriptedSecurForm::Step> steps_;
};

/// The administrator password form driven by a script.
class ScriptedPasForm : public IPasForm {
public:
    using Step = std::function<void(ScriptedPasForm& form, TPasFrmLogic& logic)>;

    ScriptedPasForm(TPasFrmLogic& logic, std::vector<Step> steps)
        : logic_(logic), steps_(std::move(steps)) {}

    ModalResult ShowModal() override {
        for (Step& step : steps_) {
            step(*this, logic_);
            if (result_ != ModalResult::None)
                return result_;
        }
        ADD_FAILURE() << "the script ended with the form still open";
        return ModalResult::Cancel;
    }
    void Close(ModalResult result) override { result_ = result; }
    void SetPasswordText(const std::string& text) override { password = text; }
    std::string PasswordText() const override { return password; }
    std::string ConfirmText() const override { return confirm; }
    void ClearConfirm() override {
        confirm.clear();
        confirmFocused = true;
    }
    void SetMasked(bool value) override { masked = value; }
    void WipeFields() override {
        password.clear();
        confirm.clear();
        if (onWipe)
            onWipe();
    }

    std::string password;
    std::string confirm;
    bool masked = true;
    bool confirmFocused = false;
    std::function<void()> onWipe;

private:
    TPasFrmLogic& logic_;
    std::vector<Step> steps_;
    ModalResult result_ = ModalResult::None;
};

}  // namespace kv::test
