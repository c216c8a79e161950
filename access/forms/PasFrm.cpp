#include "access/forms/PasFrm.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "access/forms/FormSupport.h"

namespace kv {

TPasFrm::TPasFrm(TPasFrmLogic& logic, QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint), logic_(logic) {
    setObjectName("PasFrm");
    setWindowTitle(kPasFrmCaption);
    setFixedSize(250, 156);

    label1_ = new QLabel("Set the Administrator's Password  :", this);
    label1_->setObjectName("Label1");
    label1_->setGeometry(12, 8, 226, 16);
    password_ = MakeField("Password", 26);

    label2_ = new QLabel("Confirm the password :", this);
    label2_->setObjectName("Label2");
    label2_->setGeometry(12, 54, 226, 16);
    confirm_ = MakeField("Confirm", 72);

    button1_ = new QPushButton("OK", this);
    button1_->setObjectName("Button1");
    button1_->setGeometry(40, 102, 75, 25);
    button2_ = new QPushButton("Cancel", this);
    button2_->setObjectName("Button2");
    button2_->setGeometry(135, 102, 75, 25);
    for (QPushButton* b : {button1_, button2_}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }

    checkBox1_ = new QCheckBox("Use a char mask to show password", this);
    checkBox1_->setObjectName("CheckBox1");
    checkBox1_->setChecked(true);
    checkBox1_->setGeometry(8, 132, 240, 18);

    setTabOrder(password_, confirm_);
    setTabOrder(confirm_, button1_);
    setTabOrder(button1_, button2_);
    setTabOrder(button2_, checkBox1_);

    connect(button1_, &QPushButton::clicked, this, [this] { logic_.Button1Click(); });
    connect(button2_, &QPushButton::clicked, this, [this] { logic_.Button2Click(); });
    connect(checkBox1_, &QCheckBox::clicked, this,
            [this](bool checked) { logic_.CheckBox1Click(checked); });
    InstallKeyPreview(this);
}

TPasFrm::~TPasFrm() {
    WipeFields();
}

QLineEdit* TPasFrm::MakeField(const char* name, int y) {
    auto* field = new QLineEdit(this);
    field->setObjectName(name);
    field->setEchoMode(QLineEdit::Password);
    MaskWithAsterisks(field);
    field->setGeometry(12, y, 226, 22);
    // Every letter typed becomes upper case; text put in by the program is kept.
    connect(field, &QLineEdit::textEdited, this, [field](const QString& text) {
        const QString upper = text.toUpper();
        if (upper == text)
            return;
        const int cursor = field->cursorPosition();
        field->setText(upper);
        field->setCursorPosition(std::min(cursor, static_cast<int>(upper.size())));
    });
    return field;
}

ModalResult TPasFrm::ShowModal() {
    result_ = ModalResult::None;
    password_->setFocus(Qt::OtherFocusReason);
    exec();
    return result_ == ModalResult::Ok ? ModalResult::Ok : ModalResult::Cancel;
}

void TPasFrm::Close(ModalResult result) {
    result_ = result;
    done(result == ModalResult::Ok ? QDialog::Accepted : QDialog::Rejected);
}

void TPasFrm::SetPasswordText(const std::string& text) {
    password_->setText(QString::fromStdString(text));
}

std::string TPasFrm::PasswordText() const {
    return FieldText(password_->text());
}

std::string TPasFrm::ConfirmText() const {
    return FieldText(confirm_->text());
}

void TPasFrm::ClearConfirm() {
    confirm_->clear();
    confirm_->setFocus(Qt::OtherFocusReason);
}

void TPasFrm::SetMasked(bool masked) {
    const auto mode = masked ? QLineEdit::Password : QLineEdit::Normal;
    password_->setEchoMode(mode);
    confirm_->setEchoMode(mode);
}

// QLineEdit::clear() also drops the field's undo history.
void TPasFrm::WipeFields() {
    password_->clear();
    confirm_->clear();
}

bool TPasFrm::KeyPreview(QKeyEvent* event) {
    const int key = FormKeyCode(*event);
    return key != 0 && logic_.FormKeyDown(key);
}

bool TPasFrm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && KeyPreview(static_cast<QKeyEvent*>(event)))
        return true;
    return QDialog::eventFilter(watched, event);
}

void TPasFrm::keyPressEvent(QKeyEvent* event) {
    if (!KeyPreview(event))
        QDialog::keyPressEvent(event);
}

void TPasFrm::reject() {
    if (result_ == ModalResult::None)
        result_ = ModalResult::Cancel;
    QDialog::reject();
}

}  // namespace kv
