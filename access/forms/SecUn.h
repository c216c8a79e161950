#pragma once

#include <QDialog>

#include "access/Passun.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class QFrame;

namespace kv {

/// The borderless password form: `Edit1` masked, OK (`SpeedButton1`) and
/// Cancel (`Button1`); Escape and Enter work from any control (key preview).
/// Every decision is taken by TSecurLogic; this class only shows and collects.
class TSecurFrm : public QDialog, public ISecurForm {
    Q_OBJECT
public:
    TSecurFrm(TSecurLogic& logic, QWidget* parent = nullptr);
    ~TSecurFrm() override;

    ModalResult ShowModal() override;
    void Close(ModalResult result) override;
    std::string EditText() const override;
    void ClearEdit() override;
    void FocusEdit() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    bool KeyPreview(QKeyEvent* event);

    TSecurLogic& logic_;
    QFrame* panel1_;
    QLabel* label1_;
    QPushButton* button1_;
    QToolButton* speedButton1_;
    QLineEdit* edit1_;
    bool activated_ = false;
    ModalResult result_ = ModalResult::None;
};

}  // namespace kv
