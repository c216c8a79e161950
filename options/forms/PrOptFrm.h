#pragma once

#include <QDialog>

#include "options/ProgramOptions.h"

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;

namespace kv {

class THotKeyField;

/// The program options form: the administrator's password (masked while
/// `CheckBox1` is checked), the two hardening boxes, automatic protection
/// (`Auto`) with the tray option (`Mini`) and the hot key field `HotKey1`, in
/// five framed panels; OK (`OKButton`) and Cancel (`CNCLButton`). Escape and
/// Enter act only when the form itself receives them (no key preview). Every
/// decision is taken by TPrOptFrmLogic; this class only shows and collects.
class TPrOptFrm : public QDialog, public IPrOptForm {
    Q_OBJECT
public:
    TPrOptFrm(TPrOptFrmLogic& logic, QWidget* parent = nullptr);
    ~TPrOptFrm() override;

    ModalResult ShowModal() override;
    void Close(ModalResult result) override;
    void SetPasswordText(const std::string& text) override;
    std::string PasswordText() const override;
    std::string ConfirmText() const override;
    void ClearConfirm() override;
    void SetMasked(bool masked) override;
    bool Checked(PrOptBox box) const override;
    void SetChecked(PrOptBox box, bool checked) override;
    void SetMiniEnabled(bool enabled) override;
    std::uint16_t HotKey() const override;
    void SetHotKey(std::uint16_t code) override;
    void WipeFields() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void reject() override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QFrame* MakePanel(const char* name, int y, int height);
    QLineEdit* MakePasswordField(QWidget* panel, const char* name, int y);
    QCheckBox* Box(PrOptBox box) const;

    TPrOptFrmLogic& logic_;
    QWidget* body_;  ///< the panels, scrolled where the screen is low
    QScrollArea* scroll_;
    QLineEdit* password_;
    QLineEdit* confirm_;
    QCheckBox* checkBox1_;
    QCheckBox* disableBoot_;
    QCheckBox* disableMsDos_;
    QCheckBox* auto_;
    QCheckBox* mini_;
    THotKeyField* hotKey1_;
    QPushButton* okButton_;
    QPushButton* cnclButton_;
    ModalResult result_ = ModalResult::None;
};

}  // namespace kv
