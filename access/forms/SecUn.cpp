#include "access/forms/SecUn.h"

#include <QCloseEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>
#include <cstdio>

#include "access/forms/FormSupport.h"

namespace kv {

TSecurFrm::TSecurFrm(TSecurLogic& logic, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), logic_(logic) {
    setObjectName("SecurFrm");
    setWindowTitle(kSecurFrmCaption);
    setFixedSize(176, 97);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::blue);
    setPalette(pal);

    panel1_ = new QFrame(this);
    panel1_->setObjectName("Panel1");
    panel1_->setFrameShape(QFrame::Panel);
    panel1_->setFrameShadow(QFrame::Raised);
    panel1_->setLineWidth(1);
    panel1_->setAutoFillBackground(true);
    QPalette panelPal = panel1_->palette();
    panelPal.setColor(QPalette::Window, QPalette().color(QPalette::Window));
    panel1_->setPalette(panelPal);
    panel1_->setGeometry(4, 4, 168, 89);

    label1_ = new QLabel("Enter Password :", panel1_);
    label1_->setObjectName("Label1");
    QFont font = label1_->font();
    font.setPixelSize(16);
    label1_->setFont(font);
    label1_->setGeometry(8, 6, 152, 20);

    edit1_ = new QLineEdit(this);
    edit1_->setObjectName("Edit1");
    edit1_->setEchoMode(QLineEdit::Password);
    MaskWithAsterisks(edit1_);
    edit1_->setGeometry(12, 32, 152, 22);

    speedButton1_ = new QToolButton(panel1_);
    speedButton1_->setObjectName("SpeedButton1");
    speedButton1_->setText("OK");
    speedButton1_->setAutoRaise(true);
    speedButton1_->setFocusPolicy(Qt::NoFocus);
    speedButton1_->setGeometry(8, 58, 72, 24);

    button1_ = new QPushButton("Cancel", panel1_);
    button1_->setObjectName("Button1");
    button1_->setAutoDefault(false);
    button1_->setDefault(false);
    button1_->setGeometry(88, 58, 72, 24);

    edit1_->raise();
    setTabOrder(edit1_, button1_);

    connect(speedButton1_, &QToolButton::clicked, this, [this] { logic_.SpeedButton1Click(); });
    connect(button1_, &QPushButton::clicked, this, [this] { logic_.Button1Click(); });
    InstallKeyPreview(this);
}

TSecurFrm::~TSecurFrm() {
    edit1_->clear();
}

ModalResult TSecurFrm::ShowModal() {
    result_ = ModalResult::None;
    if (NonInteractive()) {
        // No one can type the password in a scripted run: refused at once.
        std::fprintf(stderr, "[%s] %s refused: no one can answer in a scripted run\n",
                     kSecurFrmCaption, "Enter Password :");
        result_ = ModalResult::Cancel;
        return result_;
    }
    activated_ = false;
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
    exec();
    return result_ == ModalResult::Ok ? ModalResult::Ok : ModalResult::Cancel;
}

void TSecurFrm::Close(ModalResult result) {
    result_ = result;
    done(result == ModalResult::Ok ? QDialog::Accepted : QDialog::Rejected);
}

std::string TSecurFrm::EditText() const {
    return FieldText(edit1_->text());
}

// QLineEdit::clear() also drops the field's undo history.
void TSecurFrm::ClearEdit() {
    edit1_->clear();
}

void TSecurFrm::FocusEdit() {
    edit1_->setFocus(Qt::OtherFocusReason);
}

bool TSecurFrm::KeyPreview(QKeyEvent* event) {
    const int key = FormKeyCode(*event);
    return key != 0 && logic_.FormKeyDown(key);
}

bool TSecurFrm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && KeyPreview(static_cast<QKeyEvent*>(event)))
        return true;
    return QDialog::eventFilter(watched, event);
}

void TSecurFrm::keyPressEvent(QKeyEvent* event) {
    if (!KeyPreview(event))
        QDialog::keyPressEvent(event);
}

void TSecurFrm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!activated_) {
        // Activation on opening only: a message box closing over the form must
        // not reset the count of wrong entries.
        activated_ = true;
        activateWindow();
        logic_.FormActivate();
    }
}

void TSecurFrm::closeEvent(QCloseEvent* event) {
    if (logic_.FormCloseQuery())
        QDialog::closeEvent(event);
    else
        event->ignore();
}

void TSecurFrm::reject() {
    if (result_ == ModalResult::None)
        result_ = ModalResult::Cancel;
    QDialog::reject();
}

}  // namespace kv
