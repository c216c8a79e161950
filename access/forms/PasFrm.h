#pragma once

#include <QDialog>

#include "access/AdminPassword.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kv {

/// The administrator password form: `Password` and `Confirm` turn every letter
/// typed to upper case and are masked while `CheckBox1` is checked; OK
/// (`Button1`), Cancel (`Button2`), Escape and Enter from any control.
/// Every decision is taken by TPasFrmLogic; this class only shows and collects.
class TPasFrm : public QDialog, public IPasForm {
    Q_OBJECT
public:
    TPasFrm(TPasFrmLogic& logic, QWidget* parent = nullptr);
    ~TPasFrm() override;

    ModalResult ShowModal() override;
    void Close(ModalResult result) override;
    void SetPasswordText(const std::string& text) override;
    std::string PasswordText() const override;
    std::string ConfirmText() const override;
    void ClearConfirm() override;
    void SetMasked(bool masked) override;
    void WipeFields() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void reject() override;

private:
    QLineEdit* MakeField(const char* name);
    bool KeyPreview(QKeyEvent* event);

    TPasFrmLogic& logic_;
    QLabel* label1_;
    QLabel* label2_;
    QLineEdit* password_;
    QLineEdit* confirm_;
    QPushButton* button1_;
    QPushButton* button2_;
    QCheckBox* checkBox1_;
    ModalResult result_ = ModalResult::None;
};

}  // namespace kv
